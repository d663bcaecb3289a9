// The tray program's life: one copy per program file, the hook library
// loaded, the settings made consistent, the hooks started; at the end the
// hooks stopped, the library freed and the icon gone.
#include <cstdio>
#include <cstring>

#include "tray/tray.h"

namespace tavik::tray {

bool TakeSingleInstance(TrayPlatform& p, const char* programName) {
  // Named after the program file, so that a copy under another name runs
  // beside it. The handle is never closed: it marks this copy as running
  // until the process ends.
  p.CreateMutexA(1, programName);
  return p.GetLastError() != w32::ERROR_ALREADY_EXISTS;
}

namespace {

// A library that loads but lacks an export is not ours (or is broken):
// say which export is missing rather than call through nothing.
bool Bind(TrayPlatform& p, TrayState& s, Hwnd window, const char* programName) {
  s.hookStart = p.GetProcAddress(s.hookLibrary, "HookStart");
  s.hookEnd = p.GetProcAddress(s.hookLibrary, "HookEnd");
  const char* missing = IsNull(s.hookStart) && IsNull(s.hookEnd) ? "HookStart, HookEnd"
                        : IsNull(s.hookStart)                    ? "HookStart"
                        : IsNull(s.hookEnd)                      ? "HookEnd"
                                                                 : nullptr;
  if (missing == nullptr) return true;

  char text[160];
  std::snprintf(text, sizeof text, "%sに%sがありません。", kHookLibraryName, missing);
  p.MessageBoxA(window, text, programName, w32::MB_OK | w32::MB_ICONEXCLAMATION);
  p.FreeLibrary(s.hookLibrary);
  s.hookLibrary = Hmodule{};
  s.hookStart = FarProc{};
  s.hookEnd = FarProc{};
  return false;
}

}  // namespace

bool StartHookLibrary(TrayPlatform& p, TrayState& s, Hwnd window, const char* programName) {
  s.hookLibrary = p.LoadLibraryA(kHookLibraryName);
  if (IsNull(s.hookLibrary)) {
    // Without the library there is nothing to do: the settings file is left
    // untouched and no icon appears.
    p.MessageBoxA(window, kLoadFailedText, programName, w32::MB_OK | w32::MB_ICONEXCLAMATION);
    return false;
  }

  s.version = OsVersion{};
  s.version.dwOSVersionInfoSize = 148;
  p.GetVersionExA(&s.version);

  LoadOrResetSettings(p, s.version, s.settings);
  s.settingsOpen = 0;
  s.aboutOpen = 0;

  if (!Bind(p, s, window, programName)) return false;
  // The hook library reads the settings file as the step above left it.
  p.CallExport(s.hookStart);
  return true;
}

void AddTrayIcon(TrayPlatform& p, TrayState& s, Hwnd window) {
  s.icon = NotifyIconData{};
  // The record's first version, which every shell takes; the Win32 layer
  // copies the fields into a real NOTIFYICONDATAA of that version's size.
  s.icon.cbSize = kNotifyIconDataV1Size;
  s.icon.hWnd = window;
  s.icon.uID = 0;
  s.icon.uFlags = w32::NIF_MESSAGE | w32::NIF_ICON | w32::NIF_TIP;
  s.icon.uCallbackMessage = WM_TRAYNOTIFY;
  s.icon.hIcon = p.LoadImageA(kIconResource, w32::IMAGE_ICON, 16, 16, w32::LR_DEFAULTCOLOR);
  std::strcpy(s.icon.szTip, "tavik");
  p.Shell_NotifyIconA(w32::NIM_ADD, &s.icon);
  s.iconAdded = true;
}

void ShutDown(TrayPlatform& p, TrayState& s) {
  if (!IsNull(s.hookLibrary)) {
    p.CallExport(s.hookEnd);
    p.FreeLibrary(s.hookLibrary);
    s.hookLibrary = Hmodule{};
  }
  if (s.iconAdded) {
    p.Shell_NotifyIconA(w32::NIM_DELETE, &s.icon);
    s.iconAdded = false;
  }
}

uint32_t TrayMenuItemState(const TrayState& s, uint32_t id) {
  bool enabled = id == ID_TRAY_SETTINGS ? s.settingsOpen == 0
                 : id == ID_TRAY_ABOUT  ? s.aboutOpen == 0
                 : id == ID_TRAY_EXIT   ? s.settingsOpen == 0 && s.aboutOpen == 0
                                        : true;
  return enabled ? w32::MF_ENABLED : w32::MF_DISABLED | w32::MF_GRAYED;
}

void RunSettingsCommand(TrayPlatform& p, TrayState& s, ModalDialog& dialog) {
  s.settingsChanged = 0;
  s.settingsOpen = 1;
  dialog.DoModal();
  // After the dialog has closed, so that HookStart reads what OK wrote.
  if (s.settingsChanged != 0 && !IsNull(s.hookLibrary)) {
    p.CallExport(s.hookEnd);
    p.CallExport(s.hookStart);
  }
  s.settingsOpen = 0;
}

void RunAboutCommand(TrayState& s, ModalDialog& about) {
  s.aboutOpen = 1;
  about.DoModal();
  s.aboutOpen = 0;
}

}  // namespace tavik::tray
