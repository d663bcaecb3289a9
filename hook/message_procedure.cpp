#include "hook/stages.h"

namespace tavik {

// Installed only for direct commit input; until that feature reverts
// conversions it hands every message on untouched.
intptr_t MessageProcedure(InputPlatform& platform, HookSharedBlock& block, int32_t code, uintptr_t wParam,
                          intptr_t lParam) {
  return platform.CallNextHookEx(block.messageHook, code, wParam, lParam);
}

}  // namespace tavik
