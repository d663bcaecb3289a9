// A record's binary form inside its slot, shared by the libraries' writer
// (hook/recording_platform.cpp) and the tray program's decoder
// (hook/recording_decode.cpp). Both bitnesses write it, so every field is
// fixed-width and little-endian, and each is copied with memcpy: nothing in
// the slot is read in place.
//
//   RecordHead, the process name (head.nameLength bytes, no NUL), then
//   - kSettings: kSettingCount int32 flags;
//   - kKeystroke, kMessage: items, each a tag byte and its fields:
//       kCallTag: id u8, argCount u8, inLength u16, outLength u16,
//                 result i64, args u64 x argCount, `in` bytes, `out` bytes
//       kEndTag:  returned i64 (always the last item; room for it is kept)
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/recording.h"

namespace tavik::recording_format {

struct RecordHead {
  uint8_t kind;  // RecordKind
  uint8_t bitness;
  uint8_t truncated;  // a call did not fit: it and every later call are left out
  uint8_t nameLength;
  uint32_t processId;
  uint32_t threadId;
  uint32_t time;
  int32_t code;
  uint32_t message;
  uint64_t wParam;
  int64_t lParam;
  int32_t words[kRecordedWordCount];
  uint32_t inFlight[8];
  uint32_t inFlightCount;
  uint32_t sentBehind;
  int32_t armedTime;
  uint32_t reserved;  // the same size in both bitnesses
};
static_assert(sizeof(RecordHead) == 160);
static_assert(offsetof(RecordHead, wParam) == 24);

inline constexpr uint8_t kCallTag = 1;
inline constexpr uint8_t kEndTag = 2;
inline constexpr uint32_t kCallFixed = 1 + 1 + 1 + 2 + 2 + 8;  // tag to result
inline constexpr uint32_t kEndSize = 1 + 8;
inline constexpr uint32_t kMaxArgs = 4;
inline constexpr uint32_t kSlotBytes = sizeof(RecordSlot::bytes);

}  // namespace tavik::recording_format
