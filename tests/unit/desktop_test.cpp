// The simulated desktop stands in for Windows in every stage's tests: where
// it strays from what Windows does, those tests prove nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "sim/desktop.h"

namespace tavik::sim {
namespace {

class DesktopTest : public ::testing::Test {
 protected:
  DesktopTest() {
    desktop.AddWindow("editor");
    desktop.SetFocus("editor");
    desktop.SetHookRunner([this](HookProc proc, int32_t code, uintptr_t w, intptr_t l) -> intptr_t {
      calls.push_back(std::to_string(static_cast<uintptr_t>(proc)) + ":" + std::to_string(w));
      return hook ? hook(proc, code, w, l) : desktop.CallNextHookEx(Hhook{}, code, w, l);
    });
  }

  intptr_t Press(uint32_t vk, uint32_t scanKey, bool up = false) {
    return desktop.Keystroke(w32::HC_ACTION, vk, KeystrokeLParam(scanKey, up, up));
  }

  std::vector<ReceivedKey>& Received() { return desktop.FindWindow("editor")->received; }

  Desktop desktop;
  std::function<intptr_t(HookProc, int32_t, uintptr_t, intptr_t)> hook;
  std::vector<std::string> calls;
};

TEST_F(DesktopTest, SyntheticKeystrokesFollowTheCurrentOneInOrderThroughTheHooks) {
  desktop.SetWindowsHookExA(w32::WH_KEYBOARD, HookProc{7}, Hinstance{}, 0);
  hook = [&](HookProc, int32_t code, uintptr_t w, intptr_t l) -> intptr_t {
    if (w == 0x41) {
      desktop.keybd_event(0x42, 0x30, 0, 0);
      desktop.keybd_event(0x43, 0x2E, w32::KEYEVENTF_EXTENDEDKEY, 0);
      // Nothing comes back while this call runs.
      EXPECT_TRUE(Received().empty());
      return 1;
    }
    if (w == 0x42) desktop.keybd_event(0x44, 0x20, w32::KEYEVENTF_KEYUP, 0);
    return desktop.CallNextHookEx(Hhook{}, code, w, l);
  };
  EXPECT_EQ(Press(0x41, 0x1E), 1);
  ASSERT_EQ(Received().size(), 3u);
  EXPECT_EQ(Received()[0], (ReceivedKey{0x42, 0x30, false}));
  EXPECT_EQ(Received()[1], (ReceivedKey{0x43, 0x12E, false}));
  EXPECT_EQ(Received()[2], (ReceivedKey{0x44, 0x20, true}));
  EXPECT_EQ(calls, (std::vector<std::string>{"7:65", "7:66", "7:67", "7:68"}));
}

// SendInput's batches arrive whole before the application takes the first
// keystroke, so a key the hook sends goes behind the rest of the batch, and
// a key sent for a sent key behind that.
TEST_F(DesktopTest, WhatTheHooksSendDuringABurstComesAfterTheWholeBurst) {
  desktop.SetWindowsHookExA(w32::WH_KEYBOARD, HookProc{7}, Hinstance{}, 0);
  hook = [&](HookProc, int32_t code, uintptr_t w, intptr_t l) -> intptr_t {
    if (w == 0x41 && (l & 0x80000000) == 0) {
      desktop.keybd_event(0x42, 0x30, 0, 0);
      return 1;
    }
    if (w == 0x42) desktop.keybd_event(0x44, 0x20, 0, 0);
    return desktop.CallNextHookEx(Hhook{}, code, w, l);
  };
  desktop.Burst({{0x41, KeystrokeLParam(0x1E, false, false)},
                 {0x41, KeystrokeLParam(0x1E, true, true)},
                 {0x43, KeystrokeLParam(0x2E, false, false)},
                 {0x43, KeystrokeLParam(0x2E, true, true)}});
  EXPECT_EQ(Received(), (std::vector<ReceivedKey>{
                            {0x41, 0x1E, true}, {0x43, 0x2E, false}, {0x43, 0x2E, true}, {0x42, 0x30, false},
                            {0x44, 0x20, false}}));
  EXPECT_TRUE(desktop.physicalKeysDown().empty()) << "the burst's keys went up as they were typed";
}

TEST_F(DesktopTest, TheLatestHookRunsFirstAndCallNextHookExReachesTheOlderOne) {
  desktop.SetWindowsHookExA(w32::WH_KEYBOARD, HookProc{1}, Hinstance{}, 0);
  desktop.SetWindowsHookExA(w32::WH_GETMESSAGE, HookProc{3}, Hinstance{}, 0);
  Hhook second = desktop.SetWindowsHookExA(w32::WH_KEYBOARD, HookProc{2}, Hinstance{}, 0);
  hook = [&](HookProc proc, int32_t code, uintptr_t w, intptr_t l) -> intptr_t {
    if (proc == HookProc{1}) return 5;
    return desktop.CallNextHookEx(Hhook{}, code, w + 1, l);
  };
  EXPECT_EQ(Press(0x41, 0x1E), 5);
  EXPECT_EQ(calls, (std::vector<std::string>{"2:65", "1:66"}));
  EXPECT_TRUE(Received().empty()) << "a nonzero chain result discards the keystroke";

  desktop.UnhookWindowsHookEx(second);
  hook = nullptr;
  calls.clear();
  EXPECT_EQ(Press(0x41, 0x1E), 0);
  EXPECT_EQ(calls, (std::vector<std::string>{"1:65"}));
  EXPECT_EQ(Received().size(), 1u);
}

TEST_F(DesktopTest, PeekedKeystrokesAreNotDeliveredAndNoFocusDeliversNowhere) {
  desktop.Keystroke(w32::HC_NOREMOVE, 0x41, KeystrokeLParam(0x1E, false, false));
  EXPECT_TRUE(Received().empty());
  desktop.SetFocus("");
  Press(0x41, 0x1E);
  EXPECT_TRUE(Received().empty());
}

TEST_F(DesktopTest, DeliveredCapsLockTogglesIt) {
  Press(w32::VK_CAPITAL, 0x3A);
  Press(w32::VK_CAPITAL, 0x3A, true);
  EXPECT_TRUE(desktop.Toggled(w32::VK_CAPITAL));
  EXPECT_EQ(desktop.GetKeyState(w32::VK_CAPITAL), 1);
  Press(w32::VK_CAPITAL, 0x3A);
  EXPECT_FALSE(desktop.Toggled(w32::VK_CAPITAL));
}

TEST_F(DesktopTest, PressedSinceTheLastQueryIsReadOnce) {
  desktop.SetHeld(w32::VK_SHIFT, true);
  desktop.SetPressedSinceLastQuery(w32::VK_SHIFT, true);
  EXPECT_EQ(static_cast<uint16_t>(desktop.GetAsyncKeyState(w32::VK_SHIFT)), 0x8001);
  EXPECT_EQ(static_cast<uint16_t>(desktop.GetAsyncKeyState(w32::VK_SHIFT)), 0x8000);
}

TEST_F(DesktopTest, ScriptedAsyncKeyStateComesFirstThenTheHeldState) {
  desktop.SetHeld(w32::VK_SHIFT, true);
  desktop.ScriptAsyncKeyState(w32::VK_SHIFT, {0x8001, 0x0000});
  EXPECT_EQ(static_cast<uint16_t>(desktop.GetAsyncKeyState(w32::VK_SHIFT)), 0x8001);
  EXPECT_EQ(static_cast<uint16_t>(desktop.GetAsyncKeyState(w32::VK_SHIFT)), 0x0000);
  EXPECT_EQ(static_cast<uint16_t>(desktop.GetAsyncKeyState(w32::VK_SHIFT)), 0x8000);
  desktop.SetKeyState(w32::VK_KANA, 0xFF80);
  EXPECT_EQ(static_cast<uint16_t>(desktop.GetKeyState(w32::VK_KANA)), 0xFF80);
}

TEST_F(DesktopTest, KeystrokeLParamFollowsWindows) {
  EXPECT_EQ(KeystrokeLParam(0x1A, false, false), 0x001A0001);
  EXPECT_EQ(KeystrokeLParam(0x1A, false, true), 0x401A0001);
  EXPECT_EQ(static_cast<uint32_t>(KeystrokeLParam(0x11C, true, true)), 0xC11C0001u);
}

TEST_F(DesktopTest, CompositionReadsLikeImm32) {
  Window& w = *desktop.FindWindow("editor");
  w.open = true;
  w.composition = "\x83\x4A\x83\x4C";
  w.attributes = std::string("\x02\x02\x01\x01", 4);
  Himc himc = desktop.ImmGetContext(desktop.GetFocus());
  EXPECT_EQ(desktop.ImmGetCompositionStringA(himc, w32::GCS_COMPSTR, nullptr, 0), 4) << "size query";
  char buf[8] = {};
  EXPECT_EQ(desktop.ImmGetCompositionStringA(himc, w32::GCS_COMPATTR, buf, 2), 2);
  EXPECT_EQ(std::memcmp(buf, "\x02\x02", 2), 0);
  EXPECT_EQ(desktop.ImmGetCompositionStringA(himc, 0x800, buf, 8), w32::IMM_ERROR_GENERAL);

  desktop.ImmNotifyIME(himc, w32::NI_COMPOSITIONSTR, w32::CPS_REVERT, 0);
  EXPECT_EQ(w.attributes, std::string(4, '\0'));
  desktop.ImmNotifyIME(himc, w32::NI_COMPOSITIONSTR, w32::CPS_COMPLETE, 0);
  EXPECT_EQ(w.committed, "\x83\x4A\x83\x4C");
  EXPECT_TRUE(w.composition.empty());
  w.composition = "x";
  desktop.ImmNotifyIME(himc, w32::NI_COMPOSITIONSTR, w32::CPS_CANCEL, 0);
  EXPECT_TRUE(w.composition.empty());
  EXPECT_EQ(w.committed, "\x83\x4A\x83\x4C");
  EXPECT_EQ(desktop.imeTold(), (std::vector<ImeTold>{{w32::CPS_REVERT}, {w32::CPS_COMPLETE}, {w32::CPS_CANCEL}}));
  desktop.ImmReleaseContext(desktop.GetFocus(), himc);
}

TEST_F(DesktopTest, CandidateListSizeThenFill) {
  Window& w = *desktop.FindWindow("editor");
  w.open = true;
  Himc himc = desktop.ImmGetContext(desktop.GetFocus());
  EXPECT_EQ(desktop.ImmGetCandidateListA(himc, 0, nullptr, 0), 0u) << "no list";
  w.candidateList = 3;
  uint32_t size = desktop.ImmGetCandidateListA(himc, 0, nullptr, 0);
  ASSERT_GE(size, sizeof(CandidateList));
  std::vector<uint8_t> block(size);
  auto* list = reinterpret_cast<CandidateList*>(block.data());
  EXPECT_EQ(desktop.ImmGetCandidateListA(himc, 0, list, size - 1), 0u) << "too small a buffer";
  EXPECT_EQ(desktop.ImmGetCandidateListA(himc, 0, list, size), size);
  EXPECT_EQ(list->dwCount, 3u);
  EXPECT_EQ(list->dwSize, size);
  desktop.Fail("ImmGetCandidateListA", -1);
  EXPECT_EQ(desktop.ImmGetCandidateListA(himc, 0, nullptr, 0), 0xFFFFFFFFu) << "a size that reads as negative";
  desktop.ImmReleaseContext(desktop.GetFocus(), himc);
}

// The list's size may be a lie (an IME that miscounts), but the desktop's
// own writes stay inside the caller's buffer whatever it says.
TEST_F(DesktopTest, ACandidateListReportsTheSizeItIsGivenAndWritesOnlyWhatFits) {
  Window& w = *desktop.FindWindow("editor");
  w.open = true;
  w.candidateList = 3;
  Himc himc = desktop.ImmGetContext(desktop.GetFocus());
  const uint32_t trueSize = desktop.ImmGetCandidateListA(himc, 0, nullptr, 0);
  ASSERT_EQ(trueSize, 24u + 6 * 3);
  std::vector<uint8_t> buf(256, 0xEE);
  auto* list = reinterpret_cast<CandidateList*>(buf.data());

  w.candidateListSize = 8;  // below even the header
  EXPECT_EQ(desktop.ImmGetCandidateListA(himc, 0, nullptr, 0), 8u);
  EXPECT_EQ(desktop.ImmGetCandidateListA(himc, 0, list, 8), 0u);
  EXPECT_EQ(buf[0], 0xEE) << "a buffer short of the list gets nothing";

  w.candidateListSize = -1;
  EXPECT_EQ(desktop.ImmGetCandidateListA(himc, 0, nullptr, 0), 0xFFFFFFFFu);
  EXPECT_EQ(desktop.ImmGetCandidateListA(himc, 0, list, trueSize), 0xFFFFFFFFu);
  EXPECT_EQ(list->dwSize, 0xFFFFFFFFu) << "the list says the same";
  EXPECT_EQ(list->dwCount, 3u);
  EXPECT_EQ(buf[trueSize - 2], 'c');
  EXPECT_EQ(buf[trueSize], 0xEE) << "nothing past the list";

  w.candidateListSize = 200;
  std::fill(buf.begin(), buf.end(), 0xEE);
  EXPECT_EQ(desktop.ImmGetCandidateListA(himc, 0, list, 200), 200u);
  EXPECT_EQ(buf[trueSize], 0xEE) << "the list is no longer for saying so";
  desktop.ImmReleaseContext(desktop.GetFocus(), himc);
}

// 24 + 6 x 0x2AAAAAAB bytes is 26 in 32 bits: a list the desktop once built
// in such a block and wrote its offsets past. Counts like these are no list.
TEST_F(DesktopTest, ACandidateListTooLargeToHoldIsNoListAndWritesNothing) {
  Window& w = *desktop.FindWindow("editor");
  w.open = true;
  Himc himc = desktop.ImmGetContext(desktop.GetFocus());
  for (uint32_t count : {0x40000000u, 0x2AAAAAABu, 0xFFFFFFFFu}) {
    w.candidateList = count;
    EXPECT_EQ(desktop.ImmGetCandidateListA(himc, 0, nullptr, 0), 0u) << count;
    std::vector<uint8_t> buf(64, 0xEE);
    EXPECT_EQ(desktop.ImmGetCandidateListA(himc, 0, reinterpret_cast<CandidateList*>(buf.data()), 64), 0u);
    EXPECT_EQ(buf, std::vector<uint8_t>(64, 0xEE));
  }
  EXPECT_NE(desktop.Calls().back().note.find("more than the IME can hold"), std::string::npos);
  desktop.ImmReleaseContext(desktop.GetFocus(), himc);
}

TEST_F(DesktopTest, GlobalAllocRefusesSizesNoOneCouldMean) {
  EXPECT_EQ(desktop.GlobalAlloc(w32::GHND, kMaxGlobalBlock + 1), Hglobal{});
  EXPECT_EQ(desktop.GlobalAlloc(w32::GHND, 0xFFFFFFFFu), Hglobal{});
  Hglobal block = desktop.GlobalAlloc(w32::GHND, 42);
  ASSERT_NE(block, Hglobal{});
  desktop.GlobalFree(block);
  EXPECT_TRUE(desktop.InvariantViolations().empty());
}

// The application's text: what the keys the hooks let through type, and
// what the IME commits.
TEST_F(DesktopTest, DeliveredKeyDownsTypeIntoTheFocusedWindowsText) {
  Window& w = *desktop.FindWindow("editor");
  desktop.SetWindowsHookExA(w32::WH_KEYBOARD, HookProc{1}, Hinstance{}, 0);
  hook = [&](HookProc, int32_t code, uintptr_t vk, intptr_t l) -> intptr_t {
    return vk == 0x42 ? 1 : desktop.CallNextHookEx(Hhook{}, code, vk, l);
  };
  Press(0x41, 0x1E);
  Press(0x41, 0x1E, true);
  Press(0x42, 0x30);  // discarded by the hook
  desktop.Keystroke(w32::HC_NOREMOVE, 0x43, KeystrokeLParam(0x2E, false, false));  // only peeked
  desktop.SetHeld(w32::VK_CONTROL, true);
  Press(0x44, 0x20);
  desktop.SetHeld(w32::VK_CONTROL, false);
  Press(0x45, 0x12);
  EXPECT_EQ(w.text.Bytes(), "ae");
  desktop.SetFocus("");
  Press(0x46, 0x21);
  EXPECT_EQ(w.text.Bytes(), "ae");
}

TEST_F(DesktopTest, TheImeTakesEnterWhileOpenWithACompositionAndCommitsAtTheCaret) {
  Window& w = *desktop.FindWindow("editor");
  w.text.Set("ab");
  w.text.Left();
  w.open = true;
  w.composition = "\x95\xCF\x8A\xB7";
  w.attributes = std::string(4, '\x02');
  Press(w32::VK_RETURN, 0x1C);
  Press(w32::VK_RETURN, 0x1C, true);
  EXPECT_EQ(w.text.Bytes(), "a\x95\xCF\x8A\xB7" "b") << "no line break";
  EXPECT_EQ(w.text.Caret(), 3u);
  EXPECT_EQ(w.committed, "\x95\xCF\x8A\xB7");
  EXPECT_TRUE(w.composition.empty());
  EXPECT_TRUE(w.attributes.empty());
  EXPECT_EQ(w.received, (std::vector<ReceivedKey>{{w32::VK_RETURN, 0x1C, false, true}, {w32::VK_RETURN, 0x1C, true}}))
      << "delivered all the same, the key-down as the IME's";
  EXPECT_TRUE(desktop.imeTold().empty()) << "nobody told the IME: the key did";

  Press(w32::VK_RETURN, 0x1C);
  EXPECT_EQ(w.text.Bytes(), "a\x95\xCF\x8A\xB7\nb") << "nothing left to commit";
  EXPECT_FALSE(w.received.back().imeTook);

  w.composition = "x";
  w.open = false;
  Press(w32::VK_RETURN, 0x1C);
  EXPECT_EQ(w.composition, "x") << "a closed IME takes no key";
  EXPECT_EQ(w.text.Bytes(), "a\x95\xCF\x8A\xB7\n\nb");

  w.open = true;
  Himc himc = desktop.ImmGetContext(desktop.GetFocus());
  desktop.ImmNotifyIME(himc, w32::NI_COMPOSITIONSTR, w32::CPS_COMPLETE, 0);
  desktop.ImmReleaseContext(desktop.GetFocus(), himc);
  EXPECT_EQ(w.text.Bytes(), "a\x95\xCF\x8A\xB7\n\nxb") << "CPS_COMPLETE commits at the caret too";
  EXPECT_EQ(w.committed, "\x95\xCF\x8A\xB7x");
}

// --- The henkan key and CPS_REVERT ---------------------------------------------

constexpr const char kTyped[] = "\x82\xA9\x82\xC8";      // かな
constexpr const char kConverted[] = "\x95\xCF\x8A\xB7";  // 変換
constexpr uint32_t kHenkanScan = 0x79;

class ImeConversionTest : public DesktopTest {
 protected:
  ImeConversionTest() {
    editor.open = true;
    editor.composition = kTyped;
    editor.attributes.assign(4, '\0');
    desktop.SetWindowsHookExA(w32::WH_KEYBOARD, HookProc{1}, Hinstance{}, 0);
    desktop.SetWindowsHookExA(w32::WH_GETMESSAGE, HookProc{2}, Hinstance{}, 0);
    hook = [this](HookProc proc, int32_t code, uintptr_t w, intptr_t l) -> intptr_t {
      if (proc == HookProc{2}) retrieved.push_back(MessageNumber(code, l));
      return desktop.CallNextHookEx(Hhook{}, code, w, l);
    };
  }

  void Tell(uint32_t cps) {
    Hwnd focus = desktop.GetFocus();
    Himc himc = desktop.ImmGetContext(focus);
    desktop.ImmNotifyIME(himc, w32::NI_COMPOSITIONSTR, cps, 0);
    desktop.ImmReleaseContext(focus, himc);
  }

  Window& editor = *desktop.FindWindow("editor");
  std::vector<uint32_t> retrieved;  // what the message hook saw
};

TEST_F(ImeConversionTest, HenkanConvertsAndPostsTheNewsAheadOfTheNextKeystroke) {
  Press(w32::VK_CONVERT, kHenkanScan);
  Press(w32::VK_CONVERT, kHenkanScan, true);
  EXPECT_EQ(editor.composition, kConverted);
  EXPECT_EQ(editor.attributes, std::string(4, '\x01'));
  EXPECT_EQ(editor.received, (std::vector<ReceivedKey>{{w32::VK_CONVERT, kHenkanScan, false, true},
                                                       {w32::VK_CONVERT, kHenkanScan, true}}))
      << "the key counts as delivered, the key-down as the IME's";
  EXPECT_EQ(retrieved, std::vector<uint32_t>{w32::WM_IME_COMPOSITION});
  EXPECT_EQ(calls, (std::vector<std::string>{"1:28", "2:1", "1:28"}))
      << "retrieved, removed, between the key-down and the key-up";
  EXPECT_EQ(desktop.imeMessages(),
            (std::vector<ImeMessage>{ImeMessage{"editor", w32::WM_IME_COMPOSITION, 0x18, true}}));
  EXPECT_TRUE(editor.committed.empty());
}

TEST_F(ImeConversionTest, HenkanIsTheImesOnlyAsAKeyDownWithSomethingToConvert) {
  Press(w32::VK_CONVERT, kHenkanScan, true);
  EXPECT_EQ(editor.composition, kTyped) << "a key-up";
  editor.open = false;
  Press(w32::VK_CONVERT, kHenkanScan);
  EXPECT_EQ(editor.composition, kTyped) << "a closed IME";
  editor.open = true;
  editor.composition.clear();
  editor.attributes.clear();
  Press(w32::VK_CONVERT, kHenkanScan);
  EXPECT_TRUE(editor.composition.empty()) << "nothing composed";
  for (const ReceivedKey& k : editor.received) EXPECT_FALSE(k.imeTook);
  EXPECT_TRUE(retrieved.empty());
  EXPECT_TRUE(desktop.imeMessages().empty());
}

TEST_F(ImeConversionTest, RevertBringsBackWhatWasTypedAndSaysSoOnlyWhenThatChangesSomething) {
  Press(w32::VK_CONVERT, kHenkanScan);
  Press(w32::VK_CONVERT, kHenkanScan);  // another candidate: the reading stays what was typed
  Tell(w32::CPS_REVERT);
  EXPECT_EQ(editor.composition, kTyped);
  EXPECT_EQ(editor.attributes, std::string(4, '\0'));
  ASSERT_EQ(desktop.imeMessages().size(), 3u);
  EXPECT_EQ(desktop.imeMessages().back(), (ImeMessage{"editor", w32::WM_IME_COMPOSITION, 0x18, false}));
  EXPECT_EQ(retrieved.size(), 2u) << "a sent message passes no message hook";

  Tell(w32::CPS_REVERT);
  EXPECT_EQ(editor.composition, kTyped);
  EXPECT_EQ(desktop.imeMessages().size(), 3u) << "nothing changed, nothing said";

  Tell(w32::CPS_COMPLETE);
  EXPECT_EQ(editor.committed, kTyped) << "the reading is what a complete after a revert commits";
  EXPECT_EQ(editor.text.Bytes(), kTyped);
}

TEST_F(ImeConversionTest, RevertOfACompositionNeverConvertedResetsOnlyItsAttributes) {
  editor.composition = kConverted;
  editor.attributes.assign(4, '\x02');
  Tell(w32::CPS_REVERT);
  EXPECT_EQ(editor.composition, kConverted);
  EXPECT_EQ(editor.attributes, std::string(4, '\0'));
  EXPECT_EQ(desktop.imeMessages().size(), 1u);

  // Committed or cancelled, a conversion's reading is gone with it.
  Press(w32::VK_CONVERT, kHenkanScan);
  Tell(w32::CPS_CANCEL);
  editor.composition = "x";
  editor.attributes = "\x01";
  Tell(w32::CPS_REVERT);
  EXPECT_EQ(editor.composition, "x");
}

// --- Processes ---------------------------------------------------------------------

TEST_F(DesktopTest, EachProcessKeepsItsClockAndVariablesAndInputRunsInTheFocusedWindows) {
  desktop.AddWindow("other", true, "second");
  desktop.SetClock("app", 100);
  desktop.SetClock("second", 200);
  desktop.SetWindowsHookExA(w32::WH_KEYBOARD, HookProc{1}, Hinstance{}, 0);
  std::vector<int32_t> clocks;
  hook = [&](HookProc, int32_t code, uintptr_t w, intptr_t l) -> intptr_t {
    clocks.push_back(desktop.clock());
    ++desktop.Running().variables.armedTime;
    if (w == 0x41) desktop.keybd_event(0x42, 0x30, 0, 0);
    return desktop.CallNextHookEx(Hhook{}, code, w, l);
  };
  Press(0x43, 0x2E);
  desktop.SetFocus("other");
  Press(0x41, 0x1E);  // its synthetic key-down runs there too
  desktop.SetFocus("");
  Press(0x43, 0x2E);  // no focus: where the focus was last
  desktop.SetFocus("editor");
  desktop.SetFocus("");
  Press(0x43, 0x2E);
  EXPECT_EQ(clocks, (std::vector<int32_t>{100, 200, 200, 200, 100}));
  EXPECT_EQ(desktop.ProcessNamed("app").variables.armedTime, 2);
  EXPECT_EQ(desktop.ProcessNamed("second").variables.armedTime, 3);
}

TEST_F(DesktopTest, TheRecordNamesTheProcessOnlyOnceThereIsMoreThanOne) {
  Press(0x41, 0x1E);
  EXPECT_EQ(std::get<KeyInput>(desktop.events().front()).process, "");
  desktop.ProcessNamed("second");
  size_t from = desktop.events().size();
  Press(0x41, 0x1E);
  desktop.RetrieveMessage(0, true, w32::WM_IME_COMPOSITION);
  EXPECT_EQ(std::get<KeyInput>(desktop.events()[from]).process, "app");
  EXPECT_EQ(std::get<MessageInput>(desktop.events().back()).process, "app");
}

TEST_F(DesktopTest, ModuleFileNameIsTruncatedAndTerminated) {
  desktop.SetHostPath(std::string("C:\\apps\\editor.exe"));
  char buf[8];
  EXPECT_EQ(desktop.GetModuleFileNameA(Hinstance{}, buf, sizeof buf), 8u);
  EXPECT_STREQ(buf, "C:\\apps");
  char big[64];
  EXPECT_EQ(desktop.GetModuleFileNameA(Hinstance{}, big, sizeof big), 18u);
  desktop.SetHostPath(std::nullopt);
  EXPECT_EQ(desktop.GetModuleFileNameA(Hinstance{}, big, sizeof big), 0u);
}

TEST_F(DesktopTest, InvariantsCatchLeaksAndMisuse) {
  desktop.AddWindow("other");
  Himc himc = desktop.ImmGetContext(desktop.GetFocus());
  Hglobal block = desktop.GlobalAlloc(w32::GHND, 16);
  desktop.keybd_event(0x1B, 0x64, 1, 0);
  std::vector<std::string> v = desktop.InvariantViolations();
  ASSERT_EQ(v.size(), 3u);
  EXPECT_NE(v[0].find("not released"), std::string::npos);
  EXPECT_NE(v[1].find("not freed"), std::string::npos);
  EXPECT_NE(v[2].find("without its key-up"), std::string::npos);

  desktop.ImmReleaseContext(Hwnd{2}, himc);  // with another window
  desktop.ImmReleaseContext(desktop.GetFocus(), himc);
  desktop.ImmReleaseContext(desktop.GetFocus(), himc);  // once too often
  EXPECT_EQ(desktop.GlobalFree(block), Hglobal{});
  EXPECT_EQ(desktop.GlobalFree(block), block) << "freeing twice fails";
  desktop.keybd_event(0x1B, 0x64, 3, 0);
  v = desktop.InvariantViolations();
  ASSERT_EQ(v.size(), 3u);
  EXPECT_NE(v[0].find("released with window other"), std::string::npos) << v[0];
  EXPECT_NE(v[1].find("released more often than taken"), std::string::npos);
  EXPECT_NE(v[2].find("GlobalFree"), std::string::npos);
}

TEST_F(DesktopTest, ASyntheticKeyDownMayWaitForTheUsersKeyUp) {
  desktop.SetWindowsHookExA(w32::WH_KEYBOARD, HookProc{1}, Hinstance{}, 0);
  hook = [&](HookProc, int32_t code, uintptr_t w, intptr_t l) -> intptr_t {
    if (w == 0xC0) {
      bool up = (static_cast<uint64_t>(l) & 0x80000000u) != 0;
      desktop.keybd_event(0x1B, 0x64, up ? 3 : 1, 0);
      return 1;
    }
    return desktop.CallNextHookEx(Hhook{}, code, w, l);
  };
  Press(0xC0, 0x1A);
  EXPECT_TRUE(desktop.InvariantViolations().empty()) << "the user still holds the key";
  Press(0xC0, 0x1A, true);
  EXPECT_TRUE(desktop.InvariantViolations().empty());
}

TEST_F(DesktopTest, EndlessSyntheticKeystrokesAreCut) {
  desktop.SetWindowsHookExA(w32::WH_KEYBOARD, HookProc{1}, Hinstance{}, 0);
  hook = [&](HookProc, int32_t, uintptr_t w, intptr_t) -> intptr_t {
    desktop.keybd_event(static_cast<uint8_t>(w), 0, 0, 0);
    desktop.keybd_event(static_cast<uint8_t>(w), 0, 2, 0);
    return 1;
  };
  Press(0x41, 0x1E);
  Press(0x41, 0x1E, true);
  std::vector<std::string> v = desktop.InvariantViolations();
  ASSERT_FALSE(v.empty());
  EXPECT_NE(v[0].find("more than 1000 synthetic keystrokes"), std::string::npos);
}

// keybd_event returns nothing, so a dropped send is the desktop's to keep
// track of: random typing forgives a stuck key only when its release was the
// send dropped.
TEST_F(DesktopTest, ADroppedKeyDownPressesNothingAndADroppedKeyUpLeavesTheKeyDown) {
  desktop.keybd_event(w32::VK_ESCAPE, 0x64, w32::KEYEVENTF_EXTENDEDKEY, 0);
  EXPECT_TRUE(desktop.SyntheticKeyDown(w32::VK_ESCAPE));
  desktop.Fail("keybd_event");
  desktop.keybd_event(w32::VK_ESCAPE, 0x64, w32::KEYEVENTF_EXTENDEDKEY | w32::KEYEVENTF_KEYUP, 0);
  EXPECT_TRUE(desktop.SyntheticKeyDown(w32::VK_ESCAPE));
  EXPECT_TRUE(desktop.LastSendDropped(w32::VK_ESCAPE));
  desktop.Restore("keybd_event");
  desktop.keybd_event(w32::VK_ESCAPE, 0x64, w32::KEYEVENTF_EXTENDEDKEY | w32::KEYEVENTF_KEYUP, 0);
  EXPECT_FALSE(desktop.SyntheticKeyDown(w32::VK_ESCAPE));
  EXPECT_FALSE(desktop.LastSendDropped(w32::VK_ESCAPE));

  desktop.Fail("keybd_event");
  desktop.keybd_event(w32::VK_ESCAPE, 0x64, w32::KEYEVENTF_EXTENDEDKEY, 0);
  EXPECT_FALSE(desktop.SyntheticKeyDown(w32::VK_ESCAPE)) << "a dropped key-down presses nothing";
}

// Windows keeps one down state per virtual key: the user's own Backspace
// key-up releases a Backspace a hook pressed.
TEST_F(DesktopTest, TheKeyboardsKeyUpReleasesASyntheticPressOfTheSameKey) {
  desktop.keybd_event(0x08, 0x0E, 0, 0);
  Press(0x41, 0x1E);
  Press(0x41, 0x1E, true);
  ASSERT_EQ(desktop.InvariantViolations(), std::vector<std::string>{"synthetic key-down of 0x8 without its key-up"});
  Press(0x08, 0x0E);
  Press(0x08, 0x0E, true);
  EXPECT_TRUE(desktop.InvariantViolations().empty());
  desktop.keybd_event(0x08, 0x0E, 0, 0);
  Press(0x41, 0x1E);
  Press(0x41, 0x1E, true);
  EXPECT_FALSE(desktop.InvariantViolations().empty()) << "pressed again after that key-up";
}

}  // namespace
}  // namespace tavik::sim
