// The commit stage's shared steps. See commit.h.
#include "hook/commit.h"

namespace tavik {

Composition Classify(const uint8_t* attr, int32_t n) {
  Composition c;
  c.n = n;
  if (n <= 0) return c;
  int32_t c12 = 0;
  int32_t c4 = 0;
  int32_t c0 = 0;
  int32_t c1 = 0;
  for (int32_t i = 0; i < n; ++i) {
    switch (attr[i]) {
      case w32::ATTR_INPUT:
        ++c0;
        break;
      case w32::ATTR_TARGET_CONVERTED:
        ++c1;
        ++c12;
        break;
      case w32::ATTR_CONVERTED:
        ++c12;
        break;
      case w32::ATTR_INPUT_ERROR:
        ++c4;
        break;
      default:
        break;
    }
  }
  // Input errors count as converted only beside a converted clause, so
  // that a composition of nothing but errors is not taken as finished.
  int32_t converted = c12 != 0 ? c12 + c4 : 0;
  c.fullyConverted = converted == n;
  c.whollyUnconverted = c0 == n;
  c.firstClauseTarget = c.fullyConverted && attr[0] == w32::ATTR_TARGET_CONVERTED;
  c.lastClauseTarget = c.fullyConverted && attr[n - 1] == w32::ATTR_TARGET_CONVERTED;
  c.singleTargetClause = c1 == n;
  return c;
}

bool IsNumericComposition(const uint8_t* s, int32_t n) {
  auto fullWidthDigit = [](uint8_t second) { return second >= 0x4F && second <= 0x58; };
  if (n < 2 || s[0] != 0x82 || !fullWidthDigit(s[1])) return false;
  for (int32_t i = 2; i < n;) {
    uint8_t b = s[i];
    // A lead byte in the last position has no second byte to look at: it
    // is just another byte that is not part of a number.
    bool pair = i + 1 < n;
    if (pair && ((b == 0x82 && fullWidthDigit(s[i + 1])) || (b == 0x81 && (s[i + 1] == 0x43 || s[i + 1] == 0x44)))) {
      i += 2;  // full-width digit, full-width comma or full stop
    } else if ((b >= '0' && b <= '9') || b == ',' || b == '.') {
      i += 1;
    } else {
      return false;  // nothing later can make it a number again
    }
  }
  return true;
}

Composition ReadComposition(HookCall& k, InputContext& context, bool numericTest) {
  uint8_t (&buffer)[1024] = k.storage.composition;
  int32_t n = context.ReadCompositionAttributes(buffer);
  Composition c = Classify(buffer, n);
  if (n <= 0 || !numericTest) return c;

  int32_t& numeric = k.words().number.numericComposition;
  numeric = 0;
  if (k.On(kNumberKakutei) && n >= 2 && c.whollyUnconverted) {
    // The string goes over the attributes, which have been read. Its length
    // is taken from the attributes: one byte each.
    k.platform.ImmGetCompositionStringA(context.handle(), w32::GCS_COMPSTR, buffer, sizeof buffer);
    c.numeric = IsNumericComposition(buffer, n);
    numeric = c.numeric ? 1 : 0;
  }
  return c;
}

namespace {

bool ClauseRuleHolds(const Composition& c, ClauseRule rule) {
  switch (rule) {
    case ClauseRule::kFullyConverted:
      return c.fullyConverted;
    case ClauseRule::kFirstClauseTarget:
      return c.firstClauseTarget;
    case ClauseRule::kLastClauseTarget:
      return c.lastClauseTarget;
    case ClauseRule::kSingleTargetClause:
      return c.singleTargetClause;
  }
  return false;
}

}  // namespace

bool CommitTest(HookCall& k, const Composition& c, ClauseRule rule) {
  return ClauseRuleHolds(c, rule) || k.words().heldBack.Held() || c.numeric;
}

void CommitAndResend(HookCall& k, InputContext& context, int32_t OwedKeyUps::*word) {
  context.Complete();
  k.Send(k.vk, 0, ResendFlags(k));
  RuntimeWords& words = k.words();
  k.Owe(words.owed.*word, k.vk, 0, ResendFlags(k));
  words.heldBack.LetGo();
  words.number.numericComposition = 0;
}

Outcome OwedKeyUp(HookCall& k, int32_t OwedKeyUps::*word) {
  if (!Settle(k.words().owed.*word)) return Outcome::kPassOn;
  k.Send(k.vk, 0, ResendFlags(k) | w32::KEYEVENTF_KEYUP);
  return Outcome::kSwallow;
}

}  // namespace tavik
