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
struct HookSharedBlock {
  Hhook keyboardHook;
  Hhook messageHook;

  // The settings, in the order of the keys in the file; 0 or 1.
  int32_t flag[kSettingCount];

  // Runtime words, 0 or 1. HookStart clears them all.
  int32_t cancelEscDown;
  int32_t leftShiftDown;
  int32_t backspaceSubstituted;
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
  int32_t commitAsTyped;
  int32_t katakanaRecheck;
  int32_t revertOnComposition;
  int32_t conversionKeyArmed;
  int32_t numericComposition;

  bool On(Setting s) const { return flag[s] == 1; }
};

// HookStart: reads every flag from the settings file, clears the runtime
// words, installs the keyboard hook and, for direct commit input, the message
// hook. Returns the message hook's handle when it was asked for, else 0.
int32_t HookStart(InputPlatform& platform, HookSharedBlock& block, Hinstance module, HookProc keyboardProc,
                  HookProc messageProc);

// HookEnd: removes whichever hooks HookStart installed.
void HookEnd(InputPlatform& platform, HookSharedBlock& block);

}  // namespace tavik
