// The keyboard hook's stages, in the order they run, one row each: the keys
// a stage claims, the settings that gate it, whether it runs for a keystroke
// the application only peeks at (HC_NOREMOVE), and the function to call.
// Which keystrokes the procedure looks at all is worked out from these rows
// when the library is built, so that the two cannot drift apart.
//
// A row runs when it claims the keystroke's scan key or virtual key, its
// settings are on (and its `unless` setting off), and the hook code allows
// it. Rows of one group are alternatives: the first that runs is its
// group's only one. A row that swallows or rewrites the keystroke ends the
// procedure; one that passes it on hands it to the next row that claims it.
#pragma once

#include <bit>
#include <cstdint>

#include "hook/commit_keys.h"
#include "hook/direct_commit.h"
#include "hook/keys.h"
#include "hook/stages.h"

namespace tavik {

// A row's keys: any of these scan keys (scan code plus 0x100 for the
// extended bit), or any of these virtual keys. A stage whose keys need both
// (the commit keys' scan code with its vk) claims either and tells them
// apart itself.
struct StageKeys {
  bool scanKey[0x200] = {};
  bool vk[0x100] = {};  // virtual keys below 256; none above is any stage's

  constexpr void ScanKey(uint32_t s) { scanKey[s & 0x1FF] = true; }
  // A scan code with or without the extended bit.
  constexpr void ScanCode(uint32_t c) {
    ScanKey(c & 0xFF);
    ScanKey((c & 0xFF) | 0x100);
  }
  constexpr void Vk(uint32_t v) { vk[v & 0xFF] = true; }
};

// --- The keys of each stage -------------------------------------------------

constexpr void CancelKeyKeys(StageKeys& s) { s.ScanKey(kCancelKeyScan); }
constexpr void EijiKeyKeys(StageKeys& s) { s.ScanKey(kEijiKeyScan); }
constexpr void EisuKeyKeys(StageKeys& s) { s.ScanKey(kEisuKeyScan); }
constexpr void RomajiBackspaceKeys(StageKeys& s) {
  s.ScanKey(kRomajiBackspaceScan);
  s.ScanKey(kLeftShiftScan);
}
constexpr void BackspaceKeys(StageKeys& s) { s.ScanKey(kBackspaceScan); }
constexpr void HankakuZenkakuKeys(StageKeys& s) { s.ScanKey(kHankakuZenkakuScan); }
// The muhenkan class (scan key 0x7B, VK_NONCONVERT with any scan key, or
// VK_DBE_HIRAGANA with scan key 0) and the hiragana key.
constexpr void ImeOnKeys(StageKeys& s) {
  s.ScanKey(kMuhenkanScan);
  s.ScanKey(kHiraganaScan);
  s.Vk(w32::VK_NONCONVERT);
  s.Vk(w32::VK_DBE_HIRAGANA);
}
constexpr void SpaceKeys(StageKeys& s) { s.ScanKey(kSpaceScan); }
constexpr void EnterKeys(StageKeys& s) {
  for (uint32_t k = 0; k < 0x200; ++k) {
    if (IsEnterScanKey(k)) s.ScanKey(k);
  }
}
constexpr void CommitKeysKeys(StageKeys& s) {
  for (const KeyTest& t : kKeyTests) {
    if (t.match == Match::kScanCodeAndVk) s.ScanCode(t.scan);
    if (t.match == Match::kScanKey) s.ScanKey(t.scan);
    if (t.match == Match::kVk || t.match == Match::kVkNotResent) s.Vk(t.vk);
  }
}
// The henkan and muhenkan keys by scan key, whatever their vk, and the
// conversion keys' virtual keys.
constexpr void ConversionKeysKeys(StageKeys& s) {
  s.ScanKey(kHenkanScan);
  s.ScanKey(kMuhenkanScan);
  s.Vk(w32::VK_CONVERT);
  s.Vk(w32::VK_NONCONVERT);
}
constexpr void DirectCommitKeys(StageKeys& s) {
  for (uint32_t v = 0; v < 0x100; ++v) {
    if (IsDirectCommitKey(v)) s.Vk(v);
  }
}
constexpr void EscKeys(StageKeys& s) { s.Vk(w32::VK_ESCAPE); }

// --- The table ----------------------------------------------------------------

enum class Group : uint8_t {
  kKey,         // the key-specific stages: at most one of them
  kCommit,      // Space, Enter, or a cursor or editing key
  kDirect,      // a conversion key, or direct commit input's
  kBrowser,
};

enum class Peeked : uint8_t { kSkipped, kRuns };

struct StageRow {
  const char* name;
  Group group;
  Setting gate;    // on, or kNoSetting: none
  Setting gate2;   // on as well, or kNoSetting: none
  Setting unless;  // off, or kNoSetting: none
  Peeked peeked;
  void (*keys)(StageKeys&);
  // Claims the keystroke only while this holds; null: always.
  bool (*when)(const HookCall&);
  Outcome (*run)(HookCall&);
};

// The romaji backspace's Backspace is down until a Backspace key-up.
inline bool BackspaceSubstituted(const HookCall& k) { return k.block.runtime.romajiBackspace.backspaceSubstituted == 1; }

// clang-format off
inline constexpr StageRow kStages[] = {
  // stage                 group           gate              gate2          unless          peeked            keys                 when                  run
  {"cancel key",           Group::kKey,    kTorikeshiKey,    kNoSetting,    kNoSetting,     Peeked::kRuns,    CancelKeyKeys,       nullptr,              CancelKeyStage},
  {"eiji key",             Group::kKey,    kNoSetting,       kNoSetting,    kNoSetting,     Peeked::kSkipped, EijiKeyKeys,         nullptr,              EijiKeyStage},
  {"eisu key",             Group::kKey,    kNoSetting,       kNoSetting,    kNoSetting,     Peeked::kSkipped, EisuKeyKeys,         nullptr,              EisuKeyStage},
  {"romaji backspace",     Group::kKey,    kRomajiBackspace, kNoSetting,    kNoSetting,     Peeked::kRuns,    RomajiBackspaceKeys, nullptr,              RomajiBackspaceStage},
  {"backspace release",    Group::kKey,    kRomajiBackspace, kNoSetting,    kNoSetting,     Peeked::kSkipped, BackspaceKeys,       BackspaceSubstituted, BackspaceReleaseRule},
  {"hankaku/zenkaku",      Group::kKey,    kImeOnOff,        kNoSetting,    kNoSetting,     Peeked::kSkipped, HankakuZenkakuKeys,  nullptr,              HankakuZenkakuStage},
  {"IME on",               Group::kKey,    kImeOn,           kNoSetting,    kNoSetting,     Peeked::kSkipped, ImeOnKeys,           nullptr,              ImeOnStage},
  {"commit on Space",      Group::kCommit, kOasysKakutei,    kNoSetting,    kNoSetting,     Peeked::kRuns,    SpaceKeys,           nullptr,              SpaceCommitStage},
  {"commit on Enter",      Group::kCommit, kOasysKakutei,    kNoSetting,    kKakuteiNotCr,  Peeked::kRuns,    EnterKeys,           nullptr,              EnterCommitStage},
  {"commit keys",          Group::kCommit, kOasysKakutei,    kNoSetting,    kNoSetting,     Peeked::kRuns,    CommitKeysKeys,      nullptr,              CommitKeysStage},
  {"conversion keys",      Group::kDirect, kOasysKakutei,    kKakuteiInput, kNoSetting,     Peeked::kRuns,    ConversionKeysKeys,  nullptr,              ConversionKeysStage},
  {"direct commit",        Group::kDirect, kOasysKakutei,    kKakuteiInput, kNoSetting,     Peeked::kRuns,    DirectCommitKeys,    nullptr,              DirectCommitStage},
  {"browser",              Group::kBrowser, kNoSetting,      kNoSetting,    kNoSetting,     Peeked::kSkipped, EscKeys,             nullptr,              BrowserStage},
};
// clang-format on

inline constexpr int kStageCount = sizeof kStages / sizeof kStages[0];
static_assert(kStageCount <= 16, "the rows a key is claimed by are one 16-bit word");

// For each scan key and each virtual key, the rows that claim it, one bit a
// row. Together they are the procedure's first look at a keystroke: a key no
// row claims goes to the next hook before anything else is read.
struct ClaimingRows {
  uint16_t byScanKey[0x200] = {};
  uint16_t byVk[0x100] = {};

  constexpr uint32_t Of(uint32_t vk, uint32_t scanKey) const {
    return static_cast<uint32_t>(byScanKey[scanKey & 0x1FF]) | (vk < 0x100 ? byVk[vk] : 0u);
  }
};

constexpr ClaimingRows MakeClaimingRows() {
  ClaimingRows rows;
  for (int i = 0; i < kStageCount; ++i) {
    StageKeys keys;
    kStages[i].keys(keys);
    auto bit = static_cast<uint16_t>(1u << i);
    for (uint32_t s = 0; s < 0x200; ++s) {
      if (keys.scanKey[s]) rows.byScanKey[s] |= bit;
    }
    for (uint32_t v = 0; v < 0x100; ++v) {
      if (keys.vk[v]) rows.byVk[v] |= bit;
    }
  }
  return rows;
}

inline constexpr ClaimingRows kClaimingRows = MakeClaimingRows();

// The rows that claim a keystroke; 0 when no stage has anything to do with it.
inline uint32_t RowsClaiming(uintptr_t wParam, intptr_t lParam) {
  return kClaimingRows.Of(static_cast<uint32_t>(wParam), ScanKeyOf(lParam));
}

inline bool GateOpen(const HookSharedBlock& block, const StageRow& row) {
  return (row.gate == kNoSetting || block.On(row.gate)) && (row.gate2 == kNoSetting || block.On(row.gate2)) &&
         (row.unless == kNoSetting || !block.On(row.unless));
}

// Runs the rows among `rows` that the keystroke reaches, in table order.
inline Outcome RunStages(HookCall& k, uint32_t rows) {
  uint32_t groupsTaken = 0;
  for (; rows != 0; rows &= rows - 1) {
    const StageRow& row = kStages[std::countr_zero(rows)];
    uint32_t group = 1u << static_cast<uint32_t>(row.group);
    if ((groupsTaken & group) != 0 || (row.peeked == Peeked::kSkipped && k.code == w32::HC_NOREMOVE)) continue;
    if (!GateOpen(k.block, row) || (row.when != nullptr && !row.when(k))) continue;
    groupsTaken |= group;
    Outcome outcome = row.run(k);
    if (outcome != Outcome::kPassOn) return outcome;
  }
  return Outcome::kPassOn;
}

}  // namespace tavik
