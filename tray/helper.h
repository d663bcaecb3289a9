// The 32-bit helper: on 64-bit Windows a hook library reaches only the
// programs of its own bitness, so the 64-bit tray program starts tavik32.exe
// from its own folder, which loads tavikhook32.dll and runs its HookStart and
// HookEnd as the tray program runs tavikhook.dll's. What both programs agree
// on is here: the helper's command line, the thread messages the tray
// program posts it, and the exit codes with which it says why it could not
// start.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavik::tray {

inline constexpr const char kHelperProgramName[] = "tavik32.exe";
inline constexpr const char kHookLibrary32Name[] = "tavikhook32.dll";

// Posted to the helper's main thread.
inline constexpr uint32_t kWmApp = 0x8000;
inline constexpr uint32_t WM_HELPER_RESTART = kWmApp + 1;  // HookEnd, HookStart, and ready again
inline constexpr uint32_t WM_HELPER_END = kWmApp + 2;      // HookEnd, and end

// The helper's exit codes.
enum HelperExit : uint32_t {
  kHelperEnded = 0,           // told to end, or the tray program ended
  kHelperBadCommandLine = 1,  // not started by the tray program
  kHelperNoLibrary = 2,       // tavikhook32.dll did not load
  kHelperNoExport = 3,        // it lacks HookStart or HookEnd
};

// The helper's command line: its own quoted path, then two handles it
// inherits from the tray program, in decimal: the tray program's process
// (the helper ends with it) and the event the helper sets once its hooks are
// started. False when `size` is too small.
bool FormatHelperCommandLine(char* out, size_t size, const char* helperPath, uintptr_t trayProcess,
                             uintptr_t readyEvent);

// The two handles from a whole command line as Windows hands it to the
// helper (its path first, quoted or not). False unless both are there,
// nonzero, and nothing else follows.
bool ParseHelperCommandLine(const char* commandLine, uintptr_t& trayProcess, uintptr_t& readyEvent);

// The folder part of a program's path, up to and including its last
// backslash, followed by `fileName`: the helper beside the tray program.
// False when the result does not fit (`size` includes the terminator).
bool BesideProgram(char* out, size_t size, const char* programPath, const char* fileName);

}  // namespace tavik::tray
