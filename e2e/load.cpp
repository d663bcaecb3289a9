#include "e2e/load.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <iterator>
#include <map>
#include <random>

#include "common/settings.h"
#include "hook/shared_block.h"
#include "hook/stages.h"
#include "sim/keys.h"
#include "sim/library_hooks.h"
#include "sim/print.h"

namespace tavik::e2e {

namespace {

using sim::KeyId;
using sim::ReceivedKey;

KeyId Key(const char* name) { return *sim::LookUpKey(name); }

std::string Bytes(std::initializer_list<uint8_t> bytes) { return std::string(bytes.begin(), bytes.end()); }

// Compositions of each kind the stages tell apart, as an IME would hold them
// after some typing: unconverted hiragana, one converted clause, two clauses
// with the target first or last, a full-width number, katakana that a
// voicing mark could change and that it could not, half-width katakana with
// its mark, a romaji letter still waiting for its vowel, a symbol; and none.
struct Staged {
  std::string composition;
  std::string attributes;
};
const Staged kCompositions[] = {
    {Bytes({0x82, 0xA9, 0x82, 0xC8}), Bytes({0, 0, 0, 0})},                                    // かな
    {Bytes({0x95, 0xCF, 0x8A, 0xB7}), Bytes({1, 1, 1, 1})},                                    // 変換
    {Bytes({0x95, 0xCF, 0x8A, 0xB7, 0x82, 0xA9, 0x82, 0xC8}), Bytes({1, 1, 1, 1, 2, 2, 2, 2})},  // 変換|かな
    {Bytes({0x95, 0xCF, 0x8A, 0xB7, 0x82, 0xA9, 0x82, 0xC8}), Bytes({2, 2, 2, 2, 1, 1, 1, 1})},
    {Bytes({0x82, 0x50, 0x82, 0x51, 0x82, 0x52}), Bytes({0, 0, 0, 0, 0, 0})},  // １２３
    {Bytes({0x83, 0x4A}), Bytes({0, 0})},                                      // カ
    {Bytes({0x83, 0x41}), Bytes({0, 0})},                                      // ア
    {Bytes({0xB6, 0xDE}), Bytes({0, 0})},                                      // ｶﾞ
    {Bytes({0x6B}), Bytes({0})},                                               // k
    {Bytes({0x81, 0x41}), Bytes({0, 0})},                                      // 、
    {"", ""},
};

// Every mode keeps romaji input on. In kana input direct commit input holds
// katakana back for the conversion keys, whose second press counts only
// within 100 ms of the process clock: a matter of how fast the target
// drains a burst, which the simulated desktop, whose clock stands still,
// cannot follow.
constexpr uint32_t kModes[] = {0x19, 0x19, 0x19, 0x1B, 0x18, 0x10, 0x13};

// The romaji a typist types, vowels most.
constexpr const char kLetters[] = "aaaiiiuuueeooonnkkssttmmhhrryywgzdbpc";

bool IsLetter(const KeyId& k) { return k.vk >= 'A' && k.vk <= 'Z'; }

class StreamWriter {
 public:
  explicit StreamWriter(uint32_t seed) : rng_(seed) {}

  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(rng_() % n); }
  bool Chance(uint32_t percent) { return Below(100) < percent; }

  LoadArrangement Arrangement(bool first) {
    LoadArrangement a;
    // The run starts open in kLoadStartMode; later the keys may have closed
    // the IME or changed its mode.
    a.reopen = !first && Chance(35);
    a.mode = kModes[Below(std::size(kModes))];
    a.stage = Chance(85);
    if (a.stage) {
      const Staged& s = kCompositions[Below(std::size(kCompositions))];
      a.composition = s.composition;
      a.attributes = s.attributes;
      uint32_t list = Below(10);
      a.candidates = list < 7 ? -1 : list < 8 ? 0 : static_cast<int32_t>(1 + Below(4));
    }
    return a;
  }

  // What ends the composition a burst starts with: a conversion perhaps,
  // then one of the keys that commit, cancel, close or pass it by.
  void Finish(std::vector<KeyId>& out) {
    static const char* const kKeys[] = {"space", "space", "enter", "enter", "at",   "at",      "left",
                                        "right", "up",    "down",  "home",  "end",  "bs",      "del",
                                        "esc",   "tab",   "pgdn",  "eiji",  "eisu", "hankaku", "hiragana",
                                        "comma", "minus", "k",     "a",     "1"};
    if (Chance(40)) out.push_back(Key("henkan"));
    out.push_back(Key(kKeys[Below(std::size(kKeys))]));
  }

  // A word in romaji and what ends it, or an editing key, or an IME key:
  // one or more presses. No Shift, Ctrl or Alt: the simulated desktop's
  // GetAsyncKeyState sees a modifier only as `hold` arranges it, and Wine
  // answers the target from a copy up to 50 ms old. No kana key: pressing it
  // changes GetKeyState(VK_KANA), which direct commit input reads and which
  // the simulated desktop leaves to `keystate`.
  void Presses(std::vector<KeyId>& out) {
    auto add = [&](const char* name, uint32_t times = 1) {
      for (uint32_t i = 0; i < times; ++i) out.push_back(Key(name));
    };
    if (Chance(70)) {
      for (uint32_t n = 1 + Below(7); n > 0; --n) {
        char letter[2] = {kLetters[Below(sizeof kLetters - 1)], '\0'};
        add(letter);
      }
      uint32_t end = Below(100);
      if (end < 30) {
        add("henkan", Chance(20) ? 2 : 1);  // the second press: the next candidate
        uint32_t then = Below(100);
        add(then < 35 ? "space" : then < 60 ? "enter" : then < 70 ? "at" : then < 80 ? "right" : "bs");
      } else if (end < 50) {
        add("space");
      } else if (end < 60) {
        add("enter");
      } else if (end < 70) {
        add(Chance(60) ? "comma" : "minus");
      } else if (end < 75) {
        add("at");
      }
      return;
    }
    static const char* const kArrows[] = {"left", "right", "up", "down"};
    static const char* const kImeKeys[] = {"hankaku", "zenkaku", "muhenkan", "hiragana", "eiji", "eisu"};
    uint32_t what = Below(100);
    if (what < 22) {
      add("bs", 1 + Below(3));
    } else if (what < 44) {
      for (uint32_t n = 1 + Below(4); n > 0; --n) add(kArrows[Below(4)]);
    } else if (what < 49) {
      add(Chance(50) ? "home" : "end");
    } else if (what < 64) {
      add("at");
    } else if (what < 67) {
      add("esc");
    } else if (what < 71) {
      add("del");
    } else if (what < 73) {
      add("tab");
    } else if (what < 81) {
      for (uint32_t n = 1 + Below(4); n > 0; --n) {
        char digit[2] = {static_cast<char>('0' + Below(10)), '\0'};
        add(digit);
      }
    } else if (what < 83) {
      add(Chance(50) ? "pgup" : "pgdn");
    } else {
      add(kImeKeys[Below(std::size(kImeKeys))]);
    }
  }

 private:
  std::mt19937 rng_;  // its sequence is fixed by the standard: the same stream everywhere
};

// Myers' difference of two sequences, O((N+M)D) for D differences: the
// positions in `a` and in `b` that a longest common subsequence leaves out.
// False when there are more than maxD.
bool Differences(const std::vector<ReceivedKey>& a, const std::vector<ReceivedKey>& b, int maxD,
                 std::vector<size_t>& onlyA, std::vector<size_t>& onlyB) {
  const int n = static_cast<int>(a.size());
  const int m = static_cast<int>(b.size());
  const int offset = maxD + 1;
  // v[offset + k]: the furthest x reached on diagonal k (x - y = k).
  std::vector<int> v(2 * static_cast<size_t>(maxD) + 3, 0);
  std::vector<std::vector<int>> trace;
  auto fromAbove = [&](const std::vector<int>& w, int k, int d) {
    return k == -d || (k != d && w[offset + k - 1] < w[offset + k + 1]);
  };
  for (int d = 0; d <= maxD; ++d) {
    trace.push_back(v);
    for (int k = -d; k <= d; k += 2) {
      int x = fromAbove(v, k, d) ? v[offset + k + 1] : v[offset + k - 1] + 1;
      int y = x - k;
      while (x < n && y < m && a[static_cast<size_t>(x)] == b[static_cast<size_t>(y)]) {
        ++x;
        ++y;
      }
      v[offset + k] = x;
      if (x < n || y < m) continue;
      // Back from the end, one difference per round.
      for (int e = d; e > 0; --e) {
        const std::vector<int>& w = trace[static_cast<size_t>(e)];
        int back = x - y;
        int prevK = fromAbove(w, back, e) ? back + 1 : back - 1;
        int prevX = w[offset + prevK];
        int prevY = prevX - prevK;
        while (x > prevX && y > prevY) {
          --x;
          --y;
        }
        if (x == prevX) {
          onlyB.push_back(static_cast<size_t>(prevY));
        } else {
          onlyA.push_back(static_cast<size_t>(prevX));
        }
        x = prevX;
        y = prevY;
      }
      return true;
    }
  }
  return false;
}

std::string Around(const std::vector<ReceivedKey>& keys, size_t at) {
  std::string out;
  size_t from = at > 4 ? at - 4 : 0;
  for (size_t i = from; i < keys.size() && i < at + 6; ++i) {
    out += (i == from ? "" : " ") + std::string(i == at ? "[" : "") + EventText(keys[i]) + (i == at ? "]" : "");
  }
  if (at >= keys.size()) out += (out.empty() ? "" : " ") + std::string("[end]");
  return out;
}

std::string AllSettingsOn() {
  std::string file = "[TAVIK]\r\n";
  for (const SettingKey& key : kSettingKeys) file += std::string(key.name) + "=1\r\n";
  return file;
}

}  // namespace

std::string EventText(const ReceivedKey& k) {
  std::string text = k.up ? "up:" : "down:";
  return text.append(sim::KeyText(k.vk, k.scanKey)).append(k.imeTook ? "*" : "");
}

std::vector<LoadBurst> MakeLoadStream(uint32_t keystrokes, uint32_t seed) {
  StreamWriter w(seed);
  std::vector<LoadBurst> bursts;
  for (uint32_t typed = 0; typed < keystrokes;) {
    LoadBurst b;
    b.arrangement = w.Arrangement(bursts.empty());
    std::vector<KeyId> presses;
    size_t size = std::min<size_t>(keystrokes - typed, 20 + w.Below(61));
    if (b.arrangement.stage && w.Chance(70)) w.Finish(presses);
    while (presses.size() < size) w.Presses(presses);
    presses.resize(size);
    // Two letters in a row are now and then rolled over: the second goes
    // down before the first comes up.
    for (size_t i = 0; i < presses.size(); ++i) {
      const KeyId& k = presses[i];
      bool pair = i + 1 < presses.size() && IsLetter(k) && IsLetter(presses[i + 1]) && k.vk != presses[i + 1].vk;
      if (pair && w.Chance(15)) {
        const KeyId& next = presses[++i];
        b.keys.insert(b.keys.end(), {{k, false}, {next, false}, {k, true}, {next, true}});
      } else {
        b.keys.insert(b.keys.end(), {{k, false}, {k, true}});
      }
    }
    typed += static_cast<uint32_t>(size);
    bursts.push_back(std::move(b));
  }
  return bursts;
}

LoadRun SimulateLoad(const std::vector<LoadBurst>& bursts, bool hooked, Pace pace) {
  sim::Desktop desktop;
  HookSharedBlock block{};
  sim::RunLibraryHooks(desktop, block);
  desktop.AddWindow("editor");
  desktop.SetFocus("editor");
  sim::Window& editor = *desktop.FindWindow("editor");
  desktop.SetImeFileName(std::string("TESTIME.IME"));
  desktop.SetHostPath(std::string("C:\\tavik-e2e\\e2e-target.exe"));
  desktop.profiles().SetFile(kSettingsFile, AllSettingsOn());
  if (hooked) HookStart(desktop, block, sim::kModuleInstance, sim::kKeyboardProcToken, sim::kMessageProcToken);
  editor.open = true;
  editor.conversion = kLoadStartMode;

  LoadRun run;
  for (const LoadBurst& b : bursts) {
    const LoadArrangement& a = b.arrangement;
    if (a.reopen) {
      editor.open = true;
      editor.conversion = a.mode;
      editor.sentence = 0;
    }
    if (a.stage) {
      editor.composition = a.composition;
      editor.attributes = a.attributes;
      editor.reading.clear();
      editor.candidateList.reset();
      if (a.candidates >= 0) editor.candidateList = static_cast<uint32_t>(a.candidates);
    }
    run.burstStarts.push_back(editor.received.size());
    size_t committed = editor.committed.size();
    std::vector<std::pair<uint32_t, intptr_t>> keys;
    for (const sim::KeyEvent& e : b.keys) keys.push_back({e.key.vk, sim::KeystrokeLParam(e.key.scanKey, e.up, e.up)});
    if (pace == Pace::kLags) {
      desktop.Burst(keys);
    } else {
      for (const auto& [vk, lParam] : keys) desktop.Keystroke(w32::HC_ACTION, vk, lParam);
    }
    run.after.push_back(ImeAfterBurst{editor.open, editor.conversion, editor.composition, editor.attributes,
                                      editor.committed.substr(committed), desktop.Toggled(w32::VK_CAPITAL)});
  }
  run.received = editor.received;
  run.problems = desktop.InvariantViolations();
  if (hooked) HookEnd(desktop, block);
  return run;
}

LoadComparison CompareReceived(const std::vector<ReceivedKey>& expected, const std::vector<ReceivedKey>& got,
                               const std::vector<size_t>& burstStarts) {
  LoadComparison c;
  size_t at = 0;
  while (at < expected.size() && at < got.size() && expected[at] == got[at]) ++at;
  if (at == expected.size() && at == got.size()) return c;

  size_t burst = 0;
  while (burst + 1 < burstStarts.size() && burstStarts[burst + 1] <= at) ++burst;
  c.firstDifference = "event " + std::to_string(at) + " (burst " + std::to_string(burst) + ", its event " +
                      std::to_string(burstStarts.empty() ? at : at - burstStarts[burst]) + ")\n" +
                      "  simulated desktop: " + Around(expected, at) + "\n" + "  real desktop:      " + Around(got, at);

  // An event left out in one place and found in another is one reordering.
  std::vector<size_t> missing;
  std::vector<size_t> surplus;
  if (Differences(expected, got, 1000, missing, surplus)) {
    std::multimap<std::string, size_t> unmatched;
    for (size_t i : surplus) unmatched.insert({EventText(got[i]), i});
    for (size_t i : missing) {
      auto it = unmatched.find(EventText(expected[i]));
      if (it == unmatched.end()) {
        ++c.lost;
      } else {
        ++c.reordered;
        unmatched.erase(it);
      }
    }
    c.extra = unmatched.size();
  } else {
    // Too far apart to line up: what is missing and what is too many, by count.
    std::map<std::string, long> balance;
    for (const ReceivedKey& k : expected) ++balance[EventText(k)];
    for (const ReceivedKey& k : got) --balance[EventText(k)];
    for (const auto& [event, n] : balance) (n > 0 ? c.lost : c.extra) += static_cast<size_t>(n > 0 ? n : -n);
    c.firstDifference += "\n  (more than 1000 differences: reorderings not counted)";
  }
  return c;
}

StreamChanges ChangesFromTyped(const std::vector<LoadBurst>& bursts, const LoadRun& run) {
  StreamChanges c;
  for (size_t i = 0; i < bursts.size() && i < run.burstStarts.size(); ++i) {
    std::vector<ReceivedKey> typed;
    for (const sim::KeyEvent& e : bursts[i].keys) typed.push_back({e.key.vk, e.key.scanKey, e.up});
    size_t end = i + 1 < run.burstStarts.size() ? run.burstStarts[i + 1] : run.received.size();
    std::vector<ReceivedKey> received(run.received.begin() + static_cast<std::ptrdiff_t>(run.burstStarts[i]),
                                      run.received.begin() + static_cast<std::ptrdiff_t>(end));
    for (ReceivedKey& k : received) k.imeTook = false;  // the IME's doing, not the hooks'
    std::vector<size_t> removed;
    std::vector<size_t> added;
    // A burst is short enough to allow for every event differing.
    Differences(typed, received, static_cast<int>(typed.size() + received.size()), removed, added);
    c.removed += removed.size();
    c.added += added.size();
  }
  return c;
}

std::vector<std::string> KeysLeftDown(const std::vector<ReceivedKey>& received) {
  std::map<uint32_t, bool> down;
  for (const ReceivedKey& k : received) down[k.vk] = !k.up;
  std::vector<std::string> left;
  for (const auto& [vk, isDown] : down) {
    if (!isDown) continue;
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", vk);
    left.push_back(buf);
  }
  return left;
}

}  // namespace tavik::e2e
