// Keys in the order typed. A key a stage sends with keybd_event joins the
// end of the input queue, behind keys the user typed before it that the
// application has not taken yet (a busy editor, a fast typist): without
// this step the application would get "a" before the Space that a commit
// sent for the key typed before "a", and that Space could even convert what
// "a" began. So while something the library sent is out, a keystroke that
// is none of it is sent again behind it, with SendInput, and discarded
// here; it comes back in its place, in order, key-ups included, and goes
// through the stages then.
#include "hook/stages.h"

namespace tavik {

bool SentBehindOurs(InputPlatform& platform, HookSharedBlock& block, int32_t code, uintptr_t wParam, intptr_t lParam) {
  SendsInFlight& out = block.inFlight;
  uint32_t scanKey = ScanKeyOf(lParam);
  bool up = (static_cast<uint64_t>(lParam) & 0x80000000u) != 0;
  if (out.Returned(SendsInFlight::Packed(static_cast<uint32_t>(wParam), scanKey, up), code == w32::HC_ACTION)) {
    return false;
  }
  // A peek leaves the keystroke where it is; it moves when it is removed.
  if (code != w32::HC_ACTION) return false;
  if (out.sentBehind >= SendsInFlight::kMaxSentBehind) {
    out.Clear();
    return false;
  }
  KeybdInput input{static_cast<uint16_t>(wParam & 0xFFFF), static_cast<uint16_t>(scanKey & 0xFF),
                   ((scanKey & 0x100) != 0 ? w32::KEYEVENTF_EXTENDEDKEY : 0u) | (up ? w32::KEYEVENTF_KEYUP : 0u), 0, 0};
  // A keystroke that cannot be sent again is taken now: out of order, but not lost.
  if (platform.SendInput(1, &input) != 1) return false;
  ++out.sentBehind;
  return true;
}

}  // namespace tavik
