// The settings dialog's model: which boxes are checked and enabled, kept to
// the same tree of dependencies as the start-up load, so that whatever OK
// writes is a combination the load would keep.
#include <initializer_list>

#include "tray/tray.h"

namespace tavik::tray {

namespace {

struct Control {
  int id;
  Setting key;
};

// The check boxes of dialog 133 and the key each shows. The radio pair
// shows KANA TO EIJI CAPSLOCK OFF: 1016 for 1, 1015 for 0.
constexpr Control kControls[] = {
    {1000, kTorikeshiKey},       {1006, kImeOffTorikeshi},       {1007, kCannotOpenIme},
    {1001, kCapsLockOn},         {1002, kCapsLockOff},           {1004, kKatakanaKey},
    {1014, kKanaToEijiCapsLock}, {kRadioCapsLockOff, kKanaToEijiCapsLockOff},
    {1005, kRomajiOnOff},        {1003, kRomajiBackspace},       {1008, kImeOnOff},
    {1009, kImeConfig},          {1010, kImeOn},                 {1011, kHankakuKana},
    {1012, kImeOff1},            {1013, kImeOff2},               {1020, kOasysDisableImeOff},
    {1017, kOasysKakutei},       {1023, kKakuteiTategaki},       {1024, kKakuteiNotCr},
    {1018, kKakuteiInput},       {1019, kNumberKakutei},         {1021, kIeDisableTorikeshi},
    {1022, kIeDisableEsc},
};

bool IsParentOf(Setting parent, Setting child) {
  return kSettingKeys[child].parent == parent || kSettingKeys[child].secondParent == parent;
}

bool IsDescendantOf(Setting ancestor, Setting key) {
  for (Setting parent : {kSettingKeys[key].parent, kSettingKeys[key].secondParent}) {
    if (parent != kNoSetting && (parent == ancestor || IsDescendantOf(ancestor, parent))) return true;
  }
  return false;
}

// The key a control shows; kNoSetting for any other control.
Setting KeyOfControl(int id) {
  if (id == kRadioKeepCapsLock) return kKanaToEijiCapsLockOff;
  for (const Control& c : kControls) {
    if (c.id == id) return c.key;
  }
  return kNoSetting;
}

}  // namespace

int ControlOf(Setting key) {
  for (const Control& c : kControls) {
    if (c.key == key) return c.id;
  }
  return 0;
}

// One of the pair is always checked: 1016 for 1, 1015 otherwise.
void SettingsDialogModel::ShowRadioPair(int32_t value) {
  controls_.CheckDlgButton(kRadioKeepCapsLock, value == 1 ? w32::BST_UNCHECKED : w32::BST_CHECKED);
  controls_.CheckDlgButton(kRadioCapsLockOff, value == 1 ? w32::BST_CHECKED : w32::BST_UNCHECKED);
}

void SettingsDialogModel::Enable(Setting key, bool enable) {
  controls_.EnableWindow(ControlOf(key), enable ? 1 : 0);
  if (key == kKanaToEijiCapsLockOff) controls_.EnableWindow(kRadioKeepCapsLock, enable ? 1 : 0);
}

void SettingsDialogModel::Initialise() {
  for (Setting key : kSettingsInTreeOrder) {
    bool allowed = ParentsAllow(key, settings_.flag, settings_.ntPlatform);
    // A control that always counts keeps its template's state: enabled.
    if (kSettingKeys[key].parent != kNoSetting || kSettingKeys[key].ntOnly) Enable(key, allowed);
    int32_t value = allowed && settings_.flag[key] == 1 ? 1 : 0;
    working_[key] = value;
    if (key == kKanaToEijiCapsLockOff) {
      ShowRadioPair(value);
    } else {
      controls_.CheckDlgButton(ControlOf(key), value == 1 ? w32::BST_CHECKED : w32::BST_UNCHECKED);
    }
  }
}

void SettingsDialogModel::Clicked(int id) {
  Setting key = KeyOfControl(id);
  if (key == kNoSetting) return;

  if (key == kKanaToEijiCapsLockOff) {
    // A click on the button already chosen changes nothing.
    int32_t value = id == kRadioCapsLockOff ? 1 : 0;
    if ((working_[key] == 1) == (value == 1)) return;
    working_[key] = value;
    ShowRadioPair(value);
    return;
  }

  int32_t value = working_[key] == 1 ? 0 : 1;
  working_[key] = value;
  controls_.CheckDlgButton(id, value == 1 ? w32::BST_CHECKED : w32::BST_UNCHECKED);

  if (value == 0) {
    // Everything below the box goes off with it, grandchildren included.
    for (Setting below : kSettingsInTreeOrder) {
      if (!IsDescendantOf(key, below)) continue;
      Enable(below, false);
      working_[below] = 0;
      if (below == kKanaToEijiCapsLockOff) {
        ShowRadioPair(0);
      } else {
        controls_.CheckDlgButton(ControlOf(below), w32::BST_UNCHECKED);
      }
    }
  } else {
    // Only the children whose every parent is now on come back, unchecked
    // as their parent's unchecking left them; grandchildren wait for their
    // own parent.
    for (Setting child : kSettingsInTreeOrder) {
      if (IsParentOf(key, child) && ParentsAllow(child, working_, settings_.ntPlatform)) Enable(child, true);
    }
  }
}

bool SettingsDialogModel::Ok(TrayPlatform& p, TrayState& s) {
  bool changed = false;
  for (Setting key : kSettingsInTreeOrder) changed = changed || working_[key] != s.settings.flag[key];
  if (!changed) return false;

  // Every box, changed or not, in the file's order: the file then says
  // exactly what the dialog showed. A failed write does not stop the
  // others; each that succeeds changes what the hooks read.
  bool ok = true;
  for (int key = 0; key < kSettingCount; ++key) {
    if (kSettingKeys[key].fileOnly) continue;
    s.settings.flag[key] = working_[key] != 0 ? 1 : 0;
    bool written = p.WritePrivateProfileStringA(kSettingsSection, kSettingKeys[key].name,
                                                s.settings.flag[key] == 1 ? "1" : "0", kSettingsFile) != 0;
    if (written) s.settingsChanged = 1;
    ok = ok && written;
  }
  if (!ok) {
    // The settings in force are the file's, whatever the dialog showed.
    s.settingsUnsaved = true;
    ReloadSettings(p, s.settings);
  }
  return ok;
}

}  // namespace tavik::tray
