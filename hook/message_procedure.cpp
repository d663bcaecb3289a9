// The composition message hook: while a conversion key is held on katakana
// held back as typed, the IME's conversion is undone as soon as the
// application retrieves the message that reports it, so the katakana
// survives until the key-up commits it.
#include "hook/stages.h"

namespace tavik {

intptr_t MessageProcedure(InputPlatform& platform, HookSharedBlock& block, ProcessVariables& process, int32_t code,
                          uintptr_t wParam, intptr_t lParam, uint32_t message) {
  if (code >= 0 && block.On(kKakuteiInput) && block.runtime.conversionKeys.revertOnComposition == 1 &&
      message == w32::WM_IME_COMPOSITION && !LeftAlone(block, process)) {
    // The focused window's IME, whichever window the message is for.
    Hwnd window = platform.GetFocus();
    if (!IsNull(window)) {
      InputContext context(platform, window);
      if (context.Open()) platform.ImmNotifyIME(context.handle(), w32::NI_COMPOSITIONSTR, w32::CPS_REVERT, 0);
    }
  }
  return platform.CallNextHookEx(block.MessageHook(), code, wParam, lParam);
}

}  // namespace tavik
