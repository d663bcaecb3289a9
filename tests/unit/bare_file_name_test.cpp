#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "hook/bare_file_name.h"

namespace tavik {
namespace {

// What the IME family tests get after the Win32 layer: the bare name, its
// length, and nothing past the buffer touched.
std::string Bare(const std::string& reported, uint32_t size, uint32_t* length = nullptr) {
  char buffer[140];
  std::memset(buffer, 'X', sizeof buffer);
  std::memcpy(buffer, reported.c_str(), reported.size() + 1 < size ? reported.size() + 1 : size);
  uint32_t n = BareFileName(static_cast<uint32_t>(reported.size() < size ? reported.size() : size - 1), buffer, size);
  for (uint32_t i = size; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], 'X') << "wrote past the buffer at " << i;
  if (length != nullptr) *length = n;
  return std::string(buffer, n) + (buffer[n] == '\0' ? "" : "<unterminated>");
}

TEST(BareFileName, WinePathsBecomeTheNameWindowsReports) {
  uint32_t n = 0;
  EXPECT_EQ(Bare("C:\\windows\\system32\\OAKTEST.IME", 128, &n), "OAKTEST.IME");
  EXPECT_EQ(n, 11u);
  EXPECT_EQ(Bare("ATOK30.IME", 128, &n), "ATOK30.IME") << "a bare name is left alone";
  EXPECT_EQ(n, 10u);
  EXPECT_EQ(Bare("C:\\dir.ime\\X.IME", 128), "X.IME");
}

TEST(BareFileName, EdgesOfTheBuffer) {
  uint32_t n = 1;
  EXPECT_EQ(Bare("C:\\ime\\", 128, &n), "");
  EXPECT_EQ(n, 0u) << "a path ending in a backslash names no file";
  std::string longPath = "C:\\" + std::string(120, 'd') + "\\OAKIME.IME";
  // Truncated by the call to 127 characters: the name after the last
  // backslash that fitted is all there is.
  EXPECT_EQ(Bare(longPath, 128), "OAK");
  EXPECT_EQ(BareFileName(0, nullptr, 0), 0u);
}

}  // namespace
}  // namespace tavik
