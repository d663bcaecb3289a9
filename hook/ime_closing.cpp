// Closing an open IME from a key: what to do with a pending composition
// first, and the two closing steps that the eiji and eisu keys share.
#include "hook/stages.h"

namespace tavik {

PendingComposition ExaminePendingComposition(HookCall& k, InputContext& context, bool asTypedIsFinished) {
  InputPlatform& p = k.platform;
  int32_t n = context.ReadCompositionAttributes(k.storage.composition);

  if (n > 0) {
    if (OakFamilyIme(p, k.storage)) {
      // The OAK family marks its finished clauses its own way, and the
      // OASYS host keeps an OAK IME open when asked to.
      if (!OakConverted(k.storage.composition, n)) return PendingComposition::kUnfinished;
      if (k.On(kOasysDisableImeOff) && OasysHost(p, k.storage)) return PendingComposition::kKeptOpen;
      return PendingComposition::kOakFinished;
    }
    if (FullyConverted(k.storage.composition, n) || asTypedIsFinished) return PendingComposition::kFinished;
    return PendingComposition::kUnfinished;
  }

  // Nothing composed. The flag comes first so that the file name and the
  // host are only asked for when they can matter.
  if (k.On(kOasysDisableImeOff) && OakFamilyIme(p, k.storage) && OasysHost(p, k.storage)) {
    return PendingComposition::kKeptOpen;
  }
  return PendingComposition::kNone;
}

Outcome HalfWidthClose(HookCall& k) {
  InputPlatform& p = k.platform;
  if (!k.On(kImeOff2)) return Outcome::kPassOn;
  Hwnd window = p.GetFocus();
  if (IsNull(window)) return Outcome::kPassOn;

  InputContext context(p, window);
  if (!context.Open()) return Outcome::kPassOn;
  ConversionStatus status = context.ReadConversionStatus();
  // Only a half-width mode closes. A mode that cannot be read is not known
  // to be one, and writing a mode made up from nothing would lose the user's.
  if (!status.read || (status.conversion & w32::IME_CMODE_FULLSHAPE) != 0) return Outcome::kPassOn;

  bool asTyped = k.On(kKakuteiInput) && k.words().heldBack.Held();
  switch (ExaminePendingComposition(k, context, asTyped)) {
    case PendingComposition::kUnfinished:
    case PendingComposition::kKeptOpen:
      return Outcome::kPassOn;
    case PendingComposition::kOakFinished:
      context.Complete();
      break;
    case PendingComposition::kFinished:
      context.Complete();
      // The held-back katakana, if any, went with the commit.
      k.words().heldBack.LetGo();
      break;
    case PendingComposition::kNone:
      break;
  }

  // Half-width letters: kana, katakana and full width off, the rest kept.
  constexpr uint32_t kLetters = ~(w32::IME_CMODE_NATIVE | w32::IME_CMODE_KATAKANA | w32::IME_CMODE_FULLSHAPE);
  p.ImmSetConversionStatus(context.handle(), status.conversion & kLetters, status.sentence);
  p.ImmSetOpenStatus(context.handle(), 0);
  return Outcome::kSwallow;
}

Outcome ClosedImeSwallow(HookCall& k) {
  InputPlatform& p = k.platform;
  if (!k.On(kIme2007)) return Outcome::kPassOn;
  Hwnd window = p.GetFocus();
  if (IsNull(window)) return Outcome::kPassOn;

  InputContext context(p, window);
  bool open = context.Open();
  ConversionStatus status = context.ReadConversionStatus();
  // A window whose mode cannot be read has no IME that the key could reach.
  if (open || !status.read) return Outcome::kPassOn;
  // OAK and ATOK handle the key themselves while closed; any other IME,
  // or one whose name cannot be read, would act on it wrongly.
  return OakOrAtokIme(p, k.storage) ? Outcome::kPassOn : Outcome::kSwallow;
}

}  // namespace tavik
