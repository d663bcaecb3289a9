// testime.ime: an input method with one conversion. It lets every key
// through to the application but two while it holds a composition: Enter,
// which commits it (a Japanese IME's commit key), and henkan, which converts
// whatever was typed to 変換 and keeps the typed text for CPS_REVERT. It
// takes on the composition and candidate list that the end-to-end driver
// stages, and records what it is told to do (commit, revert, cancel,
// configure) and each conversion where the driver can read them.
#include <cstring>
#include <iterator>

#include "e2e/e2e_shared.h"
#include "e2e/immdev.h"

namespace {

using tavik::e2e::Shared;

constexpr WCHAR kUiClass[] = L"TavikTestImeUI";

HINSTANCE moduleInstance = nullptr;
HANDLE mapping = nullptr;
Shared* shared = nullptr;

Shared* Block() {
  if (shared == nullptr) {
    mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, tavik::e2e::kSharedName);
    if (mapping != nullptr) shared = static_cast<Shared*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  }
  return shared;
}

void Record(uint32_t kind, uint32_t a, uint32_t b, uint32_t c) {
  Shared* s = Block();
  if (s == nullptr || s->imeCallCount >= std::size(s->imeCalls)) return;
  s->imeCalls[s->imeCallCount] = tavik::e2e::ImeCall{kind, a, b, c};
  s->imeCallCount = s->imeCallCount + 1;
}

LRESULT CALLBACK UiWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  // No user interface: the composition shows in the application, if at all.
  if (msg >= WM_IME_STARTCOMPOSITION && msg <= WM_IME_KEYLAST) return 0;
  if (msg == WM_IME_NOTIFY || msg == WM_IME_SETCONTEXT || msg == WM_IME_SELECT) return 0;
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// A Unicode IME, as IMEs are today: IMM32 turns its UTF-16 strings into the
// code page 932 bytes (with one attribute per byte) that ANSI callers such
// as the hook library read.
constexpr UINT kCodePage = 932;

struct Text {
  WCHAR chars[512];
  BYTE attributes[512];
  DWORD length;
};

bool SameText(const Text& a, const Text& b) {
  return a.length == b.length && std::memcmp(a.chars, b.chars, a.length * sizeof(WCHAR)) == 0 &&
         std::memcmp(a.attributes, b.attributes, a.length) == 0;
}

// What henkan converts any composition to.
constexpr WCHAR kConverted[] = L"\u5909\u63DB";  // 変換

// Code page 932 bytes with one attribute per byte, as the driver stages
// them, into characters with one attribute each (that of their first byte).
Text FromBytes(const uint8_t* bytes, const uint8_t* attr, DWORD n) {
  Text t{};
  for (DWORD i = 0; i < n && t.length < std::size(t.chars);) {
    int width = IsDBCSLeadByteEx(kCodePage, bytes[i]) && i + 1 < n ? 2 : 1;
    if (MultiByteToWideChar(kCodePage, 0, reinterpret_cast<const char*>(bytes + i), width, t.chars + t.length, 1) !=
        1) {
      t.chars[t.length] = L'?';
    }
    t.attributes[t.length] = attr != nullptr ? attr[i] : ATTR_INPUT;
    ++t.length;
    i += static_cast<DWORD>(width);
  }
  return t;
}

// The composition block laid out as: header, string, attributes, result.
bool WriteComposition(LPINPUTCONTEXT ic, const Text& comp, const WCHAR* result, DWORD resultLength) {
  DWORD size = sizeof(COMPOSITIONSTRING) + comp.length * (sizeof(WCHAR) + 1) + resultLength * sizeof(WCHAR) + 8;
  HIMCC block = ic->hCompStr != nullptr ? ImmReSizeIMCC(ic->hCompStr, size) : ImmCreateIMCC(size);
  if (block == nullptr) return false;
  ic->hCompStr = block;
  auto* cs = static_cast<LPCOMPOSITIONSTRING>(ImmLockIMCC(block));
  if (cs == nullptr) return false;
  std::memset(cs, 0, size);
  cs->dwSize = size;
  auto* base = reinterpret_cast<uint8_t*>(cs);
  cs->dwCompStrOffset = sizeof(COMPOSITIONSTRING);
  cs->dwCompStrLen = comp.length;
  std::memcpy(base + cs->dwCompStrOffset, comp.chars, comp.length * sizeof(WCHAR));
  cs->dwResultStrOffset = cs->dwCompStrOffset + comp.length * sizeof(WCHAR);
  cs->dwResultStrLen = resultLength;
  if (resultLength != 0) std::memcpy(base + cs->dwResultStrOffset, result, resultLength * sizeof(WCHAR));
  cs->dwCompAttrOffset = cs->dwResultStrOffset + resultLength * sizeof(WCHAR);
  cs->dwCompAttrLen = comp.length;
  std::memcpy(base + cs->dwCompAttrOffset, comp.attributes, comp.length);
  cs->dwCursorPos = comp.length;
  ImmUnlockIMCC(block);
  return true;
}

void WriteCandidates(LPINPUTCONTEXT ic, int32_t count) {
  if (count < 0) {
    if (ic->hCandInfo != nullptr) {
      auto* info = static_cast<LPCANDIDATEINFO>(ImmLockIMCC(ic->hCandInfo));
      if (info != nullptr) info->dwCount = 0;
      ImmUnlockIMCC(ic->hCandInfo);
    }
    return;
  }
  // One list with `count` entries, each the string "c". Sizes in 64 bits:
  // from 2^30 entries on they would wrap in 32. A list over 64 MiB, which
  // the simulated desktop does not hold either, is no list at all.
  uint64_t header = offsetof(CANDIDATELIST, dwOffset) + 4 * static_cast<uint64_t>(count > 0 ? count : 1);
  uint64_t total = sizeof(CANDIDATEINFO) + header + 2 * sizeof(WCHAR) * static_cast<uint64_t>(count);
  if (total > (uint64_t{64} << 20)) {
    WriteCandidates(ic, -1);
    return;
  }
  DWORD listOffset = sizeof(CANDIDATEINFO);
  auto listHeader = static_cast<DWORD>(header);
  auto listSize = static_cast<DWORD>(total - listOffset);
  auto size = static_cast<DWORD>(total);
  HIMCC block = ic->hCandInfo != nullptr ? ImmReSizeIMCC(ic->hCandInfo, size) : ImmCreateIMCC(size);
  if (block == nullptr) return;
  ic->hCandInfo = block;
  auto* info = static_cast<LPCANDIDATEINFO>(ImmLockIMCC(block));
  if (info == nullptr) return;
  std::memset(info, 0, size);
  info->dwSize = size;
  info->dwCount = 1;
  info->dwOffset[0] = listOffset;
  auto* list = reinterpret_cast<LPCANDIDATELIST>(reinterpret_cast<uint8_t*>(info) + listOffset);
  list->dwSize = listSize;
  list->dwStyle = IME_CAND_READ;
  list->dwCount = static_cast<DWORD>(count);
  list->dwPageSize = static_cast<DWORD>(count);
  for (int32_t i = 0; i < count; ++i) {
    list->dwOffset[i] = listHeader + 2 * sizeof(WCHAR) * static_cast<DWORD>(i);
    *reinterpret_cast<WCHAR*>(reinterpret_cast<uint8_t*>(list) + list->dwOffset[i]) = L'c';
  }
  ImmUnlockIMCC(block);
}

// Queues messages for the application and hands them over.
void Send(HIMC himc, LPINPUTCONTEXT ic, const TRANSMSG* msgs, DWORD count) {
  HIMCC buffer = ic->hMsgBuf != nullptr ? ImmReSizeIMCC(ic->hMsgBuf, count * sizeof(TRANSMSG))
                                        : ImmCreateIMCC(count * sizeof(TRANSMSG));
  if (buffer == nullptr) return;
  ic->hMsgBuf = buffer;
  auto* out = static_cast<LPTRANSMSG>(ImmLockIMCC(buffer));
  if (out == nullptr) return;
  std::memcpy(out, msgs, count * sizeof(TRANSMSG));
  ImmUnlockIMCC(buffer);
  ic->dwNumMsgBuf = count;
  ImmGenerateMessage(himc);
}

// The reading: what was typed before henkan converted it, kept in the input
// context's private block (IMEINFO::dwPrivateDataSize) until the
// composition is reverted, committed, cancelled or staged afresh. Empty
// (length 0) while the composition is not a conversion.
Text* LockReading(LPINPUTCONTEXT ic) {
  if (ic->hPrivate == nullptr || ImmGetIMCCSize(ic->hPrivate) < sizeof(Text)) {
    HIMCC block = ic->hPrivate != nullptr ? ImmReSizeIMCC(ic->hPrivate, sizeof(Text)) : ImmCreateIMCC(sizeof(Text));
    if (block == nullptr) return nullptr;
    ic->hPrivate = block;
  }
  return static_cast<Text*>(ImmLockIMCC(ic->hPrivate));
}

void ForgetReading(LPINPUTCONTEXT ic) {
  if (Text* reading = LockReading(ic); reading != nullptr) {
    reading->length = 0;
    ImmUnlockIMCC(ic->hPrivate);
  }
}

Text ReadComposition(LPINPUTCONTEXT ic) {
  Text t{};
  if (ic->hCompStr == nullptr) return t;
  auto* cs = static_cast<LPCOMPOSITIONSTRING>(ImmLockIMCC(ic->hCompStr));
  if (cs == nullptr) return t;
  auto* base = reinterpret_cast<uint8_t*>(cs);
  t.length = cs->dwCompStrLen < std::size(t.chars) ? cs->dwCompStrLen : static_cast<DWORD>(std::size(t.chars));
  std::memcpy(t.chars, base + cs->dwCompStrOffset, t.length * sizeof(WCHAR));
  if (cs->dwCompAttrLen >= t.length) std::memcpy(t.attributes, base + cs->dwCompAttrOffset, t.length);
  ImmUnlockIMCC(ic->hCompStr);
  return t;
}

void Complete(HIMC himc, LPINPUTCONTEXT ic) {
  Text comp = ReadComposition(ic);
  if (comp.length == 0) return;
  if (Shared* s = Block(); s != nullptr) {
    char bytes[1024];
    int n = WideCharToMultiByte(kCodePage, 0, comp.chars, static_cast<int>(comp.length), bytes, sizeof bytes, nullptr,
                                nullptr);
    if (n > 0 && s->committedLength + static_cast<uint32_t>(n) <= sizeof s->committed) {
      std::memcpy(s->committed + s->committedLength, bytes, static_cast<size_t>(n));
      s->committedLength += static_cast<uint32_t>(n);
    }
  }
  WriteComposition(ic, Text{}, comp.chars, comp.length);
  ForgetReading(ic);
  const TRANSMSG msgs[] = {{WM_IME_COMPOSITION, 0, GCS_RESULTSTR}, {WM_IME_ENDCOMPOSITION, 0, 0}};
  Send(himc, ic, msgs, 2);
}

void Cancel(HIMC himc, LPINPUTCONTEXT ic) {
  if (ReadComposition(ic).length == 0) return;
  WriteComposition(ic, Text{}, nullptr, 0);
  ForgetReading(ic);
  const TRANSMSG msgs[] = {{WM_IME_COMPOSITION, 0, 0}, {WM_IME_ENDCOMPOSITION, 0, 0}};
  Send(himc, ic, msgs, 2);
}

// Back to what was typed, unconverted: the reading a conversion kept, or
// the composition itself with its attributes as input.
void Revert(HIMC himc, LPINPUTCONTEXT ic) {
  Text comp = ReadComposition(ic);
  Text reverted = comp;
  if (Text* reading = LockReading(ic); reading != nullptr) {
    if (reading->length != 0) reverted = *reading;
    reading->length = 0;
    ImmUnlockIMCC(ic->hPrivate);
  }
  std::memset(reverted.attributes, ATTR_INPUT, reverted.length);
  // A revert that changes nothing says nothing: a message hook that reverts
  // on every WM_IME_COMPOSITION would otherwise be answered forever.
  if (SameText(reverted, comp)) return;
  WriteComposition(ic, reverted, nullptr, 0);
  const TRANSMSG msgs[] = {{WM_IME_COMPOSITION, 0, GCS_COMPSTR | GCS_COMPATTR}};
  Send(himc, ic, msgs, 1);
}

// Henkan converts the composition. The news is posted to the focused
// window, to be retrieved from its queue like a keystroke, where a
// WH_GETMESSAGE hook sees it. IMM32 posts what ImeToAsciiEx returns in its
// message list too, but Wine 8 reads the messages from 4 bytes into the
// list, where a 64-bit TRANSMSGLIST has them at 8; and ImmGenerateMessage
// sends rather than posts.
void Convert(LPINPUTCONTEXT ic) {
  Text comp = ReadComposition(ic);
  if (comp.length == 0) return;
  Text* reading = LockReading(ic);
  if (reading == nullptr) return;
  // Converting again picks another candidate of the same reading.
  if (reading->length == 0) *reading = comp;
  DWORD readingLength = reading->length;
  ImmUnlockIMCC(ic->hPrivate);
  Text converted{};
  converted.length = static_cast<DWORD>(std::size(kConverted) - 1);
  std::memcpy(converted.chars, kConverted, converted.length * sizeof(WCHAR));
  std::memset(converted.attributes, ATTR_TARGET_CONVERTED, converted.length);
  WriteComposition(ic, converted, nullptr, 0);
  Record(tavik::e2e::kConvert, readingLength, converted.length, 0);
  HWND target = GetFocus();
  PostMessageW(target != nullptr ? target : ic->hWnd, WM_IME_COMPOSITION, 0, GCS_COMPSTR | GCS_COMPATTR);
}

void ApplyStaged(HIMC himc, LPINPUTCONTEXT ic) {
  Shared* s = Block();
  if (s == nullptr) return;
  DWORD n = s->stagedLength < sizeof s->stagedComposition ? s->stagedLength : sizeof s->stagedComposition;
  bool had = ReadComposition(ic).length != 0;
  WriteComposition(ic, FromBytes(s->stagedComposition, s->stagedAttributes, n), nullptr, 0);
  ForgetReading(ic);
  WriteCandidates(ic, s->stagedCandidates);
  if (n != 0) {
    TRANSMSG msgs[2] = {{WM_IME_STARTCOMPOSITION, 0, 0}, {WM_IME_COMPOSITION, 0, GCS_COMPSTR | GCS_COMPATTR}};
    if (had) {
      Send(himc, ic, msgs + 1, 1);
    } else {
      Send(himc, ic, msgs, 2);
    }
  } else if (had) {
    const TRANSMSG msgs[] = {{WM_IME_COMPOSITION, 0, 0}, {WM_IME_ENDCOMPOSITION, 0, 0}};
    Send(himc, ic, msgs, 2);
  }
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    moduleInstance = instance;
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_IME;
    wc.lpfnWndProc = UiWindowProc;
    wc.cbWndExtra = 2 * sizeof(LONG_PTR);
    wc.hInstance = instance;
    wc.lpszClassName = kUiClass;
    RegisterClassExW(&wc);
  } else if (reason == DLL_PROCESS_DETACH) {
    UnregisterClassW(kUiClass, moduleInstance);
    if (shared != nullptr) UnmapViewOfFile(shared);
    if (mapping != nullptr) CloseHandle(mapping);
  }
  return TRUE;
}

__declspec(dllexport) BOOL WINAPI ImeInquire(LPIMEINFO info, LPWSTR uiClass, DWORD) {
  std::memset(info, 0, sizeof *info);
  info->dwPrivateDataSize = sizeof(Text);  // the reading a conversion keeps
  info->fdwProperty = IME_PROP_AT_CARET | IME_PROP_SPECIAL_UI | IME_PROP_UNICODE;
  info->fdwConversionCaps = IME_CMODE_NATIVE | IME_CMODE_KATAKANA | IME_CMODE_FULLSHAPE | IME_CMODE_ROMAN;
  info->fdwSentenceCaps = IME_SMODE_PHRASEPREDICT;
  info->fdwSCSCaps = SCS_CAP_COMPSTR;
  info->fdwSelectCaps = SELECT_CAP_CONVERSION | SELECT_CAP_SENTENCE;
  lstrcpyW(uiClass, kUiClass);
  return TRUE;
}

__declspec(dllexport) BOOL WINAPI ImeConfigure(HKL, HWND, DWORD mode, LPVOID) {
  Record(tavik::e2e::kImeConfigure, mode, 0, 0);
  return TRUE;
}

__declspec(dllexport) DWORD WINAPI ImeConversionList(HIMC, LPCWSTR, LPCANDIDATELIST, DWORD, UINT) { return 0; }
__declspec(dllexport) BOOL WINAPI ImeDestroy(UINT) { return TRUE; }
__declspec(dllexport) UINT WINAPI ImeEnumRegisterWord(void*, LPCWSTR, DWORD, LPCWSTR, LPVOID) { return 0; }
__declspec(dllexport) UINT WINAPI ImeGetRegisterWordStyle(UINT, LPSTYLEBUFW) { return 0; }
__declspec(dllexport) BOOL WINAPI ImeRegisterWord(LPCWSTR, DWORD, LPCWSTR) { return FALSE; }
__declspec(dllexport) BOOL WINAPI ImeUnregisterWord(LPCWSTR, DWORD, LPCWSTR) { return FALSE; }
__declspec(dllexport) BOOL WINAPI ImeSetActiveContext(HIMC, BOOL) { return TRUE; }
__declspec(dllexport) BOOL WINAPI ImeSetCompositionString(HIMC, DWORD, LPVOID, DWORD, LPVOID, DWORD) {
  return FALSE;
}
// Every key goes to the application as it is, but an Enter or henkan
// key-down while the IME is open with a composition: those are the IME's.
// IMM32 then hands the application VK_PROCESSKEY in its place, and gives
// the key to ImeToAsciiEx from TranslateMessage. Their key-ups are not.
__declspec(dllexport) BOOL WINAPI ImeProcessKey(HIMC himc, UINT vk, LPARAM keyData, CONST LPBYTE) {
  bool key = (vk & 0xFF) == VK_RETURN || (vk & 0xFF) == VK_CONVERT;
  if (!key || (keyData & 0x80000000) != 0 || himc == nullptr) return FALSE;
  LPINPUTCONTEXT ic = ImmLockIMC(himc);
  if (ic == nullptr) return FALSE;
  BOOL mine = ic->fOpen && ReadComposition(ic).length != 0;
  ImmUnlockIMC(himc);
  return mine;
}

// Enter commits the composition exactly as CPS_COMPLETE does. The messages
// go out through the input context's own buffer, sent at once, rather than
// through the list IMM32 passes in, which it would post for later. Henkan
// converts it (and posts its message itself).
__declspec(dllexport) UINT WINAPI ImeToAsciiEx(UINT vk, UINT, CONST LPBYTE, LPDWORD, UINT, HIMC himc) {
  if (((vk & 0xFF) != VK_RETURN && (vk & 0xFF) != VK_CONVERT) || himc == nullptr) return 0;
  LPINPUTCONTEXT ic = ImmLockIMC(himc);
  if (ic == nullptr) return 0;
  if ((vk & 0xFF) == VK_RETURN) {
    Complete(himc, ic);
  } else {
    Convert(ic);
  }
  ImmUnlockIMC(himc);
  return 0;
}

__declspec(dllexport) BOOL WINAPI ImeSelect(HIMC himc, BOOL select) {
  Record(tavik::e2e::kImeSelect, select ? 1 : 0, 0, 0);
  if (!select || himc == nullptr) return TRUE;
  LPINPUTCONTEXT ic = ImmLockIMC(himc);
  if (ic == nullptr) return FALSE;
  WriteComposition(ic, Text{}, nullptr, 0);
  ForgetReading(ic);
  ImmUnlockIMC(himc);
  return TRUE;
}

__declspec(dllexport) LRESULT WINAPI ImeEscape(HIMC himc, UINT code, LPVOID) {
  if (code != tavik::e2e::kEscapeApplyStaged || himc == nullptr) return 0;
  LPINPUTCONTEXT ic = ImmLockIMC(himc);
  if (ic == nullptr) return 0;
  ApplyStaged(himc, ic);
  ImmUnlockIMC(himc);
  return 1;
}

__declspec(dllexport) BOOL WINAPI NotifyIME(HIMC himc, DWORD action, DWORD index, DWORD value) {
  Record(tavik::e2e::kNotifyIme, action, index, value);
  if (action != NI_COMPOSITIONSTR || himc == nullptr) return action == NI_CONTEXTUPDATED;
  LPINPUTCONTEXT ic = ImmLockIMC(himc);
  if (ic == nullptr) return FALSE;
  switch (index) {
    case CPS_COMPLETE:
      Complete(himc, ic);
      break;
    case CPS_CANCEL:
      Cancel(himc, ic);
      break;
    case CPS_REVERT:
      Revert(himc, ic);
      break;
    default:
      break;
  }
  ImmUnlockIMC(himc);
  return TRUE;
}

__declspec(dllexport) DWORD WINAPI ImeGetImeMenuItems(HIMC, DWORD, DWORD, LPVOID, LPVOID, DWORD) { return 0; }

}  // extern "C"
