#include "hook/recording_decode.h"

#include <atomic>
#include <cstring>

#include "hook/recording_format.h"

namespace tavik {

namespace fmt = recording_format;

namespace {

// Reads fields in order; once anything runs past the end, every later read
// fails too.
class Reader {
 public:
  Reader(const uint8_t* bytes, uint32_t length) : bytes_(bytes), length_(length) {}

  template <typename T>
  bool Get(T& value) {
    return Bytes(&value, sizeof value);
  }
  bool Bytes(void* out, uint32_t n) {
    if (!Has(n)) return false;
    if (n != 0) std::memcpy(out, bytes_ + used_, n);
    used_ += n;
    return true;
  }
  bool Has(uint32_t n) const { return ok_ && n <= length_ - used_; }
  bool AtEnd() const { return used_ == length_; }
  void Fail() { ok_ = false; }

 private:
  const uint8_t* bytes_;
  uint32_t length_;
  uint32_t used_ = 0;
  bool ok_ = true;
};

bool DecodeCall(Reader& in, RecordedCall& call) {
  uint8_t id = 0, argCount = 0;
  uint16_t inLength = 0, outLength = 0;
  if (!in.Get(id) || !in.Get(argCount) || !in.Get(inLength) || !in.Get(outLength) || !in.Get(call.result)) return false;
  if (id >= static_cast<uint8_t>(CallId::kCount) || argCount > fmt::kMaxArgs) return false;
  call.id = static_cast<CallId>(id);
  call.args.resize(argCount);
  for (uint64_t& arg : call.args) {
    if (!in.Get(arg)) return false;
  }
  if (!in.Has(inLength)) return false;
  call.in.resize(inLength);
  in.Bytes(call.in.data(), inLength);
  if (!in.Has(outLength)) return false;
  call.out.resize(outLength);
  return in.Bytes(call.out.data(), outLength);
}

}  // namespace

bool DecodeRecord(const RecordSlot& slot, Record& record) {
  if (slot.length > fmt::kSlotBytes) return false;
  Reader in(slot.bytes, slot.length);
  fmt::RecordHead head;
  if (!in.Get(head)) return false;
  if (head.kind > static_cast<uint8_t>(RecordKind::kSettings) || (head.bitness != 32 && head.bitness != 64) ||
      head.inFlightCount > 8) {
    return false;
  }
  record = Record{};
  record.kind = static_cast<RecordKind>(head.kind);
  record.bitness = head.bitness;
  record.process.resize(head.nameLength);
  if (!in.Bytes(record.process.data(), head.nameLength)) return false;
  record.processId = head.processId;
  record.threadId = head.threadId;
  record.time = head.time;
  record.code = head.code;
  record.wParam = head.wParam;
  record.lParam = head.lParam;
  record.message = head.message;
  std::memcpy(record.wordsBefore, head.words, sizeof record.wordsBefore);
  record.inFlight.assign(head.inFlight, head.inFlight + head.inFlightCount);
  record.sentBehind = head.sentBehind;
  record.armedTime = head.armedTime;
  record.truncated = head.truncated != 0;

  if (record.kind == RecordKind::kSettings) {
    return in.Bytes(record.settings, sizeof record.settings) && in.AtEnd();
  }
  for (;;) {
    uint8_t tag = 0;
    if (!in.Get(tag)) return false;
    if (tag == fmt::kEndTag) return in.Get(record.returned) && in.AtEnd();
    if (tag != fmt::kCallTag) return false;
    // A record holds at most a slot's worth of calls: garbage cannot make it grow without end.
    if (!DecodeCall(in, record.calls.emplace_back())) return false;
  }
}

void RecordingDrain::Drain(RecordingBlock& ring, uint32_t now, bool final,
                           const std::function<void(const Record&)>& take) {
  std::atomic_ref<uint64_t> drained(ring.head.drained);
  uint64_t next = std::atomic_ref<uint64_t>(ring.head.next).load(std::memory_order_acquire);
  for (uint64_t ticket = drained.load(std::memory_order_relaxed); ticket < next; ++ticket) {
    RecordSlot& slot = ring.slot[ticket % kRecordSlotCount];
    if (std::atomic_ref<uint64_t>(slot.complete).load(std::memory_order_acquire) == ticket + 1) {
      Record record;
      if (DecodeRecord(slot, record)) {
        take(record);
      } else {
        ++lost_;
      }
    } else if (final || (ticket == waitingTicket_ && now - waitingSince_ >= kGiveUpAfter)) {
      ++lost_;
    } else {
      if (ticket != waitingTicket_) {
        waitingTicket_ = ticket;
        waitingSince_ = now;
      }
      return;
    }
    // The slot is the writers' again only once it has been read.
    drained.store(ticket + 1, std::memory_order_release);
  }
}

}  // namespace tavik
