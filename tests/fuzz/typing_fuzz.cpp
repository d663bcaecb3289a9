// Fuzz target: a typing session whose every choice (settings, focus, IME
// state, compositions, candidate lists, failing calls, keystrokes, hook
// codes, composition reports) comes from the input's bytes. Any broken
// invariant stops the run.
#include <cstdio>
#include <cstdlib>

#include "tests/typing_session.h"

namespace {

// Four bytes a choice; once the input runs out every choice is 0.
struct InputChoices {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  uint32_t operator()() {
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
  // About one step for every eight bytes, enough for each to be its own.
  int steps = static_cast<int>(size / 8 > 2000 ? 2000 : size / 8);
  static const bool counting = std::getenv("TAVIK_FUZZ_STEPS") != nullptr && std::atexit(PrintSteps) == 0;
  if (counting) totalSteps += static_cast<uint64_t>(steps);
  std::string failure = tavik::typing::TypeSession(choices, steps, desktop);
  if (!failure.empty()) {
    std::fprintf(stderr, "typing session: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
