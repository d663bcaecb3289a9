// Random typing on a random desktop: whatever the settings, IME state and
// failing calls, no input context stays taken, no synthetic key stays down
// once every key is up, and the cancel key's Esc is down exactly while the
// library says so.
//
// TAVIK_RANDOM_SEEDS and TAVIK_RANDOM_STEPS set how many runs and how long
// each; TAVIK_RANDOM_FIRST_SEED where the seeds start, so that a failing seed
// can be run alone; TAVIK_RANDOM_TRACE=1 prints a failing run's trace.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <vector>

#include "tests/typing_session.h"

namespace tavik {
namespace {

int FromEnvironment(const char* name, int fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  long n = std::strtol(text, &end, 10);
  return (*end == '\0' && n > 0 && n <= INT_MAX) ? static_cast<int>(n) : fallback;
}

// One run; returns what went wrong first, or "" when nothing did.
std::string TypeAtRandom(unsigned seed, int steps) {
  sim::Desktop desktop;
  std::mt19937 rng(seed);
  std::string failure = typing::TypeSession(rng, steps, desktop);
  if (!failure.empty() && FromEnvironment("TAVIK_RANDOM_TRACE", 0) == 1) {
    for (const std::string& line : desktop.TraceLines()) std::printf("%s\n", line.c_str());
  }
  return failure;
}

TEST(RandomTyping, LeavesNothingTakenOrPressed) {
  const int first = FromEnvironment("TAVIK_RANDOM_FIRST_SEED", 1);
  const int seeds = FromEnvironment("TAVIK_RANDOM_SEEDS", 200);
  const int steps = FromEnvironment("TAVIK_RANDOM_STEPS", 400);
  int failed = 0;
  std::ostringstream report;
  for (int seed = first; seed - first < seeds; ++seed) {
    std::string failure = TypeAtRandom(static_cast<unsigned>(seed), steps);
    if (failure.empty()) continue;
    if (++failed <= 10) report << "\n  seed " << seed << ": " << failure;
  }
  EXPECT_EQ(failed, 0) << "of " << seeds << " seeds from " << first << ", " << steps << " steps each" << report.str()
                       << "\n(TAVIK_RANDOM_FIRST_SEED=n TAVIK_RANDOM_SEEDS=1 runs seed n alone)";
}

}  // namespace
}  // namespace tavik
