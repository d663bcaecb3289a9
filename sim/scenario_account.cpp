#include "sim/scenario_account.h"

#include <initializer_list>
#include <string_view>
#include <utility>

#include "hook/platform.h"
#include "sim/keys.h"
#include "sim/overloaded.h"
#include "sim/print.h"

namespace tavik::sim {

namespace {

struct Stroke {
  KeyId key;
  bool up;
};

// "[at]" for a key pressed and released, "[henkan down]" for half of one.
std::string StrokesText(const std::vector<Stroke>& strokes) {
  std::string out;
  for (size_t i = 0; i < strokes.size(); ++i) {
    const Stroke& s = strokes[i];
    std::string name = KeyName(s.key);
    bool tap = !s.up && i + 1 < strokes.size() && strokes[i + 1].up && strokes[i + 1].key.vk == s.key.vk &&
               strokes[i + 1].key.scanKey == s.key.scanKey;
    if (tap) ++i;
    out += Cat({out.empty() ? "[" : " [", name, tap ? "" : s.up ? " up" : " down", "]"});
  }
  return out;
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& p : parts) out += Cat({out.empty() ? "" : ", ", p});
  return out;
}

const std::string* TextArgument(const PlatformCall& c, size_t i) {
  const auto* t = i < c.arguments.size() ? std::get_if<Text>(&c.arguments[i]) : nullptr;
  return t != nullptr && t->bytes ? &*t->bytes : nullptr;
}

uint64_t NumberArgument(const PlatformCall& c, size_t i) {
  const auto* n = i < c.arguments.size() ? std::get_if<Number>(&c.arguments[i]) : nullptr;
  return n != nullptr ? n->value : 0;
}

bool Succeeded(const PlatformCall& c) {
  if (!c.result) return true;
  if (const auto* n = std::get_if<Number>(&*c.result)) return n->value != 0;
  if (const auto* n = std::get_if<Named>(&*c.result)) return n->name != "NULL";
  return true;
}

// What the calls the hooks made mean to someone watching the desktop: the
// settings they read that differ from the defaults, the hooks installed and
// removed, and the IME switched on, off or to another mode.
void ReadCall(const PlatformCall& c, std::vector<std::string>& settings, bool& readSettings,
              std::vector<std::string>& hooks, std::vector<std::string>& ime) {
  if (c.function == "GetPrivateProfileStringA") {
    readSettings = true;
    const std::string* key = TextArgument(c, 1);
    const std::string* fallback = TextArgument(c, 2);
    const auto* got = c.output ? std::get_if<Text>(&*c.output) : nullptr;
    if (key != nullptr && got != nullptr && got->bytes && (fallback == nullptr || *got->bytes != *fallback)) {
      settings.push_back(Cat({*key, "=", *got->bytes}));
    }
  } else if (c.function == "SetWindowsHookExA" && Succeeded(c)) {
    uint64_t type = NumberArgument(c, 0);
    hooks.push_back(type == static_cast<uint64_t>(w32::WH_KEYBOARD)      ? "keyboard hook installed"
                    : type == static_cast<uint64_t>(w32::WH_GETMESSAGE) ? "message hook installed"
                                                                         : Cat({"hook ", Hex(type), " installed"}));
  } else if (c.function == "UnhookWindowsHookEx" && Succeeded(c)) {
    hooks.push_back("a hook removed");
  } else if (c.function == "ImmSetOpenStatus" && Succeeded(c)) {
    ime.push_back(NumberArgument(c, 1) != 0 ? "opened" : "closed");
  } else if (c.function == "ImmSetConversionStatus" && Succeeded(c)) {
    ime.push_back(Cat({"set to ", ModeText(static_cast<uint32_t>(NumberArgument(c, 1)))}));
  }
}

// The IME's messages by name; others by number.
std::string MessageText(uint32_t message) {
  switch (message) {
    case w32::WM_IME_STARTCOMPOSITION:
      return "WM_IME_STARTCOMPOSITION";
    case w32::WM_IME_ENDCOMPOSITION:
      return "WM_IME_ENDCOMPOSITION";
    case w32::WM_IME_COMPOSITION:
      return "WM_IME_COMPOSITION";
    default:
      return Cat({"message ", Hex(message)});
  }
}

std::string ToldText(const ImeTold& t) {
  if (t.kind == ImeTold::Kind::kConfigure) return "told to show its settings";
  switch (t.index) {
    case w32::CPS_COMPLETE:
      return "told to commit";
    case w32::CPS_REVERT:
      return "told to undo the conversion";
    case w32::CPS_CANCEL:
      return "told to cancel the composition";
    default:
      return Cat({"told ", Word(t)});
  }
}

}  // namespace

std::string ModeText(uint32_t conversion) {
  const char* width = (conversion & w32::IME_CMODE_FULLSHAPE) != 0 ? "full-width " : "half-width ";
  if ((conversion & w32::IME_CMODE_NATIVE) == 0) return Cat({width, "alphanumeric"});
  // Hiragana has no half-width form: only katakana says its width.
  bool katakana = (conversion & w32::IME_CMODE_KATAKANA) != 0;
  return Cat({katakana ? width : "", katakana ? "katakana" : "hiragana",
              (conversion & w32::IME_CMODE_ROMAN) != 0 ? ", romaji input" : ", kana input"});
}

std::vector<std::string> AccountLines(const std::vector<DesktopEvent>& events, size_t first, const std::string& ime) {
  std::vector<Stroke> typed;
  std::vector<std::string> messages;
  // Each application's keys, in the order the applications first got one.
  std::vector<std::pair<std::string, std::vector<Stroke>>> received;
  std::vector<std::string> settings;
  bool readSettings = false;
  std::vector<std::string> hooks;
  std::vector<std::string> imeDid;
  for (size_t i = first; i < events.size(); ++i) {
    std::visit(Overloaded{
                   [&](const KeyInput& k) {
                     if (!k.synthetic) typed.push_back({{k.vk, k.scanKey}, k.up});
                   },
                   [&](const MessageInput& m) { messages.push_back(MessageText(m.message)); },
                   [&](const Delivery& d) {
                     std::string window = d.window.value_or("");
                     size_t at = 0;
                     while (at < received.size() && received[at].first != window) ++at;
                     if (at == received.size()) received.push_back({window, {}});
                     received[at].second.push_back({{d.vk, d.scanKey}, d.up});
                   },
                   [&](const ImeCommitted& c) { imeDid.push_back(Cat({"committed ", Readable(c.text)})); },
                   [&](const ImeConverted& c) {
                     imeDid.push_back(Cat({"converted ", Readable(c.reading), " to ", Readable(c.converted)}));
                   },
                   [&](const ImeTold& t) {
                     // A commit says what it committed: the telling adds nothing.
                     if (t.kind != ImeTold::Kind::kComposition || t.index != w32::CPS_COMPLETE) {
                       imeDid.push_back(ToldText(t));
                     }
                   },
                   [&](const PlatformCall& c) { ReadCall(c, settings, readSettings, hooks, imeDid); },
                   [](const auto&) {},
               },
               events[i]);
  }

  std::vector<std::string> lines;
  if (readSettings) {
    lines.push_back(Cat({"  settings: ", settings.empty() ? "all at their defaults" : Joined(settings)}));
  }
  if (!hooks.empty()) lines.push_back(Cat({"  ", Joined(hooks)}));
  if (!typed.empty()) {
    lines.push_back(Cat({"  typed ", StrokesText(typed), ime.empty() ? "" : "  (", ime, ime.empty() ? "" : ")"}));
  }
  if (!messages.empty()) lines.push_back(Cat({"  the application's thread took ", Joined(messages)}));
  for (const auto& [window, strokes] : received) {
    lines.push_back(Cat({"  ", window.empty() ? "no window had the focus for" : window, window.empty() ? "" : " received",
                         " ", StrokesText(strokes)}));
  }
  if (!typed.empty() && received.empty()) lines.push_back("  no application received a key");
  if (!imeDid.empty()) lines.push_back(Cat({"  IME ", Joined(imeDid)}));
  return lines;
}

}  // namespace tavik::sim
