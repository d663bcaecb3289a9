// The simulated desktop's windows and processes, its hook chain and its
// input queue: keystrokes from the keyboard and those the hooks send, in
// the order Windows would hand them to the focused window's thread.
#include <algorithm>

#include "hook/keys.h"
#include "sim/desktop.h"

namespace tavik::sim {

namespace {

// Enough synthetic keystrokes for any real feature; more means a loop.
constexpr int kMaxSyntheticPerKeystroke = 1000;

bool IsRelease(intptr_t lParam) { return (static_cast<uint64_t>(lParam) & 0x80000000u) != 0; }

}  // namespace

intptr_t KeystrokeLParam(uint32_t scanKey, bool up, bool previouslyDown) {
  uint32_t l = 1u | ((scanKey & 0xFFu) << 16);
  if ((scanKey & 0x100u) != 0) l |= 1u << 24;
  if (previouslyDown || up) l |= 1u << 30;
  if (up) l |= 1u << 31;
  return static_cast<intptr_t>(l);
}

Desktop::Desktop() { ProcessNamed(kDefaultProcess); }

Window& Desktop::AddWindow(const std::string& name, bool hasIme, const std::string& process) {
  ProcessNamed(process);
  windows_.push_back(Window{});
  windows_.back().name = name;
  windows_.back().process = process;
  windows_.back().hasIme = hasIme;
  return windows_.back();
}

Window* Desktop::FindWindow(const std::string& name) {
  for (Window& w : windows_) {
    if (w.name == name) return &w;
  }
  return nullptr;
}

void Desktop::SetFocus(const std::string& name) {
  focus_ = -1;
  for (size_t i = 0; i < windows_.size(); ++i) {
    if (windows_[i].name == name) focus_ = static_cast<int>(i);
  }
  if (focus_ >= 0) lastFocus_ = focus_;
}

Window* Desktop::Focused() { return focus_ < 0 ? nullptr : &windows_[static_cast<size_t>(focus_)]; }

Process& Desktop::ProcessNamed(const std::string& name) {
  for (Process& p : processes_) {
    if (p.name == name) return p;
  }
  processes_.push_back(Process{name, 0, {}});
  return processes_.back();
}

Process& Desktop::Running() {
  // Windows keeps delivering keyboard input to the thread that had the focus
  // when no window has it, so the keystroke runs where the last focus was.
  int window = focus_ >= 0 ? focus_ : lastFocus_;
  return ProcessNamed(window >= 0 ? windows_[static_cast<size_t>(window)].process : std::string(kDefaultProcess));
}

std::string Desktop::ProcessShown() { return processes_.size() > 1 ? Running().name : ""; }

void Desktop::SetHeld(uint32_t vk, bool held) {
  uint16_t& s = asyncState_[vk & 0xFF];
  s = held ? static_cast<uint16_t>(s | 0x8000u) : static_cast<uint16_t>(s & ~0x8000u);
}

void Desktop::SetPressedSinceLastQuery(uint32_t vk, bool pressed) {
  uint16_t& s = asyncState_[vk & 0xFF];
  s = pressed ? static_cast<uint16_t>(s | 1u) : static_cast<uint16_t>(s & ~1u);
}

void Desktop::ScriptAsyncKeyState(uint32_t vk, const std::vector<uint16_t>& values) {
  asyncScript_[vk & 0xFF].assign(values.begin(), values.end());
}

void Desktop::SetToggled(uint32_t vk, bool on) {
  uint16_t& s = keyState_[vk & 0xFF];
  s = on ? static_cast<uint16_t>(s | 1u) : static_cast<uint16_t>(s & ~1u);
}

bool Desktop::HookInstalled(int32_t type) const {
  for (const Hook& h : hooks_) {
    if (h.type == type) return true;
  }
  return false;
}

// --- The record ----------------------------------------------------------------------

std::vector<PlatformCall> Desktop::Calls(size_t first) const {
  std::vector<PlatformCall> calls;
  for (size_t i = first; i < events_.size(); ++i) {
    if (const auto* call = std::get_if<PlatformCall>(&events_[i])) calls.push_back(*call);
  }
  return calls;
}

std::vector<std::string> Desktop::TraceLines(size_t first) const {
  std::vector<std::string> lines;
  for (size_t i = first; i < events_.size(); ++i) {
    if (std::optional<std::string> line = TraceLine(events_[i])) lines.push_back(std::move(*line));
  }
  return lines;
}

std::vector<ImeTold> Desktop::imeTold() const {
  std::vector<ImeTold> told;
  for (const DesktopEvent& e : events_) {
    if (const auto* t = std::get_if<ImeTold>(&e)) told.push_back(*t);
  }
  return told;
}

// --- Input ------------------------------------------------------------------------

void Desktop::NoteKeyboard(int32_t code, uint32_t vk, intptr_t lParam) {
  if (code != w32::HC_ACTION) return;
  if (IsRelease(lParam)) {
    physicalDown_.erase(ScanKeyOf(lParam));
    releasedByKeyboard_.insert(vk & 0xFF);
  } else {
    physicalDown_.insert(ScanKeyOf(lParam));
  }
}

intptr_t Desktop::Keystroke(int32_t code, uint32_t vk, intptr_t lParam) {
  NoteKeyboard(code, vk, lParam);
  pending_.clear();
  ProcessKeystroke(code, vk, lParam, false);
  intptr_t result = lastResult_;
  ProcessSynthetic(kMaxSyntheticPerKeystroke);
  return result;
}

void Desktop::Burst(const std::vector<std::pair<uint32_t, intptr_t>>& keys) {
  pending_.clear();
  for (const auto& [vk, lParam] : keys) {
    NoteKeyboard(w32::HC_ACTION, vk, lParam);
    ProcessKeystroke(w32::HC_ACTION, vk, lParam, false);
  }
  ProcessSynthetic(kMaxSyntheticPerKeystroke * static_cast<int>(keys.size() > 0 ? keys.size() : 1));
}

void Desktop::ProcessSynthetic(int limit) {
  int synthetic = 0;
  while (!pending_.empty()) {
    if (++synthetic > limit) {
      releaseErrors_.push_back("more than " + std::to_string(kMaxSyntheticPerKeystroke) +
                               " synthetic keystrokes for one keystroke");
      pending_.clear();
      break;
    }
    Synthetic s = pending_.front();
    pending_.pop_front();
    bool sUp = (s.flags & w32::KEYEVENTF_KEYUP) != 0;
    uint32_t sScanKey = (s.scan & 0xFF) | ((s.flags & w32::KEYEVENTF_EXTENDEDKEY) != 0 ? 0x100u : 0u);
    ProcessKeystroke(w32::HC_ACTION, s.vk, KeystrokeLParam(sScanKey, sUp, false), true);
  }
}

void Desktop::ProcessKeystroke(int32_t code, uint32_t vk, intptr_t lParam, bool synthetic) {
  events_.push_back(KeyInput{vk, ScanKeyOf(lParam), IsRelease(lParam), synthetic, code, static_cast<uint32_t>(lParam),
                             ProcessShown()});
  intptr_t result = RunChain(w32::WH_KEYBOARD, code, vk, lParam);
  lastResult_ = result;
  if (result != 0) {
    events_.push_back(KeyFate{KeyFate::Kind::kDiscarded, result});
  } else if (code != w32::HC_ACTION) {
    events_.push_back(KeyFate{KeyFate::Kind::kLeftInQueue, result});
  } else {
    events_.push_back(KeyFate{KeyFate::Kind::kPassed, result});
    Deliver(vk, lParam);
  }
}

intptr_t Desktop::RunChain(int32_t type, int32_t code, uintptr_t wParam, intptr_t lParam) {
  for (size_t i = hooks_.size(); i-- > 0;) {
    if (hooks_[i].type == type) return CallHookAt(i, code, wParam, lParam);
  }
  return 0;
}

intptr_t Desktop::RetrieveMessage(int32_t code, bool remove, uint32_t message, intptr_t lParam) {
  Msg msg{focus_ < 0 ? Hwnd{} : Hwnd{static_cast<uintptr_t>(focus_ + 1)}, message, 0, lParam, 0, 0, 0};
  events_.push_back(MessageInput{message, code, remove, ProcessShown()});
  intptr_t r = RunChain(w32::WH_GETMESSAGE, code, remove ? w32::PM_REMOVE : w32::PM_NOREMOVE,
                        reinterpret_cast<intptr_t>(&msg));
  if (msg.message != message) releaseErrors_.push_back("a message hook changed the message record");
  return r;
}

intptr_t Desktop::CallHookAt(size_t index, int32_t code, uintptr_t wParam, intptr_t lParam) {
  if (!runner_) return 0;
  runningHook_.push_back(index);
  intptr_t r = runner_(hooks_[index].proc, code, wParam, lParam);
  runningHook_.pop_back();
  return r;
}

void Desktop::Deliver(uint32_t vk, intptr_t lParam) {
  uint32_t scanKey = ScanKeyOf(lParam);
  bool up = IsRelease(lParam);
  Window* w = Focused();
  events_.push_back(Delivery{w != nullptr ? std::optional<std::string>(w->name) : std::nullopt, vk, scanKey, up});
  bool imeTakes = w != nullptr && ImeTakes(*w, vk, up);
  if (w != nullptr) w->received.push_back(ReceivedKey{vk, scanKey, up, imeTakes});
  if (vk == w32::VK_CAPITAL && !up) keyState_[w32::VK_CAPITAL] ^= 1u;
  if (w == nullptr || up) return;
  // Enter commits: the composition goes in, no line break does. Only an
  // Enter sent behind it reaches the application as one.
  if (imeTakes && vk == w32::VK_RETURN) {
    Commit(*w);
    return;
  }
  // Henkan converts. The IME posts the news to the window's queue, so the
  // thread retrieves it next, before any keystroke still to come, and the
  // message hooks see it on the way.
  if (imeTakes && vk == w32::VK_CONVERT) {
    Convert(*w);
    RetrieveMessage(w32::HC_ACTION, true, w32::WM_IME_COMPOSITION, kCompositionChanged);
    return;
  }
  // Ctrl and Alt as `hold` arranges them: what typing sees of the keyboard here.
  auto held = [this](uint32_t key) { return (asyncState_[key] & 0x8000u) != 0; };
  w->text.KeyDown(vk, held(w32::VK_CONTROL) || held(w32::VK_MENU));
}

std::vector<std::string> Desktop::InvariantViolations() const {
  std::vector<std::string> out = releaseErrors_;
  for (const auto& [himc, count] : contextsOut_) {
    if (count > 0) out.push_back("input context " + Name(Himc{himc}) + " taken and not released");
  }
  for (const auto& [handle, block] : blocks_) {
    out.push_back("global block " + Hex(handle) + " of " + std::to_string(block.size()) + " bytes not freed");
  }
  if (physicalDown_.empty()) {
    for (const auto& [vk, down] : syntheticDown_) {
      if (down && releasedByKeyboard_.count(vk) == 0) {
        out.push_back("synthetic key-down of " + Hex(vk) + " without its key-up");
      }
    }
  }
  return out;
}

bool Desktop::SyntheticKeyDown(uint32_t vk) const {
  auto it = syntheticDown_.find(vk);
  return it != syntheticDown_.end() && it->second;
}

bool Desktop::LastSendDropped(uint32_t vk) const {
  auto it = lastSendDropped_.find(vk);
  return it != lastSendDropped_.end() && it->second;
}

}  // namespace tavik::sim
