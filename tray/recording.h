// Recording a problem: the tray program creates the recording block, tells
// the hook libraries to record into it (their shared word), drains it on a
// timer into a text file under the user's local application data folder,
// and closes the file with its trailer when recording stops.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/recording.h"
#include "hook/recording_decode.h"
#include "tray/tray.h"

namespace tavik::tray {

inline constexpr char kRecordExportName[] = "HookRecord";
inline constexpr uintptr_t kRecordingTimer = 3;
inline constexpr uint32_t kRecordingInterval = 250;  // ms
inline constexpr char kRecordingFolder[] = "tavik";  // under %LOCALAPPDATA%

inline constexpr const char kRecordingFailedText[] =
    "%sに記録を書き込めませんでした。\nﾃﾞｨｽｸの空きやﾌｫﾙﾀﾞが書き込み禁止になっていないかを確かめてください。"
    "記録は止めました。";
inline constexpr const char kRecordingBlockFailedText[] = "記録を始められませんでした。";

// One recording, from its start to its trailer.
struct Recorder {
  FarProc hookRecord{};  // the libraries' word; absent from an older library
  const char* tavikVersion = "";
  Handle mapping{};
  RecordingBlock* ring = nullptr;
  Handle file{};
  std::string path;
  uint32_t session = 0;
  RecordingDrain drain;
};

// %LOCALAPPDATA%\tavik, without a trailing backslash; "" when the variable
// is not set.
std::string RecordingsFolder(TrayPlatform& p);

// The tray menu's "問題の記録": starts recording, or stops it. Failures are
// told to the user in a box; recording is then off.
void ToggleRecording(TrayPlatform& p, TrayState& s, Recorder& r);
bool StartRecording(TrayPlatform& p, TrayState& s, Recorder& r);
// Clears the libraries' word, drains what is left, writes the trailer and
// closes the file. Does nothing while not recording.
void StopRecording(TrayPlatform& p, TrayState& s, Recorder& r);
// WM_TIMER of kRecordingTimer.
void OnRecordingTimer(TrayPlatform& p, TrayState& s, Recorder& r);
// "記録のフォルダーを開く": the folder in Explorer, created when missing.
void OpenRecordingsFolder(TrayPlatform& p, TrayState& s);

// The command line asks for recording from the start ("/record").
bool RecordRequested(const char* commandLine);

}  // namespace tavik::tray
