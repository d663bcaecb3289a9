// The rest of the commit stage: the cursor and editing keys commit a
// converted composition and then act on the committed text; Esc, the Pause
// and lock keys and the IME's mode keys only commit it and go on to the IME.
#include <cstddef>

#include "hook/commit.h"
#include "hook/commit_keys.h"
#include "hook/stages.h"

namespace tavik {

namespace {

// The stage table hands this stage only keystrokes that some test below
// could match, so the walk is short and rare.
CommitKey Which(const HookCall& k) {
  uint32_t scanCode = k.scanKey & 0xFF;
  for (const KeyTest& t : kKeyTests) {
    bool matches = t.match == Match::kScanCodeAndVk ? scanCode == t.scan && k.vk == t.vk
                   : t.match == Match::kScanKey     ? k.scanKey == t.scan
                   : t.match == Match::kVk          ? k.vk == t.vk
                                                    : k.vk == t.vk && scanCode != 0;
    if (matches) return t.key;
  }
  return CommitKey::kNone;
}

// --- Keys that commit and re-send -------------------------------------------

enum class Writing { kHorizontal, kVertical, kEither };
enum class Scheme { kPlain, kCandidateList };

// Modifiers that pass a key on, probed in this order.
enum Modifier : uint8_t { kAlt = 1, kCtrl = 2, kShift = 4 };
constexpr uint8_t kAltCtrlShift = kAlt | kCtrl | kShift;

struct ResendRow {
  CommitKey key;
  Writing writing;
  uint8_t passOnWith;  // Modifier bits
  int32_t OwedKeyUps::*word;
  Scheme scheme;
  ClauseRule clause;  // the commit test's first clause
};

// In vertical writing Up and Down move along the line as Left and Right do
// in horizontal writing, and Left and Right move between lines.
constexpr ResendRow kResendRows[] = {
    {CommitKey::kLeft, Writing::kHorizontal, kAltCtrlShift, &OwedKeyUps::backwardKeyResent, Scheme::kPlain,
     ClauseRule::kFirstClauseTarget},
    {CommitKey::kRight, Writing::kHorizontal, kAltCtrlShift, &OwedKeyUps::forwardKeyResent, Scheme::kPlain,
     ClauseRule::kLastClauseTarget},
    {CommitKey::kUp, Writing::kHorizontal, kAltCtrlShift, &OwedKeyUps::lineKeyResent, Scheme::kCandidateList,
     ClauseRule::kFullyConverted},
    {CommitKey::kDown, Writing::kHorizontal, kAltCtrlShift, &OwedKeyUps::lineKeyResent, Scheme::kCandidateList,
     ClauseRule::kFullyConverted},
    {CommitKey::kLeft, Writing::kVertical, kAltCtrlShift, &OwedKeyUps::lineKeyResent, Scheme::kCandidateList,
     ClauseRule::kFullyConverted},
    {CommitKey::kRight, Writing::kVertical, kAltCtrlShift, &OwedKeyUps::lineKeyResent, Scheme::kCandidateList,
     ClauseRule::kFullyConverted},
    {CommitKey::kUp, Writing::kVertical, kAltCtrlShift, &OwedKeyUps::backwardKeyResent, Scheme::kPlain,
     ClauseRule::kFirstClauseTarget},
    {CommitKey::kDown, Writing::kVertical, kAltCtrlShift, &OwedKeyUps::forwardKeyResent, Scheme::kPlain,
     ClauseRule::kLastClauseTarget},
    {CommitKey::kHomeEnd, Writing::kEither, 0, &OwedKeyUps::homeEndResent, Scheme::kCandidateList,
     ClauseRule::kSingleTargetClause},
    {CommitKey::kPage, Writing::kEither, 0, &OwedKeyUps::pageKeyResent, Scheme::kCandidateList,
     ClauseRule::kFullyConverted},
    {CommitKey::kTab, Writing::kEither, kAlt | kCtrl, &OwedKeyUps::tabResent, Scheme::kPlain,
     ClauseRule::kFullyConverted},
    {CommitKey::kInsertDelete, Writing::kEither, 0, &OwedKeyUps::insertDeleteResent, Scheme::kPlain,
     ClauseRule::kFullyConverted},
    {CommitKey::kBackspace, Writing::kEither, 0, &OwedKeyUps::backspaceResent, Scheme::kPlain,
     ClauseRule::kFullyConverted},
};

const ResendRow* RowFor(CommitKey key, Writing writing) {
  for (const ResendRow& row : kResendRows) {
    if (row.key == key && (row.writing == writing || row.writing == Writing::kEither)) return &row;
  }
  return nullptr;
}

bool AnyHeld(InputPlatform& p, uint8_t modifiers) {
  return ((modifiers & kAlt) != 0 && Held(p, w32::VK_MENU)) || ((modifiers & kCtrl) != 0 && Held(p, w32::VK_CONTROL)) ||
         ((modifiers & kShift) != 0 && Held(p, w32::VK_SHIFT));
}

// The composition decides: committed with the key re-sent, or left alone.
Outcome CommitIfConverted(HookCall& k, InputContext& context, const ResendRow& row) {
  Composition c = ReadComposition(k, context, true);
  if (c.n <= 0 || !CommitTest(k, c, row.clause)) return Outcome::kPassOn;
  CommitAndResend(k, context, row.word);
  return Outcome::kSwallow;
}

Outcome PlainScheme(HookCall& k, const ResendRow& row) {
  InputPlatform& p = k.platform;
  Hwnd window = p.GetFocus();
  if (IsNull(window)) return Outcome::kPassOn;
  InputContext context(p, window);
  if (!context.Open() || OakFamilyIme(p, k.storage)) return Outcome::kPassOn;
  return CommitIfConverted(k, context, row);
}

// A GlobalAlloc block that is freed whichever way the keystroke leaves:
// before the input context is released, when declared after it.
class GlobalBlock {
 public:
  GlobalBlock(InputPlatform& p, uint32_t flags, size_t bytes) : p_(p), handle_(p.GlobalAlloc(flags, bytes)) {}
  ~GlobalBlock() {
    if (!IsNull(handle_)) p_.GlobalFree(handle_);
  }
  GlobalBlock(const GlobalBlock&) = delete;
  GlobalBlock& operator=(const GlobalBlock&) = delete;

  bool allocated() const { return !IsNull(handle_); }
  void* Lock() { return p_.GlobalLock(handle_); }

 private:
  InputPlatform& p_;
  Hglobal handle_;
};

// The fixed fields of a candidate list, up to its first offset: a list
// reported smaller than this has no count to read.
constexpr int32_t kCandidateListHeader = static_cast<int32_t>(offsetof(CandidateList, dwOffset));

// Keys that would pick a candidate while the IME offers some commit only
// while it offers none.
Outcome CandidateListScheme(HookCall& k, const ResendRow& row) {
  InputPlatform& p = k.platform;
  Hwnd window = p.GetFocus();
  if (IsNull(window)) return Outcome::kPassOn;
  InputContext context(p, window);
  if (!context.Open()) return Outcome::kPassOn;
  // Here an IME that cannot be named might be one that uses these keys
  // among its candidates: the key is left to it.
  if (!ReadImeFileName(p, k.storage.imeFileName) || IsOakFamilyIme(k.storage.imeFileName)) return Outcome::kPassOn;

  auto size = static_cast<int32_t>(p.ImmGetCandidateListA(context.handle(), 0, nullptr, 0));
  if (size >= kCandidateListHeader) {
    GlobalBlock block(p, w32::GHND, static_cast<size_t>(size));
    if (!block.allocated()) return Outcome::kPassOn;
    auto* list = static_cast<CandidateList*>(block.Lock());
    if (list == nullptr) return Outcome::kPassOn;
    p.ImmGetCandidateListA(context.handle(), 0, list, static_cast<uint32_t>(size));
    if (list->dwCount != 0) return Outcome::kPassOn;  // the IME is offering candidates
    return CommitIfConverted(k, context, row);  // the block is freed, then the context released
  }

  // No list, or one too small to hold a count: as for the plain scheme.
  return CommitIfConverted(k, context, row);
}

Outcome ResendKey(HookCall& k, CommitKey key) {
  Writing writing = k.On(kKakuteiTategaki) ? Writing::kVertical : Writing::kHorizontal;
  const ResendRow* row = RowFor(key, writing);
  if (row == nullptr) return Outcome::kPassOn;
  // A key-up under these modifiers passes too; what it is owed waits for
  // the next key-up of its row.
  if (AnyHeld(k.platform, row->passOnWith)) return Outcome::kPassOn;
  if (k.up) return OwedKeyUp(k, row->word);
  return row->scheme == Scheme::kPlain ? PlainScheme(k, *row) : CandidateListScheme(k, *row);
}

// --- Keys that only commit --------------------------------------------------

// What the IME's conversion mode must not be for the key to commit: the
// mode key would switch nothing.
enum class ModeGate {
  kNone,
  kKanaOrKatakana,   // alphanumeric key: only from kana or katakana
  kNotKatakana,      // katakana key: not already in katakana
  kNotHiraganaOnly,  // hiragana key: not already in hiragana
};

enum class CommitWhen {
  kStandard,             // the commit test
  kAsTypedOrNumeric,     // a converted composition is the IME's to cancel
  kConvertedOrAsTyped,   // no numeric test
  kConvertedOnly,        // held-back katakana is what the key makes anyway
  kComposingAndAsTyped,  // any composition, held back as typed
};

struct CommitOnlyRow {
  CommitKey key;
  ModeGate gate;
  CommitWhen when;
  bool clearsNumeric;  // numericComposition := 0 after committing
};

constexpr CommitOnlyRow kCommitOnlyRows[] = {
    {CommitKey::kPauseLock, ModeGate::kNone, CommitWhen::kStandard, true},
    {CommitKey::kEsc, ModeGate::kNone, CommitWhen::kAsTypedOrNumeric, false},
    {CommitKey::kAlphanumeric, ModeGate::kKanaOrKatakana, CommitWhen::kConvertedOrAsTyped, false},
    {CommitKey::kKatakana, ModeGate::kNotKatakana, CommitWhen::kConvertedOnly, false},
    {CommitKey::kHiragana, ModeGate::kNotHiraganaOnly, CommitWhen::kConvertedOrAsTyped, false},
    {CommitKey::kHalfFullWidth, ModeGate::kNone, CommitWhen::kComposingAndAsTyped, false},
};

bool GateOpen(ModeGate gate, uint32_t mode) {
  constexpr uint32_t kKana = w32::IME_CMODE_NATIVE;
  constexpr uint32_t kKatakana = w32::IME_CMODE_NATIVE | w32::IME_CMODE_KATAKANA;
  switch (gate) {
    case ModeGate::kNone:
      return true;
    case ModeGate::kKanaOrKatakana:
      return (mode & (w32::IME_CMODE_NATIVE | w32::IME_CMODE_KATAKANA)) != 0;
    case ModeGate::kNotKatakana:
      return (mode & kKatakana) != kKatakana;
    case ModeGate::kNotHiraganaOnly:
      return (mode & kKatakana) != kKana;
  }
  return false;
}

bool Commits(HookCall& k, const Composition& c, CommitWhen when) {
  bool asTyped = k.words().heldBack.Held();
  switch (when) {
    case CommitWhen::kStandard:
      return CommitTest(k, c, ClauseRule::kFullyConverted);
    case CommitWhen::kAsTypedOrNumeric:
      return asTyped || c.numeric;
    case CommitWhen::kConvertedOrAsTyped:
      return c.fullyConverted || asTyped;
    case CommitWhen::kConvertedOnly:
      return c.fullyConverted;
    case CommitWhen::kComposingAndAsTyped:
      return asTyped;
  }
  return false;
}

// Commits on key-down and lets the key go on to the IME either way.
Outcome CommitOnlyKey(HookCall& k, const CommitOnlyRow& row) {
  if (k.up) return Outcome::kPassOn;
  InputPlatform& p = k.platform;
  Hwnd window = p.GetFocus();
  if (IsNull(window)) return Outcome::kPassOn;
  InputContext context(p, window);
  if (!context.Open()) return Outcome::kPassOn;
  // The mode is tested as the call left it; a failed read leaves it 0.
  if (row.gate != ModeGate::kNone && !GateOpen(row.gate, context.ReadConversionStatus().conversion)) {
    return Outcome::kPassOn;
  }
  if (OakFamilyIme(p, k.storage)) return Outcome::kPassOn;

  bool numericTest = row.when == CommitWhen::kStandard || row.when == CommitWhen::kAsTypedOrNumeric;
  Composition c = ReadComposition(k, context, numericTest);
  if (c.n <= 0 || !Commits(k, c, row.when)) return Outcome::kPassOn;

  context.Complete();
  k.words().heldBack.LetGo();
  if (row.clearsNumeric) k.words().number.numericComposition = 0;
  return Outcome::kPassOn;
}

}  // namespace

Outcome CommitKeysStage(HookCall& k) {
  CommitKey key = Which(k);
  if (key == CommitKey::kNone) return Outcome::kPassOn;
  for (const CommitOnlyRow& row : kCommitOnlyRows) {
    if (row.key == key) return CommitOnlyKey(k, row);
  }
  return ResendKey(k, key);
}

}  // namespace tavik
