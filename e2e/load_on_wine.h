// The load test on the real desktop (see README.md): a seeded stream of
// bursts typed at full speed, with the hook and without.
#pragma once

#include <cstdint>

// After the portable headers: <windows.h> defines some of their names as macros.
#include "e2e/wine_connection.h"

namespace tavik::e2e {

// Runs the load test of `keystrokes` key presses from `seed` and prints its
// report; returns the exit code.
int RunLoad(WineConnection& connection, uint32_t keystrokes, uint32_t seed);

}  // namespace tavik::e2e
