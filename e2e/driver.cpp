// tavik-e2e.exe: runs scenario files against the real tavikhook.dll on a
// real (Wine) desktop. It starts the target program with the test IME,
// sets the IME up as each scenario says, types real keystrokes with
// SendInput, and checks what the target received and what its IME was
// told. The shared block is read and written through the driver's own
// mapping of the library, the one every process shares. The scenarios are
// read by the same interpreter as on the simulated desktop; this file only
// says how the real desktop arranges, types and reads back, and
// (WineDesktop::CannotDo) what it cannot arrange or observe.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/settings.h"
#include "e2e/load.h"
#include "sim/block_words.h"
#include "sim/keys.h"
#include "sim/scenario.h"
#include "sim/scenario_desktop.h"
// After the portable headers: <windows.h> defines some of their names as macros.
#include "e2e/e2e_shared.h"
#include "e2e/hosts.h"
#include "e2e/ime_layouts.h"
// clang-format off
#include <windows.h>
#include <imm.h>
// clang-format on

namespace {

using tavik::sim::Command;
using tavik::sim::DesktopFailure;
using tavik::sim::KeyEvent;
using tavik::sim::KeyId;
using tavik::sim::Scenario;
using tavik::sim::Verdict;
using namespace tavik::e2e;
namespace cmd = tavik::sim::cmd;

constexpr KeyId kSentinel{0x87, 0x76};  // F24: no stage has any use for it
constexpr KeyId kProbe{kProbeVk, kProbeScan};
constexpr DWORD kTimeoutMs = 5000;

std::string WindowsPath(std::string p) {
  for (char& c : p) {
    if (c == '/') c = '\\';
  }
  if (!p.empty() && p[0] == '\\') p = "Z:" + p;
  return p;
}

std::string Bytes(const uint8_t* p, size_t n) {
  if (n == 0) return "none";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X", p[i]);
    out += (i ? " " : "") + std::string(buf);
  }
  return out;
}

std::string Trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  size_t e = s.find_last_not_of(" \t\r");
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

// What the test IME was told since `from`, in the words scenarios use.
std::vector<std::string> ImeTold(const Shared& s, uint32_t from) {
  std::vector<std::string> told;
  for (uint32_t i = from; i < s.imeCallCount && i < std::size(s.imeCalls); ++i) {
    const ImeCall& call = s.imeCalls[i];
    if (call.kind == kImeConfigure) {
      told.push_back("configure");
    } else if (call.kind == kNotifyIme && call.a == NI_COMPOSITIONSTR) {
      told.push_back(call.b == CPS_COMPLETE ? "complete"
                     : call.b == CPS_REVERT ? "revert"
                     : call.b == CPS_CANCEL ? "cancel"
                                            : "cps:" + std::to_string(call.b));
    }
  }
  return told;
}

class Desktop {
 public:
  bool Start(const std::string& dllPath, const std::string& imePath, const std::string& targetPath, std::string& why) {
    dllPath_ = dllPath;
    mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Shared), kSharedName);
    if (mapping_ == nullptr) return Fail(why, "cannot create the shared block");
    shared_ = static_cast<Shared*>(MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (shared_ == nullptr) return Fail(why, "cannot map the shared block");
    std::memset(shared_, 0, sizeof(Shared));
    held_ = CreateEventA(nullptr, FALSE, FALSE, kHeldEvent);
    release_ = CreateEventA(nullptr, FALSE, FALSE, kReleaseEvent);
    if (held_ == nullptr || release_ == nullptr) return Fail(why, "cannot create the events a burst is typed with");

    if (!LoadHookLibrary(why)) return false;
    if (!targets_.Start(imePath, targetPath, *shared_, why)) return false;
    return CheckIme(why) && CheckConversion(why) && CheckLayouts(why) && CheckImeFromHook(why);
  }

  void Stop() {
    if (hookLibrary_ != nullptr) {
      if (started_) HookEndNow();
      if (block_ != nullptr) UnmapViewOfFile(block_);
      if (blockMapping_ != nullptr) CloseHandle(blockMapping_);
      FreeLibrary(hookLibrary_);
    }
    targets_.Stop();
    if (held_ != nullptr) CloseHandle(held_);
    if (release_ != nullptr) CloseHandle(release_);
    if (shared_ != nullptr) UnmapViewOfFile(shared_);
    if (mapping_ != nullptr) CloseHandle(mapping_);
  }

  Shared& shared() { return *shared_; }
  bool started() const { return started_; }
  // The program the keystrokes and IME arrangements go to, and its layout.
  Targets& targets() { return targets_; }

  LRESULT Tell(TargetCommand command, WPARAM wParam = 0, LPARAM lParam = 0) {
    return TellTarget(targets_.window(), command, wParam, lParam);
  }

  // The target's state once it has handled every message posted to it so
  // far (the IME posts its composition messages), with the text of one of
  // its edit controls (as kCmdFocus names them).
  void Snapshot(WPARAM textOf = 1) {
    uint32_t seq = ++syncSeq_;
    PostMessageA(targets_.window(), kCmdSync, seq, 0);
    for (DWORD start = GetTickCount(); shared_->syncSeq != seq && GetTickCount() - start < kTimeoutMs;) Sleep(1);
    Tell(kCmdSnapshot, textOf);
  }

  // An edit control's text and caret, as the target reads them.
  tavik::sim::AppText Text(WPARAM window) {
    Snapshot(window);
    const Shared& s = *shared_;
    size_t n = s.snapEditTextLength > 0 ? static_cast<size_t>(s.snapEditTextLength) : 0;
    return tavik::sim::AppText{std::string(reinterpret_cast<const char*>(s.snapEditText), n), s.snapCaret};
  }

  // The text of an edit control, with the caret at `caret` characters (-1:
  // after the text).
  void SetText(WPARAM window, const std::string& text, LPARAM caret = -1) {
    size_t n = text.size() < sizeof shared_->stagedText ? text.size() : sizeof shared_->stagedText;
    std::memcpy(shared_->stagedText, text.data(), n);
    shared_->stagedTextLength = static_cast<uint32_t>(n);
    Tell(kCmdSetText, window, caret);
  }

  void HookStartNow() {
    hookStart_();
    started_ = true;
  }

  // The library's shared block, as this process maps it.
  tavik::HookSharedBlock& block() { return *block_; }

  void HookEndNow() {
    if (hookEnd_ != nullptr) hookEnd_();
    started_ = false;
  }

  // Types the keystrokes and waits until the target has taken them and
  // whatever they made the hook send.
  bool Type(const std::vector<std::pair<KeyId, bool>>& keys, std::string& why) {
    std::vector<INPUT> inputs;
    for (const auto& [key, up] : keys) inputs.push_back(Input(key, up));
    if (!inputs.empty() && SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) != inputs.size()) {
      return Fail(why, "SendInput failed");
    }
    return Settle(why);
  }

  // Types a burst at full speed: the target holds still until every
  // keystroke of it is in its queue, so that what the hook sends meanwhile
  // goes behind the last of them, then takes them as fast as it can. The
  // simulated desktop's Burst does the same.
  bool Burst(const std::vector<std::pair<KeyId, bool>>& keys, std::string& why) {
    std::vector<INPUT> inputs;
    for (const auto& [key, up] : keys) inputs.push_back(Input(key, up));
    PostMessageA(targets_.window(), kCmdHold, 0, 0);
    if (WaitForSingleObject(held_, kTimeoutMs) != WAIT_OBJECT_0) return Fail(why, "the target did not hold still");
    UINT sent = inputs.empty() ? 0 : SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    SetEvent(release_);
    if (sent != inputs.size()) return Fail(why, "SendInput failed");
    return Settle(why);
  }

  // Rounds of F24 until one brings nothing else: keystrokes that the hook
  // sends while the target takes ours queue up behind the first F24.
  bool Settle(std::string& why) {
    for (int round = 0; round < 8; ++round) {
      uint32_t before = shared_->keyCount;
      INPUT sentinel[2] = {Input(kSentinel, false), Input(kSentinel, true)};
      SendInput(2, sentinel, sizeof(INPUT));
      DWORD start = GetTickCount();
      while (!SentinelUpAfter(before)) {
        if (GetTickCount() - start > kTimeoutMs) return Fail(why, "the target did not take the keystrokes in time");
        Sleep(2);
      }
      bool other = false;
      for (uint32_t i = before; i < shared_->keyCount; ++i) other = other || shared_->keys[i].vk != kSentinel.vk;
      if (!other && round > 0) return true;
    }
    return Fail(why, "keystrokes keep coming");
  }

 private:
  // Before any scenario relies on it: the test IME takes on what is staged,
  // reports it through IMM32, and does what it is told.
  bool CheckIme(std::string& why) {
    Shared& s = *shared_;
    const uint8_t text[] = {0x83, 0x4A, 0x83, 0x4C};
    const uint8_t attr[] = {2, 2, 1, 1};
    uint32_t told = s.imeCallCount;
    Tell(kCmdSetOpen, 1);
    Tell(kCmdSetMode, 0x19, 0);
    s.stagedLength = sizeof text;
    std::memcpy(s.stagedComposition, text, sizeof text);
    std::memcpy(s.stagedAttributes, attr, sizeof attr);
    s.stagedCandidates = 3;
    SetText(1, "");
    Tell(kCmdApplyStaged);
    // The application shows no composition: its text is what was committed.
    if (!Text(1).text.empty()) return Fail(why, "the composition shows in the edit control's text");
    if (!s.snapOpen || s.snapConversion != 0x19) return Fail(why, "the test IME does not keep open status and mode");
    if (s.snapCompositionLength != 4 || std::memcmp(s.snapComposition, text, 4) != 0) {
      return Fail(why, "the test IME's composition reads back as " + Bytes(s.snapComposition, 4));
    }
    if (s.snapAttributesLength != 4 || std::memcmp(s.snapAttributes, attr, 4) != 0) {
      return Fail(why, "the test IME's attributes read back as " + Bytes(s.snapAttributes, 4));
    }
    if (s.snapCandidates != 3) return Fail(why, "the test IME's candidate list reads back wrong");
    Tell(kCmdNotify, CPS_REVERT);
    Snapshot();
    if (s.snapAttributesLength != 4 || s.snapAttributes[0] != 0 || s.snapAttributes[3] != 0) {
      return Fail(why, "CPS_REVERT did not revert the test IME's composition");
    }
    Tell(kCmdNotify, CPS_COMPLETE);
    Snapshot();
    if (s.snapCompositionLength != 0 || s.committedLength != 4 || std::memcmp(s.committed, text, 4) != 0) {
      return Fail(why, "CPS_COMPLETE did not commit the test IME's composition");
    }
    // Once: neither the edit control's own IME handling nor WM_IME_CHAR
    // adds it again.
    std::string edit = Text(1).text;
    if (edit != std::string(reinterpret_cast<const char*>(text), sizeof text)) {
      return Fail(why, "the committed text reached the edit control as " +
                           Bytes(reinterpret_cast<const uint8_t*>(edit.data()), edit.size()));
    }
    Tell(kCmdApplyStaged);
    Tell(kCmdNotify, CPS_CANCEL);
    Snapshot();
    if (s.snapCompositionLength != 0 || s.committedLength != 4) {
      return Fail(why, "CPS_CANCEL did not drop the test IME's composition");
    }
    // A commit stays in the edit control when a later composition is cancelled.
    if (Text(1).text != edit) return Fail(why, "cancelling a composition changed the committed text in the edit control");
    Tell(kCmdConfigure);
    std::vector<std::string> got = ImeTold(s, told);
    if (got != std::vector<std::string>{"revert", "complete", "cancel", "configure"}) {
      std::string list;
      for (const std::string& g : got) list += " " + g;
      return Fail(why, "the test IME's record of what it was told is wrong:" + list);
    }
    std::printf("ok   the test IME keeps its state, reports it through IMM32 and records what it is told\n\n");
    return true;
  }

  // Henkan converts what was typed, and the news reaches the target through
  // its message queue, where a WH_GETMESSAGE hook sees it; CPS_REVERT brings
  // back what was typed and says so only when that changes something; the
  // key-up, and a henkan with nothing to convert or a closed IME, are not
  // the IME's.
  bool CheckConversion(std::string& why) {
    Shared& s = *shared_;
    const uint8_t typed[] = {0x82, 0xA9, 0x82, 0xC8};      // かな
    const uint8_t converted[] = {0x95, 0xCF, 0x8A, 0xB7};  // 変換
    const uint8_t convertedAttr[] = {1, 1, 1, 1};
    const uint8_t inputAttr[] = {0, 0, 0, 0};
    const KeyId henkan{VK_CONVERT, 0x79};
    auto stage = [&](const uint8_t* text, uint32_t n) {
      s.stagedLength = n;
      if (n != 0) std::memcpy(s.stagedComposition, text, n);
      std::memset(s.stagedAttributes, 0, sizeof s.stagedAttributes);
      s.stagedCandidates = -1;
      Tell(kCmdApplyStaged);
    };
    auto composition = [&](const uint8_t* text, const uint8_t* attr, uint32_t n) {
      Snapshot();
      return s.snapCompositionLength == static_cast<int32_t>(n) && s.snapAttributesLength == static_cast<int32_t>(n) &&
             std::memcmp(s.snapComposition, text, n) == 0 && std::memcmp(s.snapAttributes, attr, n) == 0;
    };
    // What the target retrieved of the henkan keystrokes since `from`, the
    // sentinels left out: each as "down"/"up", "*" when the IME took it.
    auto henkanKeys = [&](uint32_t from) {
      std::string got;
      for (uint32_t i = from; i < s.keyCount; ++i) {
        if (s.keys[i].vk == kSentinel.vk) continue;
        got += (got.empty() ? "" : " ") + std::string(s.keys[i].up ? "up" : "down") + (s.keys[i].imeTook ? "*" : "") +
               (s.keys[i].vk == VK_CONVERT ? "" : "?");
      }
      return got;
    };

    Tell(kCmdSetOpen, 1);
    SetText(1, "");
    stage(typed, sizeof typed);
    uint32_t keys = s.keyCount;
    uint32_t queued = s.queuedCompositions;
    uint32_t calls = s.imeCallCount;
    if (!Type({{henkan, false}, {henkan, true}}, why)) return false;
    if (!composition(converted, convertedAttr, 4)) {
      return Fail(why, "henkan left the test IME's composition " + Bytes(s.snapComposition, 4) + " / " +
                           Bytes(s.snapAttributes, 4));
    }
    if (henkanKeys(keys) != "down* up") {
      return Fail(why, "the target got henkan as " + henkanKeys(keys) + ", not as VK_PROCESSKEY down and itself up");
    }
    if (s.queuedCompositions != queued + 1) {
      return Fail(why, "the conversion's WM_IME_COMPOSITION did not come through the target's message queue once");
    }
    bool recorded = false;
    for (uint32_t i = calls; i < s.imeCallCount; ++i) recorded = recorded || s.imeCalls[i].kind == kConvert;
    if (!recorded) return Fail(why, "the test IME did not record its conversion");

    uint32_t sent = s.editorCompositions;
    Tell(kCmdNotify, CPS_REVERT);
    if (!composition(typed, inputAttr, 4)) return Fail(why, "CPS_REVERT did not bring back what was typed");
    if (s.editorCompositions != sent + 1) return Fail(why, "CPS_REVERT of a conversion sent no WM_IME_COMPOSITION");
    Tell(kCmdNotify, CPS_REVERT);
    if (!composition(typed, inputAttr, 4) || s.editorCompositions != sent + 1) {
      return Fail(why, "CPS_REVERT of a composition that was not converted changed it or sent a message");
    }
    uint32_t committed = s.committedLength;
    Tell(kCmdNotify, CPS_COMPLETE);
    Snapshot();
    if (s.committedLength != committed + 4 || std::memcmp(s.committed + committed, typed, 4) != 0) {
      return Fail(why, "CPS_COMPLETE after a revert did not commit what was typed");
    }

    // Nothing to convert, then a closed IME: the key is the application's.
    keys = s.keyCount;
    queued = s.queuedCompositions;
    if (!Type({{henkan, false}, {henkan, true}}, why)) return false;
    stage(typed, sizeof typed);
    Tell(kCmdSetOpen, 0);
    if (!Type({{henkan, false}, {henkan, true}}, why)) return false;
    if (henkanKeys(keys) != "down up down up" || s.queuedCompositions != queued ||
        !composition(typed, inputAttr, 4)) {
      return Fail(why, "henkan with nothing to convert or a closed IME reached the IME (" + henkanKeys(keys) + ")");
    }
    stage(nullptr, 0);
    SetText(1, "");
    std::printf("ok   henkan converts through the message queue, CPS_REVERT brings back what was typed\n\n");
    return true;
  }

  bool CheckLayouts(std::string& why) {
    if (!targets_.CheckLayouts(why)) return false;
    std::printf("ok   the target switches to the layout of each IME file name (ImmGetIMEFileNameA: \"%s\")\n\n",
                shared_->snapImeFile);
    return true;
  }

  // The stages change the IME's open status and mode, and open its
  // configuration, from inside the keyboard hook in the target's thread:
  // the target's own hook does the same, on the default layout and on
  // another, and the target must read back what it set.
  bool CheckImeFromHook(std::string& why) {
    Shared& s = *shared_;
    struct Probe {
      uint32_t open, conversion, sentence, configure;
    };
    const Probe probes[] = {{1, 0x9, 0x8, 1}, {0, 0x19, 0, 0}};
    for (const char* imeFile : {kImeFileNames[0], kImeFileNames[1]}) {
      if (!targets_.UseImeFile(imeFile, why)) return false;
      for (const Probe& p : probes) {
        Tell(kCmdSetOpen, p.open ? 0 : 1);
        Tell(kCmdSetMode, 0, 0);
        uint32_t told = s.imeCallCount;
        s.probeOpen = p.open;
        s.probeConversion = p.conversion;
        s.probeSentence = p.sentence;
        s.probeConfigure = p.configure;
        s.probeArmed = 1;
        if (!Type({{kProbe, false}, {kProbe, true}}, why)) return false;
        Snapshot();
        if (s.probeArmed) return Fail(why, std::string("the target's keyboard hook did not run under ") + imeFile);
        if (s.snapOpen != p.open || s.snapConversion != p.conversion || s.snapSentence != p.sentence) {
          char got[96];
          std::snprintf(got, sizeof got, "open %u mode 0x%X sentence 0x%X", s.snapOpen, s.snapConversion,
                        s.snapSentence);
          return Fail(why,
                      std::string("under ") + imeFile + " the IME state set from a keyboard hook reads back as " + got);
        }
        std::vector<std::string> want;
        if (p.configure) want.push_back("configure");
        if (ImeTold(s, told) != want) {
          return Fail(why, std::string("under ") + imeFile +
                               " ImmConfigureIMEA from a keyboard hook did not reach the test IME once");
        }
      }
    }
    if (!targets_.UseDefaults(why)) return false;
    std::printf("ok   open status, mode and configuration set from a keyboard hook in the target reach the IME\n\n");
    return true;
  }

  static bool Fail(std::string& why, const std::string& what) {
    why = what;
    return false;
  }

  static INPUT Input(const KeyId& key, bool up) {
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = static_cast<WORD>(key.vk);
    in.ki.wScan = static_cast<WORD>(key.scanKey & 0xFF);
    in.ki.dwFlags = ((key.scanKey & 0x100) != 0 ? KEYEVENTF_EXTENDEDKEY : 0) | (up ? KEYEVENTF_KEYUP : 0);
    return in;
  }

  bool SentinelUpAfter(uint32_t from) const {
    for (uint32_t i = from; i < shared_->keyCount; ++i) {
      if (shared_->keys[i].vk == kSentinel.vk && shared_->keys[i].up) return true;
    }
    return false;
  }

  // Loads the library as the tray program does, and maps its shared block:
  // the named block that the library maps in every process it is loaded into.
  bool LoadHookLibrary(std::string& why) {
    hookLibrary_ = LoadLibraryA(dllPath_.c_str());
    if (hookLibrary_ == nullptr) return Fail(why, "cannot load " + dllPath_);
    hookStart_ = reinterpret_cast<int (*)()>(reinterpret_cast<void*>(GetProcAddress(hookLibrary_, "HookStart")));
    hookEnd_ = reinterpret_cast<void (*)()>(reinterpret_cast<void*>(GetProcAddress(hookLibrary_, "HookEnd")));
    if (hookStart_ == nullptr || hookEnd_ == nullptr) return Fail(why, "HookStart or HookEnd not exported");
    blockMapping_ = OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, tavik::kSharedBlockName);
    void* view = blockMapping_ != nullptr ? MapViewOfFile(blockMapping_, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0,
                                                          sizeof(tavik::HookSharedBlock))
                                          : nullptr;
    block_ = static_cast<tavik::HookSharedBlock*>(view);
    if (block_ == nullptr) {
      return Fail(why, std::string("no shared block ") + tavik::kSharedBlockName + " after loading " + dllPath_);
    }
    return true;
  }

  std::string dllPath_;
  HANDLE mapping_ = nullptr;
  HANDLE held_ = nullptr;
  HANDLE release_ = nullptr;
  Shared* shared_ = nullptr;
  Targets targets_;
  HMODULE hookLibrary_ = nullptr;
  HANDLE blockMapping_ = nullptr;
  tavik::HookSharedBlock* block_ = nullptr;
  int (*hookStart_)() = nullptr;
  void (*hookEnd_)() = nullptr;
  bool started_ = false;
  uint32_t syncSeq_ = 0;
};

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

// One scenario on the real desktop: the target program's two edit controls,
// the test IME in `editor`, keystrokes through SendInput.
class WineDesktop final : public tavik::sim::ScenarioDesktop {
 public:
  explicit WineDesktop(Desktop& desktop) : desktop_(desktop) {}

  const char* CannotDo(const Command& c) const override {
    constexpr const char* kUnobservable = "not observable on a real desktop";
    return std::visit(
        Overloaded{
            [](const cmd::Clock&) -> const char* { return "sets the process clock"; },
            [](const cmd::Fail&) -> const char* { return "makes platform calls fail"; },
            [](const cmd::Restore&) -> const char* { return "makes platform calls fail"; },
            [](const cmd::NextHookResult&) -> const char* { return "sets what the rest of the hook chain answers"; },
            [](const cmd::ImeFile& f) -> const char* {
              return ImeFileOnlyInSimulator(f.name.has_value(), f.name.value_or(""));
            },
            [](const cmd::Host& h) -> const char* {
              return HostOnlyInSimulator(h.path.has_value(), h.path.value_or(""));
            },
            [](const cmd::PressedSince&) -> const char* { return "scripts GetAsyncKeyState"; },
            [](const cmd::Async&) -> const char* { return "scripts GetAsyncKeyState"; },
            [](const cmd::KeyState&) -> const char* { return "sets GetKeyState directly"; },
            [](const cmd::Toggle& t) -> const char* {
              return t.key.vk == VK_CAPITAL ? nullptr : "sets a toggle other than CapsLock";
            },
            [](const cmd::ImeCandidates& candidates) -> const char* {
              return candidates.size ? "sets the size ImmGetCandidateListA reports for the list" : nullptr;
            },
            [](const cmd::Hook&) -> const char* { return "calls the hook with raw arguments"; },
            [](const cmd::Message&) -> const char* { return "retrieves messages through the message hook"; },
            [](const cmd::Key& k) -> const char* {
              return k.code != 0 ? "uses a hook code other than HC_ACTION" : nullptr;
            },
            [](const cmd::Tap& t) -> const char* {
              return t.code != 0 ? "uses a hook code other than HC_ACTION" : nullptr;
            },
            // editor and plain exist from the start, plain without an IME,
            // both in the one target program.
            [](const cmd::Window& w) -> const char* {
              if (w.process) return "puts a window in a process (the target's windows are all in one program)";
              return (w.name == "editor" && w.hasIme) || (w.name == "plain" && !w.hasIme)
                         ? nullptr
                         : "uses windows other than editor and plain";
            },
            [](const cmd::Focus& f) -> const char* {
              return f.name.empty() || f.name == "editor" || f.name == "plain"
                         ? nullptr
                         : "focuses windows other than editor and plain";
            },
            // The hook's results and the platform calls it makes stay inside
            // the target process.
            [](const cmd::ExpectSwallowed&) -> const char* { return kUnobservable; },
            [](const cmd::ExpectPassed&) -> const char* { return kUnobservable; },
            [](const cmd::ExpectResult&) -> const char* { return kUnobservable; },
            [](const cmd::ExpectCall&) -> const char* { return kUnobservable; },
            [](const cmd::ExpectNoCall&) -> const char* { return kUnobservable; },
            [](const cmd::ExpectCalls&) -> const char* { return kUnobservable; },
            [](const cmd::ExpectCount&) -> const char* { return kUnobservable; },
            [](const cmd::ExpectToggled& t) -> const char* { return t.key.vk == VK_CAPITAL ? nullptr : kUnobservable; },
            [](const auto&) -> const char* { return nullptr; },
        },
        c);
  }

  void Begin() override {
    Shared& s = desktop_.shared();
    // Every keystroke of the scenario before has been taken (its steps
    // waited for that), so the logs can start again from the top.
    s.keyCount = 0;
    s.keysLost = 0;
    s.imeCallCount = 0;
    DeleteFileA(tavik::kSettingsFile);
    std::string why;
    if (!desktop_.targets().UseDefaults(why)) throw DesktopFailure(why, false);
    desktop_.Tell(kCmdForeground);
    desktop_.Tell(kCmdFocus, 1);
    s.stagedLength = 0;
    s.stagedCandidates = -1;
    desktop_.Tell(kCmdApplyStaged);
    desktop_.Tell(kCmdSetOpen, 0);
    desktop_.Tell(kCmdSetMode, 0, 0);
    s.committedLength = 0;
    desktop_.SetText(1, "");
    desktop_.SetText(2, "");
  }

  std::vector<std::string> End() override {
    // Let go of what the scenario left down while the hooks still run, so
    // that a stage owing a key-up sends it and the next scenario starts
    // with nothing down (a CapsLock left down would make its next press a
    // repeat, which toggles nothing).
    std::vector<std::pair<KeyId, bool>> ups;
    for (const KeyId& k : down_) ups.push_back({k, true});
    for (const KeyId& k : held_) ups.push_back({k, true});
    down_.clear();
    held_.clear();
    std::string why;
    if (!ups.empty()) {
      desktop_.Type(ups, why);
      WaitOutAsyncKeyStateCache();
    }
    if (desktop_.started()) desktop_.HookEndNow();
    return {};
  }

  void Arrange(const cmd::Settings& c) override {
    std::ofstream out(tavik::kSettingsFile, std::ios::binary | std::ios::trunc);
    for (const std::string& l : c.lines) out << l << "\r\n";
  }
  void Arrange(const cmd::Setting& c) override {
    WritePrivateProfileStringA(tavik::kSettingsSection, c.key.c_str(), c.value.c_str(), tavik::kSettingsFile);
  }
  void Arrange(const cmd::NoSettings&) override { DeleteFileA(tavik::kSettingsFile); }
  // editor and plain exist from the start.
  void Arrange(const cmd::Window& c) override { current_ = c.name == "editor" ? 1 : 2; }
  void Arrange(const cmd::Focus& c) override {
    focus_ = c.name.empty() ? 0 : c.name == "editor" ? 1 : 2;
    if (focus_ != 0) current_ = focus_;
    desktop_.Tell(kCmdFocus, focus_);
  }
  void Arrange(const cmd::Text& c) override { desktop_.SetText(current_, c.bytes); }
  void Arrange(const cmd::ImeFile& c) override {
    SwitchKeepingArrangements([&](std::string& why) { return desktop_.targets().UseImeFile(*c.name, why); });
  }
  void Arrange(const cmd::Host& c) override {
    SwitchKeepingArrangements([&](std::string& why) { return desktop_.targets().UseHost(*c.path, why); });
  }
  void Arrange(const cmd::ImeOpen& c) override { desktop_.Tell(kCmdSetOpen, c.open ? 1 : 0); }
  void Arrange(const cmd::ImeMode& c) override {
    desktop_.Snapshot();
    desktop_.Tell(kCmdSetMode, c.conversion, c.sentence.value_or(desktop_.shared().snapSentence));
  }
  void Arrange(const cmd::ImeComposition& c) override {
    composition_ = c.bytes;
    if (attributes_.size() != composition_.size()) attributes_.assign(composition_.size(), '\0');
    Stage();
  }
  void Arrange(const cmd::ImeAttributes& c) override {
    attributes_ = c.bytes;
    Stage();
  }
  void Arrange(const cmd::ImeCandidates& c) override {
    candidates_ = c.count ? static_cast<int32_t>(*c.count) : -1;
    Stage();
  }
  // Held keys are pressed for real, between steps.
  void Arrange(const cmd::Hold& c) override {
    std::vector<std::pair<KeyId, bool>> keys;
    for (const KeyId& k : c.keys) {
      keys.push_back({k, !c.held});
      if (c.held) {
        held_.push_back(k);
      } else {
        for (size_t i = held_.size(); i-- > 0;) {
          if (held_[i].vk == k.vk) held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(i));
        }
      }
    }
    TypeOrBreak(keys);
    WaitOutAsyncKeyStateCache();
  }
  // CapsLock is switched the way a user switches it: by pressing it.
  void Arrange(const cmd::Toggle& c) override {
    desktop_.Snapshot();
    if ((desktop_.shared().snapCapsLock != 0) != c.on) TypeOrBreak({{c.key, false}, {c.key, true}});
  }
  void Arrange(const cmd::Set& c) override { tavik::sim::WriteBlockWord(desktop_.block(), c.word, c.value); }
  // What CannotDo turns away never comes here.
  void Arrange(const cmd::PressedSince&) override { Unreachable(); }
  void Arrange(const cmd::Async&) override { Unreachable(); }
  void Arrange(const cmd::KeyState&) override { Unreachable(); }
  void Arrange(const cmd::Clock&) override { Unreachable(); }
  void Arrange(const cmd::Fail&) override { Unreachable(); }
  void Arrange(const cmd::Restore&) override { Unreachable(); }
  void Arrange(const cmd::NextHookResult&) override { Unreachable(); }

  void BeginStep() override {
    stepStart_ = desktop_.shared().keyCount;
    stepTold_ = desktop_.shared().imeCallCount;
  }
  intptr_t HookStart() override {
    desktop_.HookStartNow();
    return 0;
  }
  void HookEnd() override { desktop_.HookEndNow(); }
  intptr_t Type(const std::vector<cmd::Key>& keys) override {
    std::vector<std::pair<KeyId, bool>> strokes;
    bool modifier = false;
    for (const cmd::Key& k : keys) {
      strokes.push_back({k.event.key, k.event.up});
      Track(k.event.key, k.event.up);
      modifier = modifier || IsModifier(k.event.key);
    }
    TypeOrBreak(strokes);
    if (modifier) WaitOutAsyncKeyStateCache();
    std::string problems;
    Shared& s = desktop_.shared();
    // The IME's conversions, as the simulated desktop traces them.
    for (uint32_t i = stepTold_; i < s.imeCallCount && i < std::size(s.imeCalls); ++i) {
      if (s.imeCalls[i].kind == kConvert) {
        trace_.push_back("  convert: the test IME converted " + std::to_string(s.imeCalls[i].a) + " characters to " +
                         std::to_string(s.imeCalls[i].b));
      }
    }
    if (s.keysLost != 0) problems = std::to_string(s.keysLost) + " keystroke messages did not fit in the target's log";
    for (uint32_t i = stepStart_; i < s.keyCount && problems.empty(); ++i) {
      if (s.keys[i].process != desktop_.targets().processId()) {
        problems = "a keystroke went to another program than the scenario's (process " +
                   std::to_string(s.keys[i].process) + ")";
        break;
      }
    }
    if (desktop_.started()) {
      // The keyboard hook runs in the process that takes the keystroke.
      desktop_.Snapshot();
      if (!s.snapHookLoaded) {
        problems += (problems.empty() ? "" : "; ") + std::string("tavikhook.dll is not loaded in the target process");
      }
    }
    if (!problems.empty()) throw DesktopFailure(problems, true);
    return 0;
  }
  intptr_t CallHook(const cmd::Hook&) override { return Unreachable(); }
  intptr_t RetrieveMessage(const cmd::Message&) override { return Unreachable(); }

  std::vector<std::string> StepCalls() override { return {}; }
  std::vector<KeyEvent> StepDelivered() override {
    const Shared& s = desktop_.shared();
    std::vector<KeyEvent> got;
    for (uint32_t i = stepStart_; i < s.keyCount; ++i) {
      const Keystroke& k = s.keys[i];
      if (k.vk != kSentinel.vk) got.push_back(KeyEvent{KeyId{k.vk, k.scanKey}, k.up != 0});
    }
    return got;
  }
  std::vector<std::string> StepImeTold() override { return ImeTold(desktop_.shared(), stepTold_); }
  int64_t Word(const std::string& name) override { return tavik::sim::ReadBlockWord(desktop_.block(), name); }
  tavik::sim::ImeState Ime() override {
    desktop_.Snapshot();
    const Shared& s = desktop_.shared();
    auto text = [](const uint8_t* p, int32_t n) {
      return std::string(reinterpret_cast<const char*>(p), n > 0 ? static_cast<size_t>(n) : 0);
    };
    return tavik::sim::ImeState{s.snapOpen != 0, s.snapConversion,
                                text(s.snapComposition, s.snapCompositionLength),
                                text(s.snapAttributes, s.snapAttributesLength)};
  }
  std::string Committed() override {
    const Shared& s = desktop_.shared();
    return std::string(reinterpret_cast<const char*>(s.committed), s.committedLength);
  }
  bool Toggled(const KeyId&) override {
    desktop_.Snapshot();
    return desktop_.shared().snapCapsLock != 0;
  }
  tavik::sim::AppText Text() override { return desktop_.Text(current_); }

  void Reading(const tavik::sim::ScenarioLine& line) override { line_ = &line; }
  std::vector<std::string> TakeTrace() override { return std::exchange(trace_, {}); }

 private:
  [[noreturn]] static intptr_t Unreachable() {
    throw DesktopFailure("the real desktop cannot do this", false);
  }

  // `host` and `ime-file` change the program or the IME under the
  // scenario's arrangements, which the simulated desktop keeps as they
  // were: they are carried over to the other program, and set again after
  // the switch of IME.
  template <typename Switch>
  void SwitchKeepingArrangements(Switch doSwitch) {
    Shared& s = desktop_.shared();
    // Each window's text goes along too: another program's copy still has
    // whatever an earlier scenario left in it.
    tavik::sim::AppText texts[2] = {desktop_.Text(1), desktop_.Text(2)};
    uint32_t open = s.snapOpen;
    uint32_t conversion = s.snapConversion;
    uint32_t sentence = s.snapSentence;
    std::string where = std::to_string(line_->line) + ": " + Trimmed(line_->source);
    std::string why;
    if (!doSwitch(why)) throw DesktopFailure(where + ": " + why, false);
    trace_.push_back("> " + where + "  (" + desktop_.targets().Describe() + ")");
    desktop_.Tell(kCmdForeground);
    desktop_.Tell(kCmdFocus, focus_);
    desktop_.Tell(kCmdSetOpen, open);
    desktop_.Tell(kCmdSetMode, conversion, sentence);
    for (WPARAM window : {1, 2}) {
      desktop_.SetText(window, texts[window - 1].text, static_cast<LPARAM>(texts[window - 1].caret));
    }
    Stage();
  }

  // Keys a scenario pressed and has not released yet.
  void Track(const KeyId& key, bool up) {
    for (size_t i = down_.size(); i-- > 0;) {
      if (down_[i].vk == key.vk && down_[i].scanKey == key.scanKey) down_.erase(down_.begin() + static_cast<std::ptrdiff_t>(i));
    }
    if (!up) down_.push_back(key);
  }

  static bool IsModifier(const KeyId& key) {
    return key.vk == VK_SHIFT || key.vk == VK_CONTROL || key.vk == VK_MENU || key.vk == VK_LSHIFT ||
           key.vk == VK_RSHIFT || key.vk == VK_LCONTROL || key.vk == VK_RCONTROL || key.vk == VK_LMENU ||
           key.vk == VK_RMENU;
  }

  // Wine answers GetAsyncKeyState in a process that did not send the input
  // from a per-thread copy of the key state for up to 50 ms, and that copy
  // says "not pressed" for a modifier pressed since. The hook runs in the
  // target, so after a modifier changes the next step waits that copy out.
  static void WaitOutAsyncKeyStateCache() { Sleep(60); }

  void TypeOrBreak(const std::vector<std::pair<KeyId, bool>>& keys) {
    std::string why;
    if (!desktop_.Type(keys, why)) throw DesktopFailure(why, false);
  }

  void Stage() {
    Shared& s = desktop_.shared();
    size_t n = composition_.size() < sizeof s.stagedComposition ? composition_.size() : sizeof s.stagedComposition;
    s.stagedLength = static_cast<uint32_t>(n);
    std::memcpy(s.stagedComposition, composition_.data(), n);
    for (size_t i = 0; i < n; ++i) s.stagedAttributes[i] = i < attributes_.size() ? attributes_[i] : 0;
    s.stagedCandidates = candidates_;
    desktop_.Tell(kCmdApplyStaged);
  }

  Desktop& desktop_;
  std::string composition_;
  std::string attributes_;
  int32_t candidates_ = -1;
  std::vector<KeyId> held_;
  std::vector<KeyId> down_;
  WPARAM focus_ = 1;    // as kCmdFocus takes it
  WPARAM current_ = 1;  // the window `ime` commands and text expectations are about, likewise
  const tavik::sim::ScenarioLine* line_ = nullptr;
  std::vector<std::string> trace_;  // lines of our own for the report
  uint32_t stepStart_ = 0;
  uint32_t stepTold_ = 0;
};


// --- The load test ------------------------------------------------------------

// One run of the load stream on the real desktop and what came of it.
struct RealLoad {
  tavik::e2e::LoadRun run;
  double seconds = 0;        // typing the bursts until the target had drained each
  uint32_t notLogged = 0;    // keystrokes that did not fit in the target's log
  std::vector<std::string> keysDown;  // as the system and the target see the keyboard afterwards
};

// Types the stream into the target with every setting on, the hooks started
// or not, arranging the IME before each burst as the simulated desktop does.
bool TypeLoad(Desktop& desktop, const std::vector<tavik::e2e::LoadBurst>& bursts, bool hooked, RealLoad& out,
              std::string& why) {
  Shared& s = desktop.shared();
  DeleteFileA(tavik::kSettingsFile);
  for (const tavik::SettingKey& key : tavik::kSettingKeys) {
    WritePrivateProfileStringA(tavik::kSettingsSection, key.name, "1", tavik::kSettingsFile);
  }
  if (!desktop.targets().UseDefaults(why)) return false;
  desktop.Tell(kCmdForeground);
  desktop.Tell(kCmdFocus, 1);
  // As the simulated desktop starts: CapsLock off, nothing composed, the
  // IME open in hiragana.
  desktop.Snapshot();
  const KeyId capsLock{VK_CAPITAL, 0x3A};
  if (s.snapCapsLock != 0 && !desktop.Type({{capsLock, false}, {capsLock, true}}, why)) return false;
  auto stage = [&](const std::string& composition, const std::string& attributes, int32_t candidates) {
    size_t n = std::min(composition.size(), sizeof s.stagedComposition);
    s.stagedLength = static_cast<uint32_t>(n);
    std::memcpy(s.stagedComposition, composition.data(), n);
    std::memcpy(s.stagedAttributes, attributes.data(), std::min(attributes.size(), n));
    s.stagedCandidates = candidates;
    desktop.Tell(kCmdApplyStaged);
  };
  stage("", "", -1);
  desktop.Tell(kCmdSetOpen, 1);
  desktop.Tell(kCmdSetMode, tavik::e2e::kLoadStartMode, 0);
  s.keyCount = 0;
  s.keysLost = 0;
  if (hooked) desktop.HookStartNow();

  LARGE_INTEGER frequency;
  LARGE_INTEGER typing{};
  QueryPerformanceFrequency(&frequency);
  for (const tavik::e2e::LoadBurst& b : bursts) {
    const tavik::e2e::LoadArrangement& a = b.arrangement;
    if (a.reopen) {
      desktop.Tell(kCmdSetOpen, 1);
      desktop.Tell(kCmdSetMode, a.mode, 0);
    }
    if (a.stage) stage(a.composition, a.attributes, a.candidates);
    // The text is not compared; emptied, it costs every burst the same.
    desktop.SetText(1, "");
    s.committedLength = 0;
    s.imeCallCount = 0;
    std::vector<std::pair<KeyId, bool>> keys;
    for (const tavik::sim::KeyEvent& e : b.keys) keys.push_back({e.key, e.up});
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    QueryPerformanceCounter(&start);
    if (!desktop.Burst(keys, why)) return false;
    QueryPerformanceCounter(&end);
    typing.QuadPart += end.QuadPart - start.QuadPart;
    desktop.Snapshot();
    if (hooked && !s.snapHookLoaded) {
      why = "tavikhook.dll is not loaded in the target process";
      return false;
    }
    out.run.after.push_back(tavik::e2e::ImeAfterBurst{
        s.snapOpen != 0, s.snapConversion,
        std::string(reinterpret_cast<const char*>(s.snapComposition),
                    static_cast<size_t>(std::max(s.snapCompositionLength, 0))),
        std::string(reinterpret_cast<const char*>(s.snapAttributes),
                    static_cast<size_t>(std::max(s.snapAttributesLength, 0))),
        std::string(reinterpret_cast<const char*>(s.committed), s.committedLength), s.snapCapsLock != 0});
  }
  out.seconds = static_cast<double>(typing.QuadPart) / static_cast<double>(frequency.QuadPart);
  for (uint32_t i = 0; i < s.keyCount; ++i) {
    const Keystroke& k = s.keys[i];
    if (k.vk != kSentinel.vk) out.run.received.push_back({k.vk, k.scanKey, k.up != 0, k.imeTook != 0});
  }
  out.notLogged = s.keysLost;

  // Keys down afterwards, while the hooks still run: for the system (once
  // Wine's copy of the key state in this process is up to date, see
  // WaitOutAsyncKeyStateCache) and for the target's thread.
  Sleep(60);
  desktop.Snapshot();
  for (int vk = 1; vk < 256; ++vk) {
    char name[48];
    if ((GetAsyncKeyState(vk) & 0x8000) != 0) {
      std::snprintf(name, sizeof name, "0x%02X (GetAsyncKeyState)", vk);
      out.keysDown.push_back(name);
    }
    if ((s.snapKeyboard[vk] & 0x80) != 0) {
      std::snprintf(name, sizeof name, "0x%02X (the target's GetKeyboardState)", vk);
      out.keysDown.push_back(name);
    }
  }
  if (hooked) desktop.HookEndNow();
  return true;
}

// The load test: the stream typed on the real desktop with the hook and
// without, each against the same on the simulated desktop. Returns the
// exit code.
int RunLoad(Desktop& desktop, uint32_t keystrokes, uint32_t seed) {
  using tavik::e2e::LoadComparison;
  std::vector<tavik::e2e::LoadBurst> bursts = tavik::e2e::MakeLoadStream(keystrokes, seed);
  size_t typed = 0;
  for (const auto& b : bursts) typed += b.keys.size();
  std::printf("load: %u keystrokes (%zu key events) in %zu bursts, seed %u, every setting on\n\n", keystrokes, typed,
              bursts.size(), seed);

  struct Column {
    const char* name;
    bool hooked;
    tavik::e2e::LoadRun simulated;
    RealLoad real;
    LoadComparison comparison;
    size_t leftDown = 0;
    int failures = 0;
  };
  Column columns[] = {{"without the hook", false, {}, {}, {}}, {"with the hook", true, {}, {}, {}}};
  int failures = 0;
  for (Column& c : columns) {
    auto fail = [&](const std::string& what) {
      std::printf("FAIL %s: %s\n", c.name, what.c_str());
      ++c.failures;
    };
    c.simulated = tavik::e2e::SimulateLoad(bursts, c.hooked);
    std::string why;
    if (!TypeLoad(desktop, bursts, c.hooked, c.real, why)) {
      fail(why);
      failures += c.failures;
      if (desktop.started()) desktop.HookEndNow();
      continue;
    }
    for (const std::string& p : c.simulated.problems) fail("the simulated desktop: " + p);
    c.comparison = tavik::e2e::CompareReceived(c.simulated.received, c.real.run.received, c.simulated.burstStarts);
    if (!c.comparison.firstDifference.empty()) {
      fail("what the target received differs from the simulated desktop from " + c.comparison.firstDifference);
    }
    if (c.real.notLogged != 0) fail(std::to_string(c.real.notLogged) + " keystrokes did not fit in the target's log");
    std::vector<std::string> down = tavik::e2e::KeysLeftDown(c.real.run.received);
    for (const std::string& k : down) fail("the target received a key-down of " + k + " and no key-up after it");
    for (const std::string& k : c.real.keysDown) fail("key " + k + " is down after the run");
    c.leftDown = down.size() + c.real.keysDown.size();
    for (size_t i = 0; i < bursts.size() && i < c.real.run.after.size(); ++i) {
      const tavik::e2e::ImeAfterBurst& want = c.simulated.after[i];
      const tavik::e2e::ImeAfterBurst& got = c.real.run.after[i];
      if (want == got) continue;
      auto text = [](const tavik::e2e::ImeAfterBurst& a) {
        char head[64];
        std::snprintf(head, sizeof head, "%s mode 0x%X CapsLock %s", a.open ? "open" : "closed", a.conversion,
                      a.capsLock ? "on" : "off");
        return std::string(head) + ", composition " + Bytes(reinterpret_cast<const uint8_t*>(a.composition.data()),
                                                            a.composition.size()) +
               " / " + Bytes(reinterpret_cast<const uint8_t*>(a.attributes.data()), a.attributes.size()) +
               ", committed " + Bytes(reinterpret_cast<const uint8_t*>(a.committed.data()), a.committed.size());
      };
      fail("after burst " + std::to_string(i) + " the IME differs:\n  simulated desktop: " + text(want) +
           "\n  real desktop:      " + text(got));
      break;
    }
    failures += c.failures;
    std::fflush(stdout);
  }

  const Column& bare = columns[0];
  const Column& hooked = columns[1];
  auto row = [](const char* what, const std::string& a, const std::string& b) {
    std::printf("  %-34s %16s %16s\n", what, a.c_str(), b.c_str());
  };
  auto number = [](double v, const char* format) {
    char buf[32];
    std::snprintf(buf, sizeof buf, format, v);
    return std::string(buf);
  };
  std::printf("\n");
  row("", bare.name, hooked.name);
  row("keystrokes typed", std::to_string(keystrokes), std::to_string(keystrokes));
  auto imeTook = [](const std::vector<tavik::sim::ReceivedKey>& keys) {
    return std::to_string(std::count_if(keys.begin(), keys.end(), [](const auto& k) { return k.imeTook; }));
  };
  tavik::e2e::StreamChanges bareChanges = tavik::e2e::ChangesFromTyped(bursts, bare.simulated);
  tavik::e2e::StreamChanges hookChanges = tavik::e2e::ChangesFromTyped(bursts, hooked.simulated);
  row("events the simulated desktop gives", std::to_string(bare.simulated.received.size()),
      std::to_string(hooked.simulated.received.size()));
  row("  of them sent by the hook", std::to_string(bareChanges.added), std::to_string(hookChanges.added));
  row("typed events the hook took", std::to_string(bareChanges.removed), std::to_string(hookChanges.removed));
  row("events received", std::to_string(bare.real.run.received.size()), std::to_string(hooked.real.run.received.size()));
  row("  of them taken by the IME", imeTook(bare.real.run.received), imeTook(hooked.real.run.received));
  row("events lost", std::to_string(bare.comparison.lost + bare.real.notLogged),
      std::to_string(hooked.comparison.lost + hooked.real.notLogged));
  row("events too many", std::to_string(bare.comparison.extra), std::to_string(hooked.comparison.extra));
  row("events reordered", std::to_string(bare.comparison.reordered), std::to_string(hooked.comparison.reordered));
  row("keys left down", std::to_string(bare.leftDown), std::to_string(hooked.leftDown));
  row("time typing (s)", number(bare.real.seconds, "%.2f"), number(hooked.real.seconds, "%.2f"));
  double bareRate = bare.real.seconds > 0 ? keystrokes / bare.real.seconds : 0;
  double hookedRate = hooked.real.seconds > 0 ? keystrokes / hooked.real.seconds : 0;
  row("keystrokes per second", number(bareRate, "%.0f"), number(hookedRate, "%.0f"));
  std::printf("  throughput with the hook / without: %.2f\n", bareRate > 0 ? hookedRate / bareRate : 0.0);
  // Timing on a shared machine is noisy: only a hook that makes typing
  // several times slower fails.
  if (bare.real.seconds > 0 && hooked.real.seconds > 5 * bare.real.seconds) {
    std::printf("FAIL typing with the hook took more than five times as long as without\n");
    ++failures;
  }
  std::printf("%s\n", failures == 0 ? "load test passed" : "load test FAILED");
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dll;
  std::string ime;
  std::string target;
  std::vector<std::string> files;
  unsigned long load = 0;
  unsigned long seed = 1;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if ((a == "--dll" || a == "--ime" || a == "--target") && i + 1 < argc) {
      // Made absolute: the driver works in a directory of its own.
      std::string path = WindowsPath(argv[++i]);
      char full[MAX_PATH];
      DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
      (a == "--dll" ? dll : a == "--ime" ? ime : target) = n > 0 && n < sizeof full ? std::string(full) : path;
    } else if ((a == "--load" || a == "--seed") && i + 1 < argc) {
      (a == "--load" ? load : seed) = std::strtoul(argv[++i], nullptr, 10);
    } else {
      files.push_back(a);
    }
  }
  if (dll.empty() || ime.empty() || target.empty() || files.empty() == (load == 0)) {
    std::fprintf(stderr,
                 "usage: tavik-e2e --dll tavikhook.dll --ime testime.ime --target e2e-target.exe FILE...\n"
                 "       tavik-e2e --dll tavikhook.dll --ime testime.ime --target e2e-target.exe --load N [--seed S]\n");
    return 2;
  }

  std::vector<Scenario> scenarios;
  for (const std::string& f : files) {
    std::ifstream in(WindowsPath(f), std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "%s: cannot read file\n", f.c_str());
      return 2;
    }
    std::stringstream text;
    text << in.rdbuf();
    tavik::sim::ParseResult parsed = tavik::sim::ParseScenarios(f, text.str());
    if (!parsed.error.empty()) {
      std::fprintf(stderr, "%s\n", parsed.error.c_str());
      return 2;
    }
    for (auto& s : parsed.scenarios) scenarios.push_back(std::move(s));
  }

  // The settings file goes to a directory of our own.
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string work = std::string(temp) + "tavik-e2e";
  CreateDirectoryA(work.c_str(), nullptr);
  SetCurrentDirectoryA(work.c_str());

  Desktop desktop;
  std::string why;
  if (load != 0) {
    int code = 1;
    if (desktop.Start(dll, ime, target, why)) {
      code = RunLoad(desktop, static_cast<uint32_t>(load), static_cast<uint32_t>(seed));
    } else {
      std::printf("FAIL the real desktop could not be set up: %s\n", why.c_str());
    }
    desktop.Stop();
    return code;
  }
  int passed = 0;
  int failed = 0;
  int simulatorOnly = 0;
  if (!desktop.Start(dll, ime, target, why)) {
    // Nothing can run: every scenario fails, none is skipped.
    std::printf("FAIL the real desktop could not be set up: %s\n", why.c_str());
    failed = static_cast<int>(scenarios.size());
  } else {
    for (const Scenario& s : scenarios) {
      WineDesktop wine(desktop);
      Verdict verdict =
          tavik::sim::Interpret(s, wine, [](const std::string& line) { std::printf("%s\n", line.c_str()); });
      std::printf("\n");
      switch (verdict) {
        case Verdict::kPassed:
          ++passed;
          break;
        case Verdict::kFailed:
          ++failed;
          break;
        case Verdict::kSkipped:
          ++simulatorOnly;
          break;
      }
      std::fflush(stdout);
    }
  }
  desktop.Stop();
  std::printf("%d passed, %d failed, %d skipped\n", passed, failed, simulatorOnly);
  if (passed == 0 && failed == 0) std::printf("no scenario could run on the real desktop\n");
  return failed == 0 && passed > 0 ? 0 : 1;
}
