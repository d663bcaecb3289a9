#include "sim/recording_scenario.h"

#include <cstring>
#include <deque>
#include <map>
#include <optional>

#include "hook/keys.h"
#include "hook/shared_block.h"
#include "sim/print.h"

namespace tavik::sim {

namespace {

std::string_view Bytes(const std::vector<uint8_t>& b) { return {reinterpret_cast<const char*>(b.data()), b.size()}; }

uint32_t Arg32(const RecordedCall& c, size_t i) { return i < c.args.size() ? static_cast<uint32_t>(c.args[i]) : 0; }

// A keystroke as scenarios name it, "down:0xVV/0xSSS".
struct Keystroke {
  uint32_t vk;
  uint32_t scanKey;
  bool up;
  std::string Event() const { return Cat({up ? "up:" : "down:", KeyText(vk, scanKey)}); }
};

Keystroke Typed(const Record& r) {
  return {static_cast<uint32_t>(r.wParam & 0xFF), ScanKeyOf(static_cast<intptr_t>(r.lParam)),
          (static_cast<uint64_t>(r.lParam) & 0x80000000u) != 0};
}

// What one keystroke or message came to: the keys the application got from
// it, and what the IME was told, in order.
struct Fate {
  std::vector<std::string> delivered;
  std::vector<std::string> told;
  std::vector<const Record*> sentKeys;  // the records of the keys sent, as they came back
};

// What a record's own calls show: the IME told, the keys sent.
void OwnFate(const Record& r, Fate& fate, std::deque<Keystroke>& sent) {
  if (r.kind == RecordKind::kKeystroke && r.code == w32::HC_ACTION && r.returned == 0) {
    fate.delivered.push_back(Typed(r).Event());
  }
  for (const RecordedCall& c : r.calls) {
    if (c.id == CallId::ImmNotifyIME && Arg32(c, 1) == w32::NI_COMPOSITIONSTR) {
      uint32_t index = Arg32(c, 2);
      const char* word = index == w32::CPS_COMPLETE ? "complete"
                         : index == w32::CPS_REVERT ? "revert"
                         : index == w32::CPS_CANCEL ? "cancel"
                                                    : nullptr;
      if (word != nullptr) fate.told.push_back(word);
    } else if (c.id == CallId::ImmConfigureIMEA) {
      fate.told.push_back("configure");
    } else if (c.id == CallId::keybd_event) {
      uint32_t flags = Arg32(c, 2);
      sent.push_back({Arg32(c, 0) & 0xFF,
                      (Arg32(c, 1) & 0xFF) | ((flags & w32::KEYEVENTF_EXTENDEDKEY) != 0 ? 0x100u : 0u),
                      (flags & w32::KEYEVENTF_KEYUP) != 0});
    }
  }
}

// The step's whole fate on the simulated desktop, which takes the keys the
// library sends through the hook again within the same step, in the order
// sent: each one's own later record (the first with that keystroke while it
// was still out) says what became of it; one never recorded is taken as
// passed on.
Fate StepFate(const Recording& recording, size_t index) {
  Fate fate;
  std::deque<Keystroke> sent;
  OwnFate(recording.records[index], fate, sent);
  size_t after = index;
  for (int n = 0; !sent.empty() && n < 64; ++n) {
    Keystroke k = sent.front();
    sent.pop_front();
    uint32_t packed = SendsInFlight::Packed(k.vk, k.scanKey, k.up);
    std::optional<size_t> found;
    for (size_t j = after + 1; j < recording.records.size() && !found; ++j) {
      const Record& r = recording.records[j];
      Keystroke t = Typed(r);
      bool out = false;
      for (uint32_t key : r.inFlight) out = out || key == packed;
      if (r.kind == RecordKind::kKeystroke && out && t.vk == k.vk && t.scanKey == k.scanKey && t.up == k.up) found = j;
    }
    if (!found) {
      fate.delivered.push_back(k.Event());
      continue;
    }
    after = *found;
    fate.sentKeys.push_back(&recording.records[*found]);
    OwnFate(recording.records[*found], fate, sent);
  }
  return fate;
}

std::string Joined(const std::vector<std::string>& words) {
  if (words.empty()) return "none";
  std::string out;
  for (const std::string& w : words) out += Cat({out.empty() ? "" : " ", w});
  return out;
}

// The desktop as the record's calls found it, in scenario commands, and the
// calls of the records of the keys it sent, which the simulated desktop
// takes through the hook within the same step, on the same desktop. The
// first answer to each question is the state before the keystroke: later
// ones may follow what the library itself changed.
class Staging {
 public:
  Staging(const Record& r, const std::vector<const Record*>& sentKeys) : r_(r), calls_(r.calls) {
    for (const Record* record : sentKeys) calls_.insert(calls_.end(), record->calls.begin(), record->calls.end());
  }

  std::vector<std::string> Lines() {
    std::optional<std::string> composition;
    std::optional<std::string> attributes;
    std::optional<int64_t> compositionLength;
    std::map<uint32_t, std::vector<std::string>> async;
    std::map<uint32_t, int64_t> keyState;
    for (const RecordedCall& c : calls_) {
      switch (c.id) {
        case CallId::GetFocus:
          if (First(c) && c.result == 0) Add("focus none");
          break;
        case CallId::ImmGetContext:
          if (First(c) && c.result == 0) Add("window editor no-ime");
          break;
        case CallId::ImmGetOpenStatus:
          if (First(c) && c.result != 0) Add("ime open");
          break;
        case CallId::ImmGetConversionStatus:
          if (!First(c)) break;
          if (c.result == 0) {
            Fail(c);
          } else if (c.out.size() >= 8) {
            uint32_t words[2];
            std::memcpy(words, c.out.data(), 8);
            Add(Cat({"ime mode ", Hex(words[0]), words[1] != 0 ? Cat({" sentence ", Hex(words[1])}) : ""}));
          }
          break;
        case CallId::ImmGetCompositionStringA: {
          uint32_t index = Arg32(c, 1);
          bool query = Arg32(c, 2) == 0;
          if (c.result < 0) {
            if (!failing_.count(c.id)) Add(Cat({"fail ImmGetCompositionStringA ", Signed(c.result)}));
            failing_.insert({c.id, true});
          } else if (index == w32::GCS_COMPSTR && query) {
            if (!compositionLength) compositionLength = c.result;
          } else if (index == w32::GCS_COMPSTR) {
            if (!composition) composition = std::string(Bytes(c.out));
          } else if (index == w32::GCS_COMPATTR && !query) {
            if (!attributes) attributes = std::string(Bytes(c.out));
          }
          break;
        }
        case CallId::ImmGetCandidateListA:
          if (Arg32(c, 2) == 0 && First(c)) {
            candidateSize_ = c.result;
          } else if (c.out.size() >= 12 && !candidateCount_) {
            uint32_t count;
            std::memcpy(&count, c.out.data() + 8, 4);
            candidateCount_ = count;
          }
          break;
        case CallId::ImmGetIMEFileNameA:
          if (First(c)) Add(c.result == 0 ? "ime-file none" : Cat({"ime-file ", Quoted(Bytes(c.out))}));
          break;
        case CallId::GetModuleFileNameA:
          if (First(c)) Add(c.result == 0 ? "host none" : Cat({"host ", Quoted(Bytes(c.out))}));
          break;
        case CallId::GetKeyState:
          if (!keyState.count(Arg32(c, 0))) keyState[Arg32(c, 0)] = c.result;
          break;
        case CallId::GetAsyncKeyState:
          async[Arg32(c, 0) & 0xFF].push_back(Hex(static_cast<uint16_t>(c.result)));
          break;
        case CallId::clock:
          if (First(c)) {
            // The conversion keys measure the time since the process's
            // armedTime, which no scenario sets (it starts at 0): the same
            // time passed is the clock that much earlier.
            if (r_.armedTime != 0) {
              Note(Cat({"the process's armedTime was ", std::to_string(r_.armedTime), " and clock() ",
                        std::to_string(c.result), ": staged as the same time since, from 0"}));
            }
            Add(Cat({"clock ", std::to_string(static_cast<int32_t>(c.result - r_.armedTime))}));
          }
          break;
        case CallId::CallNextHookEx:
          if (First(c) && c.result != 0) Add(Cat({"next-hook-result ", Signed(c.result)}));
          break;
        case CallId::GetKeyboardLayout:
        case CallId::ImmSetOpenStatus:
        case CallId::ImmSetConversionStatus:
        case CallId::ImmNotifyIME:
        case CallId::ImmConfigureIMEA:
        case CallId::GlobalAlloc:
        case CallId::GlobalLock:
          if (c.result == 0) Fail(c);
          break;
        case CallId::SendInput:
          if (First(c)) {
            Note(
                "the keystroke was sent again behind the library's own keystrokes still out (SendInput), which "
                "no scenario can stage");
            typedOrder_ = true;
          }
          break;
        default:
          break;
      }
    }
    if (composition) {
      Add(Cat({"ime composition ", HexBytes(*composition)}));
    } else if (compositionLength && *compositionLength > 0) {
      Note(Cat({"only the composition's length (", std::to_string(*compositionLength), ") was read, not its text"}));
    }
    if (attributes && !attributes->empty()) {
      if (!composition) Note("the composition's text was not read: only its attributes are staged");
      Add(Cat({"ime attributes ", HexBytes(*attributes)}));
    }
    if (candidateSize_ && *candidateSize_ != 0) {
      uint32_t count = candidateCount_.value_or(0);
      int64_t trueSize = 24 + 6 * static_cast<int64_t>(count);
      Add(Cat({"ime candidates ", std::to_string(count),
               *candidateSize_ != trueSize ? Cat({" size ", Signed(static_cast<int32_t>(*candidateSize_))}) : ""}));
    }
    for (const auto& [vk, value] : keyState) {
      Add(Cat({"keystate ", KeyText(vk & 0xFF, 0), " ", Hex(static_cast<uint16_t>(value))}));
    }
    for (const auto& [vk, values] : async) {
      Add(Cat({"async ", KeyText(vk, 0), " ", Joined(values)}));
    }
    if (!r_.inFlight.empty()) {
      Note(Cat({"the library's own keystrokes still out (", std::to_string(r_.inFlight.size()),
                ") are not staged: no scenario command stages them"}));
    }
    if (r_.truncated) Note("the record is truncated: only the first calls' answers are staged");
    return lines_;
  }

  bool typedOrder() const { return typedOrder_; }

 private:
  // The first call of its name in the record.
  bool First(const RecordedCall& c) { return seen_.insert({c.id, true}).second; }
  void Add(std::string line) { lines_.push_back(std::move(line)); }
  void Note(const std::string& what) { lines_.push_back(Cat({"# ", what})); }
  void Fail(const RecordedCall& c) {
    if (failing_.insert({c.id, true}).second) Add(Cat({"fail ", kCallNames[static_cast<size_t>(c.id)]}));
  }

  const Record& r_;
  std::vector<RecordedCall> calls_;
  std::vector<std::string> lines_;
  std::map<CallId, bool> seen_;
  std::map<CallId, bool> failing_;
  std::optional<int64_t> candidateSize_;
  std::optional<uint32_t> candidateCount_;
  bool typedOrder_ = false;
};

// Titles run to the end of the line, where '#' would start a comment.
std::string TitleSafe(const std::string& s) {
  std::string out;
  for (char c : s) out += c == '#' || c == '\n' || c == '\r' ? '?' : c;
  return out;
}

}  // namespace

std::string RecordingScenario(const Recording& recording, const std::string& file, const std::vector<size_t>& lines) {
  std::string out = Cat(
      {"# The keystrokes recorded in ", TitleSafe(file), " (tavik ", TitleSafe(recording.header.tavikVersion),
       ", Windows ", TitleSafe(recording.header.windowsVersion), "), made into scenarios by tavik-sim --scenario.\n",
       "# Each is a fresh desktop staged as the library's calls found Windows before the keystroke,\n",
       "# the keystroke as the hook got it, and what the application got from it.\n"});
  const int32_t* flags = recording.header.settings;
  int number = 0;
  for (size_t i = 0; i < recording.records.size(); ++i) {
    const Record& r = recording.records[i];
    if (r.kind == RecordKind::kSettings) {
      flags = r.settings;
      continue;
    }
    ++number;
    std::string what = r.kind == RecordKind::kMessage
                           ? Cat({"message ", Hex(r.message)})
                           : Cat({Typed(r).up ? "up " : "down ", KeyText(Typed(r).vk, Typed(r).scanKey)});
    out += Cat({"\nscenario ", r.kind == RecordKind::kMessage ? "message " : "keystroke ", std::to_string(number),
                " (line ", std::to_string(i < lines.size() ? lines[i] : 0), ", ", TitleSafe(r.process), ", ", what,
                ")\n"});
    for (int s = 0; s < kSettingCount; ++s) {
      if (flags[s] != SettingFlagFromText(kSettingKeys[s].defaultValue)) {
        out += Cat({"setting ", kSettingKeys[s].name, "=", std::to_string(flags[s]), "\n"});
      }
    }
    out += "hookstart\n";
    for (int w = 0; w < kRecordedWordCount; ++w) {
      if (r.wordsBefore[w] != 0)
        out += Cat({"set ", kRuntimeWords[w].name, " ", std::to_string(r.wordsBefore[w]), "\n"});
    }
    Fate fate = StepFate(recording, i);
    Staging staging(r, fate.sentKeys);
    for (const std::string& line : staging.Lines()) out += line + "\n";
    if (r.kind == RecordKind::kMessage) {
      out += Cat({"message ", Hex(r.message), r.wParam == w32::PM_REMOVE ? "" : " peek",
                  r.code != 0 ? Cat({" code=", Signed(r.code)}) : "", "\n"});
    } else {
      out += Cat({"hook ", Signed(r.code), " ", Hex(r.wParam), " ", Hex(static_cast<uint32_t>(r.lParam)), "\n"});
    }
    if (staging.typedOrder()) {
      out += "# what it came to depends on the keystrokes still out: not checked here\n";
      continue;
    }
    out += Cat({"expect result ", Signed(r.returned), "\n"});
    if (r.truncated) continue;
    out += Cat({"expect delivered ", Joined(fate.delivered), "\n"});
    out += Cat({"expect ime told ", Joined(fate.told), "\n"});
    if (r.kind == RecordKind::kKeystroke && r.code != w32::HC_ACTION && !Typed(r).up) {
      // The desktop holds a key as typed only once it is taken from the
      // queue, and checks every synthetic key-down for its key-up while none
      // is: the peeked keystroke is taken next, as it was.
      out += "# the keystroke peeked at is then taken from the queue\n";
      out += Cat({"hook 0 ", Hex(r.wParam), " ", Hex(static_cast<uint32_t>(r.lParam)), "\n"});
    }
  }
  return out;
}

}  // namespace tavik::sim
