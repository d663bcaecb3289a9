// tavik32.exe: the tray program's 32-bit helper. It loads tavikhook32.dll
// from its own folder and starts its hooks, so that tavik reaches 32-bit
// programs as well; it restarts them when the tray program's settings
// dialog restarts its own, and ends them, and itself, when told to or when
// the tray program has ended, however it ended. It has no window: it is
// started and ended by the tray program only.
//
// Hooks of the other bitness are run on this thread for 64-bit programs,
// so it keeps its message queue moving the whole time.
#include "common/exports.h"
#include "tray/helper.h"
// clang-format off
#include <windows.h>
// clang-format on

namespace {

using Export = void (*)();
using ReleaseExport = unsigned (*)(unsigned);

struct Hooks {
  HMODULE library = nullptr;
  Export start = nullptr;
  Export end = nullptr;
  ReleaseExport release = nullptr;  // absent from an older library
};

tavik::tray::HelperExit Load(Hooks& hooks) {
  char program[MAX_PATH] = {};
  char path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
  if (length == 0 || length >= sizeof program ||
      !tavik::tray::BesideProgram(path, sizeof path, program, tavik::tray::kHookLibrary32Name)) {
    return tavik::tray::kHelperNoLibrary;
  }
  hooks.library = LoadLibraryA(path);
  if (hooks.library == nullptr) return tavik::tray::kHelperNoLibrary;
  hooks.start = reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(hooks.library, "HookStart")));
  hooks.end = reinterpret_cast<Export>(reinterpret_cast<void*>(GetProcAddress(hooks.library, "HookEnd")));
  if (hooks.start == nullptr || hooks.end == nullptr) {
    FreeLibrary(hooks.library);
    return tavik::tray::kHelperNoExport;
  }
  hooks.release =
      reinterpret_cast<ReleaseExport>(reinterpret_cast<void*>(GetProcAddress(hooks.library, tavik::kReleaseExportName)));
  return tavik::tray::kHelperEnded;
}

int Stop(Hooks& hooks) {
  hooks.end();
  FreeLibrary(hooks.library);
  return tavik::tray::kHelperEnded;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  uintptr_t trayValue = 0;
  uintptr_t readyValue = 0;
  if (!tavik::tray::ParseHelperCommandLine(GetCommandLineA(), trayValue, readyValue)) {
    return tavik::tray::kHelperBadCommandLine;
  }
  auto tray = reinterpret_cast<HANDLE>(trayValue);
  auto ready = reinterpret_cast<HANDLE>(readyValue);

  // The thread's message queue exists before the tray program hears that
  // we are ready: from then on it may post to us.
  MSG msg{};
  PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);

  Hooks hooks;
  if (tavik::tray::HelperExit failed = Load(hooks); failed != tavik::tray::kHelperEnded) return failed;
  hooks.start();
  SetEvent(ready);

  for (;;) {
    DWORD woke = MsgWaitForMultipleObjects(1, &tray, FALSE, INFINITE, QS_ALLINPUT);
    // The tray program has ended without telling us (it was killed, or it
    // crashed): its hooks are gone, ours go too, and the key-ups they owe
    // are paid now, since no hook will be there to pay them.
    if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) {
      if (hooks.release != nullptr) hooks.release(tavik::kAllOwed | tavik::kEvenIfHeld);
      return Stop(hooks);
    }
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.hwnd == nullptr && msg.message == tavik::tray::WM_HELPER_RESTART) {
        hooks.end();
        hooks.start();
        SetEvent(ready);
      } else if ((msg.hwnd == nullptr && msg.message == tavik::tray::WM_HELPER_END) || msg.message == WM_QUIT) {
        return Stop(hooks);
      } else {
        DispatchMessageA(&msg);
      }
    }
  }
}
