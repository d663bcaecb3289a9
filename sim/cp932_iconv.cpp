#include <iconv.h>

#include <cerrno>

#include "sim/cp932.h"

namespace tavik::sim {

std::optional<std::string> Utf8ToCp932(const std::string& utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string in = utf8;
  // No character takes more bytes in code page 932 than in UTF-8.
  std::string out(in.size(), '\0');
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

}  // namespace tavik::sim
