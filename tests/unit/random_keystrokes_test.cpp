// Random typing on a random desktop: whatever the settings, IME state and
// failing calls, no input context stays taken, no synthetic key stays down
// once every key is up, and the cancel key's Esc is down exactly while the
// library says so.
#include <gtest/gtest.h>

#include <random>

#include "hook/shared_block.h"
#include "hook/stages.h"
#include "sim/desktop.h"
#include "sim/keys.h"

namespace tavik {
namespace {

constexpr const char* kKeys[] = {"at", "esc", "a", "space", "enter", "bs", "lshift", "comma", "eiji", "eisu",
                                 "capslock", "hankaku", "muhenkan", "henkan", "hiragana", "left", "home", "tab"};
constexpr const char* kCalls[] = {"GetFocus", "ImmGetContext", "ImmGetOpenStatus", "ImmGetConversionStatus",
                                  "ImmGetCompositionStringA", "ImmGetIMEFileNameA", "GetModuleFileNameA",
                                  "keybd_event", "GlobalAlloc"};

class RandomTyping : public ::testing::TestWithParam<int> {};

TEST_P(RandomTyping, LeavesNothingTakenOrPressed) {
  std::mt19937 rng(static_cast<unsigned>(GetParam()));
  auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };

  sim::Desktop desktop;
  HookSharedBlock block{};
  desktop.SetHookRunner([&](HookProc proc, int32_t code, uintptr_t w, intptr_t l) -> intptr_t {
    return proc == sim::kKeyboardProcToken ? KeyboardProcedure(desktop, block, code, w, l)
                                           : MessageProcedure(desktop, block, code, w, l);
  });
  desktop.AddWindow("editor");
  desktop.AddWindow("plain", false);
  desktop.SetFocus("editor");
  std::string settings = "[TAVIK]\r\n";
  for (int i = 0; i < kSettingCount; ++i) settings += std::string(kSettingKeys[i].name) + (chance(50) ? "=1\r\n" : "=0\r\n");
  desktop.profiles().SetFile(kSettingsFile, settings);
  desktop.SetImeFileName(chance(50) ? std::optional<std::string>("OAKIME.IME") : std::optional<std::string>("X.IME"));
  HookStart(desktop, block, sim::kModuleInstance, sim::kKeyboardProcToken, sim::kMessageProcToken);

  std::vector<sim::KeyId> down;
  for (int step = 0; step < 400; ++step) {
    // Change the world now and then.
    if (chance(10)) desktop.SetFocus(chance(70) ? "editor" : chance(50) ? "plain" : "");
    if (sim::Window* w = desktop.FindWindow("editor"); w != nullptr && chance(15)) {
      w->open = chance(60);
      w->conversion = rng() % 0x20;
      w->composition.assign(rng() % 5, '\x83');
      w->attributes.assign(w->composition.size(), static_cast<char>(rng() % 5));
    }
    if (chance(5)) {
      const char* call = kCalls[rng() % std::size(kCalls)];
      if (chance(50)) {
        desktop.Fail(call);
      } else {
        desktop.Restore(call);
      }
    }
    // Press a new key or release a held one (keys held repeat). Now and then
    // the application peeks at the keystroke before it removes it.
    bool peek = chance(10);
    sim::KeyId k;
    bool up;
    bool repeat = false;
    if (down.empty() || chance(50)) {
      k = *sim::LookUpKey(kKeys[rng() % std::size(kKeys)]);
      up = false;
      for (const auto& d : down) repeat = repeat || d.scanKey == k.scanKey;
      if (!repeat) down.push_back(k);
    } else {
      size_t i = rng() % down.size();
      k = down[i];
      up = true;
      down.erase(down.begin() + static_cast<std::ptrdiff_t>(i));
    }
    intptr_t lParam = sim::KeystrokeLParam(k.scanKey, up, up || repeat);
    if (peek) desktop.Keystroke(w32::HC_NOREMOVE, k.vk, lParam);
    desktop.Keystroke(w32::HC_ACTION, k.vk, lParam);
  }
  // Let go of everything with the world in order again.
  for (const char* call : kCalls) desktop.Restore(call);
  desktop.SetFocus("editor");
  for (const auto& k : down) desktop.Keystroke(w32::HC_ACTION, k.vk, sim::KeystrokeLParam(k.scanKey, true, true));

  EXPECT_EQ(block.runtime.cancelEscDown, 0);
  std::vector<std::string> violations = desktop.InvariantViolations();
  EXPECT_TRUE(violations.empty()) << violations.front();
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomTyping, ::testing::Range(1, 41));

}  // namespace
}  // namespace tavik
