// The keyboard hook procedure: the first look at a keystroke, the stage
// table, and what Windows gets back.
#include "hook/recording_platform.h"
#include "hook/stage_table.h"

namespace tavik {

namespace {

intptr_t Stages(InputPlatform& platform, HookSharedBlock& block, ProcessVariables& process, int32_t code,
                uintptr_t wParam, intptr_t lParam, uint32_t rows) {
  if (LeftAlone(block, process)) return platform.CallNextHookEx(block.KeyboardHook(), code, wParam, lParam);
  HookCall k(platform, block, process, code, wParam, lParam);
  switch (RunStages(k, rows)) {
    case Outcome::kSwallow:
      return 1;
    case Outcome::kRewriteAndSwallow:
      platform.CallNextHookEx(block.KeyboardHook(), code, k.rewrittenWParam, k.rewrittenLParam);
      return 1;
    case Outcome::kPassOn:
      break;
  }
  return platform.CallNextHookEx(block.KeyboardHook(), code, wParam, lParam);
}

// Most keystrokes are no stage's: they go on before anything is read or the
// per-call record is built, whatever the settings. In a program to leave
// alone every keystroke goes on so; only those a stage would take need
// asking which program this is.
inline intptr_t FirstLook(InputPlatform& platform, HookSharedBlock& block, ProcessVariables& process, int32_t code,
                          uintptr_t wParam, intptr_t lParam) {
  uint32_t rows = RowsClaiming(wParam, lParam);
  if (rows == 0) return platform.CallNextHookEx(block.KeyboardHook(), code, wParam, lParam);
  return Stages(platform, block, process, code, wParam, lParam, rows);
}

intptr_t AfterCode(InputPlatform& platform, HookSharedBlock& block, ProcessVariables& process, int32_t code,
                   uintptr_t wParam, intptr_t lParam) {
  if (block.inFlight.count != 0 && SentBehindOurs(platform, block, code, wParam, lParam)) return 1;
  return FirstLook(platform, block, process, code, wParam, lParam);
}

// While recording: the same steps, on a platform that records each call,
// for every keystroke that reaches a stage or the typed-order step; the rest
// are only counted.
intptr_t Recorded(RecordingBlock& ring, InputPlatform& platform, HookSharedBlock& block, ProcessVariables& process,
                  int32_t code, uintptr_t wParam, intptr_t lParam) {
  if (code < 0 || LeftAlone(block, process) || (block.inFlight.count == 0 && RowsClaiming(wParam, lParam) == 0)) {
    CountPassedOn(ring);
    return platform.CallNextHookEx(block.KeyboardHook(), code, wParam, lParam);
  }
  SlotWriter record(ring, RecordKind::kKeystroke, block, process, code, wParam, lParam, 0);
  if (!record.taken()) return AfterCode(platform, block, process, code, wParam, lParam);
  RecordingPlatform recording(platform, record);
  intptr_t result = AfterCode(recording, block, process, code, wParam, lParam);
  record.End(result);
  return result;
}

// A code below 0, something the library sent still out, or recording on:
// kept off the common path, which then needs one test for all. A program
// left alone sends nothing behind ours either.
[[gnu::noinline]] intptr_t Uncommon(InputPlatform& platform, HookSharedBlock& block, ProcessVariables& process,
                                    int32_t code, uintptr_t wParam, intptr_t lParam) {
  if (RecordingBlock* ring = RecordingRing(block, process)) {
    return Recorded(*ring, platform, block, process, code, wParam, lParam);
  }
  if (code < 0 || LeftAlone(block, process)) return platform.CallNextHookEx(block.KeyboardHook(), code, wParam, lParam);
  return AfterCode(platform, block, process, code, wParam, lParam);
}

}  // namespace

intptr_t KeyboardProcedure(InputPlatform& platform, HookSharedBlock& block, ProcessVariables& process, int32_t code,
                           uintptr_t wParam, intptr_t lParam) {
  if (code < 0 || (block.inFlight.count | block.recordingSession) != 0) return Uncommon(platform, block, process, code, wParam, lParam);
  return FirstLook(platform, block, process, code, wParam, lParam);
}

intptr_t KeyboardProcedureWithoutFirstLook(InputPlatform& platform, HookSharedBlock& block, ProcessVariables& process,
                                           int32_t code, uintptr_t wParam, intptr_t lParam) {
  return Stages(platform, block, process, code, wParam, lParam, RowsClaiming(wParam, lParam));
}

}  // namespace tavik
