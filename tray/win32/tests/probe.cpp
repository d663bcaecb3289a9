// tavik-probe.dll: hook procedures the behaviour tests put on tavik.exe's
// thread (WH_CALLWNDPROC and WH_CALLWNDPROCRET), so that they run inside
// tavik's process; see probe.h.
#include "tray/win32/tests/probe.h"
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

using tavik::behaviour::ProbeBlock;

namespace {

ProbeBlock* Block() {
  static ProbeBlock* block = [] {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, tavik::behaviour::kProbeBlockName);
    return mapping == nullptr ? nullptr
                              : static_cast<ProbeBlock*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  }();
  return block;
}

UINT ReadMenuMessage() {
  static UINT message = RegisterWindowMessageA(tavik::behaviour::kReadMenuMessage);
  return message;
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK ProbeCallWndProc(int code, WPARAM wParam, LPARAM lParam) {
  const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && call->message == ReadMenuMessage()) {
    if (ProbeBlock* block = Block()) {
      auto menu = reinterpret_cast<HMENU>(static_cast<uintptr_t>(block->menu));
      for (int i = 0; i < 3; ++i) block->states[i] = GetMenuState(menu, tavik::behaviour::kMenuIds[i], MF_BYCOMMAND);
      block->menuReads = block->menuReads + 1;
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

extern "C" __declspec(dllexport) LRESULT CALLBACK ProbeCallWndRetProc(int code, WPARAM wParam, LPARAM lParam) {
  const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
  ProbeBlock* block = code == HC_ACTION && call->message == WM_DESTROY ? Block() : nullptr;
  if (block != nullptr && reinterpret_cast<uintptr_t>(call->hwnd) == block->watchWindow) {
    // The window still exists here, so the shell still knows an icon of
    // its that nobody removed; Wine drops such icons itself only once the
    // window is gone.
    NOTIFYICONDATAW icon{};
    icon.cbSize = sizeof icon;
    icon.hWnd = call->hwnd;
    icon.uID = 0;
    icon.uFlags = NIF_TIP;
    lstrcpyW(icon.szTip, L"probe");
    block->iconAtDestroy = Shell_NotifyIconW(NIM_MODIFY, &icon) ? 1 : 0;
    block->libraryAtDestroy = GetModuleHandleA("tavikhook.dll") != nullptr ? 1 : 0;
    block->destroySeen = 1;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}
