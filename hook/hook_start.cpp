#include "hook/recording_platform.h"
#include "hook/shared_block.h"

namespace tavik {

int32_t HookStart(InputPlatform& platform, HookSharedBlock& block, Hinstance module, HookProc keyboardProc,
                  HookProc messageProc) {
  // Each flag is stored before the next key is read, so a process that takes
  // a keystroke meanwhile sees every flag either old or new, never torn.
  for (int i = 0; i < kSettingCount; ++i) {
    char value[256] = {};
    platform.GetPrivateProfileStringA(kSettingsSection, kSettingKeys[i].name, kSettingKeys[i].defaultValue, value,
                                      sizeof value, kSettingsFile);
    value[sizeof value - 1] = '\0';
    block.flag[i] = SettingFlagFromText(value);
  }
  ReadProgramsLeftAlone(platform, block);

  // A key whose key-up never came (the focus left, the hook was removed)
  // must not keep its substitute pressed into the new session.
  block.runtime = RuntimeWords{};
  block.inFlight.Clear();

  block.SetKeyboardHook(platform.SetWindowsHookExA(w32::WH_KEYBOARD, keyboardProc, module, 0));

  if (block.On(kKakuteiInput)) {
    block.SetMessageHook(platform.SetWindowsHookExA(w32::WH_GETMESSAGE, messageProc, module, 0));
    // Window hook handles are 32-bit values even in 64-bit processes.
    return static_cast<int32_t>(static_cast<uintptr_t>(block.MessageHook()));
  }
  return 0;
}

int32_t HookStart(InputPlatform& platform, HookSharedBlock& block, ProcessVariables& process, Hinstance module,
                  HookProc keyboardProc, HookProc messageProc) {
  int32_t result = HookStart(platform, block, module, keyboardProc, messageProc);
  // A recording shows which settings each later keystroke ran with.
  RecordSettings(block, process);
  return result;
}

void HookEnd(InputPlatform& platform, HookSharedBlock& block) {
  platform.UnhookWindowsHookEx(block.KeyboardHook());
  block.SetKeyboardHook(Hhook{});
  if (!IsNull(block.MessageHook())) {
    platform.UnhookWindowsHookEx(block.MessageHook());
    block.SetMessageHook(Hhook{});
  }
}

}  // namespace tavik
