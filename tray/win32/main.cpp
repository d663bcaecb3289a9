// tavik.exe: the tray program on Windows. One copy per program file; a
// hidden dialog that owns the notification-area icon, loads the hook
// library and starts its hooks; the settings dialog and the About box. The
// decisions are made by the portable logic in tray/; this file wires them
// to windows and messages.
#include <initializer_list>

#include "tray/recording.h"
#include "tray/tray.h"
#include "tray/win32/win32_tray_platform.h"  // brings <windows.h>, after the portable headers
#include "tray/win32/shared_block_security.h"

namespace {

using namespace tavik::tray;
using tavik::Hwnd;
using tavik::Portable;

// The program-wide state, one instance, as the hidden window's life needs it.
struct Program {
  HINSTANCE instance = nullptr;
  char name[MAX_PATH] = {};  // the program file's name without directory and extension
  HICON icon = nullptr;      // icon 128 at the system's icon size, for the window
  HANDLE sharedBlock = nullptr;  // kept open for the program's life; the system closes it at the end
  Win32TrayPlatform platform;
  TrayState state;
  Recorder recorder;
};
Program program;

// The program file's name, without directory and extension: the mutex name
// and the message box caption. Walks with CharNextA, so that a trail byte
// that happens to be a backslash or a dot does not split a character.
void ProgramName(char* name, size_t size) {
  char path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) path[0] = '\0';
  char* start = path;
  char* dot = nullptr;
  for (char* p = path; *p != '\0'; p = CharNextA(p)) {
    if (*p == '\\' || *p == '/' || *p == ':') {
      start = p + 1;
      dot = nullptr;
    } else if (*p == '.') {
      dot = p;
    }
  }
  if (dot != nullptr) *dot = '\0';
  lstrcpynA(name, start, static_cast<int>(size));
}

// The About box and the settings dialog open in the middle of the screen the
// cursor is on: the user has just clicked the tray icon there, and their
// owner, the hidden window, has no size to be centred on.
void CentreOnCursorMonitor(HWND dialog) {
  POINT cursor{};
  GetCursorPos(&cursor);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!GetMonitorInfoA(MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST), &monitor)) return;
  RECT window{};
  GetWindowRect(dialog, &window);
  const RECT& work = monitor.rcWork;
  int width = window.right - window.left;
  int height = window.bottom - window.top;
  int x = work.left + (work.right - work.left - width) / 2;
  int y = work.top + (work.bottom - work.top - height) / 2;
  SetWindowPos(dialog, nullptr, x < work.left ? work.left : x, y < work.top ? work.top : y, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// --- About box (dialog 100) ---------------------------------------------------

// Dialog units the About box grows by to show its line on 32-bit programs:
// the line's two rows below the box and a margin under them.
constexpr int kAboutNoteRoom = 11;

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      // Empty in the template, and below the box: the line appears only when
      // 32-bit programs are not reached, and the box grows to show it.
      if (const char* note = HelperNote(program.state)) {
        SetDlgItemTextA(dialog, kAboutNote, note);
        RECT grow{0, 0, 0, kAboutNoteRoom};
        MapDialogRect(dialog, &grow);
        RECT box{};
        GetWindowRect(dialog, &box);
        SetWindowPos(dialog, nullptr, 0, 0, box.right - box.left, box.bottom - box.top + grow.bottom,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
      }
      CentreOnCursorMonitor(dialog);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) EndDialog(dialog, LOWORD(wParam));
      return TRUE;
    case WM_CLOSE:
      EndDialog(dialog, IDCANCEL);
      return TRUE;
  }
  return FALSE;
}

class AboutBox final : public ModalDialog {
 public:
  explicit AboutBox(HWND owner) : owner_(owner) {}
  void DoModal() override { DialogBoxParamW(program.instance, MAKEINTRESOURCEW(kAboutDialog), owner_, AboutProc, 0); }

 private:
  HWND owner_;
};

// --- Settings dialog (dialog 133) --------------------------------------------------

class Win32DialogControls final : public DialogControls {
 public:
  HWND dialog = nullptr;
  int32_t CheckDlgButton(int nIDButton, uint32_t uCheck) override { return ::CheckDlgButton(dialog, nIDButton, uCheck); }
  int32_t EnableWindow(int nIDDlgItem, int32_t bEnable) override {
    return ::EnableWindow(::GetDlgItem(dialog, nIDDlgItem), bEnable);
  }
};

// One opening of the settings dialog: its controls and its model.
struct SettingsRun {
  Win32DialogControls controls;
  SettingsDialogModel model{program.state.settings, controls};
};

INT_PTR CALLBACK SettingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* run = reinterpret_cast<SettingsRun*>(lParam);
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    run->controls.dialog = dialog;
    run->model.Initialise();
    CentreOnCursorMonitor(dialog);
    return TRUE;  // the focus goes to the first tab stop, OK
  }
  auto* run = reinterpret_cast<SettingsRun*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (run == nullptr) return FALSE;

  switch (message) {
    case WM_COMMAND: {
      int id = LOWORD(wParam);
      if (id == IDOK) {
        run->model.Ok(program.platform, program.state);
        EndDialog(dialog, IDOK);
      } else if (id == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
      } else if (id >= 1000 && id <= 1024 && HIWORD(wParam) == BN_CLICKED) {
        // The automatic check boxes and radio buttons have already changed
        // their own state; the model then sets every state it wants, this
        // control's included, so the dialog ends as the model says.
        run->model.Clicked(id);
      }
      return TRUE;
    }
    case WM_CLOSE:
      EndDialog(dialog, IDCANCEL);
      return TRUE;
  }
  return FALSE;
}

class SettingsDialog final : public ModalDialog {
 public:
  explicit SettingsDialog(HWND owner) : owner_(owner) {}
  void DoModal() override {
    SettingsRun run;
    DialogBoxParamW(program.instance, MAKEINTRESOURCEW(kSettingsDialog), owner_, SettingsProc,
                    reinterpret_cast<LPARAM>(&run));
  }

 private:
  HWND owner_;
};

// --- The hidden main window (dialog 102) ----------------------------------------------

// Another window in front, or another desktop (the lock screen, the UAC
// prompt, and back): a key typed before may have gone up where the library
// does not see it.
void CALLBACK OnWinEvent(HWINEVENTHOOK, DWORD, HWND, LONG, LONG, DWORD, DWORD) {
  PayOwedKeyUps(program.platform, program.state);
}

void WatchForOwedKeyUps(HWND window) {
  for (DWORD event : {EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_DESKTOPSWITCH}) {
    SetWinEventHook(event, event, nullptr, OnWinEvent, 0, 0, WINEVENT_OUTOFCONTEXT);
  }
  SetTimer(window, kOwedKeysTimer, kOwedKeysInterval, nullptr);
}

BOOL InitTrayDialog(HWND window) {
  if (HMENU systemMenu = GetSystemMenu(window, FALSE)) {
    wchar_t text[256] = {};
    if (LoadStringW(program.instance, kAboutMenuString, text, 256) > 0) {
      AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
      AppendMenuW(systemMenu, MF_STRING, ID_SYSMENU_ABOUT, text);
    }
  }
  SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(program.icon));
  SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(program.icon));

  if (!StartHookLibrary(program.platform, program.state, Portable<Hwnd>(window), program.name)) {
    EndDialog(window, 0);
    return TRUE;
  }

  // No taskbar button (with WS_EX_TOOLWINDOW from the template), zero size,
  // hidden. The dialog box's message loop shows the window once its queue is
  // first empty; WM_WINDOWPOSCHANGING below keeps it at zero size then.
  SetWindowLongPtrA(window, GWL_EXSTYLE, GetWindowLongPtrA(window, GWL_EXSTYLE) & ~LONG_PTR{WS_EX_APPWINDOW});
  SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_HIDEWINDOW);

  AddTrayIcon(program.platform, program.state, Portable<Hwnd>(window));
  // Run as administrator, the window would not hear of a new taskbar from
  // Explorer, which runs at a lower level.
  ChangeWindowMessageFilterEx(window, program.state.taskbarCreated, MSGFLT_ALLOW, nullptr);
  WatchForOwedKeyUps(window);
  // Recording is stopped, and its file closed, by ShutDown.
  program.state.recorder = &program.recorder;
  program.recorder.tavikVersion = TAVIK_VERSION;
  if (RecordRequested(GetCommandLineA())) StartRecording(program.platform, program.state, program.recorder);
  return TRUE;
}

void ShowTrayMenu(HWND window, POINT cursor) {
  // Foreground first, and a message after the menu, so that the menu closes
  // when the user clicks elsewhere.
  SetForegroundWindow(window);
  HMENU menu = LoadMenuW(program.instance, MAKEINTRESOURCEW(kTrayMenu));
  HMENU popup = GetSubMenu(menu, 0);
  TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window, nullptr);
  PostMessageA(window, WM_NULL, 0, 0);
  DestroyMenu(menu);
}

void PaintMinimised(HWND window) {
  PAINTSTRUCT paint{};
  HDC dc = BeginPaint(window, &paint);
  SendMessageA(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client{};
  GetClientRect(window, &client);
  int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, program.icon);
  EndPaint(window, &paint);
}

INT_PTR CALLBACK TrayDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // Registered at run time, so not a case below: Explorer broadcasts it
  // when a new taskbar is up, which has none of the old one's icons.
  if (OnTaskbarCreated(program.platform, program.state, message)) return TRUE;
  switch (message) {
    case WM_INITDIALOG:
      return InitTrayDialog(window);

    case WM_WINDOWPOSCHANGING: {
      // Whoever shows, restores or resizes this window, it keeps no size:
      // it exists for its messages, and must never be seen.
      auto* pos = reinterpret_cast<WINDOWPOS*>(lParam);
      if (!(pos->flags & SWP_NOSIZE)) pos->cx = pos->cy = 0;
      return FALSE;
    }

    case WM_TRAYNOTIFY: {
      POINT cursor{};
      GetCursorPos(&cursor);
      if (OpensTrayMenu(static_cast<uint32_t>(lParam))) ShowTrayMenu(window, cursor);
      return FALSE;
    }

    case WM_INITMENUPOPUP:
      if (HIWORD(lParam) != 0) return FALSE;  // the system menu
      for (uint32_t id : kTrayMenuItems) {
        EnableMenuItem(reinterpret_cast<HMENU>(wParam), id, MF_BYCOMMAND | TrayMenuItemState(program.state, id));
        CheckMenuItem(reinterpret_cast<HMENU>(wParam), id, MF_BYCOMMAND | TrayMenuItemCheck(program.state, id));
      }
      return TRUE;

    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case ID_TRAY_SETTINGS: {
          SettingsDialog dialog(window);
          RunSettingsCommand(program.platform, program.state, dialog);
          break;
        }
        case ID_TRAY_ABOUT: {
          AboutBox about(window);
          RunAboutCommand(program.state, about);
          break;
        }
        case ID_TRAY_EXIT:
          EndDialog(window, 0);
          break;
        case ID_TRAY_PAUSE:
          RunPauseCommand(program.platform, program.state);
          break;
        case ID_TRAY_RECORD:
          ToggleRecording(program.platform, program.state, program.recorder);
          break;
        case ID_TRAY_RECORDINGS:
          OpenRecordingsFolder(program.platform, program.state);
          break;
        default:
          // IDOK and IDCANCEL among them: Enter and Esc do not end the program.
          break;
      }
      return TRUE;

    case WM_CLOSE:
      EndDialog(window, 0);
      return TRUE;

    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == ID_SYSMENU_ABOUT) {
        // Not the tray menu's About: aboutOpen stays as it is.
        AboutBox(window).DoModal();
        return TRUE;
      }
      return FALSE;

    case WM_PAINT:
      if (!IsIconic(window)) return FALSE;
      PaintMinimised(window);
      return TRUE;

    case WM_TIMER:
      if (wParam == kOwedKeysTimer) {
        OnOwedKeysTimer(program.platform, program.state);
        return TRUE;
      }
      if (wParam == kRecordingTimer) {
        OnRecordingTimer(program.platform, program.state, program.recorder);
        return TRUE;
      }
      if (wParam != kIconRetryTimer) return FALSE;
      OnIconRetryTimer(program.platform, program.state);
      return TRUE;

    case WM_POWERBROADCAST:
      // Back from sleep: keys held when it began went up unseen.
      if (wParam == PBT_APMRESUMEAUTOMATIC || wParam == PBT_APMRESUMESUSPEND) {
        PayOwedKeyUps(program.platform, program.state);
      }
      return FALSE;

    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(program.icon);

    case WM_DESTROY:
      ShutDown(program.platform, program.state);
      return FALSE;
  }
  return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  program.instance = instance;
  ProgramName(program.name, sizeof program.name);
  // A second copy of the same program file ends here, silently.
  if (!TakeSingleInstance(program.platform, program.name)) return 0;
  // Before the library is loaded: its first load in this process would
  // otherwise create the block with this process's default security, which,
  // run as administrator, shuts the user's normal programs out of it.
  program.sharedBlock = CreateSharedBlock();

  program.icon = LoadIconA(instance, MAKEINTRESOURCEA(kIconResource));
  // No owner: the hidden window is the program's main window. Everything
  // else happens inside its modal run.
  DialogBoxParamW(instance, MAKEINTRESOURCEW(kMainDialog), nullptr, TrayDialogProc, 0);
  return 0;
}
