// Direct commit input's rules: whether a composition of unconverted input is
// finished text to commit as it stands. Each length has its own list, tried
// in order; the first match decides. Every index below is checked against m
// by the length that selects the list, or explicitly.
#include "hook/byte_classes.h"
#include "hook/direct_commit.h"

namespace tavik {

namespace {

using namespace cp932;

constexpr DirectCommitDecision Commit{DirectCommit::kCommit};
constexpr DirectCommitDecision Leave{DirectCommit::kLeave};
constexpr DirectCommitDecision KanaCheck{DirectCommit::kKanaCheck};
constexpr DirectCommitDecision LetterCheck{DirectCommit::kLetterCheck};
constexpr DirectCommitDecision KatakanaWait{DirectCommit::kKatakanaWait};

bool KanaMode(uint32_t mode) { return (mode & 0x1u) != 0; }
bool KatakanaMode(uint32_t mode) { return (mode & 0x3u) == 0x3u; }

bool AllHalfWidthKana(const uint8_t* b, int32_t from, int32_t to) {
  for (int32_t i = from; i < to; ++i) {
    if (!HalfWidthKana(b[i])) return false;
  }
  return true;
}

bool AllKatakana(const uint8_t* b, int32_t from, int32_t to) {
  for (int32_t i = from; i + 1 < to; i += 2) {
    if (!Katakana(b[i], b[i + 1])) return false;
  }
  return true;
}

// The last two bytes after held-back katakana.
DirectCommitDecision LastTwoBytes(uint8_t p, uint8_t q, uint32_t mode) {
  if (Symbol(p, q)) return Commit;
  if (!KanaMode(mode) && FullWidthLetter(p, q)) return Commit;
  if (KatakanaMode(mode) && VoicingMark(p, q)) return Commit;
  if (Katakana(p, q)) return VoiceableKatakana(p, q) ? KatakanaWait : Commit;
  // Anything else after the katakana (hiragana, kanji): no longer held back
  // as typed, but worth a second look once it is pure katakana again.
  return {DirectCommit::kLeave, 0, 1};
}

DirectCommitDecision TwoBytes(const uint8_t* b, uint32_t mode) {
  if (HalfWidthKana(b[0]) && HalfWidthVoicingMark(b[1])) return Commit;
  if (HalfWidthKana(b[0]) && HalfWidthKana(b[1])) return KanaCheck;
  if (Symbol(b[0], b[1])) return Commit;
  if (!KanaMode(mode) && FullWidthLetter(b[0], b[1])) return Commit;
  if (KatakanaMode(mode) && VoicingMark(b[0], b[1])) return Commit;
  if (Katakana(b[0], b[1])) return VoiceableKatakana(b[0], b[1]) ? KatakanaWait : Commit;
  if (LowerLetter(b[1]) || (HalfWidthN(b[0]) && UpperLetter(b[1]))) return LetterCheck;
  if (HalfWidthN(b[0])) return Commit;
  return Leave;
}

DirectCommitDecision ThreeBytes(const uint8_t* b) {
  if (AllHalfWidthKana(b, 0, 3)) return KanaCheck;
  if (LowerLetter(b[2]) || (KatakanaN(b[0], b[1]) && UpperLetter(b[2]))) return LetterCheck;
  if (b[0] == 0x83) return b[1] == 0x93 ? Commit : Leave;
  if (HalfWidthN(b[0]) && WideSymbol(b[1], b[2])) return Commit;
  if (HalfWidthN(b[0]) && Katakana(b[1], b[2])) return KanaCheck;
  return Leave;
}

DirectCommitDecision FourBytes(const uint8_t* b) {
  if (AllHalfWidthKana(b, 0, 4)) return KanaCheck;
  if (b[0] != 0x83) return Leave;
  if (AllKatakana(b, 0, 4)) return KanaCheck;
  if (!KatakanaN(b[0], b[1])) return Leave;
  if (b[2] == 0x81) return WideSymbol(b[2], b[3]) ? Commit : Leave;
  if (b[2] == 0x82) return FullWidthLetter(b[2], b[3]) ? LetterCheck : Leave;
  if (HalfWidthKana(b[2]) && HalfWidthKana(b[3])) return KanaCheck;
  return Leave;
}

DirectCommitDecision FiveBytes(const uint8_t* b) {
  if (AllHalfWidthKana(b, 0, 5)) return KanaCheck;
  if (HalfWidthN(b[0])) return AllKatakana(b, 1, 5) ? KanaCheck : Leave;
  if (KatakanaN(b[0], b[1]) && AllHalfWidthKana(b, 2, 5)) return KanaCheck;
  return Leave;
}

DirectCommitDecision SixBytes(const uint8_t* b) {
  if (b[0] != 0x83) return Leave;
  if (AllKatakana(b, 0, 6)) return KanaCheck;
  if (KatakanaN(b[0], b[1]) && AllHalfWidthKana(b, 2, 6)) return KanaCheck;
  return Leave;
}

DirectCommitDecision SevenBytes(const uint8_t* b) {
  return HalfWidthN(b[0]) && AllKatakana(b, 1, 7) ? KanaCheck : Leave;
}

DirectCommitDecision EightBytes(const uint8_t* b) { return AllKatakana(b, 0, 8) ? KanaCheck : Leave; }

// Katakana held back (commitAsTyped 1) and more typed after it: the last
// character decides.
DirectCommitDecision LastCharacter(const uint8_t* b, int32_t m, uint32_t mode) {
  if (m % 2 != 0) return Letter(b[m - 1]) ? LetterCheck : Commit;
  return LastTwoBytes(b[m - 2], b[m - 1], mode);
}

// Backspace or Delete took something away, or the composition grew long:
// is what was held back pure katakana again? An odd last byte has no pair
// and is not katakana.
DirectCommitDecision Recheck(const uint8_t* b, int32_t m, int32_t katakanaRecheck) {
  if (katakanaRecheck != 1 || !Katakana(b[0], b[1])) return Leave;
  bool pure = true;
  for (int32_t i = 2; i < m; i += 2) pure = pure && i + 1 < m && Katakana(b[i], b[i + 1]);
  if (!pure) return {DirectCommit::kLeave, 0, 1};
  return {DirectCommit::kRecheckResult, 1, 0};
}

}  // namespace

DirectCommitDecision DecideDirectCommit(const uint8_t* b, int32_t m, uint32_t vk, uint32_t mode,
                                        int32_t commitAsTyped, int32_t katakanaRecheck) {
  bool removing = vk == 0x08 || vk == 0x2E;  // Backspace, Delete
  if (m <= 0) return Leave;
  if (m == 1) {
    if (removing) return Leave;
    return Letter(b[0]) ? LetterCheck : Commit;
  }
  if (removing) return Recheck(b, m, katakanaRecheck);
  if (m == 2) return TwoBytes(b, mode);
  if (commitAsTyped == 1) return LastCharacter(b, m, mode);
  switch (m) {
    case 3:
      return ThreeBytes(b);
    case 4:
      return FourBytes(b);
    case 5:
      return FiveBytes(b);
    case 6:
      return SixBytes(b);
    case 7:
      return SevenBytes(b);
    case 8:
      return EightBytes(b);
    default:
      return Recheck(b, m, katakanaRecheck);
  }
}

}  // namespace tavik
