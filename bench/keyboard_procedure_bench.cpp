// What the keyboard hook costs per keystroke, against a platform whose
// calls cost nothing but are counted: a keystroke no stage claims beside a
// bare pass-through that only calls CallNextHookEx, and Space with the
// commit stage on, committing a converted composition or finding none.
#include <benchmark/benchmark.h>

#include "hook/shared_block.h"
#include "hook/stages.h"
#include "tests/support/null_platform.h"

namespace tavik {
namespace {

// Letters, digits and punctuation typed down and up: keys no stage claims.
constexpr uint32_t kScanCodes[] = {0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x02, 0x03, 0x0C, 0x27, 0x28, 0x35};

template <typename Call>
void TypeStream(benchmark::State& state, Call call) {
  size_t i = 0;
  for (auto _ : state) {
    uint32_t scan = kScanCodes[i % std::size(kScanCodes)];
    bool up = (i / std::size(kScanCodes)) % 2 != 0;
    auto lParam = static_cast<intptr_t>(1u | (scan << 16) | (up ? 0xC0000000u : 0u));
    benchmark::DoNotOptimize(call(static_cast<uintptr_t>(0x41 + scan % 26), lParam));
    ++i;
  }
  state.SetItemsProcessed(state.iterations());
}

void CountCalls(benchmark::State& state, const NullPlatform& platform) {
  state.counters["calls/key"] = benchmark::Counter(static_cast<double>(platform.calls), benchmark::Counter::kAvgIterations);
}

void BM_BarePassThrough(benchmark::State& state) {
  NullPlatform platform;
  // Through the interface, as the frame calls it, so the call is not inlined away.
  InputPlatform* p = &platform;
  benchmark::DoNotOptimize(p);
  HookSharedBlock block{};
  TypeStream(state, [&](uintptr_t w, intptr_t l) { return p->CallNextHookEx(block.KeyboardHook(), 0, w, l); });
}

void BM_KeyboardProcedure(benchmark::State& state) {
  NullPlatform platform;
  HookSharedBlock block{};
  ProcessVariables process;
  for (int32_t& f : block.flag) f = static_cast<int32_t>(state.range(0));
  TypeStream(state, [&](uintptr_t w, intptr_t l) { return KeyboardProcedure(platform, block, process, 0, w, l); });
  CountCalls(state, platform);
}

// Space typed down and up, in turn, with OASYS KAKUTEI on: with a converted
// composition waiting before each key-down (the key-down commits and
// re-sends, the key-up sends the owed key-up), or with none.
void SpaceStream(benchmark::State& state, bool commits) {
  NullPlatform platform;
  HookSharedBlock block{};
  ProcessVariables process;
  block.flag[kOasysKakutei] = 1;
  constexpr intptr_t kDown = 0x00390001;
  constexpr intptr_t kUp = static_cast<intptr_t>(0xC0390001u);
  bool up = false;
  for (auto _ : state) {
    platform.composing = commits && !up;
    benchmark::DoNotOptimize(KeyboardProcedure(platform, block, process, 0, 0x20, up ? kUp : kDown));
    up = !up;
  }
  state.SetItemsProcessed(state.iterations());
  CountCalls(state, platform);
}

void BM_SpaceCommits(benchmark::State& state) { SpaceStream(state, true); }
void BM_SpaceWithoutComposition(benchmark::State& state) { SpaceStream(state, false); }

BENCHMARK(BM_BarePassThrough);
BENCHMARK(BM_KeyboardProcedure)->ArgName("flags")->Arg(0)->Arg(1);
BENCHMARK(BM_SpaceCommits);
BENCHMARK(BM_SpaceWithoutComposition);

}  // namespace
}  // namespace tavik

BENCHMARK_MAIN();
