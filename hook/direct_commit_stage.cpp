// Direct commit input (KAKUTEI INPUT): katakana, letters, symbols and
// half-width digits typed through the IME are committed as soon as they are
// complete. On every key event the stage looks at the composition as it
// stands (on a key-down, before the IME sees the key) and commits it when it
// is finished text, so that the key starts a fresh composition. Katakana
// that a voicing mark could still change is held back (commitAsTyped) for
// the other keys to commit as typed. The henkan and muhenkan keys, and keys
// that are not direct commit input's, go to the conversion keys instead
// (conversion_keys_stage.cpp); the stage table tells them apart.
#include "hook/direct_commit.h"
#include "hook/keys.h"
#include "hook/stages.h"

namespace tavik {

namespace {

Outcome Leave(HookCall& k) {
  k.words().conversionKeys.Disarm();
  return Outcome::kPassOn;
}

Outcome Reset(HookCall& k) {
  k.words().heldBack.LetGo();
  k.words().conversionKeys.Disarm();
  return Outcome::kPassOn;
}

Outcome Commit(HookCall& k, InputContext& context) {
  context.Complete();
  return Reset(k);
}

// Kana input: the Kana key's state is on (either bit). Romaji input: it is
// off and the IME types romaji.
bool KanaKeyOn(HookCall& k) { return k.platform.GetKeyState(w32::VK_KANA) != 0; }

Outcome Act(HookCall& k, InputContext& context, const DirectCommitDecision& d, uint32_t mode) {
  HeldBackKatakana& heldBack = k.words().heldBack;
  heldBack.Set(d.commitAsTyped, d.katakanaRecheck);
  bool romaji = false;
  switch (d.outcome) {
    case DirectCommit::kCommit:
      return Commit(k, context);
    case DirectCommit::kLeave:
      return Leave(k);
    case DirectCommit::kKanaCheck:
      return KanaKeyOn(k) ? Leave(k) : Commit(k, context);
    case DirectCommit::kLetterCheck:
      return (mode & w32::IME_CMODE_NATIVE) != 0 ? Leave(k) : Commit(k, context);
    case DirectCommit::kKatakanaWait:
      romaji = !KanaKeyOn(k) && (mode & w32::IME_CMODE_ROMAN) != 0;
      if (romaji) return Commit(k, context);
      heldBack.Hold();
      return Leave(k);
    case DirectCommit::kRecheckResult:
      romaji = !KanaKeyOn(k) && (mode & w32::IME_CMODE_ROMAN) != 0;
      return romaji ? Commit(k, context) : Leave(k);
  }
  return Leave(k);
}

}  // namespace

Outcome DirectCommitStage(HookCall& k) {
  InputPlatform& p = k.platform;
  Hwnd window = p.GetFocus();
  if (IsNull(window)) return Outcome::kPassOn;
  InputContext context(p, window);
  if (!context.Open()) return Outcome::kPassOn;
  // A mode that cannot be read is taken as 0: alphanumeric, no romaji.
  uint32_t mode = context.ReadConversionStatus().conversion;
  if (OakFamilyIme(p, k.storage)) return Outcome::kPassOn;

  uint8_t (&buffer)[1024] = k.storage.composition;
  int32_t n = context.ReadCompositionAttributes(buffer);
  if (n == 0) return Reset(k);
  if (n < 0) return Leave(k);
  for (int32_t i = 0; i < n; ++i) {
    if (buffer[i] != w32::ATTR_INPUT) return Leave(k);  // part of it is being converted
  }
  int32_t m = p.ImmGetCompositionStringA(context.handle(), w32::GCS_COMPSTR, buffer, sizeof buffer);
  // The rules never look past what the buffer holds.
  if (m > static_cast<int32_t>(sizeof buffer)) m = static_cast<int32_t>(sizeof buffer);
  const HeldBackKatakana& w = k.words().heldBack;
  return Act(k, context, DecideDirectCommit(buffer, m, k.vk, mode, w.commitAsTyped, w.katakanaRecheck), mode);
}

}  // namespace tavik
