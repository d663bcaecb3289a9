// How the test desktops write what they saw: numbers, keys and bytes, the
// same way in the simulated desktop's trace, in the scenario reports of
// both desktops and in the Wine driver's own checks, so that a line from
// one can be set beside a line from the other.
//
// It lives in sim/ beside the scenario interpreter, which both builds
// compile from here: the Linux tree links it into tavik_sim, the mingw-w64
// tree compiles it into tavik-e2e with the interpreter. Only the standard
// library, so it builds as C++20 with either compiler.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace tavik::sim {

// "0" or "0x1B".
std::string Hex(uint64_t value);

// "-0x2", "0" or "0x1B".
std::string Signed(int64_t value);

// "a\"b", with \", \\, \n and \xNN escapes (bytes below 0x20 and from 0x7F up).
std::string Quoted(std::string_view bytes);

// A key as the hook sees it: "0xVV/0xSS", virtual-key code and scan key.
std::string KeyText(uint32_t vk, uint32_t scanKey);

// "82 A0 00", two hex digits a byte; `empty` when there are none.
std::string HexBytes(std::string_view bytes, std::string_view empty = "none");

// The pieces one after another. Appended rather than added up: g++ 12 at
// -O3 takes `"literal" + std::string(...)` for an overlapping copy
// (-Wrestrict) and fails the Release build.
inline std::string Cat(std::initializer_list<std::string_view> pieces) {
  std::string out;
  for (std::string_view p : pieces) out += p;
  return out;
}

}  // namespace tavik::sim
