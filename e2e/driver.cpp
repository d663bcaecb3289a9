// tavik-e2e.exe: runs scenario files against the real tavikhook.dll on a
// real (Wine) desktop. It starts the target program with the test IME,
// sets the IME up as each scenario says, types real keystrokes with
// SendInput, and checks what the target received and what its IME was
// told. The shared block is read and written through the driver's own
// mapping of the library, the one every process shares. Expectations about
// individual platform calls cannot be seen from outside and are reported as
// not checked; a scenario that arranges what only the simulated desktop can arrange
// (failing calls, hook codes, the clock, ...) is reported as simulator-only.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "common/settings.h"
#include "sim/block_words.h"
#include "sim/keys.h"
#include "sim/scenario.h"
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
using tavik::sim::KeyId;
using tavik::sim::Scenario;
using namespace tavik::e2e;

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

std::string KeyText(uint32_t vk, uint32_t scanKey) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%02X/0x%02X", vk, scanKey);
  return buf;
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

// Why a command cannot be carried out on a real desktop, or null.
const char* OnlyInSimulator(const Command& c) {
  switch (c.kind) {
    case Command::kClock:
      return "sets the process clock";
    case Command::kFail:
    case Command::kRestore:
      return "makes platform calls fail";
    case Command::kImeFile:
      return tavik::e2e::ImeFileOnlyInSimulator(c.flag, c.text);
    case Command::kHost:
      return tavik::e2e::HostOnlyInSimulator(c.flag, c.text);
    case Command::kPressedSince:
    case Command::kAsync:
      return "scripts GetAsyncKeyState";
    case Command::kKeyState:
      return "sets GetKeyState directly";
    case Command::kToggle:
      return c.keys[0].vk == 0x14 ? nullptr : "sets a toggle other than CapsLock";
    case Command::kHook:
      return "calls the hook with raw arguments";
    case Command::kMessage:
      return "retrieves messages through the message hook";
    case Command::kKey:
    case Command::kTap:
      return c.code != 0 ? "uses a hook code other than HC_ACTION" : nullptr;
    case Command::kWindow:
      return (c.name == "editor" && !c.flag) || (c.name == "plain" && c.flag) ? nullptr
                                                                             : "uses windows other than editor and plain";
    case Command::kFocus:
      return c.name.empty() || c.name == "editor" || c.name == "plain" ? nullptr
                                                                       : "focuses windows other than editor and plain";
    case Command::kExpectToggled:
      return c.keys[0].vk == 0x14 ? nullptr : "checks a toggle other than CapsLock";
    default:
      return nullptr;
  }
}

bool Observable(const Command& c) {
  switch (c.kind) {
    case Command::kExpectDelivered:
    case Command::kExpectIme:
    case Command::kExpectCommitted:
    case Command::kExpectToggled:
    case Command::kExpectWord:
      return true;
    default:
      return false;
  }
}

bool IsExpectation(const Command& c) { return c.kind >= Command::kExpectSwallowed; }

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

    if (!LoadHookLibrary(why)) return false;
    if (!targets_.Start(imePath, targetPath, *shared_, why)) return false;
    return CheckIme(why) && CheckLayouts(why) && CheckImeFromHook(why);
  }

  void Stop() {
    if (hookLibrary_ != nullptr) {
      if (started_) HookEndNow();
      FreeLibrary(hookLibrary_);
    }
    targets_.Stop();
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
  // far (the IME posts its composition messages).
  void Snapshot() {
    uint32_t seq = ++syncSeq_;
    PostMessageA(targets_.window(), kCmdSync, seq, 0);
    for (DWORD start = GetTickCount(); shared_->syncSeq != seq && GetTickCount() - start < kTimeoutMs;) Sleep(1);
    Tell(kCmdSnapshot);
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
    Tell(kCmdApplyStaged);
    Snapshot();
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
    std::string edit(reinterpret_cast<const char*>(s.snapEditText),
                     s.snapEditTextLength > 0 ? static_cast<size_t>(s.snapEditTextLength) : 0);
    if (edit.find(reinterpret_cast<const char*>(text), 0, sizeof text) == std::string::npos) {
      return Fail(why, "the committed text did not reach the edit control: " + Bytes(s.snapEditText, edit.size()));
    }
    Tell(kCmdApplyStaged);
    Tell(kCmdNotify, CPS_CANCEL);
    Snapshot();
    if (s.snapCompositionLength != 0 || s.committedLength != 4) {
      return Fail(why, "CPS_CANCEL did not drop the test IME's composition");
    }
    // A commit stays in the edit control when a later composition is cancelled.
    if (std::string(reinterpret_cast<const char*>(s.snapEditText),
                     s.snapEditTextLength > 0 ? static_cast<size_t>(s.snapEditTextLength) : 0) != edit) {
      return Fail(why, "cancelling a composition changed the committed text in the edit control");
    }
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

  // Loads the library as the tray program does, and finds its shared block:
  // the data section every process maps to the same memory.
  bool LoadHookLibrary(std::string& why) {
    hookLibrary_ = LoadLibraryA(dllPath_.c_str());
    if (hookLibrary_ == nullptr) return Fail(why, "cannot load " + dllPath_);
    hookStart_ = reinterpret_cast<int (*)()>(reinterpret_cast<void*>(GetProcAddress(hookLibrary_, "HookStart")));
    hookEnd_ = reinterpret_cast<void (*)()>(reinterpret_cast<void*>(GetProcAddress(hookLibrary_, "HookEnd")));
    if (hookStart_ == nullptr || hookEnd_ == nullptr) return Fail(why, "HookStart or HookEnd not exported");
    auto* base = reinterpret_cast<uint8_t*>(hookLibrary_);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
      if (std::strncmp(reinterpret_cast<const char*>(section->Name), ".sharedd", IMAGE_SIZEOF_SHORT_NAME) == 0 &&
          section->Misc.VirtualSize >= sizeof(tavik::HookSharedBlock)) {
        block_ = reinterpret_cast<tavik::HookSharedBlock*>(base + section->VirtualAddress);
      }
    }
    if (block_ == nullptr) return Fail(why, "no shared .sharedd section holding the block in " + dllPath_);
    return true;
  }

  std::string dllPath_;
  HANDLE mapping_ = nullptr;
  Shared* shared_ = nullptr;
  Targets targets_;
  HMODULE hookLibrary_ = nullptr;
  tavik::HookSharedBlock* block_ = nullptr;
  int (*hookStart_)() = nullptr;
  void (*hookEnd_)() = nullptr;
  bool started_ = false;
  uint32_t syncSeq_ = 0;
};

enum class Verdict { kPassed, kFailed, kSimulatorOnly };

class ScenarioRun {
 public:
  ScenarioRun(Desktop& desktop, const Scenario& s) : desktop_(desktop), scenario_(s) {}

  Verdict Run() {
    std::printf("=== %s (%s:%d)\n", scenario_.title.c_str(), scenario_.file.c_str(), scenario_.line);
    for (const Command& c : scenario_.commands) {
      if (const char* why = OnlyInSimulator(c)) {
        std::printf("SIMULATOR ONLY %s: line %d %s\n\n", scenario_.title.c_str(), c.line, why);
        return Verdict::kSimulatorOnly;
      }
    }
    Reset();
    for (const Command& c : scenario_.commands) {
      if (broken_) break;
      Execute(c);
    }
    CleanUp();
    std::printf("%s %s", failures_ == 0 ? "PASS" : "FAIL", scenario_.title.c_str());
    if (failures_ != 0) std::printf(" (%d failed)", failures_);
    std::printf("\n\n");
    return failures_ == 0 ? Verdict::kPassed : Verdict::kFailed;
  }

 private:
  void Fail(const std::string& why) {
    ++failures_;
    std::printf("  FAIL %s\n", why.c_str());
  }

  void Broken(const std::string& why) {
    Fail(why);
    broken_ = true;
  }

  void Check(const Command& c, bool ok, const std::string& got) {
    std::string where = std::to_string(c.line) + ": " + Trimmed(c.source);
    if (ok) {
      std::printf("  ok   %s\n", where.c_str());
    } else {
      Fail(where + "  (got " + got + ")");
    }
  }

  void Reset() {
    Shared& s = desktop_.shared();
    // Every keystroke of the scenario before has been taken (its steps
    // waited for that), so the logs can start again from the top.
    s.keyCount = 0;
    s.imeCallCount = 0;
    DeleteFileA(tavik::kSettingsFile);
    std::string why;
    if (!desktop_.targets().UseDefaults(why)) Broken(why);
    desktop_.Tell(kCmdForeground);
    desktop_.Tell(kCmdFocus, 1);
    s.stagedLength = 0;
    s.stagedCandidates = -1;
    desktop_.Tell(kCmdApplyStaged);
    desktop_.Tell(kCmdSetOpen, 0);
    desktop_.Tell(kCmdSetMode, 0, 0);
    s.committedLength = 0;
    composition_.clear();
    attributes_.clear();
    candidates_ = -1;
    focus_ = 1;
  }

  // `host` and `ime-file` change the program or the IME under the
  // scenario's arrangements, which the simulated desktop keeps as they
  // were: they are carried over to the other program, and set again after
  // the switch of IME.
  template <typename Switch>
  void SwitchKeepingArrangements(const Command& c, Switch doSwitch) {
    Shared& s = desktop_.shared();
    desktop_.Snapshot();
    uint32_t open = s.snapOpen;
    uint32_t conversion = s.snapConversion;
    uint32_t sentence = s.snapSentence;
    std::string why;
    if (!doSwitch(why)) {
      Broken(std::to_string(c.line) + ": " + Trimmed(c.source) + ": " + why);
      return;
    }
    std::printf("> %d: %s  (%s)\n", c.line, Trimmed(c.source).c_str(), desktop_.targets().Describe().c_str());
    desktop_.Tell(kCmdForeground);
    desktop_.Tell(kCmdFocus, focus_);
    desktop_.Tell(kCmdSetOpen, open);
    desktop_.Tell(kCmdSetMode, conversion, sentence);
    Stage();
  }

  void CleanUp() {
    std::string why;
    if (!held_.empty()) {
      std::vector<std::pair<KeyId, bool>> ups;
      for (const KeyId& k : held_) ups.push_back({k, true});
      held_.clear();
      desktop_.Type(ups, why);
    }
    if (desktop_.started()) desktop_.HookEndNow();
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

  void BeginStep(const Command& c) {
    std::printf("> %d: %s\n", c.line, Trimmed(c.source).c_str());
    stepStart_ = desktop_.shared().keyCount;
    stepTold_ = desktop_.shared().imeCallCount;
  }

  void EnsureStarted() {
    if (startedOnce_) return;
    std::printf("> HookStart (before the first keystroke)\n");
    StartHooks();
  }

  void StartHooks() {
    startedOnce_ = true;
    desktop_.HookStartNow();
  }

  void TypeStep(const std::vector<std::pair<KeyId, bool>>& keys) {
    std::string why;
    if (!desktop_.Type(keys, why)) {
      Broken(why);
      return;
    }
    Shared& s = desktop_.shared();
    for (uint32_t i = stepStart_; i < s.keyCount; ++i) {
      if (s.keys[i].process != desktop_.targets().processId()) {
        Fail("a keystroke went to another program than the scenario's (process " + std::to_string(s.keys[i].process) +
             ")");
        break;
      }
    }
    if (desktop_.started()) {
      // The keyboard hook runs in the process that takes the keystroke.
      desktop_.Snapshot();
      if (!s.snapHookLoaded) Fail("tavikhook.dll is not loaded in the target process");
    }
  }

  void Execute(const Command& c) {
    Shared& s = desktop_.shared();
    switch (c.kind) {
      case Command::kSettings: {
        std::ofstream out(tavik::kSettingsFile, std::ios::binary | std::ios::trunc);
        for (const std::string& l : c.block) out << l << "\r\n";
        break;
      }
      case Command::kSetting: {
        size_t eq = c.text.find('=');
        std::string key = Trimmed(c.text.substr(0, eq));
        WritePrivateProfileStringA(tavik::kSettingsSection, key.c_str(), c.text.substr(eq + 1).c_str(),
                                   tavik::kSettingsFile);
        break;
      }
      case Command::kNoSettings:
        DeleteFileA(tavik::kSettingsFile);
        break;
      case Command::kWindow:
        break;  // editor and plain exist from the start
      case Command::kFocus:
        focus_ = c.name.empty() ? 0 : c.name == "editor" ? 1 : 2;
        desktop_.Tell(kCmdFocus, focus_);
        break;
      case Command::kImeFile:
        SwitchKeepingArrangements(c, [&](std::string& why) { return desktop_.targets().UseImeFile(c.text, why); });
        break;
      case Command::kHost:
        SwitchKeepingArrangements(c, [&](std::string& why) { return desktop_.targets().UseHost(c.text, why); });
        break;
      case Command::kImeOpen:
        desktop_.Tell(kCmdSetOpen, c.flag ? 1 : 0);
        break;
      case Command::kImeMode: {
        desktop_.Snapshot();
        uint32_t sentence = c.flag ? static_cast<uint32_t>(c.number2) : s.snapSentence;
        desktop_.Tell(kCmdSetMode, static_cast<WPARAM>(c.number), sentence);
        break;
      }
      case Command::kImeComposition:
        composition_ = c.bytes;
        if (attributes_.size() != composition_.size()) attributes_.assign(composition_.size(), '\0');
        Stage();
        break;
      case Command::kImeAttributes:
        attributes_ = c.bytes;
        Stage();
        break;
      case Command::kImeCandidates:
        candidates_ = c.flag ? static_cast<int32_t>(c.number) : -1;
        Stage();
        break;
      case Command::kHold: {
        std::vector<std::pair<KeyId, bool>> keys;
        for (const KeyId& k : c.keys) {
          keys.push_back({k, !c.flag});
          if (c.flag) {
            held_.push_back(k);
          } else {
            for (size_t i = held_.size(); i-- > 0;) {
              if (held_[i].vk == k.vk) held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(i));
            }
          }
        }
        std::string why;
        if (!desktop_.Type(keys, why)) Broken(why);
        break;
      }
      case Command::kToggle: {
        // CapsLock is switched the way a user switches it: by pressing it.
        desktop_.Snapshot();
        if ((s.snapCapsLock != 0) != c.flag) {
          std::string why;
          if (!desktop_.Type({{c.keys[0], false}, {c.keys[0], true}}, why)) Broken(why);
        }
        break;
      }
      case Command::kSet:
        tavik::sim::WriteBlockWord(desktop_.block(), c.name, c.number);
        break;
      case Command::kHookStart:
        BeginStep(c);
        StartHooks();
        break;
      case Command::kHookEnd:
        BeginStep(c);
        desktop_.HookEndNow();
        break;
      case Command::kKey:
        EnsureStarted();
        BeginStep(c);
        TypeStep({{c.key, c.flag}});
        break;
      case Command::kTap:
        EnsureStarted();
        BeginStep(c);
        TypeStep({{c.key, false}, {c.key, true}});
        break;
      default:
        if (IsExpectation(c)) Expect(c);
        break;
    }
  }

  void Expect(const Command& c) {
    Shared& s = desktop_.shared();
    if (!Observable(c)) {
      std::printf("  --   %d: %s  (not observable on a real desktop)\n", c.line, Trimmed(c.source).c_str());
      return;
    }
    switch (c.kind) {
      case Command::kExpectDelivered: {
        std::vector<std::string> got;
        for (uint32_t i = stepStart_; i < s.keyCount; ++i) {
          const Keystroke& k = s.keys[i];
          if (k.vk == kSentinel.vk) continue;
          got.push_back(std::string(k.up ? "up:" : "down:") + KeyText(k.vk, k.scanKey));
        }
        std::vector<std::string> want;
        for (const Command::Event& e : c.events) {
          want.push_back(std::string(e.up ? "up:" : "down:") + KeyText(e.key.vk, e.key.scanKey));
        }
        std::string gotText;
        for (const std::string& g : got) gotText += (gotText.empty() ? "" : " ") + g;
        Check(c, got == want, gotText.empty() ? "none" : gotText);
        break;
      }
      case Command::kExpectIme: {
        desktop_.Snapshot();
        if (c.text == "open" || c.text == "closed") {
          Check(c, (s.snapOpen != 0) == (c.text == "open"), s.snapOpen ? "open" : "closed");
        } else if (c.text == "mode") {
          char buf[16];
          std::snprintf(buf, sizeof buf, "0x%X", s.snapConversion);
          Check(c, s.snapConversion == static_cast<uint32_t>(c.number), buf);
        } else if (c.text == "composition") {
          size_t n = s.snapCompositionLength > 0 ? static_cast<size_t>(s.snapCompositionLength) : 0;
          std::string got(reinterpret_cast<const char*>(s.snapComposition), n);
          Check(c, got == c.bytes, Bytes(s.snapComposition, n));
        } else if (c.text == "attributes") {
          size_t n = s.snapAttributesLength > 0 ? static_cast<size_t>(s.snapAttributesLength) : 0;
          std::string got(reinterpret_cast<const char*>(s.snapAttributes), n);
          Check(c, got == c.bytes, Bytes(s.snapAttributes, n));
        } else {
          std::vector<std::string> told = ImeTold(s, stepTold_);
          std::string got;
          for (const std::string& t : told) got += (got.empty() ? "" : " ") + t;
          Check(c, told == c.block, got.empty() ? "none" : got);
        }
        break;
      }
      case Command::kExpectCommitted: {
        std::string got(reinterpret_cast<const char*>(s.committed), s.committedLength);
        Check(c, got == c.bytes, "\"" + got + "\"");
        break;
      }
      case Command::kExpectWord: {
        int64_t value = tavik::sim::ReadBlockWord(desktop_.block(), c.name);
        Check(c, c.flag ? value != 0 : value == c.number, std::to_string(value));
        break;
      }
      case Command::kExpectToggled:
        desktop_.Snapshot();
        Check(c, (s.snapCapsLock != 0) == c.flag, s.snapCapsLock ? "on" : "off");
        break;
      default:
        break;
    }
  }

  Desktop& desktop_;
  const Scenario& scenario_;
  std::string composition_;
  std::string attributes_;
  int32_t candidates_ = -1;
  std::vector<KeyId> held_;
  WPARAM focus_ = 1;  // as kCmdFocus takes it
  uint32_t stepStart_ = 0;
  uint32_t stepTold_ = 0;
  bool startedOnce_ = false;
  bool broken_ = false;
  int failures_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  std::string dll;
  std::string ime;
  std::string target;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if ((a == "--dll" || a == "--ime" || a == "--target") && i + 1 < argc) {
      (a == "--dll" ? dll : a == "--ime" ? ime : target) = WindowsPath(argv[++i]);
    } else {
      files.push_back(a);
    }
  }
  if (dll.empty() || ime.empty() || target.empty() || files.empty()) {
    std::fprintf(stderr, "usage: tavik-e2e --dll tavikhook.dll --ime testime.ime --target e2e-target.exe FILE...\n");
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
  int passed = 0;
  int failed = 0;
  int simulatorOnly = 0;
  if (!desktop.Start(dll, ime, target, why)) {
    // Nothing can run: every scenario fails, none is skipped.
    std::printf("FAIL the real desktop could not be set up: %s\n", why.c_str());
    failed = static_cast<int>(scenarios.size());
  } else {
    for (const Scenario& s : scenarios) {
      switch (ScenarioRun(desktop, s).Run()) {
        case Verdict::kPassed:
          ++passed;
          break;
        case Verdict::kFailed:
          ++failed;
          break;
        case Verdict::kSimulatorOnly:
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
