// The bare pass-through: a hook procedure that hands every keystroke to the
// next hook and does nothing else, what the keyboard hook's cost is
// measured against. Built in a file of its own, as the real procedure is,
// so that neither is compiled knowing which platform it will be given.
#pragma once

#include <cstdint>

#include "hook/hook_call.h"

namespace tavik {

intptr_t BarePassThrough(InputPlatform& platform, HookSharedBlock& block, ProcessVariables& process, int32_t code,
                         uintptr_t wParam, intptr_t lParam);

}  // namespace tavik
