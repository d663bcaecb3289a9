// The hook procedure's first look at a keystroke: whether any stage could
// have anything to do with it. Most keystrokes (function keys, Ctrl and Alt,
// the keypad's operators, media keys) are none of the keys below, whatever
// the settings and the runtime words say; they go on to the next hook before
// anything is read or the per-call record is built.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "hook/commit_keys.h"
#include "hook/direct_commit.h"
#include "hook/keys.h"

namespace tavik {

// One byte a key rather than one bit: the test is then a load and a compare.
struct KeySet {
  uint8_t scanKey[0x200] = {};  // 9-bit scan keys
  uint8_t vk[0x100] = {};       // virtual keys below 256; none above is any stage's

  constexpr void AddScanKey(uint32_t s) { scanKey[s & 0x1FF] = 1; }
  // A scan code matched with or without the extended bit.
  constexpr void AddScanCode(uint32_t c) {
    AddScanKey(c);
    AddScanKey(c | 0x100);
  }
  constexpr void AddVk(uint32_t v) { vk[v & 0xFF] = 1; }

  constexpr bool Has(uint32_t v, uint32_t s) const { return scanKey[s & 0x1FF] != 0 || (v < 0x100 && vk[v] != 0); }
};

constexpr KeySet MakeKeysTheStagesLookAt() {
  KeySet set;
  // The cancel, eiji, eisu, romaji backspace and IME on/off keys; the
  // Backspace whose release ends the romaji backspace; Space and Enter;
  // henkan and muhenkan for the conversion keys.
  for (uint32_t s : {kCancelKeyScan, kEijiKeyScan, kEisuKeyScan, kRomajiBackspaceScan, kLeftShiftScan, kBackspaceScan,
                     kHankakuZenkakuScan, kMuhenkanScan, kHiraganaScan, kHenkanScan, kSpaceScan}) {
    set.AddScanKey(s);
  }
  for (uint32_t s = 0; s < 0x200; ++s) {
    if (IsEnterScanKey(s)) set.AddScanKey(s);
  }
  // The commit stage's cursor and editing keys.
  for (const KeyTest& t : kKeyTests) {
    if (t.match == Match::kScanCodeAndVk) set.AddScanCode(t.scan);
    if (t.match == Match::kScanKey) set.AddScanKey(t.scan);
    if (t.match == Match::kVk || t.match == Match::kVkNotResent) set.AddVk(t.vk);
  }
  // Direct commit input's keys, the conversion keys, the muhenkan key by its
  // virtual key, and Esc for the browser.
  for (uint32_t v = 0; v < 256; ++v) {
    if (IsDirectCommitKey(v)) set.AddVk(v);
  }
  for (uint32_t v : {w32::VK_CONVERT, w32::VK_NONCONVERT, w32::VK_ESCAPE}) set.AddVk(v);
  return set;
}

inline constexpr KeySet kKeysTheStagesLookAt = MakeKeysTheStagesLookAt();

inline bool SomeStageLooksAt(uintptr_t wParam, intptr_t lParam) {
  return kKeysTheStagesLookAt.Has(static_cast<uint32_t>(wParam), ScanKeyOf(lParam));
}

}  // namespace tavik
