// The tray program's side of a record's binary form: a slot back into a
// Record. Not part of the hook library (it builds vectors).
#pragma once

#include <cstdint>
#include <functional>

#include "common/recording.h"

namespace tavik {

// False when the slot's bytes are not a whole record (a writer killed
// half-way, or a slot given up on and written over): never reads past
// slot.length, nor past the slot.
bool DecodeRecord(const RecordSlot& slot, Record& record);

// Takes the ring's completed records in ticket order. A ticket taken but
// not completed (its writer was killed half-way) must not hold the rest
// back for ever: after kGiveUpAfter, or when recording stops, it is given
// up on and counted lost, as is a slot that does not decode.
class RecordingDrain {
 public:
  static constexpr uint32_t kGiveUpAfter = 2000;  // ms

  // Calls `take` with each record, oldest first. `final`: recording has
  // stopped, nothing more will complete.
  void Drain(RecordingBlock& ring, uint32_t now, bool final, const std::function<void(const Record&)>& take);
  uint64_t lost() const { return lost_; }

 private:
  uint64_t waitingTicket_ = ~uint64_t{0};
  uint32_t waitingSince_ = 0;
  uint64_t lost_ = 0;
};

}  // namespace tavik
