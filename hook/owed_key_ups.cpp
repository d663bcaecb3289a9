// Owed key-ups whose typed key's own key-up will not come through the hook:
// it went to a window the library is not loaded in (an elevated program, the
// UAC prompt or the lock screen on the secure desktop), the session was
// locked or the machine slept while the key was held, or the library's
// hooks ended in between. The synthetic key would stay down for the whole
// system; the tray program and its helper pay such key-ups through here.
#include "hook/stages.h"

namespace tavik {

uint32_t OwedWordBits() {
  constexpr uint32_t kCancel = offsetof(RuntimeWords, cancelKey) / 4;
  constexpr uint32_t kBackspace =
      (offsetof(RuntimeWords, romajiBackspace) + offsetof(RomajiBackspaceWords, backspaceSubstituted)) / 4;
  constexpr uint32_t kOwed = offsetof(RuntimeWords, owed) / 4;
  constexpr uint32_t kOwedCount = sizeof(OwedKeyUps) / 4;
  return 1u << kCancel | 1u << kBackspace | ((1u << kOwedCount) - 1) << kOwed;
}

uint32_t ReleaseOwedKeyUps(InputPlatform& platform, HookSharedBlock& block, uint32_t releasable) {
  auto* words = reinterpret_cast<int32_t*>(&block.runtime);
  uint32_t owedWords = OwedWordBits();
  uint32_t found = 0;
  for (int i = 0; i < kRuntimeWordCount; ++i) {
    uint32_t bit = 1u << i;
    if ((owedWords & bit) == 0 || std::atomic_ref<int32_t>(words[i]).load() != 1) continue;
    // While the typed key is down its own key-up is still to come.
    uint32_t typed = block.owedKeys.typedVk[i];
    if ((releasable & kEvenIfHeld) == 0 && typed != 0 && Held(platform, typed)) continue;
    found |= bit;
    if ((releasable & bit) == 0 || !Settle(words[i])) continue;
    uint32_t keyUp = block.owedKeys.keyUp[i];
    if ((keyUp & 0xFF) != 0) platform.keybd_event(keyUp & 0xFF, (keyUp >> 8) & 0xFF, keyUp >> 16, 0);
  }
  return found;
}

}  // namespace tavik
