// The hook library's two procedures as the simulated desktop's hooks, on
// one shared block, each process with its own copy of the library's
// variables as on Windows.
#pragma once

#include "hook/stages.h"
#include "sim/desktop.h"

namespace tavik::sim {

inline void RunLibraryHooks(Desktop& desktop, HookSharedBlock& block) {
  desktop.SetHookRunner([&desktop, &block](HookProc proc, int32_t code, uintptr_t w, intptr_t l) -> intptr_t {
    if (proc == kKeyboardProcToken) return KeyboardProcedure(desktop, block, desktop.Running().variables, code, w, l);
    if (proc == kMessageProcToken) return MessageProcedure(desktop, block, code, w, l, MessageNumber(code, l));
    return 0;
  });
}

}  // namespace tavik::sim
