// The keys the stages claim, by scan key (scan code plus 0x100 for the
// extended bit, as the hook sees lParam bits 16 to 24), and the synthetic
// keystrokes the stages send and later recognise when they come back.
#pragma once

#include <cstdint>

#include "hook/platform.h"

namespace tavik {

inline constexpr uint32_t kCancelKeyScan = 0x1A;        // "@" on the Japanese keyboard
inline constexpr uint32_t kEijiKeyScan = 0x63;          // eiji (letters)
inline constexpr uint32_t kEisuKeyScan = 0x3A;          // eisu / CapsLock
inline constexpr uint32_t kRomajiBackspaceScan = 0x33;  // the comma key
inline constexpr uint32_t kLeftShiftScan = 0x2A;
inline constexpr uint32_t kBackspaceScan = 0x0E;
inline constexpr uint32_t kHankakuZenkakuScan = 0x29;
inline constexpr uint32_t kMuhenkanScan = 0x7B;
inline constexpr uint32_t kHiraganaScan = 0x70;
inline constexpr uint32_t kHenkanScan = 0x79;
inline constexpr uint32_t kSpaceScan = 0x39;
// Enter, the keypad's Enter, and scan key 0x167 that some keyboards send for it.
constexpr bool IsEnterScanKey(uint32_t scanKey) { return scanKey == 0x01C || scanKey == 0x11C || scanKey == 0x167; }

// The cancel key's Esc: scan code 0x64 sent with the extended bit, so it
// comes back as scan key 0x164 and a real Esc (extended bit clear) can be
// told from it.
inline constexpr uint8_t kSubstituteEscScan = 0x64;
inline constexpr uint32_t kSubstituteEscFlags = w32::KEYEVENTF_EXTENDEDKEY;

// The romaji backspace's Backspace: the Backspace key's own scan code,
// without the extended bit.
inline constexpr uint8_t kRomajiBackspaceBackspaceScan = kBackspaceScan;

// lParam bits 16 to 24: the scan code and the extended bit.
constexpr uint32_t ScanKeyOf(intptr_t lParam) {
  return static_cast<uint32_t>((static_cast<uint64_t>(lParam) >> 16) & 0x1FF);
}

// A keystroke's lParam (its 32 bits) with bits 16 to 24, the scan code and
// the extended bit, replaced; the repeat count and bits 25 to 31 stay as
// they came.
inline intptr_t WithScanKey(intptr_t lParam, uint32_t scanKey) {
  uint32_t l = static_cast<uint32_t>(lParam);
  return static_cast<intptr_t>((l & ~0x01FF0000u) | ((scanKey & 0x1FFu) << 16));
}

// The same lParam marked as the release of a key that was down: previous
// state (bit 30) and transition (bit 31) set.
inline intptr_t AsRelease(intptr_t lParam) { return static_cast<intptr_t>(static_cast<uint32_t>(lParam) | 0xC0000000u); }

}  // namespace tavik
