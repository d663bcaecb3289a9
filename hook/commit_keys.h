// The keys the commit stage's cursor and editing keys part looks at, and
// how each is told from the keystroke. Also what the keyboard hook's first
// look at a keystroke is built from.
#pragma once

#include <cstdint>

#include "hook/platform.h"

namespace tavik {

enum class CommitKey {
  kNone,
  kLeft,
  kRight,
  kUp,
  kDown,
  kHomeEnd,
  kPage,
  kTab,
  kInsertDelete,
  kPauseLock,
  kBackspace,
  kEsc,
  kAlphanumeric,
  kKatakana,
  kHiragana,
  kHalfFullWidth,
};

enum class Match {
  kScanCodeAndVk,  // scan code without the extended bit, and vk: the keypad's keys match too
  kScanKey,        // the 9-bit scan key; vk not looked at
  kVk,             // vk alone; the scan code not looked at
  kVkNotResent,    // vk, and any scan code but 0, which the keys this stage re-sends carry
};

struct KeyTest {
  Match match;
  uint32_t scan;
  uint32_t vk;
  CommitKey key;
};

// In this order; the first match decides.
inline constexpr KeyTest kKeyTests[] = {
    {Match::kScanCodeAndVk, 0x4B, w32::VK_LEFT, CommitKey::kLeft},
    {Match::kScanCodeAndVk, 0x4D, w32::VK_RIGHT, CommitKey::kRight},
    {Match::kScanCodeAndVk, 0x48, w32::VK_UP, CommitKey::kUp},
    {Match::kScanCodeAndVk, 0x50, w32::VK_DOWN, CommitKey::kDown},
    {Match::kScanCodeAndVk, 0x47, w32::VK_HOME, CommitKey::kHomeEnd},
    {Match::kScanCodeAndVk, 0x4F, w32::VK_END, CommitKey::kHomeEnd},
    {Match::kScanCodeAndVk, 0x49, w32::VK_PRIOR, CommitKey::kPage},
    {Match::kScanCodeAndVk, 0x51, w32::VK_NEXT, CommitKey::kPage},
    {Match::kScanKey, 0x00F, 0, CommitKey::kTab},
    {Match::kScanCodeAndVk, 0x52, w32::VK_INSERT, CommitKey::kInsertDelete},
    {Match::kScanCodeAndVk, 0x53, w32::VK_DELETE, CommitKey::kInsertDelete},
    {Match::kScanKey, 0x045, 0, CommitKey::kPauseLock},  // Num Lock's scan code without the extended bit: Pause
    {Match::kScanKey, 0x046, 0, CommitKey::kPauseLock},  // Scroll Lock
    {Match::kScanKey, 0x145, 0, CommitKey::kPauseLock},  // Num Lock
    // The one re-sent key that would otherwise meet its row again: were the
    // IME to keep its composition (a failed commit), every re-sent
    // Backspace would commit and re-send once more, without end.
    {Match::kVkNotResent, 0, w32::VK_BACK, CommitKey::kBackspace},
    {Match::kVk, 0, w32::VK_ESCAPE, CommitKey::kEsc},
    {Match::kVk, 0, w32::VK_DBE_ALPHANUMERIC, CommitKey::kAlphanumeric},
    {Match::kVk, 0, w32::VK_DBE_KATAKANA, CommitKey::kKatakana},
    {Match::kVk, 0, w32::VK_DBE_HIRAGANA, CommitKey::kHiragana},
    {Match::kVk, 0, w32::VK_DBE_SBCSCHAR, CommitKey::kHalfFullWidth},
    {Match::kVk, 0, w32::VK_DBE_DBCSCHAR, CommitKey::kHalfFullWidth},
};

}  // namespace tavik
