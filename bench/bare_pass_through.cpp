#include "bench/bare_pass_through.h"

namespace tavik {

intptr_t BarePassThrough(InputPlatform& platform, HookSharedBlock& block, ProcessVariables&, int32_t code,
                         uintptr_t wParam, intptr_t lParam) {
  return platform.CallNextHookEx(block.KeyboardHook(), code, wParam, lParam);
}

}  // namespace tavik
