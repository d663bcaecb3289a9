// The stages of the keyboard hook procedure, in the order it runs them.
#pragma once

#include "hook/hook_call.h"

namespace tavik {

// The "@" key (scan key 0x1A) as the cancel key: Esc while kana is entered.
Outcome CancelKeyStage(HookCall& k);

// The keyboard hook procedure: runs the stages for one keystroke and returns
// what Windows is to get (nonzero discards the keystroke).
intptr_t KeyboardProcedure(InputPlatform& platform, HookSharedBlock& block, int32_t code, uintptr_t wParam,
                           intptr_t lParam);

// The message hook procedure, installed for direct commit input.
intptr_t MessageProcedure(InputPlatform& platform, HookSharedBlock& block, int32_t code, uintptr_t wParam,
                          intptr_t lParam);

}  // namespace tavik
