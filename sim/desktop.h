// The simulated desktop: a stand-in for Windows, the IME and the keyboard
// driver, on which the real hook code runs. Every platform call is answered
// from the state below and recorded, with all else that happens, as an
// event. Its parts: the hook chain and input queue (desktop_input.cpp), the
// IME model (desktop_ime.cpp), and the traced platform, the calls the hook
// library makes (desktop_platform.cpp).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "hook/hook_call.h"
#include "hook/platform.h"
#include "sim/desktop_events.h"
#include "sim/editor_text.h"
#include "sim/print.h"
#include "sim/profile.h"

namespace tavik::sim {

// A keystroke as a window's application received it.
struct ReceivedKey {
  uint32_t vk;
  uint32_t scanKey;  // scan code plus 0x100 when extended
  bool up;
  // The IME took the key (Enter or henkan on a composition): the application
  // saw VK_PROCESSKEY in its place, as IMM32 hands it over.
  bool imeTook = false;
  bool operator==(const ReceivedKey&) const = default;
};

// The process a window belongs to when a scenario does not say.
inline constexpr const char kDefaultProcess[] = "app";

// A program on the desktop. Each has its own clock, and its own copy of the
// hook library's per-process variables, which the library keeps apart from
// the shared block that all processes see.
struct Process {
  std::string name;
  int32_t clock = 0;
  ProcessVariables variables;
};

struct Window {
  std::string name;
  std::string process = kDefaultProcess;
  bool hasIme = true;  // without one, ImmGetContext gives no context
  bool open = false;
  uint32_t conversion = 0;
  uint32_t sentence = 0;
  std::string composition;  // code page 932 bytes
  std::string attributes;   // one attribute byte per composition byte
  // What was typed before the IME converted it, kept for CPS_REVERT; empty
  // while the composition is not a conversion.
  std::string reading;
  std::optional<uint32_t> candidateList;  // entries of the first list; none when unset
  // The size ImmGetCandidateListA gives for that list instead of its own,
  // as an IME that miscounts would: none for the true size.
  std::optional<int32_t> candidateListSize;
  std::string committed;  // text the IME has committed to the application
  EditorText text;        // what the application shows: typed keys and commits
  std::vector<ReceivedKey> received;
};

// A message the IME generated for an application: posted ones go through the
// window thread's queue, where the message hooks see them; sent ones go
// straight to the window procedure.
struct ImeMessage {
  std::string window;
  uint32_t message;
  intptr_t lParam;
  bool posted;
  bool operator==(const ImeMessage&) const = default;
};

// WM_IME_COMPOSITION's lParam for a composition whose string and
// attributes changed.
inline constexpr intptr_t kCompositionChanged = w32::GCS_COMPSTR | w32::GCS_COMPATTR;

// The procedures the hook library gave SetWindowsHookExA, as the simulator
// knows them.
inline constexpr HookProc kKeyboardProcToken{1};
inline constexpr HookProc kMessageProcToken{2};
inline constexpr Hinstance kModuleInstance{0x10000};

class Desktop final : public InputPlatform {
 public:
  // Runs a hook procedure that the library installed.
  using HookRunner = std::function<intptr_t(HookProc, int32_t, uintptr_t, intptr_t)>;

  Desktop();

  // --- Arranging the desktop ---------------------------------------------------
  Window& AddWindow(const std::string& name, bool hasIme = true, const std::string& process = kDefaultProcess);
  Window* FindWindow(const std::string& name);
  void SetFocus(const std::string& name);  // "" for no focus
  Window* Focused();
  // The process named so, created on first mention.
  Process& ProcessNamed(const std::string& name);
  // Where input runs: the process of the focused window or, with no window
  // focused, of the window focused last. Its clock is what clock() answers
  // and its variables are what the keyboard hook is given.
  Process& Running();

  ProfileStore& profiles() { return profiles_; }
  void SetImeFileName(std::optional<std::string> name) { imeFileName_ = std::move(name); }
  void SetHostPath(std::optional<std::string> path) { hostPath_ = std::move(path); }
  const std::optional<std::string>& hostPath() const { return hostPath_; }
  void SetClock(int32_t ms) { Running().clock = ms; }
  void SetClock(const std::string& process, int32_t ms) { ProcessNamed(process).clock = ms; }
  // GetAsyncKeyState: bit 15 while held, bit 0 until the next query.
  void SetHeld(uint32_t vk, bool held);
  void SetPressedSinceLastQuery(uint32_t vk, bool pressed);
  // What the next GetAsyncKeyState calls for vk return, one value each,
  // before the held state above applies again.
  void ScriptAsyncKeyState(uint32_t vk, const std::vector<uint16_t>& values);
  // GetKeyState bit 0, or its whole result.
  void SetToggled(uint32_t vk, bool on);
  void SetKeyState(uint32_t vk, uint16_t value) { keyState_[vk & 0xFF] = value; }
  bool Toggled(uint32_t vk) const { return (keyState_[vk & 0xFF] & 1) != 0; }

  // Makes a platform call fail with its Win32 failure value (for
  // ImmGetCompositionStringA, `value` is what it returns).
  void Fail(const std::string& call, int32_t value = 0) { failing_[call] = value; }
  void Restore(const std::string& call) {
    failing_.erase(call);
    if (call == "SetWindowsHookExA") failingHookTypes_.clear();
  }
  // Makes SetWindowsHookExA fail for one hook type only.
  void FailHookType(int32_t idHook) { failingHookTypes_.insert(idHook); }
  // What CallNextHookEx returns where there is no further hook in the chain:
  // the rest of the chain (other programs' hooks, the system) answering.
  void SetNextHookResult(intptr_t result) { nextHookResult_ = result; }
  static bool CanFail(const std::string& call);

  void SetHookRunner(HookRunner runner) { runner_ = std::move(runner); }
  bool HookInstalled(int32_t type) const;

  // --- Input -------------------------------------------------------------------
  // A keystroke from the keyboard: runs through the hook chain and, unless a
  // hook discards it, reaches the focused window. The synthetic keystrokes
  // sent meanwhile follow, in the order sent. Returns the first hook's
  // result (0 when no hook is installed).
  intptr_t Keystroke(int32_t code, uint32_t vk, intptr_t lParam);

  // Keystrokes from the keyboard typed faster than the focused window's
  // thread takes them (SendInput's batches): every one is in its input queue
  // before the first is retrieved, so what the hooks send meanwhile lines up
  // behind the last of them, in the order sent. Each is a keystroke with
  // hook code 0: its virtual-key code and lParam.
  void Burst(const std::vector<std::pair<uint32_t, intptr_t>>& keys);

  // A message retrieved by the focused window's thread: runs through the
  // message hooks. `remove` is the PeekMessage flag (GetMessage removes).
  intptr_t RetrieveMessage(int32_t code, bool remove, uint32_t message, intptr_t lParam = 0);

  // --- The record ----------------------------------------------------------------
  // Everything that happened, in order.
  const std::vector<DesktopEvent>& events() const { return events_; }
  // The platform calls among the events from `first` on.
  std::vector<PlatformCall> Calls(size_t first = 0) const;
  // The trace: the events from `first` on as the report prints them.
  std::vector<std::string> TraceLines(size_t first = 0) const;
  // What the IME was told, in order: NI_COMPOSITIONSTR actions it carried
  // out, and ImmConfigureIMEA.
  std::vector<ImeTold> imeTold() const;
  // What the IME generated for applications, in order.
  const std::vector<ImeMessage>& imeMessages() const { return imeMessages_; }
  // A line of the caller's own for the trace, where it stands among the events.
  void Note(const std::string& line) { events_.push_back(Remark{line}); }

  // Invariants: contexts taken but not released, blocks not freed, synthetic
  // key-downs without their key-up.
  std::vector<std::string> InvariantViolations() const;
  // Keys the keyboard has pressed and not yet released.
  const std::set<uint32_t>& physicalKeysDown() const { return physicalDown_; }
  // A synthetic key-down of vk was sent and its key-up not yet. Only sends
  // that went through count: a dropped key-down presses nothing, and a
  // dropped key-up leaves the key down, as on Windows. (A key-up of vk from
  // the keyboard releases the key for Windows too; InvariantViolations
  // forgives such a key, this does not forget it.)
  bool SyntheticKeyDown(uint32_t vk) const;
  // The latest keybd_event for vk was dropped (keybd_event failing). The
  // sender cannot tell, since keybd_event returns nothing, so its own idea
  // of the key may differ from the desktop's until its next send.
  bool LastSendDropped(uint32_t vk) const;

  // --- The platform ----------------------------------------------------------------
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

  // What handles are known as in the record.
  std::string Name(Hwnd h) const;
  std::string Name(Himc h) const;
  static std::string Name(Hhook h);

 private:
  struct Hook {
    Hhook handle;
    int32_t type;
    HookProc proc;
  };
  struct Synthetic {
    uint32_t vk;
    uint32_t scan;
    uint32_t flags;
  };

  bool Failing(const char* call) const { return failing_.count(call) != 0; }
  Window* WindowOf(Hwnd h);
  Window* WindowOf(Himc h);
  void Record(PlatformCall call) { events_.push_back(std::move(call)); }
  intptr_t RunChain(int32_t type, int32_t code, uintptr_t wParam, intptr_t lParam);
  intptr_t CallHookAt(size_t index, int32_t code, uintptr_t wParam, intptr_t lParam);
  void Deliver(uint32_t vk, intptr_t lParam);

  // --- The IME model (desktop_ime.cpp) ---
  // A Japanese IME takes Enter (its commit key) and henkan (its conversion
  // key) as they go down while it holds a composition.
  static bool ImeTakes(const Window& w, uint32_t vk, bool up);
  // The IME's composition to the application, at its caret.
  void Commit(Window& w);
  // The henkan key: the composition becomes its converted text.
  void Convert(Window& w);
  // CPS_REVERT: back to what was typed, unconverted.
  void Revert(Window& w);
  void Cancel(Window& w);
  // NI_COMPOSITIONSTR with a CPS_ index.
  void Notify(Window& w, uint32_t index);
  void SendImeMessage(Window& w, uint32_t message, intptr_t lParam);
  // ImmGetCandidateListA for the window's first list: its result, and a
  // note for the record when there is no list to give.
  uint32_t CandidateListOf(const Window& w, CandidateList* lpCandList, uint32_t dwBufLen, std::string& note) const;

  // The running process's name once the desktop has more than one, for the record.
  std::string ProcessShown();
  void ProcessKeystroke(int32_t code, uint32_t vk, intptr_t lParam, bool synthetic);
  void NoteKeyboard(int32_t code, uint32_t vk, intptr_t lParam);
  // The synthetic keystrokes sent so far and those they cause, in the order
  // sent; more than `limit` is taken for a loop.
  void ProcessSynthetic(int limit);

  std::vector<Window> windows_;
  std::deque<Process> processes_;  // a deque: the hook holds on to its process's variables
  int focus_ = -1;
  int lastFocus_ = -1;  // the window focused last, focused still or not
  ProfileStore profiles_;
  std::optional<std::string> imeFileName_;
  std::optional<std::string> hostPath_;
  uint16_t asyncState_[256] = {};
  uint16_t keyState_[256] = {};
  std::map<uint32_t, std::deque<uint16_t>> asyncScript_;
  std::map<std::string, int32_t> failing_;
  std::set<int32_t> failingHookTypes_;
  intptr_t nextHookResult_ = 0;

  std::vector<Hook> hooks_;  // in the order installed
  uintptr_t nextHook_ = 1;
  std::vector<size_t> runningHook_;  // chain positions of the hooks now running
  HookRunner runner_;

  std::deque<Synthetic> pending_;
  intptr_t lastResult_ = 0;
  std::map<uint32_t, bool> syntheticDown_;  // vk -> a key-down was sent and its key-up not yet
  std::map<uint32_t, bool> lastSendDropped_;  // vk -> its latest keybd_event was dropped
  // Keys the keyboard released after our last key-down of them: Windows keeps
  // one down state per virtual key, so the user's key-up released ours too.
  std::set<uint32_t> releasedByKeyboard_;
  std::set<uint32_t> physicalDown_;

  std::map<uintptr_t, int> contextsOut_;  // context -> times taken minus times released
  std::vector<std::string> releaseErrors_;
  std::map<uintptr_t, std::vector<uint8_t>> blocks_;
  uintptr_t nextBlock_ = 0x5000;

  std::vector<DesktopEvent> events_;
  std::vector<ImeMessage> imeMessages_;
};

// What a WH_GETMESSAGE hook procedure is handed: the number of the message
// that lParam points to, read as the Windows layer reads it.
inline uint32_t MessageNumber(int32_t code, intptr_t lParam) {
  return code >= 0 && lParam != 0 ? reinterpret_cast<const Msg*>(lParam)->message : 0;
}

// lParam of a keystroke: repeat count 1, scan code, extended bit, previous
// state, transition.
intptr_t KeystrokeLParam(uint32_t scanKey, bool up, bool previouslyDown);

// The largest block GlobalAlloc gives (64 MiB); a larger size is taken
// for a miscount, as Windows fails a size it cannot commit.
inline constexpr uint64_t kMaxGlobalBlock = uint64_t{64} << 20;

}  // namespace tavik::sim
