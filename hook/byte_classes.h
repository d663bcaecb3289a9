// The kinds of code page 932 (Shift-JIS) characters that direct commit
// input tells apart in a composition string. A one-byte class takes one
// byte; a two-byte class a lead byte and a trail byte, at positions the
// caller has made sure lie inside the string.
#pragma once

#include <cstdint>

namespace tavik::cp932 {

constexpr bool In(uint8_t b, uint8_t first, uint8_t last) { return b >= first && b <= last; }

// --- One byte ----------------------------------------------------------------

// Half-width katakana and its marks, ｦ to ﾟ.
constexpr bool HalfWidthKana(uint8_t b) { return In(b, 0xA6, 0xDF); }
// ﾞ and ﾟ.
constexpr bool HalfWidthVoicingMark(uint8_t b) { return b == 0xDE || b == 0xDF; }
// ﾝ.
constexpr bool HalfWidthN(uint8_t b) { return b == 0xDD; }
constexpr bool UpperLetter(uint8_t b) { return In(b, 0x41, 0x5A); }
constexpr bool LowerLetter(uint8_t b) { return In(b, 0x61, 0x7A); }
constexpr bool Letter(uint8_t b) { return UpperLetter(b) || LowerLetter(b); }
// The first byte of a two-byte character.
constexpr bool LeadByte(uint8_t b) { return In(b, 0x81, 0x9F) || In(b, 0xE0, 0xFC); }

// --- Two bytes -----------------------------------------------------------------

// Full-width katakana, ァ to ヶ.
constexpr bool Katakana(uint8_t lead, uint8_t trail) {
  return lead == 0x83 && (In(trail, 0x40, 0x7E) || In(trail, 0x80, 0x96));
}
// ン.
constexpr bool KatakanaN(uint8_t lead, uint8_t trail) { return lead == 0x83 && trail == 0x93; }
// The katakana a following voicing mark can still change: ウ, カ to コ,
// サ to ソ, タ to ト, ハ to ホ. Every other katakana character is complete.
constexpr bool VoiceableKatakana(uint8_t lead, uint8_t trail) {
  if (lead != 0x83) return false;
  switch (trail) {
    case 0x45:  // ウ
    case 0x4A: case 0x4C: case 0x4E: case 0x50: case 0x52:  // カ キ ク ケ コ
    case 0x54: case 0x56: case 0x58: case 0x5A: case 0x5C:  // サ シ ス セ ソ
    case 0x5E: case 0x60: case 0x63: case 0x65: case 0x67:  // タ チ ツ テ ト
    case 0x6E: case 0x71: case 0x74: case 0x77: case 0x7A:  // ハ ヒ フ ヘ ホ
      return true;
    default:
      return false;
  }
}
constexpr bool CompleteKatakana(uint8_t lead, uint8_t trail) {
  return Katakana(lead, trail) && !VoiceableKatakana(lead, trail);
}
// Full-width punctuation and symbols, without the ideographic space
// (81 40) and the voicing marks (81 4A, 81 4B).
constexpr bool Symbol(uint8_t lead, uint8_t trail) {
  return lead == 0x81 && (In(trail, 0x41, 0x49) || In(trail, 0x4C, 0x7E) || In(trail, 0x80, 0x97));
}
// The same with the ideographic space and the voicing marks.
constexpr bool WideSymbol(uint8_t lead, uint8_t trail) {
  return lead == 0x81 && (In(trail, 0x40, 0x7E) || In(trail, 0x80, 0x97));
}
// ゛ and ゜.
constexpr bool VoicingMark(uint8_t lead, uint8_t trail) { return lead == 0x81 && (trail == 0x4A || trail == 0x4B); }
// Ａ to Ｚ, ａ to ｚ.
constexpr bool FullWidthLetter(uint8_t lead, uint8_t trail) {
  return lead == 0x82 && (In(trail, 0x60, 0x79) || In(trail, 0x81, 0x9A));
}

}  // namespace tavik::cp932
