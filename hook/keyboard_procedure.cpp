// The keyboard hook procedure: the first look at a keystroke, the stage
// table, and what Windows gets back.
#include "hook/stage_table.h"

namespace tavik {

namespace {

intptr_t Stages(InputPlatform& platform, HookSharedBlock& block, ProcessVariables& process, int32_t code,
                uintptr_t wParam, intptr_t lParam, uint32_t rows) {
  HookCall k(platform, block, process, code, wParam, lParam);
  switch (RunStages(k, rows)) {
    case Outcome::kSwallow:
      return 1;
    case Outcome::kRewriteAndSwallow:
      platform.CallNextHookEx(block.KeyboardHook(), code, k.rewrittenWParam, k.rewrittenLParam);
      return 1;
    case Outcome::kPassOn:
      break;
  }
  return platform.CallNextHookEx(block.KeyboardHook(), code, wParam, lParam);
}

}  // namespace

intptr_t KeyboardProcedure(InputPlatform& platform, HookSharedBlock& block, ProcessVariables& process, int32_t code,
                           uintptr_t wParam, intptr_t lParam) {
  // Most keystrokes are no stage's: they go on before anything is read or
  // the per-call record is built, whatever the settings.
  uint32_t rows = RowsClaiming(wParam, lParam);
  if (code < 0 || rows == 0) return platform.CallNextHookEx(block.KeyboardHook(), code, wParam, lParam);
  return Stages(platform, block, process, code, wParam, lParam, rows);
}

intptr_t KeyboardProcedureWithoutFirstLook(InputPlatform& platform, HookSharedBlock& block, ProcessVariables& process,
                                           int32_t code, uintptr_t wParam, intptr_t lParam) {
  return Stages(platform, block, process, code, wParam, lParam, RowsClaiming(wParam, lParam));
}

}  // namespace tavik
