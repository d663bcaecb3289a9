// Direct commit input: what the composition's text says should happen to
// it, as a pure decision over its bytes, and the stage that acts on it.
#pragma once

#include "hook/hook_call.h"

namespace tavik {

// What a rule decides. The checks look at the keyboard or the IME's mode
// before they commit or leave.
enum class DirectCommit {
  kCommit,         // finished text: the IME commits it
  kLeave,          // still being typed
  kKanaCheck,      // commit unless the Kana key is on (kana input)
  kLetterCheck,    // commit unless the IME is in kana mode
  kKatakanaWait,   // a voiceable katakana: commit in romaji input, else hold it back
  kRecheckResult,  // held back again: commit in romaji input, else leave
};

struct DirectCommitDecision {
  DirectCommit outcome;
  // The words as the rule leaves them before the outcome acts; -1: as they were.
  int8_t commitAsTyped = -1;
  int8_t katakanaRecheck = -1;
};

// The rules over the m bytes of a composition string of only unconverted
// input, for a keystroke with virtual key `vk`, the IME's conversion mode and
// the two words of held-back katakana. Reads only b[0] to b[m - 1].
DirectCommitDecision DecideDirectCommit(const uint8_t* b, int32_t m, uint32_t vk, uint32_t mode,
                                        int32_t commitAsTyped, int32_t katakanaRecheck);

// The keys direct commit input looks at. vk is compared as a whole word.
constexpr bool IsDirectCommitKey(uint32_t vk) {
  auto in = [vk](uint32_t first, uint32_t last) { return vk >= first && vk <= last; };
  return vk == 0x08 || vk == 0x10 || vk == 0x20 || vk == 0x2E || in(0x30, 0x39) || in(0x41, 0x5A) || in(0x60, 0x6F) ||
         in(0x88, 0x8F) || in(0x92, 0x96) || in(0xB8, 0xF5);
}

}  // namespace tavik
