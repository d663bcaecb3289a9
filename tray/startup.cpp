// The tray program's life: one copy per program file, the hook library
// loaded, the settings made consistent, the hooks started, the 32-bit
// helper started; at the end the hooks stopped, the library freed, the
// helper ended and the icon gone.
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "tray/recording.h"
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
  if (missing == nullptr) {
    s.hookRelease = p.GetProcAddress(s.hookLibrary, kReleaseExportName);
    return true;
  }

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

  s.window = window;
  s.programName = programName;
  // A file that cannot be written is no reason to end: the hooks run with
  // what the file holds, the defaults where it holds nothing.
  if (!LoadOrResetSettings(p, s.version, s.settings)) ReportUnsavedSettings(p, window, programName);
  s.settingsOpen = 0;
  s.aboutOpen = 0;

  if (!Bind(p, s, window, programName)) return false;
  // The hook library reads the settings file as the step above left it.
  p.CallExport(s.hookStart);
  StartHelper(p, s);
  return true;
}

namespace {

// Closes the helper's handles and forgets it; `state` says why it is gone.
void ForgetHelper(TrayPlatform& p, TrayState& s, HelperState state) {
  for (Handle h : {s.helperProcess.hProcess, s.helperProcess.hThread, s.helperReady}) {
    if (!IsNull(h)) p.CloseHandle(h);
  }
  s.helperProcess = ProcessInformation{};
  s.helperReady = Handle{};
  s.helper = state;
}

// Waits until the helper says its hooks are started, or ends. A helper that
// says neither in time is ended, so that none is ever left behind.
void AwaitHelper(TrayPlatform& p, TrayState& s, uint32_t milliseconds) {
  const Handle waitFor[2] = {s.helperReady, s.helperProcess.hProcess};
  uint32_t result = p.WaitForMultipleObjects(2, waitFor, 0, milliseconds);
  if (result == w32::WAIT_OBJECT_0) {
    s.helper = HelperState::kRunning;
    return;
  }
  HelperState why = HelperState::kNotResponding;
  if (result == w32::WAIT_OBJECT_0 + 1) {
    uint32_t code = w32::STILL_ACTIVE;
    p.GetExitCodeProcess(s.helperProcess.hProcess, &code);
    if (code == kHelperNoLibrary || code == kHelperNoExport) why = HelperState::kNoLibrary;
  } else {
    p.TerminateProcess(s.helperProcess.hProcess, 1);
    p.WaitForSingleObject(s.helperProcess.hProcess, kHelperEndTimeout);
  }
  ForgetHelper(p, s, why);
}

}  // namespace

void StartHelper(TrayPlatform& p, TrayState& s) {
  char program[w32::MAX_PATH] = {};
  char helperPath[w32::MAX_PATH] = {};
  uint32_t length = p.GetModuleFileNameA(Hmodule{}, program, sizeof program);
  if (length == 0 || length >= sizeof program ||
      !BesideProgram(helperPath, sizeof helperPath, program, kHelperProgramName)) {
    s.helper = HelperState::kNotFound;
    return;
  }

  // The helper inherits our current directory, where its library's
  // HookStart finds the same tavik.ini as ours; and a handle of this
  // process, which it waits on so that it ends with us however we end, and
  // the event it sets once its hooks are started.
  Handle self{};
  p.DuplicateHandle(p.GetCurrentProcess(), p.GetCurrentProcess(), p.GetCurrentProcess(), &self, w32::SYNCHRONIZE, 1, 0);
  s.helperReady = p.CreateEventA(1, 1, 0);
  char commandLine[w32::MAX_PATH + 64] = {};
  bool started = !IsNull(self) && !IsNull(s.helperReady) &&
                 FormatHelperCommandLine(commandLine, sizeof commandLine, helperPath, static_cast<uintptr_t>(self),
                                         static_cast<uintptr_t>(s.helperReady)) &&
                 p.CreateProcessA(helperPath, commandLine, 1, &s.helperProcess) != 0;
  // The helper has its own copy now; ours would only keep this process's
  // handle open in itself.
  if (!IsNull(self)) p.CloseHandle(self);
  if (!started) {
    s.helperProcess = ProcessInformation{};
    ForgetHelper(p, s, HelperState::kNotFound);
    return;
  }
  AwaitHelper(p, s, kHelperStartTimeout);
}

void RestartHelper(TrayPlatform& p, TrayState& s) {
  if (s.helper != HelperState::kRunning) return;
  p.ResetEvent(s.helperReady);
  if (p.PostThreadMessageA(s.helperProcess.dwThreadId, WM_HELPER_RESTART, 0, 0) == 0) {
    // Its thread is gone: so is the helper, or it soon will be.
    EndHelper(p, s);
    s.helper = HelperState::kNotResponding;
    return;
  }
  AwaitHelper(p, s, kHelperStartTimeout);
}

void EndHelper(TrayPlatform& p, TrayState& s) {
  if (s.helper != HelperState::kRunning) return;
  p.PostThreadMessageA(s.helperProcess.dwThreadId, WM_HELPER_END, 0, 0);
  if (p.WaitForSingleObject(s.helperProcess.hProcess, kHelperEndTimeout) != w32::WAIT_OBJECT_0) {
    p.TerminateProcess(s.helperProcess.hProcess, 1);
    p.WaitForSingleObject(s.helperProcess.hProcess, kHelperEndTimeout);
  }
  ForgetHelper(p, s, HelperState::kNotStarted);
}

const char* HelperNote(const TrayState& s) {
  switch (s.helper) {
    case HelperState::kNotFound:
      return kNoHelperNote;
    case HelperState::kNoLibrary:
      return kNoLibrary32Note;
    case HelperState::kNotResponding:
      return kHelperStoppedNote;
    case HelperState::kNotStarted:
    case HelperState::kRunning:
      break;
  }
  return nullptr;
}

namespace {

// NIM_ADD; when the shell refuses, NIM_MODIFY tells whether it has the icon
// all the same (a shell that was slow to answer, or a taskbar that kept its
// icons), so that it is never added twice.
bool ShowIcon(TrayPlatform& p, TrayState& s) {
  s.iconAdded = p.Shell_NotifyIconA(w32::NIM_ADD, &s.icon) != 0 || p.Shell_NotifyIconA(w32::NIM_MODIFY, &s.icon) != 0;
  return s.iconAdded;
}

void RetryLater(TrayPlatform& p, TrayState& s) {
  if (s.iconRetries == 0) p.SetTimer(s.icon.hWnd, kIconRetryTimer, kIconRetryInterval);
  s.iconRetries = kIconRetryTicks;
}

}  // namespace

void AddTrayIcon(TrayPlatform& p, TrayState& s, Hwnd window) {
  s.taskbarCreated = p.RegisterWindowMessageA(kTaskbarCreatedMessage);
  s.icon = NotifyIconData{};
  // The record's first version, which every shell takes; the Win32 layer
  // copies the fields into a real NOTIFYICONDATAA of that version's size.
  s.icon.cbSize = kNotifyIconDataV1Size;
  s.icon.hWnd = window;
  s.icon.uID = 0;
  s.icon.uFlags = w32::NIF_MESSAGE | w32::NIF_ICON | w32::NIF_TIP;
  s.icon.uCallbackMessage = WM_TRAYNOTIFY;
  s.runningIcon = p.LoadImageA(kIconResource, w32::IMAGE_ICON, 16, 16, w32::LR_DEFAULTCOLOR);
  s.icon.hIcon = s.runningIcon;
  TrayTipText(s, s.icon.szTip);
  if (!ShowIcon(p, s)) RetryLater(p, s);
}

void TrayTipText(const TrayState& s, char (&tip)[64]) {
  std::snprintf(tip, sizeof tip, "tavik%s%s", s.paused ? " (一時停止中)" : "", s.recording ? " (記録中)" : "");
}

void RefreshTrayIcon(TrayPlatform& p, TrayState& s) {
  if (s.paused && IsNull(s.pausedIcon)) {
    s.pausedIcon = p.LoadImageA(kPausedIconResource, w32::IMAGE_ICON, 16, 16, w32::LR_DEFAULTCOLOR);
  }
  // A paused icon that would not load: the tip still says so.
  s.icon.hIcon = s.paused && !IsNull(s.pausedIcon) ? s.pausedIcon : s.runningIcon;
  TrayTipText(s, s.icon.szTip);
  if (s.iconAdded) p.Shell_NotifyIconA(w32::NIM_MODIFY, &s.icon);
}

bool OnTaskbarCreated(TrayPlatform& p, TrayState& s, uint32_t message) {
  if (message == 0 || message != s.taskbarCreated) return false;
  // Before AddTrayIcon there is no record; it will be added then.
  if (IsNull(s.icon.hWnd)) return true;
  if (!ShowIcon(p, s)) RetryLater(p, s);
  return true;
}

void OnIconRetryTimer(TrayPlatform& p, TrayState& s) {
  if (s.iconRetries == 0) return;
  // A TaskbarCreated may have shown it meanwhile: then no second NIM_ADD.
  if (s.iconAdded || ShowIcon(p, s) || --s.iconRetries == 0) {
    s.iconRetries = 0;
    p.KillTimer(s.icon.hWnd, kIconRetryTimer);
  }
}

namespace {

void EndHooks(TrayPlatform& p, TrayState& s) {
  // No hook will be there to pay them once the hooks end, keys held or not.
  if (!IsNull(s.hookRelease)) p.CallExport(s.hookRelease, kAllOwed | kEvenIfHeld);
  p.CallExport(s.hookEnd);
}

}  // namespace

void RunPauseCommand(TrayPlatform& p, TrayState& s) {
  if (IsNull(s.hookLibrary)) return;
  if (!s.paused) {
    EndHooks(p, s);
    EndHelper(p, s);
  } else {
    // The file may have been edited meanwhile: the same rules as at start-up.
    if (!LoadOrResetSettings(p, s.version, s.settings)) ReportUnsavedSettings(p, s.window, s.programName);
    p.CallExport(s.hookStart);
    StartHelper(p, s);
  }
  s.paused = !s.paused;
  RefreshTrayIcon(p, s);
}

void ShutDown(TrayPlatform& p, TrayState& s) {
  // The file is closed with its trailer while the libraries still hold the block.
  if (s.recorder != nullptr) StopRecording(p, s, *s.recorder);
  if (!IsNull(s.hookLibrary)) {
    if (!s.paused) EndHooks(p, s);
    p.FreeLibrary(s.hookLibrary);
    s.hookLibrary = Hmodule{};
  }
  EndHelper(p, s);
  if (s.iconAdded) {
    p.Shell_NotifyIconA(w32::NIM_DELETE, &s.icon);
    s.iconAdded = false;
  }
}

void PayOwedKeyUps(TrayPlatform& p, TrayState& s) {
  if (IsNull(s.hookLibrary) || IsNull(s.hookRelease)) return;
  p.CallExport(s.hookRelease, kAllOwed);
  s.owedSeen = 0;
}

void OnOwedKeysTimer(TrayPlatform& p, TrayState& s) {
  if (IsNull(s.hookLibrary) || IsNull(s.hookRelease)) return;
  uint32_t found = p.CallExport(s.hookRelease, s.owedSeen);
  // What was paid now is not owed any more; what was found only now waits a tick.
  s.owedSeen = found & ~s.owedSeen;
}

uint32_t TrayMenuItemState(const TrayState& s, uint32_t id) {
  bool enabled = id == ID_TRAY_SETTINGS ? s.settingsOpen == 0
                 : id == ID_TRAY_ABOUT  ? s.aboutOpen == 0
                 : id == ID_TRAY_EXIT   ? s.settingsOpen == 0 && s.aboutOpen == 0
                                        : true;
  return enabled ? w32::MF_ENABLED : w32::MF_DISABLED | w32::MF_GRAYED;
}

uint32_t TrayMenuItemCheck(const TrayState& s, uint32_t id) {
  bool checked = (id == ID_TRAY_PAUSE && s.paused) || (id == ID_TRAY_RECORD && s.recording);
  return checked ? w32::MF_CHECKED : w32::MF_UNCHECKED;
}

void RunSettingsCommand(TrayPlatform& p, TrayState& s, ModalDialog& dialog) {
  s.settingsChanged = 0;
  s.settingsUnsaved = false;
  s.settingsOpen = 1;
  dialog.DoModal();
  // After the dialog has closed, so that HookStart reads what OK wrote;
  // while paused, the file waits for the pause to end.
  if (s.settingsChanged != 0 && !IsNull(s.hookLibrary) && !s.paused) {
    p.CallExport(s.hookEnd);
    p.CallExport(s.hookStart);
    RestartHelper(p, s);
  }
  if (s.settingsUnsaved) {
    s.settingsUnsaved = false;
    ReportUnsavedSettings(p, s.window, s.programName);
  }
  s.settingsOpen = 0;
}

void RunAboutCommand(TrayState& s, ModalDialog& about) {
  s.aboutOpen = 1;
  about.DoModal();
  s.aboutOpen = 0;
}

}  // namespace tavik::tray
