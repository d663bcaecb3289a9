// The simulated desktop as the hook library's platform: each call answered
// from the desktop's state, failing where a scenario made it fail, and
// recorded with its arguments and result.
#include <algorithm>
#include <cstring>

#include "sim/desktop.h"

namespace tavik::sim {

namespace {

constexpr uintptr_t kFirstContext = 0x1000;
constexpr const char kLibraryPath[] = "C:\\Program Files\\tavik\\tavikhook.dll";
constexpr Hkl kLayout{0xE0010411};

// The calls a scenario can make fail. The rest have no failure the hook
// library could see (or, for the release calls, none it should survive).
const char* const kFailableCalls[] = {
    "GetFocus",           "GetKeyboardLayout",      "GetKeyState",            "GetAsyncKeyState",
    "keybd_event",        "SendInput",              "SetWindowsHookExA",      "UnhookWindowsHookEx",    "ImmGetContext",
    "ImmGetOpenStatus",   "ImmSetOpenStatus",       "ImmGetConversionStatus", "ImmSetConversionStatus",
    "ImmNotifyIME",       "ImmGetCompositionStringA", "ImmGetCandidateListA", "ImmGetIMEFileNameA",
    "ImmConfigureIMEA",   "GetModuleFileNameA",     "GlobalAlloc",            "GlobalLock",
};

Value N(uint64_t v) { return Number{v}; }
Value U32(int32_t v) { return Number{static_cast<uint32_t>(v)}; }
Value Ptr(uintptr_t v) { return Number{v}; }
Value Handle(std::string name) { return Named{std::move(name)}; }
Value TextOf(const char* s) { return Text{s == nullptr ? std::nullopt : std::optional<std::string>(s)}; }

}  // namespace

bool Desktop::CanFail(const std::string& call) {
  for (const char* known : kFailableCalls) {
    if (call == known) return true;
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

Hwnd Desktop::GetFocus() {
  Hwnd h = (Failing("GetFocus") || focus_ < 0) ? Hwnd{} : Hwnd{static_cast<uintptr_t>(focus_ + 1)};
  Record({"GetFocus", {}, Handle(Name(h))});
  return h;
}

Hkl Desktop::GetKeyboardLayout(uint32_t idThread) {
  Hkl h = Failing("GetKeyboardLayout") ? Hkl{} : kLayout;
  Record({"GetKeyboardLayout", {N(idThread)}, Ptr(static_cast<uintptr_t>(h))});
  return h;
}

int16_t Desktop::GetKeyState(int32_t nVirtKey) {
  uint16_t s = Failing("GetKeyState") ? 0 : keyState_[nVirtKey & 0xFF];
  Record({"GetKeyState", {U32(nVirtKey)}, N(s)});
  return static_cast<int16_t>(s);
}

int16_t Desktop::GetAsyncKeyState(int32_t vKey) {
  uint16_t& state = asyncState_[vKey & 0xFF];
  std::deque<uint16_t>& script = asyncScript_[vKey & 0xFF];
  uint16_t s = Failing("GetAsyncKeyState") ? 0 : script.empty() ? state : script.front();
  if (!script.empty()) script.pop_front();
  state = static_cast<uint16_t>(state & ~1u);  // "pressed since the last query" is read once
  Record({"GetAsyncKeyState", {U32(vKey)}, N(s)});
  return static_cast<int16_t>(s);
}

void Desktop::keybd_event(uint8_t bVk, uint8_t bScan, uint32_t dwFlags, uintptr_t dwExtraInfo) {
  Record({"keybd_event", {N(bVk), N(bScan), N(dwFlags), Ptr(dwExtraInfo)}});
  // A dropped send changes nothing: a key-down presses nothing, a key-up
  // leaves a key that an earlier send pressed down.
  lastSendDropped_[bVk] = Failing("keybd_event");
  if (lastSendDropped_[bVk]) return;
  pending_.push_back(Synthetic{bVk, bScan, dwFlags});
  // Repeated key-downs are one press, as with a held key.
  syntheticDown_[bVk] = (dwFlags & w32::KEYEVENTF_KEYUP) == 0;
  if (syntheticDown_[bVk]) releasedByKeyboard_.erase(bVk);
}

// Keyboard input the library moves behind its own sends: the user's keys,
// not the library's, so they press nothing the user did not.
uint32_t Desktop::SendInput(uint32_t cInputs, const KeybdInput* pInputs) {
  uint32_t r = Failing("SendInput") ? 0 : cInputs;
  for (uint32_t i = 0; i < r; ++i) pending_.push_back(Synthetic{pInputs[i].wVk, pInputs[i].wScan, pInputs[i].dwFlags});
  std::vector<uint64_t> keys;
  for (uint32_t i = 0; i < cInputs; ++i) keys.push_back(pInputs[i].wVk | uint64_t{pInputs[i].wScan} << 16 | uint64_t{pInputs[i].dwFlags} << 32);
  Record({"SendInput", {N(cInputs), Numbers{keys}}, N(r)});
  return r;
}

Hhook Desktop::SetWindowsHookExA(int32_t idHook, HookProc lpfn, Hinstance hmod, uint32_t dwThreadId) {
  Hhook h{};
  if (!Failing("SetWindowsHookExA") && failingHookTypes_.count(idHook) == 0) {
    h = Hhook{nextHook_++};
    hooks_.push_back(Hook{h, idHook, lpfn});
  }
  Value proc = lpfn == kKeyboardProcToken  ? Handle("KeyboardProc")
               : lpfn == kMessageProcToken ? Handle("MessageProc")
                                           : Ptr(static_cast<uintptr_t>(lpfn));
  Value module = hmod == kModuleInstance ? Handle("hinst") : Ptr(static_cast<uintptr_t>(hmod));
  Record({"SetWindowsHookExA", {U32(idHook), proc, module, N(dwThreadId)}, Handle(Name(h))});
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
  Record({"UnhookWindowsHookEx", {Handle(Name(hhk))}, U32(r)});
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
  Record({"CallNextHookEx",
          {Handle(Name(hhk)), SignedNumber{nCode}, Ptr(wParam),
           message ? Handle("msg") : N(static_cast<uint64_t>(lParam))},
          SignedNumber{r}});
  return r;
}

Himc Desktop::ImmGetContext(Hwnd hWnd) {
  Himc h{};
  Window* w = WindowOf(hWnd);
  if (w != nullptr && w->hasIme && !Failing("ImmGetContext")) {
    h = Himc{kFirstContext + static_cast<uintptr_t>(hWnd)};
    ++contextsOut_[static_cast<uintptr_t>(h)];
  }
  Record({"ImmGetContext", {Handle(Name(hWnd))}, Handle(Name(h))});
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
  Record({"ImmReleaseContext", {Handle(Name(hWnd)), Handle(Name(hIMC))}, U32(r)});
  return r;
}

int32_t Desktop::ImmGetOpenStatus(Himc hIMC) {
  Window* w = WindowOf(hIMC);
  int32_t r = (w != nullptr && !Failing("ImmGetOpenStatus") && w->open) ? 1 : 0;
  Record({"ImmGetOpenStatus", {Handle(Name(hIMC))}, U32(r)});
  return r;
}

int32_t Desktop::ImmSetOpenStatus(Himc hIMC, int32_t fOpen) {
  Window* w = WindowOf(hIMC);
  int32_t r = 0;
  if (w != nullptr && !Failing("ImmSetOpenStatus")) {
    w->open = fOpen != 0;
    r = 1;
  }
  Record({"ImmSetOpenStatus", {Handle(Name(hIMC)), U32(fOpen)}, U32(r)});
  return r;
}

int32_t Desktop::ImmGetConversionStatus(Himc hIMC, uint32_t* lpfdwConversion, uint32_t* lpfdwSentence) {
  Window* w = WindowOf(hIMC);
  if (w == nullptr || Failing("ImmGetConversionStatus")) {
    Record({"ImmGetConversionStatus", {Handle(Name(hIMC))}, N(0)});
    return 0;
  }
  if (lpfdwConversion != nullptr) *lpfdwConversion = w->conversion;
  if (lpfdwSentence != nullptr) *lpfdwSentence = w->sentence;
  Record({"ImmGetConversionStatus", {Handle(Name(hIMC))}, N(1), Numbers{{w->conversion, w->sentence}}});
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
  Record({"ImmSetConversionStatus", {Handle(Name(hIMC)), N(fdwConversion), N(fdwSentence)}, U32(r)});
  return r;
}

int32_t Desktop::ImmNotifyIME(Himc hIMC, uint32_t dwAction, uint32_t dwIndex, uint32_t dwValue) {
  Window* w = WindowOf(hIMC);
  int32_t r = 0;
  if (w != nullptr && !Failing("ImmNotifyIME") && dwAction == w32::NI_COMPOSITIONSTR) {
    r = 1;
    Notify(*w, dwIndex);
  }
  Record({"ImmNotifyIME", {Handle(Name(hIMC)), N(dwAction), N(dwIndex), N(dwValue)}, U32(r)});
  return r;
}

int32_t Desktop::ImmGetCompositionStringA(Himc hIMC, uint32_t dwIndex, void* lpBuf, uint32_t dwBufLen) {
  PlatformCall call{"ImmGetCompositionStringA", {Handle(Name(hIMC)), N(dwIndex), Handle("buf"), N(dwBufLen)}};
  Window* w = WindowOf(hIMC);
  auto failing = failing_.find("ImmGetCompositionStringA");
  const std::string* data = w == nullptr                     ? nullptr
                            : dwIndex == w32::GCS_COMPSTR    ? &w->composition
                            : dwIndex == w32::GCS_COMPATTR   ? &w->attributes
                                                             : nullptr;
  if (failing != failing_.end() || data == nullptr) {
    int32_t r = failing != failing_.end() ? failing->second : w32::IMM_ERROR_GENERAL;
    call.result = SignedNumber{r};
    Record(std::move(call));
    return r;
  }
  auto n = static_cast<uint32_t>(data->size());
  if (dwBufLen != 0 && lpBuf != nullptr) {
    n = std::min(n, dwBufLen);
    std::memcpy(lpBuf, data->data(), n);
  }
  call.result = SignedNumber{n};
  call.output = Bytes{data->substr(0, n)};
  Record(std::move(call));
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
    r = CandidateListOf(*w, lpCandList, dwBufLen, note);
  }
  Record({"ImmGetCandidateListA", {Handle(Name(hIMC)), N(deIndex), Handle(lpCandList ? "buf" : "NULL"), N(dwBufLen)},
          N(r), std::nullopt, note});
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
  Record({"ImmGetIMEFileNameA", {Ptr(static_cast<uintptr_t>(hKL)), Handle("buf"), N(uBufLen)}, N(r),
          r != 0 && imeFileName_ ? std::optional<Value>(Text{*imeFileName_}) : std::nullopt});
  return r;
}

int32_t Desktop::ImmConfigureIMEA(Hkl hKL, Hwnd hWnd, uint32_t dwMode, void* lpData) {
  int32_t r = (!Failing("ImmConfigureIMEA") && hKL == kLayout && WindowOf(hWnd) != nullptr) ? 1 : 0;
  if (r != 0) events_.push_back(ImeTold{0, ImeTold::Kind::kConfigure});
  Record({"ImmConfigureIMEA",
          {Ptr(static_cast<uintptr_t>(hKL)), Handle(Name(hWnd)), N(dwMode), Handle(lpData ? "data" : "NULL")}, U32(r)});
  return r;
}

uint32_t Desktop::GetModuleFileNameA(Hinstance hModule, char* lpFilename, uint32_t nSize) {
  std::optional<std::string> path = hModule == Hinstance{}       ? hostPath_
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
  Record({"GetModuleFileNameA", {Handle(hModule == Hinstance{} ? "NULL" : "hinst"), Handle("buf"), N(nSize)}, N(r),
          r != 0 ? std::optional<Value>(TextOf(lpFilename)) : std::nullopt});
  return r;
}

Hglobal Desktop::GlobalAlloc(uint32_t uFlags, size_t dwBytes) {
  Hglobal h{};
  if (!Failing("GlobalAlloc") && dwBytes <= kMaxGlobalBlock) {
    h = Hglobal{nextBlock_};
    nextBlock_ += 0x10;
    blocks_[static_cast<uintptr_t>(h)] = std::vector<uint8_t>(dwBytes, 0);
  }
  Record({"GlobalAlloc", {N(uFlags), N(dwBytes)}, Ptr(static_cast<uintptr_t>(h))});
  return h;
}

void* Desktop::GlobalLock(Hglobal hMem) {
  auto it = blocks_.find(static_cast<uintptr_t>(hMem));
  void* p = (it == blocks_.end() || Failing("GlobalLock")) ? nullptr : it->second.data();
  Record({"GlobalLock", {Ptr(static_cast<uintptr_t>(hMem))}, Handle(p ? "ptr" : "NULL")});
  return p;
}

Hglobal Desktop::GlobalFree(Hglobal hMem) {
  bool freed = blocks_.erase(static_cast<uintptr_t>(hMem)) != 0;
  Hglobal r = freed ? Hglobal{} : hMem;
  if (!freed) releaseErrors_.push_back("GlobalFree of " + Hex(static_cast<uintptr_t>(hMem)) + ", not allocated");
  Record({"GlobalFree", {Ptr(static_cast<uintptr_t>(hMem))}, Ptr(static_cast<uintptr_t>(r))});
  return r;
}

uint32_t Desktop::GetPrivateProfileStringA(const char* lpAppName, const char* lpKeyName, const char* lpDefault,
                                           char* lpReturnedString, uint32_t nSize, const char* lpFileName) {
  uint32_t r = profiles_.GetString(lpAppName, lpKeyName, lpDefault, lpReturnedString, nSize, lpFileName);
  Record({"GetPrivateProfileStringA",
          {TextOf(lpAppName), TextOf(lpKeyName), TextOf(lpDefault), Handle("buf"), N(nSize), TextOf(lpFileName)},
          N(r), TextOf(nSize != 0 ? lpReturnedString : "")});
  return r;
}

int32_t Desktop::clock() {
  int32_t now = Running().clock;
  Record({"clock", {}, SignedNumber{now}});
  return now;
}

}  // namespace tavik::sim
