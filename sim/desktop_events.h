// What happens on the simulated desktop, kept as data: the keystrokes and
// messages that enter the hooks, what becomes of them, what the IME does and
// is told, and every platform call with its arguments and result. The
// expectations read these; only the report turns them into lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tavik::sim {

// --- A platform call's arguments and results ---------------------------------------
struct Number {  // written in hex
  uint64_t value;
  bool operator==(const Number&) const = default;
};
struct SignedNumber {
  int64_t value;
  bool operator==(const SignedNumber&) const = default;
};
// A handle, procedure or buffer as the desktop knows it: "editor",
// "himc:editor", "hook1", "KeyboardProc", "buf", "NULL".
struct Named {
  std::string name;
  bool operator==(const Named&) const = default;
};
struct Text {  // a C string; none for a null pointer
  std::optional<std::string> bytes;
  bool operator==(const Text&) const = default;
};
struct Bytes {  // what a call copied out, byte by byte
  std::string bytes;
  bool operator==(const Bytes&) const = default;
};
struct Numbers {  // numbers a call wrote out through its pointers
  std::vector<uint64_t> values;
  bool operator==(const Numbers&) const = default;
};
using Value = std::variant<Number, SignedNumber, Named, Text, Bytes, Numbers>;

struct PlatformCall {
  std::string function;
  std::vector<Value> arguments = {};
  std::optional<Value> result = {};  // none for a call that returns nothing
  std::optional<Value> output = {};  // what it wrote for its caller
  std::string note = {};             // why it answered so, for a reader of the report
  bool operator==(const PlatformCall&) const = default;
};

// --- The desktop's events -------------------------------------------------------------
// A keystroke entering the keyboard hooks: from the keyboard or sent by
// keybd_event. `process` is named once the desktop has more than one.
struct KeyInput {
  uint32_t vk;
  uint32_t scanKey;
  bool up;
  bool synthetic;
  int32_t code;
  uint32_t lParam;
  std::string process;
};
// A message retrieved by the focused window's thread, entering the message hooks.
struct MessageInput {
  uint32_t message;
  int32_t code;
  bool removed;  // not only peeked
  std::string process;
};
// What the keyboard hooks made of a keystroke.
struct KeyFate {
  enum class Kind { kDiscarded, kLeftInQueue, kPassed } kind;
  intptr_t result;
};
// A keystroke an application received; no window when none had the focus.
struct Delivery {
  std::optional<std::string> window;
  uint32_t vk;
  uint32_t scanKey;
  bool up;
};
struct ImeCommitted {
  std::string text;
};
struct ImeConverted {
  std::string reading;
  std::string converted;
};
// A message the IME sent straight to a window procedure.
struct ImeSent {
  std::string window;
  uint32_t message;
  intptr_t lParam;
};
// What the IME was told: a composition action (NI_COMPOSITIONSTR with its
// CPS_ index), or to show its configuration.
struct ImeTold {
  enum class Kind { kComposition, kConfigure };
  uint32_t index = 0;
  Kind kind = Kind::kComposition;
  bool operator==(const ImeTold&) const = default;
};
// A line of its own that whoever runs the desktop adds to the report.
struct Remark {
  std::string text;
};
using DesktopEvent = std::variant<KeyInput, MessageInput, KeyFate, Delivery, ImeCommitted, ImeConverted, ImeSent,
                                  PlatformCall, ImeTold, Remark>;

// --- As the report shows them -----------------------------------------------------------
// Code page 932 text quoted for a person: each character decoded, escaped
// as Quoted escapes it, and bytes (\xNN) only where there is no character.
std::string Readable(const std::string& cp932);
// The same with the bytes beside it when any is beyond ASCII: "ア" [83 41].
std::string ReadableWithBytes(const std::string& cp932);
std::string Format(const Value& value);
// "ImmGetContext(editor) = himc:editor": what `expect call` patterns match.
std::string Format(const PlatformCall& call);
// The event's line in the trace; none for what the IME was told, which
// the call that told it shows.
std::optional<std::string> TraceLine(const DesktopEvent& event);
// What the IME was told in a scenario's words: complete, revert, cancel,
// cps:N, configure.
std::string Word(const ImeTold& told);

}  // namespace tavik::sim
