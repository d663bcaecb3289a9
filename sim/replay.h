// Replaying a recording: every recorded keystroke and message goes through
// the hook library again, here, on a platform that answers each call the
// library makes with what Windows answered on the user's machine. Where the
// library now makes another call, other arguments, or returns another
// value, the replay diverges: the code here does not do what the code there
// did, on the same input.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "common/recording.h"

namespace tavik::sim {

struct ReplayResult {
  int replayed = 0;  // keystroke and message records
  int diverged = 0;
  // One line for each record that diverged, then notes on the recording
  // (records lost, no trailer), then "N keystrokes replayed, M diverged".
  std::vector<std::string> report;
};

// The line each record starts on in the recording's text, in the order
// ReadRecording gives the records.
std::vector<size_t> RecordLines(const std::string& text);

// Replays every keystroke and message record; `lines` as RecordLines gives
// them (missing entries print as line 0).
ReplayResult Replay(const Recording& recording, const std::vector<size_t>& lines);

}  // namespace tavik::sim
