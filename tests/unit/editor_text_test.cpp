// The application's text that scenarios check: the same edits as an edit
// control makes, or the simulated desktop and the real one disagree.
#include <gtest/gtest.h>

#include "sim/editor_text.h"

namespace tavik::sim {
namespace {

TEST(Cp932Characters, ALeadByteTakesTheNextByteUnlessItIsTheLast) {
  EXPECT_EQ(Cp932Characters("a\x82\xA0\xE0\x40\xFC\x41" "b"),
            (std::vector<std::string>{"a", "\x82\xA0", "\xE0\x40", "\xFC\x41", "b"}));
  // 0xA0-0xDF (half-width kana) and 0x80 stand alone.
  EXPECT_EQ(Cp932Characters("\xB1\xA0\x80"), (std::vector<std::string>{"\xB1", "\xA0", "\x80"}));
  EXPECT_EQ(Cp932Characters("a\x82"), (std::vector<std::string>{"a", "\x82"}));
  EXPECT_TRUE(Cp932Characters("").empty());
}

EditorText With(const std::string& text, size_t caretFromEnd = 0) {
  EditorText t;
  t.Set(text);
  for (size_t i = 0; i < caretFromEnd; ++i) t.Left();
  return t;
}

TEST(EditorText, BackspaceAndDeleteTakeWholeCharactersAndStopAtTheEnds) {
  EditorText t = With("\x82\xA0" "b\n");
  EXPECT_EQ(t.Caret(), 3u);
  t.Delete();
  EXPECT_EQ(t.Bytes(), "\x82\xA0" "b\n") << "nothing after the caret";
  t.Backspace();
  t.Backspace();
  EXPECT_EQ(t.Bytes(), "\x82\xA0");
  t.Backspace();
  EXPECT_EQ(t.Bytes(), "");
  t.Backspace();
  EXPECT_EQ(t.Caret(), 0u) << "nothing before the caret";

  t = With("ab\ncd", 5);
  t.Backspace();
  EXPECT_EQ(t.Caret(), 0u);
  t.Delete();
  t.Delete();
  t.Delete();
  EXPECT_EQ(t.Bytes(), "cd") << "the line break is one character";
}

TEST(EditorText, HomeAndEndStayOnTheCaretsLine) {
  EditorText t = With("one\ntwo\nthree", 7);  // between "tw" and "o"
  t.Home();
  EXPECT_EQ(t.Caret(), 4u);
  t.End();
  EXPECT_EQ(t.Caret(), 7u) << "before the line break";
  t.End();
  EXPECT_EQ(t.Caret(), 7u);
  t.Right();
  t.Home();
  EXPECT_EQ(t.Caret(), 8u);
}

// The column is the caret's own, as in an edit control: once clamped, the
// longer column is forgotten.
TEST(EditorText, UpAndDownKeepTheColumnClampedToTheLine) {
  EditorText t = With("long line\nab\n\nthird");  // column 5 of "third"
  t.Up();
  EXPECT_EQ(t.Caret(), 13u) << "the empty line";
  t.Up();
  EXPECT_EQ(t.Caret(), 10u) << "column 0 of \"ab\"";
  t.End();
  t.Up();
  EXPECT_EQ(t.Caret(), 2u);
  t.Up();
  EXPECT_EQ(t.Caret(), 2u) << "the first line";
  t.End();
  t.Down();
  EXPECT_EQ(t.Caret(), 12u) << "the end of \"ab\"";
  t.Down();
  t.Down();
  EXPECT_EQ(t.Caret(), 14u) << "column 0 of \"third\"";
  t.End();
  t.Down();
  EXPECT_EQ(t.Caret(), 19u) << "the last line";
}

TEST(EditorText, KeysTypeEditOrDoNothing) {
  EditorText t;
  for (uint32_t vk : {0x41u, 0x5Au, 0x30u, 0x39u, 0x20u, 0x09u, 0x0Du}) t.KeyDown(vk, false);
  EXPECT_EQ(t.Bytes(), "az09 \t\n");
  // Ctrl or Alt: no character, but the editing keys still edit.
  t.KeyDown(0x41, true);
  t.KeyDown(0x0D, true);
  t.KeyDown(0x08, true);
  EXPECT_EQ(t.Bytes(), "az09 \t");
  // Insert, Esc, PageUp/PageDown, F1, Shift, comma: nothing.
  for (uint32_t vk : {0x2Du, 0x1Bu, 0x21u, 0x22u, 0x70u, 0x10u, 0xBCu}) t.KeyDown(vk, false);
  EXPECT_EQ(t.Bytes(), "az09 \t");
  EXPECT_EQ(t.Caret(), 6u);
  t.KeyDown(0x24, false);  // Home
  t.KeyDown(0x2E, false);  // Delete
  t.KeyDown(0x27, false);  // Right
  t.KeyDown(0x42, false);
  EXPECT_EQ(t.Bytes(), "zb09 \t");
}

TEST(EditorText, InsertedTextGoesInAtTheCaretWhichMovesPastIt) {
  EditorText t = With("ab", 1);
  t.Insert("\x8A\xBF" "c");
  EXPECT_EQ(t.Bytes(), "a\x8A\xBF" "cb");
  EXPECT_EQ(t.Caret(), 3u);
}

}  // namespace
}  // namespace tavik::sim
