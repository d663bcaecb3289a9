#include "hook/keys.h"
#include "hook/stages.h"

namespace tavik {

namespace {

constexpr uint32_t kSubstituteEscScanKey = 0x100 | kSubstituteEscScan;

// The keystroke's lParam as the substitute Esc's: scan code 0x64 with the
// extended bit; the repeat count and bits 25 to 31 stay as they came.
intptr_t Rewritten(intptr_t lParam) { return WithScanKey(lParam, kSubstituteEscScanKey); }

// Releases the substitute Esc that is still down and hands the keystroke on
// as that release.
Outcome ReleaseEsc(HookCall& k) {
  if (Settle(k.words().cancelKey.escDown)) {
    k.Send(w32::VK_ESCAPE, kSubstituteEscScan, kSubstituteEscFlags | w32::KEYEVENTF_KEYUP);
  }
  return RewriteAndSwallow(k, w32::VK_ESCAPE, AsRelease(Rewritten(k.lParam)));
}

}  // namespace

Outcome CancelKeyStage(HookCall& k) {
  InputPlatform& p = k.platform;
  CancelKeyWords& words = k.words().cancelKey;

  Hwnd window = p.GetFocus();
  if (IsNull(window)) {
    // Nothing to ask, but an Esc we pressed must not stay down just because
    // the focus left while "@" was held.
    return words.escDown == 1 ? ReleaseEsc(k) : Outcome::kPassOn;
  }

  // The mode decides for an open IME; for a closed one only CANNOT OPEN IME
  // asks whether it could be read. Otherwise it is not asked for. The
  // context is released at the end of the block, before anything else
  // happens: nothing below needs it, and the synthetic Esc must not find it
  // still taken.
  bool open;
  ConversionStatus status{false, 0, 0};
  {
    InputContext context(p, window);
    open = context.Open();
    if (open || (k.On(kImeOffTorikeshi) && k.On(kCannotOpenIme))) status = context.ReadConversionStatus();
  }

  bool substitute;
  if (open) {
    // An open IME whose mode cannot be read is not known to be in kana
    // input; the mode then reads as 0 and "@" stays "@".
    substitute = (status.conversion & w32::IME_CMODE_NATIVE) != 0;
  } else if (k.On(kImeOffTorikeshi)) {
    // CANNOT OPEN IME narrows this to windows without an IME that could be
    // opened, which is what a failed conversion-status read tells.
    substitute = !k.On(kCannotOpenIme) || !status.read;
  } else {
    substitute = false;
  }

  if (substitute) {
    // Every press of "@" presses Esc (auto-repeat included); its release
    // releases it, unless the tray program already has.
    if (!k.up) {
      k.Send(w32::VK_ESCAPE, kSubstituteEscScan, kSubstituteEscFlags);
      k.Owe(words.escDown, w32::VK_ESCAPE, kSubstituteEscScan, kSubstituteEscFlags);
    } else if (Settle(words.escDown)) {
      k.Send(w32::VK_ESCAPE, kSubstituteEscScan, kSubstituteEscFlags | w32::KEYEVENTF_KEYUP);
    }
    return RewriteAndSwallow(k, w32::VK_ESCAPE, Rewritten(k.lParam));
  }

  // The conditions changed while the key was held: the Esc we pressed is
  // still down and is released now, whatever this keystroke is.
  if (words.escDown == 1) return ReleaseEsc(k);

  return Outcome::kPassOn;
}

}  // namespace tavik
