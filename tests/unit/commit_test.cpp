#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hook/commit.h"
#include "hook/stages.h"
#include "sim/desktop.h"
#include "sim/library_hooks.h"

namespace tavik {
namespace {

Composition Of(std::vector<uint8_t> attr) { return Classify(attr.data(), static_cast<int32_t>(attr.size())); }

TEST(Classification, CountsEachKindOfByte) {
  // Converted clauses with the target at either end.
  Composition c = Of({2, 2, 1, 1});
  EXPECT_TRUE(c.fullyConverted);
  EXPECT_TRUE(c.lastClauseTarget);
  EXPECT_FALSE(c.firstClauseTarget);
  EXPECT_FALSE(c.singleTargetClause);
  c = Of({1, 1, 2});
  EXPECT_TRUE(c.firstClauseTarget);
  EXPECT_FALSE(c.lastClauseTarget);

  // One byte that is input or a target not yet converted is enough.
  EXPECT_FALSE(Of({2, 2, 3, 3}).fullyConverted);
  EXPECT_FALSE(Of({1, 1, 1, 0}).fullyConverted);
  EXPECT_FALSE(Of({0, 1, 1, 1}).fullyConverted);
  // Input errors count only beside a converted clause.
  EXPECT_FALSE(Of({4, 4}).fullyConverted);
  EXPECT_TRUE(Of({1, 4}).fullyConverted);
  EXPECT_TRUE(Of({4, 2}).fullyConverted);
  // Bytes outside the five kinds convert nothing.
  EXPECT_FALSE(Of({1, 5}).fullyConverted);

  // One target clause: every byte 1; 2 and 4 do not count.
  EXPECT_TRUE(Of({1, 1, 1}).singleTargetClause);
  EXPECT_FALSE(Of({1, 1, 2, 2}).singleTargetClause);
  EXPECT_FALSE(Of({1, 1, 4}).singleTargetClause);
  EXPECT_TRUE(Of({1}).singleTargetClause);

  EXPECT_TRUE(Of({0, 0}).whollyUnconverted);
  EXPECT_FALSE(Of({0, 4}).whollyUnconverted);
  EXPECT_FALSE(Of({}).fullyConverted);
}

// Each string in a heap block of exactly its size, so that a sanitized
// build (or memcheck) stops at a read past its last byte.
bool Numeric(std::vector<uint8_t> s) {
  std::vector<uint8_t> exact(s);
  return IsNumericComposition(exact.data(), static_cast<int32_t>(exact.size()));
}

TEST(NumericComposition, AFullWidthDigitThenDigitsAndSeparators) {
  EXPECT_TRUE(Numeric({0x82, 0x50}));
  EXPECT_TRUE(Numeric({0x82, 0x4F}));
  EXPECT_TRUE(Numeric({0x82, 0x58}));
  EXPECT_TRUE(Numeric({0x82, 0x50, 0x2C, 0x82, 0x51}));
  EXPECT_TRUE(Numeric({0x82, 0x50, 0x81, 0x43, 0x82, 0x51, 0x81, 0x44, 0x30, 0x39, 0x2E}));

  EXPECT_FALSE(Numeric({0x82, 0x4E}));
  EXPECT_FALSE(Numeric({0x82, 0x59}));
  EXPECT_FALSE(Numeric({0x81, 0x50}));
  EXPECT_FALSE(Numeric({0x31, 0x82, 0x50})) << "an ASCII first digit";
  EXPECT_FALSE(Numeric({0x82, 0x50, 0x41})) << "a letter after a digit";
  EXPECT_FALSE(Numeric({0x82, 0x50, 0x81, 0x45})) << "a full-width middle dot is no separator";
  EXPECT_FALSE(Numeric({0x82, 0x50, 0x41, 0x31})) << "nothing sets it back";
  EXPECT_FALSE(Numeric({0x82}));
}

TEST(NumericComposition, ALeadByteInTheLastPlaceIsReadAlone) {
  EXPECT_FALSE(Numeric({0x82, 0x50, 0x82}));
  EXPECT_FALSE(Numeric({0x82, 0x50, 0x31, 0x81}));
}

TEST(NumericComposition, ExactlyTheBufferFull) {
  std::vector<uint8_t> s(1024, '1');
  s[0] = 0x82;
  s[1] = 0x50;
  EXPECT_TRUE(Numeric(s));
  s[1022] = 0x82;
  s[1023] = 0x51;
  EXPECT_TRUE(Numeric(s));
  s[1022] = '2';
  s[1023] = 0x82;
  EXPECT_FALSE(Numeric(s));
}

// The whole stage on the simulated desktop, for what a scenario cannot
// spell out by hand: compositions the size of the buffer and beyond.
class CommitStageTest : public ::testing::Test {
 protected:
  CommitStageTest() {
    desktop.AddWindow("editor");
    desktop.SetFocus("editor");
    block.flag[kOasysKakutei] = 1;
    block.flag[kNumberKakutei] = 1;
    desktop.Focused()->open = true;
    sim::RunLibraryHooks(desktop, block);
    block.SetKeyboardHook(desktop.SetWindowsHookExA(w32::WH_KEYBOARD, sim::kKeyboardProcToken, sim::kModuleInstance, 0));
  }

  // Through the desktop's input queue, so that what the stage sends comes back.
  intptr_t Press(uint32_t vk, uint32_t scanKey, bool up = false) {
    return desktop.Keystroke(0, vk, sim::KeystrokeLParam(scanKey, up, false));
  }

  sim::Desktop desktop;
  HookSharedBlock block{};
};

TEST_F(CommitStageTest, ANumberThatFillsTheBufferIsCommitted) {
  std::string number(1024, '1');
  number[0] = '\x82';
  number[1] = '\x50';
  desktop.Focused()->composition = number;
  desktop.Focused()->attributes.assign(1024, '\0');
  EXPECT_EQ(Press(w32::VK_SPACE, 0x39), 1);
  EXPECT_EQ(desktop.Focused()->committed, number);
  EXPECT_EQ(Press(w32::VK_SPACE, 0x39, true), 1);
  EXPECT_TRUE(desktop.InvariantViolations().empty());
}

TEST_F(CommitStageTest, ACompositionLongerThanTheBufferIsReadAsItsFirst1024Bytes) {
  // The first 1024 bytes are a number, what lies beyond is not looked at.
  std::string text(1500, 'A');
  text.replace(0, 1024, std::string(1024, '2'));
  text[0] = '\x82';
  text[1] = '\x51';
  desktop.Focused()->composition = text;
  desktop.Focused()->attributes.assign(text.size(), '\0');
  EXPECT_EQ(Press(w32::VK_SPACE, 0x39), 1);
  EXPECT_EQ(block.runtime.owed.spaceResent, 1);
  Press(w32::VK_SPACE, 0x39, true);

  // Only the first 1024 attribute bytes are read, and they alone decide.
  desktop.Focused()->composition = std::string(1500, 'x');
  desktop.Focused()->attributes = std::string(1024, '\1') + std::string(476, '\0');
  EXPECT_EQ(Press(w32::VK_RIGHT, 0x14D), 1);
  Press(w32::VK_RIGHT, 0x14D, true);
  EXPECT_TRUE(desktop.InvariantViolations().empty());
}

}  // namespace
}  // namespace tavik
