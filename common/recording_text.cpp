// The recording's text form: written by the tray program as records come
// out of the ring, read back by tavik-sim. A person reads it too, one
// keystroke a block:
//
//   tavik-recording 1
//   tavik "1.2.2.1"
//   windows "10.0.22631"
//   layouts "0xE0010411"
//   ime-files "TESTIME.IME"
//   setting TORIKESHI KEY=1
//   ...                                 every setting, by its key
//
//   keystroke "notepad.exe" pid 4120 thread 4124 time 90210 64-bit
//     code 0 wParam 0xC0 lParam 0x1A0001  # 0xC0/0x1A down
//     words cancelEscDown=1             only the words that are not 0
//     in-flight 0x21B64 sent-behind 1   the sends still out, oldest first
//     armed 0x1F4                       the process's armedTime, when not 0
//     GetFocus -> 0x10010
//     ImmGetCompositionStringA 0x5000 0x8 0x400 -> 0x6 out 82 A0 82 A2 82 A4
//     keybd_event 0x1B 0x64 0x1 0
//     CallNextHookEx 0x20020 0 0x1B 0x1640001 -> 0
//     returned 0x1
//     truncated                         the calls did not all fit
//
//   stopped lost 0 passed-on 1234
//
// A call line is the call's Win32 name, its value arguments, `in` and the
// bytes it read through a pointer, `->` and its result (left out when 0),
// `out` and the bytes it wrote. Numbers are hex with 0x or decimal, with an
// optional minus; `#` outside a quoted string starts a comment. Lines of a
// record are told apart by their first word, so indentation is only for
// the eye. The reader checks everything it is given: a recording comes from
// another machine, and a file cut off or edited by hand must give a line
// number, never a crash.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "common/recording.h"
#include "sim/print.h"

namespace tavik {

namespace {

using sim::Cat;
using sim::Hex;
using sim::HexBytes;
using sim::Quoted;
using sim::Signed;

constexpr const char kMagic[] = "tavik-recording";
constexpr int kFormatVersion = 1;

// The runtime words' names, in the order of Record::wordsBefore. The hook
// library's table is the one truth, but this file is also built into the
// tray program, which has no hook headers beside it; a test checks the two
// lists agree.
constexpr const char* kWordNames[kRecordedWordCount] = {
    "cancelEscDown",       "leftShiftDown",      "backspaceSubstituted", "spaceResent",   "enterResent",
    "backwardKeyResent",   "forwardKeyResent",   "lineKeyResent",        "homeEndResent", "pageKeyResent",
    "tabResent",           "insertDeleteResent", "backspaceResent",      "commitAsTyped", "katakanaRecheck",
    "revertOnComposition", "conversionKeyArmed", "numericComposition",
};

// Bounds the reader holds a file to: each far above what a slot of the ring
// can carry, low enough that a hostile file cannot make it allocate much.
constexpr size_t kMaxNameLength = 1024;
constexpr size_t kMaxListEntries = 64;
constexpr size_t kMaxArgs = 8;
constexpr size_t kMaxBytes = 65536;
constexpr size_t kMaxCalls = 4096;
constexpr size_t kMaxInFlight = 8;

const char* MessageName(uint32_t message) {
  switch (message) {
    case 0x10D:
      return "WM_IME_STARTCOMPOSITION";
    case 0x10E:
      return "WM_IME_ENDCOMPOSITION";
    case 0x10F:
      return "WM_IME_COMPOSITION";
    default:
      return nullptr;
  }
}

std::string_view Bytes(const std::vector<uint8_t>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::string Decimal(int64_t value) { return std::to_string(value); }

void AppendSettings(std::string& out, const int32_t (&settings)[kSettingCount], const char* indent) {
  for (int i = 0; i < kSettingCount; ++i) {
    out += Cat({indent, "setting ", kSettingKeys[i].name, "=", Decimal(settings[i]), "\n"});
  }
}

std::string QuotedList(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += Cat({" ", Quoted(item)});
  return out;
}

// "0xC0/0x1A down", as the hook sees the keystroke: the scan key with the
// extended bit as 0x100, the direction from the transition bit.
std::string KeystrokeSummary(uint64_t wParam, int64_t lParam) {
  auto bits = static_cast<uint64_t>(lParam);
  uint32_t scanKey = static_cast<uint32_t>((bits >> 16) & 0xFF) | ((bits >> 24) & 1) << 8;
  return Cat({sim::KeyText(static_cast<uint32_t>(wParam & 0xFF), scanKey), (bits >> 31) & 1 ? " up" : " down"});
}

}  // namespace

std::string FormatHeader(const RecordingHeader& header) {
  std::string out = Cat({kMagic, " ", Decimal(kFormatVersion), "\n"});
  out += Cat({"tavik ", Quoted(header.tavikVersion), "\n"});
  out += Cat({"windows ", Quoted(header.windowsVersion), "\n"});
  out += Cat({"layouts", QuotedList(header.keyboardLayouts), "\n"});
  out += Cat({"ime-files", QuotedList(header.imeFileNames), "\n"});
  AppendSettings(out, header.settings, "");
  return out;
}

std::string FormatRecord(const Record& record) {
  const char* kind = record.kind == RecordKind::kKeystroke ? "keystroke"
                     : record.kind == RecordKind::kMessage ? "message"
                                                           : "settings";
  std::string out =
      Cat({"\n", kind, " ", Quoted(record.process), " pid ", Decimal(record.processId), " thread ",
           Decimal(record.threadId), " time ", Decimal(record.time), " ", Decimal(record.bitness), "-bit\n"});
  if (record.kind == RecordKind::kSettings) {
    AppendSettings(out, record.settings, "  ");
    return out;
  }
  out += Cat({"  code ", Signed(record.code), " wParam ", Hex(record.wParam), " lParam ", Signed(record.lParam)});
  if (record.kind == RecordKind::kMessage) {
    out += Cat({" message ", Hex(record.message)});
    if (const char* name = MessageName(record.message)) out += Cat({"  # ", name});
  } else {
    out += Cat({"  # ", KeystrokeSummary(record.wParam, record.lParam)});
  }
  out += "\n";
  std::string words;
  for (int i = 0; i < kRecordedWordCount; ++i) {
    if (record.wordsBefore[i] != 0) words += Cat({" ", kWordNames[i], "=", Decimal(record.wordsBefore[i])});
  }
  if (!words.empty()) out += Cat({"  words", words, "\n"});
  if (!record.inFlight.empty() || record.sentBehind != 0) {
    out += "  in-flight";
    for (uint32_t key : record.inFlight) out += Cat({" ", Hex(key)});
    out += Cat({" sent-behind ", Decimal(record.sentBehind), "\n"});
  }
  if (record.armedTime != 0) out += Cat({"  armed ", Signed(record.armedTime), "\n"});
  for (const RecordedCall& call : record.calls) {
    auto id = static_cast<size_t>(call.id);
    out += Cat({"  ", id < static_cast<size_t>(CallId::kCount) ? kCallNames[id] : "?"});
    for (uint64_t arg : call.args) out += Cat({" ", Hex(arg)});
    if (!call.in.empty()) out += Cat({" in ", HexBytes(Bytes(call.in))});
    if (call.result != 0 || !call.out.empty()) out += Cat({" -> ", Signed(call.result)});
    if (!call.out.empty()) out += Cat({" out ", HexBytes(Bytes(call.out))});
    out += "\n";
  }
  out += Cat({"  returned ", Signed(record.returned), "\n"});
  if (record.truncated) out += "  truncated\n";
  return out;
}

std::string FormatTrailer(const RecordingTrailer& trailer) {
  return Cat({"\nstopped lost ", std::to_string(trailer.lost), " passed-on ", std::to_string(trailer.passedOn), "\n"});
}

// ---------------------------------------------------------------------------
// Reading.

namespace {

struct Token {
  std::string_view text;
  bool quoted = false;
};

class Reader {
 public:
  Reader(const std::string& text, Recording& recording, std::string& error)
      : text_(text), recording_(recording), error_(error) {}

  bool Read();

 private:
  // Each returns false with error_ set.
  bool Fail(std::string what) {
    error_ = Cat({"line ", std::to_string(line_), ": ", what});
    return false;
  }
  bool Tokenize(std::string_view line);
  bool Unquote(std::string_view raw, std::string& out);
  bool Number(size_t at, const char* what, int64_t low, uint64_t high, uint64_t& value);
  template <typename T>
  bool Field(size_t at, const char* what, T& out);
  bool Want(size_t count, const char* what);
  bool Keyword(size_t at, std::string_view word);
  bool ByteList(size_t from, size_t to, std::vector<uint8_t>& out);
  bool SettingLine(std::string_view line, int32_t (&settings)[kSettingCount], uint32_t& seen);
  bool HeaderLine(std::string_view line);
  bool RecordStart(RecordKind kind);
  bool RecordLine(std::string_view line);
  bool CallLine(CallId id);
  bool FinishRecord();

  const std::string& text_;
  Recording& recording_;
  std::string& error_;
  size_t line_ = 0;
  std::vector<Token> tokens_;

  enum class Part { kFirstLine, kHeader, kRecords, kTrailer } part_ = Part::kFirstLine;
  uint32_t headerSettings_ = 0;
  bool headerSeen_[4] = {};  // tavik, windows, layouts, ime-files
  Record* open_ = nullptr;   // the record being read
  size_t openLine_ = 0;
  uint32_t recordSettings_ = 0;
  bool hasCode_ = false;
  bool hasWords_ = false;
  bool hasInFlight_ = false;
  bool hasArmed_ = false;
  bool hasReturned_ = false;
};

constexpr uint32_t kAllSettings = (1u << kSettingCount) - 1;
static_assert(kSettingCount < 32);

bool Blank(char c) { return c == ' ' || c == '\t'; }

bool Reader::Tokenize(std::string_view line) {
  tokens_.clear();
  size_t i = 0;
  while (i < line.size()) {
    if (Blank(line[i])) {
      ++i;
      continue;
    }
    if (line[i] == '#') break;
    size_t start = i;
    if (line[i] == '"') {
      ++i;
      while (i < line.size() && line[i] != '"') i += line[i] == '\\' && i + 1 < line.size() ? 2 : 1;
      if (i >= line.size()) return Fail("unterminated string");
      ++i;
      if (i < line.size() && !Blank(line[i]) && line[i] != '#') return Fail("no blank after a string");
      tokens_.push_back({line.substr(start, i - start), true});
    } else {
      while (i < line.size() && !Blank(line[i])) ++i;
      tokens_.push_back({line.substr(start, i - start), false});
    }
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Reader::Unquote(std::string_view raw, std::string& out) {
  out.clear();
  // raw is "..." as the tokenizer found it: an escape's backslash is never
  // the last character before the closing quote.
  std::string_view inner = raw.substr(1, raw.size() - 2);
  for (size_t i = 0; i < inner.size(); ++i) {
    if (out.size() >= kMaxNameLength) return Fail("string too long");
    if (inner[i] != '\\') {
      out += inner[i];
      continue;
    }
    char c = i + 1 < inner.size() ? inner[++i] : '\0';
    if (c == '"' || c == '\\') {
      out += c;
    } else if (c == 'n') {
      out += '\n';
    } else if (c == 'x' && i + 2 < inner.size() && HexDigit(inner[i + 1]) >= 0 && HexDigit(inner[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(inner[i + 1]) * 16 + HexDigit(inner[i + 2]));
      i += 2;
    } else {
      return Fail("bad escape in string");
    }
  }
  return true;
}

// A number in [low, high]: decimal or 0x hex, an optional minus. Values
// below 0 come back as their two's complement.
bool Reader::Number(size_t at, const char* what, int64_t low, uint64_t high, uint64_t& value) {
  if (at >= tokens_.size() || tokens_[at].quoted) return Fail(Cat({"missing ", what}));
  std::string_view t = tokens_[at].text;
  bool negative = !t.empty() && t[0] == '-';
  if (negative) t.remove_prefix(1);
  int base = 10;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    base = 16;
    t.remove_prefix(2);
  }
  uint64_t magnitude = 0;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), magnitude, base);
  if (t.empty() || ec != std::errc() || end != t.data() + t.size()) {
    return Fail(Cat({"bad number for ", what, ": ", tokens_[at].text}));
  }
  bool fits = negative ? low < 0 && magnitude <= static_cast<uint64_t>(-(low + 1)) + 1 : magnitude <= high;
  if (!fits) return Fail(Cat({what, " out of range: ", tokens_[at].text}));
  value = negative ? 0 - magnitude : magnitude;
  return true;
}

template <typename T>
bool Reader::Field(size_t at, const char* what, T& out) {
  uint64_t value = 0;
  constexpr bool isSigned = static_cast<T>(-1) < T{0};
  constexpr int64_t low = isSigned ? static_cast<int64_t>(std::numeric_limits<T>::min()) : 0;
  constexpr uint64_t high = static_cast<uint64_t>(std::numeric_limits<T>::max());
  if (!Number(at, what, low, high, value)) return false;
  out = static_cast<T>(value);
  return true;
}

bool Reader::Want(size_t count, const char* what) {
  if (tokens_.size() < count) return Fail(Cat({"missing ", what}));
  if (tokens_.size() > count) return Fail(Cat({"unexpected ", tokens_[count].text}));
  return true;
}

bool Reader::Keyword(size_t at, std::string_view word) {
  if (at >= tokens_.size() || tokens_[at].quoted || tokens_[at].text != word) {
    return Fail(Cat({"expected ", word, at < tokens_.size() ? Cat({", found ", tokens_[at].text}) : ""}));
  }
  return true;
}

bool Reader::ByteList(size_t from, size_t to, std::vector<uint8_t>& out) {
  out.clear();
  if (to - from > kMaxBytes) return Fail("too many bytes");
  for (size_t i = from; i < to; ++i) {
    std::string_view t = tokens_[i].text;
    if (tokens_[i].quoted || t.size() != 2 || HexDigit(t[0]) < 0 || HexDigit(t[1]) < 0) {
      return Fail(Cat({"bad byte: ", t}));
    }
    out.push_back(static_cast<uint8_t>(HexDigit(t[0]) * 16 + HexDigit(t[1])));
  }
  return true;
}

// "setting KEY=VALUE": the key may have blanks, as in the settings file.
bool Reader::SettingLine(std::string_view line, int32_t (&settings)[kSettingCount], uint32_t& seen) {
  // The caller saw "setting" as the line's first word.
  std::string_view rest = line.substr(line.find("setting") + 7);
  size_t equals = rest.find('=');
  if (equals == std::string_view::npos) return Fail("setting without '='");
  std::string_view name = rest.substr(0, equals);
  while (!name.empty() && Blank(name.back())) name.remove_suffix(1);
  while (!name.empty() && Blank(name.front())) name.remove_prefix(1);
  int index = -1;
  for (int i = 0; i < kSettingCount; ++i) {
    if (name == kSettingKeys[i].name) index = i;
  }
  if (index < 0) return Fail(Cat({"unknown setting ", name}));
  if (seen & 1u << index) return Fail(Cat({"setting ", name, " given twice"}));
  seen |= 1u << index;
  if (!Tokenize(rest.substr(equals + 1))) return false;
  if (!Want(1, "setting value")) return false;
  return Field(0, "setting value", settings[index]);
}

bool Reader::HeaderLine(std::string_view line) {
  if (tokens_[0].text == "setting") return SettingLine(line, recording_.header.settings, headerSettings_);
  static constexpr const char* kLines[] = {"tavik", "windows", "layouts", "ime-files"};
  int which = -1;
  for (int i = 0; i < 4; ++i) {
    if (tokens_[0].text == kLines[i]) which = i;
  }
  if (which < 0 || tokens_[0].quoted) return Fail(Cat({"unexpected ", tokens_[0].text, " in the header"}));
  if (headerSeen_[which]) return Fail(Cat({kLines[which], " given twice"}));
  headerSeen_[which] = true;
  if (which < 2) {
    if (!Want(2, kLines[which])) return false;
    if (!tokens_[1].quoted) return Fail(Cat({kLines[which], " wants a quoted string"}));
    return Unquote(tokens_[1].text, which == 0 ? recording_.header.tavikVersion : recording_.header.windowsVersion);
  }
  auto& list = which == 2 ? recording_.header.keyboardLayouts : recording_.header.imeFileNames;
  if (tokens_.size() - 1 > kMaxListEntries) return Fail("too many entries");
  for (size_t i = 1; i < tokens_.size(); ++i) {
    if (!tokens_[i].quoted) return Fail(Cat({kLines[which], " wants quoted strings"}));
    std::string item;
    if (!Unquote(tokens_[i].text, item)) return false;
    list.push_back(std::move(item));
  }
  return true;
}

// KIND "PROCESS" pid N thread N time N BITS-bit
bool Reader::RecordStart(RecordKind kind) {
  if (!Want(9, "record head (process, pid, thread, time, bitness)")) return false;
  recording_.records.emplace_back();
  open_ = &recording_.records.back();
  openLine_ = line_;
  recordSettings_ = 0;
  hasCode_ = hasWords_ = hasInFlight_ = hasArmed_ = hasReturned_ = false;
  open_->kind = kind;
  if (!tokens_[1].quoted) return Fail("the process name wants quotes");
  if (!Unquote(tokens_[1].text, open_->process)) return false;
  if (!Keyword(2, "pid") || !Field(3, "pid", open_->processId)) return false;
  if (!Keyword(4, "thread") || !Field(5, "thread", open_->threadId)) return false;
  if (!Keyword(6, "time") || !Field(7, "time", open_->time)) return false;
  std::string_view bits = tokens_[8].text;
  if (bits == "64-bit") {
    open_->bitness = 64;
  } else if (bits == "32-bit") {
    open_->bitness = 32;
  } else {
    return Fail(Cat({"bad bitness: ", bits}));
  }
  return true;
}

bool Reader::CallLine(CallId id) {
  if (hasReturned_) return Fail("a call after returned");
  if (open_->calls.size() >= kMaxCalls) return Fail("too many calls");
  RecordedCall& call = open_->calls.emplace_back();
  call.id = id;
  size_t i = 1;
  auto at = [&](std::string_view word) { return i < tokens_.size() && !tokens_[i].quoted && tokens_[i].text == word; };
  while (i < tokens_.size() && !at("in") && !at("->") && !at("out")) {
    if (call.args.size() >= kMaxArgs) return Fail("too many arguments");
    uint64_t arg = 0;
    if (!Number(i, "argument", INT64_MIN, UINT64_MAX, arg)) return false;
    call.args.push_back(arg);
    ++i;
  }
  if (at("in")) {
    size_t from = ++i;
    while (i < tokens_.size() && !at("->") && !at("out")) ++i;
    if (i == from) return Fail("in without bytes");
    if (!ByteList(from, i, call.in)) return false;
  }
  if (at("->")) {
    ++i;
    uint64_t result = 0;
    if (!Number(i, "result", INT64_MIN, INT64_MAX, result)) return false;
    call.result = static_cast<int64_t>(result);
    ++i;
  }
  if (at("out")) {
    size_t from = ++i;
    if (i == tokens_.size()) return Fail("out without bytes");
    if (!ByteList(from, tokens_.size(), call.out)) return false;
    i = tokens_.size();
  }
  if (i != tokens_.size()) return Fail(Cat({"unexpected ", tokens_[i].text}));
  return true;
}

bool Reader::RecordLine(std::string_view line) {
  std::string_view word = tokens_[0].text;
  if (open_->kind == RecordKind::kSettings) {
    if (word != "setting") return Fail(Cat({"unexpected ", word, " in a settings record"}));
    return SettingLine(line, open_->settings, recordSettings_);
  }
  if (word == "code") {
    if (hasCode_) return Fail("code given twice");
    hasCode_ = true;
    bool message = open_->kind == RecordKind::kMessage;
    if (!Want(message ? 8 : 6, message ? "code, wParam, lParam and message" : "code, wParam and lParam")) return false;
    if (!Field(1, "code", open_->code) || !Keyword(2, "wParam") || !Field(3, "wParam", open_->wParam) ||
        !Keyword(4, "lParam") || !Field(5, "lParam", open_->lParam)) {
      return false;
    }
    return !message || (Keyword(6, "message") && Field(7, "message", open_->message));
  }
  if (!hasCode_) return Fail(Cat({"expected code, found ", word}));
  if (hasReturned_ && word != "truncated") return Fail(Cat({word, " after returned"}));
  if (word == "words") {
    if (hasWords_) return Fail("words given twice");
    hasWords_ = true;
    for (size_t i = 1; i < tokens_.size(); ++i) {
      std::string_view t = tokens_[i].text;
      size_t equals = t.find('=');
      int index = -1;
      for (int w = 0; w < kRecordedWordCount && equals != std::string_view::npos; ++w) {
        if (t.substr(0, equals) == kWordNames[w]) index = w;
      }
      if (tokens_[i].quoted || index < 0) return Fail(Cat({"unknown word ", t.substr(0, equals)}));
      uint64_t value = 0;
      Token whole = tokens_[i];
      tokens_[i].text = t.substr(equals + 1);
      bool ok = Number(i, "word value", INT32_MIN, INT32_MAX, value);
      tokens_[i] = whole;
      if (!ok) return false;
      open_->wordsBefore[index] = static_cast<int32_t>(value);
    }
    return true;
  }
  if (word == "in-flight") {
    if (hasInFlight_) return Fail("in-flight given twice");
    hasInFlight_ = true;
    if (tokens_.size() < 3 || tokens_.size() - 3 > kMaxInFlight)
      return Fail("in-flight wants up to 8 keys and sent-behind");
    for (size_t i = 1; i + 2 < tokens_.size(); ++i) {
      if (!Field(i, "sent key", open_->inFlight.emplace_back())) return false;
    }
    return Keyword(tokens_.size() - 2, "sent-behind") && Field(tokens_.size() - 1, "sent-behind", open_->sentBehind);
  }
  if (word == "armed") {
    if (hasArmed_) return Fail("armed given twice");
    hasArmed_ = true;
    return Want(2, "armed time") && Field(1, "armed time", open_->armedTime);
  }
  if (word == "returned") {
    hasReturned_ = true;
    return Want(2, "returned value") && Field(1, "returned value", open_->returned);
  }
  if (word == "truncated") {
    if (open_->truncated) return Fail("truncated given twice");
    open_->truncated = true;
    return Want(1, "");
  }
  for (size_t id = 0; id < static_cast<size_t>(CallId::kCount); ++id) {
    if (word == kCallNames[id]) return CallLine(static_cast<CallId>(id));
  }
  return Fail(Cat({"unknown line: ", word}));
}

bool Reader::FinishRecord() {
  if (open_ == nullptr) return true;
  size_t here = line_;
  line_ = openLine_;
  bool ok = true;
  if (open_->kind == RecordKind::kSettings) {
    if (recordSettings_ != kAllSettings) ok = Fail("a settings record without every setting");
  } else if (!hasCode_) {
    ok = Fail("a record without its code line");
  } else if (!hasReturned_) {
    ok = Fail("a record without its returned line");
  }
  line_ = here;
  open_ = nullptr;
  return ok;
}

bool Reader::Read() {
  size_t start = 0;
  while (start < text_.size() || part_ == Part::kFirstLine) {
    if (start >= text_.size()) {
      line_ = 1;
      return Fail("empty file");
    }
    size_t end = text_.find('\n', start);
    if (end == std::string::npos) end = text_.size();
    std::string_view line(text_.data() + start, end - start);
    start = end + 1;
    ++line_;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.find('\0') != std::string_view::npos) return Fail("a NUL byte");
    if (!Tokenize(line)) return false;
    if (tokens_.empty()) continue;
    std::string_view word = tokens_[0].quoted ? std::string_view() : tokens_[0].text;

    if (part_ == Part::kFirstLine) {
      if (word != kMagic) return Fail("not a tavik recording");
      uint64_t version = 0;
      if (!Want(2, "format version") || !Number(1, "format version", 0, 1000, version)) return false;
      if (version != kFormatVersion) return Fail(Cat({"format version ", std::to_string(version), " is not known"}));
      part_ = Part::kHeader;
      continue;
    }
    if (part_ == Part::kTrailer) return Fail(Cat({"unexpected ", tokens_[0].text, " after the trailer"}));

    RecordKind kind{};
    bool starts = true;
    if (word == "keystroke") {
      kind = RecordKind::kKeystroke;
    } else if (word == "message") {
      kind = RecordKind::kMessage;
    } else if (word == "settings") {
      kind = RecordKind::kSettings;
    } else {
      starts = false;
    }
    if (starts || word == "stopped") {
      if (part_ == Part::kHeader && headerSettings_ != kAllSettings) return Fail("a header without every setting");
      if (!FinishRecord()) return false;
    }
    if (starts) {
      part_ = Part::kRecords;
      if (!RecordStart(kind)) return false;
    } else if (word == "stopped") {
      part_ = Part::kTrailer;
      recording_.hasTrailer = true;
      if (!Want(5, "lost and passed-on counts") || !Keyword(1, "lost") ||
          !Field(2, "lost count", recording_.trailer.lost) || !Keyword(3, "passed-on") ||
          !Field(4, "passed-on count", recording_.trailer.passedOn)) {
        return false;
      }
    } else if (part_ == Part::kHeader) {
      if (!HeaderLine(line)) return false;
    } else if (!RecordLine(line)) {
      return false;
    }
  }
  if (part_ == Part::kHeader && headerSettings_ != kAllSettings) return Fail("a header without every setting");
  return FinishRecord();
}

}  // namespace

bool ReadRecording(const std::string& text, Recording& recording, std::string& error) {
  recording = Recording{};
  error.clear();
  return Reader(text, recording, error).Read();
}

}  // namespace tavik
