// The settings step at start-up: reset and load against the simulated
// settings file, checked by what was written, in which order, and what the
// file says afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_tray_platform.h"

namespace tavik {
namespace {

using sim::FakeTrayPlatform;
using tray::TraySettings;

class TraySettingsTest : public ::testing::Test {
 protected:
  void File(const std::string& text) { desktop.profiles().SetFile(kSettingsFile, "[TAVIK]\r\n" + text); }

  TraySettings Load(uint32_t platform = w32::VER_PLATFORM_WIN32_NT) {
    tray::OsVersion v{148, platform};
    TraySettings s{};
    desktop.ClearTrace();
    tray::LoadOrResetSettings(desktop, v, s);
    return s;
  }

  std::vector<std::string> Writes() const { return desktop.Calls("WritePrivateProfileStringA"); }

  std::string Value(const char* key) {
    char buffer[256];
    desktop.profiles().GetString(kSettingsSection, key, "<absent>", buffer, sizeof buffer, kSettingsFile);
    return buffer;
  }

  FakeTrayPlatform desktop;
};

std::string W(const char* key, const char* value) {
  std::string quoted = value == nullptr ? "NULL" : std::string("\"").append(value).append("\"");
  return std::string("WritePrivateProfileStringA(\"").append(key).append("\", ").append(quoted).append(")");
}

TEST_F(TraySettingsTest, NoFileIsResetInExactlyThisOrder) {
  TraySettings s = Load();
  std::vector<std::string> want = {
      W("RESET", "0"),
      W("TORIKESHI KEY", "1"),
      W("CAPSLOCK ON", "1"),
      W("CAPSLOCK OFF", "1"),
      W("ROMAJI BACKSPACE", "1"),
      W("KATAKANA KEY", "0"),
      W("ROMAJI ONOFF", "0"),
      W("IMEOFF TORIKESHI", "0"),
      W("CANNOT OPEN IME", "0"),
      W("IME ONOFF", "0"),
      W("IME CONFIG", "0"),
      W("IME ON", "0"),
      W("HANKAKU KANA", "0"),
      W("IME OFF1", "0"),
      W("IME OFF2", "0"),
      W("KANA TO EIJI CAPSLOCK", "0"),
      W("KANA TO EIJI CAPSLOCK OFF", "0"),
      W("OASYS KAKUTEI", "0"),
      W("KAKUTEI INPUT", "0"),
      W("NUMBER KAKUTEI", "0"),
      W("OASYS DISABLE IME OFF", "0"),
      W("IE DISABLE TORIKESHI", "0"),
      W("IE DISABLE ESC", "0"),
      W("KAKUTEI TATEGAKI", "0"),
      W("KAKUTEI NOT CR", "0"),
      W("VELTO", nullptr),
      W("IME2007", nullptr),
      W("BACKSPACE PRIORITY", nullptr),
      W("DISABLE PROGRAMS", nullptr),
  };
  EXPECT_EQ(Writes(), want);
  // Only RESET is read during a reset.
  EXPECT_EQ(desktop.Calls("GetPrivateProfileStringA").size(), 1u);
  EXPECT_EQ(s.ntPlatform, 1);
  for (Setting k : {kTorikeshiKey, kCapsLockOn, kCapsLockOff, kRomajiBackspace}) EXPECT_EQ(s.flag[k], 1) << k;
  EXPECT_EQ(s.flag[kImeOnOff], 0);

  // The next start loads, and writes nothing.
  Load();
  EXPECT_TRUE(Writes().empty());
}

TEST_F(TraySettingsTest, ResetByHandRemovesTheFileOnlyKeysAndOffNtWritesRomajiBackspaceOff) {
  File("RESET=1\r\nVELTO=1\r\nIME2007=1\r\nBACKSPACE PRIORITY=1\r\nIME ONOFF=1\r\nDISABLE PROGRAMS=game.exe\r\n");
  TraySettings s = Load(1);
  EXPECT_EQ(s.ntPlatform, 0);
  EXPECT_EQ(s.flag[kRomajiBackspace], 0);
  EXPECT_EQ(Value("ROMAJI BACKSPACE"), "0");
  EXPECT_EQ(Value("RESET"), "0");
  EXPECT_EQ(Value("IME ONOFF"), "0");
  for (const char* hidden : {"VELTO", "IME2007", "BACKSPACE PRIORITY", "DISABLE PROGRAMS"}) {
    EXPECT_EQ(Value(hidden), "<absent>");
  }
}

TEST_F(TraySettingsTest, ResetOnlyForExactlyOne) {
  for (const char* reset : {"2", "abc", "0", " 1x"}) {
    File(std::string("RESET=") + reset + "\r\nIME ONOFF=1\r\n");
    TraySettings s = Load();
    bool isReset = std::string(reset) == " 1x";
    EXPECT_EQ(s.flag[kImeOnOff], isReset ? 0 : 1) << reset;
    EXPECT_EQ(Writes().empty(), !isReset) << reset;
  }
}

TEST_F(TraySettingsTest, LoadRewritesOnlyNonzeroKeysWhoseConditionFails) {
  File("RESET=0\r\nTORIKESHI KEY=0\r\nIMEOFF TORIKESHI=1\r\nCANNOT OPEN IME=1\r\n");
  TraySettings s = Load();
  EXPECT_EQ(Writes(), (std::vector<std::string>{W("IMEOFF TORIKESHI", "0"), W("CANNOT OPEN IME", "0")}));
  EXPECT_EQ(s.flag[kImeOffTorikeshi], 0);
  EXPECT_EQ(s.flag[kCannotOpenIme], 0);
  EXPECT_EQ(Value("TORIKESHI KEY"), "0");

  // The parent on, the middle key off: only the grandchild is rewritten.
  File("RESET=0\r\nTORIKESHI KEY=1\r\nIMEOFF TORIKESHI=0\r\nCANNOT OPEN IME=1\r\n");
  Load();
  EXPECT_EQ(Writes(), (std::vector<std::string>{W("CANNOT OPEN IME", "0")}));
}

TEST_F(TraySettingsTest, KatakanaKeyNeedsBothCapsLockKeysAndTakesItsChildrenWithIt) {
  File("RESET=0\r\nCAPSLOCK ON=1\r\nCAPSLOCK OFF=0\r\nKATAKANA KEY=1\r\nKANA TO EIJI CAPSLOCK=1\r\n"
       "KANA TO EIJI CAPSLOCK OFF=1\r\n");
  Load();
  EXPECT_EQ(Writes(), (std::vector<std::string>{W("KATAKANA KEY", "0"), W("KANA TO EIJI CAPSLOCK", "0"),
                                                W("KANA TO EIJI CAPSLOCK OFF", "0")}));
  File("RESET=0\r\nCAPSLOCK ON=1\r\nCAPSLOCK OFF=1\r\nKATAKANA KEY=1\r\nKANA TO EIJI CAPSLOCK=1\r\n");
  TraySettings s = Load();
  EXPECT_TRUE(Writes().empty());
  EXPECT_EQ(s.flag[kKanaToEijiCapsLock], 1);
}

TEST_F(TraySettingsTest, StoredValuesOtherThanOneAreLeftButCountAsOff) {
  File("RESET=0\r\nIME ONOFF=2\r\nIME CONFIG=2\r\nIME ON=-1\r\nOASYS KAKUTEI= 1\r\nKAKUTEI INPUT=01\r\n");
  TraySettings s = Load();
  EXPECT_EQ(s.flag[kImeOnOff], 0);
  EXPECT_EQ(Value("IME ONOFF"), "2") << "a key that counts is never rewritten";
  EXPECT_EQ(Writes(), (std::vector<std::string>{W("IME CONFIG", "0"), W("IME ON", "0")}));
  EXPECT_EQ(s.flag[kOasysKakutei], 1);
  EXPECT_EQ(s.flag[kKakuteiInput], 1);
}

TEST_F(TraySettingsTest, LoadNeverWritesOneResetAbsentOrFileOnlyKeys) {
  File("RESET=0\r\nVELTO=1\r\nIME2007=5\r\nBACKSPACE PRIORITY=1\r\nIE DISABLE TORIKESHI=1\r\nTORIKESHI KEY=0\r\n");
  TraySettings s = Load();
  EXPECT_TRUE(Writes().empty());
  EXPECT_EQ(s.flag[kIeDisableTorikeshi], 1) << "the browser's cancel key does not depend on the cancel key";
  for (const std::string& read : desktop.Calls("GetPrivateProfileStringA")) {
    for (const char* hidden : {"\"VELTO\"", "\"IME2007\"", "\"BACKSPACE PRIORITY\""}) {
      EXPECT_EQ(read.find(hidden), std::string::npos) << read;
    }
  }
}

TEST_F(TraySettingsTest, RomajiBackspaceFollowsThePlatform) {
  File("RESET=0\r\nROMAJI BACKSPACE=1\r\n");
  TraySettings s = Load(1);
  EXPECT_EQ(Writes(), (std::vector<std::string>{W("ROMAJI BACKSPACE", "0")}));
  EXPECT_EQ(s.flag[kRomajiBackspace], 0);

  File("RESET=0\r\n");
  s = Load(1);
  EXPECT_TRUE(Writes().empty()) << "an absent key stays absent";
  EXPECT_EQ(Value("ROMAJI BACKSPACE"), "<absent>");
  s = Load();
  EXPECT_EQ(s.flag[kRomajiBackspace], 1) << "on the NT platform an absent key defaults to 1";
}

TEST_F(TraySettingsTest, HostileFilesLoadByTheSameRules) {
  std::string binary = "RESET=0\r\n";
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>(i * 37 % 256 == 0 ? 1 : i * 37 % 256);
  File(binary + "\r\nIME ONOFF=1\r\nIME ONOFF=0\r\nIME CONFIG=" + std::string(100000, '1') + "\r\n");
  TraySettings s = Load();
  EXPECT_EQ(s.flag[kImeOnOff], 1) << "the first of duplicate keys wins";
  EXPECT_EQ(s.flag[kImeConfig], 0) << "a number too large is not 1";
  for (int i = 0; i < kSettingCount; ++i) EXPECT_TRUE(s.flag[i] == 0 || s.flag[i] == 1);
}

}  // namespace
}  // namespace tavik
