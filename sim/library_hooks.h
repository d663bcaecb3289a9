// The hook library's two procedures as the simulated desktop's hooks, on
// one shared block, each process with its own copy of the library's
// variables as on Windows.
#pragma once

#include <cstring>

#include "hook/byte_classes.h"
#include "hook/stages.h"
#include "sim/desktop.h"
#include "sim/recording_source.h"

namespace tavik::sim {

// The running program's file name, as the library reads it when it is
// loaded into a program on Windows: here `host` switches the program; a
// process without one goes by its own name.
inline void TakeExeName(const std::optional<std::string>& path, Process& process) {
  ProcessVariables& variables = process.variables;
  std::string name = path.value_or(process.name);
  size_t start = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    if (cp932::LeadByte(static_cast<uint8_t>(name[i]))) {
      ++i;
    } else if (name[i] == '\\' || name[i] == '/') {
      start = i + 1;
    }
  }
  name = name.substr(std::min(start, name.size())).substr(0, sizeof variables.exeName - 1);
  if (name == variables.exeName) return;
  std::memcpy(variables.exeName, name.c_str(), name.size() + 1);
  variables.leftAloneChecked = 0;  // another program: compared anew
}

// With `recording`, every process records into it while the block's
// recording word is set.
inline void RunLibraryHooks(Desktop& desktop, HookSharedBlock& block, SimRecording* recording = nullptr) {
  desktop.SetHookRunner([&desktop, &block, recording](HookProc proc, int32_t code, uintptr_t w, intptr_t l) -> intptr_t {
    Process& process = desktop.Running();
    TakeExeName(desktop.hostPath(), process);
    if (recording != nullptr) recording->Attach(process);
    if (proc == kKeyboardProcToken) return KeyboardProcedure(desktop, block, process.variables, code, w, l);
    if (proc == kMessageProcToken) {
      return MessageProcedure(desktop, block, process.variables, code, w, l, MessageNumber(code, l));
    }
    return 0;
  });
}

}  // namespace tavik::sim
