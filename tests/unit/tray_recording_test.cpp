// The tray program's side of recording: the file it writes (header, the
// libraries' records as the ring gives them, trailer with what was lost),
// the libraries' word, write failures told and never dropped, the folder,
// and the start from the command line.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "hook/recording_platform.h"
#include "sim/library_hooks.h"
#include "tests/support/fake_tray_platform.h"
#include "tray/recording.h"

namespace tavik {
namespace {

using sim::FakeTrayPlatform;

constexpr Hwnd kWindow{7};
const std::string kFolder = "C:\\Users\\user\\AppData\\Local\\tavik";
const std::string kFile = kFolder + "\\tavik-2026-12-08-021530.txt";

struct Session {
  Session() {
    tray.SetHookLibrary(std::set<std::string>{"HookStart", "HookEnd", "HookReleaseOwedKeys", "HookRecord"});
    tray.SetHelper(FakeTrayPlatform::Helper::kStartsHooks);
    EXPECT_TRUE(tray::StartHookLibrary(tray, state, kWindow, "tavik"));
    tray::AddTrayIcon(tray, state, kWindow);
    state.recorder = &recorder;
    recorder.tavikVersion = "1.2.3.4";

    // The libraries, on the simulated desktop, with the tray program's block.
    desktop.AddWindow("editor");
    desktop.SetFocus("editor");
    desktop.Focused()->open = true;
    desktop.Focused()->conversion = 0x19;
    block.flag[kTorikeshiKey] = 1;
    sim::RunLibraryHooks(desktop, block, &libraries);
    block.SetKeyboardHook(desktop.SetWindowsHookExA(w32::WH_KEYBOARD, sim::kKeyboardProcToken, sim::kModuleInstance, 0));
  }

  // The libraries see the word the tray program set, and write into the
  // tray program's block.
  void TapAt() {
    block.recordingSession = tray.recordingWord();
    libraries.UseRing(tray.mappedBlock());
    desktop.Keystroke(0, 0xC0, sim::KeystrokeLParam(0x1A, false, false));
    desktop.Keystroke(0, 0xC0, sim::KeystrokeLParam(0x1A, true, true));
    desktop.Keystroke(0, 0x74, sim::KeystrokeLParam(0x3F, false, false));  // F5: passed on
  }

  std::string File() const {
    auto found = tray.files().find(kFile);
    return found == tray.files().end() ? "" : found->second;
  }
  std::vector<std::string> Boxes() const { return tray.Calls("MessageBoxA"); }

  FakeTrayPlatform tray;
  tray::TrayState state;
  tray::Recorder recorder;
  sim::Desktop desktop;
  HookSharedBlock block{};
  sim::SimRecording libraries{desktop};
};

class TrayRecordingTest : public ::testing::Test, public Session {};

TEST_F(TrayRecordingTest, ARecordingIsAFileThatReadsBackWithEveryRecordAndTheCounts) {
  size_t handlesBefore = tray.OpenHandles();
  ASSERT_TRUE(tray::StartRecording(tray, state, recorder));
  EXPECT_TRUE(state.recording);
  EXPECT_NE(tray.recordingWord(), 0u);
  EXPECT_TRUE(tray.TimerSet(tray::kRecordingTimer));
  EXPECT_EQ(std::string(tray.icon().szTip), "tavik (記録中)");

  TapAt();
  tray::OnRecordingTimer(tray, state, recorder);
  size_t afterTimer = File().size();
  TapAt();
  tray.mappedBlock()->head.lost = 3;  // the ring was full for three records
  tray::StopRecording(tray, state, recorder);

  EXPECT_FALSE(state.recording);
  EXPECT_EQ(std::string(tray.icon().szTip), "tavik");
  EXPECT_EQ(tray.recordingWord(), 0u);
  EXPECT_FALSE(tray.TimerSet(tray::kRecordingTimer));
  EXPECT_EQ(tray.OpenHandles(), handlesBefore);
  EXPECT_EQ(tray.MappedViews(), 0u);
  EXPECT_TRUE(Boxes().empty());

  Recording recording;
  std::string error;
  ASSERT_TRUE(ReadRecording(File(), recording, error)) << error;
  EXPECT_GT(afterTimer, 0u);
  EXPECT_EQ(recording.header.tavikVersion, "1.2.3.4");
  EXPECT_EQ(recording.header.windowsVersion, "10.0.19045");
  EXPECT_EQ(recording.header.keyboardLayouts, (std::vector<std::string>{"0x04110411", "0xE0200411"}));
  EXPECT_EQ(recording.header.imeFileNames, (std::vector<std::string>{"TESTIME.IME"}));
  ASSERT_TRUE(recording.hasTrailer);
  EXPECT_EQ(recording.trailer.lost, 3u);
  EXPECT_EQ(recording.trailer.passedOn, 2u);
  // The start's settings, then "@" down, its Esc down, "@" up, its Esc up, twice.
  ASSERT_EQ(recording.records.size(), 9u);
  EXPECT_EQ(recording.records[0].kind, RecordKind::kSettings);
  EXPECT_EQ(recording.records[0].settings[kTorikeshiKey], 1);  // the default, with no settings file
  EXPECT_EQ(recording.records[1].wParam, 0xC0u);
  EXPECT_EQ(recording.records[5].wParam, 0xC0u);
}

// A block left by an earlier recording (still mapped by the programs that
// wrote it) starts afresh: nothing of the old ring reaches the new file.
TEST_F(TrayRecordingTest, ANewRecordingStartsItsRingAfresh) {
  ASSERT_TRUE(tray::StartRecording(tray, state, recorder));
  TapAt();
  tray::StopRecording(tray, state, recorder);
  tray.SetLocalTime({2026, 12, 2, 8, 3, 0, 0, 0});
  uint32_t first = tray.recordingWord();
  ASSERT_TRUE(tray::StartRecording(tray, state, recorder));
  EXPECT_NE(tray.recordingWord(), first);
  tray::StopRecording(tray, state, recorder);
  Recording second;
  std::string error;
  ASSERT_TRUE(ReadRecording(tray.files().at(kFolder + "\\tavik-2026-12-08-030000.txt"), second, error)) << error;
  EXPECT_EQ(second.records.size(), 1u);  // its settings only
  EXPECT_EQ(second.trailer.passedOn, 0u);
}

// Whatever fails is told in a box, once, and recording is off after it.
TEST_F(TrayRecordingTest, FailuresAreToldAndRecordingIsOff) {
  const std::string kWriteBox =
      "MessageBoxA(\"" + kFile +
      "に記録を書き込めませんでした。\nﾃﾞｨｽｸの空きやﾌｫﾙﾀﾞが書き込み禁止になっていないかを確かめてください。"
      "記録は止めました。\", \"tavik\", 0x30)";
  struct Case {
    const char* what;
    std::function<void(FakeTrayPlatform&)> arrange;
    bool starts;
    std::string box;
  };
  const Case kCases[] = {
      {"the header cannot be written", [](FakeTrayPlatform& t) { t.FailFileWrites([](int) { return true; }); }, false,
       kWriteBox},
      {"a record cannot be written", [](FakeTrayPlatform& t) { t.FailFileWrites([](int n) { return n == 2; }); },
       true, kWriteBox},
      {"no block", [](FakeTrayPlatform& t) { t.FailMapping(true); }, false,
       "MessageBoxA(\"記録を始められませんでした。\", \"tavik\", 0x30)"},
      {"no LOCALAPPDATA", [](FakeTrayPlatform& t) { t.SetEnvironment("LOCALAPPDATA", std::nullopt); }, false,
       "MessageBoxA(\"記録を始められませんでした。\", \"tavik\", 0x30)"},
  };
  for (const Case& c : kCases) {
    Session t;
    c.arrange(t.tray);
    EXPECT_EQ(tray::StartRecording(t.tray, t.state, t.recorder), c.starts) << c.what;
    if (c.starts) {
      t.TapAt();
      tray::OnRecordingTimer(t.tray, t.state, t.recorder);
      tray::OnRecordingTimer(t.tray, t.state, t.recorder);
    }
    EXPECT_FALSE(t.state.recording) << c.what;
    EXPECT_EQ(t.tray.recordingWord(), 0u) << c.what;
    EXPECT_EQ(t.Boxes(), std::vector<std::string>{c.box}) << c.what;
    EXPECT_EQ(t.tray.MappedViews(), 0u) << c.what;
  }
}

TEST_F(TrayRecordingTest, ExitClosesTheRecordingWithItsTrailer) {
  ASSERT_TRUE(tray::StartRecording(tray, state, recorder));
  TapAt();
  tray::ShutDown(tray, state);
  Recording recording;
  std::string error;
  ASSERT_TRUE(ReadRecording(File(), recording, error)) << error;
  EXPECT_TRUE(recording.hasTrailer);
  EXPECT_EQ(recording.records.size(), 5u);
  EXPECT_EQ(tray.recordingWord(), 0u);
}

TEST_F(TrayRecordingTest, TheFolderIsOpenedAndMadeWhenMissing) {
  tray::OpenRecordingsFolder(tray, state);
  EXPECT_EQ(tray.folders().count(kFolder), 1u);
  EXPECT_EQ(tray.Calls("ShellExecuteA"), std::vector<std::string>{"ShellExecuteA(\"open\", \"" + kFolder + "\")"});
  tray::OpenRecordingsFolder(tray, state);  // there already: opened all the same
  EXPECT_EQ(tray.Calls("ShellExecuteA").size(), 2u);
  EXPECT_TRUE(Boxes().empty());
}

TEST(RecordRequested, OnlyTheWholeWord) {
  EXPECT_TRUE(tray::RecordRequested("\"C:\\tavik\\tavik.exe\" /record"));
  EXPECT_TRUE(tray::RecordRequested("tavik.exe /record /other"));
  EXPECT_FALSE(tray::RecordRequested("tavik.exe /recording"));
  EXPECT_FALSE(tray::RecordRequested("C:\\x/record\\tavik.exe"));
  EXPECT_FALSE(tray::RecordRequested("tavik.exe"));
}

}  // namespace
}  // namespace tavik
