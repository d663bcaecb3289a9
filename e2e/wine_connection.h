// The driver's connection to the real desktop under Wine: the shared block
// it keeps with the target program and the test IME, the hook library as
// the tray program loads it, and the target programs it types into. Before
// any scenario runs, it checks that the test IME and the target do what
// the scenarios rely on.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "hook/shared_block.h"
#include "sim/desktop_events.h"
#include "sim/keys.h"
#include "sim/scenario_desktop.h"
// After the portable headers: <windows.h> defines some of their names as macros.
#include "e2e/e2e_shared.h"
#include "e2e/hosts.h"

namespace tavik::e2e {

// F24: no stage has any use for it. Typed after keystrokes, it shows when
// the target has taken them.
inline constexpr sim::KeyId kSentinel{0x87, 0x76};

// What the test IME was told since its record's entry `from`.
std::vector<sim::ImeTold> ImeToldSince(const Shared& s, uint32_t from);

class WineConnection {
 public:
  // Loads the library, starts the target and checks the test IME and the
  // target; false, with why, when any of it fails.
  bool Start(const std::string& dllPath, const std::string& imePath, const std::string& targetPath, std::string& why);
  void Stop();

  Shared& shared() { return *shared_; }
  bool started() const { return started_; }
  // The program the keystrokes and IME arrangements go to, and its layout.
  Targets& targets() { return targets_; }

  LRESULT Tell(TargetCommand command, WPARAM wParam = 0, LPARAM lParam = 0) {
    return TellTarget(targets_.window(), command, wParam, lParam);
  }

  // The target's state once it has handled every message posted to it so
  // far (the IME posts its composition messages), with the text of one of
  // its edit controls (as kCmdFocus names them).
  void Snapshot(WPARAM textOf = 1);

  // An edit control's text and caret, as the target reads them.
  sim::AppText Text(WPARAM window);

  // The text of an edit control, with the caret at `caret` characters (-1:
  // after the text).
  void SetText(WPARAM window, const std::string& text, LPARAM caret = -1);

  void HookStartNow() {
    hookStart_();
    started_ = true;
  }
  void HookEndNow() {
    if (hookEnd_ != nullptr) hookEnd_();
    started_ = false;
  }

  // The library's shared block, as this process maps it.
  HookSharedBlock& block() { return *block_; }

  // Types the keystrokes and waits until the target has taken them and
  // whatever they made the hook send.
  bool Type(const std::vector<std::pair<sim::KeyId, bool>>& keys, std::string& why);

  // Types a burst at full speed: the target holds still until every
  // keystroke of it is in its queue, so that what the hook sends meanwhile
  // goes behind the last of them, then takes them as fast as it can. The
  // simulated desktop's Burst does the same.
  bool Burst(const std::vector<std::pair<sim::KeyId, bool>>& keys, std::string& why);

 private:
  bool Settle(std::string& why);
  bool CheckIme(std::string& why);
  bool CheckConversion(std::string& why);
  bool CheckLayouts(std::string& why);
  bool CheckImeFromHook(std::string& why);
  bool SentinelUpAfter(uint32_t from) const;
  bool LoadHookLibrary(std::string& why);

  std::string dllPath_;
  HANDLE mapping_ = nullptr;
  HANDLE held_ = nullptr;
  HANDLE release_ = nullptr;
  Shared* shared_ = nullptr;
  Targets targets_;
  HMODULE hookLibrary_ = nullptr;
  HANDLE blockMapping_ = nullptr;
  HookSharedBlock* block_ = nullptr;
  int (*hookStart_)() = nullptr;
  void (*hookEnd_)() = nullptr;
  bool started_ = false;
  uint32_t syncSeq_ = 0;
};

}  // namespace tavik::e2e
