// The one block of state that every process holding the hook library sees.
#pragma once

#include <cstdint>

#include "common/settings.h"
#include "hook/platform.h"

namespace tavik {

// Each field is one naturally aligned word, read and written without locks by
// whichever thread takes a keystroke in whichever process. Nothing here may
// need a constructor: the Windows build stores it zero-filled in a section
// shared by every process.
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

// Each field is one naturally aligned word, read and written without locks by
// whichever thread takes a keystroke in whichever process. Nothing here may
// need a constructor: the Windows build stores it zero-filled in a section
// shared by every process.
struct HookSharedBlock {
  Hhook keyboardHook;
  Hhook messageHook;

  // The settings, in the order of the keys in the file; 0 or 1.
  int32_t flag[kSettingCount];

  RuntimeWords runtime;

  bool On(Setting s) const { return flag[s] == 1; }
};

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

// HookEnd: removes whichever hooks HookStart installed.
void HookEnd(InputPlatform& platform, HookSharedBlock& block);

}  // namespace tavik
