// The shared block's words by the names scenarios use: the runtime words,
// the two hook handles, and the setting flags by their keys.
#pragma once

#include <cstdint>
#include <string>

#include "hook/shared_block.h"

namespace tavik::sim {

bool IsBlockWord(const std::string& name);

// The word's value; handles read as their numeric value.
int64_t ReadBlockWord(const HookSharedBlock& block, const std::string& name);
void WriteBlockWord(HookSharedBlock& block, const std::string& name, int64_t value);

}  // namespace tavik::sim
