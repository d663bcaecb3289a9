// Recording on the Wine desktop, as the tray program does it: the recording
// block created, the libraries' word set through the library's export, and
// at the end the ring drained into a recording file.
#pragma once

#include <string>

namespace tavik::e2e {

// Before the first scenario; false, with why, when the block cannot be made.
bool StartRecording(const std::string& dllPath, std::string& why);
// After the last: the word cleared, the file written; false when it could not be.
bool FinishRecording(const std::string& path, std::string& why);

}  // namespace tavik::e2e
