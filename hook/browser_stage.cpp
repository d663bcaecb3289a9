// Inside the Internet Explorer browser, Esc stops a page loading or leaves a
// field: the cancel key's Esc is dropped unless a composition is being
// typed, and a real Esc while the IME could be used and nothing is composed.
// Alt and Ctrl with Esc are the system's and always go through.
#include "hook/stages.h"

namespace tavik {

namespace {

bool AltOrCtrlHeld(InputPlatform& p) { return Held(p, w32::VK_MENU) || Held(p, w32::VK_CONTROL); }

// The cancel key's Esc: dropped unless the IME is open and composing.
Outcome SubstituteEsc(HookCall& k) {
  InputPlatform& p = k.platform;
  if (AltOrCtrlHeld(p)) return Outcome::kPassOn;
  if (!BrowserHost(p, k.storage)) return Outcome::kPassOn;
  Hwnd window = p.GetFocus();
  if (IsNull(window)) return Outcome::kSwallow;

  bool open;
  int32_t n = 0;
  {
    InputContext context(p, window);
    open = context.Open();
    // Only whether a composition exists matters here; the mode is not asked.
    if (open) n = context.ReadCompositionAttributes(k.storage.composition);
  }
  return open && n > 0 ? Outcome::kPassOn : Outcome::kSwallow;
}

// A real Esc: dropped while the IME could be used and nothing is composed.
// Whatever cannot be read lets the Esc through.
Outcome RealEsc(HookCall& k) {
  InputPlatform& p = k.platform;
  if (AltOrCtrlHeld(p)) return Outcome::kPassOn;
  if (!BrowserHost(p, k.storage)) return Outcome::kPassOn;
  Hwnd window = p.GetFocus();
  if (IsNull(window)) return Outcome::kPassOn;

  InputContext context(p, window);
  bool open = context.Open();
  ConversionStatus status = context.ReadConversionStatus();
  if (!open) return status.read ? Outcome::kSwallow : Outcome::kPassOn;
  if (!status.read) return Outcome::kPassOn;
  int32_t n = context.ReadCompositionAttributes(k.storage.composition);
  return n == 0 ? Outcome::kSwallow : Outcome::kPassOn;
}

}  // namespace

Outcome BrowserStage(HookCall& k) {
  // The extended bit tells the cancel key's Esc from the Esc key's own.
  if (k.On(kIeDisableTorikeshi) && k.extended) return SubstituteEsc(k);
  if (k.On(kIeDisableEsc) && !k.extended) return RealEsc(k);
  return Outcome::kPassOn;
}

}  // namespace tavik
