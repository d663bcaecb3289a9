#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "common/settings.h"
#include "sim/block_words.h"
#include "sim/cp932.h"
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

// The bytes of one UTF-8 character starting with `lead`; 0 for a byte that
// cannot start one.
size_t Utf8Length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// A run of literal characters of a quoted string, as the code page 932
// bytes that the hooks and the IME deal in. A character without such a form
// is named, so that the writer sees which one to spell with \x escapes.
std::string Cp932(const std::string& literal) {
  bool ascii = true;
  for (char c : literal) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return literal;
  if (std::optional<std::string> bytes = Utf8ToCp932(literal)) return *bytes;
  for (size_t i = 0; i < literal.size();) {
    auto lead = static_cast<unsigned char>(literal[i]);
    size_t n = Utf8Length(lead);
    if (n == 0 || i + n > literal.size()) throw Malformed("string is not UTF-8");
    uint32_t code = n == 1 ? lead : lead & (0x7Fu >> n);
    for (size_t k = 1; k < n; ++k) {
      auto b = static_cast<unsigned char>(literal[i + k]);
      if ((b & 0xC0) != 0x80) throw Malformed("string is not UTF-8");
      code = (code << 6) | (b & 0x3Fu);
    }
    std::string ch = literal.substr(i, n);
    if (!Utf8ToCp932(ch)) {
      char where[16];
      std::snprintf(where, sizeof where, "U+%04X", static_cast<unsigned>(code));
      throw Malformed("'" + ch + "' (" + where + ") has no code page 932 form");
    }
    i += n;
  }
  throw Malformed("string is not UTF-8");  // each character converts, the whole does not
}

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
      // Literal characters are UTF-8 and gather here until an escape or
      // the closing quote; escapes give bytes as they are.
      std::string literal;
      auto flush = [&] {
        t.text += Cp932(literal);
        literal.clear();
      };
      while (i < line.size()) {
        char d = line[i++];
        if (d == '"') {
          closed = true;
          break;
        }
        if (d != '\\') {
          literal += d;
          continue;
        }
        if (i >= line.size()) break;
        flush();
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
        } else if (e == 'n') {
          t.text += '\n';
        } else {
          throw Malformed(std::string("unknown escape \\") + e + " in string");
        }
      }
      if (!closed) throw Malformed("unterminated string");
      flush();
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
void KeyOptions(const std::vector<Token>& t, size_t from, int32_t& code, bool* repeat) {
  for (size_t i = from; i < t.size(); ++i) {
    const std::string& o = t[i].text;
    if (o.rfind("code=", 0) == 0) {
      code = static_cast<int32_t>(Number(o.substr(5)));
    } else if (repeat != nullptr && o == "repeat") {
      *repeat = true;
    } else {
      throw Malformed("unknown keystroke option '" + o + "'");
    }
  }
}

// down:KEY and up:KEY words, from `from` to the end of the line.
std::vector<KeyEvent> KeyEvents(const std::vector<Token>& t, size_t from) {
  std::vector<KeyEvent> events;
  for (size_t i = from; i < t.size(); ++i) {
    const std::string& e = t[i].text;
    size_t colon = e.find(':');
    std::string dir = e.substr(0, colon);
    if (colon == std::string::npos || (dir != "down" && dir != "up")) {
      throw Malformed("expected down:KEY or up:KEY, not '" + e + "'");
    }
    events.push_back(KeyEvent{Key(e.substr(colon + 1)), dir == "up"});
  }
  return events;
}

// `in PROCESS` at t[at]: the process's name, or none when the line ends
// before it.
std::optional<std::string> InProcess(const std::vector<Token>& t, size_t at) {
  if (at >= t.size()) return std::nullopt;
  if (t[at].text != "in" || t[at].quoted) throw Malformed("unexpected '" + t[at].text + "'");
  const std::string& name = Arg(t, at + 1, "process name");
  if (name.empty()) throw Malformed("a process needs a name");
  NoMore(t, at + 2);
  return name;
}

std::string CallPattern(const std::string& line, int words) {
  std::string pattern = Rest(line, words);
  if (pattern.empty()) throw Malformed("missing call pattern");
  return pattern;
}

Command ParseExpect(const std::vector<Token>& t, const std::string& line) {
  const std::string& what = Arg(t, 1, "expectation");
  if (what == "swallowed" || what == "passed") {
    NoMore(t, 2);
    if (what == "swallowed") return cmd::ExpectSwallowed{};
    return cmd::ExpectPassed{};
  }
  if (what == "result") {
    cmd::ExpectResult c{Number(Arg(t, 2, "result"))};
    NoMore(t, 3);
    return c;
  }
  if (what == "call") return cmd::ExpectCall{CallPattern(line, 2)};
  if (what == "no-call") return cmd::ExpectNoCall{CallPattern(line, 2)};
  if (what == "count") {
    int64_t n = Number(Arg(t, 2, "count"));
    if (n < 0) throw Malformed("bad count '" + t[2].text + "'");
    return cmd::ExpectCount{static_cast<uint32_t>(n), CallPattern(line, 3)};
  }
  if (what == "calls") {
    NoMore(t, 2);
    return cmd::ExpectCalls{};
  }
  if (what == "delivered") {
    cmd::ExpectDelivered c;
    Arg(t, 2, "keystrokes (or none)");
    if (t.size() == 3 && t[2].text == "none") return c;
    c.events = KeyEvents(t, 2);
    return c;
  }
  if (what == "word") {
    cmd::ExpectWord c{Arg(t, 2, "word"), std::nullopt};
    if (!IsBlockWord(c.word)) throw Malformed("unknown word '" + c.word + "'");
    const std::string& v = Arg(t, 3, "value");
    if (v != "set") c.value = Number(v);
    NoMore(t, 4);
    return c;
  }
  if (what == "ime") {
    const std::string& which = Arg(t, 2, "open, closed, mode, composition, attributes or told");
    if (which == "open" || which == "closed") {
      NoMore(t, 3);
      return cmd::ExpectImeOpen{which == "open"};
    }
    if (which == "mode") {
      cmd::ExpectImeMode c{static_cast<uint32_t>(Number(Arg(t, 3, "mode")))};
      NoMore(t, 4);
      return c;
    }
    if (which == "composition") return cmd::ExpectImeComposition{ByteList(t, 3)};
    if (which == "attributes") return cmd::ExpectImeAttributes{ByteList(t, 3)};
    if (which == "told") {
      cmd::ExpectImeTold c;
      Arg(t, 3, "what the IME was told (or none)");
      for (size_t i = 3; i < t.size(); ++i) {
        const std::string& w = t[i].text;
        if (w != "complete" && w != "revert" && w != "cancel" && w != "configure" && !(w == "none" && t.size() == 4)) {
          throw Malformed("expected complete, revert, cancel, configure or none, not '" + w + "'");
        }
        if (w != "none") c.told.push_back(w);
      }
      return c;
    }
    throw Malformed("unknown ime expectation '" + which + "'");
  }
  if (what == "committed") {
    cmd::ExpectCommitted c{Arg(t, 2, "text")};
    if (!t[2].quoted) throw Malformed("committed text must be a quoted string");
    NoMore(t, 3);
    return c;
  }
  if (what == "text") {
    cmd::ExpectText c{Arg(t, 2, "text")};
    if (!t[2].quoted) throw Malformed("text must be a quoted string");
    NoMore(t, 3);
    return c;
  }
  if (what == "caret") {
    int64_t n = Number(Arg(t, 2, "caret offset"));
    if (n < 0) throw Malformed("bad caret offset '" + t[2].text + "'");
    NoMore(t, 3);
    return cmd::ExpectCaret{static_cast<uint32_t>(n)};
  }
  if (what == "toggled") {
    cmd::ExpectToggled c{Key(Arg(t, 2, "key")), OnOff(Arg(t, 3, "on or off"))};
    NoMore(t, 4);
    return c;
  }
  throw Malformed("unknown expectation '" + what + "'");
}

// `setting KEY=VALUE` is not split into words: the value is exactly what
// follows '=', quotes, blanks and '#' included, as it would stand in the
// settings file itself.
std::optional<cmd::Setting> RawSetting(const std::string& line) {
  std::string s = line;
  if (!s.empty() && s.back() == '\r') s.pop_back();
  size_t at = s.find_first_not_of(" \t");
  if (at == std::string::npos || s.compare(at, 7, "setting") != 0) return std::nullopt;
  at += 7;
  if (at < s.size() && s[at] != ' ' && s[at] != '\t') return std::nullopt;  // another word
  size_t eq = s.find('=', at);
  if (eq == std::string::npos) throw Malformed("expected setting KEY=VALUE");
  cmd::Setting c{TrimBlanks(s.substr(at, eq - at)), s.substr(eq + 1)};
  if (c.key.empty()) throw Malformed("expected setting KEY=VALUE");
  return c;
}

Command ParseCommand(const std::vector<Token>& t, const std::string& line) {
  const std::string& w = t[0].text;
  if (w == "settings") {
    NoMore(t, 1);
    return cmd::Settings{};
  }
  if (w == "no-settings") {
    NoMore(t, 1);
    return cmd::NoSettings{};
  }
  if (w == "window") {
    cmd::Window c{Arg(t, 1, "window name"), true, std::nullopt};
    if (c.name == "none") throw Malformed("'none' cannot name a window");
    size_t at = 2;
    if (at < t.size() && t[at].text == "no-ime" && !t[at].quoted) {
      c.hasIme = false;
      ++at;
    }
    if (at < t.size() && t[at].text != "in") throw Malformed("unknown window option '" + t[at].text + "'");
    c.process = InProcess(t, at);
    return c;
  }
  if (w == "focus") {
    cmd::Focus c{Arg(t, 1, "window name or none")};
    if (c.name == "none") c.name.clear();
    NoMore(t, 2);
    return c;
  }
  if (w == "ime") {
    const std::string& what = Arg(t, 1, "open, closed, mode, composition, attributes or candidates");
    if (what == "open" || what == "closed") {
      NoMore(t, 2);
      return cmd::ImeOpen{what == "open"};
    }
    if (what == "mode") {
      cmd::ImeMode c{static_cast<uint32_t>(Number(Arg(t, 2, "conversion mode"))), std::nullopt};
      if (t.size() > 3) {
        if (t[3].text != "sentence") throw Malformed("unexpected '" + t[3].text + "'");
        c.sentence = static_cast<uint32_t>(Number(Arg(t, 4, "sentence mode")));
      }
      NoMore(t, 5);
      return c;
    }
    if (what == "composition" || what == "attributes") {
      std::string bytes = (t.size() == 3 && t[2].quoted) ? t[2].text : ByteList(t, 2);
      if (what == "composition") return cmd::ImeComposition{bytes};
      return cmd::ImeAttributes{bytes};
    }
    if (what == "candidates") {
      cmd::ImeCandidates c;
      const std::string& n = Arg(t, 2, "candidate count or none");
      if (n == "none") {
        NoMore(t, 3);
        return c;
      }
      int64_t count = Number(n);
      if (count < 0) throw Malformed("bad candidate count '" + n + "'");
      c.count = static_cast<uint32_t>(count);
      if (t.size() > 3) {
        if (t[3].text != "size") throw Malformed("unexpected '" + t[3].text + "'");
        // Signed, but also as the DWORD it is returned as: -1 and 0xFFFFFFFF alike.
        int64_t size = Number(Arg(t, 4, "list size"));
        if (size < INT32_MIN) throw Malformed("bad list size '" + t[4].text + "'");
        c.size = static_cast<int32_t>(static_cast<uint32_t>(size));
      }
      NoMore(t, 5);
      return c;
    }
    throw Malformed("unknown ime setting '" + what + "'");
  }
  if (w == "ime-file" || w == "host") {
    const Token& v = t.size() > 1 ? t[1] : throw Malformed("missing name (or none)");
    std::optional<std::string> name;
    if (v.quoted) {
      name = v.text;
    } else if (v.text != "none") {
      throw Malformed("name must be a quoted string");
    }
    NoMore(t, 2);
    if (w == "host") return cmd::Host{name};
    return cmd::ImeFile{name};
  }
  if (w == "hold" || w == "release" || w == "pressed-since") {
    std::vector<KeyId> keys;
    Arg(t, 1, "key");
    for (size_t i = 1; i < t.size(); ++i) keys.push_back(Key(t[i].text));
    if (w == "pressed-since") return cmd::PressedSince{keys};
    return cmd::Hold{keys, w == "hold"};
  }
  if (w == "toggle") {
    cmd::Toggle c{Key(Arg(t, 1, "key")), OnOff(Arg(t, 2, "on or off"))};
    NoMore(t, 3);
    return c;
  }
  if (w == "async") {
    cmd::Async c{Key(Arg(t, 1, "key")), {}};
    Arg(t, 2, "values");
    for (size_t i = 2; i < t.size(); ++i) c.values.push_back(static_cast<uint16_t>(Number(t[i].text)));
    return c;
  }
  if (w == "keystate") {
    cmd::KeyState c{Key(Arg(t, 1, "key")), static_cast<uint16_t>(Number(Arg(t, 2, "value")))};
    NoMore(t, 3);
    return c;
  }
  if (w == "clock") {
    cmd::Clock c{static_cast<int32_t>(Number(Arg(t, 1, "milliseconds"))), InProcess(t, 2)};
    return c;
  }
  if (w == "fail" || w == "restore") {
    std::string call = Arg(t, 1, "call name");
    if (!Desktop::CanFail(call)) throw Malformed("'" + call + "' is not a call that can be made to fail");
    if (w == "restore") {
      NoMore(t, 2);
      return cmd::Restore{call};
    }
    cmd::Fail c{call, std::nullopt};
    if (t.size() > 2) {
      if (call != "ImmGetCompositionStringA" && call != "ImmGetCandidateListA" && call != "SetWindowsHookExA") {
        throw Malformed("only ImmGetCompositionStringA, ImmGetCandidateListA and SetWindowsHookExA take a value");
      }
      c.value = static_cast<int32_t>(Number(t[2].text));
    }
    NoMore(t, 3);
    return c;
  }
  if (w == "next-hook-result") {
    cmd::NextHookResult c{static_cast<int32_t>(Number(Arg(t, 1, "result")))};
    NoMore(t, 2);
    return c;
  }
  if (w == "set") {
    cmd::Set c{Arg(t, 1, "word"), 0};
    if (!IsBlockWord(c.word)) throw Malformed("unknown word '" + c.word + "'");
    c.value = Number(Arg(t, 2, "value"));
    NoMore(t, 3);
    return c;
  }
  if (w == "text") {
    cmd::Text c{Arg(t, 1, "text")};
    if (!t[1].quoted) throw Malformed("text must be a quoted string");
    NoMore(t, 2);
    return c;
  }
  if (w == "hookstart" || w == "hookend") {
    NoMore(t, 1);
    if (w == "hookstart") return cmd::HookStart{};
    return cmd::HookEnd{};
  }
  if (w == "down" || w == "up") {
    cmd::Key c{KeyEvent{Key(Arg(t, 1, "key")), w == "up"}, 0, false};
    KeyOptions(t, 2, c.code, c.event.up ? nullptr : &c.repeat);
    return c;
  }
  if (w == "tap") {
    cmd::Tap c{Key(Arg(t, 1, "key")), 0};
    KeyOptions(t, 2, c.code, nullptr);
    return c;
  }
  if (w == "keys") {
    Arg(t, 1, "keystrokes");
    return cmd::Keys{KeyEvents(t, 1)};
  }
  if (w == "hook") {
    cmd::Hook c{static_cast<int32_t>(Number(Arg(t, 1, "hook code"))), static_cast<uint32_t>(Number(Arg(t, 2, "wParam"))),
                Number(Arg(t, 3, "lParam"))};
    NoMore(t, 4);
    return c;
  }
  if (w == "message") {
    cmd::Message c{static_cast<uint32_t>(Number(Arg(t, 1, "message number"))), 0, false};
    for (size_t i = 2; i < t.size(); ++i) {
      if (t[i].text == "peek") {
        c.peek = true;
      } else if (t[i].text.rfind("code=", 0) == 0) {
        c.code = static_cast<int32_t>(Number(t[i].text.substr(5)));
      } else {
        throw Malformed("unknown message option '" + t[i].text + "'");
      }
    }
    return c;
  }
  if (w == "expect") return ParseExpect(t, line);
  throw Malformed("unknown word '" + w + "'");
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
      std::optional<cmd::Setting> setting = RawSetting(lines[i]);
      std::vector<Token> t;
      if (!setting) {
        t = Tokenize(lines[i]);
        if (t.empty()) continue;
      }
      if (!setting && t[0].text == "scenario") {
        result.scenarios.push_back(Scenario{file, lineNo, Rest(lines[i], 1), {}});
        current = &result.scenarios.back();
        continue;
      }
      if (current == nullptr) {
        result.scenarios.push_back(Scenario{file, lineNo, file, {}});
        current = &result.scenarios.back();
      }
      ScenarioLine c{lineNo, lines[i], setting ? Command(*setting) : ParseCommand(t, lines[i])};
      auto* settings = std::get_if<cmd::Settings>(&c.command);
      auto* calls = std::get_if<cmd::ExpectCalls>(&c.command);
      if (settings != nullptr || calls != nullptr) {
        // A block: raw lines up to a line that is just "end".
        size_t j = i + 1;
        for (; j < lines.size(); ++j) {
          std::string l = lines[j];
          if (!l.empty() && l.back() == '\r') l.pop_back();
          std::string bare = TrimBlanks(WithoutComment(l));
          if (bare == "end") break;
          if (settings != nullptr) {
            settings->lines.push_back(l);  // the file's text as it stands
          } else if (!bare.empty()) {
            calls->patterns.push_back(bare);
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
