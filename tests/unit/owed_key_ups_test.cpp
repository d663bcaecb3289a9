// Owed key-ups paid when the typed key's own key-up will not come through
// the hook: for each kind of owed word, nothing is paid while the typed key
// is down; once it is up, exactly one key-up is sent, by whichever side
// clears the word first, and the typed key's late key-up sends no second one.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "hook/stages.h"
#include "sim/desktop.h"
#include "sim/keys.h"
#include "sim/library_hooks.h"
#include "tests/support/null_platform.h"

namespace tavik {
namespace {

struct Owing {
  const char* key;  // typed down, and owes the key-up of `sent`
  uint32_t sent;
  bool composing;   // a converted composition waits
  uint32_t conversion;
};

const Owing kOwing[] = {
    {"at", w32::VK_ESCAPE, false, w32::IME_CMODE_NATIVE},  // the cancel key's Esc
    {"comma", w32::VK_BACK, false, w32::IME_CMODE_NATIVE | w32::IME_CMODE_ROMAN},  // after left Shift
    {"space", w32::VK_SPACE, true, w32::IME_CMODE_NATIVE},
    {"enter", w32::VK_RETURN, true, w32::IME_CMODE_NATIVE},
    {"del", w32::VK_DELETE, true, w32::IME_CMODE_NATIVE},
};

int KeyUpsOf(const sim::Desktop& d, size_t from, uint32_t vk) {
  int n = 0;
  for (const sim::PlatformCall& c : d.Calls(from)) {
    n += c.function == "keybd_event" && c.arguments.at(0) == sim::Value(sim::Number{vk}) &&
         (std::get<sim::Number>(c.arguments.at(2)).value & w32::KEYEVENTF_KEYUP) != 0;
  }
  return n;
}

TEST(OwedKeyUps, PaidOnceWhenTheTypedKeyIsUpAndNotAgainByItsLateKeyUp) {
  for (const Owing& o : kOwing) {
    sim::Desktop desktop;
    HookSharedBlock block{};
    sim::RunLibraryHooks(desktop, block);
    sim::Window& w = desktop.AddWindow("editor");
    desktop.SetFocus("editor");
    w.open = true;
    w.conversion = o.conversion;
    if (o.composing) {
      w.composition = "\x8B\x4C";  // 記, converted
      w.attributes = std::string(2, '\x01');
    }
    std::string settings = "[TAVIK]\r\nOASYS KAKUTEI=1\r\nROMAJI BACKSPACE=1\r\nBACKSPACE PRIORITY=1\r\n";
    desktop.profiles().SetFile(kSettingsFile, settings);
    HookStart(desktop, block, sim::kModuleInstance, sim::kKeyboardProcToken, sim::kMessageProcToken);
    sim::KeyId k = *sim::LookUpKey(o.key);
    if (std::string(o.key) == "comma") desktop.Keystroke(0, w32::VK_SHIFT, sim::KeystrokeLParam(0x2A, false, false));
    desktop.Keystroke(0, k.vk, sim::KeystrokeLParam(k.scanKey, false, false));
    size_t before = desktop.events().size();

    desktop.SetHeld(k.vk, true);
    EXPECT_EQ(ReleaseOwedKeyUps(desktop, block, OwedWordBits()), 0u) << o.key << ": its key is still down";
    EXPECT_EQ(KeyUpsOf(desktop, before, o.sent), 0) << o.key << ": paid while its key was down";
    desktop.SetHeld(k.vk, false);
    uint32_t found = ReleaseOwedKeyUps(desktop, block, 0);
    EXPECT_NE(found, 0u) << o.key << ": nothing found owed";
    EXPECT_EQ(KeyUpsOf(desktop, before, o.sent), 0) << o.key << ": paid before it was seen twice";
    EXPECT_EQ(ReleaseOwedKeyUps(desktop, block, found), found) << o.key;
    EXPECT_EQ(ReleaseOwedKeyUps(desktop, block, found), 0u) << o.key << ": still owed after it was paid";
    desktop.Keystroke(0, k.vk, sim::KeystrokeLParam(k.scanKey, true, true));
    EXPECT_EQ(KeyUpsOf(desktop, before, o.sent), 1) << o.key;
    EXPECT_FALSE(desktop.SyntheticKeyDown(o.sent)) << o.key;
  }
}

// The tray program's thread and a keystroke's clear the same word at the
// same moment: one key-up for each time it was owed, never two.
TEST(OwedKeyUps, TheLibraryAndTheTrayProgramNeverBothPay) {
  NullPlatform tray;  // its only call here is the key-up: calls counts them
  HookSharedBlock block{};
  block.owedKeys.keyUp[3] = w32::VK_SPACE | (w32::KEYEVENTF_KEYUP << 16);  // owed.spaceResent
  int32_t& word = block.runtime.owed.spaceResent;
  constexpr int kTimes = 1000000;
  std::atomic<bool> done{false};
  std::thread releaser([&] {
    while (!done) ReleaseOwedKeyUps(tray, block, OwedWordBits());
  });
  int library = 0;
  for (int i = 0; i < kTimes; ++i) {
    std::atomic_ref<int32_t>(word).store(1);
    if (Settle(word)) ++library;
  }
  done = true;
  releaser.join();
  EXPECT_EQ(library + tray.calls, kTimes);
}

}  // namespace
}  // namespace tavik
