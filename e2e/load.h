// The load test's portable half (tavik-e2e --load): a seeded stream of the
// keys a Japanese typist presses, in bursts typed at full speed with the IME
// arranged before each (a composition staged, the IME opened again); the
// same stream through the real hook code on the simulated desktop; and the
// comparison of what the simulated desktop delivers with what the real
// desktop's target program received.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/desktop.h"
#include "sim/scenario.h"

namespace tavik::e2e {

// What is arranged before a burst, as the `ime` scenario commands do.
struct LoadArrangement {
  bool reopen = false;  // the IME open again in `mode` (the keys close it and change its mode)
  uint32_t mode = 0;
  bool stage = false;       // a composition staged (empty: none), with its candidate list
  std::string composition;  // code page 932
  std::string attributes;   // one byte each
  int32_t candidates = -1;  // entries of the first candidate list; -1: no list
};

struct LoadBurst {
  LoadArrangement arrangement;
  std::vector<sim::KeyEvent> keys;  // each key pressed is a key-down and its key-up
};

// The IME's conversion mode at the start of a run: open, hiragana, romaji.
inline constexpr uint32_t kLoadStartMode = 0x19;

// `keystrokes` key presses (twice as many events) from `seed`, the same on
// every platform.
std::vector<LoadBurst> MakeLoadStream(uint32_t keystrokes, uint32_t seed);

// The editor's IME after a burst, and what it committed during it.
struct ImeAfterBurst {
  bool open = false;
  uint32_t conversion = 0;
  std::string composition;
  std::string attributes;
  std::string committed;
  bool capsLock = false;
  bool operator==(const ImeAfterBurst&) const = default;
};

struct LoadRun {
  std::vector<sim::ReceivedKey> received;  // what the editor received, the whole run
  std::vector<size_t> burstStarts;         // where each burst's keys begin in it
  std::vector<ImeAfterBurst> after;        // one per burst
  std::vector<std::string> problems;       // keys left down and the like, found at the end
};

// How the application takes a burst.
enum class Pace {
  kKeepsUp,  // each keystroke, and what the hooks send for it, before the next is typed
  kLags,     // the whole burst is in its queue before it takes the first keystroke
};

// The stream on the simulated desktop, every setting on, with the hooks
// started (HookStart, and HookEnd at the end) or not.
LoadRun SimulateLoad(const std::vector<LoadBurst>& bursts, bool hooked, Pace pace);

// What the real desktop's keystrokes came to against what the simulated
// desktop delivers: events missing, events too many, events at another
// place, and the first position where the two differ with the events
// around it ("" when they agree).
struct LoadComparison {
  size_t lost = 0;
  size_t extra = 0;
  size_t reordered = 0;
  std::string firstDifference;
};
LoadComparison CompareReceived(const std::vector<sim::ReceivedKey>& expected, const std::vector<sim::ReceivedKey>& got,
                               const std::vector<size_t>& burstStarts);

// What the hooks made of the typed stream in a run: typed events that did
// not reach the application as typed (swallowed or rewritten), and events
// that reached it without being typed (sent).
struct StreamChanges {
  size_t removed = 0;
  size_t added = 0;
};
StreamChanges ChangesFromTyped(const std::vector<LoadBurst>& bursts, const LoadRun& run);

// Keys whose last event in `received` is a key-down, as "0xVV" each.
std::vector<std::string> KeysLeftDown(const std::vector<sim::ReceivedKey>& received);

// "down:0x20/0x39", with "*" after a key the IME took.
std::string EventText(const sim::ReceivedKey& k);

}  // namespace tavik::e2e
