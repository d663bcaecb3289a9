#include "hook/recording_platform.h"

#include <atomic>
#include <cstring>
#include <type_traits>

#include "hook/recording_format.h"

namespace tavik {

namespace fmt = recording_format;

static_assert(sizeof(RuntimeWords) == sizeof(int32_t) * kRecordedWordCount,
              "a record keeps every runtime word, in the block's order");
static_assert(SendsInFlight::kSize == sizeof(fmt::RecordHead::inFlight) / sizeof(uint32_t));

RecordingBlock* RecordingRing(const HookSharedBlock& block, ProcessVariables& process) {
  uint32_t session = std::atomic_ref<const uint32_t>(block.recordingSession).load(std::memory_order_relaxed);
  if (session == 0 || process.recording == nullptr) return nullptr;
  return process.recording->RecordingBlockOf(session);
}

void CountPassedOn(RecordingBlock& ring) {
  std::atomic_ref<uint64_t>(ring.head.passedOn).fetch_add(1, std::memory_order_relaxed);
}

SlotWriter::SlotWriter(RecordingBlock& ring, RecordKind kind, const HookSharedBlock& block, ProcessVariables& process,
                       int32_t code, uintptr_t wParam, intptr_t lParam, uint32_t message) {
  // A ticket is taken only where its slot is free: a lost record leaves no
  // gap in the tickets for the tray program to wait on.
  std::atomic_ref<uint64_t> next(ring.head.next);
  uint64_t ticket = next.load(std::memory_order_relaxed);
  do {
    uint64_t drained = std::atomic_ref<uint64_t>(ring.head.drained).load(std::memory_order_acquire);
    if (ticket - drained >= kRecordSlotCount) {
      std::atomic_ref<uint64_t>(ring.head.lost).fetch_add(1, std::memory_order_relaxed);
      return;
    }
  } while (!next.compare_exchange_weak(ticket, ticket + 1, std::memory_order_acq_rel, std::memory_order_relaxed));
  ticket_ = ticket;
  kind_ = kind;
  slot_ = &ring.slot[ticket % kRecordSlotCount];

  fmt::RecordHead head{};
  head.kind = static_cast<uint8_t>(kind);
  head.bitness = sizeof(void*) * 8;
  uint32_t nameLength = 0;
  while (nameLength < 255 && process.exeName[nameLength] != '\0') ++nameLength;
  head.nameLength = static_cast<uint8_t>(nameLength);
  head.processId = process.recording->GetCurrentProcessId();
  head.threadId = process.recording->GetCurrentThreadId();
  head.time = process.recording->GetTickCount();
  head.code = code;
  head.message = message;
  head.wParam = wParam;
  head.lParam = lParam;
  std::memcpy(head.words, &block.runtime, sizeof head.words);
  const SendsInFlight& out = block.inFlight;
  head.inFlightCount = out.count <= SendsInFlight::kSize ? out.count : SendsInFlight::kSize;
  for (uint32_t i = 0; i < head.inFlightCount; ++i) head.inFlight[i] = out.key[(out.first + i) % SendsInFlight::kSize];
  head.sentBehind = out.sentBehind;
  head.armedTime = process.armedTime;
  Put(&head, sizeof head);
  Put(process.exeName, nameLength);
}

void SlotWriter::Put(const void* bytes, uint32_t n) {
  if (n != 0) std::memcpy(slot_->bytes + used_, bytes, n);
  used_ += n;
}

void SlotWriter::Call(CallId id, const uint64_t* args, uint32_t argCount, const void* in, uint32_t inLength,
                      const void* out, uint32_t outLength, int64_t result) {
  if (slot_ == nullptr) return;
  if (truncated_) return;  // the calls after a missing one would mislead
  uint32_t size = fmt::kCallFixed + 8 * argCount + inLength + outLength;
  if (argCount > fmt::kMaxArgs || inLength > 0xFFFF || outLength > 0xFFFF ||
      used_ + size + fmt::kEndSize > fmt::kSlotBytes) {
    truncated_ = true;
    return;
  }
  uint8_t fixed[5] = {fmt::kCallTag, static_cast<uint8_t>(id), static_cast<uint8_t>(argCount),
                      static_cast<uint8_t>(inLength & 0xFF), static_cast<uint8_t>(inLength >> 8)};
  Put(fixed, sizeof fixed);
  auto outLength16 = static_cast<uint16_t>(outLength);
  Put(&outLength16, 2);
  Put(&result, 8);
  Put(args, 8 * argCount);
  Put(in, inLength);
  Put(out, outLength);
}

void SlotWriter::Complete() {
  slot_->bytes[offsetof(fmt::RecordHead, truncated)] = truncated_ ? 1 : 0;
  slot_->length = used_;
  std::atomic_ref<uint64_t>(slot_->complete).store(ticket_ + 1, std::memory_order_release);
  slot_ = nullptr;
}

void SlotWriter::End(int64_t returned) {
  if (slot_ == nullptr) return;
  uint8_t tag = fmt::kEndTag;
  Put(&tag, 1);
  Put(&returned, 8);
  Complete();
}

void SlotWriter::Settings(const int32_t (&flags)[kSettingCount]) {
  if (slot_ == nullptr) return;
  Put(flags, sizeof flags);
  Complete();
}

// --- The calls ------------------------------------------------------------------

namespace {

// Value parameters widened to 64 bits: signed ones keep their sign.
template <typename T>
uint64_t Arg(T value) {
  if constexpr (std::is_enum_v<T>) {
    return static_cast<uint64_t>(static_cast<std::underlying_type_t<T>>(value));
  } else if constexpr (std::is_signed_v<T>) {
    return static_cast<uint64_t>(static_cast<int64_t>(value));
  } else {
    return static_cast<uint64_t>(value);
  }
}

template <typename T>
int64_t Result(T value) {
  if constexpr (std::is_enum_v<T>) {
    return static_cast<int64_t>(static_cast<std::underlying_type_t<T>>(value));
  } else {
    return static_cast<int64_t>(value);
  }
}

// The bytes a call reports it wrote into a buffer of `capacity`.
uint32_t Written(int64_t reported, uint32_t capacity) {
  if (reported <= 0) return 0;
  return static_cast<uint64_t>(reported) < capacity ? static_cast<uint32_t>(reported) : capacity;
}

}  // namespace

#define TAVIK_RECORD(id, result, ...)                                  \
  do {                                                                 \
    const uint64_t args_[] = {0, __VA_ARGS__};                         \
    r_.Call(CallId::id, args_ + 1, sizeof args_ / 8 - 1, nullptr, 0, nullptr, 0, Result(result)); \
  } while (false)

Hwnd RecordingPlatform::GetFocus() {
  Hwnd h = p_.GetFocus();
  r_.Call(CallId::GetFocus, nullptr, 0, nullptr, 0, nullptr, 0, Result(h));
  return h;
}
Hkl RecordingPlatform::GetKeyboardLayout(uint32_t idThread) {
  Hkl h = p_.GetKeyboardLayout(idThread);
  TAVIK_RECORD(GetKeyboardLayout, h, Arg(idThread));
  return h;
}
int16_t RecordingPlatform::GetKeyState(int32_t nVirtKey) {
  int16_t s = p_.GetKeyState(nVirtKey);
  TAVIK_RECORD(GetKeyState, s, Arg(nVirtKey));
  return s;
}
int16_t RecordingPlatform::GetAsyncKeyState(int32_t vKey) {
  int16_t s = p_.GetAsyncKeyState(vKey);
  TAVIK_RECORD(GetAsyncKeyState, s, Arg(vKey));
  return s;
}
void RecordingPlatform::keybd_event(uint8_t bVk, uint8_t bScan, uint32_t dwFlags, uintptr_t dwExtraInfo) {
  p_.keybd_event(bVk, bScan, dwFlags, dwExtraInfo);
  TAVIK_RECORD(keybd_event, 0, Arg(bVk), Arg(bScan), Arg(dwFlags), Arg(dwExtraInfo));
}
uint32_t RecordingPlatform::SendInput(uint32_t cInputs, const KeybdInput* pInputs) {
  uint32_t sent = p_.SendInput(cInputs, pInputs);
  // Each record as wVk, wScan, dwFlags; as many as fit beside the others.
  uint8_t in[8 * 8];
  uint32_t n = cInputs < 8 ? cInputs : 8;
  for (uint32_t i = 0; i < n; ++i) {
    std::memcpy(in + 8 * i, &pInputs[i].wVk, 2);
    std::memcpy(in + 8 * i + 2, &pInputs[i].wScan, 2);
    std::memcpy(in + 8 * i + 4, &pInputs[i].dwFlags, 4);
  }
  uint64_t args[] = {Arg(cInputs)};
  r_.Call(CallId::SendInput, args, 1, in, 8 * n, nullptr, 0, Result(sent));
  return sent;
}
Hhook RecordingPlatform::SetWindowsHookExA(int32_t idHook, HookProc lpfn, Hinstance hmod, uint32_t dwThreadId) {
  Hhook h = p_.SetWindowsHookExA(idHook, lpfn, hmod, dwThreadId);
  TAVIK_RECORD(SetWindowsHookExA, h, Arg(idHook), Arg(lpfn), Arg(hmod), Arg(dwThreadId));
  return h;
}
int32_t RecordingPlatform::UnhookWindowsHookEx(Hhook hhk) {
  int32_t ok = p_.UnhookWindowsHookEx(hhk);
  TAVIK_RECORD(UnhookWindowsHookEx, ok, Arg(hhk));
  return ok;
}
intptr_t RecordingPlatform::CallNextHookEx(Hhook hhk, int32_t nCode, uintptr_t wParam, intptr_t lParam) {
  intptr_t r = p_.CallNextHookEx(hhk, nCode, wParam, lParam);
  // A message hook's lParam points to the message: not a value, kept as 0
  // as the record's own lParam is.
  TAVIK_RECORD(CallNextHookEx, r, Arg(hhk), Arg(nCode), Arg(wParam), r_.kind() == RecordKind::kMessage ? 0 : Arg(lParam));
  return r;
}
Himc RecordingPlatform::ImmGetContext(Hwnd hWnd) {
  Himc h = p_.ImmGetContext(hWnd);
  TAVIK_RECORD(ImmGetContext, h, Arg(hWnd));
  return h;
}
int32_t RecordingPlatform::ImmReleaseContext(Hwnd hWnd, Himc hIMC) {
  int32_t ok = p_.ImmReleaseContext(hWnd, hIMC);
  TAVIK_RECORD(ImmReleaseContext, ok, Arg(hWnd), Arg(hIMC));
  return ok;
}
int32_t RecordingPlatform::ImmGetOpenStatus(Himc hIMC) {
  int32_t open = p_.ImmGetOpenStatus(hIMC);
  TAVIK_RECORD(ImmGetOpenStatus, open, Arg(hIMC));
  return open;
}
int32_t RecordingPlatform::ImmSetOpenStatus(Himc hIMC, int32_t fOpen) {
  int32_t ok = p_.ImmSetOpenStatus(hIMC, fOpen);
  TAVIK_RECORD(ImmSetOpenStatus, ok, Arg(hIMC), Arg(fOpen));
  return ok;
}
int32_t RecordingPlatform::ImmGetConversionStatus(Himc hIMC, uint32_t* lpfdwConversion, uint32_t* lpfdwSentence) {
  int32_t ok = p_.ImmGetConversionStatus(hIMC, lpfdwConversion, lpfdwSentence);
  uint32_t out[2] = {lpfdwConversion != nullptr ? *lpfdwConversion : 0, lpfdwSentence != nullptr ? *lpfdwSentence : 0};
  uint64_t args[] = {Arg(hIMC)};
  r_.Call(CallId::ImmGetConversionStatus, args, 1, nullptr, 0, out, sizeof out, Result(ok));
  return ok;
}
int32_t RecordingPlatform::ImmSetConversionStatus(Himc hIMC, uint32_t fdwConversion, uint32_t fdwSentence) {
  int32_t ok = p_.ImmSetConversionStatus(hIMC, fdwConversion, fdwSentence);
  TAVIK_RECORD(ImmSetConversionStatus, ok, Arg(hIMC), Arg(fdwConversion), Arg(fdwSentence));
  return ok;
}
int32_t RecordingPlatform::ImmNotifyIME(Himc hIMC, uint32_t dwAction, uint32_t dwIndex, uint32_t dwValue) {
  int32_t ok = p_.ImmNotifyIME(hIMC, dwAction, dwIndex, dwValue);
  TAVIK_RECORD(ImmNotifyIME, ok, Arg(hIMC), Arg(dwAction), Arg(dwIndex), Arg(dwValue));
  return ok;
}
int32_t RecordingPlatform::ImmGetCompositionStringA(Himc hIMC, uint32_t dwIndex, void* lpBuf, uint32_t dwBufLen) {
  int32_t n = p_.ImmGetCompositionStringA(hIMC, dwIndex, lpBuf, dwBufLen);
  uint64_t args[] = {Arg(hIMC), Arg(dwIndex), Arg(dwBufLen)};
  r_.Call(CallId::ImmGetCompositionStringA, args, 3, nullptr, 0, lpBuf, lpBuf != nullptr ? Written(n, dwBufLen) : 0,
          Result(n));
  return n;
}
uint32_t RecordingPlatform::ImmGetCandidateListA(Himc hIMC, uint32_t deIndex, CandidateList* lpCandList,
                                                 uint32_t dwBufLen) {
  uint32_t n = p_.ImmGetCandidateListA(hIMC, deIndex, lpCandList, dwBufLen);
  // The header is what the library reads of the list.
  uint32_t header = Written(n, dwBufLen < 24 ? dwBufLen : 24);
  uint64_t args[] = {Arg(hIMC), Arg(deIndex), Arg(dwBufLen)};
  r_.Call(CallId::ImmGetCandidateListA, args, 3, nullptr, 0, lpCandList, lpCandList != nullptr ? header : 0,
          Result(n));
  return n;
}
uint32_t RecordingPlatform::ImmGetIMEFileNameA(Hkl hKL, char* lpszFileName, uint32_t uBufLen) {
  uint32_t n = p_.ImmGetIMEFileNameA(hKL, lpszFileName, uBufLen);
  uint64_t args[] = {Arg(hKL), Arg(uBufLen)};
  r_.Call(CallId::ImmGetIMEFileNameA, args, 2, nullptr, 0, lpszFileName,
          lpszFileName != nullptr ? Written(n, uBufLen) : 0, Result(n));
  return n;
}
int32_t RecordingPlatform::ImmConfigureIMEA(Hkl hKL, Hwnd hWnd, uint32_t dwMode, void* lpData) {
  int32_t ok = p_.ImmConfigureIMEA(hKL, hWnd, dwMode, lpData);
  TAVIK_RECORD(ImmConfigureIMEA, ok, Arg(hKL), Arg(hWnd), Arg(dwMode));
  return ok;
}
uint32_t RecordingPlatform::GetModuleFileNameA(Hinstance hModule, char* lpFilename, uint32_t nSize) {
  uint32_t n = p_.GetModuleFileNameA(hModule, lpFilename, nSize);
  uint64_t args[] = {Arg(hModule), Arg(nSize)};
  r_.Call(CallId::GetModuleFileNameA, args, 2, nullptr, 0, lpFilename, lpFilename != nullptr ? Written(n, nSize) : 0,
          Result(n));
  return n;
}
Hglobal RecordingPlatform::GlobalAlloc(uint32_t uFlags, size_t dwBytes) {
  Hglobal h = p_.GlobalAlloc(uFlags, dwBytes);
  TAVIK_RECORD(GlobalAlloc, h, Arg(uFlags), Arg(dwBytes));
  return h;
}
void* RecordingPlatform::GlobalLock(Hglobal hMem) {
  void* locked = p_.GlobalLock(hMem);
  TAVIK_RECORD(GlobalLock, locked != nullptr ? 1 : 0, Arg(hMem));
  return locked;
}
Hglobal RecordingPlatform::GlobalFree(Hglobal hMem) {
  Hglobal h = p_.GlobalFree(hMem);
  TAVIK_RECORD(GlobalFree, h, Arg(hMem));
  return h;
}
uint32_t RecordingPlatform::GetPrivateProfileStringA(const char* lpAppName, const char* lpKeyName,
                                                     const char* lpDefault, char* lpReturnedString, uint32_t nSize,
                                                     const char* lpFileName) {
  uint32_t n = p_.GetPrivateProfileStringA(lpAppName, lpKeyName, lpDefault, lpReturnedString, nSize, lpFileName);
  // The four strings, each with its NUL (a null one as an empty string).
  char in[4 * 256];
  uint32_t inLength = 0;
  for (const char* s : {lpAppName, lpKeyName, lpDefault, lpFileName}) {
    for (const char* c = s != nullptr ? s : ""; inLength < sizeof in - 1; ++c) {
      in[inLength++] = *c;
      if (*c == '\0') break;
    }
  }
  uint64_t args[] = {Arg(nSize)};
  r_.Call(CallId::GetPrivateProfileStringA, args, 1, in, inLength, lpReturnedString,
          lpReturnedString != nullptr ? Written(n, nSize) : 0, Result(n));
  return n;
}
int32_t RecordingPlatform::clock() {
  int32_t t = p_.clock();
  r_.Call(CallId::clock, nullptr, 0, nullptr, 0, nullptr, 0, Result(t));
  return t;
}

#undef TAVIK_RECORD

void RecordSettings(const HookSharedBlock& block, ProcessVariables& process) {
  RecordingBlock* ring = RecordingRing(block, process);
  if (ring == nullptr) return;
  SlotWriter record(*ring, RecordKind::kSettings, block, process, 0, 0, 0, 0);
  record.Settings(block.flag);
}

}  // namespace tavik
