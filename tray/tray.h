// The tray program's logic, apart from the window system: single instance,
// binding and starting the hook library, the settings step at start-up, the
// tray menu's item states, the settings dialog's model and the settings
// command. tray/win32/ wires it to real windows; the tests run it against
// the simulated desktop.
#pragma once

#include <cstdint>

#include "common/settings.h"
#include "tray/helper.h"
#include "tray/tray_platform.h"

namespace tavik::tray {

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
// rewrite of the settings file.
void LoadOrResetSettings(TrayPlatform& p, const OsVersion& version, TraySettings& settings);

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
  bool iconAdded = false;

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
void AddTrayIcon(TrayPlatform& p, TrayState& s, Hwnd window);

// WM_DESTROY: HookEnd and FreeLibrary when the library is loaded, the helper
// ended, then the icon removed when it was added.
void ShutDown(TrayPlatform& p, TrayState& s);

// --- Tray menu -------------------------------------------------------------------

// The menu opens on the release of the right button, nothing else.
inline bool OpensTrayMenu(uint32_t iconEvent) { return iconEvent == w32::WM_RBUTTONUP; }

// MF_ENABLED, or MF_DISABLED | MF_GRAYED, for an item of the tray menu.
uint32_t TrayMenuItemState(const TrayState& s, uint32_t id);

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
  // IDOK: when any working flag differs from TraySettings, settingsChanged
  // becomes 1, TraySettings takes the working flags and every key with a
  // box is written in file order; otherwise nothing is written. True when
  // written.
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
// restarted once after it closed when OK wrote a change, the helper's too.
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
