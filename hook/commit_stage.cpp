// The commit stage: with OASYS KAKUTEI on, a key that ends a conversion
// also does its own work in the same press. Space commits and types a
// space, Enter commits and breaks the line; the cursor and editing keys are
// in commit_keys_stage.cpp. The stage table picks the key.
#include "hook/commit.h"
#include "hook/keys.h"
#include "hook/stages.h"

namespace tavik {

Outcome SpaceCommitStage(HookCall& k) {
  if (k.up) return OwedKeyUp(k, &OwedKeyUps::spaceResent);

  InputPlatform& p = k.platform;
  Hwnd window = p.GetFocus();
  if (IsNull(window)) return Outcome::kPassOn;
  InputContext context(p, window);
  if (!context.Open() || OakFamilyIme(p, k.storage)) return Outcome::kPassOn;
  Composition c = ReadComposition(k, context, true);
  if (c.n <= 0 || !CommitTest(k, c, ClauseRule::kFullyConverted)) return Outcome::kPassOn;
  CommitAndResend(k, context, &OwedKeyUps::spaceResent);
  return Outcome::kSwallow;
}

// The IME takes the incoming Enter as its own commit key; an extra Enter
// sent behind it reaches the application as the line break.
Outcome EnterCommitStage(HookCall& k) {
  InputPlatform& p = k.platform;
  RuntimeWords& words = k.words();
  // Alt+Enter and Shift+Enter mean something else to the application; a
  // key-up while they are held leaves any owed key-up for a later one.
  if (Held(p, w32::VK_MENU) || Held(p, w32::VK_SHIFT)) return Outcome::kPassOn;
  // The incoming Enter goes on, so an application that peeks at it first
  // would meet it twice with the composition still there: one extra Enter,
  // sent when it is removed, is the line break.
  if (!k.up && k.code == w32::HC_NOREMOVE) return Outcome::kPassOn;

  if (k.up) {
    if (Settle(words.owed.enterResent)) k.Send(k.vk, 0, ResendFlags(k) | w32::KEYEVENTF_KEYUP);
    return Outcome::kPassOn;
  }

  Hwnd window = p.GetFocus();
  if (IsNull(window)) return Outcome::kPassOn;
  InputContext context(p, window);
  if (!context.Open() || OakFamilyIme(p, k.storage)) return Outcome::kPassOn;
  Composition c = ReadComposition(k, context, true);
  if (c.n > 0 && CommitTest(k, c, ClauseRule::kFullyConverted)) {
    k.Send(k.vk, 0, ResendFlags(k));
    k.Owe(words.owed.enterResent, k.vk, 0, ResendFlags(k));
    words.number.numericComposition = 0;
  }
  // Whatever was held back as typed goes with this Enter, or was never there.
  words.heldBack.LetGo();
  return Outcome::kPassOn;
}

}  // namespace tavik
