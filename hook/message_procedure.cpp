// The composition message hook: while a conversion key is held on katakana
// held back as typed, the IME's conversion is undone as soon as the
// application retrieves the message that reports it, so the katakana
// survives until the key-up commits it.
#include "hook/recording_platform.h"
#include "hook/stages.h"

namespace tavik {

namespace {

intptr_t Reverting(InputPlatform& platform, HookSharedBlock& block, ProcessVariables& process, int32_t code,
                   uintptr_t wParam, intptr_t lParam, uint32_t message) {
  if (code >= 0 && block.On(kKakuteiInput) && block.runtime.conversionKeys.revertOnComposition == 1 &&
      message == w32::WM_IME_COMPOSITION && !LeftAlone(block, process)) {
    // The focused window's IME, whichever window the message is for.
    Hwnd window = platform.GetFocus();
    if (!IsNull(window)) {
      InputContext context(platform, window);
      if (context.Open()) platform.ImmNotifyIME(context.handle(), w32::NI_COMPOSITIONSTR, w32::CPS_REVERT, 0);
    }
  }
  return platform.CallNextHookEx(block.MessageHook(), code, wParam, lParam);
}

// While recording: the IME's composition messages are recorded (the only
// ones on which the procedure does more than pass the message on); every
// other message of every thread would flood the ring, and is only counted.
[[gnu::noinline]] intptr_t Recorded(RecordingBlock& ring, InputPlatform& platform, HookSharedBlock& block,
                                    ProcessVariables& process, int32_t code, uintptr_t wParam, intptr_t lParam,
                                    uint32_t message) {
  if (code < 0 || message < w32::WM_IME_STARTCOMPOSITION || message > w32::WM_IME_COMPOSITION) {
    CountPassedOn(ring);
    return Reverting(platform, block, process, code, wParam, lParam, message);
  }
  // lParam points into the process: the record keeps the message number instead.
  SlotWriter record(ring, RecordKind::kMessage, block, process, code, wParam, 0, message);
  if (!record.taken()) return Reverting(platform, block, process, code, wParam, lParam, message);
  RecordingPlatform recording(platform, record);
  intptr_t result = Reverting(recording, block, process, code, wParam, lParam, message);
  record.End(result);
  return result;
}

}  // namespace

intptr_t MessageProcedure(InputPlatform& platform, HookSharedBlock& block, ProcessVariables& process, int32_t code,
                          uintptr_t wParam, intptr_t lParam, uint32_t message) {
  if (block.recordingSession != 0) {
    if (RecordingBlock* ring = RecordingRing(block, process)) {
      return Recorded(*ring, platform, block, process, code, wParam, lParam, message);
    }
  }
  return Reverting(platform, block, process, code, wParam, lParam, message);
}

intptr_t MessageProcedure(InputPlatform& platform, HookSharedBlock& block, int32_t code, uintptr_t wParam,
                          intptr_t lParam, uint32_t message) {
  // A program with no name of its own: none to leave alone.
  ProcessVariables nameless;
  return Reverting(platform, block, nameless, code, wParam, lParam, message);
}

}  // namespace tavik
