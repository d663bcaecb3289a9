// Windows reports an IME's bare file name ("XXXX.IME"), Wine its full path.
// The family tests look at fixed positions of the bare name, so the Win32
// layer moves the part after the last backslash to the front.
#pragma once

#include <cstdint>

namespace tavik {

// `name` holds `length` characters as ImmGetIMEFileNameA reported them, in a
// buffer of `size` bytes. Returns the bare name's length, terminated in
// place; a name without a backslash is left as it is.
inline uint32_t BareFileName(uint32_t length, char* name, uint32_t size) {
  if (length == 0 || name == nullptr || size == 0) return length;
  uint32_t end = length < size ? length : size - 1;
  uint32_t start = 0;
  for (uint32_t i = 0; i < end; ++i) {
    if (name[i] == '\\') start = i + 1;
  }
  if (start == 0) return length;
  for (uint32_t i = start; i < end; ++i) name[i - start] = name[i];
  name[end - start] = '\0';
  return end - start;
}

}  // namespace tavik
