// An application that lags behind the keyboard receives the keys one that
// keeps up receives, in the same order: what the stages send (the commit
// keys' Space, Enter and cursor keys, the cancel key's Esc, the romaji
// backspace) reaches it in the place of the key that sent it, not behind
// the keys typed after it. Streams of the load test: every setting on,
// compositions of each kind staged before most bursts, letters rolled over.
#include <gtest/gtest.h>

#include "e2e/load.h"

namespace tavik::e2e {
namespace {

TEST(TypedOrder, ALaggingApplicationReceivesWhatOneThatKeepsUpReceives) {
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    std::vector<LoadBurst> bursts = MakeLoadStream(800, seed);
    LoadRun keepsUp = SimulateLoad(bursts, true, Pace::kKeepsUp);
    LoadRun lags = SimulateLoad(bursts, true, Pace::kLags);
    LoadComparison c = CompareReceived(keepsUp.received, lags.received, keepsUp.burstStarts);
    EXPECT_EQ(c.firstDifference, "") << "seed " << seed;
    EXPECT_TRUE(lags.after == keepsUp.after) << "seed " << seed << ": the IME differs after a burst";
    EXPECT_EQ(lags.problems, std::vector<std::string>{}) << "seed " << seed;
    // The stream does make the hooks send, so the order had something to keep.
    EXPECT_GT(ChangesFromTyped(bursts, keepsUp).added, 0u) << "seed " << seed;
  }
}

}  // namespace
}  // namespace tavik::e2e
