// The romaji backspace: in romaji kana input, the comma key (scan key 0x33)
// struck while the left Shift key is down types Backspace. The stage follows
// the left Shift key itself, by its scan key, to know that it is down.
#include "hook/keys.h"
#include "hook/stages.h"

namespace tavik {

namespace {

// Backspace's lParam for this keystroke: scan code 0x0E, no extended bit.
intptr_t BackspaceLParam(intptr_t lParam) { return WithScanKey(lParam, kRomajiBackspaceBackspaceScan); }

// Not substituted this time. A Backspace we pressed must still come up
// (left Shift released before the key, the IME left romaji input, the focus
// moved while the key was held): otherwise it would stay down in the
// application. A key-up is handed on as that Backspace's release; a key-down
// goes on as itself, the release following it.
Outcome NotSubstituted(HookCall& k) {
  RomajiBackspaceWords& words = k.words().romajiBackspace;
  if (!Settle(words.backspaceSubstituted)) return Outcome::kPassOn;
  k.Send(w32::VK_BACK, kRomajiBackspaceBackspaceScan, w32::KEYEVENTF_KEYUP);
  return k.up ? RewriteAndSwallow(k, w32::VK_BACK, BackspaceLParam(k.lParam)) : Outcome::kPassOn;
}

Outcome RomajiBackspaceKey(HookCall& k) {
  InputPlatform& p = k.platform;
  RomajiBackspaceWords& words = k.words().romajiBackspace;

  // Without the left Shift key down the key is not substituted, whatever the
  // IME says: the comma typed on its own asks the IME nothing.
  if (words.leftShiftDown != 1) return NotSubstituted(k);

  Hwnd window = p.GetFocus();
  if (IsNull(window)) return NotSubstituted(k);

  ConversionStatus status{false, 0, 0};
  bool open;
  {
    InputContext context(p, window);
    open = context.Open();
    if (open) status = context.ReadConversionStatus();
  }
  constexpr uint32_t kRomajiKana = w32::IME_CMODE_NATIVE | w32::IME_CMODE_ROMAN;
  if (!open || (status.conversion & kRomajiKana) != kRomajiKana) return NotSubstituted(k);

  // Substitute only while the system does not see Shift held: the user has
  // let it go, or pressed it so briefly that a second look finds it up.
  uint16_t s = static_cast<uint16_t>(p.GetAsyncKeyState(w32::VK_SHIFT));
  bool shiftReleased;
  if ((s & 0x8000u) == 0) {
    shiftReleased = true;
  } else if ((s & 0x1u) != 0) {
    shiftReleased = (static_cast<uint16_t>(p.GetAsyncKeyState(w32::VK_SHIFT)) & 0x8000u) == 0;
  } else {
    shiftReleased = false;
  }

  if (!shiftReleased && !k.On(kBackspacePriority)) return NotSubstituted(k);
  if (k.up) {
    // Released, unless the tray program already has.
    if (Settle(words.backspaceSubstituted)) k.Send(w32::VK_BACK, kRomajiBackspaceBackspaceScan, w32::KEYEVENTF_KEYUP);
  } else {
    k.Owe(words.backspaceSubstituted, w32::VK_BACK, kRomajiBackspaceBackspaceScan, 0);
    // Shift must not reach the application with the Backspace. Its key-up
    // carries scan code 0, so it does not count as the user's left Shift
    // coming up.
    k.Send(w32::VK_SHIFT, 0, w32::KEYEVENTF_KEYUP);
    k.Send(w32::VK_BACK, kRomajiBackspaceBackspaceScan, 0);
  }
  return RewriteAndSwallow(k, w32::VK_BACK, BackspaceLParam(k.lParam));
}

}  // namespace

Outcome RomajiBackspaceStage(HookCall& k) {
  if (k.scanKey == kLeftShiftScan) {
    k.words().romajiBackspace.leftShiftDown = k.up ? 0 : 1;
    return Outcome::kPassOn;
  }
  return RomajiBackspaceKey(k);
}

Outcome BackspaceReleaseRule(HookCall& k) {
  // Our Backspace's own key-up coming back through the hook, or one the
  // user struck, ends the substitution.
  if (k.up) k.words().romajiBackspace.backspaceSubstituted = 0;
  return Outcome::kPassOn;
}

}  // namespace tavik
