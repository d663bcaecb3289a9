// IMEs built on the Text Services Framework answer IMM32 through a
// compatibility layer, and in some applications it finds no input context,
// or reports the IME open with nothing composed. For every key a stage
// claims, down and up, removed and peeked, under the settings that act on an
// open IME's composition: the keystroke reaches the application as it came,
// nothing is sent, the IME is told nothing, and every context is released.
// (A name ImmGetIMEFileNameA cannot read is among the random typing test's
// failing calls.)
#include <gtest/gtest.h>

#include <sstream>

#include "hook/stage_table.h"
#include "sim/desktop.h"
#include "sim/keys.h"

namespace tavik {
namespace {

struct Case {
  const char* what;
  bool hasIme;      // false: ImmGetContext finds no context
  bool open;        // the IME says open, nothing composed
  Setting offs[3];  // settings that act on a closed IME or a window without one
};

const Case kCases[] = {
    {"no input context", false, false, {kImeOffTorikeshi, kCapsLockOn, kCapsLockOff}},
    {"open with nothing composed", true, true, {kImeOffTorikeshi, kCapsLockOn, kCapsLockOff}},
};

// The keystrokes a row claims: each scan key with vk 0, each vk with scan key 0.
std::vector<std::pair<uint32_t, uint32_t>> ClaimedKeys(const StageRow& row) {
  StageKeys keys;
  row.keys(keys);
  std::vector<std::pair<uint32_t, uint32_t>> out;
  for (uint32_t s = 0; s < 0x200; ++s) {
    if (keys.scanKey[s]) out.emplace_back(0u, s);
  }
  for (uint32_t v = 0; v < 0x100; ++v) {
    if (keys.vk[v]) out.emplace_back(v, 0u);
  }
  return out;
}

TEST(UnreadableIme, EveryClaimedKeyGoesOnUntouched) {
  for (const Case& c : kCases) {
    for (const StageRow& row : kStages) {
      // An open IME in alphanumeric mode: the keys that open, close or switch
      // the IME act on its mode, not on a composition, and are left out.
      if (c.open && row.group == Group::kKey) continue;
      for (auto [vk, scanKey] : ClaimedKeys(row)) {
        for (int32_t code : {w32::HC_ACTION, w32::HC_NOREMOVE}) {
          for (bool up : {false, true}) {
            sim::Desktop desktop;
            sim::Window& w = desktop.AddWindow("editor", c.hasIme);
            w.open = c.open;
            desktop.SetFocus("editor");
            HookSharedBlock block{};
            for (int32_t& f : block.flag) f = 1;
            for (Setting s : c.offs) block.flag[s] = 0;
            ProcessVariables process;
            intptr_t lParam = sim::KeystrokeLParam(scanKey, up, up);
            intptr_t result = KeyboardProcedure(desktop, block, process, code, vk, lParam);

            std::ostringstream what;
            what << c.what << ", row " << row.name << ", vk 0x" << std::hex << vk << " scan key 0x" << scanKey
                 << (up ? " up" : " down") << " code " << code;
            EXPECT_EQ(result, 0) << what.str();
            for (const sim::PlatformCall& call : desktop.Calls()) {
              bool acts = call.function == "keybd_event" || call.function == "ImmNotifyIME" ||
                          call.function == "ImmSetOpenStatus" || call.function == "ImmSetConversionStatus" ||
                          call.function == "ImmConfigureIMEA";
              EXPECT_FALSE(acts) << what.str() << ": " << call.function;
              if (call.function == "CallNextHookEx") {
                EXPECT_EQ(call.arguments.at(2), sim::Value(sim::Number{vk})) << what.str();
              }
            }
            EXPECT_TRUE(desktop.InvariantViolations().empty()) << what.str();
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace tavik
