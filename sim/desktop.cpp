#include "sim/desktop.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace tavik::sim {

namespace {

constexpr uintptr_t kFirstContext = 0x1000;
constexpr const char kLibraryPath[] = "C:\\Program Files\\tavik\\tavikhook.dll";
constexpr Hkl kLayout{0xE0010411};
// Enough synthetic keystrokes for any real feature; more means a loop.
constexpr int kMaxSyntheticPerKeystroke = 1000;
// What the IME converts any composition to: 変換 in code page 932.
constexpr char kConverted[] = "\x95\xCF\x8A\xB7";
// WM_IME_COMPOSITION's lParam for a composition whose string and
// attributes changed.
constexpr intptr_t kCompositionChanged = w32::GCS_COMPSTR | w32::GCS_COMPATTR;

// The calls a scenario can make fail. The rest have no failure the hook
// library could see (or, for the release calls, none it should survive).
const char* const kFailableCalls[] = {
    "GetFocus",           "GetKeyboardLayout",      "GetKeyState",            "GetAsyncKeyState",
    "keybd_event",        "SetWindowsHookExA",      "UnhookWindowsHookEx",    "ImmGetContext",
    "ImmGetOpenStatus",   "ImmSetOpenStatus",       "ImmGetConversionStatus", "ImmSetConversionStatus",
    "ImmNotifyIME",       "ImmGetCompositionStringA", "ImmGetCandidateListA", "ImmGetIMEFileNameA",
    "ImmConfigureIMEA",   "GetModuleFileNameA",     "GlobalAlloc",            "GlobalLock",
};

std::string QuotedOrNull(const char* s) { return s == nullptr ? "NULL" : Quoted(std::string(s)); }

std::string Bytes(const void* data, size_t n) {
  std::string out = "[";
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < n; ++i) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X", p[i]);
    if (i != 0) out += ' ';
    out += buf;
  }
  return out + "]";
}

std::string Signed(int64_t v) { return v < 0 ? "-" + Hex(static_cast<uint64_t>(-v)) : Hex(static_cast<uint64_t>(v)); }

std::string KeyText(uint32_t vk, uint32_t scanKey) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%02X/0x%02X", vk, scanKey);
  return buf;
}

}  // namespace

std::string Quoted(const std::string& bytes) {
  std::string out = "\"";
  for (char c : bytes) {
    auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (u < 0x20 || u >= 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Hex(uint64_t value) {
  if (value == 0) return "0";
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(value));
  return buf;
}

intptr_t KeystrokeLParam(uint32_t scanKey, bool up, bool previouslyDown) {
  uint32_t l = 1u | ((scanKey & 0xFFu) << 16);
  if ((scanKey & 0x100u) != 0) l |= 1u << 24;
  if (previouslyDown || up) l |= 1u << 30;
  if (up) l |= 1u << 31;
  return static_cast<intptr_t>(l);
}

Desktop::Desktop() { ProcessNamed(kDefaultProcess); }

bool Desktop::CanFail(const std::string& call) {
  for (const char* known : kFailableCalls) {
    if (call == known) return true;
  }
  return false;
}

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

std::string Desktop::InProcess() { return processes_.size() > 1 ? " in " + Running().name : ""; }

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

Window* Desktop::WindowOf(Hwnd h) {
  auto i = static_cast<size_t>(h);
  return (i >= 1 && i <= windows_.size()) ? &windows_[i - 1] : nullptr;
}

Window* Desktop::WindowOf(Himc h) {
  auto v = static_cast<uintptr_t>(h);
  if (v <= kFirstContext) return nullptr;
  size_t i = v - kFirstContext;
  return (i <= windows_.size() && windows_[i - 1].hasIme) ? &windows_[i - 1] : nullptr;
}

std::string Desktop::Name(Hwnd h) const {
  auto i = static_cast<size_t>(h);
  if (i == 0) return "NULL";
  return (i <= windows_.size()) ? windows_[i - 1].name : "hwnd?" + Hex(i);
}

std::string Desktop::Name(Himc h) const {
  auto v = static_cast<uintptr_t>(h);
  if (v == 0) return "NULL";
  size_t i = v - kFirstContext;
  return (v > kFirstContext && i <= windows_.size()) ? "himc:" + windows_[i - 1].name : "himc?" + Hex(v);
}

std::string Desktop::Name(Hhook h) {
  auto v = static_cast<uintptr_t>(h);
  return v == 0 ? "NULL" : "hook" + std::to_string(v);
}

void Desktop::Trace(const std::string& line) { trace_.push_back("  " + line); }

// --- Input ------------------------------------------------------------------------

void Desktop::NoteKeyboard(int32_t code, uint32_t vk, intptr_t lParam) {
  auto scanKey = static_cast<uint32_t>((static_cast<uint64_t>(lParam) >> 16) & 0x1FF);
  bool up = (static_cast<uint64_t>(lParam) & 0x80000000u) != 0;
  if (code == w32::HC_ACTION) {
    if (up) {
      physicalDown_.erase(scanKey);
      releasedByKeyboard_.insert(vk & 0xFF);
    } else {
      physicalDown_.insert(scanKey);
    }
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
  auto scanKey = static_cast<uint32_t>((static_cast<uint64_t>(lParam) >> 16) & 0x1FF);
  bool up = (static_cast<uint64_t>(lParam) & 0x80000000u) != 0;
  trace_.push_back(std::string(synthetic ? "synthetic " : "key ") + (up ? "up " : "down ") + KeyText(vk, scanKey) +
                   " code " + Signed(code) + " lParam " + Hex(static_cast<uint32_t>(lParam)) + InProcess());
  intptr_t result = RunChain(w32::WH_KEYBOARD, code, vk, lParam);
  lastResult_ = result;
  if (result != 0) {
    Trace("-> discarded (" + Signed(result) + ")");
  } else if (code != w32::HC_ACTION) {
    Trace("-> passed, left in the queue");
  } else {
    Trace("-> passed");
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
  trace_.push_back("message " + Hex(message) + " code " + std::to_string(code) + (remove ? " removed" : " peeked") +
                   InProcess());
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
  auto scanKey = static_cast<uint32_t>((static_cast<uint64_t>(lParam) >> 16) & 0x1FF);
  bool up = (static_cast<uint64_t>(lParam) & 0x80000000u) != 0;
  Window* w = Focused();
  Trace(std::string("app ") + (w != nullptr ? w->name : "(no focus)") + " <- " + (up ? "up " : "down ") +
        KeyText(vk, scanKey));
  // A Japanese IME takes Enter (its commit key) and henkan (its conversion
  // key) as they go down while it holds a composition.
  bool imeTakes = w != nullptr && !up && (vk == w32::VK_RETURN || vk == w32::VK_CONVERT) && w->hasIme && w->open &&
                  !w->composition.empty();
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

void Desktop::Commit(Window& w) {
  if (!w.composition.empty()) Trace("commit " + Quoted(w.composition));
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
  Trace("convert " + Quoted(w.reading) + " to " + Quoted(kConverted));
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

void Desktop::SendImeMessage(Window& w, uint32_t message, intptr_t lParam) {
  // Sent, as IMM32's ImmGenerateMessage sends what an IME queued from
  // ImmNotifyIME: straight to the window procedure, past the message hooks.
  Trace("app " + w.name + " <- message " + Hex(message) + " lParam " + Hex(static_cast<uint64_t>(lParam)) +
        " (sent)");
  imeMessages_.push_back(ImeMessage{w.name, message, lParam, false});
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

// --- The platform -------------------------------------------------------------------

Hwnd Desktop::GetFocus() {
  Hwnd h = (Failing("GetFocus") || focus_ < 0) ? Hwnd{} : Hwnd{static_cast<uintptr_t>(focus_ + 1)};
  Trace("GetFocus() = " + Name(h));
  return h;
}

Hkl Desktop::GetKeyboardLayout(uint32_t idThread) {
  Hkl h = Failing("GetKeyboardLayout") ? Hkl{} : kLayout;
  Trace("GetKeyboardLayout(" + Hex(idThread) + ") = " + Hex(static_cast<uintptr_t>(h)));
  return h;
}

int16_t Desktop::GetKeyState(int32_t nVirtKey) {
  uint16_t s = Failing("GetKeyState") ? 0 : keyState_[nVirtKey & 0xFF];
  Trace("GetKeyState(" + Hex(static_cast<uint32_t>(nVirtKey)) + ") = " + Hex(s));
  return static_cast<int16_t>(s);
}

int16_t Desktop::GetAsyncKeyState(int32_t vKey) {
  uint16_t& state = asyncState_[vKey & 0xFF];
  std::deque<uint16_t>& script = asyncScript_[vKey & 0xFF];
  uint16_t s = Failing("GetAsyncKeyState") ? 0 : script.empty() ? state : script.front();
  if (!script.empty()) script.pop_front();
  state = static_cast<uint16_t>(state & ~1u);  // "pressed since the last query" is read once
  Trace("GetAsyncKeyState(" + Hex(static_cast<uint32_t>(vKey)) + ") = " + Hex(s));
  return static_cast<int16_t>(s);
}

void Desktop::keybd_event(uint8_t bVk, uint8_t bScan, uint32_t dwFlags, uintptr_t dwExtraInfo) {
  Trace("keybd_event(" + Hex(bVk) + ", " + Hex(bScan) + ", " + Hex(dwFlags) + ", " + Hex(dwExtraInfo) + ")");
  // A dropped send changes nothing: a key-down presses nothing, a key-up
  // leaves a key that an earlier send pressed down.
  lastSendDropped_[bVk] = Failing("keybd_event");
  if (lastSendDropped_[bVk]) return;
  pending_.push_back(Synthetic{bVk, bScan, dwFlags});
  // Repeated key-downs are one press, as with a held key.
  syntheticDown_[bVk] = (dwFlags & w32::KEYEVENTF_KEYUP) == 0;
  if (syntheticDown_[bVk]) releasedByKeyboard_.erase(bVk);
}

Hhook Desktop::SetWindowsHookExA(int32_t idHook, HookProc lpfn, Hinstance hmod, uint32_t dwThreadId) {
  Hhook h{};
  if (!Failing("SetWindowsHookExA") && failingHookTypes_.count(idHook) == 0) {
    h = Hhook{nextHook_++};
    hooks_.push_back(Hook{h, idHook, lpfn});
  }
  std::string proc = lpfn == kKeyboardProcToken  ? "KeyboardProc"
                     : lpfn == kMessageProcToken ? "MessageProc"
                                                 : Hex(static_cast<uintptr_t>(lpfn));
  Trace("SetWindowsHookExA(" + Hex(static_cast<uint32_t>(idHook)) + ", " + proc + ", " +
        (hmod == kModuleInstance ? std::string("hinst") : Hex(static_cast<uintptr_t>(hmod))) + ", " +
        Hex(dwThreadId) + ") = " + Name(h));
  return h;
}

int32_t Desktop::UnhookWindowsHookEx(Hhook hhk) {
  int32_t r = 0;
  for (size_t i = 0; i < hooks_.size(); ++i) {
    if (hooks_[i].handle == hhk && !Failing("UnhookWindowsHookEx")) {
      hooks_.erase(hooks_.begin() + static_cast<std::ptrdiff_t>(i));
      r = 1;
      break;
    }
  }
  Trace("UnhookWindowsHookEx(" + Name(hhk) + ") = " + Hex(static_cast<uint32_t>(r)));
  return r;
}

intptr_t Desktop::CallNextHookEx(Hhook hhk, int32_t nCode, uintptr_t wParam, intptr_t lParam) {
  // Like Windows, the chain position comes from the hook that is running,
  // not from the handle passed. Past the last hook, the rest of the chain
  // answers as a scenario arranged.
  intptr_t r = nextHookResult_;
  if (!runningHook_.empty()) {
    size_t current = runningHook_.back();
    int32_t type = hooks_[current].type;
    for (size_t j = current; j-- > 0;) {
      if (hooks_[j].type == type) {
        r = CallHookAt(j, nCode, wParam, lParam);
        break;
      }
    }
  }
  bool message = !runningHook_.empty() && hooks_[runningHook_.back()].type == w32::WH_GETMESSAGE;
  Trace("CallNextHookEx(" + Name(hhk) + ", " + Signed(nCode) + ", " + Hex(wParam) + ", " +
        (message ? std::string("msg") : Hex(static_cast<uint64_t>(lParam))) + ") = " + Signed(r));
  return r;
}

Himc Desktop::ImmGetContext(Hwnd hWnd) {
  Himc h{};
  Window* w = WindowOf(hWnd);
  if (w != nullptr && w->hasIme && !Failing("ImmGetContext")) {
    h = Himc{kFirstContext + static_cast<uintptr_t>(hWnd)};
    ++contextsOut_[static_cast<uintptr_t>(h)];
  }
  Trace("ImmGetContext(" + Name(hWnd) + ") = " + Name(h));
  return h;
}

int32_t Desktop::ImmReleaseContext(Hwnd hWnd, Himc hIMC) {
  int32_t r = 0;
  auto v = static_cast<uintptr_t>(hIMC);
  if (v != 0) {
    auto it = contextsOut_.find(v);
    if (it == contextsOut_.end() || it->second <= 0) {
      releaseErrors_.push_back("input context " + Name(hIMC) + " released more often than taken");
    } else if (static_cast<uintptr_t>(hWnd) + kFirstContext != v) {
      releaseErrors_.push_back("input context " + Name(hIMC) + " released with window " + Name(hWnd));
    } else {
      --it->second;
      r = 1;
    }
  }
  Trace("ImmReleaseContext(" + Name(hWnd) + ", " + Name(hIMC) + ") = " + Hex(static_cast<uint32_t>(r)));
  return r;
}

int32_t Desktop::ImmGetOpenStatus(Himc hIMC) {
  Window* w = WindowOf(hIMC);
  int32_t r = (w != nullptr && !Failing("ImmGetOpenStatus") && w->open) ? 1 : 0;
  Trace("ImmGetOpenStatus(" + Name(hIMC) + ") = " + Hex(static_cast<uint32_t>(r)));
  return r;
}

int32_t Desktop::ImmSetOpenStatus(Himc hIMC, int32_t fOpen) {
  Window* w = WindowOf(hIMC);
  int32_t r = 0;
  if (w != nullptr && !Failing("ImmSetOpenStatus")) {
    w->open = fOpen != 0;
    r = 1;
  }
  Trace("ImmSetOpenStatus(" + Name(hIMC) + ", " + Hex(static_cast<uint32_t>(fOpen)) + ") = " +
        Hex(static_cast<uint32_t>(r)));
  return r;
}

int32_t Desktop::ImmGetConversionStatus(Himc hIMC, uint32_t* lpfdwConversion, uint32_t* lpfdwSentence) {
  Window* w = WindowOf(hIMC);
  if (w == nullptr || Failing("ImmGetConversionStatus")) {
    Trace("ImmGetConversionStatus(" + Name(hIMC) + ") = 0");
    return 0;
  }
  if (lpfdwConversion != nullptr) *lpfdwConversion = w->conversion;
  if (lpfdwSentence != nullptr) *lpfdwSentence = w->sentence;
  Trace("ImmGetConversionStatus(" + Name(hIMC) + ") = 0x1 [" + Hex(w->conversion) + ", " + Hex(w->sentence) + "]");
  return 1;
}

int32_t Desktop::ImmSetConversionStatus(Himc hIMC, uint32_t fdwConversion, uint32_t fdwSentence) {
  Window* w = WindowOf(hIMC);
  int32_t r = 0;
  if (w != nullptr && !Failing("ImmSetConversionStatus")) {
    w->conversion = fdwConversion;
    w->sentence = fdwSentence;
    r = 1;
  }
  Trace("ImmSetConversionStatus(" + Name(hIMC) + ", " + Hex(fdwConversion) + ", " + Hex(fdwSentence) + ") = " +
        Hex(static_cast<uint32_t>(r)));
  return r;
}

int32_t Desktop::ImmNotifyIME(Himc hIMC, uint32_t dwAction, uint32_t dwIndex, uint32_t dwValue) {
  Window* w = WindowOf(hIMC);
  int32_t r = 0;
  if (w != nullptr && !Failing("ImmNotifyIME") && dwAction == w32::NI_COMPOSITIONSTR) {
    imeTold_.push_back(dwIndex == w32::CPS_COMPLETE ? "complete"
                       : dwIndex == w32::CPS_REVERT ? "revert"
                       : dwIndex == w32::CPS_CANCEL ? "cancel"
                                                    : "cps:" + std::to_string(dwIndex));
  }
  if (w != nullptr && !Failing("ImmNotifyIME") && dwAction == w32::NI_COMPOSITIONSTR) {
    r = 1;
    switch (dwIndex) {
      case w32::CPS_COMPLETE:
        Commit(*w);
        break;
      case w32::CPS_CANCEL:
        w->composition.clear();
        w->attributes.clear();
        w->reading.clear();
        break;
      case w32::CPS_REVERT:
        Revert(*w);
        break;
      default:
        break;
    }
  }
  Trace("ImmNotifyIME(" + Name(hIMC) + ", " + Hex(dwAction) + ", " + Hex(dwIndex) + ", " + Hex(dwValue) + ") = " +
        Hex(static_cast<uint32_t>(r)));
  return r;
}

int32_t Desktop::ImmGetCompositionStringA(Himc hIMC, uint32_t dwIndex, void* lpBuf, uint32_t dwBufLen) {
  std::string call = "ImmGetCompositionStringA(" + Name(hIMC) + ", " + Hex(dwIndex) + ", buf, " + Hex(dwBufLen) + ")";
  Window* w = WindowOf(hIMC);
  auto failing = failing_.find("ImmGetCompositionStringA");
  if (failing != failing_.end() || w == nullptr) {
    int32_t r = failing != failing_.end() ? failing->second : w32::IMM_ERROR_GENERAL;
    Trace(call + " = " + Signed(r));
    return r;
  }
  const std::string* data = dwIndex == w32::GCS_COMPSTR    ? &w->composition
                            : dwIndex == w32::GCS_COMPATTR ? &w->attributes
                                                           : nullptr;
  if (data == nullptr) {
    Trace(call + " = " + Signed(w32::IMM_ERROR_GENERAL));
    return w32::IMM_ERROR_GENERAL;
  }
  auto n = static_cast<uint32_t>(data->size());
  if (dwBufLen != 0 && lpBuf != nullptr) {
    n = std::min(n, dwBufLen);
    std::memcpy(lpBuf, data->data(), n);
  }
  Trace(call + " = " + Signed(n) + " " + Bytes(data->data(), std::min<size_t>(n, data->size())));
  return static_cast<int32_t>(n);
}

uint32_t Desktop::ImmGetCandidateListA(Himc hIMC, uint32_t deIndex, CandidateList* lpCandList, uint32_t dwBufLen) {
  Window* w = WindowOf(hIMC);
  uint32_t r = 0;
  std::string note;
  auto failing = failing_.find("ImmGetCandidateListA");
  if (failing != failing_.end()) {
    r = static_cast<uint32_t>(failing->second);
  } else if (w != nullptr && w->open && deIndex == 0 && w->candidateList) {
    uint64_t count = *w->candidateList;
    // The header, one offset per candidate, and each candidate as "c\0";
    // in 64 bits, since a count near 2^32 entries must not wrap to a small
    // block that the entries are then written past.
    uint64_t size = offsetof(CandidateList, dwOffset) + 4 * count + 2 * count;
    size = std::max<uint64_t>(size, sizeof(CandidateList));
    // What the IME says the list takes, true or not.
    uint32_t reported = w->candidateListSize ? static_cast<uint32_t>(*w->candidateListSize)
                                             : static_cast<uint32_t>(size);
    if (size > kMaxGlobalBlock) {
      // No IME could hold such a list: there is none.
      note = " (a list of " + Hex(count) + " entries is more than the IME can hold)";
    } else if (lpCandList == nullptr || dwBufLen == 0) {
      r = reported;
    } else if (dwBufLen >= size) {
      // A buffer short of the whole list gets nothing, as from IMM32.
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
      r = reported;
    }
  }
  Trace("ImmGetCandidateListA(" + Name(hIMC) + ", " + Hex(deIndex) + ", " + (lpCandList ? "buf" : "NULL") + ", " +
        Hex(dwBufLen) + ") = " + Hex(r) + note);
  return r;
}

uint32_t Desktop::ImmGetIMEFileNameA(Hkl hKL, char* lpszFileName, uint32_t uBufLen) {
  uint32_t r = 0;
  if (!Failing("ImmGetIMEFileNameA") && imeFileName_ && hKL == kLayout) {
    r = static_cast<uint32_t>(imeFileName_->size());
    if (uBufLen != 0 && lpszFileName != nullptr) {
      r = std::min(r, uBufLen - 1);
      std::memcpy(lpszFileName, imeFileName_->data(), r);
      lpszFileName[r] = '\0';
    }
  }
  Trace("ImmGetIMEFileNameA(" + Hex(static_cast<uintptr_t>(hKL)) + ", buf, " + Hex(uBufLen) + ") = " + Hex(r) +
        (r != 0 && imeFileName_ ? " " + Quoted(*imeFileName_) : ""));
  return r;
}

int32_t Desktop::ImmConfigureIMEA(Hkl hKL, Hwnd hWnd, uint32_t dwMode, void* lpData) {
  int32_t r = (!Failing("ImmConfigureIMEA") && hKL == kLayout && WindowOf(hWnd) != nullptr) ? 1 : 0;
  if (r != 0) imeTold_.push_back("configure");
  Trace("ImmConfigureIMEA(" + Hex(static_cast<uintptr_t>(hKL)) + ", " + Name(hWnd) + ", " + Hex(dwMode) + ", " +
        (lpData ? "data" : "NULL") + ") = " + Hex(static_cast<uint32_t>(r)));
  return r;
}

uint32_t Desktop::GetModuleFileNameA(Hinstance hModule, char* lpFilename, uint32_t nSize) {
  std::optional<std::string> path = hModule == Hinstance{}     ? hostPath_
                                    : hModule == kModuleInstance ? std::optional<std::string>(kLibraryPath)
                                                                 : std::nullopt;
  uint32_t r = 0;
  if (!Failing("GetModuleFileNameA") && path && nSize != 0 && lpFilename != nullptr) {
    // As Windows does since Vista: truncated, terminated, and the buffer's
    // size returned when the path did not fit.
    auto len = static_cast<uint32_t>(path->size());
    uint32_t copied = std::min(len, nSize - 1);
    std::memcpy(lpFilename, path->data(), copied);
    lpFilename[copied] = '\0';
    r = len < nSize ? len : nSize;
  }
  Trace("GetModuleFileNameA(" + (hModule == Hinstance{} ? std::string("NULL") : std::string("hinst")) + ", buf, " +
        Hex(nSize) + ") = " + Hex(r) + (r != 0 ? " " + QuotedOrNull(lpFilename) : ""));
  return r;
}

Hglobal Desktop::GlobalAlloc(uint32_t uFlags, size_t dwBytes) {
  Hglobal h{};
  if (!Failing("GlobalAlloc") && dwBytes <= kMaxGlobalBlock) {
    h = Hglobal{nextBlock_};
    nextBlock_ += 0x10;
    blocks_[static_cast<uintptr_t>(h)] = std::vector<uint8_t>(dwBytes, 0);
  }
  Trace("GlobalAlloc(" + Hex(uFlags) + ", " + Hex(dwBytes) + ") = " + Hex(static_cast<uintptr_t>(h)));
  return h;
}

void* Desktop::GlobalLock(Hglobal hMem) {
  auto it = blocks_.find(static_cast<uintptr_t>(hMem));
  void* p = (it == blocks_.end() || Failing("GlobalLock")) ? nullptr : it->second.data();
  Trace("GlobalLock(" + Hex(static_cast<uintptr_t>(hMem)) + ") = " + (p ? "ptr" : "NULL"));
  return p;
}

Hglobal Desktop::GlobalFree(Hglobal hMem) {
  bool freed = blocks_.erase(static_cast<uintptr_t>(hMem)) != 0;
  Hglobal r = freed ? Hglobal{} : hMem;
  if (!freed) releaseErrors_.push_back("GlobalFree of " + Hex(static_cast<uintptr_t>(hMem)) + ", not allocated");
  Trace("GlobalFree(" + Hex(static_cast<uintptr_t>(hMem)) + ") = " + Hex(static_cast<uintptr_t>(r)));
  return r;
}

uint32_t Desktop::GetPrivateProfileStringA(const char* lpAppName, const char* lpKeyName, const char* lpDefault,
                                           char* lpReturnedString, uint32_t nSize, const char* lpFileName) {
  uint32_t r = profiles_.GetString(lpAppName, lpKeyName, lpDefault, lpReturnedString, nSize, lpFileName);
  Trace("GetPrivateProfileStringA(" + QuotedOrNull(lpAppName) + ", " + QuotedOrNull(lpKeyName) + ", " +
        QuotedOrNull(lpDefault) + ", buf, " + Hex(nSize) + ", " + QuotedOrNull(lpFileName) + ") = " + Hex(r) + " " +
        QuotedOrNull(nSize != 0 ? lpReturnedString : ""));
  return r;
}

int32_t Desktop::clock() {
  int32_t now = Running().clock;
  Trace("clock() = " + Signed(now));
  return now;
}

}  // namespace tavik::sim
