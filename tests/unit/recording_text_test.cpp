#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "common/recording.h"
#include "hook/shared_block.h"

namespace tavik {
namespace {

void ExpectSameCall(const RecordedCall& a, const RecordedCall& b, size_t index) {
  SCOPED_TRACE("call " + std::to_string(index));
  EXPECT_EQ(a.id, b.id);
  EXPECT_EQ(a.args, b.args);
  EXPECT_EQ(a.in, b.in);
  EXPECT_EQ(a.out, b.out);
  EXPECT_EQ(a.result, b.result);
}

void ExpectSameRecord(const Record& a, const Record& b) {
  EXPECT_EQ(a.kind, b.kind);
  EXPECT_EQ(a.bitness, b.bitness);
  EXPECT_EQ(a.process, b.process);
  EXPECT_EQ(a.processId, b.processId);
  EXPECT_EQ(a.threadId, b.threadId);
  EXPECT_EQ(a.time, b.time);
  EXPECT_EQ(a.code, b.code);
  EXPECT_EQ(a.wParam, b.wParam);
  EXPECT_EQ(a.lParam, b.lParam);
  EXPECT_EQ(a.message, b.message);
  for (int i = 0; i < kRecordedWordCount; ++i) EXPECT_EQ(a.wordsBefore[i], b.wordsBefore[i]) << kRuntimeWords[i].name;
  EXPECT_EQ(a.inFlight, b.inFlight);
  EXPECT_EQ(a.sentBehind, b.sentBehind);
  EXPECT_EQ(a.armedTime, b.armedTime);
  ASSERT_EQ(a.calls.size(), b.calls.size());
  for (size_t i = 0; i < a.calls.size(); ++i) ExpectSameCall(a.calls[i], b.calls[i], i);
  EXPECT_EQ(a.returned, b.returned);
  EXPECT_EQ(a.truncated, b.truncated);
  for (int i = 0; i < kSettingCount; ++i) EXPECT_EQ(a.settings[i], b.settings[i]) << kSettingKeys[i].name;
}

// A keystroke with every field away from its default, and the values at
// the edges of their types.
Record Keystroke() {
  Record r;
  r.kind = RecordKind::kKeystroke;
  r.bitness = 32;
  r.process = "my \"app\" \\ #1\n\x83\x41.exe";
  r.processId = 0xFFFFFFFF;
  r.threadId = 7;
  r.time = 4000000000u;
  r.code = -1;
  r.wParam = 0xC0;
  r.lParam = static_cast<int64_t>(0xC01A0001);
  for (int i = 0; i < kRecordedWordCount; ++i) r.wordsBefore[i] = i % 3 == 0 ? 0 : i;
  r.wordsBefore[kRecordedWordCount - 1] = -5;
  r.inFlight = {0x21B64, 0x1B64};
  r.sentBehind = 3;
  r.armedTime = -200;
  r.calls = {
      {CallId::GetFocus, {}, {}, {}, 0x10010},
      {CallId::ImmGetCompositionStringA, {0x5000, 0x8, 1024}, {}, {0x82, 0xA0, 0x00, 0xFF}, 4},
      {CallId::ImmGetCompositionStringA, {0x5000, 0x10, 0}, {}, {}, -2},
      {CallId::SendInput, {1}, {0x1B, 0, 0x64, 0, 1, 0, 0, 0}, {}, 1},
      {CallId::CallNextHookEx, {UINT64_MAX, 0, 0xC0, 0xFFFFFFFF801A0001}, {}, {}, INT64_MIN},
      {CallId::clock, {}, {}, {}, INT64_MAX},
  };
  r.returned = 1;
  r.truncated = true;
  return r;
}

Record Message() {
  Record r;
  r.kind = RecordKind::kMessage;
  r.process = "editor.exe";
  r.processId = 12;
  r.wParam = 1;
  r.message = 0x10F;
  r.calls = {{CallId::ImmNotifyIME, {0x5000, 0x15, 3, 0}, {}, {}, 1}};
  return r;
}

Record Settings() {
  Record r;
  r.kind = RecordKind::kSettings;
  r.process = "tavik.exe";
  for (int i = 0; i < kSettingCount; ++i) r.settings[i] = i % 2;
  r.settings[kKakuteiNotCr] = -7;
  return r;
}

RecordingHeader Header() {
  RecordingHeader h;
  h.tavikVersion = "1.2.2.1";
  h.windowsVersion = "10.0.22631 \"x\"";
  h.keyboardLayouts = {"0x04110411", "0xE0010411"};
  h.imeFileNames = {"IMJP10.IME", ""};
  for (int i = 0; i < kSettingCount; ++i) h.settings[i] = (i + 1) % 2;
  return h;
}

TEST(RecordingText, EveryFieldSurvivesTheRoundTrip) {
  RecordingHeader header = Header();
  std::vector<Record> records = {Settings(), Keystroke(), Message(), Record{}};
  std::string text = FormatHeader(header);
  for (const Record& r : records) text += FormatRecord(r);
  text += FormatTrailer({UINT64_MAX, 1234});

  Recording read;
  std::string error;
  ASSERT_TRUE(ReadRecording(text, read, error)) << error << "\n" << text;
  EXPECT_EQ(read.header.tavikVersion, header.tavikVersion);
  EXPECT_EQ(read.header.windowsVersion, header.windowsVersion);
  EXPECT_EQ(read.header.keyboardLayouts, header.keyboardLayouts);
  EXPECT_EQ(read.header.imeFileNames, header.imeFileNames);
  for (int i = 0; i < kSettingCount; ++i) EXPECT_EQ(read.header.settings[i], header.settings[i]);
  ASSERT_EQ(read.records.size(), records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE("record " + std::to_string(i));
    ExpectSameRecord(read.records[i], records[i]);
  }
  EXPECT_TRUE(read.hasTrailer);
  EXPECT_EQ(read.trailer.lost, UINT64_MAX);
  EXPECT_EQ(read.trailer.passedOn, 1234u);
}

TEST(RecordingText, AFileCutOffBeforeTheTrailerStillReads) {
  std::string text = FormatHeader(Header()) + FormatRecord(Keystroke());
  Recording read;
  std::string error;
  ASSERT_TRUE(ReadRecording(text, read, error)) << error;
  EXPECT_FALSE(read.hasTrailer);
  EXPECT_EQ(read.records.size(), 1u);
  // Windows line ends, as a file opened and saved in Notepad has them.
  std::string crlf;
  for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  ASSERT_TRUE(ReadRecording(crlf, read, error)) << error;
  ExpectSameRecord(read.records[0], Keystroke());
}

// The file is read by people first: a keystroke fits in a glance.
TEST(RecordingText, AKeystrokeReadsAtAGlance) {
  Record r;
  r.process = "notepad.exe";
  r.processId = 4120;
  r.threadId = 4124;
  r.time = 90210;
  r.wParam = 0xC0;
  r.lParam = 0x1A0001;
  r.wordsBefore[0] = 1;
  r.calls = {{CallId::GetFocus, {}, {}, {}, 0x10010},
             {CallId::ImmGetCompositionStringA, {0x5000, 0x8, 0x400}, {}, {0x82, 0xA0}, 2},
             {CallId::keybd_event, {0x1B, 0x64, 0x1, 0}, {}, {}, 0}};
  r.returned = 1;
  EXPECT_EQ(FormatRecord(r),
            "\n"
            "keystroke \"notepad.exe\" pid 4120 thread 4124 time 90210 64-bit\n"
            "  code 0 wParam 0xC0 lParam 0x1A0001  # 0xC0/0x1A down\n"
            "  words cancelEscDown=1\n"
            "  GetFocus -> 0x10010\n"
            "  ImmGetCompositionStringA 0x5000 0x8 0x400 -> 0x2 out 82 A0\n"
            "  keybd_event 0x1B 0x64 0x1 0\n"
            "  returned 0x1\n");
}

TEST(RecordingText, WordNamesAreTheLibrarys) {
  static_assert(kRecordedWordCount == kRuntimeWordCount);
  for (int i = 0; i < kRecordedWordCount; ++i) {
    Record r;
    r.wordsBefore[i] = 1;
    std::string text = FormatRecord(r);
    EXPECT_NE(text.find(std::string(" ") + kRuntimeWords[i].name + "=1"), std::string::npos) << text;
  }
}

// Broken files, each with the line and what the reader says of it. The
// text goes after a good header (5 + 27 lines) unless it starts with '!'.
struct Broken {
  const char* text;
  const char* error;
};

const Broken kBroken[] = {
    {"!", "line 1: empty file"},
    {"!hello", "line 1: not a tavik recording"},
    {"!tavik-recording 2", "line 1: format version 2 is not known"},
    {"!tavik-recording 1\ntavik \"1\nsetting", "line 2: unterminated string"},
    {"!tavik-recording 1\ntavik \"\\q\"", "line 2: bad escape in string"},
    {"!tavik-recording 1\nsetting NO SUCH KEY=1", "line 2: unknown setting NO SUCH KEY"},
    {"!tavik-recording 1\nsetting IME ON=1\nsetting IME ON=0", "line 3: setting IME ON given twice"},
    {"!tavik-recording 1\nsetting IME ON=x", "line 2: bad number for setting value: x"},
    {"!tavik-recording 1\nsetting IME ON=1\nkeystroke", "line 3: a header without every setting"},
    {"keystroke \"a\" pid 1 thread 2 time 3 16-bit", "line 33: bad bitness: 16-bit"},
    {"keystroke a pid 1 thread 2 time 3 64-bit", "line 33: the process name wants quotes"},
    {"keystroke \"a\" pid -1 thread 2 time 3 64-bit", "line 33: pid out of range: -1"},
    {"keystroke \"a\" pid 1 thread 0x100000000 time 3 64-bit", "line 33: thread out of range: 0x100000000"},
    {"keystroke \"a\" pid 1 thread 2 time 3 64-bit\n  returned 0", "line 34: expected code, found returned"},
    {"keystroke \"a\" pid 1 thread 2 time 3 64-bit\n  code 0 wParam 1 lParam 2\n",
     "line 33: a record without its returned line"},
    {"keystroke \"a\" pid 1 thread 2 time 3 64-bit\n  code 0 wParam 1 lParam 2\n  GetFocus 1 ->",
     "line 35: missing result"},
    {"keystroke \"a\" pid 1 thread 2 time 3 64-bit\n  code 0 wParam 1 lParam 2\n  GetFocus out 8 -> 1",
     "line 35: bad byte: 8"},
    {"keystroke \"a\" pid 1 thread 2 time 3 64-bit\n  code 0 wParam 1 lParam 2\n  SetFocus 1",
     "line 35: unknown line: SetFocus"},
    {"keystroke \"a\" pid 1 thread 2 time 3 64-bit\n  code 0 wParam 1 lParam 2\n  words nosuch=1",
     "line 35: unknown word nosuch"},
    {"keystroke \"a\" pid 1 thread 2 time 3 64-bit\n  code 0 wParam 1 lParam 2\n  in-flight 1 2 3 4 5 6 7 8 9 "
     "sent-behind 0",
     "line 35: in-flight wants up to 8 keys and sent-behind"},
    {"keystroke \"a\" pid 1 thread 2 time 3 64-bit\n  code 0 wParam 1 lParam 2\n  returned 0\n  GetFocus",
     "line 36: GetFocus after returned"},
    {"keystroke \"a\" pid 1 thread 2 time 3 64-bit\n  code 0 wParam 1 lParam 2\n  clock 1 2 3 4 5 6 7 8 9",
     "line 35: too many arguments"},
    {"message \"a\" pid 1 thread 2 time 3 64-bit\n  code 0 wParam 1 lParam 2\n",
     "line 34: missing code, wParam, lParam and message"},
    {"settings \"a\" pid 1 thread 2 time 3 64-bit\n  setting IME ON=1",
     "line 33: a settings record without every setting"},
    {"stopped lost 1 passed-on 2\nkeystroke", "line 34: unexpected keystroke after the trailer"},
    {"stopped lost -1 passed-on 2", "line 33: lost count out of range: -1"},
};

TEST(RecordingText, BrokenFilesNameTheirLine) {
  std::string header = FormatHeader(Header());
  ASSERT_EQ(std::count(header.begin(), header.end(), '\n'), 32) << "the table counts on the header's size";
  for (const Broken& b : kBroken) {
    std::string text = b.text[0] == '!' ? std::string(b.text + 1) : header + std::string(b.text);
    Recording read;
    std::string error;
    EXPECT_FALSE(ReadRecording(text, read, error)) << b.text;
    EXPECT_EQ(error, b.error) << b.text;
  }
}

}  // namespace
}  // namespace tavik
