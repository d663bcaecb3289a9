// The eisu key, scan key 0x3A (eisu/CapsLock on the Japanese keyboard): in
// kana mode it can press the katakana key instead, it switches CapsLock off,
// and it shares the eiji key's closing of a half-width IME and its keeping
// from a closed one.
#include "hook/stages.h"

namespace tavik {

namespace {

bool AnyModifierHeld(InputPlatform& p) {
  return Held(p, w32::VK_SHIFT) || Held(p, w32::VK_CONTROL) || Held(p, w32::VK_MENU);
}

// In kana mode without modifiers the key becomes the katakana key. True
// when the key was taken for it.
bool KatakanaKey(HookCall& k) {
  InputPlatform& p = k.platform;
  if (!k.On(kKatakanaKey)) return false;
  Hwnd window = p.GetFocus();
  if (IsNull(window)) return false;

  InputContext context(p, window);
  if (!context.Open()) return false;
  if ((context.ReadConversionStatus().conversion & w32::IME_CMODE_NATIVE) == 0) return false;
  if (AnyModifierHeld(p)) return false;
  // The katakana key goes down and up at the key-down; the key-up has
  // nothing left to send but is taken all the same.
  if (!k.up) {
    k.Send(w32::VK_DBE_KATAKANA, 0, 0);
    k.Send(w32::VK_DBE_KATAKANA, 0, w32::KEYEVENTF_KEYUP);
  }
  return true;
}

}  // namespace

Outcome EisuKeyStage(HookCall& k) {
  // Shift+eisu arrives as CapsLock itself, which is Windows' to handle.
  if (k.vk == w32::VK_CAPITAL) return Outcome::kPassOn;

  if (KatakanaKey(k)) return Outcome::kSwallow;
  if (AnyModifierHeld(k.platform) || k.up) return Outcome::kPassOn;

  if (k.On(kCapsLockOff) && CapsLockOn(k.platform)) ToggleCapsLock(k);

  if (HalfWidthClose(k) == Outcome::kSwallow) return Outcome::kSwallow;
  return ClosedImeSwallow(k);
}

}  // namespace tavik
