#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "hook/shared_block.h"
#include "sim/desktop.h"

namespace tavik {
namespace {

using sim::Desktop;

// The UnhookWindowsHookEx calls HookEnd makes, in order, and one of them.
std::vector<sim::PlatformCall> Unhooks(const Desktop& desktop) {
  std::vector<sim::PlatformCall> out = desktop.Calls();
  std::erase_if(out, [](const sim::PlatformCall& c) { return c.function != "UnhookWindowsHookEx"; });
  return out;
}
sim::PlatformCall Unhook(Hhook h, uint64_t result = 1) {
  return {"UnhookWindowsHookEx", {sim::Named{Desktop::Name(h)}}, sim::Number{result}};
}

class HookStartTest : public ::testing::Test {
 protected:
  int32_t Start() { return HookStart(desktop, block, sim::kModuleInstance, sim::kKeyboardProcToken, sim::kMessageProcToken); }
  void Settings(const std::string& text) { desktop.profiles().SetFile(kSettingsFile, text); }

  Desktop desktop;
  HookSharedBlock block{};
};

TEST_F(HookStartTest, NoSettingsFileGivesExactlyTheFourDefaultFlags) {
  EXPECT_EQ(Start(), 0);
  for (int i = 0; i < kSettingCount; ++i) {
    bool defaultOn = i == kTorikeshiKey || i == kCapsLockOn || i == kCapsLockOff || i == kRomajiBackspace;
    EXPECT_EQ(block.flag[i], defaultOn ? 1 : 0) << kSettingKeys[i].name;
  }
  EXPECT_FALSE(IsNull(block.KeyboardHook()));
  EXPECT_TRUE(IsNull(block.MessageHook()));
  EXPECT_TRUE(desktop.HookInstalled(w32::WH_KEYBOARD));
  EXPECT_FALSE(desktop.HookInstalled(w32::WH_GETMESSAGE));
}

TEST_F(HookStartTest, ReadsEveryKeyInTableOrderFromTheSettingsFile) {
  Start();
  int next = 0;
  for (const sim::PlatformCall& c : desktop.Calls()) {
    if (c.function != "GetPrivateProfileStringA" || c.arguments.at(1) == sim::Value{sim::Text{kLeaveAloneKey}}) continue;
    ASSERT_LT(next, kSettingCount);
    const SettingKey& key = kSettingKeys[next++];
    EXPECT_EQ(c.arguments, (std::vector<sim::Value>{sim::Text{"TAVIK"}, sim::Text{key.name}, sim::Text{key.defaultValue},
                                                    sim::Named{"buf"}, sim::Number{0x100}, sim::Text{".\\tavik.ini"}}));
  }
  EXPECT_EQ(next, kSettingCount);
}

TEST_F(HookStartTest, OnlyThisLibrarysOwnHandlesAreWrittenAndRemoved) {
  // The other bitness's library keeps its hooks in the other pair of the
  // same block; starting and ending ours must leave them alone.
  const int other = 1 - kThisLibrary;
  block.hooks[other] = HookHandles{0x1234, 0x5678};
  Settings("[TAVIK]\r\nOASYS KAKUTEI=1\r\nKAKUTEI INPUT=1\r\n");
  Start();
  EXPECT_NE(block.hooks[kThisLibrary].keyboard, 0u);
  EXPECT_NE(block.hooks[kThisLibrary].message, 0u);
  EXPECT_EQ(block.hooks[other].keyboard, 0x1234u);
  EXPECT_EQ(block.hooks[other].message, 0x5678u);
  HookEnd(desktop, block);
  EXPECT_EQ(block.hooks[kThisLibrary].keyboard, 0u);
  EXPECT_EQ(block.hooks[kThisLibrary].message, 0u);
  EXPECT_EQ(block.hooks[other].keyboard, 0x1234u);
  EXPECT_EQ(block.hooks[other].message, 0x5678u);
  for (const sim::PlatformCall& c : Unhooks(desktop)) EXPECT_NE(c.arguments, Unhook(Hhook{0x1234}).arguments);
}

TEST_F(HookStartTest, EachFlagFollowsItsOwnKey) {
  // Turning one key on at a time catches a table and block that disagree.
  for (int on = 0; on < kSettingCount; ++on) {
    std::string text = "[TAVIK]\r\n";
    for (int i = 0; i < kSettingCount; ++i) text += std::string(kSettingKeys[i].name) + (i == on ? "=1\r\n" : "=0\r\n");
    Settings(text);
    Start();
    HookEnd(desktop, block);
    for (int i = 0; i < kSettingCount; ++i) EXPECT_EQ(block.flag[i], i == on ? 1 : 0) << kSettingKeys[i].name;
  }
}

TEST_F(HookStartTest, ValuesFollowTheReadingRule) {
  Settings(
      "[TAVIK]\r\nTORIKESHI KEY=2\r\nCAPSLOCK ON=\r\nCAPSLOCK OFF= 1\r\nROMAJI BACKSPACE=1 \r\n"
      "KATAKANA KEY=01\r\nROMAJI ONOFF=1x\r\nIMEOFF TORIKESHI=99999999999999999999\r\nCANNOT OPEN IME=-1\r\n"
      "IME ONOFF=on\r\nIME CONFIG=+1\r\n");
  Start();
  EXPECT_EQ(block.flag[kTorikeshiKey], 0);
  EXPECT_EQ(block.flag[kCapsLockOn], 0) << "present and empty is not the default";
  EXPECT_EQ(block.flag[kCapsLockOff], 1);
  EXPECT_EQ(block.flag[kRomajiBackspace], 1);
  EXPECT_EQ(block.flag[kKatakanaKey], 1);
  EXPECT_EQ(block.flag[kRomajiOnOff], 1);
  EXPECT_EQ(block.flag[kImeOffTorikeshi], 0);
  EXPECT_EQ(block.flag[kCannotOpenIme], 0);
  EXPECT_EQ(block.flag[kImeOnOff], 0);
  EXPECT_EQ(block.flag[kImeConfig], 1);
}

TEST_F(HookStartTest, LongLinesAndJunkNeverCrashTheReader) {
  std::string junk(5000, '\xFF');
  Settings("[TAVIK]\r\nTORIKESHI KEY=" + std::string(300, '0') + "1\r\n" + junk + "\r\nCAPSLOCK ON=1" +
           std::string(400, ' ') + "\r\n");
  Start();
  // 255 characters kept: 255 zeros, so the trailing 1 is cut off.
  EXPECT_EQ(block.flag[kTorikeshiKey], 0);
  EXPECT_EQ(block.flag[kCapsLockOn], 1);
  Settings("");
  HookEnd(desktop, block);
  Start();
  EXPECT_EQ(block.flag[kTorikeshiKey], 1) << "an empty file gives the defaults";
}

TEST_F(HookStartTest, DirectCommitInputInstallsBothHooksAndReturnsTheMessageHook) {
  Settings("[TAVIK]\r\nKAKUTEI INPUT=1\r\n");
  int32_t result = Start();
  EXPECT_FALSE(IsNull(block.MessageHook()));
  EXPECT_EQ(result, static_cast<int32_t>(block.MessageHook()));
  EXPECT_NE(block.MessageHook(), block.KeyboardHook());
  EXPECT_TRUE(desktop.HookInstalled(w32::WH_GETMESSAGE));

  HookEnd(desktop, block);
  EXPECT_TRUE(IsNull(block.KeyboardHook()));
  EXPECT_TRUE(IsNull(block.MessageHook()));
  EXPECT_FALSE(desktop.HookInstalled(w32::WH_KEYBOARD));
  EXPECT_FALSE(desktop.HookInstalled(w32::WH_GETMESSAGE));
}

TEST_F(HookStartTest, FailedMessageHookIsReportedAsZero) {
  Settings("[TAVIK]\r\nKAKUTEI INPUT=1\r\n");
  desktop.Fail("SetWindowsHookExA");
  EXPECT_EQ(Start(), 0);
  EXPECT_TRUE(IsNull(block.KeyboardHook()));
  EXPECT_TRUE(IsNull(block.MessageHook()));
  HookEnd(desktop, block);  // unhooking nothing is harmless
}

TEST_F(HookStartTest, StartClearsRuntimeWordsButStopKeepsThem) {
  Start();
  // Every word by its name, and the block's layout as both Windows builds
  // share it: the words follow two pairs of 64-bit hook handles and the 27
  // flags, in the order named.
  std::vector<int32_t*> words;
  for (const RuntimeWordName& w : kRuntimeWords) words.push_back(&w.word(block.runtime));
  const char* const names[] = {"cancelEscDown",      "leftShiftDown",      "backspaceSubstituted", "spaceResent",
                               "enterResent",        "backwardKeyResent",  "forwardKeyResent",     "lineKeyResent",
                               "homeEndResent",      "pageKeyResent",      "tabResent",            "insertDeleteResent",
                               "backspaceResent",    "commitAsTyped",      "katakanaRecheck",      "revertOnComposition",
                               "conversionKeyArmed", "numericComposition"};
  ASSERT_EQ(words.size(), std::size(names));
  for (size_t i = 0; i < words.size(); ++i) {
    EXPECT_STREQ(kRuntimeWords[i].name, names[i]);
    EXPECT_EQ(reinterpret_cast<char*>(words[i]) - reinterpret_cast<char*>(&block),
              static_cast<std::ptrdiff_t>(4 * sizeof(uint64_t) + (kSettingCount + i) * sizeof(int32_t)))
        << names[i];
  }
  for (int32_t* w : words) *w = 1;
  HookEnd(desktop, block);
  for (int32_t* w : words) EXPECT_EQ(*w, 1);
  Start();
  for (int32_t* w : words) EXPECT_EQ(*w, 0);
}

TEST_F(HookStartTest, HookEndUnhooksTheKeyboardHookEvenWhenNoneIsSet) {
  HookEnd(desktop, block);
  EXPECT_EQ(Unhooks(desktop), std::vector<sim::PlatformCall>{Unhook(Hhook{}, 0)})
      << "no message hook was installed, so none is unhooked";
}

TEST_F(HookStartTest, HookEndUnhooksTheMessageHookOnlyWhenOneWasInstalled) {
  Start();
  HookEnd(desktop, block);
  EXPECT_EQ(Unhooks(desktop), std::vector<sim::PlatformCall>{Unhook(Hhook{1})});

  Desktop second;
  second.profiles().SetFile(kSettingsFile, "[TAVIK]\r\nKAKUTEI INPUT=1\r\n");
  HookStart(second, block, sim::kModuleInstance, sim::kKeyboardProcToken, sim::kMessageProcToken);
  HookEnd(second, block);
  EXPECT_EQ(Unhooks(second), (std::vector<sim::PlatformCall>{Unhook(Hhook{1}), Unhook(Hhook{2})}));
}

// The programs to leave alone: whole names only, blanks around them dropped,
// compared without regard to the case of single-byte letters and anew after
// each start.
TEST_F(HookStartTest, ProgramsToLeaveAloneAreWholeNamesComparedAsWindowsComparesThem) {
  std::string many;
  for (int i = 0; i < 100; ++i) many += "program-" + std::to_string(100 + i) + ".exe|";
  const struct {
    std::string list;
    const char* exe;
    bool leftAlone;
  } kCases[] = {
      {" notepad.exe |\tGAME.EXE ||", "game.exe", true},
      {"game.exe", "Game.Exe", true},
      {"game.exe", "game.ex", false},
      {"game", "game.exe", false},
      {"\x83\x41.exe", "\x83\x61.exe", false},  // ア and ボ differ in a second byte that looks like a letter
      {"\x83\x41.exe", "\x83\x41.EXE", true},
      {"x.exe", "", false},                    // a name that could not be read is no program's
      {many + "game.exe", "game.exe", false},  // past the room the block has
      {many, "program-150.exe", true},
  };
  for (const auto& c : kCases) {
    Settings("[TAVIK]\r\nDISABLE PROGRAMS=" + c.list + "\r\n");
    Start();
    ProcessVariables process;
    std::strcpy(process.exeName, c.exe);
    EXPECT_EQ(LeftAlone(block, process), c.leftAlone) << c.list.substr(0, 40) << " / " << c.exe;
    std::string kept = block.leftAlone.names;
    EXPECT_LT(kept.size(), ProgramsLeftAlone::kSize);
    EXPECT_TRUE(kept.empty() || kept.back() == 'e' || kept.back() == 'E') << "a name cut short: " << kept;
    HookEnd(desktop, block);
  }

  // A program compared once is compared again after the next start.
  Settings("[TAVIK]\r\nDISABLE PROGRAMS=game.exe\r\n");
  Start();
  ProcessVariables process;
  std::strcpy(process.exeName, "game.exe");
  EXPECT_TRUE(LeftAlone(block, process));
  HookEnd(desktop, block);
  Settings("[TAVIK]\r\nDISABLE PROGRAMS=notepad.exe\r\n");
  Start();
  EXPECT_FALSE(LeftAlone(block, process));
}

}  // namespace
}  // namespace tavik
