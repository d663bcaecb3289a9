// The scenario interpreter: one reading of the commands for every desktop.
// Which desktop runs a scenario changes what can be arranged and seen, never
// what a command means or how its verdict is printed.
#include "sim/overloaded.h"
#include "sim/print.h"
#include "sim/scenario_desktop.h"

namespace tavik::sim {

namespace {

std::string EventsText(const std::vector<KeyEvent>& events) {
  std::string out;
  for (const KeyEvent& e : events) {
    if (!out.empty()) out += ' ';
    out += e.up ? "up:" : "down:";
    out += KeyText(e.key.vk, e.key.scanKey);
  }
  return out.empty() ? "none" : out;
}

bool SameEvents(const std::vector<KeyEvent>& a, const std::vector<KeyEvent>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].up != b[i].up || a[i].key.vk != b[i].key.vk || a[i].key.scanKey != b[i].key.scanKey) return false;
  }
  return true;
}

std::string WordsText(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& w : words) out += (out.empty() ? "" : " ") + w;
  return out.empty() ? "none" : out;
}

std::string Trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  size_t e = s.find_last_not_of(" \t\r");
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
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

class Interpreter {
 public:
  Interpreter(const Scenario& s, ScenarioDesktop& d, const std::function<void(const std::string&)>& out)
      : scenario_(s), desktop_(d), out_(out) {}

  Verdict Run() {
    out_("=== " + scenario_.title + " (" + scenario_.file + ":" + std::to_string(scenario_.line) + ")");
    for (const ScenarioLine& l : scenario_.commands) {
      if (IsExpectation(l.command)) continue;
      if (const char* why = desktop_.CannotDo(l.command)) {
        out_("SIMULATOR ONLY " + scenario_.title + ": line " + std::to_string(l.line) + " " + why);
        return Verdict::kSkipped;
      }
    }
    bool goOn = Attempt([this] { desktop_.Begin(); });
    for (const ScenarioLine& l : scenario_.commands) {
      if (!goOn) break;
      goOn = Attempt([&] { Execute(l); });
    }
    Flush();
    for (const std::string& problem : desktop_.End()) Fail(problem);
    out_(failures_ == 0 ? "PASS " + scenario_.title
                        : "FAIL " + scenario_.title + " (" + std::to_string(failures_) + " failed)");
    return failures_ == 0 ? Verdict::kPassed : Verdict::kFailed;
  }

 private:
  // Whether the scenario can go on after `f`.
  template <typename F>
  bool Attempt(F f) {
    try {
      f();
    } catch (const DesktopFailure& e) {
      Flush();
      Fail(e.what());
      return e.canGoOn;
    }
    return true;
  }

  void Flush() {
    for (const std::string& l : desktop_.TakeTrace()) out_(l);
  }

  void Fail(const std::string& why) {
    ++failures_;
    out_("  FAIL " + why);
  }

  void Check(bool ok, const std::string& expected, const std::string& got) {
    std::string where = std::to_string(line_->line) + ": " + Trimmed(line_->source);
    if (ok) {
      out_("  ok   " + where);
    } else {
      Fail(where + "  (expected " + expected + ", got " + got + ")");
    }
  }

  void BeginStep() {
    Flush();
    out_("> " + std::to_string(line_->line) + ": " + Trimmed(line_->source));
    desktop_.BeginStep();
  }

  // A scenario that types before saying hookstart gets the hooks started
  // for it, as the tray program would have done.
  void EnsureStarted() {
    if (started_) return;
    Flush();
    out_("> HookStart (before the first keystroke)");
    started_ = true;
    running_ = true;
    desktop_.HookStart();
  }

  void Execute(const ScenarioLine& l) {
    line_ = &l;
    desktop_.Reading(l);
    if (IsExpectation(l.command)) {
      Flush();
      if (const char* why = desktop_.CannotDo(l.command)) {
        out_("  --   " + std::to_string(l.line) + ": " + Trimmed(l.source) + "  (" + why + ")");
        return;
      }
    }
    std::visit(Overloaded{
                   [&](const cmd::HookStart&) {
                     BeginStep();
                     if (running_) {
                       // The library keeps one handle per hook: the first
                       // hooks would stay installed, on a real desktop for
                       // every scenario after this one.
                       Fail("hookstart while the hooks run: hookend first");
                       return;
                     }
                     started_ = true;
                     running_ = true;
                     result_ = desktop_.HookStart();
                   },
                   [&](const cmd::HookEnd&) {
                     BeginStep();
                     desktop_.HookEnd();
                     running_ = false;
                     result_ = 0;
                   },
                   [&](const cmd::Key& k) {
                     EnsureStarted();
                     BeginStep();
                     result_ = desktop_.Type({k});
                   },
                   [&](const cmd::Tap& t) {
                     EnsureStarted();
                     BeginStep();
                     result_ = desktop_.Type({cmd::Key{{t.key, false}, t.code, false}, cmd::Key{{t.key, true}, t.code, false}});
                   },
                   [&](const cmd::Keys& k) {
                     EnsureStarted();
                     BeginStep();
                     std::vector<cmd::Key> keys;
                     for (const KeyEvent& e : k.events) keys.push_back(cmd::Key{e, 0, false});
                     result_ = desktop_.Type(keys);
                   },
                   [&](const cmd::Hook& h) {
                     EnsureStarted();
                     BeginStep();
                     result_ = desktop_.CallHook(h);
                   },
                   [&](const cmd::Message& m) {
                     EnsureStarted();
                     BeginStep();
                     result_ = desktop_.RetrieveMessage(m);
                   },
                   [&](const auto& c) {
                     if constexpr (requires { desktop_.Arrange(c); }) {
                       desktop_.Arrange(c);
                     } else {
                       Expect(c);
                     }
                   },
               },
               l.command);
  }

  void Expect(const cmd::ExpectSwallowed&) { Check(result_ != 0, "nonzero", Signed(result_)); }
  void Expect(const cmd::ExpectPassed&) { Check(result_ == 0, "0", Signed(result_)); }
  void Expect(const cmd::ExpectResult& e) { Check(result_ == e.result, Signed(e.result), Signed(result_)); }

  void Expect(const cmd::ExpectCall& e) {
    size_t n = Matching(e.pattern).size();
    Check(n > 0, "such a call", n > 0 ? "such a call" : "no such call");
  }

  void Expect(const cmd::ExpectNoCall& e) {
    std::vector<std::string> found = Matching(e.pattern);
    Check(found.empty(), "no such call", found.empty() ? "none" : found[0]);
  }

  void Expect(const cmd::ExpectCalls& e) {
    std::vector<std::string> calls = StepCalls();
    size_t at = 0;
    std::string missing;
    for (const std::string& pattern : e.patterns) {
      while (at < calls.size() && !CallMatches(pattern, calls[at])) ++at;
      if (at == calls.size()) {
        missing = pattern;
        break;
      }
      ++at;
    }
    Check(missing.empty(), "'" + missing + "' after the calls before it", "no such call");
  }

  void Expect(const cmd::ExpectCount& e) {
    size_t n = Matching(e.pattern).size();
    Check(n == e.count, std::to_string(e.count), std::to_string(n));
  }

  void Expect(const cmd::ExpectDelivered& e) {
    std::vector<KeyEvent> got = desktop_.StepDelivered();
    Check(SameEvents(got, e.events), EventsText(e.events), EventsText(got));
  }

  void Expect(const cmd::ExpectWord& e) {
    int64_t value = desktop_.Word(e.word);
    Check(e.value ? value == *e.value : value != 0, e.value ? std::to_string(*e.value) : "nonzero",
          std::to_string(value));
  }

  void Expect(const cmd::ExpectImeOpen& e) {
    bool open = desktop_.Ime().open;
    Check(open == e.open, e.open ? "open" : "closed", open ? "open" : "closed");
  }

  void Expect(const cmd::ExpectImeMode& e) {
    uint32_t mode = desktop_.Ime().conversion;
    Check(mode == e.conversion, Hex(e.conversion), Hex(mode));
  }

  void Expect(const cmd::ExpectImeComposition& e) {
    std::string got = desktop_.Ime().composition;
    Check(got == e.bytes, HexBytes(e.bytes), HexBytes(got));
  }

  void Expect(const cmd::ExpectImeAttributes& e) {
    std::string got = desktop_.Ime().attributes;
    Check(got == e.bytes, HexBytes(e.bytes), HexBytes(got));
  }

  void Expect(const cmd::ExpectImeTold& e) {
    std::vector<std::string> told;
    for (const ImeTold& t : desktop_.StepImeTold()) told.push_back(Word(t));
    Check(told == e.told, WordsText(e.told), WordsText(told));
  }

  void Expect(const cmd::ExpectCommitted& e) {
    std::string got = desktop_.Committed();
    Check(got == e.text, Quoted(e.text), Quoted(got));
  }

  void Expect(const cmd::ExpectText& e) {
    std::string got = desktop_.Text().text;
    Check(got == e.text, Quoted(e.text), Quoted(got));
  }

  void Expect(const cmd::ExpectCaret& e) {
    uint32_t got = desktop_.Text().caret;
    Check(got == e.caret, std::to_string(e.caret), std::to_string(got));
  }

  void Expect(const cmd::ExpectToggled& e) {
    bool on = desktop_.Toggled(e.key);
    Check(on == e.on, e.on ? "on" : "off", on ? "on" : "off");
  }

  // The step's calls as patterns see them: as the trace prints them.
  std::vector<std::string> StepCalls() {
    std::vector<std::string> calls;
    for (const PlatformCall& c : desktop_.StepCalls()) calls.push_back(Format(c));
    return calls;
  }

  std::vector<std::string> Matching(const std::string& pattern) {
    std::vector<std::string> found;
    for (const std::string& call : StepCalls()) {
      if (CallMatches(pattern, call)) found.push_back(call);
    }
    return found;
  }

  const Scenario& scenario_;
  ScenarioDesktop& desktop_;
  const std::function<void(const std::string&)>& out_;
  const ScenarioLine* line_ = nullptr;
  bool started_ = false;
  bool running_ = false;  // started and not ended since
  intptr_t result_ = 0;
  int failures_ = 0;
};

}  // namespace

Verdict Interpret(const Scenario& scenario, ScenarioDesktop& desktop,
                  const std::function<void(const std::string&)>& out) {
  return Interpreter(scenario, desktop, out).Run();
}

}  // namespace tavik::sim
