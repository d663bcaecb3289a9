// Text in scenario files is UTF-8, while everything the hooks and the IME
// exchange is code page 932 bytes: the conversion between them, both ways. The
// simulator on Linux converts with iconv, the Windows programs (tavik-e2e,
// tavik-sim.exe) with the code page tables of Windows itself; the two may
// disagree only on the few characters that glibc maps one way only (such as
// U+301C, which Windows refuses without a best fit).
#pragma once

#include <optional>
#include <string>

namespace tavik::sim {

// The code page 932 bytes of UTF-8 text; none when the text is not UTF-8 or
// has a character that code page 932 cannot hold.
std::optional<std::string> Utf8ToCp932(const std::string& utf8);

// The UTF-8 text of code page 932 bytes, for a person to read what the IME
// and the application hold; none when the bytes are not valid text.
std::optional<std::string> Cp932ToUtf8(const std::string& cp932);

}  // namespace tavik::sim
