// The Win32 layers' one conversion between a portable handle (an enum over
// uintptr_t) and the Win32 pointer type it stands for.
#pragma once

#include <cstdint>

namespace tavik {

template <typename To, typename From>
To Win32(From h) {
  return reinterpret_cast<To>(static_cast<uintptr_t>(h));
}

template <typename To, typename From>
To Portable(From h) {
  return static_cast<To>(reinterpret_cast<uintptr_t>(h));
}

}  // namespace tavik
