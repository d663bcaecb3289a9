#include <gtest/gtest.h>

#include "sim/scenario.h"

namespace tavik::sim {
namespace {

std::string ErrorOf(const std::string& text) { return ParseScenarios("t.scn", text).error; }

TEST(ScenarioParse, MalformedLinesAreNamedByFileAndLine) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"tap at\nfrobnicate\n", "t.scn:2: unknown word 'frobnicate'"},
      {"clock 12x\n", "t.scn:1: bad number '12x'"},
      {"clock 99999999999\n", "t.scn:1: bad number '99999999999'"},
      {"clock\n", "t.scn:1: missing milliseconds"},
      {"\n\nime-file \"ABC\n", "t.scn:3: unterminated string"},
      {"host \"C:\\q\"\n", "t.scn:1: unknown escape \\q in string"},
      {"host \"\\x4\"\n", "t.scn:1: bad \\x escape in string"},
      {"tap nosuchkey\n", "t.scn:1: unknown key 'nosuchkey'"},
      {"tap 0x100/0x1A\n", "t.scn:1: unknown key '0x100/0x1A'"},
      {"up at repeat\n", "t.scn:1: unknown keystroke option 'repeat'"},
      {"down at code=\n", "t.scn:1: missing number"},
      {"fail ImmGetNothing\n", "t.scn:1: 'ImmGetNothing' is not a call that can be made to fail"},
      {"fail ImmReleaseContext\n", "t.scn:1: 'ImmReleaseContext' is not a call that can be made to fail"},
      {"fail GetFocus 3\n",
       "t.scn:1: only ImmGetCompositionStringA, ImmGetCandidateListA and SetWindowsHookExA take a value"},
      {"async shift\n", "t.scn:1: missing values"},
      {"keystate kana\n", "t.scn:1: missing value"},
      {"clock 0x0x10\n", "t.scn:1: bad number '0x0x10'"},
      {"clock 1e3\n", "t.scn:1: bad number '1e3'"},
      {"host \"\\x+1\"\n", "t.scn:1: bad \\x escape in string"},
      {"set cancelEscUp 1\n", "t.scn:1: unknown word 'cancelEscUp'"},
      {"expect word\n", "t.scn:1: missing word"},
      {"expect delivered\n", "t.scn:1: missing keystrokes (or none)"},
      {"expect delivered at\n", "t.scn:1: expected down:KEY or up:KEY, not 'at'"},
      {"ime attributes 1 2 300\n", "t.scn:1: bad byte '300'"},
      {"toggle capslock maybe\n", "t.scn:1: expected on or off, not 'maybe'"},
      {"tap at\nexpect calls\n  GetFocus\n", "t.scn:2: block has no closing 'end'"},
      {"settings\n[TAVIK]\n", "t.scn:1: block has no closing 'end'"},
      {"hookstart now\n", "t.scn:1: unexpected 'now'"},
      {"# only a comment\n", "t.scn:1: no scenario in file"},
      {"expect count\n", "t.scn:1: missing count"},
      {"expect count 2\n", "t.scn:1: missing call pattern"},
      {"expect count 2 # keybd_event\n", "t.scn:1: missing call pattern"},
      {"expect count -1 GetFocus\n", "t.scn:1: bad count '-1'"},
      {"next-hook-result\n", "t.scn:1: missing result"},
      {"next-hook-result 1 2\n", "t.scn:1: unexpected '2'"},
      {"fail SetWindowsHookExA three\n", "t.scn:1: bad number 'three'"},
      {"setting TORIKESHI KEY\n", "t.scn:1: expected setting KEY=VALUE"},
      {"setting =1\n", "t.scn:1: expected setting KEY=VALUE"},
      {"ime candidates -1\n", "t.scn:1: bad candidate count '-1'"},
      {"ime candidates none size 8\n", "t.scn:1: unexpected 'size'"},
      {"ime candidates 3 size\n", "t.scn:1: missing list size"},
      {"ime candidates 3 sized 8\n", "t.scn:1: unexpected 'sized'"},
      {"ime candidates 3 size -0x80000001\n", "t.scn:1: bad list size '-0x80000001'"},
      {"text abc\n", "t.scn:1: text must be a quoted string"},
      {"expect text abc\n", "t.scn:1: text must be a quoted string"},
      {"expect caret -1\n", "t.scn:1: bad caret offset '-1'"},
      {"expect caret\n", "t.scn:1: missing caret offset"},
      {"host \"\\t\"\n", "t.scn:1: unknown escape \\t in string"},
      {"window w elsewhere\n", "t.scn:1: unknown window option 'elsewhere'"},
      {"window w in\n", "t.scn:1: missing process name"},
      {"window w no-ime in p q\n", "t.scn:1: unexpected 'q'"},
      {"window w in \"\"\n", "t.scn:1: a process needs a name"},
      {"clock 5 at p\n", "t.scn:1: unexpected 'at'"},
      {"keys\n", "t.scn:1: missing keystrokes"},
      {"keys henkan\n", "t.scn:1: expected down:KEY or up:KEY, not 'henkan'"},
      {"keys down:henkan up:nokey\n", "t.scn:1: unknown key 'nokey'"},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorOf(c.text), c.error) << c.text;
}

TEST(ScenarioParse, ScenariosSplitAtTheirTitles) {
  ParseResult r = ParseScenarios("t.scn",
                                 "# header\nscenario one\ntap at\nsettings\n[TAVIK]\nend\nscenario two \"quoted\"\n"
                                 "expect calls\n  GetFocus  # comment\n\nend  # closes the block\n"
                                 "expect call keybd_event(0x1B  # a note\n");
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.scenarios.size(), 2u);
  EXPECT_EQ(r.scenarios[0].title, "one");
  EXPECT_EQ(r.scenarios[0].line, 2);
  ASSERT_EQ(r.scenarios[0].commands.size(), 2u);
  EXPECT_EQ(std::get<cmd::Settings>(r.scenarios[0].commands[1].command).lines, std::vector<std::string>{"[TAVIK]"});
  EXPECT_EQ(r.scenarios[1].title, "two \"quoted\"");
  EXPECT_EQ(std::get<cmd::ExpectCalls>(r.scenarios[1].commands[0].command).patterns,
            std::vector<std::string>{"GetFocus"});
  EXPECT_EQ(std::get<cmd::ExpectCall>(r.scenarios[1].commands[1].command).pattern, "keybd_event(0x1B");
}

// The value is what the settings file gets: nothing of it is a token, a
// string or a comment.
TEST(ScenarioParse, SettingLinesAreTakenAsWritten) {
  struct Case {
    const char* line;
    const char* key;
    const char* value;
  };
  const Case cases[] = {
      {"setting TORIKESHI KEY=1", "TORIKESHI KEY", "1"},
      {"  setting\t IME ON = 1  \r", "IME ON", " 1  "},
      {"setting VELTO=\"1\"", "VELTO", "\"1\""},
      {"setting VELTO=\"1", "VELTO", "\"1"},
      {"setting VELTO=1 # not a comment", "VELTO", "1 # not a comment"},
      {"setting VELTO=a=b\\x41", "VELTO", "a=b\\x41"},
      {"setting VELTO=", "VELTO", ""},
  };
  for (const Case& c : cases) {
    ParseResult r = ParseScenarios("t.scn", std::string(c.line) + "\n");
    ASSERT_EQ(r.error, "") << c.line;
    const auto& setting = std::get<cmd::Setting>(r.scenarios[0].commands[0].command);
    EXPECT_EQ(setting.key, c.key) << c.line;
    EXPECT_EQ(setting.value, c.value) << c.line;
  }
  // Only the word itself starts a setting line.
  EXPECT_EQ(ErrorOf("settingx A=1\n"), "t.scn:1: unknown word 'settingx'");
  EXPECT_TRUE(std::holds_alternative<cmd::Settings>(ParseScenarios("t.scn", "settings\nend\n").scenarios[0].commands[0].command));
}

TEST(ScenarioParse, WindowsAndClocksNameTheirProcessOnlyWhenTold) {
  ParseResult r = ParseScenarios("t.scn",
                                 "window a\nwindow b no-ime in \"second one\"\nwindow c in p\nclock 5\nclock 6 in p\n");
  ASSERT_EQ(r.error, "");
  const auto& c = r.scenarios[0].commands;
  EXPECT_EQ(std::get<cmd::Window>(c[0].command).process, std::nullopt);
  EXPECT_FALSE(std::get<cmd::Window>(c[1].command).hasIme);
  EXPECT_EQ(std::get<cmd::Window>(c[1].command).process, "second one");
  EXPECT_TRUE(std::get<cmd::Window>(c[2].command).hasIme);
  EXPECT_EQ(std::get<cmd::Window>(c[2].command).process, "p");
  EXPECT_EQ(std::get<cmd::Clock>(c[3].command).process, std::nullopt);
  EXPECT_EQ(std::get<cmd::Clock>(c[4].command).ms, 6);
  EXPECT_EQ(std::get<cmd::Clock>(c[4].command).process, "p");
}

TEST(ScenarioParse, KeysTakesEveryKeystrokeOfTheLineInOrder) {
  ParseResult r = ParseScenarios("t.scn", "keys down:henkan up:henkan down:0x1D/0x7B  # muhenkan\n");
  ASSERT_EQ(r.error, "");
  const auto& events = std::get<cmd::Keys>(r.scenarios[0].commands[0].command).events;
  ASSERT_EQ(events.size(), 3u);
  EXPECT_FALSE(events[0].up);
  EXPECT_TRUE(events[1].up);
  EXPECT_EQ(events[1].key.vk, 0x1Cu);
  EXPECT_EQ(events[1].key.scanKey, 0x79u);
  EXPECT_FALSE(events[2].up);
  EXPECT_EQ(events[2].key.vk, 0x1Du);
}

TEST(ScenarioParse, TheHooksOwnKeystrokesHaveNames) {
  auto esc = LookUpKey("cancel-esc");
  auto bs = LookUpKey("romaji-bs");
  ASSERT_TRUE(esc && bs);
  EXPECT_EQ(esc->vk, 0x1Bu);
  EXPECT_EQ(esc->scanKey, 0x164u);
  EXPECT_EQ(bs->vk, 0x08u);
  EXPECT_EQ(bs->scanKey, 0x0Eu);
}

TEST(ScenarioRun, SettingValuesReachTheSettingsFileAsWritten) {
  auto flag = [](const std::string& setting) {
    ParseResult r = ParseScenarios("t.scn", setting + "\nhookstart\nexpect word \"TORIKESHI KEY\" 1\n");
    EXPECT_EQ(r.error, "") << setting;
    return RunScenario(r.scenarios[0]).passed;
  };
  EXPECT_TRUE(flag("setting TORIKESHI KEY=\"1\""));  // one pair of quotes goes, as with Windows
  EXPECT_TRUE(flag("setting TORIKESHI KEY=1   "));
  EXPECT_FALSE(flag("setting TORIKESHI KEY=\"1"));
  EXPECT_FALSE(flag("setting TORIKESHI KEY=0 # 1"));
}

TEST(ScenarioParse, StringsCarryAnyByte) {
  ParseResult r = ParseScenarios("t.scn", "ime composition \"\\x83\\x4A\\\\\\\"\"\n");
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(std::get<cmd::ImeComposition>(r.scenarios[0].commands[0].command).bytes, std::string("\x83\x4A\\\"", 4));
}

// Signed or as the DWORD it comes back as: both spell the same size.
TEST(ScenarioParse, ACandidateListsReportedSizeIsAnyThirtyTwoBits) {
  auto sizeOf = [](const std::string& line) {
    ParseResult r = ParseScenarios("t.scn", line + "\n");
    EXPECT_EQ(r.error, "") << line;
    return std::get<cmd::ImeCandidates>(r.scenarios.at(0).commands.at(0).command).size;
  };
  EXPECT_EQ(sizeOf("ime candidates 3"), std::nullopt);
  EXPECT_EQ(sizeOf("ime candidates 3 size 8"), 8);
  EXPECT_EQ(sizeOf("ime candidates 3 size -1"), -1);
  EXPECT_EQ(sizeOf("ime candidates 3 size 0xFFFFFFFF"), -1);
  EXPECT_EQ(sizeOf("ime candidates 0 size -0x80000000"), INT32_MIN);
}

TEST(ScenarioRun, FailedExpectationsFailTheScenarioAndSayWhatWasSeen) {
  ParseResult r = ParseScenarios("t.scn",
                                 "ime open\nime mode 0x9\ntap at\nexpect delivered down:at up:at\n"
                                 "expect word cancelEscDown 1\nexpect call GetFocus\n");
  ASSERT_EQ(r.error, "");
  RunResult run = RunScenario(r.scenarios[0]);
  EXPECT_FALSE(run.passed);
  std::string report;
  for (const std::string& l : run.report) report += l + "\n";
  EXPECT_NE(report.find("FAIL 4: expect delivered down:at up:at  "
                        "(expected down:0xC0/0x1A up:0xC0/0x1A, got down:0x1B/0x164 up:0x1B/0x164)"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("FAIL 5: expect word cancelEscDown 1  (expected 1, got 0)"), std::string::npos) << report;
  EXPECT_NE(report.find("ok   6: expect call GetFocus"), std::string::npos) << report;
}

TEST(ScenarioRun, CallOrderAndPatternsAreEnforced) {
  auto run = [](const std::string& text) {
    ParseResult r = ParseScenarios("t.scn", "ime open\nime mode 0x9\ntap at\n" + text);
    EXPECT_EQ(r.error, "");
    return RunScenario(r.scenarios[0]).passed;
  };
  EXPECT_TRUE(run("expect calls\n  ImmReleaseContext\n  keybd_event(0x1B, 0x64, 0x3\nend\n"));
  EXPECT_FALSE(run("expect calls\n  keybd_event(0x1B, 0x64, 0x3\n  ImmReleaseContext\nend\n"));
  EXPECT_TRUE(run("expect call keybd_event(*, 0x64, 0x3, 0)\n"));
  EXPECT_FALSE(run("expect call keybd_event(*, 0x65\n"));
  EXPECT_FALSE(run("expect call ImmGetContex\n")) << "a bare name matches the whole name only";
  EXPECT_TRUE(run("expect no-call ImmNotifyIME\nexpect ime told none\n"));
  EXPECT_FALSE(run("expect delivered none\n"));
}

}  // namespace
}  // namespace tavik::sim
