// One scenario on the real desktop under Wine: the scenario interpreter's
// commands carried out on the target program's two edit controls, the
// test IME in `editor`, keystrokes through SendInput. What the real desktop
// cannot arrange or observe is declared in CannotDo.
#include <cstring>
#include <fstream>
#include <iterator>

#include "common/settings.h"
#include "sim/block_words.h"
#include "sim/overloaded.h"
// After the portable headers: <windows.h> defines some of their names as macros.
#include "e2e/wine_scenario_desktop.h"
#include "e2e/hosts.h"
#include "e2e/ime_layouts.h"

namespace tavik::e2e {

namespace {

using sim::Command;
using sim::DesktopFailure;
using sim::KeyEvent;
using sim::KeyId;
using sim::Overloaded;
namespace cmd = sim::cmd;

std::string Trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  size_t e = s.find_last_not_of(" \t\r");
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

// One scenario on the real desktop: the target program's two edit controls,
// the test IME in `editor`, keystrokes through SendInput.
class WineScenarioDesktop final : public sim::ScenarioDesktop {
 public:
  explicit WineScenarioDesktop(WineConnection& desktop) : desktop_(desktop) {}

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
    DeleteFileA(kSettingsFile);
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
    std::ofstream out(kSettingsFile, std::ios::binary | std::ios::trunc);
    for (const std::string& l : c.lines) out << l << "\r\n";
  }
  void Arrange(const cmd::Setting& c) override {
    WritePrivateProfileStringA(kSettingsSection, c.key.c_str(), c.value.c_str(), kSettingsFile);
  }
  void Arrange(const cmd::NoSettings&) override { DeleteFileA(kSettingsFile); }
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
  void Arrange(const cmd::Set& c) override { sim::WriteBlockWord(desktop_.block(), c.word, c.value); }
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

  std::vector<sim::PlatformCall> StepCalls() override { return {}; }
  std::vector<KeyEvent> StepDelivered() override {
    const Shared& s = desktop_.shared();
    std::vector<KeyEvent> got;
    for (uint32_t i = stepStart_; i < s.keyCount; ++i) {
      const Keystroke& k = s.keys[i];
      if (k.vk != kSentinel.vk) got.push_back(KeyEvent{KeyId{k.vk, k.scanKey}, k.up != 0});
    }
    return got;
  }
  std::vector<sim::ImeTold> StepImeTold() override { return ImeToldSince(desktop_.shared(), stepTold_); }
  int64_t Word(const std::string& name) override { return sim::ReadBlockWord(desktop_.block(), name); }
  sim::ImeState Ime() override {
    desktop_.Snapshot();
    const Shared& s = desktop_.shared();
    auto text = [](const uint8_t* p, int32_t n) {
      return std::string(reinterpret_cast<const char*>(p), n > 0 ? static_cast<size_t>(n) : 0);
    };
    return sim::ImeState{s.snapOpen != 0, s.snapConversion,
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
  sim::AppText Text() override { return desktop_.Text(current_); }

  void Reading(const sim::ScenarioLine& line) override { line_ = &line; }
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
    sim::AppText texts[2] = {desktop_.Text(1), desktop_.Text(2)};
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

  WineConnection& desktop_;
  std::string composition_;
  std::string attributes_;
  int32_t candidates_ = -1;
  std::vector<KeyId> held_;
  std::vector<KeyId> down_;
  WPARAM focus_ = 1;    // as kCmdFocus takes it
  WPARAM current_ = 1;  // the window `ime` commands and text expectations are about, likewise
  const sim::ScenarioLine* line_ = nullptr;
  std::vector<std::string> trace_;  // lines of our own for the report
  uint32_t stepStart_ = 0;
  uint32_t stepTold_ = 0;
};

}  // namespace

sim::Verdict RunScenario(const sim::Scenario& scenario, WineConnection& connection,
                         const std::function<void(const std::string&)>& out) {
  WineScenarioDesktop desktop(connection);
  return sim::Interpret(scenario, desktop, out);
}

}  // namespace tavik::e2e
