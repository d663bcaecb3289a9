#include <gtest/gtest.h>

#include <vector>

#include "hook/byte_classes.h"
#include "hook/direct_commit.h"

namespace tavik {
namespace {

using namespace cp932;

TEST(ByteClasses, OneByteClassesOnTheirBoundaries) {
  EXPECT_FALSE(HalfWidthKana(0xA5));
  EXPECT_TRUE(HalfWidthKana(0xA6));
  EXPECT_TRUE(HalfWidthKana(0xDF));
  EXPECT_FALSE(HalfWidthKana(0xE0));
  EXPECT_FALSE(HalfWidthVoicingMark(0xDD));
  EXPECT_TRUE(HalfWidthVoicingMark(0xDE));
  EXPECT_TRUE(HalfWidthVoicingMark(0xDF));
  EXPECT_TRUE(HalfWidthN(0xDD));
  EXPECT_FALSE(HalfWidthN(0xDC));
  EXPECT_FALSE(UpperLetter(0x40));
  EXPECT_TRUE(UpperLetter(0x41));
  EXPECT_TRUE(UpperLetter(0x5A));
  EXPECT_FALSE(UpperLetter(0x5B));
  EXPECT_FALSE(LowerLetter(0x60));
  EXPECT_TRUE(LowerLetter(0x61));
  EXPECT_TRUE(LowerLetter(0x7A));
  EXPECT_FALSE(LowerLetter(0x7B));
}

TEST(ByteClasses, TwoByteClassesOnTheirBoundaries) {
  EXPECT_FALSE(Katakana(0x83, 0x3F));
  EXPECT_TRUE(Katakana(0x83, 0x40));
  EXPECT_TRUE(Katakana(0x83, 0x7E));
  EXPECT_FALSE(Katakana(0x83, 0x7F));
  EXPECT_TRUE(Katakana(0x83, 0x80));
  EXPECT_TRUE(Katakana(0x83, 0x96));
  EXPECT_FALSE(Katakana(0x83, 0x97));
  EXPECT_FALSE(Katakana(0x82, 0x50));
  EXPECT_TRUE(KatakanaN(0x83, 0x93));
  EXPECT_FALSE(KatakanaN(0x83, 0x92));

  // Every voiceable katakana, and its voiced neighbour, which is complete.
  const uint8_t voiceable[] = {0x45, 0x4A, 0x4C, 0x4E, 0x50, 0x52, 0x54, 0x56, 0x58, 0x5A, 0x5C,
                               0x5E, 0x60, 0x63, 0x65, 0x67, 0x6E, 0x71, 0x74, 0x77, 0x7A};
  int count = 0;
  for (int t = 0x40; t <= 0x96; ++t) count += VoiceableKatakana(0x83, static_cast<uint8_t>(t)) ? 1 : 0;
  EXPECT_EQ(count, 21);
  for (uint8_t t : voiceable) {
    EXPECT_TRUE(VoiceableKatakana(0x83, t)) << std::hex << int{t};
    EXPECT_FALSE(CompleteKatakana(0x83, t)) << std::hex << int{t};
    EXPECT_TRUE(CompleteKatakana(0x83, static_cast<uint8_t>(t + 1))) << std::hex << int{t};
  }
  EXPECT_FALSE(VoiceableKatakana(0x81, 0x4A));

  EXPECT_FALSE(Symbol(0x81, 0x40));
  EXPECT_TRUE(Symbol(0x81, 0x41));
  EXPECT_TRUE(Symbol(0x81, 0x49));
  EXPECT_FALSE(Symbol(0x81, 0x4A));
  EXPECT_FALSE(Symbol(0x81, 0x4B));
  EXPECT_TRUE(Symbol(0x81, 0x4C));
  EXPECT_TRUE(Symbol(0x81, 0x7E));
  EXPECT_FALSE(Symbol(0x81, 0x7F));
  EXPECT_TRUE(Symbol(0x81, 0x97));
  EXPECT_FALSE(Symbol(0x81, 0x98));
  EXPECT_TRUE(WideSymbol(0x81, 0x40));
  EXPECT_TRUE(WideSymbol(0x81, 0x4A));
  EXPECT_FALSE(WideSymbol(0x81, 0x3F));
  EXPECT_FALSE(WideSymbol(0x81, 0x98));
  EXPECT_TRUE(VoicingMark(0x81, 0x4A));
  EXPECT_TRUE(VoicingMark(0x81, 0x4B));
  EXPECT_FALSE(VoicingMark(0x81, 0x4C));

  EXPECT_FALSE(FullWidthLetter(0x82, 0x5F));
  EXPECT_TRUE(FullWidthLetter(0x82, 0x60));
  EXPECT_TRUE(FullWidthLetter(0x82, 0x79));
  EXPECT_FALSE(FullWidthLetter(0x82, 0x7A));
  EXPECT_FALSE(FullWidthLetter(0x82, 0x80));
  EXPECT_TRUE(FullWidthLetter(0x82, 0x81));
  EXPECT_TRUE(FullWidthLetter(0x82, 0x9A));
  EXPECT_FALSE(FullWidthLetter(0x82, 0x9B));
}

constexpr uint32_t kHiragana = 0x9;    // kana mode, full width
constexpr uint32_t kKatakana = 0xB;    // katakana mode
constexpr uint32_t kAlphanumeric = 0;  // half-width letters
constexpr uint32_t kKey = 0x41;        // a key that is neither Backspace nor Delete

// Each string in a heap block of exactly its size: a rule that looks one
// byte too far stops a sanitized build.
DirectCommitDecision Decide(std::vector<uint8_t> s, uint32_t mode = kHiragana, uint32_t vk = kKey, int32_t asTyped = 0,
                            int32_t recheck = 0) {
  std::vector<uint8_t> exact(s);
  return DecideDirectCommit(exact.data(), static_cast<int32_t>(exact.size()), vk, mode, asTyped, recheck);
}
DirectCommit Outcome(std::vector<uint8_t> s, uint32_t mode = kHiragana, uint32_t vk = kKey, int32_t asTyped = 0,
                     int32_t recheck = 0) {
  return Decide(std::move(s), mode, vk, asTyped, recheck).outcome;
}

TEST(DirectCommitRules, OneByte) {
  EXPECT_EQ(Outcome({0x6B}), DirectCommit::kLetterCheck);
  EXPECT_EQ(Outcome({0x31}), DirectCommit::kCommit);
  EXPECT_EQ(Outcome({0xB1}), DirectCommit::kCommit);
  EXPECT_EQ(Outcome({0x6B}, kHiragana, 0x08), DirectCommit::kLeave);
  EXPECT_EQ(Outcome({0x31}, kHiragana, 0x2E), DirectCommit::kLeave);
}

TEST(DirectCommitRules, TwoBytesInTheirOrder) {
  EXPECT_EQ(Outcome({0xB6, 0xDE}), DirectCommit::kCommit);     // ｶﾞ
  EXPECT_EQ(Outcome({0xB6, 0xB7}), DirectCommit::kKanaCheck);  // ｶｷ
  EXPECT_EQ(Outcome({0x81, 0x41}), DirectCommit::kCommit);     // 、
  EXPECT_EQ(Outcome({0x81, 0x40}), DirectCommit::kLeave);      // the ideographic space is no symbol
  EXPECT_EQ(Outcome({0x82, 0x60}, kAlphanumeric | 0x8), DirectCommit::kCommit);
  EXPECT_EQ(Outcome({0x82, 0x60}, kHiragana), DirectCommit::kLeave);
  EXPECT_EQ(Outcome({0x81, 0x4A}, kKatakana), DirectCommit::kCommit);
  EXPECT_EQ(Outcome({0x81, 0x4A}, kHiragana), DirectCommit::kLeave);
  EXPECT_EQ(Outcome({0x83, 0x41}), DirectCommit::kCommit);        // ア
  EXPECT_EQ(Outcome({0x83, 0x4A}), DirectCommit::kKatakanaWait);  // カ
  EXPECT_EQ(Outcome({0x83, 0x4B}), DirectCommit::kCommit);        // ガ
  EXPECT_EQ(Outcome({0x6E, 0x6B}), DirectCommit::kLetterCheck);   // nk
  EXPECT_EQ(Outcome({0xDD, 0x4B}), DirectCommit::kLetterCheck);   // ﾝK
  EXPECT_EQ(Outcome({0xDD, 0x31}), DirectCommit::kCommit);        // ﾝ1
  EXPECT_EQ(Outcome({0x82, 0xA0}), DirectCommit::kLeave);         // あ
  // With katakana held back, two bytes still go by the two-byte rules.
  EXPECT_EQ(Outcome({0x82, 0xA0}, kHiragana, kKey, 1), DirectCommit::kLeave);
  EXPECT_EQ(Decide({0x82, 0xA0}, kHiragana, kKey, 1).commitAsTyped, -1);
}

TEST(DirectCommitRules, PatternsOfThreeToEightBytes) {
  EXPECT_EQ(Outcome({0xB6, 0xB7, 0xB8}), DirectCommit::kKanaCheck);
  EXPECT_EQ(Outcome({0x83, 0x41, 0x6B}), DirectCommit::kLetterCheck);
  EXPECT_EQ(Outcome({0x83, 0x93, 0x4B}), DirectCommit::kLetterCheck);
  EXPECT_EQ(Outcome({0x83, 0x93, 0x31}), DirectCommit::kCommit);  // ン and one byte
  EXPECT_EQ(Outcome({0x83, 0x41, 0x31}), DirectCommit::kLeave);
  EXPECT_EQ(Outcome({0xDD, 0x81, 0x40}), DirectCommit::kCommit);
  EXPECT_EQ(Outcome({0xDD, 0x83, 0x41}), DirectCommit::kKanaCheck);
  EXPECT_EQ(Outcome({0x82, 0xA0, 0x31}), DirectCommit::kLeave);

  EXPECT_EQ(Outcome({0xB6, 0xB7, 0xB8, 0xB9}), DirectCommit::kKanaCheck);
  EXPECT_EQ(Outcome({0x82, 0xA0, 0x82, 0xA2}), DirectCommit::kLeave);
  EXPECT_EQ(Outcome({0x83, 0x4A, 0x83, 0x4C}), DirectCommit::kKanaCheck);  // カキ
  EXPECT_EQ(Outcome({0x83, 0x41, 0x82, 0xA0}), DirectCommit::kLeave);
  EXPECT_EQ(Outcome({0x83, 0x93, 0x81, 0x40}), DirectCommit::kCommit);
  EXPECT_EQ(Outcome({0x83, 0x93, 0x81, 0x98}), DirectCommit::kLeave);
  EXPECT_EQ(Outcome({0x83, 0x93, 0x82, 0x60}), DirectCommit::kLetterCheck);
  EXPECT_EQ(Outcome({0x83, 0x93, 0x82, 0xA0}), DirectCommit::kLeave);
  EXPECT_EQ(Outcome({0x83, 0x93, 0xB6, 0xB7}), DirectCommit::kKanaCheck);

  EXPECT_EQ(Outcome({0xB1, 0xB2, 0xB3, 0xB4, 0xB5}), DirectCommit::kKanaCheck);
  EXPECT_EQ(Outcome({0xDD, 0x83, 0x41, 0x83, 0x42}), DirectCommit::kKanaCheck);
  EXPECT_EQ(Outcome({0xDD, 0x83, 0x41, 0x82, 0xA0}), DirectCommit::kLeave);
  EXPECT_EQ(Outcome({0x83, 0x93, 0xB1, 0xB2, 0xB3}), DirectCommit::kKanaCheck);

  EXPECT_EQ(Outcome({0x83, 0x41, 0x83, 0x42, 0x83, 0x43}), DirectCommit::kKanaCheck);
  EXPECT_EQ(Outcome({0x83, 0x93, 0xB1, 0xB2, 0xB3, 0xB4}), DirectCommit::kKanaCheck);
  EXPECT_EQ(Outcome({0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6}), DirectCommit::kLeave) << "six half-width kana";
  EXPECT_EQ(Outcome({0xDD, 0x83, 0x41, 0x83, 0x42, 0x83, 0x43}), DirectCommit::kKanaCheck);
  EXPECT_EQ(Outcome({0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7}), DirectCommit::kLeave);
  EXPECT_EQ(Outcome({0x83, 0x41, 0x83, 0x42, 0x83, 0x43, 0x83, 0x44}), DirectCommit::kKanaCheck);
  EXPECT_EQ(Outcome({0x83, 0x41, 0x83, 0x42, 0x83, 0x43, 0x82, 0xA0}), DirectCommit::kLeave);
}

TEST(DirectCommitRules, TheLastCharacterDecidesWhileKatakanaIsHeldBack) {
  // カキア: the complete ア commits.
  EXPECT_EQ(Outcome({0x83, 0x4A, 0x83, 0x4C, 0x83, 0x41}, kHiragana, kKey, 1), DirectCommit::kCommit);
  // カキ: the voiceable キ waits.
  EXPECT_EQ(Outcome({0x83, 0x4A, 0x83, 0x4C}, kHiragana, kKey, 1), DirectCommit::kKatakanaWait);
  // カ and a hiragana: no longer held back, to be looked at again.
  DirectCommitDecision d = Decide({0x83, 0x4A, 0x82, 0xA0}, kHiragana, kKey, 1);
  EXPECT_EQ(d.outcome, DirectCommit::kLeave);
  EXPECT_EQ(d.commitAsTyped, 0);
  EXPECT_EQ(d.katakanaRecheck, 1);
  // An odd length: the last byte alone.
  EXPECT_EQ(Outcome({0x83, 0x4A, 0x6B}, kHiragana, kKey, 1), DirectCommit::kLetterCheck);
  EXPECT_EQ(Outcome({0x83, 0x4A, 0x31}, kHiragana, kKey, 1), DirectCommit::kCommit);
  EXPECT_EQ(Outcome({0x83, 0x4A, 0x81, 0x4A}, kKatakana, kKey, 1), DirectCommit::kCommit);
  EXPECT_EQ(Outcome({0x83, 0x4A, 0x82, 0x60}, kAlphanumeric, kKey, 1), DirectCommit::kCommit);
}

TEST(DirectCommitRules, RecheckAfterBackspaceOrALongComposition) {
  // Not asked for: nothing changes.
  EXPECT_EQ(Decide({0x83, 0x4A, 0x83, 0x4C}, kHiragana, 0x08, 0, 0).commitAsTyped, -1);
  // Pure katakana again.
  DirectCommitDecision d = Decide({0x83, 0x4A, 0x83, 0x4C}, kHiragana, 0x08, 0, 1);
  EXPECT_EQ(d.outcome, DirectCommit::kRecheckResult);
  EXPECT_EQ(d.commitAsTyped, 1);
  EXPECT_EQ(d.katakanaRecheck, 0);
  // Still a hiragana in it.
  d = Decide({0x83, 0x4A, 0x82, 0xA0}, kHiragana, 0x2E, 0, 1);
  EXPECT_EQ(d.outcome, DirectCommit::kLeave);
  EXPECT_EQ(d.commitAsTyped, 0);
  EXPECT_EQ(d.katakanaRecheck, 1);
  // An odd last byte has no pair: not katakana, and never read past.
  d = Decide({0x83, 0x4A, 0x83, 0x4C, 0x83}, kHiragana, 0x08, 0, 1);
  EXPECT_EQ(d.commitAsTyped, 0);
  // Nine bytes or more without Backspace go to the recheck too.
  d = Decide({0x83, 0x41, 0x83, 0x42, 0x83, 0x43, 0x83, 0x44, 0x83, 0x45}, kHiragana, kKey, 0, 1);
  EXPECT_EQ(d.outcome, DirectCommit::kRecheckResult);
  EXPECT_EQ(Outcome({0x82, 0xA0, 0x83, 0x42, 0x83, 0x43, 0x83, 0x44, 0x83}, kHiragana, kKey, 0, 1),
            DirectCommit::kLeave);
}

TEST(DirectCommitRules, TheKeysItLooksAt) {
  for (uint32_t vk : {0x08u, 0x10u, 0x20u, 0x2Eu, 0x30u, 0x39u, 0x41u, 0x5Au, 0x60u, 0x6Fu, 0x88u, 0x8Fu, 0x92u,
                      0x96u, 0xB8u, 0xF5u}) {
    EXPECT_TRUE(IsDirectCommitKey(vk)) << std::hex << vk;
  }
  for (uint32_t vk : {0x09u, 0x1Cu, 0x1Du, 0x2Fu, 0x3Au, 0x40u, 0x5Bu, 0x70u, 0x87u, 0x90u, 0x91u, 0x97u, 0xB7u,
                      0xF6u, 0x100u + 0x41u}) {
    EXPECT_FALSE(IsDirectCommitKey(vk)) << std::hex << vk;
  }
}

}  // namespace
}  // namespace tavik
