#include <gtest/gtest.h>

#include <cstring>

#include "common/settings.h"

namespace tavik {
namespace {

TEST(ReadingRule, TextsThatTurnAFlagOn) {
  for (const char* text : {"1", " 1", "\t1", "01", "001", "1x", "+1", "1 ", "1.9", "  +01abc"}) {
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

TEST(SettingKeys, TableHasEveryKeyOnceWithItsDefault) {
  int defaultOn = 0;
  for (int i = 0; i < kSettingCount; ++i) {
    EXPECT_EQ(FindSetting(kSettingKeys[i].name), i) << kSettingKeys[i].name;
    defaultOn += std::strcmp(kSettingKeys[i].defaultValue, "1") == 0;
  }
  EXPECT_EQ(defaultOn, 4);
  EXPECT_STREQ(kSettingKeys[kTorikeshiKey].name, "TORIKESHI KEY");
  EXPECT_STREQ(kSettingKeys[kKakuteiInput].name, "KAKUTEI INPUT");
  EXPECT_STREQ(kSettingKeys[kKakuteiNotCr].name, "KAKUTEI NOT CR");
  EXPECT_EQ(FindSetting("RESET"), kSettingCount);
  EXPECT_EQ(FindSetting("torikeshi key"), kSettingCount);
}

}  // namespace
}  // namespace tavik
