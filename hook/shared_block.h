// The one block of state that every process holding the hook library sees.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "common/exports.h"
#include "common/settings.h"
#include "hook/platform.h"

namespace tavik {

// What the stages remember between keystrokes, grouped by the stage that
// owns each word. Every word is 0 or 1 and 32 bits wide in both bitnesses.
// HookStart clears them all in one statement; a new word is one line in its
// group and one in kRuntimeWords below.

// The cancel key: its substitute Esc is down, and its key-up is owed.
struct CancelKeyWords {
  int32_t escDown;
};

// The romaji backspace: the user's left Shift is down; the Backspace it
// typed instead of the comma is down.
struct RomajiBackspaceWords {
  int32_t leftShiftDown;
  int32_t backspaceSubstituted;
};

// The commit keys: a key re-sent behind a commit is down, and its key-up is
// owed to the next key-up of the key it stands for. One word per key, or per
// pair of keys that move the same way.
struct OwedKeyUps {
  int32_t spaceResent;
  int32_t enterResent;
  int32_t backwardKeyResent;
  int32_t forwardKeyResent;
  int32_t lineKeyResent;
  int32_t homeEndResent;
  int32_t pageKeyResent;
  int32_t tabResent;
  int32_t insertDeleteResent;
  int32_t backspaceResent;
};

// Direct commit input's held-back katakana: a katakana composition that a
// voicing mark typed next could still change waits (commitAsTyped), and the
// next key decides; the commit keys, the closing keys and the conversion
// keys commit it as typed. Every commit of the composition lets it go.
struct HeldBackKatakana {
  int32_t commitAsTyped;
  int32_t katakanaRecheck;

  bool Held() const { return commitAsTyped == 1; }
  // Kana input: a voicing mark may still follow as a key of its own.
  void Hold() {
    commitAsTyped = 1;
    katakanaRecheck = 0;
  }
  // The words as a direct commit rule leaves them; -1 keeps a word as it is.
  void Set(int32_t asTyped, int32_t recheck) {
    if (asTyped >= 0) commitAsTyped = asTyped;
    if (recheck >= 0) katakanaRecheck = recheck;
  }
  // The composition was committed, or there is none to hold back.
  void LetGo() {
    commitAsTyped = 0;
    katakanaRecheck = 0;
  }
};

// The conversion keys on held-back katakana: the message hook undoes the
// IME's conversion while revertOnComposition is set; a commit arms a second
// press for a short while.
struct ConversionKeyWords {
  int32_t revertOnComposition;
  int32_t conversionKeyArmed;

  void Disarm() {
    revertOnComposition = 0;
    conversionKeyArmed = 0;
  }
};

// The commit test's numeric composition (NUMBER KAKUTEI): the last
// composition read was a full-width number.
struct NumericCompositionWord {
  int32_t numericComposition;
};

struct RuntimeWords {
  CancelKeyWords cancelKey;
  RomajiBackspaceWords romajiBackspace;
  OwedKeyUps owed;
  HeldBackKatakana heldBack;
  ConversionKeyWords conversionKeys;
  NumericCompositionWord number;
};

inline constexpr int kRuntimeWordCount = sizeof(RuntimeWords) / sizeof(int32_t);

// What an owed key-up is, for each word that owes one: the key-up to send,
// and the virtual key of the typed key whose own key-up pays it. Written
// before the word is set, so whoever finds the word set finds them too.
// When the typed key's key-up goes where the library is not loaded (an
// elevated program, the secure desktop), the tray program pays it instead.
struct OwedKeyDetails {
  uint32_t keyUp[kRuntimeWordCount];    // vk | scan << 8 | keybd_event flags << 16, indexed as the words
  uint32_t typedVk[kRuntimeWordCount];
};

// The keystrokes the library sent that have not come back through the hook
// yet, oldest first. The input queue keeps its order, so while one is out a
// keystroke that is none of them was typed before it, and is sent again
// behind it: the application then gets the keys in the order typed however
// far it lags behind the keyboard. A keystroke is told by its virtual key,
// scan key and direction; two keystrokes alike in all three are the same
// keystroke to the application, whichever of them it gets first.
struct SendsInFlight {
  static constexpr uint32_t kSize = 8;
  uint32_t key[kSize];  // Packed(), from `first` on, `count` of them
  uint32_t first;
  uint32_t count;
  // Keystrokes sent behind ours since one of ours last came back. One of
  // ours that never comes back (sent to a window the library is not loaded
  // in, or dropped by another hook) must not keep the user's keys going
  // round for ever: at the limit, what is out is given up.
  uint32_t sentBehind;

  static constexpr uint32_t kMaxSentBehind = 256;

  static constexpr uint32_t Packed(uint32_t vk, uint32_t scanKey, bool up) {
    return (vk & 0xFFu) | (scanKey & 0x1FFu) << 8 | (up ? 1u << 17 : 0u);
  }
  // A send. The oldest is given up when there is no room.
  void Note(uint32_t packed) {
    if (count == kSize) {
      first = (first + 1) % kSize;
      --count;
    }
    key[(first + count) % kSize] = packed;
    ++count;
  }
  // Whether the keystroke is one of ours. When it is being removed from the
  // queue, it and any sent before it (which are not coming any more) are done.
  bool Returned(uint32_t packed, bool removed) {
    for (uint32_t i = 0; i < count; ++i) {
      if (key[(first + i) % kSize] != packed) continue;
      if (removed) {
        first = (first + i + 1) % kSize;
        count -= i + 1;
        sentBehind = 0;
      }
      return true;
    }
    return false;
  }
  void Clear() {
    first = 0;
    count = 0;
    sentBehind = 0;
  }
};

// The programs the library leaves alone, as HookStart last read them. Each
// process compares its own file name with them once a generation, and
// remembers the answer.
struct ProgramsLeftAlone {
  static constexpr uint32_t kSize = 1024;
  // Even; raised by 2 once the names are written, so that a process that
  // read them half-written reads them again.
  uint32_t generation;
  uint32_t reserved;
  char names[kSize];  // separated by kLeaveAloneSeparator, ended by a NUL; only whole names
};

// Clears an owed word; true when it was set. The library and the tray
// program both pay owed key-ups, so a word is cleared in one step that tells
// which of them found it set: only that one sends the key-up.
inline bool Settle(int32_t& word) { return std::atomic_ref<int32_t>(word).exchange(0) == 1; }

// The library's variables that each process has a copy of, unlike the
// shared block: what one process remembers of its own clock.
class RecordingSource;

struct ProcessVariables {
  int32_t armedTime = 0;  // conversion keys: clock() when the last commit armed them
  // The program's file name without its folder, read once when the library
  // is loaded into it; empty when it could not be read.
  char exeName[w32::MAX_PATH] = {};
  // The generation of ProgramsLeftAlone this program was last compared
  // with, plus 1 when it is among them.
  uint32_t leftAloneChecked = 0;
  // Where this process's records go while the block's recording word is
  // set (hook/recording_platform.h); null: this process never records.
  RecordingSource* recording = nullptr;
};

// Which of the two hook libraries this code is built into. On 64-bit Windows
// a hook library reaches only the programs of its own bitness, so tavik has
// one of each; they share one block.
inline constexpr int kLibraryCount = 2;
inline constexpr int kThisLibrary = sizeof(void*) == 8 ? 0 : 1;

// One library's hooks as its HookStart installed them. Each library installs,
// chains through and removes its own hooks, so each keeps its own pair; a
// window hook handle is a 32-bit value in either bitness, kept in a 64-bit
// word so that the block has one layout for both.
struct HookHandles {
  uint64_t keyboard;
  uint64_t message;
};

// Each field is one naturally aligned word, read and written without locks by
// whichever thread takes a keystroke in whichever process, 32-bit or 64-bit:
// the Windows build keeps it in a named block of memory that both libraries
// map, so a key pressed in a program of one bitness and released in one of
// the other finds what its press left. Nothing here may need a constructor,
// and the layout is fixed-width: no pointers, no pointer-sized words.
struct alignas(8) HookSharedBlock {
  HookHandles hooks[kLibraryCount];  // indexed by kThisLibrary

  // The settings, in the order of the keys in the file; 0 or 1.
  int32_t flag[kSettingCount];

  RuntimeWords runtime;
  SendsInFlight inFlight;
  OwedKeyDetails owedKeys;
  ProgramsLeftAlone leftAlone;

  // Nonzero while the tray program records: the session's number, so that a
  // process can tell a new recording block from the one it mapped before.
  uint32_t recordingSession;

  bool On(Setting s) const { return flag[s] == 1; }

  // This library's own hooks.
  Hhook KeyboardHook() const { return static_cast<Hhook>(static_cast<uintptr_t>(hooks[kThisLibrary].keyboard)); }
  Hhook MessageHook() const { return static_cast<Hhook>(static_cast<uintptr_t>(hooks[kThisLibrary].message)); }
  void SetKeyboardHook(Hhook h) { hooks[kThisLibrary].keyboard = static_cast<uintptr_t>(h); }
  void SetMessageHook(Hhook h) { hooks[kThisLibrary].message = static_cast<uintptr_t>(h); }
};

// The same layout in both libraries: every offset follows from the word sizes
// alone, whatever the compiler's alignment rules for the bitness.
static_assert(sizeof(HookHandles) == 16);
static_assert(offsetof(HookSharedBlock, hooks) == 0);
static_assert(offsetof(HookSharedBlock, flag) == kLibraryCount * sizeof(HookHandles));
static_assert(offsetof(HookSharedBlock, runtime) == offsetof(HookSharedBlock, flag) + 4 * kSettingCount);
static_assert(offsetof(HookSharedBlock, inFlight) == offsetof(HookSharedBlock, runtime) + sizeof(RuntimeWords));
static_assert(sizeof(SendsInFlight) == 4 * (SendsInFlight::kSize + 3));
static_assert(offsetof(HookSharedBlock, owedKeys) == offsetof(HookSharedBlock, inFlight) + sizeof(SendsInFlight));
static_assert(offsetof(HookSharedBlock, leftAlone) == offsetof(HookSharedBlock, owedKeys) + sizeof(OwedKeyDetails));
static_assert(offsetof(HookSharedBlock, recordingSession) ==
              offsetof(HookSharedBlock, leftAlone) + sizeof(ProgramsLeftAlone));
static_assert(sizeof(HookSharedBlock) == (offsetof(HookSharedBlock, recordingSession) + 4 + 7) / 8 * 8);

// The name under which both libraries open the block on Windows.
inline constexpr char kSharedBlockName[] = "Local\\tavik-shared-block";

// The runtime words by name, for tools that show or set them, in the order
// of the block.
struct RuntimeWordName {
  const char* name;
  int32_t& (*word)(RuntimeWords&);
};

#define TAVIK_WORD(name, path) {name, [](RuntimeWords& w) -> int32_t& { return w.path; }}
inline constexpr RuntimeWordName kRuntimeWords[] = {
    TAVIK_WORD("cancelEscDown", cancelKey.escDown),
    TAVIK_WORD("leftShiftDown", romajiBackspace.leftShiftDown),
    TAVIK_WORD("backspaceSubstituted", romajiBackspace.backspaceSubstituted),
    TAVIK_WORD("spaceResent", owed.spaceResent),
    TAVIK_WORD("enterResent", owed.enterResent),
    TAVIK_WORD("backwardKeyResent", owed.backwardKeyResent),
    TAVIK_WORD("forwardKeyResent", owed.forwardKeyResent),
    TAVIK_WORD("lineKeyResent", owed.lineKeyResent),
    TAVIK_WORD("homeEndResent", owed.homeEndResent),
    TAVIK_WORD("pageKeyResent", owed.pageKeyResent),
    TAVIK_WORD("tabResent", owed.tabResent),
    TAVIK_WORD("insertDeleteResent", owed.insertDeleteResent),
    TAVIK_WORD("backspaceResent", owed.backspaceResent),
    TAVIK_WORD("commitAsTyped", heldBack.commitAsTyped),
    TAVIK_WORD("katakanaRecheck", heldBack.katakanaRecheck),
    TAVIK_WORD("revertOnComposition", conversionKeys.revertOnComposition),
    TAVIK_WORD("conversionKeyArmed", conversionKeys.conversionKeyArmed),
    TAVIK_WORD("numericComposition", number.numericComposition),
};
#undef TAVIK_WORD
static_assert(sizeof kRuntimeWords / sizeof kRuntimeWords[0] == sizeof(RuntimeWords) / sizeof(int32_t),
              "every runtime word has its name");

// HookStart: reads every flag from the settings file, clears the runtime
// words, installs the keyboard hook and, for direct commit input, the message
// hook. Returns the message hook's handle when it was asked for, else 0.
int32_t HookStart(InputPlatform& platform, HookSharedBlock& block, Hinstance module, HookProc keyboardProc,
                  HookProc messageProc);

// The same, leaving a settings record while the block's recording word is set.
int32_t HookStart(InputPlatform& platform, HookSharedBlock& block, ProcessVariables& process, Hinstance module,
                  HookProc keyboardProc, HookProc messageProc);

// Reads the programs to leave alone into the block, keeping the whole names
// that fit (HookStart).
void ReadProgramsLeftAlone(InputPlatform& platform, HookSharedBlock& block);

// Compares this program's name with the programs to leave alone of
// `generation`, and remembers the answer.
bool CompareWithProgramsLeftAlone(const HookSharedBlock& block, ProcessVariables& process, uint32_t generation);

// Whether this program is one to leave alone: compared once a generation,
// remembered after.
inline bool LeftAlone(const HookSharedBlock& block, ProcessVariables& process) {
  uint32_t generation =
      std::atomic_ref<uint32_t>(const_cast<uint32_t&>(block.leftAlone.generation)).load(std::memory_order_acquire);
  if (((process.leftAloneChecked ^ generation) | 1u) != 1u) {
    return CompareWithProgramsLeftAlone(block, process, generation);
  }
  return (process.leftAloneChecked & 1u) != 0;
}

// HookEnd: removes whichever hooks this library's HookStart installed.
void HookEnd(InputPlatform& platform, HookSharedBlock& block);

// The words that owe a key-up, as bits of their index in RuntimeWords.
uint32_t OwedWordBits();

// Sends every owed key-up whose typed key is no longer down, among the words
// in `releasable` (bits as OwedWordBits; kEvenIfHeld: typed keys down too),
// and clears its word; a word the library's own key-up path clears at the
// same moment is paid by one side only. Returns the owed words found with
// their typed key up, released or not: a caller that acts only on what it
// has seen twice passes back what it got the time before.
uint32_t ReleaseOwedKeyUps(InputPlatform& platform, HookSharedBlock& block, uint32_t releasable);

}  // namespace tavik
