// Scenarios on the simulated desktop: everything can be arranged and every
// platform call the hooks make is seen, read from the desktop's events.
#include <map>
#include <set>
#include <utility>

#include "common/settings.h"
#include "hook/shared_block.h"
#include "hook/stages.h"
#include "sim/block_words.h"
#include "sim/desktop.h"
#include "sim/library_hooks.h"
#include "sim/scenario_account.h"
#include "sim/scenario_desktop.h"

namespace tavik::sim {

namespace {

constexpr const char kDefaultWindow[] = "editor";
constexpr const char kDefaultImeFile[] = "TESTIME.IME";
constexpr const char kDefaultHost[] = "C:\\Program Files\\Editor\\editor.exe";

class SimScenarioDesktop final : public ScenarioDesktop {
 public:
  explicit SimScenarioDesktop(Report report) : report_(report) {
    desktop_.AddWindow(kDefaultWindow);
    windowNames_.insert(kDefaultWindow);
    desktop_.SetFocus(kDefaultWindow);
    current_ = kDefaultWindow;
    desktop_.SetImeFileName(std::string(kDefaultImeFile));
    desktop_.SetHostPath(std::string(kDefaultHost));
    RunLibraryHooks(desktop_, block_);
  }

  const char* CannotDo(const Command&) const override { return nullptr; }

  std::vector<std::string> End() override {
    std::vector<std::string> problems;
    for (const std::string& v : desktop_.InvariantViolations()) problems.push_back("invariant: " + v);
    return problems;
  }

  void Arrange(const cmd::Settings& c) override {
    std::string text;
    for (const std::string& l : c.lines) text += l + "\r\n";
    desktop_.profiles().SetFile(kSettingsFile, text);
  }
  void Arrange(const cmd::Setting& c) override {
    desktop_.profiles().WriteString(kSettingsSection, c.key.c_str(), c.value.c_str(), kSettingsFile);
  }
  void Arrange(const cmd::NoSettings&) override { desktop_.profiles().RemoveFile(kSettingsFile); }
  void Arrange(const cmd::Window& c) override {
    Window* w = desktop_.FindWindow(c.name);
    if (w == nullptr) w = &desktop_.AddWindow(c.name, c.hasIme, c.process.value_or(kDefaultProcess));
    w->hasIme = c.hasIme;
    if (c.process) w->process = desktop_.ProcessNamed(*c.process).name;
    current_ = c.name;
    windowNames_.insert(c.name);
  }
  void Arrange(const cmd::Focus& c) override {
    if (!c.name.empty() && desktop_.FindWindow(c.name) == nullptr) desktop_.AddWindow(c.name);
    desktop_.SetFocus(c.name);
    if (!c.name.empty()) current_ = c.name;
    if (!c.name.empty()) windowNames_.insert(c.name);
  }
  void Arrange(const cmd::ImeOpen& c) override { Current().open = c.open; }
  void Arrange(const cmd::ImeMode& c) override {
    Current().conversion = c.conversion;
    if (c.sentence) Current().sentence = *c.sentence;
  }
  void Arrange(const cmd::ImeComposition& c) override {
    // Typed afresh: no conversion to go back from.
    Current().reading.clear();
    Current().composition = c.bytes;
    if (Current().attributes.size() != c.bytes.size()) {
      Current().attributes.assign(c.bytes.size(), static_cast<char>(w32::ATTR_INPUT));
    }
  }
  void Arrange(const cmd::ImeAttributes& c) override { Current().attributes = c.bytes; }
  void Arrange(const cmd::ImeCandidates& c) override {
    Current().candidateList = c.count;
    Current().candidateListSize = c.size;
  }
  void Arrange(const cmd::ImeFile& c) override { desktop_.SetImeFileName(c.name); }
  void Arrange(const cmd::Host& c) override { desktop_.SetHostPath(c.path); }
  void Arrange(const cmd::Hold& c) override {
    for (const KeyId& k : c.keys) desktop_.SetHeld(k.vk, c.held);
  }
  void Arrange(const cmd::PressedSince& c) override {
    for (const KeyId& k : c.keys) desktop_.SetPressedSinceLastQuery(k.vk, true);
  }
  void Arrange(const cmd::Toggle& c) override { desktop_.SetToggled(c.key.vk, c.on); }
  void Arrange(const cmd::Async& c) override { desktop_.ScriptAsyncKeyState(c.key.vk, c.values); }
  void Arrange(const cmd::KeyState& c) override { desktop_.SetKeyState(c.key.vk, c.value); }
  void Arrange(const cmd::Clock& c) override { desktop_.SetClock(c.process.value_or(Current().process), c.ms); }
  void Arrange(const cmd::Fail& c) override {
    if (c.call == "SetWindowsHookExA" && c.value) {
      desktop_.FailHookType(*c.value);
    } else {
      desktop_.Fail(c.call, c.value.value_or(c.call == "ImmGetCompositionStringA" ? w32::IMM_ERROR_GENERAL : 0));
    }
  }
  void Arrange(const cmd::Restore& c) override { desktop_.Restore(c.call); }
  void Arrange(const cmd::NextHookResult& c) override { desktop_.SetNextHookResult(c.result); }
  void Arrange(const cmd::Set& c) override { WriteBlockWord(block_, c.word, c.value); }
  void Arrange(const cmd::Text& c) override {
    // What the steps so far did to the text is theirs; this is the scenario's.
    Settle();
    Current().text.Set(c.bytes);
    shownText_[current_] = Current().text.Bytes();
  }

  void BeginStep() override {
    stepStart_ = desktop_.events().size();
    imeAtStep_ = ImeText();
  }
  intptr_t HookStart() override {
    intptr_t r = tavik::HookStart(desktop_, block_, kModuleInstance, kKeyboardProcToken, kMessageProcToken);
    desktop_.Note("  -> HookStart returned " + Hex(static_cast<uint32_t>(r)));
    return r;
  }
  void HookEnd() override { tavik::HookEnd(desktop_, block_); }
  intptr_t Type(const std::vector<cmd::Key>& keys) override {
    intptr_t r = 0;
    for (const cmd::Key& k : keys) {
      r = desktop_.Keystroke(k.code, k.event.key.vk, KeystrokeLParam(k.event.key.scanKey, k.event.up, k.repeat));
    }
    return r;
  }
  intptr_t CallHook(const cmd::Hook& c) override {
    return desktop_.Keystroke(c.code, c.wParam, static_cast<intptr_t>(c.lParam));
  }
  intptr_t RetrieveMessage(const cmd::Message& c) override {
    return desktop_.RetrieveMessage(c.code, !c.peek, c.message);
  }

  std::vector<PlatformCall> StepCalls() override { return desktop_.Calls(stepStart_); }
  // Keystrokes to every window count, in the order they came.
  std::vector<KeyEvent> StepDelivered() override {
    std::vector<KeyEvent> got;
    for (size_t i = stepStart_; i < desktop_.events().size(); ++i) {
      const auto* d = std::get_if<Delivery>(&desktop_.events()[i]);
      if (d != nullptr) got.push_back(KeyEvent{{d->vk, d->scanKey}, d->up});
    }
    return got;
  }
  std::vector<ImeTold> StepImeTold() override {
    std::vector<ImeTold> told;
    for (size_t i = stepStart_; i < desktop_.events().size(); ++i) {
      if (const auto* t = std::get_if<ImeTold>(&desktop_.events()[i])) told.push_back(*t);
    }
    return told;
  }
  int64_t Word(const std::string& name) override { return ReadBlockWord(block_, name); }
  ImeState Ime() override {
    Window& w = Current();
    return ImeState{w.open, w.conversion, w.composition, w.attributes};
  }
  std::string Committed() override { return Current().committed; }
  AppText Text() override {
    const EditorText& t = Current().text;
    return AppText{t.Bytes(), static_cast<uint32_t>(t.Caret())};
  }
  bool Toggled(const KeyId& key) override { return desktop_.Toggled(key.vk); }

  std::vector<std::string> TakeTrace() override {
    Settle();
    return std::exchange(pending_, {});
  }

 private:
  // The report's lines for what happened since the last, kept until asked for.
  void Settle() {
    std::vector<std::string> lines = report_ == Report::kTrace ? desktop_.TraceLines(printed_)
                                                               : AccountLines(desktop_.events(), printed_, imeAtStep_);
    printed_ = desktop_.events().size();
    pending_.insert(pending_.end(), lines.begin(), lines.end());
    if (report_ == Report::kTrace) return;
    for (const std::string& name : windowNames_) {
      std::string text = desktop_.FindWindow(name)->text.Bytes();
      std::string& shown = shownText_[name];
      if (text != shown) pending_.push_back(std::string("  ").append(name).append("'s text: ").append(Readable(text)));
      shown = text;
    }
  }

  // How the IME of the window with the focus stands, as keys are typed.
  std::string ImeText() {
    Window* w = desktop_.Focused();
    if (w == nullptr) return "no window has the focus";
    if (!w->hasIme) return "no IME";
    return w->open ? std::string("IME on, ").append(ModeText(w->conversion)) : "IME off";
  }

  Window& Current() {
    return *desktop_.FindWindow(current_);  // current_ always names a window that exists
  }

  Desktop desktop_;
  HookSharedBlock block_{};
  std::string current_;
  size_t stepStart_ = 0;  // the first event of the step
  size_t printed_ = 0;    // the first event not yet in the report
  Report report_;
  std::vector<std::string> pending_;
  std::string imeAtStep_;
  std::set<std::string> windowNames_;
  std::map<std::string, std::string> shownText_;  // each window's text as the report last showed it
};

}  // namespace

RunResult RunScenario(const Scenario& scenario, Report report) {
  SimScenarioDesktop desktop(report);
  RunResult r;
  r.passed = Interpret(scenario, desktop, [&r](const std::string& line) { r.report.push_back(line); }) ==
             Verdict::kPassed;
  return r;
}

}  // namespace tavik::sim
