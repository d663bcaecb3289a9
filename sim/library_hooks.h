// The hook library's two procedures as the simulated desktop's hooks, on
// one shared block, each process with its own copy of the library's
// variables as on Windows.
#pragma once

#include "hook/stages.h"
#include "sim/desktop.h"
#include "sim/recording_source.h"

namespace tavik::sim {

// With `recording`, every process records into it while the block's
// recording word is set.
inline void RunLibraryHooks(Desktop& desktop, HookSharedBlock& block, SimRecording* recording = nullptr) {
  desktop.SetHookRunner([&desktop, &block, recording](HookProc proc, int32_t code, uintptr_t w, intptr_t l) -> intptr_t {
    Process& process = desktop.Running();
    if (recording != nullptr) recording->Attach(process);
    if (proc == kKeyboardProcToken) return KeyboardProcedure(desktop, block, process.variables, code, w, l);
    if (proc == kMessageProcToken) {
      return MessageProcedure(desktop, block, process.variables, code, w, l, MessageNumber(code, l));
    }
    return 0;
  });
}

}  // namespace tavik::sim
