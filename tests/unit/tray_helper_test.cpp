// The 32-bit helper from the tray program's side, on the simulated desktop:
// started beside the program once its own hooks are, restarted with them,
// ended with the program, never left behind; and a missing helper or 32-bit
// library leaving the program running for 64-bit programs, with one line in
// the About box. Then the command line the two programs share.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/fake_tray_platform.h"

namespace tavik {
namespace {

using sim::FakeTrayPlatform;
using tray::HelperState;
using tray::TrayState;

constexpr Hwnd kWindow{7};

struct Dialog final : tray::ModalDialog {
  explicit Dialog(std::function<void()> run) : run_(std::move(run)) {}
  void DoModal() override { run_(); }
  std::function<void()> run_;
};

class TrayHelperTest : public ::testing::Test {
 protected:
  TrayHelperTest() { desktop.SetHookLibrary(std::set<std::string>{"HookStart", "HookEnd"}); }

  // The program started as the hidden window's initialisation starts it.
  void Start(FakeTrayPlatform::Helper helper, uint32_t exitCode = 0) {
    desktop.SetHelper(helper, exitCode);
    ASSERT_TRUE(tray::StartHookLibrary(desktop, state, kWindow, "tavik"))
        << "the program runs on, whatever became of the helper";
  }

  // The settings dialog, closed by OK after one change.
  void SettingsOk() {
    Dialog dialog([&] {
      sim::DialogRecord record;
      tray::SettingsDialogModel model(state.settings, record);
      model.Initialise();
      model.Clicked(1005);
      model.Ok(desktop, state);
      desktop.ClearTrace();
    });
    tray::RunSettingsCommand(desktop, state, dialog);
  }

  size_t IndexOf(const std::string& line) const {
    auto it = std::find(desktop.trace().begin(), desktop.trace().end(), line);
    return static_cast<size_t>(it - desktop.trace().begin());
  }

  FakeTrayPlatform desktop;
  TrayState state;
};

TEST_F(TrayHelperTest, StartedBesideTheProgramAfterItsHooksWithWhatItNeedsToEndWithIt) {
  desktop.SetProgramPath("D:\\Tools\\tavik\\tavik.exe");
  Start(FakeTrayPlatform::Helper::kStartsHooks);
  std::vector<std::string> created = desktop.Calls("CreateProcessA");
  ASSERT_EQ(created.size(), 1u);
  EXPECT_EQ(created[0].find("CreateProcessA(\"D:\\Tools\\tavik\\tavik32.exe\", \"\"D:\\Tools\\tavik\\tavik32.exe\" "),
            0u)
      << created[0];
  EXPECT_LT(IndexOf("HookStart()"), IndexOf(created[0])) << "the 64-bit hooks first";
  EXPECT_TRUE(desktop.HelperCanWaitForTray());
  EXPECT_TRUE(desktop.HelperRunning());
  EXPECT_EQ(state.helper, HelperState::kRunning);
  EXPECT_EQ(tray::HelperNote(state), nullptr) << "nothing to say while 32-bit programs are reached";
  EXPECT_EQ(desktop.OpenHandles(), 3u) << "its process, its thread and the event; not our own process's copy";
  EXPECT_TRUE(desktop.Calls("MessageBoxA").empty());
}

TEST_F(TrayHelperTest, RestartedOnlyWhenTheHooksAreAndWaitedFor) {
  Start(FakeTrayPlatform::Helper::kStartsHooks);
  std::vector<std::string> order;
  desktop.OnExportCalled([&](const std::string& name) { order.push_back(name); });
  SettingsOk();
  EXPECT_EQ(order, (std::vector<std::string>{"HookEnd", "HookStart"}));
  EXPECT_EQ(desktop.helperLog(), (std::vector<std::string>{"HookStart", "HookEnd", "HookStart"}));
  // The event is reset before the helper is told, and waited for after:
  // OK's restart is over for both bitnesses when the command returns.
  size_t reset = IndexOf("ResetEvent(0x504)");
  size_t posted = IndexOf("PostThreadMessageA(0x704, 0x8001)");
  size_t waited = IndexOf("WaitForMultipleObjects(2, 10000) = 0");
  EXPECT_LT(IndexOf("HookStart()"), reset);
  EXPECT_LT(reset, posted);
  EXPECT_LT(posted, waited);
  EXPECT_LT(waited, desktop.trace().size());
  EXPECT_EQ(state.helper, HelperState::kRunning);

  // Cancel, or OK without a change, restarts nothing.
  desktop.ClearTrace();
  Dialog cancel([] {});
  tray::RunSettingsCommand(desktop, state, cancel);
  EXPECT_TRUE(desktop.Calls("PostThreadMessageA").empty());
  EXPECT_EQ(desktop.helperLog().size(), 3u);
}

TEST_F(TrayHelperTest, EndedWithTheProgramAfterItsHookEndAndNothingLeftOpen) {
  Start(FakeTrayPlatform::Helper::kStartsHooks);
  desktop.ClearTrace();
  tray::ShutDown(desktop, state);
  EXPECT_FALSE(desktop.HelperRunning());
  EXPECT_EQ(desktop.helperLog().back(), "HookEnd");
  EXPECT_TRUE(desktop.Calls("TerminateProcess").empty()) << "it ended by itself";
  EXPECT_EQ(desktop.OpenHandles(), 0u);
  tray::ShutDown(desktop, state);
  EXPECT_EQ(desktop.Calls("PostThreadMessageA").size(), 1u) << "a second shut-down tells nobody anything";
}

TEST_F(TrayHelperTest, AHelperThatDoesNotEndWhenToldIsEnded) {
  Start(FakeTrayPlatform::Helper::kStartsHooks);
  desktop.HelperStopsListening();
  desktop.ClearTrace();
  tray::ShutDown(desktop, state);
  EXPECT_FALSE(desktop.HelperRunning());
  EXPECT_EQ(desktop.Calls("TerminateProcess").size(), 1u);
  EXPECT_LT(IndexOf("WaitForSingleObject(0x508, 5000) = 0x102"), IndexOf("TerminateProcess(0x508, 1)"));
  EXPECT_EQ(desktop.OpenHandles(), 0u);
}

TEST_F(TrayHelperTest, AHelperThatStopsAnsweringIsEndedAtTheRestartAndTheAboutBoxSaysSo) {
  Start(FakeTrayPlatform::Helper::kStartsHooks);
  desktop.HelperStopsListening();
  SettingsOk();
  EXPECT_FALSE(desktop.HelperRunning());
  EXPECT_EQ(desktop.OpenHandles(), 0u);
  EXPECT_STREQ(tray::HelperNote(state), tray::kHelperStoppedNote);
  desktop.ClearTrace();
  tray::ShutDown(desktop, state);
  EXPECT_TRUE(desktop.Calls("PostThreadMessageA").empty());
}

TEST_F(TrayHelperTest, MissingOrBrokenThirtyTwoBitFilesLeaveTheProgramRunningWithOneLineToSay) {
  struct Case {
    FakeTrayPlatform::Helper helper;
    uint32_t exitCode;
    HelperState state;
    const char* note;
  };
  const Case cases[] = {
      {FakeTrayPlatform::Helper::kAbsent, 0, HelperState::kNotFound, tray::kNoHelperNote},
      {FakeTrayPlatform::Helper::kEndsAtOnce, tray::kHelperNoLibrary, HelperState::kNoLibrary, tray::kNoLibrary32Note},
      {FakeTrayPlatform::Helper::kEndsAtOnce, tray::kHelperNoExport, HelperState::kNoLibrary, tray::kNoLibrary32Note},
      {FakeTrayPlatform::Helper::kEndsAtOnce, 0xC0000005, HelperState::kNotResponding, tray::kHelperStoppedNote},
      {FakeTrayPlatform::Helper::kSilent, 0, HelperState::kNotResponding, tray::kHelperStoppedNote},
  };
  for (const Case& c : cases) {
    desktop = FakeTrayPlatform{};
    desktop.SetHookLibrary(std::set<std::string>{"HookStart", "HookEnd"});
    state = TrayState{};
    Start(c.helper, c.exitCode);
    SCOPED_TRACE(c.note);
    EXPECT_EQ(state.helper, c.state);
    EXPECT_STREQ(tray::HelperNote(state), c.note);
    EXPECT_TRUE(desktop.Calls("MessageBoxA").empty()) << "no message at start: the About box says it";
    EXPECT_FALSE(desktop.HelperRunning()) << "a silent helper is not left running";
    EXPECT_EQ(desktop.OpenHandles(), 0u);
    EXPECT_EQ(desktop.Calls("HookStart()").size(), 0u);
    EXPECT_EQ(desktop.Calls("Shell_NotifyIconA").size(), 0u);

    // The 64-bit hooks run and restart as ever; the helper is not asked for.
    std::vector<std::string> order;
    desktop.OnExportCalled([&](const std::string& name) { order.push_back(name); });
    SettingsOk();
    EXPECT_EQ(order, (std::vector<std::string>{"HookEnd", "HookStart"}));
    EXPECT_TRUE(desktop.Calls("PostThreadMessageA").empty());
    EXPECT_STREQ(tray::HelperNote(state), c.note) << "still there at the next About box";
  }
}

TEST_F(TrayHelperTest, NoHelperWithoutTheHookLibrary) {
  desktop.SetHookLibrary(std::nullopt);
  desktop.SetHelper(FakeTrayPlatform::Helper::kStartsHooks);
  EXPECT_FALSE(tray::StartHookLibrary(desktop, state, kWindow, "tavik"));
  EXPECT_TRUE(desktop.Calls("CreateProcessA").empty());
  EXPECT_EQ(tray::HelperNote(state), nullptr) << "the program ends; there is no About box to fill";
}

// --- The command line and the helper's path -----------------------------------

TEST(HelperCommandLineTest, HandlesSurviveTheRoundTripAndNothingElseIsTaken) {
  char line[300];
  ASSERT_TRUE(tray::FormatHelperCommandLine(line, sizeof line, "C:\\Program Files\\tavik\\tavik32.exe", 0x1F4,
                                            0xFFFFFFF0));
  EXPECT_STREQ(line, "\"C:\\Program Files\\tavik\\tavik32.exe\" 500 4294967280");
  uintptr_t process = 0;
  uintptr_t event = 0;
  ASSERT_TRUE(tray::ParseHelperCommandLine(line, process, event));
  EXPECT_EQ(process, 0x1F4u);
  EXPECT_EQ(event, 0xFFFFFFF0u);
  // Windows may hand the program its path unquoted, and spacing varies.
  ASSERT_TRUE(tray::ParseHelperCommandLine("tavik32.exe\t12   34 ", process, event));
  EXPECT_EQ(process, 12u);
  EXPECT_EQ(event, 34u);

  for (const char* bad : {"tavik32.exe", "tavik32.exe 12", "tavik32.exe 12 34 56", "tavik32.exe 0 34",
                          "tavik32.exe 12 0", "tavik32.exe -12 34", "tavik32.exe 12 3x", "\"tavik32.exe 12 34",
                          "\"C:\\a b\\tavik32.exe\"", "tavik32.exe 99999999999999999999999 1"}) {
    process = event = 7;
    EXPECT_FALSE(tray::ParseHelperCommandLine(bad, process, event)) << bad;
    EXPECT_EQ(process, 7u) << bad;
  }
  EXPECT_FALSE(tray::FormatHelperCommandLine(line, 20, "C:\\tavik\\tavik32.exe", 1, 2)) << "does not fit";
}

TEST(HelperCommandLineTest, TheHelperIsLookedForInTheProgramsOwnFolder) {
  char out[64];
  ASSERT_TRUE(tray::BesideProgram(out, sizeof out, "C:\\tavik\\tavik.exe", "tavik32.exe"));
  EXPECT_STREQ(out, "C:\\tavik\\tavik32.exe");
  ASSERT_TRUE(tray::BesideProgram(out, sizeof out, "tavik.exe", "tavik32.exe"));
  EXPECT_STREQ(out, "tavik32.exe");
  // 表 in code page 932 is 0x95 0x5C: its trail byte is no backslash.
  ASSERT_TRUE(tray::BesideProgram(out, sizeof out, "C:\\\x95\x5C\\tavik.exe", "tavik32.exe"));
  EXPECT_STREQ(out, "C:\\\x95\x5C\\tavik32.exe");
  ASSERT_TRUE(tray::BesideProgram(out, sizeof out, "C:\\\x95\x5Ctavik.exe", "tavik32.exe"));
  EXPECT_STREQ(out, "C:\\tavik32.exe");
  EXPECT_FALSE(tray::BesideProgram(out, 16, "C:\\tavik\\tavik.exe", "tavik32.exe")) << "does not fit";
  EXPECT_TRUE(tray::BesideProgram(out, 21, "C:\\tavik\\tavik.exe", "tavik32.exe")) << "fits exactly";
}

}  // namespace
}  // namespace tavik
