// What a desktop must do for a scenario to run on it. The scenario
// interpreter reads the commands, keeps the report and decides every
// verdict; a desktop only arranges, types and reads back. The simulated
// desktop (SimScenarioDesktop, sim/) and the real one under Wine
// (WineScenarioDesktop, e2e/) each implement this, so a new command costs
// one method per desktop.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/desktop_events.h"
#include "sim/scenario.h"

namespace tavik::sim {

// The IME of the current window as expectations see it.
struct ImeState {
  bool open = false;
  uint32_t conversion = 0;
  std::string composition;
  std::string attributes;
};

// The current window's application text as a user sees it: code page 932
// bytes with "\n" for a line break, and the caret in characters.
struct AppText {
  std::string text;
  uint32_t caret = 0;
};

// Thrown by a desktop that finds something wrong with itself while it
// carries out a command (keystrokes not taken, the library not loaded):
// a failure of the scenario. When the desktop cannot go on, the rest of the
// scenario's commands are left out.
struct DesktopFailure : std::runtime_error {
  DesktopFailure(const std::string& what, bool goesOn) : std::runtime_error(what), canGoOn(goesOn) {}
  bool canGoOn;
};

class ScenarioDesktop {
 public:
  virtual ~ScenarioDesktop() = default;

  // The one place a desktop declares what it cannot do: why it cannot
  // arrange or carry out a command, or observe what an expectation checks;
  // null when it can. A scenario with a command it cannot carry out does
  // not run there; an expectation it cannot observe is reported unchecked.
  virtual const char* CannotDo(const Command& c) const = 0;

  // The command about to be carried out, for a desktop that reports on it
  // in lines of its own.
  virtual void Reading(const ScenarioLine&) {}

  // Before the scenario's first command, once it is known to run here.
  virtual void Begin() {}
  // After its last command (or after the desktop broke): problems found
  // then, each a failure.
  virtual std::vector<std::string> End() { return {}; }

  // --- Arranging ------------------------------------------------------------------
  virtual void Arrange(const cmd::Settings&) = 0;
  virtual void Arrange(const cmd::Setting&) = 0;
  virtual void Arrange(const cmd::NoSettings&) = 0;
  virtual void Arrange(const cmd::Window&) = 0;
  virtual void Arrange(const cmd::Focus&) = 0;
  virtual void Arrange(const cmd::ImeOpen&) = 0;
  virtual void Arrange(const cmd::ImeMode&) = 0;
  virtual void Arrange(const cmd::ImeComposition&) = 0;
  virtual void Arrange(const cmd::ImeAttributes&) = 0;
  virtual void Arrange(const cmd::ImeCandidates&) = 0;
  virtual void Arrange(const cmd::ImeFile&) = 0;
  virtual void Arrange(const cmd::Host&) = 0;
  virtual void Arrange(const cmd::Hold&) = 0;
  virtual void Arrange(const cmd::PressedSince&) = 0;
  virtual void Arrange(const cmd::Toggle&) = 0;
  virtual void Arrange(const cmd::Async&) = 0;
  virtual void Arrange(const cmd::KeyState&) = 0;
  virtual void Arrange(const cmd::Clock&) = 0;
  virtual void Arrange(const cmd::Fail&) = 0;
  virtual void Arrange(const cmd::Restore&) = 0;
  virtual void Arrange(const cmd::NextHookResult&) = 0;
  virtual void Arrange(const cmd::Set&) = 0;
  virtual void Arrange(const cmd::Text&) = 0;

  // --- Steps ------------------------------------------------------------------------
  // Each returns the step's result: what the first hook answered (0 where a
  // desktop cannot see it). `BeginStep` comes first, so that the
  // expectations after the step see only what the step did.
  virtual void BeginStep() = 0;
  virtual intptr_t HookStart() = 0;
  virtual void HookEnd() = 0;
  // Keystrokes from the keyboard, one after another, with a hook code; the
  // result is the last one's.
  virtual intptr_t Type(const std::vector<cmd::Key>& keys) = 0;
  virtual intptr_t CallHook(const cmd::Hook&) = 0;
  virtual intptr_t RetrieveMessage(const cmd::Message&) = 0;

  // --- Reading back -----------------------------------------------------------------
  // Platform calls the hooks made in the last step.
  virtual std::vector<PlatformCall> StepCalls() = 0;
  // Keystrokes delivered to an application in the last step.
  virtual std::vector<KeyEvent> StepDelivered() = 0;
  // What the IME was told in the last step.
  virtual std::vector<ImeTold> StepImeTold() = 0;
  virtual int64_t Word(const std::string& name) = 0;
  virtual ImeState Ime() = 0;
  virtual std::string Committed() = 0;
  virtual AppText Text() = 0;
  virtual bool Toggled(const KeyId& key) = 0;

  // Lines for the report since the last call: the trace of what happened
  // (empty where a desktop has none).
  virtual std::vector<std::string> TakeTrace() { return {}; }
};

enum class Verdict { kPassed, kFailed, kSkipped };

// Runs a scenario on a desktop, giving the report line by line to `out`.
// A scenario with a command the desktop cannot carry out is skipped: its
// report says SIMULATOR ONLY, with the line and the reason.
Verdict Interpret(const Scenario& scenario, ScenarioDesktop& desktop,
                  const std::function<void(const std::string&)>& out);

}  // namespace tavik::sim
