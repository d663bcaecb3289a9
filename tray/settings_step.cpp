// The settings file at start-up: written with the defaults when it asks for
// a reset (or is missing), otherwise read with the rules between keys, so
// that the hook library, which reads each key on its own, only ever sees
// combinations the settings dialog could have made.
#include <initializer_list>

#include "tray/tray.h"

namespace tavik::tray {

namespace {

constexpr Setting kNone = kSettingCount;

// ROMAJI BACKSPACE's default depends on the platform; the row's text is the
// NT platform's.
constexpr const char kRomajiBackspaceElsewhere[] = "0";

}  // namespace

const Setting kTrayKeysInFileOrder[kTrayKeyCount] = {
    kTorikeshiKey,   kCapsLockOn,         kCapsLockOff,        kRomajiBackspace,       kKatakanaKey,
    kRomajiOnOff,    kImeOffTorikeshi,    kCannotOpenIme,      kImeOnOff,              kImeConfig,
    kImeOn,          kHankakuKana,        kImeOff1,            kImeOff2,               kKanaToEijiCapsLock,
    kKanaToEijiCapsLockOff, kOasysKakutei, kKakuteiInput,      kNumberKakutei,         kOasysDisableImeOff,
    kIeDisableTorikeshi, kIeDisableEsc,   kKakuteiTategaki,    kKakuteiNotCr,
};

// key, default, counts only while (parent [and second parent] on, or the NT platform)
const TrayKey kTrayKeysInLoadOrder[kTrayKeyCount] = {
    {kTorikeshiKey, "1", kNone, kNone, false},
    {kCapsLockOn, "1", kNone, kNone, false},
    {kCapsLockOff, "1", kNone, kNone, false},
    {kRomajiBackspace, "1", kNone, kNone, true},
    {kKatakanaKey, "0", kCapsLockOn, kCapsLockOff, false},
    {kRomajiOnOff, "0", kNone, kNone, false},
    {kImeOffTorikeshi, "0", kTorikeshiKey, kNone, false},
    {kCannotOpenIme, "0", kImeOffTorikeshi, kNone, false},
    {kImeOnOff, "0", kNone, kNone, false},
    {kImeConfig, "0", kImeOnOff, kNone, false},
    {kImeOn, "0", kImeOnOff, kNone, false},
    {kHankakuKana, "0", kImeOn, kNone, false},
    {kImeOff1, "0", kImeOn, kNone, false},
    {kImeOff2, "0", kImeOff1, kNone, false},
    {kOasysDisableImeOff, "0", kImeOff1, kNone, false},
    {kKanaToEijiCapsLock, "0", kKatakanaKey, kNone, false},
    {kKanaToEijiCapsLockOff, "0", kKanaToEijiCapsLock, kNone, false},
    {kOasysKakutei, "0", kNone, kNone, false},
    {kKakuteiTategaki, "0", kOasysKakutei, kNone, false},
    {kKakuteiNotCr, "0", kOasysKakutei, kNone, false},
    {kKakuteiInput, "0", kOasysKakutei, kNone, false},
    {kNumberKakutei, "0", kKakuteiInput, kNone, false},
    {kIeDisableTorikeshi, "0", kNone, kNone, false},
    {kIeDisableEsc, "0", kIeDisableTorikeshi, kNone, false},
};

const TrayKey* FindTrayKey(Setting key) {
  for (const TrayKey& k : kTrayKeysInLoadOrder) {
    if (k.key == key) return &k;
  }
  return nullptr;
}

namespace {

constexpr const char kResetKey[] = "RESET";

int32_t ReadNumber(TrayPlatform& p, const char* key, const char* defaultValue) {
  char text[256] = {};
  p.GetPrivateProfileStringA(kSettingsSection, key, defaultValue, text, sizeof text, kSettingsFile);
  text[sizeof text - 1] = '\0';
  return ParseSettingNumber(text);
}

void Write(TrayPlatform& p, const char* key, int32_t flag) {
  p.WritePrivateProfileStringA(kSettingsSection, key, flag == 1 ? "1" : "0", kSettingsFile);
}

void Reset(TrayPlatform& p, TraySettings& s) {
  p.WritePrivateProfileStringA(kSettingsSection, kResetKey, "0", kSettingsFile);
  for (Setting key : kTrayKeysInFileOrder) {
    int32_t value = 0;
    if (key == kTorikeshiKey || key == kCapsLockOn || key == kCapsLockOff) value = 1;
    if (key == kRomajiBackspace) value = s.ntPlatform;
    s.flag[key] = value;
    Write(p, kSettingKeys[key].name, value);
  }
  // The keys only the hook library reads go back to its defaults by going.
  for (Setting hidden : {kVelto, kIme2007, kBackspacePriority}) {
    p.WritePrivateProfileStringA(kSettingsSection, kSettingKeys[hidden].name, nullptr, kSettingsFile);
  }
}

void Load(TrayPlatform& p, TraySettings& s) {
  for (const TrayKey& row : kTrayKeysInLoadOrder) {
    const char* name = kSettingKeys[row.key].name;
    const char* defaultValue =
        row.key == kRomajiBackspace && s.ntPlatform != 1 ? kRomajiBackspaceElsewhere : row.defaultValue;
    int32_t value = ReadNumber(p, name, defaultValue);

    // The parents' flags are the ones just set here, so a key whose parent
    // was itself forced off does not count either.
    bool counts = row.ntPlatformOnly ? s.ntPlatform == 1
                                     : (row.parent == kNone || s.flag[row.parent] == 1) &&
                                           (row.secondParent == kNone || s.flag[row.secondParent] == 1);
    if (counts) {
      // Whatever the file holds stays as it is; only "1" turns the flag on.
      s.flag[row.key] = value == 1 ? 1 : 0;
    } else {
      s.flag[row.key] = 0;
      if (value != 0) Write(p, name, 0);
    }
  }
}

}  // namespace

void LoadOrResetSettings(TrayPlatform& p, const OsVersion& version, TraySettings& settings) {
  settings = TraySettings{};
  settings.ntPlatform = version.dwPlatformId == w32::VER_PLATFORM_WIN32_NT ? 1 : 0;
  if (ReadNumber(p, kResetKey, "1") == 1) {
    Reset(p, settings);
  } else {
    Load(p, settings);
  }
}

}  // namespace tavik::tray
