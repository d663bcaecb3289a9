// Scenario files: a desktop to arrange, keystrokes to type and what must
// follow, run against the real hook code on the simulated desktop. The
// format is described in docs/scenarios.md.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/keys.h"

namespace tavik::sim {

struct Command {
  enum Kind {
    kSettings,      // block: the settings file's lines
    kSetting,       // text: "KEY=VALUE" added to the settings file
    kNoSettings,
    kWindow,        // name, flag (no-ime)
    kFocus,         // name ("" for none)
    kImeOpen,       // flag
    kImeMode,       // number, number2 (sentence), flag (sentence given)
    kImeComposition,  // bytes
    kImeAttributes,   // bytes
    kImeCandidates,   // flag (a list exists), number
    kImeFile,       // flag (readable), text
    kHost,          // flag (readable), text
    kHold,          // keys, flag (held)
    kPressedSince,  // keys
    kToggle,        // keys, flag (on)
    kAsync,         // keys, numbers: what successive GetAsyncKeyState calls for the key return
    kKeyState,      // keys, number: GetKeyState's whole result for the key
    kClock,         // number
    kFail,          // name, number (value), flag (value given)
    kRestore,       // name
    kSet,           // name (word or settings key), number
    kHookStart,
    kHookEnd,
    kKey,           // key, flag (up), code, flag2 (repeat)
    kTap,           // key, code
    kHook,          // code, number (wParam), number2 (lParam)
    kMessage,       // number (message), code, flag (peeked, not removed)
    kExpectSwallowed,
    kExpectPassed,
    kExpectResult,    // number (signed)
    kExpectCall,      // text (pattern)
    kExpectNoCall,    // text
    kExpectCalls,     // block (patterns, in order)
    kExpectDelivered, // events
    kExpectWord,      // name, number, flag (nonzero wanted: "set")
    kExpectIme,       // text: open|closed|mode|composition; number or bytes
    kExpectCommitted, // bytes
    kExpectToggled,   // keys, flag
  };

  struct Event {
    bool up;
    KeyId key;
  };

  Kind kind;
  int line = 0;
  std::string source;  // the line as written, for the report
  std::string name;
  std::string text;
  std::string bytes;
  int64_t number = 0;
  int64_t number2 = 0;
  int32_t code = 0;
  bool flag = false;
  bool flag2 = false;
  KeyId key{};
  std::vector<KeyId> keys;
  std::vector<int64_t> numbers;
  std::vector<Event> events;
  std::vector<std::string> block;
};

struct Scenario {
  std::string file;
  int line = 0;
  std::string title;
  std::vector<Command> commands;
};

struct ParseResult {
  std::vector<Scenario> scenarios;
  std::string error;  // "FILE:LINE: message" when the text is malformed
};

ParseResult ParseScenarios(const std::string& file, const std::string& text);

struct RunResult {
  bool passed = false;
  std::vector<std::string> report;  // the trace with each expectation's verdict
};

RunResult RunScenario(const Scenario& scenario);

}  // namespace tavik::sim
