#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>

#include "common/settings.h"

namespace tavik {
namespace {

TEST(ReadingRule, TextsThatTurnAFlagOn) {
  for (const char* text : {"1", " 1", "\t1", "01", "001", "1x", "+1", "1 ", "1.9", "  +01abc", "\v1", "\f1", "\r1",
                           "\n1", " \t\n\v\f\r+1"}) {
    EXPECT_EQ(SettingFlagFromText(text), 1) << '"' << text << '"';
  }
}

TEST(ReadingRule, TextsThatLeaveItOff) {
  for (const char* text : {"0", "2", "-1", "on", "", " ", "x1", "+-1", "- 1", "11", "10", "0x1",
                           "99999999999999999999", "-99999999999999999999", "4294967297"}) {
    EXPECT_EQ(SettingFlagFromText(text), 0) << '"' << text << '"';
  }
}

TEST(ReadingRule, NumbersSaturateInsteadOfOverflowing) {
  EXPECT_EQ(ParseSettingNumber("2147483647"), 2147483647);
  EXPECT_EQ(ParseSettingNumber("2147483648"), INT32_MAX);
  EXPECT_EQ(ParseSettingNumber("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseSettingNumber("-2147483649"), INT32_MIN);
  // Far more digits than any integer holds, which naive accumulation would
  // overflow (and wrap back to 1 for some inputs).
  std::string huge(300, '9');
  EXPECT_EQ(ParseSettingNumber(huge.c_str()), INT32_MAX);
  EXPECT_EQ(ParseSettingNumber(nullptr), 0);
}

// Written out rather than read back from the table: the tray program writes
// these names and users edit them, so a misspelt or moved key must show here.
TEST(SettingKeys, EveryKeyByNameInFileOrderWithItsDefault) {
  constexpr const char* kNames[] = {"TORIKESHI KEY",
                                    "CAPSLOCK ON",
                                    "CAPSLOCK OFF",
                                    "ROMAJI BACKSPACE",
                                    "KATAKANA KEY",
                                    "ROMAJI ONOFF",
                                    "IMEOFF TORIKESHI",
                                    "CANNOT OPEN IME",
                                    "IME ONOFF",
                                    "IME CONFIG",
                                    "IME ON",
                                    "HANKAKU KANA",
                                    "IME OFF1",
                                    "IME OFF2",
                                    "KANA TO EIJI CAPSLOCK",
                                    "KANA TO EIJI CAPSLOCK OFF",
                                    "OASYS KAKUTEI",
                                    "KAKUTEI INPUT",
                                    "NUMBER KAKUTEI",
                                    "VELTO",
                                    "IME2007",
                                    "BACKSPACE PRIORITY",
                                    "OASYS DISABLE IME OFF",
                                    "IE DISABLE TORIKESHI",
                                    "IE DISABLE ESC",
                                    "KAKUTEI TATEGAKI",
                                    "KAKUTEI NOT CR"};
  static_assert(std::size(kNames) == kSettingCount);
  for (int i = 0; i < kSettingCount; ++i) {
    EXPECT_STREQ(kSettingKeys[i].name, kNames[i]) << "key " << i;
    EXPECT_STREQ(kSettingKeys[i].defaultValue, i < 4 ? "1" : "0") << kNames[i];
    EXPECT_EQ(FindSetting(kNames[i]), i) << kNames[i];
  }
  // The enumerators the stages use sit where their keys do.
  EXPECT_STREQ(kSettingKeys[kTorikeshiKey].name, "TORIKESHI KEY");
  EXPECT_STREQ(kSettingKeys[kRomajiBackspace].name, "ROMAJI BACKSPACE");
  EXPECT_STREQ(kSettingKeys[kImeOffTorikeshi].name, "IMEOFF TORIKESHI");
  EXPECT_STREQ(kSettingKeys[kCannotOpenIme].name, "CANNOT OPEN IME");
  EXPECT_STREQ(kSettingKeys[kOasysKakutei].name, "OASYS KAKUTEI");
  EXPECT_STREQ(kSettingKeys[kKakuteiInput].name, "KAKUTEI INPUT");
  EXPECT_STREQ(kSettingKeys[kIeDisableTorikeshi].name, "IE DISABLE TORIKESHI");
  EXPECT_STREQ(kSettingKeys[kIeDisableEsc].name, "IE DISABLE ESC");
  EXPECT_STREQ(kSettingKeys[kKakuteiNotCr].name, "KAKUTEI NOT CR");
  EXPECT_EQ(FindSetting("RESET"), kSettingCount);
  EXPECT_EQ(FindSetting("torikeshi key"), kSettingCount);
}

}  // namespace
}  // namespace tavik
