// The programs the user wants tavik to leave alone (a game, a remote
// desktop, an editor with key handling of its own): in them the keyboard
// hook passes every keystroke on at its first look and the message hook does
// nothing.
#include <atomic>

#include "hook/byte_classes.h"
#include "hook/shared_block.h"

namespace tavik {

namespace {

// Blanks around a name are the file's layout, not part of the name.
bool Blank(char c) { return c == ' ' || c == '\t'; }

char FoldCase(char c) { return cp932::LowerLetter(static_cast<uint8_t>(c)) ? static_cast<char>(c - 0x20) : c; }

// Windows compares file names without regard to case; only single-byte
// letters fold, never the second byte of a two-byte character.
bool SameFileName(const char* a, uint32_t aLength, const char* b) {
  uint32_t i = 0;
  for (; i < aLength && b[i] != '\0'; ++i) {
    if (cp932::LeadByte(static_cast<uint8_t>(a[i])) && i + 1 < aLength) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
      ++i;
      continue;
    }
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return i == aLength && b[i] == '\0';
}

}  // namespace

void ReadProgramsLeftAlone(InputPlatform& platform, HookSharedBlock& block) {
  // Read into more room than the block has, so that a name the block cannot
  // hold is seen whole and left out, not cut.
  char value[4 * ProgramsLeftAlone::kSize];
  uint32_t length =
      platform.GetPrivateProfileStringA(kSettingsSection, kLeaveAloneKey, "", value, sizeof value, kSettingsFile);
  if (length >= sizeof value) length = sizeof value - 1;
  // A value that filled the buffer may end in a cut name.
  bool cut = length == sizeof value - 1;
  value[length] = '\0';

  ProgramsLeftAlone& list = block.leftAlone;
  uint32_t out = 0;
  uint32_t start = 0;
  while (start < length) {
    uint32_t end = start;
    while (end < length && value[end] != kLeaveAloneSeparator) ++end;
    uint32_t first = start;
    uint32_t last = end;
    while (first < last && Blank(value[first])) ++first;
    while (last > first && Blank(value[last - 1])) --last;
    bool whole = end < length || !cut;
    uint32_t need = (out == 0 ? 0 : 1) + (last - first);
    if (last > first && whole && out + need < ProgramsLeftAlone::kSize) {
      if (out != 0) list.names[out++] = kLeaveAloneSeparator;
      for (uint32_t i = first; i < last; ++i) list.names[out++] = value[i];
    }
    start = end + 1;
  }
  list.names[out] = '\0';
  std::atomic_ref<uint32_t>(list.generation).fetch_add(2, std::memory_order_release);
}

bool CompareWithProgramsLeftAlone(const HookSharedBlock& block, ProcessVariables& process, uint32_t generation) {
  // The names may be rewritten meanwhile: every read stays inside them, and
  // the generation raised after the rewrite brings this program back here.
  bool listed = false;
  const char* names = block.leftAlone.names;
  for (uint32_t start = 0; !listed && start < ProgramsLeftAlone::kSize && names[start] != '\0';) {
    uint32_t end = start;
    while (end < ProgramsLeftAlone::kSize && names[end] != '\0' && names[end] != kLeaveAloneSeparator) ++end;
    listed = process.exeName[0] != '\0' && SameFileName(names + start, end - start, process.exeName);
    start = end < ProgramsLeftAlone::kSize && names[end] == kLeaveAloneSeparator ? end + 1 : end;
  }
  process.leftAloneChecked = listed ? generation | 1u : generation;
  return listed;
}

}  // namespace tavik
