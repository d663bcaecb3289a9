// e2e-target.exe: the application the end-to-end tests type into. A window
// with an edit control and the test IME, which records every keystroke
// message it receives and does what the driver asks of its input context.
// The driver also runs copies of it under other file names, for the hook
// library's tests of the host program's name.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "e2e/e2e_shared.h"
// clang-format off
#include <windows.h>
#include <imm.h>
// clang-format on

namespace {

using namespace tavik::e2e;

Shared* shared = nullptr;
HWND mainWindow = nullptr;
HWND editor = nullptr;
HWND plain = nullptr;  // an edit control with the IME switched off

void Snapshot() {
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
  shared->snapEditTextLength = GetWindowTextA(editor, reinterpret_cast<char*>(shared->snapEditText),
                                              sizeof shared->snapEditText);
  shared->snapCapsLock = (GetKeyState(VK_CAPITAL) & 1) != 0;
  shared->snapHookLoaded = GetModuleHandleA("tavikhook.dll") != nullptr;
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
      Snapshot();
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
    case kCmdConfigure:
      result = ImmConfigureIMEA(GetKeyboardLayout(0), editor, IME_CONFIG_GENERAL, nullptr);
      break;
    case kCmdLayout:
      result = SwitchLayout(static_cast<uint32_t>(wParam));
      Snapshot();
      break;
    default:
      result = 0;
  }
  ImmReleaseContext(editor, himc);
  return result;
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg >= kCmdSetOpen && msg <= kCmdSync) return Command(msg, wParam, lParam);
  if (msg == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

void Record(const MSG& m) {
  if (m.message != WM_KEYDOWN && m.message != WM_KEYUP && m.message != WM_SYSKEYDOWN && m.message != WM_SYSKEYUP) {
    return;
  }
  uint32_t n = shared->keyCount;
  if (n >= std::size(shared->keys)) return;
  auto l = static_cast<uint32_t>(m.lParam);
  shared->keys[n] = Keystroke{static_cast<uint32_t>(m.wParam), (l >> 16) & 0x1FF, (l >> 31) & 1, m.message,
                              static_cast<uint32_t>(GetCurrentProcessId())};
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
                               400, 200, nullptr, nullptr, instance, nullptr);
  editor = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 10, 360, 24, mainWindow, nullptr,
                           instance, nullptr);
  plain = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 50, 360, 24, mainWindow, nullptr,
                          instance, nullptr);
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
