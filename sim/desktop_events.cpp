#include "sim/desktop_events.h"

#include <initializer_list>
#include <string_view>

#include "hook/platform.h"
#include "sim/cp932.h"
#include "sim/editor_text.h"
#include "sim/overloaded.h"
#include "sim/print.h"

namespace tavik::sim {

namespace {

std::string InProcess(const std::string& process) { return process.empty() ? "" : Cat({" in ", process}); }

std::string Direction(bool up) { return up ? "up " : "down "; }

bool BeyondAscii(std::string_view bytes) {
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  }
  return false;
}

// A call's bytes that make text, such as a composition string: that text
// beside them, so the trace need not be read with a code table at hand.
std::string TextOfBytes(const std::optional<Value>& output) {
  const auto* b = output ? std::get_if<Bytes>(&*output) : nullptr;
  if (b == nullptr || !BeyondAscii(b->bytes)) return "";
  for (const std::string& c : Cp932Characters(b->bytes)) {
    if (static_cast<unsigned char>(c[0]) < 0x20 || !Cp932ToUtf8(c)) return "";
  }
  return Cat({"  ", Readable(b->bytes)});
}

}  // namespace

std::string Readable(const std::string& cp932) {
  std::string out = "\"";
  for (const std::string& c : Cp932Characters(cp932)) {
    std::optional<std::string> decoded = BeyondAscii(c) ? Cp932ToUtf8(c) : std::nullopt;
    if (decoded) {
      out += *decoded;
    } else {
      std::string quoted = Quoted(c);  // ASCII, or bytes that make no character
      out += quoted.substr(1, quoted.size() - 2);
    }
  }
  return out += '"';
}

std::string ReadableWithBytes(const std::string& cp932) {
  return BeyondAscii(cp932) ? Cat({Readable(cp932), " [", HexBytes(cp932), "]"}) : Readable(cp932);
}

std::string Format(const Value& value) {
  return std::visit(Overloaded{
                        [](const Number& n) { return Hex(n.value); },
                        [](const SignedNumber& n) { return Signed(n.value); },
                        [](const Named& n) { return n.name; },
                        [](const Text& t) { return t.bytes ? Quoted(*t.bytes) : std::string("NULL"); },
                        [](const Bytes& b) { return Cat({"[", HexBytes(b.bytes, ""), "]"}); },
                        [](const Numbers& n) {
                          std::string out;
                          for (uint64_t v : n.values) out += Cat({out.empty() ? "" : ", ", Hex(v)});
                          return Cat({"[", out, "]"});
                        },
                    },
                    value);
}

std::string Format(const PlatformCall& call) {
  std::string out = Cat({call.function, "("});
  for (size_t i = 0; i < call.arguments.size(); ++i) out += Cat({i == 0 ? "" : ", ", Format(call.arguments[i])});
  out += ")";
  if (call.result) out += Cat({" = ", Format(*call.result)});
  if (call.output) out += Cat({" ", Format(*call.output)});
  return out += call.note;
}

std::optional<std::string> TraceLine(const DesktopEvent& event) {
  return std::visit(
      Overloaded{
          [](const KeyInput& k) -> std::optional<std::string> {
            return Cat({k.synthetic ? "synthetic " : "key ", Direction(k.up), KeyText(k.vk, k.scanKey), " code ",
                        Signed(k.code), " lParam ", Hex(k.lParam), InProcess(k.process)});
          },
          [](const MessageInput& m) -> std::optional<std::string> {
            return Cat({"message ", Hex(m.message), " code ", std::to_string(m.code), m.removed ? " removed" : " peeked",
                        InProcess(m.process)});
          },
          [](const KeyFate& f) -> std::optional<std::string> {
            switch (f.kind) {
              case KeyFate::Kind::kDiscarded:
                return Cat({"  -> discarded (", Signed(f.result), ")"});
              case KeyFate::Kind::kLeftInQueue:
                return "  -> passed, left in the queue";
              case KeyFate::Kind::kPassed:
                break;
            }
            return "  -> passed";
          },
          [](const Delivery& d) -> std::optional<std::string> {
            return Cat({"  app ", d.window.value_or("(no focus)"), " <- ", Direction(d.up), KeyText(d.vk, d.scanKey)});
          },
          [](const ImeCommitted& c) -> std::optional<std::string> { return Cat({"  commit ", ReadableWithBytes(c.text)}); },
          [](const ImeConverted& c) -> std::optional<std::string> {
            return Cat({"  convert ", ReadableWithBytes(c.reading), " to ", ReadableWithBytes(c.converted)});
          },
          [](const ImeSent& s) -> std::optional<std::string> {
            return Cat({"  app ", s.window, " <- message ", Hex(s.message), " lParam ",
                        Hex(static_cast<uint64_t>(s.lParam)), " (sent)"});
          },
          [](const PlatformCall& c) -> std::optional<std::string> {
            return Cat({"  ", Format(c), TextOfBytes(c.output)});
          },
          [](const ImeTold&) -> std::optional<std::string> { return std::nullopt; },
          [](const Remark& r) -> std::optional<std::string> { return r.text; },
      },
      event);
}

std::string Word(const ImeTold& told) {
  if (told.kind == ImeTold::Kind::kConfigure) return "configure";
  switch (told.index) {
    case w32::CPS_COMPLETE:
      return "complete";
    case w32::CPS_REVERT:
      return "revert";
    case w32::CPS_CANCEL:
      return "cancel";
    default:
      return Cat({"cps:", std::to_string(told.index)});
  }
}

}  // namespace tavik::sim
