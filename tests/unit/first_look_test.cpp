// The hook procedure passes most keystrokes straight on, before the stages
// see them. Every keystroke it treats so must be one that the stages, run
// in full, pass on untouched: no platform call but CallNextHookEx with the
// keystroke as it came, no runtime word or process variable changed, and
// the next hook's answer returned. Checked for every virtual key and scan
// key, both hook codes, key-down and key-up, under many settings and word
// values.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>

#include "hook/stage_table.h"
#include "tests/support/null_platform.h"

namespace tavik {
namespace {

// Repeat count 2: the null platform's next hook answers lParam & 1, so a
// keystroke the stages swallow or rewrite (return 1) is told from one passed
// on (0).
intptr_t LParam(uint32_t scanKey, bool up) {
  uint32_t l = 2u | ((scanKey & 0xFFu) << 16) | ((scanKey & 0x100u) != 0 ? 1u << 24 : 0u);
  if (up) l |= 0xC0000000u;
  return static_cast<intptr_t>(l);
}

// Every flag and word 0 or 1: all off, all on, then drawn at random.
void Fill(HookSharedBlock& block, int round, std::mt19937& rng) {
  block = HookSharedBlock{};
  auto* words = reinterpret_cast<int32_t*>(&block.runtime);
  constexpr size_t kWords = sizeof(RuntimeWords) / sizeof(int32_t);
  for (int32_t& f : block.flag) f = round == 0 ? 0 : round == 1 ? 1 : static_cast<int32_t>(rng() & 1);
  for (size_t i = 0; i < kWords; ++i) words[i] = round == 0 ? 0 : round == 1 ? 1 : static_cast<int32_t>(rng() & 1);
}

TEST(FirstLook, KeystrokesPassedStraightOnAreNoStagesBusiness) {
  std::mt19937 rng(20261207);
  NullPlatform platform;
  HookSharedBlock block{};
  HookSharedBlock before{};
  ProcessVariables process;
  int screened = 0;
  int wrong = 0;
  std::ostringstream report;
  for (int round = 0; round < 10; ++round) {
    Fill(block, round, rng);
    for (uint32_t vk = 0; vk < 0x108; ++vk) {
      for (uint32_t scanKey = 0; scanKey < 0x200; ++scanKey) {
        for (int32_t code : {w32::HC_ACTION, w32::HC_NOREMOVE}) {
          for (bool up : {false, true}) {
            intptr_t lParam = LParam(scanKey, up);
            if (RowsClaiming(vk, lParam) != 0) continue;
            ++screened;
            before = block;
            process.armedTime = 12345;
            platform.calls = 0;
            intptr_t result = KeyboardProcedureWithoutFirstLook(platform, block, process, code, vk, lParam);
            bool untouched = std::memcmp(&before, &block, sizeof block) == 0 && process.armedTime == 12345;
            if (result == 0 && platform.calls == 1 && untouched) continue;
            if (++wrong <= 10) {
              report << "\n  round " << round << " vk 0x" << std::hex << vk << " scan key 0x" << scanKey << std::dec
                     << " code " << code << (up ? " up" : " down") << ": returned " << result << ", "
                     << platform.calls << " platform calls" << (untouched ? "" : ", the block changed");
            }
            block = before;
          }
        }
      }
    }
  }
  EXPECT_GT(screened, 0);
  EXPECT_EQ(wrong, 0) << "keystrokes passed straight on that a stage acts on:" << report.str();
}

}  // namespace
}  // namespace tavik
