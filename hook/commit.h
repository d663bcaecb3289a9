// What the commit stage's keys share: reading the composition, the commit
// test, committing with the key re-sent behind the committed text, and the
// key-up the re-sent key-down is owed.
#pragma once

#include "hook/hook_call.h"

namespace tavik {

// Which composition a key commits, beyond the two clauses every key shares
// (held-back katakana, a full-width number).
enum class ClauseRule {
  kFullyConverted,      // every clause converted
  kFirstClauseTarget,   // ... and the first clause is the one being converted
  kLastClauseTarget,    // ... and the last clause is the one being converted
  kSingleTargetClause,  // one clause, and it is the one being converted
};

// The focused window's composition as its attribute bytes tell it, read
// once per keystroke. Everything is taken from the attributes before the
// numeric test reads the string over them.
struct Composition {
  int32_t n = 0;  // attribute bytes; 0 or less: no composition (or an error)
  bool fullyConverted = false;
  bool whollyUnconverted = false;
  bool firstClauseTarget = false;
  bool lastClauseTarget = false;
  bool singleTargetClause = false;
  bool numeric = false;  // the numeric composition test's result
};

// Classification of n attribute bytes (n above 0).
Composition Classify(const uint8_t* attr, int32_t n);

// The numeric composition test: the composition string, taken as n bytes,
// is a full-width digit followed by digits and separators. Reads only
// inside those n bytes.
bool IsNumericComposition(const uint8_t* s, int32_t n);

// Reads the attributes; when there is a composition, classifies it and runs
// the numeric composition test (writing numericComposition) if asked to.
Composition ReadComposition(HookCall& k, InputContext& context, bool numericTest);

// The commit test: the rule's clause, or katakana held back as typed, or a
// full-width number.
bool CommitTest(HookCall& k, const Composition& c, ClauseRule rule);

// The IME commits, and the keystroke's key goes once more behind the
// committed text (scan code 0, so the stage lets it through when it comes
// back); the key's word records the key-up now owed. The caller swallows
// the keystroke.
void CommitAndResend(HookCall& k, InputContext& context, int32_t OwedKeyUps::*word);

// A key-up owed for a re-sent key-down: sent, the word cleared, and the
// user's own key-up swallowed. Passes the key-up on when nothing is owed.
Outcome OwedKeyUp(HookCall& k, int32_t OwedKeyUps::*word);

// keybd_event flags for the keystroke's key: extended as it came.
inline uint32_t ResendFlags(const HookCall& k) { return k.extended ? w32::KEYEVENTF_EXTENDEDKEY : 0; }


}  // namespace tavik
