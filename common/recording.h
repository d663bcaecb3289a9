// A recording: what the hook libraries were told by Windows and what they
// did, keystroke by keystroke, so that a problem met on a user's machine can
// be replayed here on the simulated desktop.
//
// Three parties share this header:
//  - the hook libraries (both bitnesses) append binary records to a ring in
//    a named block, without heap or locks;
//  - the tray program creates that block, drains it on a timer, decodes each
//    record into a `Record` and writes it to the recording file as text;
//  - tavik-sim reads the text back into `Record`s and replays them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/settings.h"

namespace tavik {

// ---------------------------------------------------------------------------
// The named block (binary, one layout for 32 and 64 bits: fixed-width words
// only, every offset a multiple of the word's size).

inline constexpr char kRecordingBlockName[] = "Local\\tavik-recording";

inline constexpr uint32_t kRecordSlotSize = 8192;  // bytes per slot, the head included
inline constexpr uint32_t kRecordSlotCount = 512;   // a power of two: ticket % count is the slot

// One slot. A library takes a ticket with an atomic fetch_add on
// RecordingBlock::next, writes `bytes`, then stores ticket + 1 into
// `complete` with release order; the tray program reads `complete` with
// acquire order and takes the slot only when it equals its ticket + 1.
struct RecordSlot {
  uint64_t complete;
  uint32_t length;  // bytes used in `bytes`
  uint32_t reserved;
  uint8_t bytes[kRecordSlotSize - 16];
};
static_assert(sizeof(RecordSlot) == kRecordSlotSize);

struct alignas(8) RecordingBlockHead {
  uint64_t next;      // tickets handed out
  uint64_t drained;   // tickets the tray program has taken (or given up on)
  uint64_t lost;      // records not written because the ring was full
  uint64_t passedOn;  // keystrokes the first look passed on: counted, not recorded
  uint64_t reserved[4];
};
static_assert(sizeof(RecordingBlockHead) == 64);

struct alignas(8) RecordingBlock {
  RecordingBlockHead head;
  RecordSlot slot[kRecordSlotCount];
};

// ---------------------------------------------------------------------------
// A record, decoded. The binary encoding inside a slot is private to the
// library's writer and the tray program's decoder (one pair of functions,
// tested against each other); everything else works on this.

enum class RecordKind : uint8_t {
  kKeystroke,  // the keyboard hook procedure, after the first look claimed it
  kMessage,    // the message hook procedure
  kSettings,   // the flags as HookStart read them
};

// Every InputPlatform call, in the interface's order. The text names a call
// by its Win32 name (kCallNames).
enum class CallId : uint8_t {
  GetFocus,
  GetKeyboardLayout,
  GetKeyState,
  GetAsyncKeyState,
  keybd_event,
  SendInput,
  SetWindowsHookExA,
  UnhookWindowsHookEx,
  CallNextHookEx,
  ImmGetContext,
  ImmReleaseContext,
  ImmGetOpenStatus,
  ImmSetOpenStatus,
  ImmGetConversionStatus,
  ImmSetConversionStatus,
  ImmNotifyIME,
  ImmGetCompositionStringA,
  ImmGetCandidateListA,
  ImmGetIMEFileNameA,
  ImmConfigureIMEA,
  GetModuleFileNameA,
  GlobalAlloc,
  GlobalLock,
  GlobalFree,
  GetPrivateProfileStringA,
  clock,
  kCount
};

inline constexpr const char* kCallNames[] = {
    "GetFocus",          "GetKeyboardLayout",       "GetKeyState",              "GetAsyncKeyState",
    "keybd_event",       "SendInput",               "SetWindowsHookExA",        "UnhookWindowsHookEx",
    "CallNextHookEx",    "ImmGetContext",           "ImmReleaseContext",        "ImmGetOpenStatus",
    "ImmSetOpenStatus",  "ImmGetConversionStatus",  "ImmSetConversionStatus",   "ImmNotifyIME",
    "ImmGetCompositionStringA", "ImmGetCandidateListA", "ImmGetIMEFileNameA",   "ImmConfigureIMEA",
    "GetModuleFileNameA", "GlobalAlloc",            "GlobalLock",               "GlobalFree",
    "GetPrivateProfileStringA", "clock"};
static_assert(sizeof kCallNames / sizeof kCallNames[0] == static_cast<size_t>(CallId::kCount));

// One platform call. How each call's parameters map here (the replay
// platform compares `args` and `in`, copies `out` to the caller's buffer and
// returns `result`):
//  - `args`: the call's value parameters in their order, each widened to 64
//    bits; a pointer parameter is not a value: it is left out of `args`.
//  - `in`: bytes the call reads through a pointer: SendInput's records
//    (each as wVk, wScan, dwFlags: 8 bytes, little-endian), the profile
//    call's strings (app, key, default, file name, each with its NUL).
//  - `out`: bytes the call wrote through a pointer, as many as it reports:
//    ImmGetConversionStatus's two words (8 bytes); the composition string's
//    or attributes' bytes (none when lpBuf is null: the length query);
//    the candidate list's header (its first 24 bytes, or fewer if the
//    result is smaller); the IME file name's and the module file name's
//    characters; the profile call's returned string.
//  - `result`: the return value widened to 64 bits (void calls: 0). A
//    handle is its value; GlobalLock's pointer is 0 or 1 (null or not).
struct RecordedCall {
  CallId id = CallId::GetFocus;
  std::vector<uint64_t> args;
  std::vector<uint8_t> in;
  std::vector<uint8_t> out;
  int64_t result = 0;
};

inline constexpr int kRecordedWordCount = 18;  // RuntimeWords, in kRuntimeWords' order

struct Record {
  RecordKind kind = RecordKind::kKeystroke;
  uint32_t bitness = 64;      // 64 or 32: which library wrote it
  std::string process;        // the executable's file name, no folder
  uint32_t processId = 0;
  uint32_t threadId = 0;
  uint32_t time = 0;          // GetTickCount() when the procedure was entered
  // kKeystroke, kMessage: what the procedure was called with.
  int32_t code = 0;
  uint64_t wParam = 0;
  int64_t lParam = 0;         // kMessage: 0 (a pointer); see `message`
  uint32_t message = 0;       // kMessage: the message number the procedure read
  int32_t wordsBefore[kRecordedWordCount] = {};
  // The rest of the library's state before it, which a replay sets up too:
  // the keystrokes it had sent that were still out (SendsInFlight::Packed,
  // oldest first) with its sentBehind count, and the process's armedTime.
  std::vector<uint32_t> inFlight;
  uint32_t sentBehind = 0;
  int32_t armedTime = 0;
  std::vector<RecordedCall> calls;
  int64_t returned = 0;
  bool truncated = false;     // the calls did not all fit in the slot
  // kSettings: the flags.
  int32_t settings[kSettingCount] = {};
};

// The file's header, written once when recording starts.
struct RecordingHeader {
  std::string tavikVersion;
  std::string windowsVersion;
  std::vector<std::string> keyboardLayouts;  // as "0x04110411"
  std::vector<std::string> imeFileNames;
  int32_t settings[kSettingCount] = {};
};

// The file's trailer, written when recording stops.
struct RecordingTrailer {
  uint64_t lost = 0;      // records lost to a full ring
  uint64_t passedOn = 0;  // keystrokes passed on at the first look
};

// The text form. One record a block; FormatRecord's output ends with a
// newline. ReadRecording never throws and never crashes on any input: on a
// malformed or truncated file it returns false with `error` naming the line
// ("line 12: ...").
std::string FormatHeader(const RecordingHeader& header);
std::string FormatRecord(const Record& record);
std::string FormatTrailer(const RecordingTrailer& trailer);

struct Recording {
  RecordingHeader header;
  std::vector<Record> records;
  RecordingTrailer trailer;
  bool hasTrailer = false;  // a file cut off while recording has none
};
bool ReadRecording(const std::string& text, Recording& recording, std::string& error);

}  // namespace tavik
