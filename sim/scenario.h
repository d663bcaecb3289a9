// Scenario files: a desktop to arrange, keystrokes to type and what must
// follow, run against the real hook code on the simulated desktop. The
// format is described in docs/scenarios.md.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "sim/keys.h"

namespace tavik::sim {

// A keystroke as a scenario names it: typed, or expected to be delivered.
struct KeyEvent {
  KeyId key;
  bool up = false;
};

// One struct per command, each with the fields that command has.
namespace cmd {

// --- Arranging the desktop -----------------------------------------------
struct Settings {
  std::vector<std::string> lines;  // the file's text, line by line, as written
};
struct Setting {
  std::string key;    // trimmed
  std::string value;  // exactly as written after '='
};
struct NoSettings {};
struct Window {
  std::string name;
  bool hasIme = true;
  std::optional<std::string> process;  // none: a new window goes to the default process, an existing one stays
};
struct Focus {
  std::string name;  // empty: no window has the focus
};
struct ImeOpen {
  bool open = false;
};
struct ImeMode {
  uint32_t conversion = 0;
  std::optional<uint32_t> sentence;
};
struct ImeComposition {
  std::string bytes;
};
struct ImeAttributes {
  std::string bytes;
};
struct ImeCandidates {
  std::optional<uint32_t> count;  // none: no candidate list
  std::optional<int32_t> size;    // what ImmGetCandidateListA says the list takes; none: its true size
};
struct ImeFile {
  std::optional<std::string> name;  // none: ImmGetIMEFileNameA fails
};
struct Host {
  std::optional<std::string> path;  // none: GetModuleFileNameA fails
};
struct Hold {
  std::vector<KeyId> keys;
  bool held = true;  // false: release
};
struct PressedSince {
  std::vector<KeyId> keys;
};
struct Toggle {
  KeyId key;
  bool on = false;
};
struct Async {
  KeyId key;
  std::vector<uint16_t> values;
};
struct KeyState {
  KeyId key;
  uint16_t value = 0;
};
struct Clock {
  int32_t ms = 0;
  std::optional<std::string> process;  // none: the current window's process
};
struct Fail {
  std::string call;
  // What the failing call returns (ImmGetCompositionStringA,
  // ImmGetCandidateListA) or, for SetWindowsHookExA, the one hook type that
  // fails; none: the call's own failure value, every hook type.
  std::optional<int32_t> value;
};
struct Restore {
  std::string call;
};
struct NextHookResult {
  int32_t result = 0;  // what CallNextHookEx returns where the chain ends
};
struct Set {
  std::string word;
  int64_t value = 0;
};
struct Text {
  std::string bytes;  // the current window's text, the caret after it
};

// --- Steps ---------------------------------------------------------------
struct HookStart {};
struct HookEnd {};
struct Key {
  KeyEvent event;
  int32_t code = 0;
  bool repeat = false;
};
struct Tap {
  KeyId key;
  int32_t code = 0;
};
// Several keystrokes typed one right after another, as one step.
struct Keys {
  std::vector<KeyEvent> events;
};
struct Hook {
  int32_t code = 0;
  uint32_t wParam = 0;
  int64_t lParam = 0;
};
struct Message {
  uint32_t message = 0;
  int32_t code = 0;
  bool peek = false;
};

// --- Expectations ----------------------------------------------------------
struct ExpectSwallowed {};
struct ExpectPassed {};
struct ExpectResult {
  int64_t result = 0;
};
struct ExpectCall {
  std::string pattern;
};
struct ExpectNoCall {
  std::string pattern;
};
struct ExpectCalls {
  std::vector<std::string> patterns;  // in order
};
struct ExpectCount {
  uint32_t count = 0;
  std::string pattern;
};
struct ExpectDelivered {
  std::vector<KeyEvent> events;
};
struct ExpectWord {
  std::string word;
  std::optional<int64_t> value;  // none: any nonzero value ("set")
};
struct ExpectImeOpen {
  bool open = false;
};
struct ExpectImeMode {
  uint32_t conversion = 0;
};
struct ExpectImeComposition {
  std::string bytes;
};
struct ExpectImeAttributes {
  std::string bytes;
};
struct ExpectImeTold {
  std::vector<std::string> told;  // complete, revert, cancel, configure
};
struct ExpectCommitted {
  std::string text;
};
struct ExpectToggled {
  KeyId key;
  bool on = false;
};
struct ExpectText {
  std::string text;
};
struct ExpectCaret {
  uint32_t caret = 0;  // in characters
};

}  // namespace cmd

using Command = std::variant<
    // arranging
    cmd::Settings, cmd::Setting, cmd::NoSettings, cmd::Window, cmd::Focus, cmd::ImeOpen, cmd::ImeMode,
    cmd::ImeComposition, cmd::ImeAttributes, cmd::ImeCandidates, cmd::ImeFile, cmd::Host, cmd::Hold,
    cmd::PressedSince, cmd::Toggle, cmd::Async, cmd::KeyState, cmd::Clock, cmd::Fail, cmd::Restore,
    cmd::NextHookResult, cmd::Set, cmd::Text,
    // steps
    cmd::HookStart, cmd::HookEnd, cmd::Key, cmd::Tap, cmd::Keys, cmd::Hook, cmd::Message,
    // expectations
    cmd::ExpectSwallowed, cmd::ExpectPassed, cmd::ExpectResult, cmd::ExpectCall, cmd::ExpectNoCall,
    cmd::ExpectCalls, cmd::ExpectCount, cmd::ExpectDelivered, cmd::ExpectWord, cmd::ExpectImeOpen,
    cmd::ExpectImeMode, cmd::ExpectImeComposition, cmd::ExpectImeAttributes, cmd::ExpectImeTold,
    cmd::ExpectCommitted, cmd::ExpectToggled, cmd::ExpectText, cmd::ExpectCaret>;

// The first expectation in the variant: everything from it on checks
// rather than acts.
inline bool IsExpectation(const Command& c) {
  static const size_t first = Command(cmd::ExpectSwallowed{}).index();
  return c.index() >= first;
}

// A command where the file has it.
struct ScenarioLine {
  int line = 0;
  std::string source;  // the line as written, for the report
  Command command;
};

struct Scenario {
  std::string file;
  int line = 0;
  std::string title;
  std::vector<ScenarioLine> commands;
};

struct ParseResult {
  std::vector<Scenario> scenarios;
  std::string error;  // "FILE:LINE: message" when the text is malformed
};

ParseResult ParseScenarios(const std::string& file, const std::string& text);

struct RunResult {
  bool passed = false;
  std::vector<std::string> report;  // each step's account or trace, with each expectation's verdict
};

// What the report says of each step: an account in words of what was typed,
// received and done by the IME, or the trace of every platform call.
enum class Report { kAccount, kTrace };

// Runs a scenario on a fresh simulated desktop.
RunResult RunScenario(const Scenario& scenario, Report report = Report::kAccount);

}  // namespace tavik::sim
