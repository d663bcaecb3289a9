// The eiji (letters) key, scan key 0x63: with Ctrl it switches romaji input,
// it switches CapsLock, it closes an IME left in a half-width mode, and it
// is kept from an IME that is closed. Four steps in this order; each ends
// the stage or goes on to the next.
#include "hook/stages.h"

namespace tavik {

namespace {

// Ctrl+eiji switches romaji input (IME_CMODE_ROMAN) on and off. True when
// the key was taken for it.
bool RomajiSwitch(HookCall& k) {
  InputPlatform& p = k.platform;
  if (!k.On(kRomajiOnOff)) return false;
  Hwnd window = p.GetFocus();
  if (IsNull(window)) return false;

  InputContext context(p, window);
  if (!context.Open()) return false;
  ConversionStatus status = context.ReadConversionStatus();
  // Ctrl alone: with Shift or Alt as well the chord means something else.
  if (!Held(p, w32::VK_CONTROL) || Held(p, w32::VK_SHIFT) || Held(p, w32::VK_MENU)) return false;

  // The key-up of a switch is the switch's too. A mode that cannot be read
  // is not switched: a mode made up from nothing would lose the user's.
  if (k.up || !status.read) return true;

  uint32_t mode = status.conversion;
  if ((mode & w32::IME_CMODE_ROMAN) != 0) {
    p.ImmSetConversionStatus(context.handle(), mode & ~w32::IME_CMODE_ROMAN, status.sentence);
  } else if (OakOrAtokIme(p, k.storage)) {
    p.ImmSetConversionStatus(context.handle(), mode | w32::IME_CMODE_ROMAN, status.sentence);
  } else {
    // Other IMEs take the romaji bit only on the way in from alphanumeric
    // mode: pass through it for a moment, then back to the kana and
    // katakana bits as they were.
    if ((mode & w32::IME_CMODE_NATIVE) != 0) {
      constexpr uint32_t kAlphanumeric = ~(w32::IME_CMODE_NATIVE | w32::IME_CMODE_KATAKANA | 0x4u);
      p.ImmSetConversionStatus(context.handle(), mode & kAlphanumeric, status.sentence);
    }
    p.ImmSetConversionStatus(context.handle(), mode | w32::IME_CMODE_ROMAN, status.sentence);
  }
  return true;
}

// CapsLock on for letters; in kana mode left alone, or switched off. False
// when the key is to pass on at once.
bool CapsLock(HookCall& k) {
  InputPlatform& p = k.platform;
  // Shift is not looked at: Shift+eiji switches CapsLock too.
  if (Held(p, w32::VK_CONTROL) || Held(p, w32::VK_MENU) || k.up) return false;

  Hwnd window = k.On(kKanaToEijiCapsLock) ? p.GetFocus() : Hwnd{};
  if (!IsNull(window)) {
    InputContext context(p, window);
    bool kana = context.Open() && (context.ReadConversionStatus().conversion & w32::IME_CMODE_NATIVE) != 0;
    if (kana) {
      if (k.On(kKanaToEijiCapsLockOff) && CapsLockOn(p)) ToggleCapsLock(k);
    } else if (k.On(kCapsLockOn) && !CapsLockOn(p)) {
      ToggleCapsLock(k);
    }
  } else if (k.On(kCapsLockOn) && !CapsLockOn(p)) {
    ToggleCapsLock(k);
  }
  return true;
}

}  // namespace

Outcome EijiKeyStage(HookCall& k) {
  if (RomajiSwitch(k)) return Outcome::kSwallow;
  if (!CapsLock(k)) return Outcome::kPassOn;
  if (HalfWidthClose(k) == Outcome::kSwallow) return Outcome::kSwallow;
  return ClosedImeSwallow(k);
}

}  // namespace tavik
