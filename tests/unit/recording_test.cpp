// Recording in the hook library, on the simulated desktop: what a record
// holds, that recording changes nothing the applications get, that every
// call the library makes on a recorded keystroke is in its record, the full
// ring, and the slot's binary form against its decoder.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "hook/recording_decode.h"
#include "hook/recording_format.h"
#include "hook/recording_platform.h"
#include "sim/library_hooks.h"
#include "sim/replay.h"
#include "tray/recording.h"

namespace tavik {
namespace {

constexpr uint32_t kVkAt = 0xC0;
constexpr uint32_t kVkA = 0x41;

struct Key {
  uint32_t vk;
  uint32_t scanKey;
};
// A session that reaches the cancel key, the Space commit, direct commit,
// the conversion keys and plain letters.
constexpr Key kSession[] = {{kVkA, 0x1E}, {kVkAt, 0x1A}, {w32::VK_SPACE, 0x39}, {kVkA, 0x1E},
                            {w32::VK_CONVERT, 0x79}, {w32::VK_RETURN, 0x1C}, {kVkAt, 0x1A}};

struct Session {
  Session() {
    desktop.AddWindow("editor");
    desktop.SetFocus("editor");
    for (Setting s : {kTorikeshiKey, kOasysKakutei, kKakuteiInput}) block.flag[s] = 1;
    sim::Window& w = *desktop.Focused();
    w.open = true;
    w.conversion = 0x19;
    w.composition = "\x83\x4A\x83\x69";  // katakana, converted
    w.attributes = "\x02\x02\x02\x02";
    sim::RunLibraryHooks(desktop, block, &recording);
    recording.Attach(desktop.Running());
    block.SetKeyboardHook(desktop.SetWindowsHookExA(w32::WH_KEYBOARD, sim::kKeyboardProcToken, sim::kModuleInstance, 0));
    block.SetMessageHook(desktop.SetWindowsHookExA(w32::WH_GETMESSAGE, sim::kMessageProcToken, sim::kModuleInstance, 0));
  }

  void Tap(const Key& key) {
    desktop.Keystroke(0, key.vk, sim::KeystrokeLParam(key.scanKey, false, false));
    desktop.RetrieveMessage(0, true, w32::WM_IME_COMPOSITION, sim::kCompositionChanged);
    desktop.RetrieveMessage(0, true, 0x102);  // WM_CHAR: no IME message, counted only
    desktop.Keystroke(0, key.vk, sim::KeystrokeLParam(key.scanKey, true, true));
  }
  void TypeSession() {
    for (const Key& key : kSession) Tap(key);
  }

  std::vector<Record> Drain(bool final = true) {
    std::vector<Record> records;
    drain.Drain(recording.ring(), 0, final, [&](const Record& r) { records.push_back(r); });
    return records;
  }

  ProcessVariables& process() { return desktop.Running().variables; }

  sim::Desktop desktop;
  HookSharedBlock block{};
  sim::SimRecording recording{desktop};
  RecordingDrain drain;
};

class RecordingTest : public ::testing::Test, public Session {};

TEST_F(RecordingTest, OffTheRingIsNeverTouched) {
  TypeSession();
  EXPECT_EQ(recording.ring().head.next, 0u);
  EXPECT_EQ(recording.ring().head.passedOn, 0u);
}

TEST_F(RecordingTest, RecordingChangesNothingTheLibraryDoes) {
  TypeSession();
  std::vector<std::string> off = desktop.TraceLines();

  Session on;
  on.block.recordingSession = 5;
  on.TypeSession();
  EXPECT_EQ(on.desktop.TraceLines(), off);
  EXPECT_GT(on.recording.ring().head.next, 0u);
}

// Every call the library made is in a record, in order, except the one
// CallNextHookEx of each keystroke or message passed on unrecorded.
TEST_F(RecordingTest, EveryCallOfARecordedKeystrokeIsInItsRecord) {
  block.recordingSession = 5;
  size_t first = desktop.events().size();
  TypeSession();
  std::vector<Record> records = Drain();
  const RecordingBlockHead& head = recording.ring().head;
  EXPECT_EQ(head.lost, 0u);
  EXPECT_EQ(drain.lost(), 0u);
  ASSERT_EQ(records.size(), head.next);

  std::vector<sim::PlatformCall> made = desktop.Calls(first);
  std::vector<std::string> recorded;
  for (const Record& r : records) {
    EXPECT_FALSE(r.truncated);
    for (const RecordedCall& c : r.calls) recorded.push_back(kCallNames[static_cast<int>(c.id)]);
  }
  EXPECT_EQ(recorded.size() + head.passedOn, made.size());
  size_t at = 0;
  for (const sim::PlatformCall& call : made) {
    if (at < recorded.size() && call.function == recorded[at]) ++at;
  }
  EXPECT_EQ(at, recorded.size()) << "recorded calls out of the library's order";
}

// The whole way: recorded here, drained, written as text, read back and
// replayed through the library again with nothing diverging.
TEST_F(RecordingTest, ARecordedSessionReplaysWithoutADivergence) {
  block.recordingSession = 5;
  desktop.profiles().SetFile(kSettingsFile, "[TAVIK]\r\nOASYS KAKUTEI=1\r\nKAKUTEI INPUT=1\r\n");
  HookStart(desktop, block, process(), sim::kModuleInstance, sim::kKeyboardProcToken, sim::kMessageProcToken);
  TypeSession();
  RecordingHeader header;
  std::string text = FormatHeader(header);
  for (const Record& r : Drain()) text += FormatRecord(r);
  text += FormatTrailer({recording.ring().head.lost, recording.ring().head.passedOn});

  Recording read;
  std::string error;
  ASSERT_TRUE(ReadRecording(text, read, error)) << error;
  sim::ReplayResult replayed = sim::Replay(read, sim::RecordLines(text));
  EXPECT_GT(replayed.replayed, 20);
  EXPECT_EQ(replayed.diverged, 0) << testing::PrintToString(replayed.report);
}

TEST_F(RecordingTest, ARecordHoldsTheKeystrokeTheStateBeforeItAndWhatCameOfIt) {
  block.recordingSession = 5;
  desktop.Focused()->composition.clear();
  desktop.Focused()->attributes.clear();
  desktop.SetClock(1234);
  process().armedTime = 77;
  Tap({0x74, 0x3F});  // F5, no stage's: counted, not recorded
  // Its key-down, key-up and WM_CHAR are counted; the IME's message is recorded.
  EXPECT_EQ(recording.ring().head.passedOn, 3u);
  std::vector<Record> records = Drain();
  ASSERT_EQ(records.size(), 1u);
  const Record& message = records[0];
  EXPECT_EQ(message.kind, RecordKind::kMessage);
  EXPECT_EQ(message.message, w32::WM_IME_COMPOSITION);
  EXPECT_EQ(message.lParam, 0);
  ASSERT_EQ(message.calls.size(), 1u);
  EXPECT_EQ(message.calls[0].args.back(), 0u) << "the message's pointer is not recorded";

  Tap({kVkAt, 0x1A});
  records = Drain();
  ASSERT_GE(records.size(), 3u);

  const Record& at = records[0];
  EXPECT_EQ(at.kind, RecordKind::kKeystroke);
  EXPECT_EQ(at.process, "app");
  EXPECT_EQ(at.bitness, sizeof(void*) * 8);
  EXPECT_EQ(at.time, 1234u);
  EXPECT_EQ(at.wParam, kVkAt);
  EXPECT_EQ(at.lParam, sim::KeystrokeLParam(0x1A, false, false));
  EXPECT_EQ(at.armedTime, 77);
  EXPECT_EQ(at.wordsBefore[0], 0);  // cancelEscDown
  EXPECT_EQ(at.returned, 1);
  bool sentEsc = false;
  for (const RecordedCall& c : at.calls) {
    if (c.id == CallId::ImmGetConversionStatus) {
      EXPECT_EQ(c.out, (std::vector<uint8_t>{0x19, 0, 0, 0, 0, 0, 0, 0}));
    }
    sentEsc = sentEsc || (c.id == CallId::keybd_event && c.args.size() == 4 && c.args[0] == w32::VK_ESCAPE);
  }
  EXPECT_TRUE(sentEsc);

  // The Esc comes back while it is out: recorded with what was out; then
  // "@"'s key-up, with the Esc down before it.
  EXPECT_EQ(records[1].wParam, w32::VK_ESCAPE);
  EXPECT_EQ(records[1].inFlight.size(), 1u);
  const Record& up = records[records.size() - 2];
  EXPECT_EQ(up.wParam, kVkAt);
  EXPECT_EQ(up.wordsBefore[0], 1);
}

TEST_F(RecordingTest, HookStartLeavesTheSettingsItRead) {
  block.recordingSession = 9;
  desktop.profiles().SetFile(kSettingsFile, "[TAVIK]\r\nTORIKESHI KEY=0\r\nKAKUTEI INPUT=1\r\n");
  HookStart(desktop, block, process(), sim::kModuleInstance, sim::kKeyboardProcToken, sim::kMessageProcToken);
  std::vector<Record> records = Drain();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].kind, RecordKind::kSettings);
  EXPECT_TRUE(std::equal(std::begin(block.flag), std::end(block.flag), records[0].settings));
  EXPECT_EQ(records[0].settings[kTorikeshiKey], 0);
  EXPECT_EQ(records[0].settings[kKakuteiInput], 1);
}

// A full ring loses records, never keystrokes, and leaves no ticket behind
// that the drain would wait on; drained, it records again.
TEST_F(RecordingTest, AFullRingLosesRecordsNotKeystrokes) {
  block.recordingSession = 5;
  for (int i = 0; i < 300; ++i) Tap({kVkAt, 0x1A});
  RecordingBlockHead& head = recording.ring().head;
  EXPECT_EQ(head.next, kRecordSlotCount);
  EXPECT_GT(head.lost, 0u);
  EXPECT_EQ(desktop.Focused()->received.size(), 600u);  // Esc down and up for each "@"
  EXPECT_EQ(Drain(false).size(), kRecordSlotCount);
  EXPECT_EQ(drain.lost(), 0u);
  uint64_t lost = head.lost;
  Tap({kVkAt, 0x1A});
  EXPECT_EQ(head.lost, lost);
  EXPECT_EQ(Drain(false).size(), head.next - kRecordSlotCount);
}

// A ticket taken and never completed is waited on for a while, then given
// up and counted; the records behind it come through.
TEST_F(RecordingTest, ARecordNeverCompletedIsGivenUpAfterAWhile) {
  block.recordingSession = 5;
  RecordingBlockHead& head = recording.ring().head;
  head.next = 1;  // a writer took ticket 0 and was killed
  Tap({kVkAt, 0x1A});
  std::vector<Record> got;
  auto take = [&](const Record& r) { got.push_back(r); };
  drain.Drain(recording.ring(), 100, false, take);
  drain.Drain(recording.ring(), 100 + RecordingDrain::kGiveUpAfter - 1, false, take);
  EXPECT_TRUE(got.empty());
  drain.Drain(recording.ring(), 100 + RecordingDrain::kGiveUpAfter, false, take);
  EXPECT_EQ(got.size(), head.next - 1);
  EXPECT_EQ(drain.lost(), 1u);
  EXPECT_EQ(head.drained, head.next);
}

}  // namespace

// --- The slot's binary form -------------------------------------------------------

namespace {

struct CallRow {
  CallId id;
  std::vector<uint64_t> args;
  std::vector<uint8_t> in;
  std::vector<uint8_t> out;
  int64_t result;
};
const CallRow kCalls[] = {
    {CallId::GetFocus, {}, {}, {}, 0x30001},
    {CallId::GetKeyState, {0xFFFFFFFFFFFFFFF0u}, {}, {}, -128},
    {CallId::ImmGetCompositionStringA, {0x5000, 8, 1024}, {}, {0x82, 0xA0, 0x82, 0xA2}, 4},
    {CallId::SendInput, {1}, {0x41, 0, 0x1E, 0, 2, 0, 0, 0}, {}, 1},
    {CallId::CallNextHookEx, {0x10, 0, 0xC0, 0x1A0001}, {}, {}, -1},
};

class SlotTest : public ::testing::Test {
 protected:
  SlotTest() {
    std::strcpy(process.exeName, "notepad.exe");
    process.recording = &source;
  }
  struct Source final : RecordingSource {
    RecordingBlock* RecordingBlockOf(uint32_t) override { return nullptr; }
    uint32_t GetCurrentProcessId() override { return 0x1234; }
    uint32_t GetCurrentThreadId() override { return 0x5678; }
    uint32_t GetTickCount() override { return 99; }
  } source;
  std::unique_ptr<RecordingBlock> ring = std::make_unique<RecordingBlock>();
  HookSharedBlock block{};
  ProcessVariables process;
};

TEST_F(SlotTest, WhatIsWrittenDecodesAsItWas) {
  block.runtime.owed.tabResent = 1;
  block.inFlight.Note(0x1234);
  block.inFlight.Note(0x5678);
  SlotWriter w(*ring, RecordKind::kKeystroke, block, process, 0, 0xC0, -5, 0);
  ASSERT_TRUE(w.taken());
  for (const CallRow& c : kCalls) {
    w.Call(c.id, c.args.data(), static_cast<uint32_t>(c.args.size()), c.in.data(), static_cast<uint32_t>(c.in.size()),
           c.out.data(), static_cast<uint32_t>(c.out.size()), c.result);
  }
  w.End(-7);
  EXPECT_EQ(ring->slot[0].complete, 1u);

  Record r;
  ASSERT_TRUE(DecodeRecord(ring->slot[0], r));
  EXPECT_EQ(r.process, "notepad.exe");
  EXPECT_EQ(r.processId, 0x1234u);
  EXPECT_EQ(r.threadId, 0x5678u);
  EXPECT_EQ(r.time, 99u);
  EXPECT_EQ(r.wParam, 0xC0u);
  EXPECT_EQ(r.lParam, -5);
  EXPECT_EQ(r.wordsBefore[10], 1);  // tabResent, in the block's order
  EXPECT_EQ(r.inFlight, (std::vector<uint32_t>{0x1234, 0x5678}));
  EXPECT_EQ(r.returned, -7);
  EXPECT_FALSE(r.truncated);
  ASSERT_EQ(r.calls.size(), std::size(kCalls));
  for (size_t i = 0; i < std::size(kCalls); ++i) {
    EXPECT_EQ(r.calls[i].id, kCalls[i].id) << i;
    EXPECT_EQ(r.calls[i].args, kCalls[i].args) << i;
    EXPECT_EQ(r.calls[i].in, kCalls[i].in) << i;
    EXPECT_EQ(r.calls[i].out, kCalls[i].out) << i;
    EXPECT_EQ(r.calls[i].result, kCalls[i].result) << i;
  }
}

TEST_F(SlotTest, CallsThatDoNotFitAreLeftOutAndTheRecordMarkedTruncated) {
  SlotWriter w(*ring, RecordKind::kKeystroke, block, process, 0, 0x20, 0, 0);
  std::vector<uint8_t> composition(1024, 0x82);
  uint64_t args[] = {0x5000, 8, 1024};
  for (int i = 0; i < 12; ++i) w.Call(CallId::ImmGetCompositionStringA, args, 3, nullptr, 0, composition.data(), 1024, 1024);
  w.Call(CallId::GetFocus, nullptr, 0, nullptr, 0, nullptr, 0, 1);  // would fit, but follows a missing call
  w.End(1);
  EXPECT_LE(ring->slot[0].length, sizeof ring->slot[0].bytes);
  Record r;
  ASSERT_TRUE(DecodeRecord(ring->slot[0], r));
  EXPECT_TRUE(r.truncated);
  EXPECT_EQ(r.calls.size(), 7u);
  EXPECT_EQ(r.calls.back().id, CallId::ImmGetCompositionStringA);
  EXPECT_EQ(r.returned, 1);
}

// Garbage never decodes past `length`, and a cut record never decodes.
TEST_F(SlotTest, TheDecoderRefusesWhatIsNotAWholeRecord) {
  SlotWriter w(*ring, RecordKind::kKeystroke, block, process, 0, 0x20, 0, 0);
  for (const CallRow& c : kCalls) {
    w.Call(c.id, c.args.data(), static_cast<uint32_t>(c.args.size()), c.in.data(), static_cast<uint32_t>(c.in.size()),
           c.out.data(), static_cast<uint32_t>(c.out.size()), c.result);
  }
  w.End(0);
  RecordSlot& slot = ring->slot[0];
  const uint32_t whole = slot.length;
  Record r;
  for (uint32_t n = 0; n < whole; ++n) {
    slot.length = n;
    EXPECT_FALSE(DecodeRecord(slot, r)) << "cut at " << n;
  }
  slot.length = sizeof slot.bytes + 1;
  EXPECT_FALSE(DecodeRecord(slot, r));

  // Random bytes behind a plausible head: decoded or refused, never read
  // beyond the length (the sanitizer build checks the reads).
  std::mt19937 rng(8);
  auto slotCopy = std::make_unique<RecordSlot>();
  for (int round = 0; round < 2000; ++round) {
    slotCopy->length = sizeof(recording_format::RecordHead) + rng() % 200;
    std::memcpy(slotCopy->bytes, slot.bytes, sizeof(recording_format::RecordHead));
    for (uint32_t i = sizeof(recording_format::RecordHead); i < slotCopy->length; ++i) {
      slotCopy->bytes[i] = static_cast<uint8_t>(rng() % 4 == 0 ? rng() % 3 : rng());
    }
    DecodeRecord(*slotCopy, r);
  }
}

}  // namespace
}  // namespace tavik
