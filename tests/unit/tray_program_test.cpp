// The tray program's life and its settings dialog, on the simulated
// desktop: start-up and shut-down order, the failure messages, the menu's
// item states, the dialog's enabling and checking, OK and Cancel.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/fake_tray_platform.h"

namespace tavik {
namespace {

using sim::DialogRecord;
using sim::FakeTrayPlatform;
using tray::TrayState;

constexpr Hwnd kWindow{7};

// The one box a failed write of the settings file brings.
const std::vector<std::string> kUnsavedBox = {
    "MessageBoxA(\"C:\\tavik\\tavik.iniに設定を保存できませんでした。\n"
    "ﾌｧｲﾙやﾌｫﾙﾀﾞが書き込み禁止になっていないか確かめるか、tavikを書き込みのできるﾌｫﾙﾀﾞに移してください。\", "
    "\"tavik\", 0x30)"};

std::vector<std::string> Without(const std::vector<std::string>& trace, const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& l : trace) {
    if (l.rfind(prefix, 0) != 0) out.push_back(l);
  }
  return out;
}

// --- Start-up and shut-down ------------------------------------------------------

class TrayStartTest : public ::testing::Test {
 protected:
  TrayStartTest() {
    desktop.SetHookLibrary(std::set<std::string>{"HookStart", "HookEnd", "HookReleaseOwedKeys"});
    desktop.SetHelper(FakeTrayPlatform::Helper::kStartsHooks);
  }
  bool Start() { return tray::StartHookLibrary(desktop, state, kWindow, "tavik"); }
  FakeTrayPlatform desktop;
  TrayState state;
};

// Owed key-ups: the slow timer pays only what it found owed on the tick
// before as well; an event (a new foreground window, a desktop switch,
// resume) pays all at once.
TEST_F(TrayStartTest, TheTimerPaysOnlyWhatItSawTwiceAndAnEventPaysAll) {
  ASSERT_TRUE(Start());
  struct Tick {
    bool event;
    uint32_t found;    // what the library finds owed with its typed key up
    const char* call;  // what the tray program asks it to pay
  };
  const Tick kTicks[] = {
      {false, 0x9, "HookReleaseOwedKeys(0) = 0x9"},  // seen once: nothing paid
      {false, 0xC, "HookReleaseOwedKeys(0x9) = 0xC"},  // 0x8 and 0x1 paid; 0x4 seen once
      {false, 0x4, "HookReleaseOwedKeys(0x4) = 0x4"},  // 0x4 paid
      {false, 0x2, "HookReleaseOwedKeys(0) = 0x2"},
      {true, 0x2, "HookReleaseOwedKeys(0x7FFFFFFF) = 0x2"},
      {false, 0x0, "HookReleaseOwedKeys(0) = 0"},  // what the event paid is not owed twice
  };
  for (const Tick& t : kTicks) {
    desktop.SetExportAnswer(t.found);
    desktop.ClearTrace();
    t.event ? tray::PayOwedKeyUps(desktop, state) : tray::OnOwedKeysTimer(desktop, state);
    EXPECT_EQ(desktop.trace(), std::vector<std::string>{t.call});
  }
}

TEST_F(TrayStartTest, OneCopyPerProgramFile) {
  EXPECT_TRUE(tray::TakeSingleInstance(desktop, "tavik"));
  EXPECT_FALSE(tray::TakeSingleInstance(desktop, "tavik")) << "a second start of the same file ends";
  EXPECT_TRUE(tray::TakeSingleInstance(desktop, "tavik2")) << "a copy under another name runs beside it";
  EXPECT_EQ(desktop.Calls("CreateMutexA").front(), "CreateMutexA(0x1, \"tavik\")");
  EXPECT_TRUE(desktop.Calls("MessageBoxA").empty());
}

TEST_F(TrayStartTest, StartsInOrderAndStopsInOrder) {
  ASSERT_TRUE(Start());
  tray::AddTrayIcon(desktop, state, kWindow);
  std::vector<std::string> calls = Without(desktop.trace(), "GetPrivateProfileStringA");
  calls = Without(calls, "WritePrivateProfileStringA");
  // The helper is started once the library's own hooks are, and the tray
  // program keeps no handle of its own process.
  EXPECT_EQ(calls, (std::vector<std::string>{"LoadLibraryA(\"tavikhook.dll\") = hlib", "GetVersionExA(148)",
                                             "GetProcAddress(hlib, \"HookStart\") = HookStart",
                                             "GetProcAddress(hlib, \"HookEnd\") = HookEnd",
                                             "GetProcAddress(hlib, \"HookReleaseOwedKeys\") = HookReleaseOwedKeys",
                                             "HookStart()",
                                             "GetModuleFileNameA(NULL) = \"C:\\tavik\\tavik.exe\"",
                                             "DuplicateHandle(self, 0x100000, 1) = 0x500", "CreateEventA(1, 1, 0) = 0x504",
                                             "CreateProcessA(\"C:\\tavik\\tavik32.exe\", "
                                             "\"\"C:\\tavik\\tavik32.exe\" 1280 1284\", 1)",
                                             "CloseHandle(0x500)", "WaitForMultipleObjects(2, 10000) = 0",
                                             "RegisterWindowMessageA(\"TaskbarCreated\")",
                                             "LoadImageA(128, 0x1, 16, 16, 0)", "Shell_NotifyIconA(0)"}));
  // The settings file was made consistent before the hooks read it.
  size_t firstWrite = 0;
  size_t hookStart = 0;
  for (size_t i = 0; i < desktop.trace().size(); ++i) {
    if (firstWrite == 0 && desktop.trace()[i].rfind("WritePrivateProfileStringA", 0) == 0) firstWrite = i;
    if (desktop.trace()[i] == "HookStart()") hookStart = i;
  }
  EXPECT_LT(firstWrite, hookStart);

  const tray::NotifyIconData& icon = desktop.icon();
  EXPECT_EQ(icon.cbSize, 88u);
  EXPECT_EQ(icon.hWnd, kWindow);
  EXPECT_EQ(icon.uID, 0u);
  EXPECT_EQ(icon.uFlags, 7u);
  EXPECT_EQ(icon.uCallbackMessage, 0x464u);
  EXPECT_STREQ(icon.szTip, "tavik");

  desktop.ClearTrace();
  tray::ShutDown(desktop, state);
  // The key-ups the hooks owe are paid before they end, keys held or not.
  // The helper ends after the tray program's hooks have, by itself once told
  // to, before the icon goes; every handle of it is closed.
  EXPECT_EQ(desktop.trace(),
            (std::vector<std::string>{"HookReleaseOwedKeys(0xFFFFFFFF) = 0", "HookEnd()", "FreeLibrary(hlib) = 1", "PostThreadMessageA(0x704, 0x8002)",
                                      "WaitForSingleObject(0x508, 5000) = 0", "CloseHandle(0x508)",
                                      "CloseHandle(0x50C)", "CloseHandle(0x504)", "Shell_NotifyIconA(0x2)"}));
  EXPECT_FALSE(desktop.HelperRunning());
  EXPECT_EQ(desktop.helperLog(), (std::vector<std::string>{"HookStart", "HookEnd"}));
  EXPECT_EQ(desktop.OpenHandles(), 0u);
  EXPECT_FALSE(desktop.IconShown());
}

// Signed in before the taskbar, then Explorer restarted twice: the icon is
// added when a taskbar is there to take it, each time one comes, and never
// while it is shown.
TEST_F(TrayStartTest, TheIconComesWithEachTaskbarAndIsNeverAddedTwice) {
  ASSERT_TRUE(Start());
  desktop.SetTaskbar(false);
  const std::string add = "Shell_NotifyIconA(0)";
  const std::string addFails = add + " fails";
  const std::string modifyFails = "Shell_NotifyIconA(0x1) fails";
  auto taskbarCreated = [&] {
    EXPECT_TRUE(tray::OnTaskbarCreated(desktop, state, desktop.Registered("TaskbarCreated")));
  };
  auto tick = [&] { tray::OnIconRetryTimer(desktop, state); };
  auto newTaskbar = [&] {
    desktop.SetTaskbar(true);
    taskbarCreated();
  };
  struct Step {
    const char* what;
    std::function<void()> act;
    std::vector<std::string> calls;
    bool shown;
  };
  const Step steps[] = {
      {"start without a taskbar", [&] { tray::AddTrayIcon(desktop, state, kWindow); },
       {"RegisterWindowMessageA(\"TaskbarCreated\")", "LoadImageA(128, 0x1, 16, 16, 0)", addFails, modifyFails,
        "SetTimer(1, 10000)"},
       false},
      {"a tick, still no taskbar", tick, {addFails, modifyFails}, false},
      {"the taskbar comes", newTaskbar, {add}, true},
      {"a tick once shown", tick, {"KillTimer(1)"}, true},
      {"a tick after the timer", tick, {}, true},
      {"the message again, the icon kept", taskbarCreated, {add + " fails", "Shell_NotifyIconA(0x1)"}, true},
      {"Explorer restarted", newTaskbar, {add}, true},
      {"another message", [&] { EXPECT_FALSE(tray::OnTaskbarCreated(desktop, state, w32::WM_USER)); }, {}, true},
  };
  for (const Step& step : steps) {
    desktop.ClearTrace();
    step.act();
    EXPECT_EQ(desktop.trace(), step.calls) << step.what;
    EXPECT_EQ(desktop.IconShown(), step.shown) << step.what;
  }
  EXPECT_STREQ(desktop.icon().szTip, "tavik") << "the same record each time";
  EXPECT_EQ(desktop.icon().uCallbackMessage, 0x464u);
  tray::ShutDown(desktop, state);
  EXPECT_FALSE(desktop.IconShown());
}

TEST_F(TrayStartTest, TheTimerGivesUpAfterFiveMinutesButATaskbarStillBringsTheIcon) {
  ASSERT_TRUE(Start());
  desktop.SetTaskbar(false);
  tray::AddTrayIcon(desktop, state, kWindow);
  desktop.ClearTrace();
  for (int i = 0; i < 40; ++i) tray::OnIconRetryTimer(desktop, state);
  EXPECT_EQ(desktop.Calls("Shell_NotifyIconA").size(), 2 * 30u);
  EXPECT_EQ(desktop.Calls("KillTimer"), (std::vector<std::string>{"KillTimer(1)"}));
  EXPECT_FALSE(desktop.TimerSet(tray::kIconRetryTimer));
  desktop.SetTaskbar(true);
  tray::OnTaskbarCreated(desktop, state, desktop.Registered("TaskbarCreated"));
  EXPECT_TRUE(desktop.IconShown());
}

// A settings file that cannot be written, at its creation and at its
// rewrite: told once, and tavik runs on with what it could read.
TEST_F(TrayStartTest, AFailedWriteAtStartIsToldOnceAndTheHooksStartAnyway) {
  struct Case {
    const char* what;
    const char* file;  // null: none yet
    std::function<bool(int)> fails;
    int32_t imeOnOff;  // the flag tavik runs with
  };
  const Case cases[] = {
      {"no file, none written", nullptr, [](int) { return true; }, 0},
      {"no file, the first write fails", nullptr, [](int n) { return n == 0; }, 0},
      {"no file, a middle write fails", nullptr, [](int n) { return n == 12; }, 0},
      {"a rewrite fails", "[TAVIK]\r\nRESET=0\r\nIME ONOFF=1\r\nCAPSLOCK OFF=0\r\nKATAKANA KEY=1\r\n",
       [](int) { return true; }, 1},
  };
  for (const Case& c : cases) {
    FakeTrayPlatform d;
    d.SetHookLibrary(std::set<std::string>{"HookStart", "HookEnd"});
    if (c.file != nullptr) d.profiles().SetFile(kSettingsFile, c.file);
    d.FailWrites(c.fails);
    TrayState s;
    EXPECT_TRUE(tray::StartHookLibrary(d, s, kWindow, "tavik")) << c.what;
    EXPECT_EQ(d.Calls("MessageBoxA"), kUnsavedBox) << c.what;
    EXPECT_EQ(d.Calls("HookStart").size(), 1u) << c.what;
    EXPECT_EQ(s.settings.flag[kTorikeshiKey], 1) << c.what;
    EXPECT_EQ(s.settings.flag[kImeOnOff], c.imeOnOff) << c.what;
    EXPECT_EQ(s.settings.flag[kKatakanaKey], 0) << c.what;
  }
}

TEST_F(TrayStartTest, MissingLibraryIsToldOnceAndTouchesNothing) {
  desktop.SetHookLibrary(std::nullopt);
  EXPECT_FALSE(Start());
  EXPECT_EQ(desktop.Calls("MessageBoxA"),
            (std::vector<std::string>{"MessageBoxA(\"tavikhook.dllのロードに失敗しました。\", \"tavik\", 0x30)"}));
  EXPECT_TRUE(desktop.Calls("GetPrivateProfileStringA").empty());
  EXPECT_TRUE(desktop.Calls("WritePrivateProfileStringA").empty());
  EXPECT_FALSE(desktop.profiles().File(kSettingsFile).has_value());
  desktop.ClearTrace();
  tray::ShutDown(desktop, state);
  EXPECT_TRUE(desktop.trace().empty()) << "no HookEnd, no FreeLibrary, no icon to remove";
}

TEST_F(TrayStartTest, LibraryWithoutAnExportIsNamedFreedAndNeverCalled) {
  for (const char* present : {"HookStart", "HookEnd", ""}) {
    FakeTrayPlatform d;
    d.SetHookLibrary(std::set<std::string>{present});
    TrayState s;
    EXPECT_FALSE(tray::StartHookLibrary(d, s, kWindow, "tavik")) << present;
    std::vector<std::string> boxes = d.Calls("MessageBoxA");
    ASSERT_EQ(boxes.size(), 1u);
    std::string missing = std::string(present) == "HookStart" ? "HookEnd"
                          : std::string(present) == "HookEnd" ? "HookStart"
                                                              : "HookStart, HookEnd";
    EXPECT_NE(boxes[0].find("tavikhook.dllに" + missing + "がありません。"), std::string::npos) << boxes[0];
    EXPECT_TRUE(d.Calls("HookStart").empty());
    EXPECT_FALSE(d.LibraryLoaded());
    d.ClearTrace();
    tray::ShutDown(d, s);
    EXPECT_TRUE(d.trace().empty());
  }
}

TEST_F(TrayStartTest, MenuItemStatesFollowTheOpenDialogs) {
  constexpr uint32_t kGrey = w32::MF_DISABLED | w32::MF_GRAYED;
  auto states = [&] {
    return std::vector<uint32_t>{tray::TrayMenuItemState(state, tray::ID_TRAY_SETTINGS),
                                 tray::TrayMenuItemState(state, tray::ID_TRAY_ABOUT),
                                 tray::TrayMenuItemState(state, tray::ID_TRAY_EXIT)};
  };
  EXPECT_EQ(states(), (std::vector<uint32_t>{0, 0, 0}));
  state.settingsOpen = 1;
  EXPECT_EQ(states(), (std::vector<uint32_t>{kGrey, 0, kGrey}));
  state.settingsOpen = 0;
  state.aboutOpen = 1;
  EXPECT_EQ(states(), (std::vector<uint32_t>{0, kGrey, kGrey}));
  EXPECT_TRUE(tray::OpensTrayMenu(0x205));
  for (uint32_t other : {0x204u, 0x201u, 0x202u, 0x203u, 0x200u}) EXPECT_FALSE(tray::OpensTrayMenu(other));
}

// --- Settings dialog -------------------------------------------------------------

struct Dialog final : tray::ModalDialog {
  explicit Dialog(std::function<void()> run) : run_(std::move(run)) {}
  void DoModal() override { run_(); }
  std::function<void()> run_;
};

class SettingsDialogTest : public TrayStartTest {
 protected:
  // Starts with the file as given, then opens the dialog and runs `clicks`
  // in it; `ok` presses OK, else Cancel.
  void Open(const std::vector<int>& clicks, bool ok, std::function<void(DialogRecord&)> check = {}) {
    Dialog dialog([&] {
      EXPECT_EQ(state.settingsOpen, 1);
      DialogRecord record;
      tray::SettingsDialogModel model(state.settings, record);
      model.Initialise();
      for (int id : clicks) model.Clicked(id);
      if (check) check(record);
      if (ok) model.Ok(desktop, state);
      desktop.ClearTrace();  // only what follows the dialog
      afterOk_ = true;
    });
    tray::RunSettingsCommand(desktop, state, dialog);
    EXPECT_EQ(state.settingsOpen, 0);
  }

  void Started(const std::string& file, uint32_t platform = w32::VER_PLATFORM_WIN32_NT) {
    desktop.profiles().SetFile(kSettingsFile, "[TAVIK]\r\nRESET=0\r\n" + file);
    desktop.SetPlatformId(platform);
    ASSERT_TRUE(Start());
  }

  std::vector<std::string> WritesDuring(const std::vector<int>& clicks, bool ok) {
    std::vector<std::string> writes;
    Dialog dialog([&] {
      DialogRecord record;
      tray::SettingsDialogModel model(state.settings, record);
      model.Initialise();
      for (int id : clicks) model.Clicked(id);
      desktop.ClearTrace();
      if (ok) model.Ok(desktop, state);
      writes = desktop.Calls("WritePrivateProfileStringA");
      desktop.ClearTrace();
    });
    tray::RunSettingsCommand(desktop, state, dialog);
    return writes;
  }

  bool afterOk_ = false;
};

TEST_F(SettingsDialogTest, OpensWithTheTreeOfTheSettings) {
  Started("IME ONOFF=1\r\nIME ON=1\r\nIME OFF1=0\r\nIME OFF2=0\r\nOASYS KAKUTEI=1\r\nKAKUTEI INPUT=1\r\n");
  Open({}, false, [](DialogRecord& r) {
    for (int id : {1000, 1001, 1002, 1005, 1008, 1017, 1021, 1003, 1006, 1009, 1010, 1011, 1012, 1023, 1024, 1018,
                   1019, 1004}) {
      EXPECT_TRUE(r.Enabled(id)) << id;
    }
    for (int id : {1007, 1013, 1020, 1014, 1015, 1016, 1022}) EXPECT_FALSE(r.Enabled(id)) << id;
    for (int id : {1000, 1001, 1002, 1003, 1008, 1010, 1017, 1018}) EXPECT_TRUE(r.Checked(id)) << id;
    for (int id : {1006, 1009, 1012, 1019, 1016}) EXPECT_FALSE(r.Checked(id)) << id;
    EXPECT_TRUE(r.Checked(1015)) << "one of the pair is always chosen";
  });
}

TEST_F(SettingsDialogTest, RadioPairOpensOnItsValueOnlyUnderItsParent) {
  Started("KATAKANA KEY=1\r\nKANA TO EIJI CAPSLOCK=1\r\nKANA TO EIJI CAPSLOCK OFF=1\r\n");
  Open({}, false, [](DialogRecord& r) {
    EXPECT_TRUE(r.Checked(1016));
    EXPECT_FALSE(r.Checked(1015));
    EXPECT_TRUE(r.Enabled(1015) && r.Enabled(1016));
  });
  Open({1015, 1015}, false, [](DialogRecord& r) {
    EXPECT_TRUE(r.Checked(1015)) << "a click on the chosen button changes nothing";
    EXPECT_FALSE(r.Checked(1016));
  });
}

TEST_F(SettingsDialogTest, UncheckingAParentClearsTheWholeBranchAndCheckingEnablesOnlyChildren) {
  Started("IME ONOFF=1\r\nIME CONFIG=1\r\nIME ON=1\r\nHANKAKU KANA=1\r\nIME OFF1=1\r\nIME OFF2=1\r\n"
          "OASYS DISABLE IME OFF=1\r\n");
  Open({1010, 1010}, false, [](DialogRecord& r) {
    EXPECT_TRUE(r.Enabled(1011) && r.Enabled(1012));
    EXPECT_FALSE(r.Checked(1011) || r.Checked(1012)) << "enabled again, unchecked";
    EXPECT_FALSE(r.Enabled(1013) || r.Enabled(1020)) << "a grandchild waits for its own parent";
    EXPECT_TRUE(r.Checked(1009)) << "a sibling is untouched";
  });
  std::vector<std::string> writes = WritesDuring({1008}, true);
  ASSERT_EQ(writes.size(), 24u);
  for (const char* key : {"IME ONOFF", "IME CONFIG", "IME ON", "HANKAKU KANA", "IME OFF1", "IME OFF2",
                          "OASYS DISABLE IME OFF"}) {
    EXPECT_NE(std::find(writes.begin(), writes.end(), "WritePrivateProfileStringA(\"" + std::string(key) + "\", \"0\")"),
              writes.end())
        << key;
  }
}

TEST_F(SettingsDialogTest, KatakanaKeyNeedsBothCapsLockBoxes) {
  Started("CAPSLOCK OFF=0\r\n");
  Open({}, false, [](DialogRecord& r) { EXPECT_FALSE(r.Enabled(1004)); });
  Open({1001, 1001}, false, [](DialogRecord& r) { EXPECT_FALSE(r.Enabled(1004)) << "1002 is still unchecked"; });
  Open({1002}, false, [](DialogRecord& r) { EXPECT_TRUE(r.Enabled(1004)); });
  Open({1002, 1004, 1014, 1016, 1001}, false, [](DialogRecord& r) {
    for (int id : {1004, 1014, 1015, 1016}) EXPECT_FALSE(r.Enabled(id)) << id;
    EXPECT_TRUE(r.Checked(1015));
    EXPECT_FALSE(r.Checked(1004) || r.Checked(1014) || r.Checked(1016));
  });
}

TEST_F(SettingsDialogTest, OkWritesAllTwentyFourInFileOrderAndRestartsOnceAfterClosing) {
  Started("");
  std::vector<std::string> order;
  desktop.OnExportCalled([&](const std::string& name) { order.push_back(name); });
  order.clear();
  std::vector<std::string> writes = WritesDuring({1005}, true);
  std::vector<std::string> want;
  for (int key = 0; key < kSettingCount; ++key) {
    if (kSettingKeys[key].fileOnly) continue;  // the defaults but ROMAJI ONOFF, in the file's order
    want.push_back("WritePrivateProfileStringA(\"" + std::string(kSettingKeys[key].name) + "\", \"" +
                   (key == kRomajiOnOff ? "1" : kSettingKeys[key].defaultValue) + "\")");
  }
  EXPECT_EQ(writes, want);
  EXPECT_EQ(order, (std::vector<std::string>{"HookEnd", "HookStart"}));
  EXPECT_EQ(state.settings.flag[kRomajiOnOff], 1);
  EXPECT_EQ(state.settingsChanged, 1);
}

// Paused, no hook of either library runs and nothing restarts them but the
// same command, which reads the file as it then is; OK only writes it.
TEST_F(SettingsDialogTest, PauseEndsEveryHookUntilResumedWithTheFileReadAnew) {
  Started("");
  tray::AddTrayIcon(desktop, state, kWindow);
  std::vector<std::string> exports;
  desktop.OnExportCalled([&](const std::string& name) { exports.push_back(name); });
  desktop.ClearTrace();

  tray::RunPauseCommand(desktop, state);
  EXPECT_EQ(exports, std::vector<std::string>{"HookEnd"});
  EXPECT_EQ(desktop.trace().front(), "HookReleaseOwedKeys(0xFFFFFFFF) = 0") << "what the hooks owe, paid first";
  EXPECT_FALSE(desktop.HelperRunning());
  EXPECT_EQ(desktop.helperLog().back(), "HookEnd");
  EXPECT_STREQ(desktop.icon().szTip, "tavik (一時停止中)");
  EXPECT_EQ(desktop.Calls("LoadImageA"), std::vector<std::string>{"LoadImageA(129, 0x1, 16, 16, 0)"});
  EXPECT_EQ(tray::TrayMenuItemCheck(state, tray::ID_TRAY_PAUSE), w32::MF_CHECKED);

  exports.clear();
  EXPECT_FALSE(WritesDuring({1005}, true).empty());
  EXPECT_TRUE(exports.empty()) << "OK while paused starts nothing";
  desktop.profiles().SetFile(kSettingsFile, "[TAVIK]\r\nRESET=0\r\nIME ONOFF=1\r\n");

  tray::RunPauseCommand(desktop, state);
  EXPECT_EQ(exports, std::vector<std::string>{"HookStart"});
  EXPECT_TRUE(desktop.HelperRunning());
  EXPECT_EQ(state.settings.flag[kImeOnOff], 1) << "the file as it is now";
  EXPECT_EQ(state.settings.flag[kRomajiOnOff], 0);
  EXPECT_STREQ(desktop.icon().szTip, "tavik");
  EXPECT_EQ(tray::TrayMenuItemCheck(state, tray::ID_TRAY_PAUSE), w32::MF_UNCHECKED);

  tray::RunPauseCommand(desktop, state);
  exports.clear();
  tray::ShutDown(desktop, state);
  EXPECT_TRUE(exports.empty()) << "hooks ended by the pause are not ended twice";
}

TEST_F(SettingsDialogTest, NothingWrittenOrRestartedWithoutAChangeOrOnCancel) {
  Started("VELTO=1\r\nIME2007=1\r\n");
  std::vector<std::string> calls;
  desktop.OnExportCalled([&](const std::string& name) { calls.push_back(name); });
  EXPECT_TRUE(WritesDuring({}, true).empty());
  EXPECT_TRUE(WritesDuring({1005, 1005}, true).empty()) << "flipped twice is no change";
  EXPECT_TRUE(WritesDuring({1005, 1008}, false).empty()) << "Cancel";
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(state.settings.flag[kRomajiOnOff], 0);
  WritesDuring({1000}, true);
  char value[16];
  desktop.profiles().GetString(kSettingsSection, "VELTO", "", value, sizeof value, kSettingsFile);
  EXPECT_STREQ(value, "1") << "the file-only keys keep their values across OK";
}

TEST_F(SettingsDialogTest, OffNtRomajiBackspaceOpensDisabledAndIsWrittenOff) {
  Started("ROMAJI BACKSPACE=1\r\n", 1);
  Open({}, false, [](DialogRecord& r) {
    EXPECT_FALSE(r.Enabled(1003));
    EXPECT_FALSE(r.Checked(1003));
  });
  std::vector<std::string> writes = WritesDuring({1005}, true);
  EXPECT_NE(std::find(writes.begin(), writes.end(), "WritePrivateProfileStringA(\"ROMAJI BACKSPACE\", \"0\")"),
            writes.end());
}

// OK whose writes fail: one box once the dialog has closed, and the tray's
// copy is what the file holds, so the dialog reopens on the truth. The
// hooks restart only when the file changed.
TEST_F(SettingsDialogTest, AFailedOkIsToldOnceAndTheDialogReopensOnTheFile) {
  struct Case {
    const char* what;
    std::function<bool(int)> fails;  // by the number of OK's write, in file order
    int32_t romajiOnOff;              // what the file holds afterwards
    bool restarted;
  };
  const Case cases[] = {
      {"every write fails", [](int) { return true; }, 0, false},
      {"the changed key's write fails", [](int n) { return n == kRomajiOnOff; }, 0, true},
      {"the first write fails", [](int n) { return n == 0; }, 1, true},
  };
  for (const Case& c : cases) {
    desktop = FakeTrayPlatform{};
    desktop.SetHookLibrary(std::set<std::string>{"HookStart", "HookEnd"});
    state = TrayState{};
    Started("");
    desktop.FailWrites(c.fails);
    Open({1005}, true);
    EXPECT_EQ(desktop.Calls("MessageBoxA"), kUnsavedBox) << c.what;
    EXPECT_EQ(desktop.trace().back(), kUnsavedBox.front()) << c.what << ": after the hooks' restart";
    EXPECT_EQ(desktop.Calls("HookStart").size(), c.restarted ? 1u : 0u) << c.what;
    EXPECT_EQ(state.settings.flag[kRomajiOnOff], c.romajiOnOff) << c.what;
    desktop.FailWrites(nullptr);
    Open({}, false, [&](DialogRecord& r) { EXPECT_EQ(r.Checked(1005), c.romajiOnOff == 1) << c.what; });
    EXPECT_TRUE(desktop.Calls("MessageBoxA").empty()) << c.what << ": told once";
  }
}

}  // namespace
}  // namespace tavik
