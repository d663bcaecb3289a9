// The interpreter on a desktop that only records what it is asked: what a
// desktop declares it cannot do, and how a desktop that breaks is reported,
// must come out the same for the simulated and the real desktop.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "sim/scenario_desktop.h"

namespace tavik::sim {
namespace {

class RecordingDesktop final : public ScenarioDesktop {
 public:
  const char* CannotDo(const Command& c) const override { return cannot ? cannot(c) : nullptr; }
  void Begin() override {
    log.push_back("begin");
    if (beginFails) throw DesktopFailure("the target program is gone", false);
  }
  std::vector<std::string> End() override {
    log.push_back("end");
    return endProblems;
  }

  void Arrange(const cmd::Settings&) override { log.push_back("settings"); }
  void Arrange(const cmd::Setting&) override { log.push_back("setting"); }
  void Arrange(const cmd::NoSettings&) override {}
  void Arrange(const cmd::Window&) override {}
  void Arrange(const cmd::Focus&) override {}
  void Arrange(const cmd::ImeOpen&) override { log.push_back("ime open"); }
  void Arrange(const cmd::ImeMode&) override {}
  void Arrange(const cmd::ImeComposition&) override {}
  void Arrange(const cmd::ImeAttributes&) override {}
  void Arrange(const cmd::ImeCandidates&) override {}
  void Arrange(const cmd::ImeFile&) override {}
  void Arrange(const cmd::Host&) override {}
  void Arrange(const cmd::Hold&) override {}
  void Arrange(const cmd::PressedSince&) override {}
  void Arrange(const cmd::Toggle&) override {}
  void Arrange(const cmd::Async&) override {}
  void Arrange(const cmd::KeyState&) override {}
  void Arrange(const cmd::Clock&) override { log.push_back("clock"); }
  void Arrange(const cmd::Fail&) override {}
  void Arrange(const cmd::Restore&) override {}
  void Arrange(const cmd::NextHookResult&) override {}
  void Arrange(const cmd::Set&) override {}
  void Arrange(const cmd::Text&) override {}

  void BeginStep() override { log.push_back("step"); }
  intptr_t HookStart() override {
    log.push_back("hookstart");
    return 0;
  }
  void HookEnd() override { log.push_back("hookend"); }
  intptr_t Type(const std::vector<cmd::Key>& keys) override {
    std::string typed = "type";
    for (const cmd::Key& k : keys) typed += std::string(k.event.up ? " up:" : " down:") + std::to_string(k.event.key.vk);
    log.push_back(typed);
    if (typing) typing();
    return result;
  }
  intptr_t CallHook(const cmd::Hook&) override { return result; }
  intptr_t RetrieveMessage(const cmd::Message&) override { return result; }

  std::vector<PlatformCall> StepCalls() override { return calls; }
  std::vector<KeyEvent> StepDelivered() override { return delivered; }
  std::vector<ImeTold> StepImeTold() override { return told; }
  int64_t Word(const std::string&) override { return word; }
  ImeState Ime() override { return ime; }
  std::string Committed() override { return committed; }
  bool Toggled(const KeyId&) override { return toggled; }
  AppText Text() override { return text; }

  std::function<const char*(const Command&)> cannot;
  std::function<void()> typing;
  bool beginFails = false;
  std::vector<std::string> endProblems;
  std::vector<std::string> log;
  intptr_t result = 0;
  std::vector<PlatformCall> calls;
  std::vector<KeyEvent> delivered;
  std::vector<ImeTold> told;
  int64_t word = 0;
  ImeState ime;
  std::string committed;
  bool toggled = false;
  AppText text;
};

struct Report {
  Verdict verdict;
  std::vector<std::string> report;
  bool Has(const std::string& line) const {
    for (const std::string& l : report) {
      if (l == line) return true;
    }
    return false;
  }
};

Report Interpret(const std::string& text, RecordingDesktop& desktop) {
  ParseResult parsed = ParseScenarios("t.scn", text);
  EXPECT_EQ(parsed.error, "");
  Report run{Verdict::kFailed, {}};
  run.verdict = tavik::sim::Interpret(parsed.scenarios.at(0), desktop,
                                      [&run](const std::string& line) { run.report.push_back(line); });
  return run;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

TEST(ScenarioInterpret, ACommandTheDesktopCannotDoSkipsTheWholeScenarioUntouched) {
  RecordingDesktop desktop;
  desktop.cannot = [](const Command& c) -> const char* {
    return std::holds_alternative<cmd::Clock>(c) ? "sets the clock" : nullptr;
  };
  Report run = Interpret("scenario late clock\nime open\ntap a\nclock 5\nexpect passed\n", desktop);
  EXPECT_EQ(run.verdict, Verdict::kSkipped);
  EXPECT_EQ(run.report, (std::vector<std::string>{"=== late clock (t.scn:1)",
                                                  "SIMULATOR ONLY late clock: line 4 sets the clock"}));
  EXPECT_TRUE(desktop.log.empty()) << Joined(desktop.log);
}

TEST(ScenarioInterpret, AnExpectationTheDesktopCannotSeeIsShownUncheckedAndPasses) {
  RecordingDesktop desktop;
  desktop.result = 1;  // would fail "expect passed" if it were checked
  desktop.cannot = [](const Command& c) -> const char* {
    return std::holds_alternative<cmd::ExpectPassed>(c) ? "not observable here" : nullptr;
  };
  Report run = Interpret("tap a\nexpect passed   \nexpect swallowed\n", desktop);
  EXPECT_EQ(run.verdict, Verdict::kPassed) << Joined(run.report);
  EXPECT_TRUE(run.Has("  --   2: expect passed  (not observable here)")) << Joined(run.report);
  EXPECT_TRUE(run.Has("  ok   3: expect swallowed")) << Joined(run.report);
}

TEST(ScenarioInterpret, HooksStartOnceForTheFirstKeystrokeAndStepsAreMarked) {
  RecordingDesktop desktop;
  Report run = Interpret("ime open\ntap a\nhookend\ndown 0x10/0x2A\n", desktop);
  EXPECT_EQ(desktop.log, (std::vector<std::string>{"begin", "ime open", "hookstart", "step", "type down:65 up:65",
                                                   "step", "hookend", "step", "type down:16", "end"}));
  EXPECT_EQ(run.report, (std::vector<std::string>{"=== t.scn (t.scn:1)", "> HookStart (before the first keystroke)",
                                                  "> 2: tap a", "> 3: hookend", "> 4: down 0x10/0x2A", "PASS t.scn"}));
}

// On the real desktop one Type call is one SendInput batch: keystrokes that
// must come within milliseconds of each other go in one.
TEST(ScenarioInterpret, KeysTypesAllItsKeystrokesInOneStep) {
  RecordingDesktop desktop;
  desktop.result = 7;
  Report run = Interpret("keys down:henkan up:henkan down:henkan\nexpect result 7\n", desktop);
  EXPECT_EQ(desktop.log, (std::vector<std::string>{"begin", "hookstart", "step", "type down:28 up:28 down:28", "end"}));
  EXPECT_TRUE(run.Has("  ok   2: expect result 7")) << Joined(run.report);
}

TEST(ScenarioInterpret, ADesktopFailureFailsTheScenarioAndStopsItOnlyWhenTheDesktopCannotGoOn) {
  for (bool goesOn : {false, true}) {
    RecordingDesktop desktop;
    desktop.endProblems = {"invariant: something left"};
    desktop.typing = [goesOn] { throw DesktopFailure("the target did not take the keystrokes", goesOn); };
    Report run = Interpret("tap a\nclock 1\n", desktop);
    EXPECT_EQ(run.verdict, Verdict::kFailed);
    EXPECT_TRUE(run.Has("  FAIL the target did not take the keystrokes")) << Joined(run.report);
    EXPECT_TRUE(run.Has("  FAIL invariant: something left")) << Joined(run.report);
    EXPECT_EQ(run.report.back(), "FAIL t.scn (2 failed)");
    bool clocked = std::find(desktop.log.begin(), desktop.log.end(), "clock") != desktop.log.end();
    EXPECT_EQ(clocked, goesOn);
    EXPECT_EQ(desktop.log.back(), "end") << "a desktop that broke is still cleaned up";
  }
}

TEST(ScenarioInterpret, ADesktopThatCannotBeginRunsNoCommandButIsCleanedUp) {
  RecordingDesktop desktop;
  desktop.beginFails = true;
  Report run = Interpret("ime open\ntap a\n", desktop);
  EXPECT_EQ(run.verdict, Verdict::kFailed);
  EXPECT_TRUE(run.Has("  FAIL the target program is gone")) << Joined(run.report);
  EXPECT_EQ(desktop.log, (std::vector<std::string>{"begin", "end"}));
}

TEST(ScenarioInterpret, FailuresShowWhatWasExpectedBesideWhatWasFound) {
  RecordingDesktop desktop;
  desktop.result = -2;
  auto send = [](uint64_t f) { return PlatformCall{"keybd_event", {Number{0x1B}, Number{0x64}, Number{f}, Number{0}}}; };
  desktop.calls = {{"GetFocus", {}, Named{"editor"}}, send(1), send(3)};
  desktop.delivered = {KeyEvent{{0x1B, 0x164}, false}};
  desktop.told = {{1}};  // CPS_COMPLETE
  desktop.word = 3;
  desktop.ime = ImeState{false, 0x19, "\x82\xA0", std::string(2, '\0')};
  desktop.committed = "ab";
  desktop.text = AppText{"a\n\x82\xA0\"", 2};
  const std::pair<const char*, const char*> cases[] = {
      {"expect passed", "FAIL 3: expect passed  (expected 0, got -0x2)"},
      {"expect result 2", "FAIL 4: expect result 2  (expected 0x2, got -0x2)"},
      {"expect call ImmGetContext", "FAIL 5: expect call ImmGetContext  (expected such a call, got no such call)"},
      {"expect no-call keybd_event(*, 0x3",
       "FAIL 6: expect no-call keybd_event(*, 0x3  (expected no such call, got keybd_event(0x1B, 0x64, 0x3, 0))"},
      {"expect count 1 keybd_event", "FAIL 7: expect count 1 keybd_event  (expected 1, got 2)"},
      {"expect delivered down:cancel-esc up:cancel-esc",
       "FAIL 8: expect delivered down:cancel-esc up:cancel-esc  "
       "(expected down:0x1B/0x164 up:0x1B/0x164, got down:0x1B/0x164)"},
      {"expect word cancelEscDown 1", "FAIL 9: expect word cancelEscDown 1  (expected 1, got 3)"},
      {"expect ime open", "FAIL 10: expect ime open  (expected open, got closed)"},
      {"expect ime mode 0x9", "FAIL 11: expect ime mode 0x9  (expected 0x9, got 0x19)"},
      {"expect ime composition none", "FAIL 12: expect ime composition none  (expected none, got 82 A0)"},
      {"expect ime attributes 1 1", "FAIL 13: expect ime attributes 1 1  (expected 01 01, got 00 00)"},
      {"expect ime told none", "FAIL 14: expect ime told none  (expected none, got complete)"},
      {"expect committed \"a\"", "FAIL 15: expect committed \"a\"  (expected \"a\", got \"ab\")"},
      {"expect toggled capslock on", "FAIL 16: expect toggled capslock on  (expected on, got off)"},
      {"expect calls\n  keybd_event(*, 0x3\n  GetFocus\nend",
       "FAIL 17: expect calls  (expected 'GetFocus' after the calls before it, got no such call)"},
      {"expect text \"a\\n\"", "FAIL 21: expect text \"a\\n\"  (expected \"a\\n\", got \"a\\n\\x82\\xA0\\\"\")"},
      {"expect caret 3", "FAIL 22: expect caret 3  (expected 3, got 2)"},
  };
  std::string text = "hookstart\ntap a\n";
  for (const auto& c : cases) text += std::string(c.first) + "\n";
  text += "expect swallowed\n";
  Report run = Interpret(text, desktop);
  std::string report = Joined(run.report);
  EXPECT_TRUE(run.Has("  ok   23: expect swallowed")) << report;
  for (const auto& c : cases) EXPECT_NE(report.find(c.second), std::string::npos) << c.second << "\n" << report;
  EXPECT_EQ(run.report.back(), "FAIL t.scn (17 failed)");
}

TEST(ScenarioInterpret, ASecondHookStartWithoutHookEndFailsAndIsNotMade) {
  // On a real desktop the first hooks would stay installed for every
  // scenario after this one.
  RecordingDesktop desktop;
  Report run = Interpret("tap a\nhookstart\nhookend\nhookstart\n", desktop);
  EXPECT_EQ(run.verdict, Verdict::kFailed);
  EXPECT_TRUE(run.Has("  FAIL hookstart while the hooks run: hookend first")) << Joined(run.report);
  EXPECT_EQ(std::count(desktop.log.begin(), desktop.log.end(), "hookstart"), 2) << Joined(desktop.log);
}

}  // namespace
}  // namespace tavik::sim
