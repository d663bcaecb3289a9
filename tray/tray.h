// The tray program's logic, apart from the window system: single instance,
// binding and starting the hook library, the settings step at start-up, the
// tray menu's item states, the settings dialog's model and the settings
// command. tray/win32/ wires it to real windows; the tests run it against
// the simulated desktop.
#pragma once

#include <cstdint>

#include "common/exports.h"
#include "common/settings.h"
#include "tray/helper.h"
#include "tray/tray_platform.h"

namespace tavik::tray {

struct Recorder;  // tray/recording.h

// --- Settings ------------------------------------------------------------------

// The tray program's copy of the settings: a flag per key, indexed by
// Setting (the file-only keys, which only the hook library reads, stay 0),
// and whether the system is of the NT platform.
struct TraySettings {
  int32_t flag[kSettingCount];
  int32_t ntPlatform;
};

// Whether a key may be 1 with these flags for the boxes above it: an
// NT-only key only on the NT platform, any other only while each of its
// parents is 1. The start-up load and the dialog keep to the same rule.
bool ParentsAllow(Setting key, const int32_t* flags, int32_t ntPlatform);

// Start-up: the RESET test, then the reset or the load with the consistency
// rules. Fills `settings` (ntPlatform from `version`) and makes every
// rewrite of the settings file. False when a write failed: `settings` are
// then what the program will run with (the defaults after a reset), though
// the file may not say so.
bool LoadOrResetSettings(TrayPlatform& p, const OsVersion& version, TraySettings& settings);

// The settings as the file now holds them, by the load's rules, without
// writing anything: what the hook library reads once a write has failed.
void ReloadSettings(TrayPlatform& p, TraySettings& settings);

// Told once per failed operation (the start-up's rewrite, an OK), in a box
// owned by `window`: the settings file's full path, and what to do.
inline constexpr const char kUnsavedText[] =
    "%sに設定を保存できませんでした。\nﾌｧｲﾙやﾌｫﾙﾀﾞが書き込み禁止になっていないか確かめるか、"
    "tavikを書き込みのできるﾌｫﾙﾀﾞに移してください。";
void ReportUnsavedSettings(TrayPlatform& p, Hwnd window, const char* programName);

// --- Program-wide state --------------------------------------------------------

// Where the 32-bit helper stands. Only kRunning reaches 32-bit
// programs; the others leave tavik with the 64-bit ones, and the About box
// says which file is missing.
enum class HelperState {
  kNotStarted,     // the hook library did not start, so neither did the helper
  kRunning,        // its hooks are started
  kNotFound,       // tavik32.exe could not be started
  kNoLibrary,      // it ended at once: tavikhook32.dll did not load or lacks an export
  kNotResponding,  // it ended, or never said it was ready
};

struct TrayState {
  Hmodule hookLibrary{};
  FarProc hookStart{};
  FarProc hookEnd{};
  OsVersion version{};
  TraySettings settings{};
  int32_t settingsOpen = 0;
  int32_t aboutOpen = 0;
  int32_t settingsChanged = 0;
  NotifyIconData icon{};
  bool iconAdded = false;   // the shell is known to show it
  uint32_t taskbarCreated = 0;  // the registered message of a (re)started taskbar
  uint32_t iconRetries = 0;     // timer ticks left to try adding it; 0: no timer

  // Where the program's messages go: the hidden window, captioned with the
  // program's name. Set by StartHookLibrary.
  Hwnd window{};
  const char* programName = "";
  bool settingsUnsaved = false;  // OK's write failed; told once the dialog has closed

  // The library's release of owed key-ups (absent from an older library),
  // and what the slow timer's last tick found owed.
  FarProc hookRelease{};
  uint32_t owedSeen = 0;

  // The user has switched tavik off for a while: the hooks are ended.
  bool paused = false;
  Hicon runningIcon{};  // what the icon shows, loaded once each
  Hicon pausedIcon{};
  // The libraries are recording into the recording block.
  bool recording = false;
  Recorder* recorder = nullptr;  // set by the program; stopped at shut-down

  HelperState helper = HelperState::kNotStarted;
  ProcessInformation helperProcess{};
  Handle helperReady{};  // set by the helper each time its hooks have started
};

// --- Start-up and shut-down ------------------------------------------------------

inline constexpr const char kHookLibraryName[] = "tavikhook.dll";
inline constexpr const char kLoadFailedText[] = "tavikhook.dllのロードに失敗しました。";

// Done first, before any window: CreateMutexA named after the program (its
// file name without directory and extension). False when another copy
// holds it: this copy then ends without a window, message or icon. The
// handle stays open for the life of the process.
bool TakeSingleInstance(TrayPlatform& p, const char* programName);

// The hidden window's initialisation: loads the hook library, asks the
// platform's version, resets the settings file or makes it consistent,
// finds both exports and calls HookStart, then starts the 32-bit helper.
// False when the program is to end at once: the library did not load, or
// lacks an export; the user has been told why and nothing was started (a
// library that loaded is freed again). A helper that does not start is no
// reason to end: see HelperState. `programName` is the message box caption.
bool StartHookLibrary(TrayPlatform& p, TrayState& s, Hwnd window, const char* programName);

// How long the tray program waits for the helper: to start its hooks, and
// to end once told to.
inline constexpr uint32_t kHelperStartTimeout = 10000;
inline constexpr uint32_t kHelperEndTimeout = 5000;

// Starts tavik32.exe from the tray program's folder and waits until its
// hooks have started (or it has ended, or the wait is over).
void StartHelper(TrayPlatform& p, TrayState& s);
// Has a running helper restart its hooks, as the tray program's own have
// just been, and waits until it has.
void RestartHelper(TrayPlatform& p, TrayState& s);
// Tells a running helper to end its hooks and itself, waits for it, and
// ends it when it does not; closes every handle of it.
void EndHelper(TrayPlatform& p, TrayState& s);

// The About box's line on the 32-bit programs: null while the helper runs
// (or never had a chance to), else which file the user should look for.
const char* HelperNote(const TrayState& s);
inline constexpr const char kNoHelperNote[] = "tavik32.exeがないため、32ﾋﾞｯﾄのﾌﾟﾛｸﾞﾗﾑでは働きません。";
inline constexpr const char kNoLibrary32Note[] = "tavikhook32.dllがないため、32ﾋﾞｯﾄのﾌﾟﾛｸﾞﾗﾑでは働きません。";
inline constexpr const char kHelperStoppedNote[] = "tavik32.exeが動かないため、32ﾋﾞｯﾄのﾌﾟﾛｸﾞﾗﾑでは働きません。";

// Adds the notification-area icon, the last of the hidden window's
// initialisation: once the window is hidden, the icon is all the user sees.
// Registers the taskbar's "TaskbarCreated" message first. When the shell
// does not take the icon (tavik started at sign-in before the taskbar),
// the icon retry timer is set.
void AddTrayIcon(TrayPlatform& p, TrayState& s, Hwnd window);

inline constexpr const char kTaskbarCreatedMessage[] = "TaskbarCreated";
inline constexpr uintptr_t kIconRetryTimer = 1;
inline constexpr uint32_t kIconRetryInterval = 10000;  // ms
inline constexpr uint32_t kIconRetryTicks = 30;        // five minutes, then only TaskbarCreated

// Whether `message` is the taskbar's, and if so, what follows it: a new
// taskbar has none of the old one's icons, so the same record is added again.
bool OnTaskbarCreated(TrayPlatform& p, TrayState& s, uint32_t message);
// WM_TIMER of kIconRetryTimer: tries again while the icon is not shown, and
// kills the timer once it is or the tries are spent.
void OnIconRetryTimer(TrayPlatform& p, TrayState& s);

// --- Owed key-ups ---------------------------------------------------------------

// A key the library sent stays down for the whole system when the typed key
// whose key-up pays it goes up where the library is not loaded (an elevated
// program, the UAC prompt or the lock screen), or while the machine sleeps.
// The tray program pays such key-ups through the library: when the
// foreground window changes, the desktop switches (lock, unlock, the UAC
// prompt) and the machine resumes, all whose typed key is up; on a slow
// timer only those found owed on the tick before as well, so that a key-up
// still on its way through a busy application is left to it; at exit all.
inline constexpr uintptr_t kOwedKeysTimer = 2;
inline constexpr uint32_t kOwedKeysInterval = 400;  // ms: paid within a second of its key going up

void PayOwedKeyUps(TrayPlatform& p, TrayState& s);
void OnOwedKeysTimer(TrayPlatform& p, TrayState& s);

// WM_DESTROY: HookEnd and FreeLibrary when the library is loaded, the helper
// ended, then the icon removed when it was added.
void ShutDown(TrayPlatform& p, TrayState& s);

// --- Tray menu -------------------------------------------------------------------

// The menu opens on the release of the right button, nothing else.
inline bool OpensTrayMenu(uint32_t iconEvent) { return iconEvent == w32::WM_RBUTTONUP; }

// MF_ENABLED, or MF_DISABLED | MF_GRAYED, for an item of the tray menu.
uint32_t TrayMenuItemState(const TrayState& s, uint32_t id);
// MF_CHECKED or MF_UNCHECKED: pause and recording are checked while on.
uint32_t TrayMenuItemCheck(const TrayState& s, uint32_t id);
// Every item the menu has, for the menu's initialisation.
inline constexpr uint32_t kTrayMenuItems[] = {ID_TRAY_SETTINGS, ID_TRAY_ABOUT,  ID_TRAY_EXIT,
                                              ID_TRAY_PAUSE,    ID_TRAY_RECORD, ID_TRAY_RECORDINGS};

// The icon's tip, "tavik" with what it is doing: paused, recording.
void TrayTipText(const TrayState& s, char (&tip)[64]);
// Shows the icon and its tip as the state now is (NIM_MODIFY), once the
// icon has been added; a later add shows them anyway.
void RefreshTrayIcon(TrayPlatform& p, TrayState& s);

// The pause command. Pausing pays what the hooks owe, ends them and the
// helper's, and shows the washed-out icon; the same command again reads the
// settings file anew, as at start-up, and starts them. A pause lasts until
// the command or the end of the program: the next start always runs.
void RunPauseCommand(TrayPlatform& p, TrayState& s);

// --- Settings dialog ---------------------------------------------------------------

// The check boxes and radio buttons of dialog 133.
inline constexpr int kRadioKeepCapsLock = 1015;  // KANA TO EIJI CAPSLOCK OFF = 0
inline constexpr int kRadioCapsLockOff = 1016;   // KANA TO EIJI CAPSLOCK OFF = 1

// The dialog's controls as the model sets them, by id: CheckDlgButton and
// EnableWindow(GetDlgItem(dialog, id), ...).
class DialogControls {
 public:
  virtual int32_t CheckDlgButton(int nIDButton, uint32_t uCheck) = 0;
  virtual int32_t EnableWindow(int nIDDlgItem, int32_t bEnable) = 0;

 protected:
  ~DialogControls() = default;
};

// The settings dialog's working flags and the rules of its clicks.
class SettingsDialogModel {
 public:
  SettingsDialogModel(const TraySettings& settings, DialogControls& controls)
      : settings_(settings), controls_(controls) {}

  // WM_INITDIALOG: enabled and checked states from TraySettings.
  void Initialise();
  // BN_CLICKED of a check box (1000 to 1024) or of a radio button.
  void Clicked(int id);
  // IDOK: when any working flag differs from TraySettings, every key with a
  // box is written in file order and TraySettings takes the working flags;
  // otherwise nothing is written. settingsChanged becomes 1 when any write
  // succeeded. When one failed, settingsUnsaved is set and TraySettings
  // reread from the file, so the dialog never shows what was not saved.
  // True when all was written.
  bool Ok(TrayPlatform& p, TrayState& s);

 private:
  void ShowRadioPair(int32_t value);
  void Enable(Setting key, bool enable);

  const TraySettings& settings_;
  DialogControls& controls_;
  int32_t working_[kSettingCount] = {};
};

// The control of a key's check box (for KANA TO EIJI CAPSLOCK OFF, the
// radio button that means 1); 0 when there is none.
int ControlOf(Setting key);

// The settings command: settingsOpen while the dialog runs, and the hooks
// restarted once after it closed when OK wrote a change, the helper's too;
// then, when a write failed, the user told so.
class ModalDialog {
 public:
  // Runs the dialog; returns when it has ended.
  virtual void DoModal() = 0;

 protected:
  ~ModalDialog() = default;
};
void RunSettingsCommand(TrayPlatform& p, TrayState& s, ModalDialog& dialog);

// The About command of the tray menu (aboutOpen while it runs).
void RunAboutCommand(TrayState& s, ModalDialog& about);

}  // namespace tavik::tray
