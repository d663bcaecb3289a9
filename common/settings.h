// The settings file shared by the tray program and the hook library: where it
// lives, the keys it holds (in the order the hook library reads them), and the
// rule that turns a value's text into a flag.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavik {

// Relative on purpose: both programs resolve it against the tray program's
// current directory, so a copy of tavik in another folder keeps its own file.
inline constexpr const char kSettingsFile[] = ".\\tavik.ini";
inline constexpr const char kSettingsSection[] = "TAVIK";

// One flag per key. The numeric order is the order of the keys in the file,
// the order HookStart reads them and the order of the flags in the shared block.
enum Setting : uint8_t {
  kTorikeshiKey,
  kCapsLockOn,
  kCapsLockOff,
  kRomajiBackspace,
  kKatakanaKey,
  kRomajiOnOff,
  kImeOffTorikeshi,
  kCannotOpenIme,
  kImeOnOff,
  kImeConfig,
  kImeOn,
  kHankakuKana,
  kImeOff1,
  kImeOff2,
  kKanaToEijiCapsLock,
  kKanaToEijiCapsLockOff,
  kOasysKakutei,
  kKakuteiInput,
  kNumberKakutei,
  kVelto,
  kIme2007,
  kBackspacePriority,
  kOasysDisableImeOff,
  kIeDisableTorikeshi,
  kIeDisableEsc,
  kKakuteiTategaki,
  kKakuteiNotCr,
  kSettingCount
};

struct SettingKey {
  const char* name;          // the key as it stands in the file
  const char* defaultValue;  // used when the file, the section or the key is missing
};

extern const SettingKey kSettingKeys[kSettingCount];

// The value's text read as the C library's atoi reads it (leading white space,
// an optional sign, decimal digits up to the first other character, 0 when
// there are none), except that a number too large for 32 bits saturates
// instead of being undefined.
int32_t ParseSettingNumber(const char* text);

// 1 when the text reads as exactly the number 1, 0 for anything else.
int32_t SettingFlagFromText(const char* text);

// Finds a key by its exact name; kSettingCount when there is none.
Setting FindSetting(const char* name);

}  // namespace tavik
