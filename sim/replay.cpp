#include "sim/replay.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <map>
#include <type_traits>

#include "hook/keys.h"
#include "hook/shared_block.h"
#include "hook/stages.h"
#include "sim/print.h"

namespace tavik::sim {

namespace {

// A value the library passed, with the width of its parameter: a recording
// widens every value to 64 bits, but a 32-bit library's pointer-sized words
// and any library's 32-bit ones are compared on the bits they have, whichever
// way the recorder extended them.
struct Arg {
  uint64_t value;
  int bits;  // 0: pointer-sized, as wide as the recording library's
};

template <typename T>
Arg Value(T v) {
  if constexpr (std::is_enum_v<T>) {
    return {static_cast<uint64_t>(static_cast<std::underlying_type_t<T>>(v)), 0};
  } else if constexpr (std::is_same_v<T, uintptr_t> || std::is_same_v<T, intptr_t> || std::is_same_v<T, size_t>) {
    return {static_cast<uint64_t>(static_cast<int64_t>(v)), 0};
  } else {
    return {static_cast<uint64_t>(static_cast<int64_t>(v)), static_cast<int>(8 * sizeof(T))};
  }
}

uint64_t Masked(uint64_t v, int bits) { return bits >= 64 ? v : v & ((uint64_t{1} << bits) - 1); }

std::string_view Bytes(const std::vector<uint8_t>& b) { return {reinterpret_cast<const char*>(b.data()), b.size()}; }

// A call as the recording's text writes it, without its answer.
std::string CallText(CallId id, const std::vector<uint64_t>& args, const std::vector<uint8_t>& in) {
  std::string out = kCallNames[static_cast<size_t>(id)];
  for (uint64_t a : args) out += Cat({" ", Hex(a)});
  if (!in.empty()) out += Cat({" in ", HexBytes(Bytes(in))});
  return out;
}

class ReplayPlatform final : public InputPlatform {
 public:
  // The record whose calls answer the library's from now on.
  void Begin(const Record& record) {
    record_ = &record;
    next_ = 0;
    divergence_.clear();
    beyondTruncation_ = false;
    buffers_.clear();
  }
  // After the procedure returned: what it left of the recorded calls.
  void End(intptr_t returned) {
    if (!divergence_.empty() || beyondTruncation_) return;
    if (next_ < record_->calls.size()) {
      const RecordedCall& c = record_->calls[next_];
      divergence_ = Cat({"expected ", CallText(c.id, c.args, c.in), ", got no more calls"});
    } else if (Masked(static_cast<uint64_t>(returned), Width(0)) !=
               Masked(static_cast<uint64_t>(record_->returned), Width(0))) {
      divergence_ = Cat({"expected returned ", Signed(record_->returned), ", got returned ", Signed(returned)});
    }
  }
  const std::string& divergence() const { return divergence_; }
  bool beyondTruncation() const { return beyondTruncation_; }

  Hwnd GetFocus() override { return AsHandle<Hwnd>(Take(CallId::GetFocus, {})); }
  Hkl GetKeyboardLayout(uint32_t idThread) override {
    return AsHandle<Hkl>(Take(CallId::GetKeyboardLayout, {Value(idThread)}));
  }
  int16_t GetKeyState(int32_t nVirtKey) override {
    return static_cast<int16_t>(Result(Take(CallId::GetKeyState, {Value(nVirtKey)})));
  }
  int16_t GetAsyncKeyState(int32_t vKey) override {
    return static_cast<int16_t>(Result(Take(CallId::GetAsyncKeyState, {Value(vKey)})));
  }
  void keybd_event(uint8_t bVk, uint8_t bScan, uint32_t dwFlags, uintptr_t dwExtraInfo) override {
    Take(CallId::keybd_event, {Value(bVk), Value(bScan), Value(dwFlags), Value(dwExtraInfo)});
  }
  uint32_t SendInput(uint32_t cInputs, const KeybdInput* pInputs) override {
    std::vector<uint8_t> in;
    for (uint32_t i = 0; i < cInputs && i < 8; ++i) {
      uint8_t record[8];
      std::memcpy(record, &pInputs[i].wVk, 2);
      std::memcpy(record + 2, &pInputs[i].wScan, 2);
      std::memcpy(record + 4, &pInputs[i].dwFlags, 4);
      in.insert(in.end(), record, record + 8);
    }
    return static_cast<uint32_t>(Result(Take(CallId::SendInput, {Value(cInputs)}, in)));
  }
  Hhook SetWindowsHookExA(int32_t idHook, HookProc lpfn, Hinstance hmod, uint32_t dwThreadId) override {
    return AsHandle<Hhook>(
        Take(CallId::SetWindowsHookExA, {Value(idHook), Value(lpfn), Value(hmod), Value(dwThreadId)}));
  }
  int32_t UnhookWindowsHookEx(Hhook hhk) override {
    return static_cast<int32_t>(Result(Take(CallId::UnhookWindowsHookEx, {Value(hhk)})));
  }
  intptr_t CallNextHookEx(Hhook hhk, int32_t nCode, uintptr_t wParam, intptr_t lParam) override {
    return static_cast<intptr_t>(
        Result(Take(CallId::CallNextHookEx, {Value(hhk), Value(nCode), Value(wParam), Value(lParam)})));
  }
  Himc ImmGetContext(Hwnd hWnd) override { return AsHandle<Himc>(Take(CallId::ImmGetContext, {Value(hWnd)})); }
  int32_t ImmReleaseContext(Hwnd hWnd, Himc hIMC) override {
    return static_cast<int32_t>(Result(Take(CallId::ImmReleaseContext, {Value(hWnd), Value(hIMC)})));
  }
  int32_t ImmGetOpenStatus(Himc hIMC) override {
    return static_cast<int32_t>(Result(Take(CallId::ImmGetOpenStatus, {Value(hIMC)})));
  }
  int32_t ImmSetOpenStatus(Himc hIMC, int32_t fOpen) override {
    return static_cast<int32_t>(Result(Take(CallId::ImmSetOpenStatus, {Value(hIMC), Value(fOpen)})));
  }
  int32_t ImmGetConversionStatus(Himc hIMC, uint32_t* lpfdwConversion, uint32_t* lpfdwSentence) override {
    const RecordedCall* c = Take(CallId::ImmGetConversionStatus, {Value(hIMC)});
    if (c != nullptr) {
      if (lpfdwConversion != nullptr && c->out.size() >= 4) std::memcpy(lpfdwConversion, c->out.data(), 4);
      if (lpfdwSentence != nullptr && c->out.size() >= 8) std::memcpy(lpfdwSentence, c->out.data() + 4, 4);
    }
    return static_cast<int32_t>(Result(c));
  }
  int32_t ImmSetConversionStatus(Himc hIMC, uint32_t fdwConversion, uint32_t fdwSentence) override {
    return static_cast<int32_t>(
        Result(Take(CallId::ImmSetConversionStatus, {Value(hIMC), Value(fdwConversion), Value(fdwSentence)})));
  }
  int32_t ImmNotifyIME(Himc hIMC, uint32_t dwAction, uint32_t dwIndex, uint32_t dwValue) override {
    return static_cast<int32_t>(
        Result(Take(CallId::ImmNotifyIME, {Value(hIMC), Value(dwAction), Value(dwIndex), Value(dwValue)})));
  }
  int32_t ImmGetCompositionStringA(Himc hIMC, uint32_t dwIndex, void* lpBuf, uint32_t dwBufLen) override {
    const RecordedCall* c = Take(CallId::ImmGetCompositionStringA, {Value(hIMC), Value(dwIndex), Value(dwBufLen)});
    if (c != nullptr && lpBuf != nullptr) CopyOut(*c, lpBuf, dwBufLen, false);
    return static_cast<int32_t>(Result(c));
  }
  uint32_t ImmGetCandidateListA(Himc hIMC, uint32_t deIndex, CandidateList* lpCandList, uint32_t dwBufLen) override {
    const RecordedCall* c = Take(CallId::ImmGetCandidateListA, {Value(hIMC), Value(deIndex), Value(dwBufLen)});
    if (c != nullptr && lpCandList != nullptr)
      CopyOut(*c, lpCandList, std::min(dwBufLen, BufferSize(lpCandList)), false);
    return static_cast<uint32_t>(Result(c));
  }
  uint32_t ImmGetIMEFileNameA(Hkl hKL, char* lpszFileName, uint32_t uBufLen) override {
    const RecordedCall* c = Take(CallId::ImmGetIMEFileNameA, {Value(hKL), Value(uBufLen)});
    if (c != nullptr && lpszFileName != nullptr) CopyOut(*c, lpszFileName, uBufLen, true);
    return static_cast<uint32_t>(Result(c));
  }
  int32_t ImmConfigureIMEA(Hkl hKL, Hwnd hWnd, uint32_t dwMode, void*) override {
    return static_cast<int32_t>(Result(Take(CallId::ImmConfigureIMEA, {Value(hKL), Value(hWnd), Value(dwMode)})));
  }
  uint32_t GetModuleFileNameA(Hinstance hModule, char* lpFilename, uint32_t nSize) override {
    const RecordedCall* c = Take(CallId::GetModuleFileNameA, {Value(hModule), Value(nSize)});
    if (c != nullptr && lpFilename != nullptr) CopyOut(*c, lpFilename, nSize, true);
    return static_cast<uint32_t>(Result(c));
  }
  Hglobal GlobalAlloc(uint32_t uFlags, size_t dwBytes) override {
    const RecordedCall* c = Take(CallId::GlobalAlloc, {Value(uFlags), Value(dwBytes)});
    // The block is real memory here, for the library to hand to the IME
    // calls, but never larger than a list's header needs: a size read from
    // an IME that miscounts is not allocated for real.
    if (Result(c) != 0) buffers_[Result(c)].assign(std::min<size_t>(std::max<size_t>(dwBytes, 64), 65536), 0);
    return AsHandle<Hglobal>(c);
  }
  void* GlobalLock(Hglobal hMem) override {
    const RecordedCall* c = Take(CallId::GlobalLock, {Value(hMem)});
    if (Result(c) == 0) return nullptr;
    std::vector<uint8_t>& block = buffers_[static_cast<int64_t>(hMem)];
    if (block.empty()) block.assign(64, 0);
    return block.data();
  }
  Hglobal GlobalFree(Hglobal hMem) override { return AsHandle<Hglobal>(Take(CallId::GlobalFree, {Value(hMem)})); }
  uint32_t GetPrivateProfileStringA(const char* lpAppName, const char* lpKeyName, const char* lpDefault,
                                    char* lpReturnedString, uint32_t nSize, const char* lpFileName) override {
    std::vector<uint8_t> in;
    for (const char* s : {lpAppName, lpKeyName, lpDefault, lpFileName}) {
      if (s == nullptr) s = "";
      in.insert(in.end(), s, s + std::strlen(s) + 1);
    }
    const RecordedCall* c = Take(CallId::GetPrivateProfileStringA, {Value(nSize)}, in);
    if (c != nullptr && lpReturnedString != nullptr) CopyOut(*c, lpReturnedString, nSize, true);
    return static_cast<uint32_t>(Result(c));
  }
  int32_t clock() override { return static_cast<int32_t>(Result(Take(CallId::clock, {}))); }

 private:
  int Width(int bits) const { return bits != 0 ? bits : record_->bitness == 32 ? 32 : 64; }

  // The recorded call that answers this one: the next, when it is the same
  // call with the same values and bytes; else the replay has diverged. Once
  // it has, the next recorded call still answers a call of its name, so
  // that the rest of the keystroke runs on the user's answers as far as it
  // can; nothing more is reported for the record.
  const RecordedCall* Take(CallId id, std::initializer_list<Arg> args, const std::vector<uint8_t>& in = {}) {
    const std::vector<RecordedCall>& calls = record_->calls;
    bool more = next_ < calls.size();
    if (!divergence_.empty() || beyondTruncation_) {
      return more && calls[next_].id == id ? &calls[next_++] : nullptr;
    }
    std::vector<uint64_t> values;
    for (const Arg& a : args) values.push_back(Masked(a.value, Width(a.bits)));
    if (!more) {
      // A truncated record holds only the first calls: what comes after
      // them cannot be checked, nor answered.
      if (record_->truncated) {
        beyondTruncation_ = true;
      } else {
        divergence_ = Cat({"expected no more calls, got ", CallText(id, values, in)});
      }
      return nullptr;
    }
    const RecordedCall& c = calls[next_];
    bool same = c.id == id && c.args.size() == args.size() && c.in == in;
    size_t i = 0;
    for (const Arg& a : args) {
      if (same && Masked(c.args[i], Width(a.bits)) != values[i]) same = false;
      ++i;
    }
    if (!same) {
      std::vector<uint64_t> recorded = c.args;
      if (c.id == id && recorded.size() == args.size()) {
        i = 0;
        for (const Arg& a : args) recorded[i] = Masked(recorded[i], Width(a.bits)), ++i;
      }
      divergence_ = Cat({"expected ", CallText(c.id, recorded, c.in), ", got ", CallText(id, values, in)});
      if (c.id != id) return nullptr;
    }
    ++next_;
    return &c;
  }

  static int64_t Result(const RecordedCall* c) { return c != nullptr ? c->result : 0; }
  template <typename H>
  static H AsHandle(const RecordedCall* c) {
    return static_cast<H>(static_cast<uintptr_t>(Result(c)));
  }

  // The bytes the call wrote, never more than the caller's buffer holds; a
  // string is terminated within it, as Windows terminates one.
  static void CopyOut(const RecordedCall& c, void* buffer, uint32_t size, bool string) {
    if (size == 0) return;
    size_t n = std::min<size_t>(c.out.size(), string ? size - 1 : size);
    if (n != 0) std::memcpy(buffer, c.out.data(), n);
    if (string) static_cast<char*>(buffer)[n] = '\0';
  }

  // A block this replay allocated holds its own size; any other buffer is
  // the library's, as large as it says.
  uint32_t BufferSize(const void* p) const {
    for (const auto& [handle, block] : buffers_) {
      if (block.data() == p) return static_cast<uint32_t>(block.size());
    }
    return UINT32_MAX;
  }

  const Record* record_ = nullptr;
  size_t next_ = 0;
  std::string divergence_;
  bool beyondTruncation_ = false;
  std::map<int64_t, std::vector<uint8_t>> buffers_;
};

// "0xC0/0x1A down", or the message's number and name.
std::string What(const Record& r) {
  if (r.kind == RecordKind::kMessage) {
    std::string name = r.message == w32::WM_IME_COMPOSITION        ? " WM_IME_COMPOSITION"
                       : r.message == w32::WM_IME_STARTCOMPOSITION ? " WM_IME_STARTCOMPOSITION"
                       : r.message == w32::WM_IME_ENDCOMPOSITION   ? " WM_IME_ENDCOMPOSITION"
                                                                   : "";
    return Cat({"message ", Hex(r.message), name});
  }
  bool up = (static_cast<uint64_t>(r.lParam) & 0x80000000u) != 0;
  return Cat({KeyText(static_cast<uint32_t>(r.wParam & 0xFF), ScanKeyOf(static_cast<intptr_t>(r.lParam))),
              up ? " up" : " down", r.code != 0 ? Cat({" code ", Signed(r.code)}) : ""});
}

// The block as the library left it on the user's machine before the
// record: the flags, the words, the sends still out and the hooks it
// chains through.
void SetUp(HookSharedBlock& block, ProcessVariables& process, const Record& r, const int32_t (&flags)[kSettingCount]) {
  std::copy(std::begin(flags), std::end(flags), std::begin(block.flag));
  for (int i = 0; i < kRecordedWordCount; ++i) kRuntimeWords[i].word(block.runtime) = r.wordsBefore[i];
  block.inFlight.Clear();
  for (uint32_t key : r.inFlight) block.inFlight.Note(key);
  block.inFlight.sentBehind = r.sentBehind;
  uint64_t hook = 0;
  for (const RecordedCall& c : r.calls) {
    if (c.id == CallId::CallNextHookEx && !c.args.empty()) {
      hook = c.args[0];
      break;
    }
  }
  block.hooks[kThisLibrary] = {};
  (r.kind == RecordKind::kMessage ? block.hooks[kThisLibrary].message : block.hooks[kThisLibrary].keyboard) = hook;
  process = ProcessVariables{};
  process.armedTime = r.armedTime;
  std::strncpy(process.exeName, r.process.c_str(), sizeof process.exeName - 1);
}

}  // namespace

std::vector<size_t> RecordLines(const std::string& text) {
  std::vector<size_t> lines;
  size_t number = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = std::min(text.find('\n', start), text.size());
    ++number;
    std::string_view line(text.data() + start, end - start);
    size_t first = line.find_first_not_of(" \t");
    if (first != std::string_view::npos) {
      line.remove_prefix(first);
      for (std::string_view kind : {"keystroke", "message", "settings"}) {
        if (line.substr(0, kind.size()) == kind &&
            (line.size() == kind.size() || line[kind.size()] == ' ' || line[kind.size()] == '\t')) {
          lines.push_back(number);
        }
      }
    }
    start = end + 1;
  }
  return lines;
}

ReplayResult Replay(const Recording& recording, const std::vector<size_t>& lines) {
  ReplayResult result;
  ReplayPlatform platform;
  HookSharedBlock block{};
  ProcessVariables process;
  int32_t flags[kSettingCount];
  std::copy(std::begin(recording.header.settings), std::end(recording.header.settings), flags);
  int truncated = 0;
  for (size_t i = 0; i < recording.records.size(); ++i) {
    const Record& r = recording.records[i];
    if (r.kind == RecordKind::kSettings) {
      std::copy(std::begin(r.settings), std::end(r.settings), flags);
      continue;
    }
    ++result.replayed;
    SetUp(block, process, r, flags);
    platform.Begin(r);
    intptr_t returned = r.kind == RecordKind::kKeystroke
                            ? KeyboardProcedure(platform, block, process, r.code, static_cast<uintptr_t>(r.wParam),
                                                static_cast<intptr_t>(r.lParam))
                            : MessageProcedure(platform, block, r.code, static_cast<uintptr_t>(r.wParam),
                                               static_cast<intptr_t>(r.lParam), r.message);
    platform.End(returned);
    if (platform.beyondTruncation()) ++truncated;
    if (platform.divergence().empty()) continue;
    ++result.diverged;
    size_t line = i < lines.size() ? lines[i] : 0;
    result.report.push_back(
        Cat({r.kind == RecordKind::kMessage ? "message " : "keystroke ", std::to_string(result.replayed), " (line ",
             std::to_string(line), ", ", r.process, ", ", What(r), "): ", platform.divergence()}));
  }
  if (truncated != 0) {
    result.report.push_back(Cat(
        {"note: ", std::to_string(truncated), " truncated records checked only as far as their calls were recorded"}));
  }
  if (recording.hasTrailer && recording.trailer.lost != 0) {
    result.report.push_back(Cat({"note: ", std::to_string(recording.trailer.lost),
                                 " records were lost while recording; each record sets up its own state, so the "
                                 "rest replay all the same"}));
  }
  if (!recording.hasTrailer) result.report.push_back("note: the recording has no trailer: it was cut off");
  result.report.push_back(
      Cat({std::to_string(result.replayed), " keystrokes replayed, ", std::to_string(result.diverged), " diverged"}));
  return result;
}

}  // namespace tavik::sim
