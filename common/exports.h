// What the tray program and its helper call in the hook library beyond
// HookStart and HookEnd: the release of owed key-ups, and its argument.
#pragma once

#include <cstdint>

namespace tavik {

// unsigned HookReleaseOwedKeys(unsigned releasable): pays the owed key-ups
// among `releasable` whose typed key is up, and returns those found so.
inline constexpr const char kReleaseExportName[] = "HookReleaseOwedKeys";
// Every word that owes a key-up (the library knows which words those are).
inline constexpr uint32_t kAllOwed = 0x7FFFFFFFu;
// With it, typed keys still down are paid too: the hooks are ending, and
// their key-ups will find no library to pay them.
inline constexpr uint32_t kEvenIfHeld = 0x80000000u;

}  // namespace tavik
