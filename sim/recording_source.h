// The simulated desktop records as the libraries do on Windows: one
// recording block in memory that every simulated process writes into, with
// the process's name, a process and thread id of its own, and its clock.
#pragma once

#include <cstring>
#include <memory>

#include "hook/recording_platform.h"
#include "sim/desktop.h"

namespace tavik::sim {

class SimRecording final : public RecordingSource {
 public:
  explicit SimRecording(Desktop& desktop) : desktop_(desktop), ring_(std::make_unique<RecordingBlock>()) {}

  RecordingBlock& ring() { return *ring_; }
  // Records into another block from now on (the tray program's); null: its own.
  void UseRing(RecordingBlock* ring) { external_ = ring; }
  // The process whose hook runs next records here.
  void Attach(Process& process) {
    process.variables.recording = this;
    if (process.variables.exeName[0] == '\0') {
      std::strncpy(process.variables.exeName, process.name.c_str(), sizeof process.variables.exeName - 1);
    }
  }

  RecordingBlock* RecordingBlockOf(uint32_t) override { return external_ != nullptr ? external_ : ring_.get(); }
  uint32_t GetCurrentProcessId() override { return 0x100 + IndexOfRunning(); }
  uint32_t GetCurrentThreadId() override { return 0x1000 + IndexOfRunning(); }
  uint32_t GetTickCount() override { return static_cast<uint32_t>(desktop_.Running().clock); }

 private:
  uint32_t IndexOfRunning() {
    const std::string& name = desktop_.Running().name;
    uint32_t h = 0;
    for (char c : name) h = h * 31 + static_cast<uint8_t>(c);
    return h % 0x100;
  }

  Desktop& desktop_;
  std::unique_ptr<RecordingBlock> ring_;
  RecordingBlock* external_ = nullptr;
};

}  // namespace tavik::sim
