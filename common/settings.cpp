#include "common/settings.h"

#include <cstring>

namespace tavik {

namespace {

// The white space the C library's isspace accepts in the "C" locale; written
// out so that the result never depends on the process's locale.
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

int32_t ParseSettingNumber(const char* text) {
  if (text == nullptr) return 0;
  const char* p = text;
  while (IsSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = (*p == '-');
    ++p;
  }
  // Accumulate in 64 bits and stop growing once past the 32-bit range, so a
  // value like "99999999999999999999" saturates rather than overflows.
  constexpr int64_t kLimit = int64_t{INT32_MAX} + 1;
  int64_t value = 0;
  while (*p >= '0' && *p <= '9') {
    if (value < kLimit) value = value * 10 + (*p - '0');
    ++p;
  }
  if (negative) {
    value = -value;
    return value < INT32_MIN ? INT32_MIN : static_cast<int32_t>(value);
  }
  return value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value);
}

int32_t SettingFlagFromText(const char* text) { return ParseSettingNumber(text) == 1 ? 1 : 0; }

Setting FindSetting(const char* name) {
  for (int i = 0; i < kSettingCount; ++i) {
    if (std::strcmp(kSettingKeys[i].name, name) == 0) return static_cast<Setting>(i);
  }
  return kSettingCount;
}

}  // namespace tavik
