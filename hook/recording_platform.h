// Recording in the hook library: while the shared block's recording word is
// set, each keystroke a stage looks at and each IME message the message hook
// sees becomes one record in the tray program's ring (common/recording.h):
// the library's state before it, every platform call with its arguments and
// results, and what the procedure returned. The stages do not know: they are
// handed a RecordingPlatform, which forwards each call to the real platform
// and appends it to the record.
//
// Written straight into a slot of the shared ring, without heap or locks: a
// keystroke never waits for the tray program. A full ring loses the record
// (counted), never the keystroke.
#pragma once

#include <cstdint>

#include "common/recording.h"
#include "hook/platform.h"
#include "hook/shared_block.h"

namespace tavik {

// What a recording needs of its process beyond the input platform.
class RecordingSource {
 public:
  // The tray program's recording block of this session (mapped the first
  // time, and again for a new session), or null when it cannot be opened.
  virtual RecordingBlock* RecordingBlockOf(uint32_t session) = 0;
  virtual uint32_t GetCurrentProcessId() = 0;
  virtual uint32_t GetCurrentThreadId() = 0;
  virtual uint32_t GetTickCount() = 0;

 protected:
  ~RecordingSource() = default;
};

// The ring of the block's session for this process, or null when the
// process does not record (no source, or the block cannot be opened).
RecordingBlock* RecordingRing(const HookSharedBlock& block, ProcessVariables& process);

// A procedure call's pass over without a record: counted for the trailer.
void CountPassedOn(RecordingBlock& ring);

// One record in its slot, from the procedure's entry to its return.
class SlotWriter {
 public:
  // Takes the next ticket when the ring has room (else counts it lost:
  // taken() is false and nothing is written) and writes the record's head:
  // who, when, the call's arguments and the library's state before it.
  SlotWriter(RecordingBlock& ring, RecordKind kind, const HookSharedBlock& block, ProcessVariables& process,
             int32_t code, uintptr_t wParam, intptr_t lParam, uint32_t message);
  SlotWriter(const SlotWriter&) = delete;
  SlotWriter& operator=(const SlotWriter&) = delete;

  bool taken() const { return slot_ != nullptr; }
  RecordKind kind() const { return kind_; }

  // One platform call; marks the record truncated once one does not fit.
  void Call(CallId id, const uint64_t* args, uint32_t argCount, const void* in, uint32_t inLength, const void* out,
            uint32_t outLength, int64_t result);
  // The procedure's return value; hands the slot to the tray program.
  void End(int64_t returned);
  // A settings record: the flags, and the slot handed over.
  void Settings(const int32_t (&flags)[kSettingCount]);

 private:
  void Put(const void* bytes, uint32_t n);
  void Complete();

  RecordSlot* slot_ = nullptr;
  uint64_t ticket_ = 0;
  uint32_t used_ = 0;
  bool truncated_ = false;
  RecordKind kind_ = RecordKind::kKeystroke;
};

// The input platform with every call appended to a record.
class RecordingPlatform final : public InputPlatform {
 public:
  RecordingPlatform(InputPlatform& real, SlotWriter& record) : p_(real), r_(record) {}

  Hwnd GetFocus() override;
  Hkl GetKeyboardLayout(uint32_t idThread) override;
  int16_t GetKeyState(int32_t nVirtKey) override;
  int16_t GetAsyncKeyState(int32_t vKey) override;
  void keybd_event(uint8_t bVk, uint8_t bScan, uint32_t dwFlags, uintptr_t dwExtraInfo) override;
  uint32_t SendInput(uint32_t cInputs, const KeybdInput* pInputs) override;
  Hhook SetWindowsHookExA(int32_t idHook, HookProc lpfn, Hinstance hmod, uint32_t dwThreadId) override;
  int32_t UnhookWindowsHookEx(Hhook hhk) override;
  intptr_t CallNextHookEx(Hhook hhk, int32_t nCode, uintptr_t wParam, intptr_t lParam) override;
  Himc ImmGetContext(Hwnd hWnd) override;
  int32_t ImmReleaseContext(Hwnd hWnd, Himc hIMC) override;
  int32_t ImmGetOpenStatus(Himc hIMC) override;
  int32_t ImmSetOpenStatus(Himc hIMC, int32_t fOpen) override;
  int32_t ImmGetConversionStatus(Himc hIMC, uint32_t* lpfdwConversion, uint32_t* lpfdwSentence) override;
  int32_t ImmSetConversionStatus(Himc hIMC, uint32_t fdwConversion, uint32_t fdwSentence) override;
  int32_t ImmNotifyIME(Himc hIMC, uint32_t dwAction, uint32_t dwIndex, uint32_t dwValue) override;
  int32_t ImmGetCompositionStringA(Himc hIMC, uint32_t dwIndex, void* lpBuf, uint32_t dwBufLen) override;
  uint32_t ImmGetCandidateListA(Himc hIMC, uint32_t deIndex, CandidateList* lpCandList, uint32_t dwBufLen) override;
  uint32_t ImmGetIMEFileNameA(Hkl hKL, char* lpszFileName, uint32_t uBufLen) override;
  int32_t ImmConfigureIMEA(Hkl hKL, Hwnd hWnd, uint32_t dwMode, void* lpData) override;
  uint32_t GetModuleFileNameA(Hinstance hModule, char* lpFilename, uint32_t nSize) override;
  Hglobal GlobalAlloc(uint32_t uFlags, size_t dwBytes) override;
  void* GlobalLock(Hglobal hMem) override;
  Hglobal GlobalFree(Hglobal hMem) override;
  uint32_t GetPrivateProfileStringA(const char* lpAppName, const char* lpKeyName, const char* lpDefault,
                                    char* lpReturnedString, uint32_t nSize, const char* lpFileName) override;
  int32_t clock() override;

 private:
  InputPlatform& p_;
  SlotWriter& r_;
};

// The settings record HookStart leaves while recording is on.
void RecordSettings(const HookSharedBlock& block, ProcessVariables& process);

}  // namespace tavik
