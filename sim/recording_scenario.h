// A recording as a scenario file: each recorded keystroke (or message) a
// scenario of its own, on a fresh simulated desktop staged as the answers
// the library got show Windows stood before it, then the keystroke, then
// what the application got. What the scenario language cannot stage is
// said in a comment where it would go, never guessed.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "common/recording.h"

namespace tavik::sim {

// `file` names the recording in the scenario's comments; `lines` as
// RecordLines gives them.
std::string RecordingScenario(const Recording& recording, const std::string& file, const std::vector<size_t>& lines);

}  // namespace tavik::sim
