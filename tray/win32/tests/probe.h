// What the behaviour tests learn from inside tavik.exe. Under Wine a menu
// handle means nothing outside the process that made it, and a window's
// last moment cannot be watched from outside, so the tests put a hook
// library of their own (tavik-probe.dll) on tavik's thread; it answers
// through this block of named shared memory.
#pragma once

#include <cstdint>

namespace tavik::behaviour {

inline constexpr const char kProbeBlockName[] = "tavik-behaviour-probe";
// Sent to any window of tavik's thread: the probe reads the menu in
// ProbeBlock::menu.
inline constexpr const char kReadMenuMessage[] = "tavik-behaviour-read-menu";

// The tray menu's commands: settings, About, exit.
inline constexpr uint32_t kMenuIds[3] = {32773, 32772, 32771};

struct ProbeBlock {
  // Menu reading: the test sets `menu` and sends the message; the probe
  // fills `states` (GetMenuState, 0xFFFFFFFF when it fails) and counts.
  uint64_t menu;
  uint32_t states[3];
  volatile uint32_t menuReads;

  // The hidden window's WM_DESTROY, seen after its window procedure has
  // run, while the window still exists.
  uint64_t watchWindow;
  volatile uint32_t destroySeen;
  int32_t iconAtDestroy;     // Shell_NotifyIcon(NIM_MODIFY) on its icon succeeded
  int32_t libraryAtDestroy;  // tavikhook.dll was still loaded
};

}  // namespace tavik::behaviour
