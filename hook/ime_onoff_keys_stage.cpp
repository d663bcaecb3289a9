// The IME on/off keys: the hankaku/zenkaku key (scan key 0x29) opens and
// closes the IME and, with Ctrl, opens its configuration dialog; the
// muhenkan and hiragana keys open a closed IME straight into kana input.
// Modifiers are probed Alt, Ctrl, Shift; a later one only when the earlier
// ones are not held.
#include "hook/keys.h"
#include "hook/stages.h"

namespace tavik {

using w32::IME_CMODE_FULLSHAPE;
using w32::IME_CMODE_KATAKANA;
using w32::IME_CMODE_NATIVE;

namespace {

// Closes an IME left in full-width alphanumeric mode, completing a finished
// composition first; the mode goes to half width, so that the next press
// opens it in full width again.
Outcome CloseFromFullWidthLetters(HookCall& k, InputContext& context, const ConversionStatus& status) {
  InputPlatform& p = k.platform;
  switch (ExaminePendingComposition(k, context, false)) {
    case PendingComposition::kUnfinished:
    case PendingComposition::kKeptOpen:
      return Outcome::kPassOn;
    case PendingComposition::kOakFinished:
    case PendingComposition::kFinished:
      context.Complete();
      break;
    case PendingComposition::kNone:
      break;
  }
  p.ImmSetConversionStatus(context.handle(), status.conversion & ~IME_CMODE_FULLSHAPE, status.sentence);
  p.ImmSetOpenStatus(context.handle(), 0);
  return Outcome::kSwallow;
}

}  // namespace

Outcome HankakuZenkakuStage(HookCall& k) {
  InputPlatform& p = k.platform;
  if (Held(p, w32::VK_MENU)) return Outcome::kPassOn;

  if (Held(p, w32::VK_CONTROL)) {
    // Ctrl: the IME's configuration dialog, for an open IME.
    if (!k.On(kImeConfig) || Held(p, w32::VK_SHIFT) || k.up) return Outcome::kPassOn;
    Hwnd window = p.GetFocus();
    if (IsNull(window)) return Outcome::kPassOn;
    InputContext context(p, window);
    if (!context.Open()) return Outcome::kPassOn;
    p.ImmConfigureIMEA(p.GetKeyboardLayout(0), window, w32::IME_CONFIG_GENERAL, nullptr);
    return Outcome::kSwallow;
  }

  if (Held(p, w32::VK_SHIFT)) {
    // Shift: close, leaving the mode and any composition as they are.
    if (k.up) return Outcome::kPassOn;
    Hwnd window = p.GetFocus();
    if (IsNull(window)) return Outcome::kPassOn;
    InputContext context(p, window);
    if (!context.Open()) return Outcome::kPassOn;
    p.ImmSetOpenStatus(context.handle(), 0);
    return Outcome::kSwallow;
  }

  // No modifier: open a closed IME, or with IME OFF1 close one left in
  // full-width alphanumeric mode.
  if (k.up) return Outcome::kPassOn;
  Hwnd window = p.GetFocus();
  if (IsNull(window)) return Outcome::kPassOn;
  InputContext context(p, window);
  bool open = context.Open();
  // An open IME's mode matters only to IME OFF1.
  ConversionStatus status{false, 0, 0};
  if (!open || k.On(kImeOff1)) status = context.ReadConversionStatus();

  if (!open && status.read) {
    p.ImmSetOpenStatus(context.handle(), 1);
    if (k.On(kImeOff1)) {
      uint32_t letters = (status.conversion & ~(IME_CMODE_NATIVE | IME_CMODE_KATAKANA)) | IME_CMODE_FULLSHAPE;
      p.ImmSetConversionStatus(context.handle(), letters, status.sentence);
      if (k.On(kVelto)) {
        k.Send(w32::VK_DBE_ALPHANUMERIC, 0, 0);
        k.Send(w32::VK_DBE_ALPHANUMERIC, 0, w32::KEYEVENTF_KEYUP);
      }
    }
    return Outcome::kSwallow;
  }
  // Full-width alphanumeric exactly in the low four bits; romaji and the
  // higher bits do not matter. A mode that cannot be read is left to the IME.
  if (open && k.On(kImeOff1) && status.read && (status.conversion & 0xFu) == IME_CMODE_FULLSHAPE) {
    return CloseFromFullWidthLetters(k, context, status);
  }
  // The IME acts on the key itself.
  return Outcome::kPassOn;
}

namespace {

// The new mode's bits; every other bit stays as read.
struct NewMode {
  uint32_t clear;
  uint32_t set;
};

// Opens a closed IME in the given mode. An IME already open, or one whose
// mode cannot be read, is left to act on the key itself.
Outcome OpenIn(HookCall& k, Hwnd window, NewMode mode) {
  InputPlatform& p = k.platform;
  InputContext context(p, window);
  if (context.Open()) return Outcome::kPassOn;
  ConversionStatus status = context.ReadConversionStatus();
  if (!status.read) return Outcome::kPassOn;
  p.ImmSetOpenStatus(context.handle(), 1);
  p.ImmSetConversionStatus(context.handle(), (status.conversion & ~mode.clear) | mode.set, status.sentence);
  return Outcome::kSwallow;
}

NewMode Hiragana(bool halfWidth) {
  return halfWidth ? NewMode{IME_CMODE_KATAKANA | IME_CMODE_FULLSHAPE, IME_CMODE_NATIVE}
                   : NewMode{IME_CMODE_KATAKANA, IME_CMODE_NATIVE | IME_CMODE_FULLSHAPE};
}

NewMode Katakana(bool halfWidth) {
  return halfWidth ? NewMode{IME_CMODE_FULLSHAPE, IME_CMODE_NATIVE | IME_CMODE_KATAKANA}
                   : NewMode{0, IME_CMODE_NATIVE | IME_CMODE_KATAKANA | IME_CMODE_FULLSHAPE};
}

}  // namespace

Outcome ImeOnStage(HookCall& k) {
  InputPlatform& p = k.platform;
  bool halfWidth = k.On(kHankakuKana);

  bool muhenkan = k.scanKey == kMuhenkanScan || k.vk == w32::VK_NONCONVERT ||
                  (k.scanKey == 0 && k.vk == w32::VK_DBE_HIRAGANA);
  if (muhenkan) {
    if (Held(p, w32::VK_MENU) || Held(p, w32::VK_CONTROL) || Held(p, w32::VK_SHIFT) || k.up) {
      return Outcome::kPassOn;
    }
    Hwnd window = p.GetFocus();
    if (IsNull(window)) return Outcome::kPassOn;
    return OpenIn(k, window, Hiragana(halfWidth));
  }

  if (k.scanKey == kHiraganaScan) {
    if (Held(p, w32::VK_MENU) || Held(p, w32::VK_CONTROL)) return Outcome::kPassOn;
    // Shift+hiragana is the katakana key, told by its virtual key.
    bool shift = Held(p, w32::VK_SHIFT);
    if ((shift && k.vk != w32::VK_DBE_KATAKANA) || k.up) return Outcome::kPassOn;
    Hwnd window = p.GetFocus();
    if (IsNull(window)) return Outcome::kPassOn;
    return OpenIn(k, window, shift ? Katakana(halfWidth) : Hiragana(halfWidth));
  }

  return Outcome::kPassOn;
}

}  // namespace tavik
