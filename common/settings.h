// The settings file shared by the tray program and the hook library: where it
// lives, its keys with all that either program knows about each, and the
// rule that turns a value's text into a flag.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>

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

inline constexpr Setting kNoSetting = kSettingCount;

// The programs tavik leaves alone: a key of the file that no box sets and
// that is no flag, read by the hook library alone. File names without their
// folders, separated by a character no file name can hold.
inline constexpr const char kLeaveAloneKey[] = "DISABLE PROGRAMS";
inline constexpr char kLeaveAloneSeparator = '|';
inline constexpr int8_t kNotInTree = -1;

// The settings dialog's boxes form a tree: a box can be checked only while
// the boxes it depends on are. The tray program holds the file to the same
// tree at start-up, so that the hook library, which reads each key on its
// own, only ever sees combinations the dialog could have made.
struct SettingKey {
  const char* name;          // the key as it stands in the file
  const char* defaultValue;  // used when the file, the section or the key is missing
  Setting parent;            // the box it depends on; kNoSetting: none
  Setting secondParent;      // a second box it also depends on; kNoSetting: none
  bool fileOnly;             // no box: set by editing the file, removed by a reset, read only by the hook library
  bool ntOnly;               // 0 off the NT platform, whatever the file says, and its box disabled there
  int8_t treePlace;          // the tray program's place for it in the tree (kNotInTree for a file-only key)
};

// Every key, in the file's order. The tray program reads the keys at start-up
// and walks the dialog's tree by treePlace instead, every box after the
// boxes it depends on.
inline constexpr SettingKey kSettingKeys[kSettingCount] = {
    // name                      default parent               second parent  file   NT     tree
    {"TORIKESHI KEY",             "1", kNoSetting,          kNoSetting,   false, false, 0},
    {"CAPSLOCK ON",               "1", kNoSetting,          kNoSetting,   false, false, 1},
    {"CAPSLOCK OFF",              "1", kNoSetting,          kNoSetting,   false, false, 2},
    {"ROMAJI BACKSPACE",          "1", kNoSetting,          kNoSetting,   false, true,  3},
    {"KATAKANA KEY",              "0", kCapsLockOn,         kCapsLockOff, false, false, 4},
    {"ROMAJI ONOFF",              "0", kNoSetting,          kNoSetting,   false, false, 5},
    {"IMEOFF TORIKESHI",          "0", kTorikeshiKey,       kNoSetting,   false, false, 6},
    {"CANNOT OPEN IME",           "0", kImeOffTorikeshi,    kNoSetting,   false, false, 7},
    {"IME ONOFF",                 "0", kNoSetting,          kNoSetting,   false, false, 8},
    {"IME CONFIG",                "0", kImeOnOff,           kNoSetting,   false, false, 9},
    {"IME ON",                    "0", kImeOnOff,           kNoSetting,   false, false, 10},
    {"HANKAKU KANA",              "0", kImeOn,              kNoSetting,   false, false, 11},
    {"IME OFF1",                  "0", kImeOn,              kNoSetting,   false, false, 12},
    {"IME OFF2",                  "0", kImeOff1,            kNoSetting,   false, false, 13},
    {"KANA TO EIJI CAPSLOCK",     "0", kKatakanaKey,        kNoSetting,   false, false, 15},
    {"KANA TO EIJI CAPSLOCK OFF", "0", kKanaToEijiCapsLock, kNoSetting,   false, false, 16},
    {"OASYS KAKUTEI",             "0", kNoSetting,          kNoSetting,   false, false, 17},
    {"KAKUTEI INPUT",             "0", kOasysKakutei,       kNoSetting,   false, false, 20},
    {"NUMBER KAKUTEI",            "0", kKakuteiInput,       kNoSetting,   false, false, 21},
    {"VELTO",                     "0", kNoSetting,          kNoSetting,   true,  false, kNotInTree},
    {"IME2007",                   "0", kNoSetting,          kNoSetting,   true,  false, kNotInTree},
    {"BACKSPACE PRIORITY",        "0", kNoSetting,          kNoSetting,   true,  false, kNotInTree},
    {"OASYS DISABLE IME OFF",     "0", kImeOff1,            kNoSetting,   false, false, 14},
    {"IE DISABLE TORIKESHI",      "0", kNoSetting,          kNoSetting,   false, false, 22},
    {"IE DISABLE ESC",            "0", kIeDisableTorikeshi, kNoSetting,   false, false, 23},
    {"KAKUTEI TATEGAKI",          "0", kOasysKakutei,       kNoSetting,   false, false, 18},
    {"KAKUTEI NOT CR",            "0", kOasysKakutei,       kNoSetting,   false, false, 19},
};

inline constexpr int kDialogSettingCount = [] {
  int n = 0;
  for (const SettingKey& key : kSettingKeys) n += key.fileOnly ? 0 : 1;
  return n;
}();

// The keys with a box, by their place in the tree. A place outside the
// tree's size does not compile.
inline constexpr std::array<Setting, kDialogSettingCount> kSettingsInTreeOrder = [] {
  std::array<Setting, kDialogSettingCount> order{};
  order.fill(kNoSetting);
  for (int i = 0; i < kSettingCount; ++i) {
    if (!kSettingKeys[i].fileOnly) order[kSettingKeys[i].treePlace] = static_cast<Setting>(i);
  }
  return order;
}();

// The table's rows must agree with each other: every box has its own place,
// a file-only key none, and a parent is a box placed before its children, so
// that one walk down the tree settles the parents before the children.
inline constexpr bool kSettingTreeHolds = [] {
  for (Setting key : kSettingsInTreeOrder) {
    if (key == kNoSetting) return false;
  }
  for (const SettingKey& key : kSettingKeys) {
    if (key.fileOnly != (key.treePlace == kNotInTree)) return false;
    for (Setting parent : {key.parent, key.secondParent}) {
      if (parent == kNoSetting) continue;
      if (key.fileOnly || kSettingKeys[parent].fileOnly || kSettingKeys[parent].treePlace >= key.treePlace) {
        return false;
      }
    }
  }
  return true;
}();
static_assert(kSettingTreeHolds, "a setting's tree place or parent does not fit the tree");

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
