// The one block of state that every process holding the hook library sees.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/settings.h"
#include "hook/platform.h"

namespace tavik {

// What the stages remember between keystrokes, each word 0 or 1 and named
// with the stage that owns it. HookStart clears them all in one statement;
// a new word is one line here and one in kRuntimeWords below.
struct RuntimeWords {
  int32_t cancelEscDown;         // cancel key: its substitute Esc is down
  int32_t leftShiftDown;         // romaji backspace: the left Shift key is down
  int32_t backspaceSubstituted;  // romaji backspace: its Backspace is down
  int32_t spaceResent;           // commit on Space
  int32_t enterResent;           // commit on Enter
  int32_t backwardKeyResent;     // commit on the cursor and editing keys, from here to backspaceResent
  int32_t forwardKeyResent;
  int32_t lineKeyResent;
  int32_t homeEndResent;
  int32_t pageKeyResent;
  int32_t tabResent;
  int32_t insertDeleteResent;
  int32_t backspaceResent;
  int32_t commitAsTyped;        // direct commit input: held-back katakana to commit as typed
  int32_t katakanaRecheck;      // direct commit input
  int32_t revertOnComposition;  // conversion keys and the message hook
  int32_t conversionKeyArmed;   // conversion keys
  int32_t numericComposition;   // commit on Enter and Space
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
static_assert(sizeof(HookSharedBlock) ==
              (offsetof(HookSharedBlock, runtime) + sizeof(RuntimeWords) + 7) / 8 * 8);

// The name under which both libraries open the block on Windows.
inline constexpr char kSharedBlockName[] = "Local\\tavik-shared-block";

// The runtime words by name, for tools that show or set them.
struct RuntimeWordName {
  const char* name;
  int32_t RuntimeWords::*word;
};

inline constexpr RuntimeWordName kRuntimeWords[] = {
    {"cancelEscDown", &RuntimeWords::cancelEscDown},
    {"leftShiftDown", &RuntimeWords::leftShiftDown},
    {"backspaceSubstituted", &RuntimeWords::backspaceSubstituted},
    {"spaceResent", &RuntimeWords::spaceResent},
    {"enterResent", &RuntimeWords::enterResent},
    {"backwardKeyResent", &RuntimeWords::backwardKeyResent},
    {"forwardKeyResent", &RuntimeWords::forwardKeyResent},
    {"lineKeyResent", &RuntimeWords::lineKeyResent},
    {"homeEndResent", &RuntimeWords::homeEndResent},
    {"pageKeyResent", &RuntimeWords::pageKeyResent},
    {"tabResent", &RuntimeWords::tabResent},
    {"insertDeleteResent", &RuntimeWords::insertDeleteResent},
    {"backspaceResent", &RuntimeWords::backspaceResent},
    {"commitAsTyped", &RuntimeWords::commitAsTyped},
    {"katakanaRecheck", &RuntimeWords::katakanaRecheck},
    {"revertOnComposition", &RuntimeWords::revertOnComposition},
    {"conversionKeyArmed", &RuntimeWords::conversionKeyArmed},
    {"numericComposition", &RuntimeWords::numericComposition},
};
static_assert(sizeof kRuntimeWords / sizeof kRuntimeWords[0] == sizeof(RuntimeWords) / sizeof(int32_t),
              "every runtime word has its name");

// HookStart: reads every flag from the settings file, clears the runtime
// words, installs the keyboard hook and, for direct commit input, the message
// hook. Returns the message hook's handle when it was asked for, else 0.
int32_t HookStart(InputPlatform& platform, HookSharedBlock& block, Hinstance module, HookProc keyboardProc,
                  HookProc messageProc);

// HookEnd: removes whichever hooks this library's HookStart installed.
void HookEnd(InputPlatform& platform, HookSharedBlock& block);

}  // namespace tavik
