#include <cstdio>

#include "common/settings.h"
#include "hook/shared_block.h"
#include "hook/stages.h"
#include "sim/block_words.h"
#include "sim/desktop.h"
#include "sim/scenario.h"

namespace tavik::sim {

namespace {

constexpr const char kDefaultWindow[] = "editor";
constexpr const char kDefaultImeFile[] = "TESTIME.IME";
constexpr const char kDefaultHost[] = "C:\\Program Files\\Editor\\editor.exe";

std::string KeyText(const KeyId& k) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%02X/0x%02X", k.vk, k.scanKey);
  return buf;
}

std::string SignedText(int64_t v) {
  return v < 0 ? "-" + Hex(static_cast<uint64_t>(-v)) : Hex(static_cast<uint64_t>(v));
}

std::string ByteText(const std::string& bytes) {
  if (bytes.empty()) return "none";
  std::string out;
  for (char c : bytes) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned char>(c));
    if (!out.empty()) out += ' ';
    out += buf;
  }
  return out;
}

// '*' matches any run of characters; the pattern must match the start of
// the text. A pattern without '(' names a call and matches it whole.
bool GlobPrefix(const char* p, const char* s) {
  if (*p == '\0') return true;
  if (*p == '*') {
    for (const char* t = s;; ++t) {
      if (GlobPrefix(p + 1, t)) return true;
      if (*t == '\0') return false;
    }
  }
  return *s != '\0' && *p == *s && GlobPrefix(p + 1, s + 1);
}

bool CallMatches(const std::string& pattern, const std::string& call) {
  if (pattern.find('(') == std::string::npos) return call.substr(0, call.find('(')) == pattern;
  return GlobPrefix(pattern.c_str(), call.c_str());
}

class Runner {
 public:
  explicit Runner(const Scenario& s) : scenario_(s) {
    desktop_.AddWindow(kDefaultWindow);
    desktop_.SetFocus(kDefaultWindow);
    current_ = kDefaultWindow;
    desktop_.SetImeFileName(std::string(kDefaultImeFile));
    desktop_.SetHostPath(std::string(kDefaultHost));
    desktop_.SetHookRunner([this](HookProc proc, int32_t code, uintptr_t w, intptr_t l) -> intptr_t {
      if (proc == kKeyboardProcToken) return KeyboardProcedure(desktop_, block_, code, w, l);
      if (proc == kMessageProcToken) return MessageProcedure(desktop_, block_, code, w, l);
      return 0;
    });
  }

  RunResult Run() {
    RunResult r;
    out_.push_back("=== " + scenario_.title + " (" + scenario_.file + ":" + std::to_string(scenario_.line) + ")");
    for (const Command& c : scenario_.commands) Execute(c);
    Flush();
    for (const std::string& v : desktop_.InvariantViolations()) Fail("invariant: " + v);
    out_.push_back(failures_ == 0 ? "PASS " + scenario_.title
                                  : "FAIL " + scenario_.title + " (" + std::to_string(failures_) + " failed)");
    r.passed = failures_ == 0;
    r.report = std::move(out_);
    return r;
  }

 private:
  Window& Current() {
    Window* w = desktop_.FindWindow(current_);
    return *w;  // current_ always names a window that exists
  }

  void Fail(const std::string& why) {
    ++failures_;
    out_.push_back("  FAIL " + why);
  }

  void Check(const Command& c, bool ok, const std::string& got) {
    std::string where = std::to_string(c.line) + ": " + Trimmed(c.source);
    if (ok) {
      out_.push_back("  ok   " + where);
    } else {
      Fail(where + (got.empty() ? "" : "  (got " + got + ")"));
    }
  }

  static std::string Trimmed(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    size_t e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? "" : s.substr(b, e - b + 1);
  }

  // The trace of the last step, printed as it is made.
  void BeginStep(const Command& c) {
    Flush();
    out_.push_back("> " + std::to_string(c.line) + ": " + Trimmed(c.source));
    stepStart_ = desktop_.TraceSize();
    stepTold_ = desktop_.imeTold().size();
  }

  void Flush() {
    const auto& t = desktop_.trace();
    for (size_t i = printed_; i < t.size(); ++i) out_.push_back(t[i]);
    printed_ = t.size();
  }

  std::vector<std::string> StepCalls() const {
    std::vector<std::string> calls;
    const auto& t = desktop_.trace();
    for (size_t i = stepStart_; i < t.size(); ++i) {
      const std::string& l = t[i];
      if (l.rfind("  ", 0) != 0) continue;
      std::string s = l.substr(2);
      if (s.rfind("->", 0) == 0 || s.rfind("app ", 0) == 0 || s.rfind("commit ", 0) == 0) continue;
      calls.push_back(s);
    }
    return calls;
  }

  // A scenario that types before saying hookstart gets the hooks started
  // for it, as the tray program would have done.
  void EnsureStarted() {
    if (started_) return;
    Flush();
    out_.push_back("> HookStart (before the first keystroke)");
    HookStartNow();
  }

  void HookStartNow() {
    started_ = true;
    lastResult_ = HookStart(desktop_, block_, kModuleInstance, kKeyboardProcToken, kMessageProcToken);
    desktop_.Note("  -> HookStart returned " + Hex(static_cast<uint32_t>(lastResult_)));
  }

  void Type(int32_t code, uint32_t vk, intptr_t lParam) {
    lastResult_ = desktop_.Keystroke(code, vk, lParam);
  }

  void Execute(const Command& c) {
    switch (c.kind) {
      case Command::kSettings: {
        std::string text;
        for (const std::string& l : c.block) text += l + "\r\n";
        desktop_.profiles().SetFile(kSettingsFile, text);
        break;
      }
      case Command::kSetting: {
        // Written as the value stands after '=', blanks and all.
        size_t eq = c.text.find('=');
        std::string key = Trimmed(c.text.substr(0, eq));
        desktop_.profiles().WriteString(kSettingsSection, key.c_str(), c.text.substr(eq + 1).c_str(), kSettingsFile);
        break;
      }
      case Command::kNoSettings:
        desktop_.profiles().RemoveFile(kSettingsFile);
        break;
      case Command::kWindow:
        if (desktop_.FindWindow(c.name) == nullptr) desktop_.AddWindow(c.name, !c.flag);
        desktop_.FindWindow(c.name)->hasIme = !c.flag;
        current_ = c.name;
        break;
      case Command::kFocus:
        if (!c.name.empty() && desktop_.FindWindow(c.name) == nullptr) desktop_.AddWindow(c.name);
        desktop_.SetFocus(c.name);
        if (!c.name.empty()) current_ = c.name;
        break;
      case Command::kImeOpen:
        Current().open = c.flag;
        break;
      case Command::kImeMode:
        Current().conversion = static_cast<uint32_t>(c.number);
        if (c.flag) Current().sentence = static_cast<uint32_t>(c.number2);
        break;
      case Command::kImeComposition:
        Current().composition = c.bytes;
        if (Current().attributes.size() != c.bytes.size()) {
          Current().attributes.assign(c.bytes.size(), static_cast<char>(w32::ATTR_INPUT));
        }
        break;
      case Command::kImeAttributes:
        Current().attributes = c.bytes;
        break;
      case Command::kImeCandidates:
        Current().candidateList = c.flag ? std::optional<uint32_t>(static_cast<uint32_t>(c.number)) : std::nullopt;
        break;
      case Command::kImeFile:
        desktop_.SetImeFileName(c.flag ? std::optional<std::string>(c.text) : std::nullopt);
        break;
      case Command::kHost:
        desktop_.SetHostPath(c.flag ? std::optional<std::string>(c.text) : std::nullopt);
        break;
      case Command::kHold:
        for (const KeyId& k : c.keys) desktop_.SetHeld(k.vk, c.flag);
        break;
      case Command::kPressedSince:
        for (const KeyId& k : c.keys) desktop_.SetPressedSinceLastQuery(k.vk, true);
        break;
      case Command::kToggle:
        desktop_.SetToggled(c.keys[0].vk, c.flag);
        break;
      case Command::kAsync: {
        std::vector<uint16_t> values;
        for (int64_t v : c.numbers) values.push_back(static_cast<uint16_t>(v));
        desktop_.ScriptAsyncKeyState(c.keys[0].vk, values);
        break;
      }
      case Command::kKeyState:
        desktop_.SetKeyState(c.keys[0].vk, static_cast<uint16_t>(c.number));
        break;
      case Command::kClock:
        desktop_.SetClock(static_cast<int32_t>(c.number));
        break;
      case Command::kFail:
        desktop_.Fail(c.name, c.flag ? static_cast<int32_t>(c.number)
                                     : (c.name == "ImmGetCompositionStringA" ? w32::IMM_ERROR_GENERAL : 0));
        break;
      case Command::kRestore:
        desktop_.Restore(c.name);
        break;
      case Command::kSet:
        WriteBlockWord(block_, c.name, c.number);
        break;
      case Command::kHookStart:
        BeginStep(c);
        HookStartNow();
        break;
      case Command::kHookEnd:
        BeginStep(c);
        HookEnd(desktop_, block_);
        lastResult_ = 0;
        break;
      case Command::kKey:
        EnsureStarted();
        BeginStep(c);
        Type(c.code, c.key.vk, KeystrokeLParam(c.key.scanKey, c.flag, c.flag2));
        break;
      case Command::kTap:
        EnsureStarted();
        BeginStep(c);
        Type(c.code, c.key.vk, KeystrokeLParam(c.key.scanKey, false, false));
        Type(c.code, c.key.vk, KeystrokeLParam(c.key.scanKey, true, false));
        break;
      case Command::kHook:
        EnsureStarted();
        BeginStep(c);
        Type(c.code, static_cast<uint32_t>(c.number), static_cast<intptr_t>(c.number2));
        break;
      case Command::kMessage:
        EnsureStarted();
        BeginStep(c);
        lastResult_ = desktop_.RetrieveMessage(c.code, !c.flag, static_cast<uint32_t>(c.number));
        break;
      default:
        Flush();
        Expect(c);
        break;
    }
  }

  void Expect(const Command& c) {
    switch (c.kind) {
      case Command::kExpectSwallowed:
        Check(c, lastResult_ != 0, SignedText(lastResult_));
        break;
      case Command::kExpectPassed:
        Check(c, lastResult_ == 0, SignedText(lastResult_));
        break;
      case Command::kExpectResult:
        Check(c, lastResult_ == static_cast<intptr_t>(c.number), SignedText(lastResult_));
        break;
      case Command::kExpectCall:
      case Command::kExpectNoCall: {
        bool found = false;
        for (const std::string& call : StepCalls()) found = found || CallMatches(c.text, call);
        Check(c, found == (c.kind == Command::kExpectCall), found ? "such a call" : "no such call");
        break;
      }
      case Command::kExpectCalls: {
        std::vector<std::string> calls = StepCalls();
        size_t at = 0;
        std::string missing;
        for (const std::string& pattern : c.block) {
          while (at < calls.size() && !CallMatches(pattern, calls[at])) ++at;
          if (at == calls.size()) {
            missing = "no '" + pattern + "' after the calls before it";
            break;
          }
          ++at;
        }
        Check(c, missing.empty(), missing);
        break;
      }
      case Command::kExpectDelivered: {
        std::vector<std::string> got;
        std::vector<std::string> want;
        const auto& t = desktop_.trace();
        for (size_t i = stepStart_; i < t.size(); ++i) {
          size_t arrow = t[i].find(" <- ");
          if (t[i].rfind("  app ", 0) == 0 && arrow != std::string::npos) {
            std::string e = t[i].substr(arrow + 4);
            got.push_back(e.replace(e.find(' '), 1, ":"));
          }
        }
        for (const Command::Event& e : c.events) want.push_back((e.up ? "up:" : "down:") + KeyText(e.key));
        std::string gotText;
        for (const std::string& g : got) gotText += (gotText.empty() ? "" : " ") + g;
        Check(c, got == want, gotText.empty() ? "none" : gotText);
        break;
      }
      case Command::kExpectWord: {
        int64_t value = ReadBlockWord(block_, c.name);
        Check(c, c.flag ? value != 0 : value == c.number, std::to_string(value));
        break;
      }
      case Command::kExpectIme: {
        Window& w = Current();
        if (c.text == "open" || c.text == "closed") {
          Check(c, w.open == (c.text == "open"), w.open ? "open" : "closed");
        } else if (c.text == "mode") {
          Check(c, w.conversion == static_cast<uint32_t>(c.number), Hex(w.conversion));
        } else if (c.text == "composition") {
          Check(c, w.composition == c.bytes, ByteText(w.composition));
        } else if (c.text == "attributes") {
          Check(c, w.attributes == c.bytes, ByteText(w.attributes));
        } else {
          std::vector<std::string> told(desktop_.imeTold().begin() + static_cast<std::ptrdiff_t>(stepTold_),
                                        desktop_.imeTold().end());
          std::string got;
          for (const std::string& t : told) got += (got.empty() ? "" : " ") + t;
          Check(c, told == c.block, got.empty() ? "none" : got);
        }
        break;
      }
      case Command::kExpectCommitted:
        Check(c, Current().committed == c.bytes, "\"" + Current().committed + "\"");
        break;
      case Command::kExpectToggled: {
        bool on = desktop_.Toggled(c.keys[0].vk);
        Check(c, on == c.flag, on ? "on" : "off");
        break;
      }
      default:
        break;
    }
  }

  const Scenario& scenario_;
  Desktop desktop_;
  HookSharedBlock block_{};
  std::string current_;
  bool started_ = false;
  intptr_t lastResult_ = 0;
  size_t stepStart_ = 0;
  size_t stepTold_ = 0;
  size_t printed_ = 0;
  int failures_ = 0;
  std::vector<std::string> out_;
};

}  // namespace

RunResult RunScenario(const Scenario& scenario) {
  Runner runner(scenario);
  return runner.Run();
}

}  // namespace tavik::sim
