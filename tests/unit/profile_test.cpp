#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sim/profile.h"

namespace tavik::sim {
namespace {

class ProfileTest : public ::testing::Test {
 protected:
  std::string Get(const char* key, const char* def = "D", uint32_t size = 256, const char* section = "TAVIK") {
    char buf[512];
    std::memset(buf, '#', sizeof buf);
    uint32_t n = store.GetString(section, key, def, buf, size, ".\\tavik.ini");
    EXPECT_EQ(n, std::strlen(buf)) << "count returned differs from the string copied";
    EXPECT_LT(n, size);
    return std::string(buf, n);
  }
  ProfileStore store;
};

TEST_F(ProfileTest, MissingFileSectionOrKeyGivesTheDefault) {
  EXPECT_EQ(Get("TORIKESHI KEY", "1"), "1");
  store.SetFile(".\\tavik.ini", "[OTHER]\r\nTORIKESHI KEY=0\r\n");
  EXPECT_EQ(Get("TORIKESHI KEY", "1"), "1");
  store.SetFile(".\\tavik.ini", "[TAVIK]\r\nCAPSLOCK ON=0\r\n");
  EXPECT_EQ(Get("TORIKESHI KEY", "1"), "1");
  EXPECT_EQ(Get("TORIKESHI KEY", nullptr), "");
  EXPECT_EQ(Get("TORIKESHI KEY", "1  "), "1") << "trailing blanks of the default are dropped";
}

TEST_F(ProfileTest, PresentKeyWithEmptyValueIsEmptyNotTheDefault) {
  store.SetFile(".\\tavik.ini", "[TAVIK]\r\nTORIKESHI KEY=\r\nCAPSLOCK ON\r\n");
  EXPECT_EQ(Get("TORIKESHI KEY", "1"), "");
}

TEST_F(ProfileTest, NamesAreCaseInsensitiveAndTrimmed) {
  store.SetFile(".\\TAVIK.INI", "  [ tavik ]  \n  Torikeshi Key  =   1 x  \n");
  EXPECT_EQ(Get("TORIKESHI KEY"), "1 x");
}

TEST_F(ProfileTest, FirstSectionAndFirstKeyWin) {
  store.SetFile(".\\tavik.ini", "[TAVIK]\nA=1\nA=2\n[TAVIK]\nB=3\n");
  EXPECT_EQ(Get("A"), "1");
  EXPECT_EQ(Get("B"), "D");
}

TEST_F(ProfileTest, CommentsAndQuotes) {
  store.SetFile(".\\tavik.ini", "[TAVIK]\n;A=1\nB=\"2\"\nC='3'\nD=\"4\nE=\"\n");
  EXPECT_EQ(Get("A"), "D");
  EXPECT_EQ(Get("B"), "2");
  EXPECT_EQ(Get("C"), "3");
  EXPECT_EQ(Get("D"), "\"4");
  EXPECT_EQ(Get("E"), "\"");
}

TEST_F(ProfileTest, ReadsAreTruncatedToTheBuffer) {
  std::string longValue(1000, '7');
  store.SetFile(".\\tavik.ini", "[TAVIK]\nA=1" + longValue + "\n");
  std::string got = Get("A");
  EXPECT_EQ(got.size(), 255u);
  EXPECT_EQ(got.substr(0, 2), "17");
  EXPECT_EQ(Get("A", "D", 3), "17");
  EXPECT_EQ(Get("A", "D", 1), "");
  EXPECT_EQ(Get("MISSING", "12345", 3), "12");
}

TEST_F(ProfileTest, BinaryContentNeverBreaksTheReader) {
  std::string junk;
  for (int i = 0; i < 4096; ++i) junk += static_cast<char>((i * 7919) & 0xFF);
  store.SetFile(".\\tavik.ini", junk + "\n[TAVIK]\nA=1\n" + junk);
  EXPECT_EQ(Get("A"), "1");
  store.SetFile(".\\tavik.ini", std::string("\0\0\0[TAVIK]\0A=1", 14));
  Get("A");
}

TEST_F(ProfileTest, PathsResolveLikeWindows) {
  store.SetFile(".\\tavik.ini", "[TAVIK]\nA=1\n");
  char buf[8];
  EXPECT_EQ(store.GetString("TAVIK", "A", "", buf, sizeof buf, "./TAVIK.ini"), 1u);
  EXPECT_EQ(store.GetString("TAVIK", "A", "", buf, sizeof buf, "tavik.ini"), 0u) << "a bare name is in C:\\Windows";
}

TEST_F(ProfileTest, WritesAddReplaceAndDelete) {
  ASSERT_TRUE(store.WriteString("TAVIK", "A", "1", ".\\tavik.ini"));
  ASSERT_TRUE(store.WriteString("TAVIK", "B", "0", ".\\tavik.ini"));
  ASSERT_TRUE(store.WriteString("tavik", "a", "0", ".\\tavik.ini"));
  EXPECT_EQ(*store.File(".\\tavik.ini"), "[TAVIK]\r\nA=0\r\nB=0\r\n");
  ASSERT_TRUE(store.WriteString("TAVIK", "A", nullptr, ".\\tavik.ini"));
  EXPECT_EQ(*store.File(".\\tavik.ini"), "[TAVIK]\r\nB=0\r\n");
  ASSERT_TRUE(store.WriteString("OTHER", "C", "2", ".\\tavik.ini"));
  ASSERT_TRUE(store.WriteString("TAVIK", "D", "3", ".\\tavik.ini"));
  EXPECT_EQ(*store.File(".\\tavik.ini"), "[TAVIK]\r\nB=0\r\nD=3\r\n[OTHER]\r\nC=2\r\n");
  ASSERT_TRUE(store.WriteString("TAVIK", nullptr, nullptr, ".\\tavik.ini"));
  EXPECT_EQ(*store.File(".\\tavik.ini"), "[OTHER]\r\nC=2\r\n");
}

TEST_F(ProfileTest, WritesKeepLinesTheyDoNotTouch) {
  store.SetFile(".\\tavik.ini", "; written by hand\n[TAVIK]\nVELTO=1\n\n[X]\nY=1\n");
  store.WriteString("TAVIK", "RESET", "0", ".\\tavik.ini");
  EXPECT_EQ(*store.File(".\\tavik.ini"), "; written by hand\r\n[TAVIK]\r\nVELTO=1\r\nRESET=0\r\n\r\n[X]\r\nY=1\r\n");
}

}  // namespace
}  // namespace tavik::sim
