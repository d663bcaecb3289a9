#include "hook/direct_commit.h"
#include "hook/key_screen.h"
#include "hook/keys.h"
#include "hook/stages.h"

namespace tavik {

namespace {

// The key-specific stages. At most one of them claims a keystroke; one that
// it passes on goes straight to the commit stage.
Outcome KeyStages(HookCall& k) {
  if (k.On(kTorikeshiKey) && k.scanKey == kCancelKeyScan) return CancelKeyStage(k);

  // The application only peeks at an HC_NOREMOVE keystroke; keys that open,
  // close or switch act once, when it is removed.
  if (k.code != w32::HC_NOREMOVE) {
    if (k.scanKey == kEijiKeyScan) return EijiKeyStage(k);
    if (k.scanKey == kEisuKeyScan) return EisuKeyStage(k);
  }

  if (k.On(kRomajiBackspace) && (k.scanKey == kRomajiBackspaceScan || k.scanKey == kLeftShiftScan)) {
    return RomajiBackspaceStage(k);
  }

  if (k.code == w32::HC_NOREMOVE) return Outcome::kPassOn;
  // The romaji backspace's Backspace coming up; the IME on/off keys have no
  // business with it.
  if (k.On(kRomajiBackspace) && k.words().backspaceSubstituted == 1 && k.scanKey == kBackspaceScan) {
    BackspaceReleaseRule(k);
    return Outcome::kPassOn;
  }
  return ImeOnOffKeysStage(k);
}

// The commit stage and direct commit input (both only with OASYS KAKUTEI on),
// then the browser stage for keystrokes that are being removed.
Outcome LaterStages(HookCall& k) {
  if (k.On(kOasysKakutei)) {
    Outcome outcome = CommitStage(k);
    if (outcome != Outcome::kPassOn) return outcome;
    outcome = DirectCommitStage(k);
    if (outcome != Outcome::kPassOn) return outcome;
  }
  if (k.code != w32::HC_NOREMOVE) return BrowserStage(k);
  return Outcome::kPassOn;
}

}  // namespace

intptr_t KeyboardStages(InputPlatform& platform, HookSharedBlock& block, ProcessVariables& process, int32_t code,
                        uintptr_t wParam, intptr_t lParam) {
  HookCall k(platform, block, process, code, wParam, lParam);
  Outcome outcome = KeyStages(k);
  if (outcome == Outcome::kPassOn) outcome = LaterStages(k);

  switch (outcome) {
    case Outcome::kSwallow:
      return 1;
    case Outcome::kRewriteAndSwallow:
      platform.CallNextHookEx(block.KeyboardHook(), code, k.rewrittenWParam, k.rewrittenLParam);
      return 1;
    case Outcome::kPassOn:
    case Outcome::kPassUnchanged:
      break;
  }
  return platform.CallNextHookEx(block.KeyboardHook(), code, wParam, lParam);
}

intptr_t KeyboardProcedure(InputPlatform& platform, HookSharedBlock& block, ProcessVariables& process, int32_t code,
                           uintptr_t wParam, intptr_t lParam) {
  if (code < 0 || !SomeStageLooksAt(wParam, lParam)) {
    return platform.CallNextHookEx(block.KeyboardHook(), code, wParam, lParam);
  }
  return KeyboardStages(platform, block, process, code, wParam, lParam);
}

}  // namespace tavik
