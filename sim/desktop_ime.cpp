// The simulated desktop's IME: one per window that has one, holding its
// open status, mode and composition; it converts on henkan, commits on
// Enter, and does what ImmNotifyIME tells it, as a Japanese IME would.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "sim/desktop.h"

namespace tavik::sim {

namespace {

// What the IME converts any composition to: 変換 in code page 932.
constexpr char kConverted[] = "\x95\xCF\x8A\xB7";

}  // namespace

bool Desktop::ImeTakes(const Window& w, uint32_t vk, bool up) {
  return !up && (vk == w32::VK_RETURN || vk == w32::VK_CONVERT) && w.hasIme && w.open && !w.composition.empty();
}

void Desktop::Commit(Window& w) {
  if (!w.composition.empty()) events_.push_back(ImeCommitted{w.composition});
  w.committed += w.composition;
  w.text.Insert(w.composition);
  w.composition.clear();
  w.attributes.clear();
  w.reading.clear();
}

void Desktop::Convert(Window& w) {
  // Converting again picks another candidate of the same reading: what was
  // typed stays what the first conversion kept.
  if (w.reading.empty()) w.reading = w.composition;
  events_.push_back(ImeConverted{w.reading, kConverted});
  w.composition = kConverted;
  w.attributes.assign(w.composition.size(), static_cast<char>(w32::ATTR_TARGET_CONVERTED));
  imeMessages_.push_back(ImeMessage{w.name, w32::WM_IME_COMPOSITION, kCompositionChanged, true});
}

void Desktop::Revert(Window& w) {
  // A composition that was not converted keeps its bytes and loses only
  // converted attributes (one staged as converted, say).
  std::string composition = w.reading.empty() ? w.composition : w.reading;
  std::string attributes(composition.size(), static_cast<char>(w32::ATTR_INPUT));
  w.reading.clear();
  // Nothing changed, nothing to report: a message hook that reverts on every
  // WM_IME_COMPOSITION would otherwise never hear the end of it.
  if (composition == w.composition && attributes == w.attributes) return;
  w.composition = composition;
  w.attributes = attributes;
  SendImeMessage(w, w32::WM_IME_COMPOSITION, kCompositionChanged);
}

void Desktop::Cancel(Window& w) {
  w.composition.clear();
  w.attributes.clear();
  w.reading.clear();
}

void Desktop::Notify(Window& w, uint32_t index) {
  events_.push_back(ImeTold{index});
  switch (index) {
    case w32::CPS_COMPLETE:
      Commit(w);
      break;
    case w32::CPS_CANCEL:
      Cancel(w);
      break;
    case w32::CPS_REVERT:
      Revert(w);
      break;
    default:
      break;
  }
}

void Desktop::SendImeMessage(Window& w, uint32_t message, intptr_t lParam) {
  // Sent, as IMM32's ImmGenerateMessage sends what an IME queued from
  // ImmNotifyIME: straight to the window procedure, past the message hooks.
  events_.push_back(ImeSent{w.name, message, lParam});
  imeMessages_.push_back(ImeMessage{w.name, message, lParam, false});
}

uint32_t Desktop::CandidateListOf(const Window& w, CandidateList* lpCandList, uint32_t dwBufLen,
                                  std::string& note) const {
  uint64_t count = *w.candidateList;
  // The header, one offset per candidate, and each candidate as "c\0";
  // in 64 bits, since a count near 2^32 entries must not wrap to a small
  // block that the entries are then written past.
  uint64_t size = offsetof(CandidateList, dwOffset) + 4 * count + 2 * count;
  size = std::max<uint64_t>(size, sizeof(CandidateList));
  // What the IME says the list takes, true or not.
  uint32_t reported = w.candidateListSize ? static_cast<uint32_t>(*w.candidateListSize) : static_cast<uint32_t>(size);
  if (size > kMaxGlobalBlock) {
    // No IME could hold such a list: there is none.
    note = " (a list of " + Hex(count) + " entries is more than the IME can hold)";
    return 0;
  }
  if (lpCandList == nullptr || dwBufLen == 0) return reported;
  // A buffer short of the whole list gets nothing, as from IMM32.
  if (dwBufLen < size) return 0;
  std::vector<uint8_t> block(static_cast<size_t>(size), 0);
  auto* list = reinterpret_cast<CandidateList*>(block.data());
  list->dwSize = reported;
  list->dwCount = static_cast<uint32_t>(count);
  list->dwPageSize = static_cast<uint32_t>(count);
  size_t strings = offsetof(CandidateList, dwOffset) + 4 * static_cast<size_t>(count);
  for (size_t i = 0; i < count; ++i) {
    auto offset = static_cast<uint32_t>(strings + 2 * i);
    std::memcpy(block.data() + offsetof(CandidateList, dwOffset) + 4 * i, &offset, 4);
    block[offset] = 'c';
  }
  std::memcpy(lpCandList, block.data(), block.size());
  return reported;
}

}  // namespace tavik::sim
