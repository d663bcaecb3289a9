// e2e-target.exe: the application the end-to-end tests type into. A window
// with an edit control and the test IME, which records every keystroke
// message it receives and does what the driver asks of its input context.
// The driver also runs copies of it under other file names, for the hook
// library's tests of the host program's name.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "e2e/e2e_shared.h"
// clang-format off
#include <windows.h>
#include <imm.h>
// clang-format on

// IMM32 exports it (the system calls it for each key-down a window
// retrieves) without a declaration in <imm.h>.
extern "C" DWORD WINAPI ImmProcessKey(HWND, HKL, UINT, LPARAM, DWORD);

namespace {

using namespace tavik::e2e;

Shared* shared = nullptr;
HWND mainWindow = nullptr;
HWND editor = nullptr;
HWND plain = nullptr;  // an edit control with the IME switched off

WNDPROC editProc = nullptr;  // the EDIT class's own window procedure

// The edit control's text as the simulated desktop keeps an application's:
// code page 932 with "\n" for each "\r\n", and the caret in characters,
// a line break counting as one.
void ReadText(HWND edit) {
  int n = GetWindowTextLengthW(edit);
  std::wstring text(static_cast<size_t>(n) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(edit, text.data(), n + 1)));
  DWORD start = 0;
  DWORD end = 0;
  SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  std::wstring flat;
  uint32_t caret = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i < start) ++caret;
    if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
    flat += text[i];
  }
  int bytes = flat.empty() ? 0
                           : WideCharToMultiByte(932, 0, flat.data(), static_cast<int>(flat.size()),
                                                 reinterpret_cast<char*>(shared->snapEditText),
                                                 sizeof shared->snapEditText, nullptr, nullptr);
  shared->snapEditTextLength = bytes;
  shared->snapCaret = caret;
}

// The driver's text into the edit control, "\n" becoming "\r\n", with the
// caret at `caret` characters (or at the end).
void SetText(HWND edit, LPARAM caret) {
  uint32_t n = shared->stagedTextLength < sizeof shared->stagedText ? shared->stagedTextLength
                                                                      : static_cast<uint32_t>(sizeof shared->stagedText);
  std::wstring wide(n, L'\0');
  int chars = n == 0 ? 0
                     : MultiByteToWideChar(932, 0, reinterpret_cast<const char*>(shared->stagedText),
                                           static_cast<int>(n), wide.data(), static_cast<int>(n));
  wide.resize(static_cast<size_t>(chars > 0 ? chars : 0));
  std::wstring text;
  size_t at = 0;
  for (size_t i = 0; i < wide.size(); ++i) {
    if (static_cast<LPARAM>(i) == caret) at = text.size();
    text += wide[i] == L'\n' ? std::wstring(L"\r\n") : std::wstring(1, wide[i]);
  }
  if (caret < 0 || static_cast<size_t>(caret) >= wide.size()) at = text.size();
  SetWindowTextW(edit, text.c_str());
  SendMessageW(edit, EM_SETSEL, at, at);
}

// The IME's result string goes in at the caret, once: the composition is
// never shown in the text (the simulated desktop has no such thing), and
// nothing reaches the edit control's own IME handling, which would insert
// the result itself or have DefWindowProc turn it into WM_IME_CHAR and
// WM_CHAR messages.
void InsertResult(HWND edit) {
  HIMC himc = ImmGetContext(edit);
  LONG size = ImmGetCompositionStringW(himc, GCS_RESULTSTR, nullptr, 0);
  if (size > 0) {
    std::wstring result(static_cast<size_t>(size) / sizeof(WCHAR), L'\0');
    ImmGetCompositionStringW(himc, GCS_RESULTSTR, result.data(), static_cast<DWORD>(size));
    SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(result.c_str()));
  }
  ImmReleaseContext(edit, himc);
}

// The characters the simulated desktop's editor types, so that scenarios
// read the same text on both desktops: Space, Enter, Tab, Backspace,
// digits, and letters in lower case whatever Shift and CapsLock say; none
// while Ctrl or Alt is down, and no other character.
bool Typeable(WPARAM& c) {
  if (GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0) return false;
  if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
  return c == ' ' || c == '\r' || c == '\t' || c == '\b' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z');
}

LRESULT CALLBACK EditProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_IME_STARTCOMPOSITION:
    case WM_IME_ENDCOMPOSITION:
    case WM_IME_CHAR:
      return 0;
    case WM_IME_COMPOSITION:
      if (hwnd == editor) shared->editorCompositions = shared->editorCompositions + 1;
      if ((lParam & GCS_RESULTSTR) != 0) InsertResult(hwnd);
      return 0;
    case WM_CHAR:
      if (!Typeable(wParam)) return 0;
      break;
    default:
      break;
  }
  return CallWindowProcW(editProc, hwnd, msg, wParam, lParam);
}

void Snapshot(HWND textOf) {
  HIMC himc = ImmGetContext(editor);
  DWORD conversion = 0;
  DWORD sentence = 0;
  shared->snapOpen = ImmGetOpenStatus(himc) ? 1 : 0;
  ImmGetConversionStatus(himc, &conversion, &sentence);
  shared->snapConversion = conversion;
  shared->snapSentence = sentence;
  shared->snapCompositionLength =
      ImmGetCompositionStringA(himc, GCS_COMPSTR, shared->snapComposition, sizeof shared->snapComposition);
  shared->snapAttributesLength =
      ImmGetCompositionStringA(himc, GCS_COMPATTR, shared->snapAttributes, sizeof shared->snapAttributes);
  shared->snapCandidates = -1;
  DWORD size = ImmGetCandidateListA(himc, 0, nullptr, 0);
  if (size >= sizeof(CANDIDATELIST) && size < 65536) {
    static char block[65536];
    if (ImmGetCandidateListA(himc, 0, reinterpret_cast<CANDIDATELIST*>(block), size) != 0) {
      shared->snapCandidates = static_cast<int32_t>(reinterpret_cast<CANDIDATELIST*>(block)->dwCount);
    }
  }
  ImmReleaseContext(editor, himc);
  ReadText(textOf);
  shared->snapCapsLock = (GetKeyState(VK_CAPITAL) & 1) != 0;
  GetKeyboardState(shared->snapKeyboard);
  shared->snapHookLoaded =
      GetModuleHandleA("tavikhook.dll") != nullptr || GetModuleHandleA("tavikhook32.dll") != nullptr;
  shared->hookLoadedInTarget = shared->snapHookLoaded;
  shared->snapLayout = reinterpret_cast<uintptr_t>(GetKeyboardLayout(0));
  if (ImmGetIMEFileNameA(GetKeyboardLayout(0), shared->snapImeFile, sizeof shared->snapImeFile) == 0) {
    shared->snapImeFile[0] = '\0';
  }
  shared->snapImeFile[sizeof shared->snapImeFile - 1] = '\0';
  if (GetModuleFileNameA(nullptr, shared->snapHostFile, sizeof shared->snapHostFile) == 0) {
    shared->snapHostFile[0] = '\0';
  }
  shared->snapHostFile[sizeof shared->snapHostFile - 1] = '\0';
}

// Loads the layout and makes it this thread's, as a user switching IMEs
// does; the hook library asks GetKeyboardLayout(0) from this thread. Wine
// loads a layout other than the locale's only with KLF_ACTIVATE (without
// it, it hands back the locale's default), so the loading activates it
// already there.
bool SwitchLayout(uint32_t id) {
  char name[KL_NAMELENGTH];
  std::snprintf(name, sizeof name, "%08X", id);
  HKL layout = LoadKeyboardLayoutA(name, KLF_ACTIVATE);
  if (layout == nullptr) return false;
  ActivateKeyboardLayout(layout, 0);
  // Windows selects the new layout's IME into the thread's input contexts
  // as the layout is activated. Wine 8 does it only when the next key-down
  // reaches ImmProcessKey, and that selection (ImeSelect) starts the
  // context afresh: a composition the driver stages after the switch would
  // be gone by the time the key reached the IME. A key-down of no key
  // makes the selection happen now.
  ImmProcessKey(editor, layout, 0, 0, 0);
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(GetKeyboardLayout(0))) == id;
}

// What the hook library's stages do to the IME, done the same way: from a
// keyboard hook procedure in this thread, on the focused window's context.
LRESULT CALLBACK ProbeHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION && wParam == kProbeVk && (lParam & 0x80000000) == 0 && shared->probeArmed) {
    HWND focus = GetFocus();
    HIMC himc = ImmGetContext(focus);
    ImmSetOpenStatus(himc, shared->probeOpen != 0);
    ImmSetConversionStatus(himc, shared->probeConversion, shared->probeSentence);
    if (shared->probeConfigure) ImmConfigureIMEA(GetKeyboardLayout(0), focus, IME_CONFIG_GENERAL, nullptr);
    ImmReleaseContext(focus, himc);
    shared->probeArmed = 0;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Holds still until the driver has queued a burst of keystrokes, never for
// long: a driver that went away must not leave the target hanging.
void Hold() {
  static HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, kHeldEvent);
  static HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, kReleaseEvent);
  if (held == nullptr || release == nullptr) return;
  SetEvent(held);
  WaitForSingleObject(release, 10000);
}

LRESULT Command(UINT msg, WPARAM wParam, LPARAM lParam) {
  HIMC himc = ImmGetContext(editor);
  LRESULT result = 1;
  switch (msg) {
    case kCmdSetOpen:
      result = ImmSetOpenStatus(himc, wParam != 0);
      break;
    case kCmdSetMode:
      result = ImmSetConversionStatus(himc, static_cast<DWORD>(wParam), static_cast<DWORD>(lParam));
      break;
    case kCmdApplyStaged:
      result = ImmEscapeA(GetKeyboardLayout(0), himc, kEscapeApplyStaged, nullptr);
      break;
    case kCmdSnapshot:
      Snapshot(wParam == 2 ? plain : editor);
      break;
    case kCmdSetText:
      SetText(wParam == 2 ? plain : editor, lParam);
      break;
    case kCmdFocus:
      SetFocus(wParam == 1 ? editor : wParam == 2 ? plain : nullptr);
      break;
    case kCmdForeground:
      SetForegroundWindow(mainWindow);
      SetFocus(editor);
      break;
    case kCmdNotify:
      result = ImmNotifyIME(himc, NI_COMPOSITIONSTR, static_cast<DWORD>(wParam), 0);
      break;
    case kCmdSync:
      shared->syncSeq = static_cast<uint32_t>(wParam);
      break;
    case kCmdHold:
      Hold();
      break;
    case kCmdConfigure:
      result = ImmConfigureIMEA(GetKeyboardLayout(0), editor, IME_CONFIG_GENERAL, nullptr);
      break;
    case kCmdLayout:
      result = SwitchLayout(static_cast<uint32_t>(wParam));
      Snapshot(editor);
      break;
    default:
      result = 0;
  }
  ImmReleaseContext(editor, himc);
  return result;
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg >= kCmdSetOpen && msg <= kCmdHold) return Command(msg, wParam, lParam);
  if (msg == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

void Record(const MSG& m) {
  if (m.message == WM_IME_COMPOSITION) shared->queuedCompositions = shared->queuedCompositions + 1;
  if (m.message != WM_KEYDOWN && m.message != WM_KEYUP && m.message != WM_SYSKEYDOWN && m.message != WM_SYSKEYUP) {
    return;
  }
  uint32_t n = shared->keyCount;
  if (n >= std::size(shared->keys)) {
    shared->keysLost = shared->keysLost + 1;
    return;
  }
  auto l = static_cast<uint32_t>(m.lParam);
  // A key the IME takes arrives as VK_PROCESSKEY; the key itself is still
  // what was delivered (and what the simulated desktop records), and IMM32
  // keeps it until TranslateMessage hands it to the IME.
  auto vk = static_cast<uint32_t>(m.wParam);
  bool imeTook = vk == VK_PROCESSKEY;
  if (imeTook) vk = ImmGetVirtualKey(m.hwnd);
  shared->keys[n] = Keystroke{vk, (l >> 16) & 0x1FF, (l >> 31) & 1, m.message,
                              static_cast<uint32_t>(GetCurrentProcessId()), imeTook ? 1u : 0u};
  shared->keyCount = n + 1;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kSharedName);
  if (mapping == nullptr) return 2;
  shared = static_cast<Shared*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  if (shared == nullptr) return 2;

  // The test IME's keyboard layout, as the driver installed it.
  HKL layout = LoadKeyboardLayoutA(commandLine, KLF_ACTIVATE);
  char imeName[MAX_PATH] = {};
  shared->imeActive = layout != nullptr && ImmGetIMEFileNameA(GetKeyboardLayout(0), imeName, sizeof imeName) != 0 &&
                      std::strstr(_strupr(imeName), "TESTIME") != nullptr;

  // Unicode windows, as applications are today: the IME's result reaches
  // the edit control as characters, not as bytes.
  WNDCLASSW wc = {};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = L"TavikE2ETarget";
  RegisterClassW(&wc);
  mainWindow = CreateWindowExW(0, wc.lpszClassName, L"tavik e2e target", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                               400, 300, nullptr, nullptr, instance, nullptr);
  // Multi-line, as the simulated desktop's editor is, in a fixed-pitch font
  // so that Up and Down keep the column in characters (of ASCII text), and
  // scrolling sideways rather than wrapping, so that a line is what lies
  // between two line breaks.
  const DWORD style = WS_CHILD | WS_VISIBLE | WS_BORDER | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL |
                      ES_AUTOHSCROLL;
  editor = CreateWindowExW(0, L"EDIT", L"", style, 10, 10, 360, 110, mainWindow, nullptr, instance, nullptr);
  plain = CreateWindowExW(0, L"EDIT", L"", style, 10, 130, 360, 110, mainWindow, nullptr, instance, nullptr);
  for (HWND edit : {editor, plain}) {
    SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(ANSI_FIXED_FONT)), FALSE);
    editProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&EditProc)));
  }
  ImmAssociateContext(plain, nullptr);
  SetWindowsHookExW(WH_KEYBOARD, ProbeHook, nullptr, GetCurrentThreadId());
  SetForegroundWindow(mainWindow);
  SetFocus(editor);

  shared->targetProcessId = GetCurrentProcessId();
  shared->targetWindow = reinterpret_cast<uintptr_t>(mainWindow);
  shared->targetReady = 1;

  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) {
    Record(m);
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  UnmapViewOfFile(shared);
  CloseHandle(mapping);
  return 0;
}
