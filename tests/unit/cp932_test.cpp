// Scenario files are written in UTF-8 but speak code page 932 to the hooks
// and the IME: a wrong byte here would make a scenario test other text than
// the one its author reads.
#include <gtest/gtest.h>

#include "sim/cp932.h"
#include "sim/desktop_events.h"
#include "sim/print.h"
#include "sim/scenario.h"

namespace tavik::sim {
namespace {

TEST(Cp932, JapaneseAndAsciiConvert) {
  EXPECT_EQ(Utf8ToCp932("変換"), std::optional<std::string>("\x95\xCF\x8A\xB7"));
  EXPECT_EQ(Utf8ToCp932("aあ1ｱ"), std::optional<std::string>("a\x82\xA0" "1\xB1")) << "half-width kana is one byte";
  EXPECT_EQ(Utf8ToCp932("C:\\x y"), std::optional<std::string>("C:\\x y"));
  EXPECT_EQ(Utf8ToCp932(""), std::optional<std::string>(""));
}

TEST(Cp932, ACharacterWithoutAFormOrTextThatIsNotUtf8Fails) {
  EXPECT_EQ(Utf8ToCp932("caf\xC3\xA9"), std::nullopt) << "no best fit to 'e'";
  EXPECT_EQ(Utf8ToCp932("\xF0\x9F\x98\x80"), std::nullopt) << "outside the BMP";
  EXPECT_EQ(Utf8ToCp932("\x82\xA0"), std::nullopt) << "code page 932 bytes are not UTF-8";
}

TEST(Cp932, ReadableTextIsJapaneseWithBytesOnlyWhereThereIsNoCharacter) {
  const std::pair<std::string, std::string> cases[] = {
      {"\x95\xCF\x8A\xB7", "\"変換\""},
      {"a\xB1\"\n", "\"aｱ\\\"\\n\""},
      {"\x83\x41\x82", "\"ア\\x82\""},  // a lead byte with nothing after it
      {"\x85\x40", "\"\\x85@\""},        // a pair without a character
  };
  for (const auto& [bytes, shown] : cases) EXPECT_EQ(Readable(bytes), shown) << HexBytes(bytes);
  EXPECT_EQ(ReadableWithBytes("\x83\x41"), "\"ア\" [83 41]");
  EXPECT_EQ(ReadableWithBytes("ab"), "\"ab\"");
}

// The bytes a quoted string gives, as `ime composition` stages them.
std::string StringOf(const std::string& quoted) {
  ParseResult r = ParseScenarios("t.scn", "ime composition " + quoted + "\n");
  EXPECT_EQ(r.error, "") << quoted;
  if (!r.error.empty()) return "";
  return std::get<cmd::ImeComposition>(r.scenarios.at(0).commands.at(0).command).bytes;
}

TEST(Cp932, QuotedStringsConvertTheirCharactersAndKeepTheirEscapes) {
  EXPECT_EQ(StringOf("\"変換\""), "\x95\xCF\x8A\xB7");
  EXPECT_EQ(StringOf("\"plain \\\"ascii\\\\\""), "plain \"ascii\\");
  // \x escapes are bytes as they are, even between converted characters,
  // and do not join them into one character.
  EXPECT_EQ(StringOf("\"\\x82\\xA0あ\\x82\\n\""), "\x82\xA0\x82\xA0\x82\n");
  EXPECT_EQ(StringOf("\"a\\nb\""), "a\nb");
}

TEST(Cp932, AStringThatCannotBeCodePage932IsMalformed) {
  EXPECT_EQ(ParseScenarios("t.scn", "tap a\nime composition \"caf\xC3\xA9\"\n").error,
            "t.scn:2: '\xC3\xA9' (U+00E9) has no code page 932 form");
  EXPECT_EQ(ParseScenarios("t.scn", "expect text \"\xF0\x9F\x98\x80\"\n").error,
            "t.scn:1: '\xF0\x9F\x98\x80' (U+1F600) has no code page 932 form");
  EXPECT_EQ(ParseScenarios("t.scn", "text \"\x82\xA0\"\n").error, "t.scn:1: string is not UTF-8");
  EXPECT_EQ(ParseScenarios("t.scn", "text \"\xE3\x81\"\n").error, "t.scn:1: string is not UTF-8")
      << "cut short by the closing quote";
}

}  // namespace
}  // namespace tavik::sim
