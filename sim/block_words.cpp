#include "sim/block_words.h"

namespace tavik::sim {

namespace {

// Works on a block and on a const block alike.
template <typename Block>
auto Find(Block& b, const std::string& name) -> decltype(&b.flag[0]) {
  for (const RuntimeWordName& w : kRuntimeWords) {
    if (name == w.name) return &w.word(const_cast<RuntimeWords&>(b.runtime));
  }
  Setting s = FindSetting(name.c_str());
  return s == kSettingCount ? nullptr : &b.flag[s];
}

}  // namespace

bool IsBlockWord(const std::string& name) {
  HookSharedBlock probe{};
  return name == "keyboardHook" || name == "messageHook" || Find(probe, name) != nullptr;
}

int64_t ReadBlockWord(const HookSharedBlock& block, const std::string& name) {
  if (name == "keyboardHook") return static_cast<int64_t>(block.KeyboardHook());
  if (name == "messageHook") return static_cast<int64_t>(block.MessageHook());
  const int32_t* w = Find(block, name);
  return w != nullptr ? *w : 0;
}

void WriteBlockWord(HookSharedBlock& block, const std::string& name, int64_t value) {
  if (name == "keyboardHook") {
    block.SetKeyboardHook(Hhook{static_cast<uintptr_t>(value)});
  } else if (name == "messageHook") {
    block.SetMessageHook(Hhook{static_cast<uintptr_t>(value)});
  } else if (int32_t* w = Find(block, name)) {
    *w = static_cast<int32_t>(value);
  }
}

}  // namespace tavik::sim
