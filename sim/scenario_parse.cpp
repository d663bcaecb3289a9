#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "common/settings.h"
#include "sim/block_words.h"
#include "sim/desktop.h"
#include "sim/scenario.h"

namespace tavik::sim {

namespace {

struct Malformed : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Token {
  std::string text;
  bool quoted = false;
};

std::vector<Token> Tokenize(const std::string& line) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < line.size()) {
    char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
      continue;
    }
    if (c == '#') break;
    Token t;
    if (c == '"') {
      t.quoted = true;
      ++i;
      bool closed = false;
      while (i < line.size()) {
        char d = line[i++];
        if (d == '"') {
          closed = true;
          break;
        }
        if (d != '\\') {
          t.text += d;
          continue;
        }
        if (i >= line.size()) break;
        char e = line[i++];
        if (e == 'x') {
          if (i + 2 > line.size()) throw Malformed("bad \\x escape in string");
          std::string hex = line.substr(i, 2);
          if (!std::isxdigit(static_cast<unsigned char>(hex[0])) || !std::isxdigit(static_cast<unsigned char>(hex[1]))) {
            throw Malformed("bad \\x escape in string");
          }
          long v = std::strtol(hex.c_str(), nullptr, 16);
          t.text += static_cast<char>(v);
          i += 2;
        } else if (e == '"' || e == '\\') {
          t.text += e;
        } else {
          throw Malformed(std::string("unknown escape \\") + e + " in string");
        }
      }
      if (!closed) throw Malformed("unterminated string");
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') t.text += line[i++];
    }
    tokens.push_back(t);
  }
  return tokens;
}

int64_t Number(const std::string& s) {
  if (s.empty()) throw Malformed("missing number");
  const char* p = s.c_str();
  bool negative = *p == '-';
  if (negative) ++p;
  int base = 10;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    base = 16;
    p += 2;
  }
  for (const char* d = p; *d != '\0'; ++d) {
    bool digit = base == 16 ? std::isxdigit(static_cast<unsigned char>(*d)) != 0 : (*d >= '0' && *d <= '9');
    if (!digit) throw Malformed("bad number '" + s + "'");
  }
  if (*p == '\0') throw Malformed("bad number '" + s + "'");
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(p, &end, base);
  if (*end != '\0' || errno == ERANGE || v > 0xFFFFFFFFull || *p == '-' || *p == '+') {
    throw Malformed("bad number '" + s + "'");
  }
  return negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
}

KeyId Key(const std::string& s) {
  auto k = LookUpKey(s);
  if (!k) throw Malformed("unknown key '" + s + "'");
  return *k;
}

std::string Bytes(const std::vector<Token>& t, size_t from) {
  std::string out;
  for (size_t i = from; i < t.size(); ++i) {
    int64_t v = Number(t[i].text.rfind("0x", 0) == 0 ? t[i].text : "0x" + t[i].text);
    if (v < 0 || v > 0xFF) throw Malformed("bad byte '" + t[i].text + "'");
    out += static_cast<char>(v);
  }
  return out;
}

// "none", or hex bytes.
std::string ByteList(const std::vector<Token>& t, size_t from) {
  if (t.size() == from) throw Malformed("missing bytes (or none)");
  if (t.size() == from + 1 && t[from].text == "none") return "";
  return Bytes(t, from);
}

bool OnOff(const std::string& s) {
  if (s == "on") return true;
  if (s == "off") return false;
  throw Malformed("expected on or off, not '" + s + "'");
}

const std::string& Arg(const std::vector<Token>& t, size_t i, const char* what) {
  if (i >= t.size()) throw Malformed(std::string("missing ") + what);
  return t[i].text;
}

void NoMore(const std::vector<Token>& t, size_t n) {
  if (t.size() > n) throw Malformed("unexpected '" + t[n].text + "'");
}

// The line without its comment: from the first '#' outside a string.
std::string WithoutComment(const std::string& line) {
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"' && (i == 0 || line[i - 1] != '\\')) quoted = !quoted;
    if (line[i] == '#' && !quoted) return line.substr(0, i);
  }
  return line;
}

std::string TrimBlanks(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  size_t e = s.find_last_not_of(" \t\r");
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

// The text after the first `words` words, as written, without its comment.
std::string Rest(const std::string& line, int words) {
  std::string s = WithoutComment(line);
  size_t at = 0;
  for (int i = 0; i < words; ++i) {
    at = s.find_first_not_of(" \t", at);
    if (at == std::string::npos) return "";
    at = s.find_first_of(" \t", at);
    if (at == std::string::npos) return "";
  }
  return TrimBlanks(s.substr(at));
}

// Keystroke options: code=N and, for key-downs, repeat.
void KeyOptions(const std::vector<Token>& t, size_t from, Command& c, bool allowRepeat) {
  for (size_t i = from; i < t.size(); ++i) {
    const std::string& o = t[i].text;
    if (o.rfind("code=", 0) == 0) {
      c.code = static_cast<int32_t>(Number(o.substr(5)));
    } else if (allowRepeat && o == "repeat") {
      c.flag2 = true;
    } else {
      throw Malformed("unknown keystroke option '" + o + "'");
    }
  }
}

Command ParseExpect(const std::vector<Token>& t, const std::string& line) {
  Command c{};
  const std::string& what = Arg(t, 1, "expectation");
  if (what == "swallowed" || what == "passed") {
    NoMore(t, 2);
    c.kind = what == "swallowed" ? Command::kExpectSwallowed : Command::kExpectPassed;
  } else if (what == "result") {
    c.kind = Command::kExpectResult;
    c.number = Number(Arg(t, 2, "result"));
    NoMore(t, 3);
  } else if (what == "call" || what == "no-call") {
    c.kind = what == "call" ? Command::kExpectCall : Command::kExpectNoCall;
    c.text = Rest(line, 2);
    if (c.text.empty()) throw Malformed("missing call pattern");
  } else if (what == "calls") {
    NoMore(t, 2);
    c.kind = Command::kExpectCalls;
  } else if (what == "delivered") {
    c.kind = Command::kExpectDelivered;
    Arg(t, 2, "keystrokes (or none)");
    if (t.size() == 3 && t[2].text == "none") return c;
    for (size_t i = 2; i < t.size(); ++i) {
      const std::string& e = t[i].text;
      size_t colon = e.find(':');
      std::string dir = e.substr(0, colon);
      if (colon == std::string::npos || (dir != "down" && dir != "up")) {
        throw Malformed("expected down:KEY or up:KEY, not '" + e + "'");
      }
      c.events.push_back(Command::Event{dir == "up", Key(e.substr(colon + 1))});
    }
  } else if (what == "word") {
    c.kind = Command::kExpectWord;
    c.name = Arg(t, 2, "word");
    if (!IsBlockWord(c.name)) {
      throw Malformed("unknown word '" + c.name + "'");
    }
    const std::string& v = Arg(t, 3, "value");
    if (v == "set") {
      c.flag = true;
    } else {
      c.number = Number(v);
    }
    NoMore(t, 4);
  } else if (what == "ime") {
    c.kind = Command::kExpectIme;
    c.text = Arg(t, 2, "open, closed, mode, composition, attributes or told");
    if (c.text == "open" || c.text == "closed") {
      NoMore(t, 3);
    } else if (c.text == "mode") {
      c.number = Number(Arg(t, 3, "mode"));
      NoMore(t, 4);
    } else if (c.text == "composition" || c.text == "attributes") {
      c.bytes = ByteList(t, 3);
    } else if (c.text == "told") {
      Arg(t, 3, "what the IME was told (or none)");
      for (size_t i = 3; i < t.size(); ++i) {
        const std::string& w = t[i].text;
        if (w != "complete" && w != "revert" && w != "cancel" && w != "configure" && !(w == "none" && t.size() == 4)) {
          throw Malformed("expected complete, revert, cancel, configure or none, not '" + w + "'");
        }
        if (w != "none") c.block.push_back(w);
      }
    } else {
      throw Malformed("unknown ime expectation '" + c.text + "'");
    }
  } else if (what == "committed") {
    c.kind = Command::kExpectCommitted;
    c.bytes = Arg(t, 2, "text");
    if (!t[2].quoted) throw Malformed("committed text must be a quoted string");
    NoMore(t, 3);
  } else if (what == "toggled") {
    c.kind = Command::kExpectToggled;
    c.keys.push_back(Key(Arg(t, 2, "key")));
    c.flag = OnOff(Arg(t, 3, "on or off"));
    NoMore(t, 4);
  } else {
    throw Malformed("unknown expectation '" + what + "'");
  }
  return c;
}

Command ParseCommand(const std::vector<Token>& t, const std::string& line) {
  Command c{};
  const std::string& w = t[0].text;
  if (w == "settings") {
    NoMore(t, 1);
    c.kind = Command::kSettings;
  } else if (w == "setting") {
    c.kind = Command::kSetting;
    c.text = Rest(line, 1);
    size_t eq = c.text.find('=');
    if (eq == std::string::npos) throw Malformed("expected setting KEY=VALUE");
  } else if (w == "no-settings") {
    NoMore(t, 1);
    c.kind = Command::kNoSettings;
  } else if (w == "window") {
    c.kind = Command::kWindow;
    c.name = Arg(t, 1, "window name");
    if (c.name == "none") throw Malformed("'none' cannot name a window");
    if (t.size() > 2) {
      if (t[2].text != "no-ime") throw Malformed("unknown window option '" + t[2].text + "'");
      c.flag = true;
    }
    NoMore(t, 3);
  } else if (w == "focus") {
    c.kind = Command::kFocus;
    c.name = Arg(t, 1, "window name or none");
    if (c.name == "none") c.name.clear();
    NoMore(t, 2);
  } else if (w == "ime") {
    const std::string& what = Arg(t, 1, "open, closed, mode, composition, attributes or candidates");
    if (what == "open" || what == "closed") {
      c.kind = Command::kImeOpen;
      c.flag = what == "open";
      NoMore(t, 2);
    } else if (what == "mode") {
      c.kind = Command::kImeMode;
      c.number = Number(Arg(t, 2, "conversion mode"));
      if (t.size() > 3) {
        if (t[3].text != "sentence") throw Malformed("unexpected '" + t[3].text + "'");
        c.number2 = Number(Arg(t, 4, "sentence mode"));
        c.flag = true;
      }
      NoMore(t, 5);
    } else if (what == "composition" || what == "attributes") {
      c.kind = what == "composition" ? Command::kImeComposition : Command::kImeAttributes;
      c.bytes = (t.size() == 3 && t[2].quoted) ? t[2].text : ByteList(t, 2);
    } else if (what == "candidates") {
      c.kind = Command::kImeCandidates;
      const std::string& n = Arg(t, 2, "candidate count or none");
      c.flag = n != "none";
      if (c.flag) c.number = Number(n);
      NoMore(t, 3);
    } else {
      throw Malformed("unknown ime setting '" + what + "'");
    }
  } else if (w == "ime-file" || w == "host") {
    c.kind = w == "host" ? Command::kHost : Command::kImeFile;
    const Token& v = t.size() > 1 ? t[1] : throw Malformed("missing name (or none)");
    c.flag = v.quoted || v.text != "none";
    if (c.flag && !v.quoted) throw Malformed("name must be a quoted string");
    c.text = v.text;
    NoMore(t, 2);
  } else if (w == "hold" || w == "release" || w == "pressed-since") {
    c.kind = w == "pressed-since" ? Command::kPressedSince : Command::kHold;
    c.flag = w == "hold";
    Arg(t, 1, "key");
    for (size_t i = 1; i < t.size(); ++i) c.keys.push_back(Key(t[i].text));
  } else if (w == "toggle") {
    c.kind = Command::kToggle;
    c.keys.push_back(Key(Arg(t, 1, "key")));
    c.flag = OnOff(Arg(t, 2, "on or off"));
    NoMore(t, 3);
  } else if (w == "async") {
    c.kind = Command::kAsync;
    c.keys.push_back(Key(Arg(t, 1, "key")));
    Arg(t, 2, "values");
    for (size_t i = 2; i < t.size(); ++i) c.numbers.push_back(Number(t[i].text));
  } else if (w == "keystate") {
    c.kind = Command::kKeyState;
    c.keys.push_back(Key(Arg(t, 1, "key")));
    c.number = Number(Arg(t, 2, "value"));
    NoMore(t, 3);
  } else if (w == "clock") {
    c.kind = Command::kClock;
    c.number = Number(Arg(t, 1, "milliseconds"));
    NoMore(t, 2);
  } else if (w == "fail" || w == "restore") {
    c.kind = w == "fail" ? Command::kFail : Command::kRestore;
    c.name = Arg(t, 1, "call name");
    if (!Desktop::CanFail(c.name)) throw Malformed("'" + c.name + "' is not a call that can be made to fail");
    if (c.kind == Command::kFail && t.size() > 2) {
      if (c.name != "ImmGetCompositionStringA" && c.name != "ImmGetCandidateListA") {
        throw Malformed("only ImmGetCompositionStringA and ImmGetCandidateListA fail with a value");
      }
      c.number = Number(t[2].text);
      c.flag = true;
    }
    NoMore(t, c.kind == Command::kFail ? 3 : 2);
  } else if (w == "set") {
    c.kind = Command::kSet;
    c.name = Arg(t, 1, "word");
    if (!IsBlockWord(c.name)) {
      throw Malformed("unknown word '" + c.name + "'");
    }
    c.number = Number(Arg(t, 2, "value"));
    NoMore(t, 3);
  } else if (w == "hookstart" || w == "hookend") {
    c.kind = w == "hookstart" ? Command::kHookStart : Command::kHookEnd;
    NoMore(t, 1);
  } else if (w == "down" || w == "up") {
    c.kind = Command::kKey;
    c.flag = w == "up";
    c.key = Key(Arg(t, 1, "key"));
    KeyOptions(t, 2, c, !c.flag);
  } else if (w == "tap") {
    c.kind = Command::kTap;
    c.key = Key(Arg(t, 1, "key"));
    KeyOptions(t, 2, c, false);
  } else if (w == "hook") {
    c.kind = Command::kHook;
    c.code = static_cast<int32_t>(Number(Arg(t, 1, "hook code")));
    c.number = Number(Arg(t, 2, "wParam"));
    c.number2 = Number(Arg(t, 3, "lParam"));
    NoMore(t, 4);
  } else if (w == "message") {
    c.kind = Command::kMessage;
    c.number = Number(Arg(t, 1, "message number"));
    for (size_t i = 2; i < t.size(); ++i) {
      if (t[i].text == "peek") {
        c.flag = true;
      } else if (t[i].text.rfind("code=", 0) == 0) {
        c.code = static_cast<int32_t>(Number(t[i].text.substr(5)));
      } else {
        throw Malformed("unknown message option '" + t[i].text + "'");
      }
    }
  } else if (w == "expect") {
    c = ParseExpect(t, line);
  } else {
    throw Malformed("unknown word '" + w + "'");
  }
  return c;
}

}  // namespace

ParseResult ParseScenarios(const std::string& file, const std::string& text) {
  ParseResult result;
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }

  Scenario* current = nullptr;
  for (size_t i = 0; i < lines.size(); ++i) {
    int lineNo = static_cast<int>(i + 1);
    try {
      std::vector<Token> t = Tokenize(lines[i]);
      if (t.empty()) continue;
      if (t[0].text == "scenario") {
        result.scenarios.push_back(Scenario{file, lineNo, Rest(lines[i], 1), {}});
        current = &result.scenarios.back();
        continue;
      }
      if (current == nullptr) {
        result.scenarios.push_back(Scenario{file, lineNo, file, {}});
        current = &result.scenarios.back();
      }
      Command c = ParseCommand(t, lines[i]);
      c.line = lineNo;
      c.source = lines[i];
      if (c.kind == Command::kSettings || c.kind == Command::kExpectCalls) {
        // A block: raw lines up to a line that is just "end".
        size_t j = i + 1;
        for (; j < lines.size(); ++j) {
          std::string l = lines[j];
          if (!l.empty() && l.back() == '\r') l.pop_back();
          std::string bare = TrimBlanks(WithoutComment(l));
          if (bare == "end") break;
          if (c.kind == Command::kSettings) {
            c.block.push_back(l);  // the file's text as it stands
          } else if (!bare.empty()) {
            c.block.push_back(bare);
          }
        }
        if (j == lines.size()) throw Malformed("block has no closing 'end'");
        i = j;
      }
      current->commands.push_back(std::move(c));
    } catch (const Malformed& e) {
      result.scenarios.clear();
      result.error = file + ":" + std::to_string(lineNo) + ": " + e.what();
      return result;
    }
  }
  if (result.scenarios.empty()) result.error = file + ":1: no scenario in file";
  return result;
}

}  // namespace tavik::sim
