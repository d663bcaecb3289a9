#include <windows.h>

#include "sim/cp932.h"

namespace tavik::sim {

std::optional<std::string> Utf8ToCp932(const std::string& utf8) {
  if (utf8.empty()) return std::string();
  int n = static_cast<int>(utf8.size());
  int wide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), n, nullptr, 0);
  if (wide <= 0) return std::nullopt;
  std::wstring w(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), n, w.data(), wide);
  // Without WC_NO_BEST_FIT_CHARS Windows would quietly write "e" for "é";
  // with it, such a character takes the default character and says so.
  BOOL usedDefault = FALSE;
  int bytes = WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, w.data(), wide, nullptr, 0, nullptr, &usedDefault);
  if (bytes <= 0 || usedDefault) return std::nullopt;
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, w.data(), wide, out.data(), bytes, nullptr, &usedDefault);
  if (usedDefault) return std::nullopt;
  return out;
}

std::optional<std::string> Cp932ToUtf8(const std::string& cp932) {
  if (cp932.empty()) return std::string();
  int n = static_cast<int>(cp932.size());
  int wide = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, cp932.data(), n, nullptr, 0);
  if (wide <= 0) return std::nullopt;
  std::wstring w(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, cp932.data(), n, w.data(), wide);
  int bytes = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::nullopt;
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, out.data(), bytes, nullptr, nullptr);
  return out;
}

}  // namespace tavik::sim
