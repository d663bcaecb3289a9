// The account of a scenario for a person who wants to see what a setting
// does: what was typed, what the application received, what the IME did,
// in words and with Japanese as Japanese. The trace, every platform call,
// is there for whoever needs the detail (tavik-sim --trace).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/desktop_events.h"

namespace tavik::sim {

// The IME's conversion mode in words: "hiragana, romaji input",
// "half-width alphanumeric".
std::string ModeText(uint32_t conversion);

// The account of the events from `first` on, a line for each thing that
// happened: `ime` says how the IME stood when the keys were typed.
std::vector<std::string> AccountLines(const std::vector<DesktopEvent>& events, size_t first, const std::string& ime);

}  // namespace tavik::sim
