// The settings file at start-up: written with the defaults when it asks for
// a reset (or is missing), otherwise read and held to the dialog's tree, so
// that the hook library, which reads each key on its own, only ever sees
// combinations the settings dialog could have made.
#include <cstdio>

#include "tray/tray.h"

namespace tavik::tray {

bool ParentsAllow(Setting key, const int32_t* flags, int32_t ntPlatform) {
  const SettingKey& k = kSettingKeys[key];
  if (k.ntOnly) return ntPlatform == 1;
  return (k.parent == kNoSetting || flags[k.parent] == 1) &&
         (k.secondParent == kNoSetting || flags[k.secondParent] == 1);
}

namespace {

constexpr const char kResetKey[] = "RESET";

// Off the NT platform an NT-only key is 0, so it defaults to 0 there too: a
// file without it then needs no rewrite.
const char* DefaultText(Setting key, int32_t ntPlatform) {
  return kSettingKeys[key].ntOnly && ntPlatform != 1 ? "0" : kSettingKeys[key].defaultValue;
}

int32_t ReadNumber(TrayPlatform& p, const char* key, const char* defaultValue) {
  char text[256] = {};
  p.GetPrivateProfileStringA(kSettingsSection, key, defaultValue, text, sizeof text, kSettingsFile);
  text[sizeof text - 1] = '\0';
  return ParseSettingNumber(text);
}

bool Write(TrayPlatform& p, const char* key, int32_t flag) {
  return p.WritePrivateProfileStringA(kSettingsSection, key, flag == 1 ? "1" : "0", kSettingsFile) != 0;
}

// Every write is made even after one has failed: a later one may still
// succeed, and the file is then as near to the defaults as it can be.
bool Reset(TrayPlatform& p, TraySettings& s) {
  bool ok = p.WritePrivateProfileStringA(kSettingsSection, kResetKey, "0", kSettingsFile) != 0;
  for (int key = 0; key < kSettingCount; ++key) {
    if (kSettingKeys[key].fileOnly) continue;
    s.flag[key] = SettingFlagFromText(DefaultText(static_cast<Setting>(key), s.ntPlatform));
    ok = Write(p, kSettingKeys[key].name, s.flag[key]) && ok;
  }
  // The keys only the hook library reads go back to its defaults by going,
  // the programs to leave alone among them: a reset has tavik act everywhere.
  for (const SettingKey& key : kSettingKeys) {
    if (key.fileOnly) ok = p.WritePrivateProfileStringA(kSettingsSection, key.name, nullptr, kSettingsFile) != 0 && ok;
  }
  ok = p.WritePrivateProfileStringA(kSettingsSection, kLeaveAloneKey, nullptr, kSettingsFile) != 0 && ok;
  return ok;
}

// `rewrite`: a key that does not count is written 0, so that the hook
// library, which reads it on its own, does not act on it either.
bool Load(TrayPlatform& p, TraySettings& s, bool rewrite) {
  bool ok = true;
  for (Setting key : kSettingsInTreeOrder) {
    const char* name = kSettingKeys[key].name;
    int32_t value = ReadNumber(p, name, DefaultText(key, s.ntPlatform));
    // The parents' flags are the ones just set here, so a key whose parent
    // was itself forced off does not count either.
    if (ParentsAllow(key, s.flag, s.ntPlatform)) {
      // Whatever the file holds stays as it is; only "1" turns the flag on.
      s.flag[key] = value == 1 ? 1 : 0;
    } else {
      s.flag[key] = 0;
      if (rewrite && value != 0) ok = Write(p, name, 0) && ok;
    }
  }
  return ok;
}

}  // namespace

bool LoadOrResetSettings(TrayPlatform& p, const OsVersion& version, TraySettings& settings) {
  settings = TraySettings{};
  settings.ntPlatform = version.dwPlatformId == w32::VER_PLATFORM_WIN32_NT ? 1 : 0;
  if (ReadNumber(p, kResetKey, "1") == 1) return Reset(p, settings);
  return Load(p, settings, true);
}

void ReloadSettings(TrayPlatform& p, TraySettings& settings) {
  int32_t ntPlatform = settings.ntPlatform;
  settings = TraySettings{};
  settings.ntPlatform = ntPlatform;
  Load(p, settings, false);
}

void ReportUnsavedSettings(TrayPlatform& p, Hwnd window, const char* programName) {
  // The full path: the file is named relative to the current folder, which
  // the user never sees.
  char path[w32::MAX_PATH] = {};
  uint32_t length = p.GetFullPathNameA(kSettingsFile, sizeof path, path);
  if (length == 0 || length >= sizeof path) std::snprintf(path, sizeof path, "%s", kSettingsFile + 2);
  char text[w32::MAX_PATH + 256];
  std::snprintf(text, sizeof text, kUnsavedText, path);
  p.MessageBoxA(window, text, programName, w32::MB_OK | w32::MB_ICONEXCLAMATION);
}

}  // namespace tavik::tray
