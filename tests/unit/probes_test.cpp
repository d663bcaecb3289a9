#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "hook/hook_call.h"
#include "sim/desktop.h"

namespace tavik {
namespace {

// Each name in a heap block of exactly its size, so that a sanitized build
// stops at a test that reads past a short name's terminator.
bool OakFamily(const std::string& name) {
  std::vector<char> exact(name.c_str(), name.c_str() + name.size() + 1);
  return IsOakFamilyIme(exact.data());
}
bool OakOrAtok(const std::string& name) {
  std::vector<char> exact(name.c_str(), name.c_str() + name.size() + 1);
  return IsOakOrAtokIme(exact.data());
}

TEST(ImeFamily, OakFamilyByExactUpperCaseLettersAtFixedPositions) {
  for (const char* name : {"OAKIME.IME", "FJIME.IME", "FJI", "XYZOAK.IME", "OAK"}) EXPECT_TRUE(OakFamily(name)) << name;
  for (const char* name : {"oakime.ime", "fjime.ime", "XOAK.IME", "XYOAK", "OA", "O", "", "ATOK.IME", "ABCOA", "AB"}) {
    EXPECT_FALSE(OakFamily(name)) << name;
  }
}

TEST(ImeFamily, OakOrAtok) {
  for (const char* name : {"ATOK30.IME", "XATOK.IME", "OAKIME.IME", "ABCOAK"}) EXPECT_TRUE(OakOrAtok(name)) << name;
  for (const char* name : {"XXATOK.IME", "atok.ime", "ATO", "XATO", "X", "", "MSIME.IME"}) {
    EXPECT_FALSE(OakOrAtok(name)) << name;
  }
}

bool Fully(std::vector<uint8_t> a) { return FullyConverted(a.data(), static_cast<int32_t>(a.size())); }
bool Oak(std::vector<uint8_t> a) { return OakConverted(a.data(), static_cast<int32_t>(a.size())); }

TEST(CompositionAttributes, FullyConverted) {
  EXPECT_TRUE(Fully({2, 2, 1, 1}));
  EXPECT_TRUE(Fully({1, 4}));
  EXPECT_TRUE(Fully({2}));
  EXPECT_FALSE(Fully({2, 2, 3, 3}));
  EXPECT_FALSE(Fully({4, 4})) << "input errors alone are not a conversion";
  EXPECT_FALSE(Fully({1, 1, 0}));
  EXPECT_FALSE(Fully({0, 0}));
  EXPECT_FALSE(Fully({2, 5}));
  EXPECT_FALSE(Fully({}));
}

TEST(CompositionAttributes, OakConverted) {
  EXPECT_TRUE(Oak({3, 3}));
  EXPECT_TRUE(Oak({2, 2, 1}));
  EXPECT_TRUE(Oak({1}));
  EXPECT_FALSE(Oak({2, 1, 2})) << "the last clause must be a target";
  EXPECT_FALSE(Oak({0, 1}));
  EXPECT_FALSE(Oak({4, 1}));
  EXPECT_FALSE(Oak({}));
}

bool Oasys(const char* path) { return IsOasysHost(SplitHostPath(path)); }
bool Browser(const char* path) { return IsBrowserHost(SplitHostPath(path)); }

TEST(HostName, OasysHost) {
  EXPECT_TRUE(Oasys("C:\\Program Files\\OASYS\\OasysE.exe"));
  EXPECT_TRUE(Oasys("C:\\x\\OASYSEDIT.EXE"));
  EXPECT_TRUE(Oasys("OASYSE.exe"));
  EXPECT_TRUE(Oasys("C:OASYSE.EXEX")) << "characters after the ones named are not looked at";
  EXPECT_FALSE(Oasys("C:\\OASYS\\OASYS.EXE")) << "exactly OASYS does not match";
  EXPECT_FALSE(Oasys("C:\\OASYSE.COM"));
  EXPECT_FALSE(Oasys("C:\\OASYSE"));
  EXPECT_FALSE(Oasys("C:\\OASYSE.EXE\\editor.exe")) << "only the file name counts";
}

TEST(HostName, BrowserHost) {
  EXPECT_TRUE(Browser("C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE"));
  EXPECT_TRUE(Browser("c:/ie/iexplore.exe"));
  EXPECT_TRUE(Browser("C:\\iexplore2.exe"));
  EXPECT_FALSE(Browser("C:\\iexplor.exe"));
  EXPECT_FALSE(Browser("C:\\iexplore.exe.bak"));
  EXPECT_FALSE(Browser(""));
}

TEST(HostName, SplitsLikeTheRuntime) {
  HostName h = SplitHostPath("C:\\dir.d\\name.tar.gz");
  EXPECT_EQ(std::string(h.fileName, h.fileNameLength), "name.tar");
  EXPECT_EQ(std::string(h.extension, h.extensionLength), ".gz");
  h = SplitHostPath("C:\\dir.d\\noext");
  EXPECT_EQ(std::string(h.fileName, h.fileNameLength), "noext");
  EXPECT_EQ(h.extensionLength, 0u);
}

// The probes against the simulated desktop: buffers and failures.
class ProbeTest : public ::testing::Test {
 protected:
  ProbeTest() { desktop.AddWindow("editor"); desktop.SetFocus("editor"); }
  sim::Desktop desktop;
  WorkingStorage storage;
};

TEST_F(ProbeTest, ImeFileNameShorterThanAnEarlierOneLeavesNoTrace) {
  desktop.SetImeFileName(std::string("ABCOAKXX.IME"));
  ASSERT_TRUE(ReadImeFileName(desktop, storage.imeFileName));
  EXPECT_TRUE(IsOakFamilyIme(storage.imeFileName));
  desktop.SetImeFileName(std::string("ABC"));
  ASSERT_TRUE(ReadImeFileName(desktop, storage.imeFileName));
  EXPECT_FALSE(IsOakFamilyIme(storage.imeFileName));
  desktop.SetImeFileName(std::nullopt);
  EXPECT_FALSE(ReadImeFileName(desktop, storage.imeFileName));
  desktop.SetImeFileName(std::string(300, 'A'));
  ASSERT_TRUE(ReadImeFileName(desktop, storage.imeFileName));
  EXPECT_EQ(std::strlen(storage.imeFileName), 127u);
}

TEST_F(ProbeTest, ImeFileNameIsReadIntoExactlyItsBuffer) {
  // A canary right after the name's 128 bytes: a size that is one too large
  // lets a long name's terminator land on it.
  std::memset(&storage, 0xCC, sizeof storage);
  desktop.SetImeFileName(std::string(300, 'A'));
  ASSERT_TRUE(ReadImeFileName(desktop, storage.imeFileName));
  EXPECT_EQ(storage.composition[0], 0xCC);
  EXPECT_EQ(std::strlen(storage.imeFileName), 127u);
  EXPECT_EQ(desktop.Calls().back().result, sim::Value{sim::Number{0x7F}}) << "with a buffer of 0x80";
}

TEST_F(ProbeTest, HostPathThatFillsMaxPathWithItsTerminatorIsRead) {
  std::string dir = "C:\\" + std::string(259 - 3 - std::strlen("\\iexplore.exe"), 'd');
  std::string path = dir + "\\iexplore.exe";
  ASSERT_EQ(path.size(), 259u);
  desktop.SetHostPath(path);
  HostName h = ReadHostName(desktop, storage.hostPath);
  EXPECT_EQ(std::string(h.fileName, h.fileNameLength), "iexplore");
  EXPECT_TRUE(IsBrowserHost(h));
  desktop.SetHostPath(dir + "d\\iexplore.exe");
  EXPECT_FALSE(IsBrowserHost(ReadHostName(desktop, storage.hostPath))) << "one more and the name is cut short";
}

TEST_F(ProbeTest, HostNameFailureAndOverlongPath) {
  desktop.SetHostPath(std::nullopt);
  EXPECT_FALSE(ReadHostName(desktop, storage.hostPath).read);
  EXPECT_FALSE(IsBrowserHost(ReadHostName(desktop, storage.hostPath)));
  desktop.SetHostPath("C:\\" + std::string(400, 'd') + "\\iexplore.exe");
  HostName h = ReadHostName(desktop, storage.hostPath);
  EXPECT_TRUE(h.read);
  EXPECT_FALSE(IsBrowserHost(h)) << "a truncated path names no program";
  desktop.SetHostPath(std::string("C:\\IE\\IEXPLORE.EXE"));
  EXPECT_TRUE(IsBrowserHost(ReadHostName(desktop, storage.hostPath)));
}

TEST_F(ProbeTest, ContextIsReleasedOnceOnEveryPath) {
  {
    InputContext context(desktop, desktop.GetFocus());
    context.Release();
    context.Release();
  }
  {
    InputContext context(desktop, desktop.GetFocus());
    desktop.Fail("ImmGetConversionStatus");
    ConversionStatus s = context.ReadConversionStatus();
    EXPECT_FALSE(s.read);
    EXPECT_EQ(s.conversion, 0u) << "a failed read never tests as a mode";
  }
  EXPECT_TRUE(desktop.InvariantViolations().empty());
  EXPECT_EQ(std::ranges::count(desktop.Calls(), "ImmReleaseContext", &sim::PlatformCall::function), 2);
}

TEST_F(ProbeTest, CompositionAttributesAreTheAttributeBytesNotTheString) {
  sim::Window* w = desktop.FindWindow("editor");
  w->composition = "\x82\xA0\x82\xA2\x82\xA4";
  w->attributes = std::string("\x01\x01\x02\x02\x00\x03", 6);
  InputContext context(desktop, desktop.GetFocus());
  ASSERT_EQ(context.ReadCompositionAttributes(storage.composition), 6);
  EXPECT_EQ(std::vector<uint8_t>(storage.composition, storage.composition + 6),
            (std::vector<uint8_t>{1, 1, 2, 2, 0, 3}));
}

TEST_F(ProbeTest, CompositionLengthNeverExceedsTheBuffer) {
  desktop.Fail("ImmGetCompositionStringA", 5000);
  InputContext context(desktop, desktop.GetFocus());
  EXPECT_EQ(context.ReadCompositionAttributes(storage.composition), 1024);
}

TEST_F(ProbeTest, CapsLockOnTestsTheWholeWordAndToggleSendsAPressWithScanZero) {
  EXPECT_FALSE(CapsLockOn(desktop));
  desktop.SetKeyState(w32::VK_CAPITAL, 0xFF80);  // held, not toggled
  EXPECT_TRUE(CapsLockOn(desktop));
  size_t before = desktop.events().size();
  HookSharedBlock block{};
  ProcessVariables process;
  HookCall k(desktop, block, process, 0, 0, 0);
  ToggleCapsLock(k);
  EXPECT_EQ(desktop.Calls(before), (std::vector<sim::PlatformCall>{
      {"keybd_event", {sim::Number{0x14}, sim::Number{0}, sim::Number{1}, sim::Number{0}}},
      {"keybd_event", {sim::Number{0x14}, sim::Number{0}, sim::Number{3}, sim::Number{0}}}}));
}

TEST_F(ProbeTest, HeldLooksAtBit15Only) {
  desktop.SetPressedSinceLastQuery(w32::VK_SHIFT, true);
  EXPECT_FALSE(Held(desktop, w32::VK_SHIFT));
  desktop.SetHeld(w32::VK_SHIFT, true);
  EXPECT_TRUE(Held(desktop, w32::VK_SHIFT));
  EXPECT_FALSE(Held(desktop, w32::VK_CONTROL));
}

}  // namespace
}  // namespace tavik
