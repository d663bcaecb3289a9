// The load test on the real desktop: the load stream typed into the target
// with the hook and without, each compared with the same stream on the
// simulated desktop (load.h), and the figures printed.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/settings.h"
#include "e2e/load.h"
#include "sim/print.h"
// After the portable headers: <windows.h> defines some of their names as macros.
#include "e2e/load_on_wine.h"

namespace tavik::e2e {

namespace {

using sim::KeyId;

// One run of the load stream on the real desktop and what came of it.
struct RealLoad {
  LoadRun run;
  double seconds = 0;        // typing the bursts until the target had drained each
  uint32_t notLogged = 0;    // keystrokes that did not fit in the target's log
  std::vector<std::string> keysDown;  // as the system and the target see the keyboard afterwards
};

// Types the stream into the target with every setting on, the hooks started
// or not, arranging the IME before each burst as the simulated desktop does.
bool TypeLoad(WineConnection& desktop, const std::vector<LoadBurst>& bursts, bool hooked, RealLoad& out,
              std::string& why) {
  Shared& s = desktop.shared();
  DeleteFileA(kSettingsFile);
  for (const SettingKey& key : tavik::kSettingKeys) {
    WritePrivateProfileStringA(kSettingsSection, key.name, "1", kSettingsFile);
  }
  if (!desktop.targets().UseDefaults(why)) return false;
  desktop.Tell(kCmdForeground);
  desktop.Tell(kCmdFocus, 1);
  // As the simulated desktop starts: CapsLock off, nothing composed, the
  // IME open in hiragana.
  desktop.Snapshot();
  const KeyId capsLock{VK_CAPITAL, 0x3A};
  if (s.snapCapsLock != 0 && !desktop.Type({{capsLock, false}, {capsLock, true}}, why)) return false;
  auto stage = [&](const std::string& composition, const std::string& attributes, int32_t candidates) {
    size_t n = std::min(composition.size(), sizeof s.stagedComposition);
    s.stagedLength = static_cast<uint32_t>(n);
    std::memcpy(s.stagedComposition, composition.data(), n);
    std::memcpy(s.stagedAttributes, attributes.data(), std::min(attributes.size(), n));
    s.stagedCandidates = candidates;
    desktop.Tell(kCmdApplyStaged);
  };
  stage("", "", -1);
  desktop.Tell(kCmdSetOpen, 1);
  desktop.Tell(kCmdSetMode, kLoadStartMode, 0);
  s.keyCount = 0;
  s.keysLost = 0;
  if (hooked) desktop.HookStartNow();

  LARGE_INTEGER frequency;
  LARGE_INTEGER typing{};
  QueryPerformanceFrequency(&frequency);
  for (const LoadBurst& b : bursts) {
    const LoadArrangement& a = b.arrangement;
    if (a.reopen) {
      desktop.Tell(kCmdSetOpen, 1);
      desktop.Tell(kCmdSetMode, a.mode, 0);
    }
    if (a.stage) stage(a.composition, a.attributes, a.candidates);
    // The text is not compared; emptied, it costs every burst the same.
    desktop.SetText(1, "");
    s.committedLength = 0;
    s.imeCallCount = 0;
    std::vector<std::pair<KeyId, bool>> keys;
    for (const sim::KeyEvent& e : b.keys) keys.push_back({e.key, e.up});
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    QueryPerformanceCounter(&start);
    if (!desktop.Burst(keys, why)) return false;
    QueryPerformanceCounter(&end);
    typing.QuadPart += end.QuadPart - start.QuadPart;
    desktop.Snapshot();
    if (hooked && !s.snapHookLoaded) {
      why = "tavikhook.dll is not loaded in the target process";
      return false;
    }
    out.run.after.push_back(ImeAfterBurst{
        s.snapOpen != 0, s.snapConversion,
        std::string(reinterpret_cast<const char*>(s.snapComposition),
                    static_cast<size_t>(std::max(s.snapCompositionLength, 0))),
        std::string(reinterpret_cast<const char*>(s.snapAttributes),
                    static_cast<size_t>(std::max(s.snapAttributesLength, 0))),
        std::string(reinterpret_cast<const char*>(s.committed), s.committedLength), s.snapCapsLock != 0});
  }
  out.seconds = static_cast<double>(typing.QuadPart) / static_cast<double>(frequency.QuadPart);
  for (uint32_t i = 0; i < s.keyCount; ++i) {
    const Keystroke& k = s.keys[i];
    if (k.vk != kSentinel.vk) out.run.received.push_back({k.vk, k.scanKey, k.up != 0, k.imeTook != 0});
  }
  out.notLogged = s.keysLost;

  // Keys down afterwards, while the hooks still run: for the system (once
  // Wine's copy of the key state in this process is up to date, see
  // WaitOutAsyncKeyStateCache) and for the target's thread.
  Sleep(60);
  desktop.Snapshot();
  for (int vk = 1; vk < 256; ++vk) {
    char name[48];
    if ((GetAsyncKeyState(vk) & 0x8000) != 0) {
      std::snprintf(name, sizeof name, "0x%02X (GetAsyncKeyState)", vk);
      out.keysDown.push_back(name);
    }
    if ((s.snapKeyboard[vk] & 0x80) != 0) {
      std::snprintf(name, sizeof name, "0x%02X (the target's GetKeyboardState)", vk);
      out.keysDown.push_back(name);
    }
  }
  if (hooked) desktop.HookEndNow();
  return true;
}

// The load test: the stream typed on the real desktop with the hook and
// without, each against the same on the simulated desktop. Returns the
// exit code.
}  // namespace

int RunLoad(WineConnection& desktop, uint32_t keystrokes, uint32_t seed) {
  std::vector<LoadBurst> bursts = MakeLoadStream(keystrokes, seed);
  size_t typed = 0;
  for (const auto& b : bursts) typed += b.keys.size();
  std::printf("load: %u keystrokes (%zu key events) in %zu bursts, seed %u, every setting on\n\n", keystrokes, typed,
              bursts.size(), seed);

  struct Column {
    const char* name;
    bool hooked;
    LoadRun simulated;
    RealLoad real;
    LoadComparison comparison;
    size_t leftDown = 0;
    int failures = 0;
  };
  Column columns[] = {{"without the hook", false, {}, {}, {}}, {"with the hook", true, {}, {}, {}}};
  int failures = 0;
  for (Column& c : columns) {
    auto fail = [&](const std::string& what) {
      std::printf("FAIL %s: %s\n", c.name, what.c_str());
      ++c.failures;
    };
    // The target lags a whole burst behind the keyboard; it must get what
    // one that keeps up gets.
    c.simulated = SimulateLoad(bursts, c.hooked, Pace::kKeepsUp);
    std::string why;
    if (!TypeLoad(desktop, bursts, c.hooked, c.real, why)) {
      fail(why);
      failures += c.failures;
      if (desktop.started()) desktop.HookEndNow();
      continue;
    }
    for (const std::string& p : c.simulated.problems) fail("the simulated desktop: " + p);
    c.comparison = CompareReceived(c.simulated.received, c.real.run.received, c.simulated.burstStarts);
    if (!c.comparison.firstDifference.empty()) {
      fail("what the target received differs from the simulated desktop from " + c.comparison.firstDifference);
    }
    if (c.real.notLogged != 0) fail(std::to_string(c.real.notLogged) + " keystrokes did not fit in the target's log");
    std::vector<std::string> down = KeysLeftDown(c.real.run.received);
    for (const std::string& k : down) fail("the target received a key-down of " + k + " and no key-up after it");
    for (const std::string& k : c.real.keysDown) fail("key " + k + " is down after the run");
    c.leftDown = down.size() + c.real.keysDown.size();
    for (size_t i = 0; i < bursts.size() && i < c.real.run.after.size(); ++i) {
      const ImeAfterBurst& want = c.simulated.after[i];
      const ImeAfterBurst& got = c.real.run.after[i];
      if (want == got) continue;
      auto text = [](const ImeAfterBurst& a) {
        char head[64];
        std::snprintf(head, sizeof head, "%s mode 0x%X CapsLock %s", a.open ? "open" : "closed", a.conversion,
                      a.capsLock ? "on" : "off");
        return std::string(head) + ", composition " + sim::HexBytes(a.composition) + " / " +
               sim::HexBytes(a.attributes) + ", committed " + sim::HexBytes(a.committed);
      };
      fail("after burst " + std::to_string(i) + " the IME differs:\n  simulated desktop: " + text(want) +
           "\n  real desktop:      " + text(got));
      break;
    }
    failures += c.failures;
    std::fflush(stdout);
  }

  const Column& bare = columns[0];
  const Column& hooked = columns[1];
  auto row = [](const char* what, const std::string& a, const std::string& b) {
    std::printf("  %-34s %16s %16s\n", what, a.c_str(), b.c_str());
  };
  auto number = [](double v, const char* format) {
    char buf[32];
    std::snprintf(buf, sizeof buf, format, v);
    return std::string(buf);
  };
  std::printf("\n");
  row("", bare.name, hooked.name);
  row("keystrokes typed", std::to_string(keystrokes), std::to_string(keystrokes));
  auto imeTook = [](const std::vector<sim::ReceivedKey>& keys) {
    return std::to_string(std::count_if(keys.begin(), keys.end(), [](const auto& k) { return k.imeTook; }));
  };
  StreamChanges bareChanges = ChangesFromTyped(bursts, bare.simulated);
  StreamChanges hookChanges = ChangesFromTyped(bursts, hooked.simulated);
  row("events the simulated desktop gives", std::to_string(bare.simulated.received.size()),
      std::to_string(hooked.simulated.received.size()));
  row("  of them sent by the hook", std::to_string(bareChanges.added), std::to_string(hookChanges.added));
  row("typed events the hook took", std::to_string(bareChanges.removed), std::to_string(hookChanges.removed));
  row("events received", std::to_string(bare.real.run.received.size()), std::to_string(hooked.real.run.received.size()));
  row("  of them taken by the IME", imeTook(bare.real.run.received), imeTook(hooked.real.run.received));
  row("events lost", std::to_string(bare.comparison.lost + bare.real.notLogged),
      std::to_string(hooked.comparison.lost + hooked.real.notLogged));
  row("events too many", std::to_string(bare.comparison.extra), std::to_string(hooked.comparison.extra));
  row("events reordered", std::to_string(bare.comparison.reordered), std::to_string(hooked.comparison.reordered));
  row("keys left down", std::to_string(bare.leftDown), std::to_string(hooked.leftDown));
  row("time typing (s)", number(bare.real.seconds, "%.2f"), number(hooked.real.seconds, "%.2f"));
  double bareRate = bare.real.seconds > 0 ? keystrokes / bare.real.seconds : 0;
  double hookedRate = hooked.real.seconds > 0 ? keystrokes / hooked.real.seconds : 0;
  row("keystrokes per second", number(bareRate, "%.0f"), number(hookedRate, "%.0f"));
  std::printf("  throughput with the hook / without: %.2f\n", bareRate > 0 ? hookedRate / bareRate : 0.0);
  // Timing on a shared machine is noisy: only a hook that makes typing
  // several times slower fails.
  if (bare.real.seconds > 0 && hooked.real.seconds > 5 * bare.real.seconds) {
    std::printf("FAIL typing with the hook took more than five times as long as without\n");
    ++failures;
  }
  std::printf("%s\n", failures == 0 ? "load test passed" : "load test FAILED");
  return failures == 0 ? 0 : 1;
}


}  // namespace tavik::e2e
