#include <iconv.h>

#include <cerrno>

#include "sim/cp932.h"

namespace tavik::sim {

namespace {

// `text` from one encoding to the other, in an output of `room` bytes.
std::optional<std::string> Convert(const char* toCode, const char* fromCode, const std::string& text, size_t room) {
  iconv_t cd = iconv_open(toCode, fromCode);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string in = text;
  std::string out(room, '\0');
  char* from = in.data();
  size_t fromLeft = in.size();
  char* to = out.data();
  size_t toLeft = out.size();
  size_t r = iconv(cd, &from, &fromLeft, &to, &toLeft);
  iconv_close(cd);
  // A character iconv cannot convert fails the call (EILSEQ); it would
  // only count one as "irreversible" with //TRANSLIT or //IGNORE asked for.
  if (r == static_cast<size_t>(-1) || r != 0 || fromLeft != 0) return std::nullopt;
  out.resize(out.size() - toLeft);
  return out;
}

}  // namespace

std::optional<std::string> Utf8ToCp932(const std::string& utf8) {
  // No character takes more bytes in code page 932 than in UTF-8.
  return Convert("CP932", "UTF-8", utf8, utf8.size());
}

std::optional<std::string> Cp932ToUtf8(const std::string& cp932) {
  // Three UTF-8 bytes at most for each: a one-byte half-width kana.
  return Convert("UTF-8", "CP932", cp932, 3 * cp932.size());
}

}  // namespace tavik::sim
