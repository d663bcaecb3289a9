#include "hook/stages.h"

namespace tavik {

namespace {

constexpr uint32_t kCancelKey = 0x1A;
constexpr uint32_t kEijiKey = 0x63;
constexpr uint32_t kEisuKey = 0x3A;

// The key-specific stages. At most one of them claims a keystroke; one that
// it passes on goes straight to the commit stage.
Outcome KeyStages(HookCall& k) {
  if (k.block.On(kTorikeshiKey) && k.scanKey == kCancelKey) return CancelKeyStage(k);

  if (k.code != w32::HC_NOREMOVE) {
    // The eiji key has no duties of its own yet.
    if (k.scanKey == kEijiKey) return Outcome::kPassOn;
    if (k.scanKey == kEisuKey) {
      // Shift+eisu arrives as CapsLock itself, which is Windows' to handle.
      return k.vk == w32::VK_CAPITAL ? Outcome::kPassUnchanged : Outcome::kPassOn;
    }
  }

  // The romaji backspace, its Backspace release rule and the IME on/off keys
  // take their turn here.
  return Outcome::kPassOn;
}

// The commit stage and direct commit input (both only with OASYS KAKUTEI on),
// then the browser stage for keystrokes that are being removed.
Outcome LaterStages(HookCall&) { return Outcome::kPassOn; }

}  // namespace

intptr_t KeyboardProcedure(InputPlatform& platform, HookSharedBlock& block, int32_t code, uintptr_t wParam,
                           intptr_t lParam) {
  if (code < 0) return platform.CallNextHookEx(block.keyboardHook, code, wParam, lParam);

  HookCall k(platform, block, code, wParam, lParam);
  Outcome outcome = KeyStages(k);
  if (outcome == Outcome::kPassOn) outcome = LaterStages(k);

  switch (outcome) {
    case Outcome::kSwallow:
      return 1;
    case Outcome::kRewriteAndSwallow:
      platform.CallNextHookEx(block.keyboardHook, code, k.rewrittenWParam, k.rewrittenLParam);
      return 1;
    case Outcome::kPassOn:
    case Outcome::kPassUnchanged:
      break;
  }
  return platform.CallNextHookEx(block.keyboardHook, code, wParam, lParam);
}

}  // namespace tavik
