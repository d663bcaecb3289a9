// The tray program's side of a record's binary form: a slot back into a
// Record. Not part of the hook library (it builds vectors).
#pragma once

#include "common/recording.h"

namespace tavik {

// False when the slot's bytes are not a whole record (a writer killed
// half-way, or a slot given up on and written over): never reads past
// slot.length, nor past the slot.
bool DecodeRecord(const RecordSlot& slot, Record& record);

}  // namespace tavik
