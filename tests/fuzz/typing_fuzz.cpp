// Fuzz target: a typing session whose every choice (settings, focus, IME
// state, compositions, candidate lists, failing calls, keystrokes, hook
// codes, composition reports) comes from the input's bytes. Any broken
// invariant stops the run.
#include <cstdio>
#include <cstdlib>

#include "tests/typing_session.h"

namespace {

// Four bytes a choice. Once the input runs out, the choices go on from a
// generator seeded by the whole input, so that a short input still types a
// varied session (were every later choice 0, every chance would come true
// and every pick be the first), and the same input the same one.
struct InputChoices {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  uint64_t state = Seed(data, size);

  static uint64_t Seed(const uint8_t* d, size_t n) {
    uint64_t h = 0xcbf29ce484222325u;  // FNV-1a
    for (size_t i = 0; i < n; ++i) h = (h ^ d[i]) * 0x100000001b3u;
    return h;
  }

  uint32_t operator()() {
    if (at >= size) {
      // splitmix64
      uint64_t z = (state += 0x9e3779b97f4a7c15u);
      z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
      z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
      return static_cast<uint32_t>((z ^ (z >> 31)) >> 32);
    }
    uint32_t v = 0;
    for (int i = 0; i < 4 && at < size; ++i) v = (v << 8) | data[at++];
    return v;
  }
};

// The keystroke steps typed over the whole run, printed at exit when
// TAVIK_FUZZ_STEPS is set: the campaign's figure.
uint64_t totalSteps = 0;

void PrintSteps() { std::printf("steps: %llu\n", static_cast<unsigned long long>(totalSteps)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputChoices choices{data, size};
  tavik::sim::Desktop desktop;
  // At least a hundred steps, the input's bytes deciding the first choices;
  // a longer input, about one step for every eight bytes.
  int steps = static_cast<int>(size / 8 > 2000 ? 2000 : size / 8 < 100 ? 100 : size / 8);
  static const bool counting = std::getenv("TAVIK_FUZZ_STEPS") != nullptr && std::atexit(PrintSteps) == 0;
  if (counting) totalSteps += static_cast<uint64_t>(steps);
  std::string failure = tavik::typing::TypeSession(choices, steps, desktop);
  if (!failure.empty()) {
    std::fprintf(stderr, "typing session: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
