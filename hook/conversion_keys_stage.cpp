// The henkan and muhenkan keys after direct commit input held katakana back:
// in katakana mode the key commits the katakana as typed rather than
// converting it (the IME converts on the key-down, the message hook undoes
// it, the key-up commits), and a second press right after, on an empty
// composition, is swallowed. In alphanumeric mode the key just commits.
#include "hook/stages.h"

namespace tavik {

namespace {

// How long after a commit a second press of a conversion key is taken as
// the same intent, in milliseconds of the process clock.
constexpr int64_t kArmedWindowMs = 100;

Outcome Armed(HookCall& k) {
  ConversionKeyWords& w = k.words().conversionKeys;
  if (k.up) {
    w.conversionKeyArmed = 0;
    return Outcome::kSwallow;
  }
  InputPlatform& p = k.platform;
  // In 64 bits: the clock of this process and the time another process's
  // press was armed at may be far apart. A time ahead of the clock is within.
  int64_t elapsed = static_cast<int64_t>(p.clock()) - k.process.armedTime;
  if (elapsed >= kArmedWindowMs) {
    w.conversionKeyArmed = 0;
    return Outcome::kPassOn;
  }
  Hwnd window = p.GetFocus();
  if (IsNull(window)) {
    w.conversionKeyArmed = 0;
    return Outcome::kPassOn;
  }
  InputContext context(p, window);
  if (!context.Open() ||
      p.ImmGetCompositionStringA(context.handle(), w32::GCS_COMPSTR, k.storage.composition,
                                 sizeof k.storage.composition) != 0) {
    // Something new is being typed: the press is meant for it.
    w.conversionKeyArmed = 0;
    return Outcome::kPassOn;
  }
  return Outcome::kSwallow;
}

Outcome Reverting(HookCall& k) {
  if (!k.up) return Outcome::kPassOn;  // the IME converts; the message hook reverts
  InputPlatform& p = k.platform;
  ConversionKeyWords& w = k.words().conversionKeys;
  Hwnd window = p.GetFocus();
  if (IsNull(window)) {
    w.revertOnComposition = 0;
    return Outcome::kPassOn;
  }
  InputContext context(p, window);
  if (!context.Open()) {
    w.revertOnComposition = 0;
    return Outcome::kPassOn;
  }
  int32_t n = context.ReadCompositionAttributes(k.storage.composition);
  bool converted = false;
  for (int32_t i = 0; i < n; ++i) converted = converted || k.storage.composition[i] != w32::ATTR_INPUT;
  if (converted) p.ImmNotifyIME(context.handle(), w32::NI_COMPOSITIONSTR, w32::CPS_REVERT, 0);
  context.Complete();
  k.words().heldBack.LetGo();
  k.process.armedTime = p.clock();
  w.conversionKeyArmed = 1;
  w.revertOnComposition = 0;
  return Outcome::kPassOn;
}

Outcome PendingKatakana(HookCall& k) {
  InputPlatform& p = k.platform;
  RuntimeWords& w = k.words();
  Hwnd window = p.GetFocus();
  if (IsNull(window)) return Outcome::kPassOn;
  InputContext context(p, window);
  if (!context.Open()) return Outcome::kPassOn;
  // A mode that cannot be read says neither katakana nor alphanumeric: the
  // key is left to the IME and the katakana stays held back.
  ConversionStatus status = context.ReadConversionStatus();
  if (!status.read) return Outcome::kPassOn;
  uint32_t mode = status.conversion & w32::IME_CMODE_LANGUAGE;
  if (mode == w32::IME_CMODE_LANGUAGE) {
    w.conversionKeys.revertOnComposition = 1;
  } else if (mode == 0) {
    context.Complete();
    w.heldBack.LetGo();
  }
  return Outcome::kPassOn;
}

}  // namespace

Outcome ConversionKeysStage(HookCall& k) {
  // The scan key alone does not make a conversion key.
  if (k.vk != w32::VK_CONVERT && k.vk != w32::VK_NONCONVERT) return Outcome::kPassOn;
  const RuntimeWords& w = k.words();
  if (w.conversionKeys.conversionKeyArmed == 1) return Armed(k);
  if (w.conversionKeys.revertOnComposition == 1) return Reverting(k);
  if (w.heldBack.Held() && !k.up) return PendingKatakana(k);
  return Outcome::kPassOn;
}

}  // namespace tavik
