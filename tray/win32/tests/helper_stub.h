// A stand-in for tavikhook32.dll in the tests of the helper: on a desktop
// that cannot run 32-bit programs, the helper is built once more for 64
// bits and loads this library under the 32-bit library's name; it counts
// the helper's calls in a block of named shared memory.
#pragma once

#include <cstdint>

namespace tavik::behaviour {

inline constexpr const char kHelperStubBlockName[] = "tavik-behaviour-helper-stub";

struct HelperStubBlock {
  volatile uint32_t hookStarts;
  volatile uint32_t hookEnds;
  volatile uint32_t process;  // the process that called last
};

}  // namespace tavik::behaviour
