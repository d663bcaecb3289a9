#include "sim/replay.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <string>

#include "common/recording.h"
#include "hook/stage_table.h"
#include "hook/stages.h"
#include "sim/desktop.h"
#include "sim/keys.h"
#include "sim/recording_scenario.h"
#include "sim/scenario.h"

namespace tavik {
namespace {

// The simulated desktop recording as the library's recording layer does on
// Windows: every call with its values, the bytes it read and wrote, its
// result. Kept here, apart from the recorder's own, so that the replay is
// tested against the contract in common/recording.h and not against one
// implementation of it.
class Tape final : public InputPlatform {
 public:
  Tape(sim::Desktop& d, Record& r) : d_(d), r_(r) {}

  Hwnd GetFocus() override { return Put(CallId::GetFocus, {}, d_.GetFocus()); }
  Hkl GetKeyboardLayout(uint32_t t) override { return Put(CallId::GetKeyboardLayout, {t}, d_.GetKeyboardLayout(t)); }
  int16_t GetKeyState(int32_t vk) override { return Put(CallId::GetKeyState, {W(vk)}, d_.GetKeyState(vk)); }
  int16_t GetAsyncKeyState(int32_t vk) override {
    return Put(CallId::GetAsyncKeyState, {W(vk)}, d_.GetAsyncKeyState(vk));
  }
  void keybd_event(uint8_t vk, uint8_t scan, uint32_t flags, uintptr_t extra) override {
    d_.keybd_event(vk, scan, flags, extra);
    Put(CallId::keybd_event, {vk, scan, flags, extra}, 0);
  }
  uint32_t SendInput(uint32_t n, const KeybdInput* inputs) override {
    std::vector<uint8_t> in;
    for (uint32_t i = 0; i < n; ++i) {
      uint8_t b[8];
      std::memcpy(b, &inputs[i].wVk, 2);
      std::memcpy(b + 2, &inputs[i].wScan, 2);
      std::memcpy(b + 4, &inputs[i].dwFlags, 4);
      in.insert(in.end(), b, b + 8);
    }
    return Put(CallId::SendInput, {n}, d_.SendInput(n, inputs), in);
  }
  Hhook SetWindowsHookExA(int32_t id, HookProc proc, Hinstance mod, uint32_t thread) override {
    return Put(CallId::SetWindowsHookExA, {W(id), V(proc), V(mod), thread},
               d_.SetWindowsHookExA(id, proc, mod, thread));
  }
  int32_t UnhookWindowsHookEx(Hhook h) override {
    return Put(CallId::UnhookWindowsHookEx, {V(h)}, d_.UnhookWindowsHookEx(h));
  }
  intptr_t CallNextHookEx(Hhook h, int32_t code, uintptr_t w, intptr_t l) override {
    intptr_t r = d_.CallNextHookEx(h, code, w, l);
    return Put(CallId::CallNextHookEx, {V(h), W(code), w, r_.kind == RecordKind::kMessage ? 0 : W(l)}, r);
  }
  Himc ImmGetContext(Hwnd w) override { return Put(CallId::ImmGetContext, {V(w)}, d_.ImmGetContext(w)); }
  int32_t ImmReleaseContext(Hwnd w, Himc h) override {
    return Put(CallId::ImmReleaseContext, {V(w), V(h)}, d_.ImmReleaseContext(w, h));
  }
  int32_t ImmGetOpenStatus(Himc h) override { return Put(CallId::ImmGetOpenStatus, {V(h)}, d_.ImmGetOpenStatus(h)); }
  int32_t ImmSetOpenStatus(Himc h, int32_t open) override {
    return Put(CallId::ImmSetOpenStatus, {V(h), W(open)}, d_.ImmSetOpenStatus(h, open));
  }
  int32_t ImmGetConversionStatus(Himc h, uint32_t* c, uint32_t* s) override {
    int32_t ok = d_.ImmGetConversionStatus(h, c, s);
    uint32_t words[2] = {*c, *s};
    Put(CallId::ImmGetConversionStatus, {V(h)}, ok);
    r_.calls.back().out.assign(reinterpret_cast<uint8_t*>(words), reinterpret_cast<uint8_t*>(words) + 8);
    return ok;
  }
  int32_t ImmSetConversionStatus(Himc h, uint32_t c, uint32_t s) override {
    return Put(CallId::ImmSetConversionStatus, {V(h), c, s}, d_.ImmSetConversionStatus(h, c, s));
  }
  int32_t ImmNotifyIME(Himc h, uint32_t a, uint32_t i, uint32_t v) override {
    return Put(CallId::ImmNotifyIME, {V(h), a, i, v}, d_.ImmNotifyIME(h, a, i, v));
  }
  int32_t ImmGetCompositionStringA(Himc h, uint32_t index, void* buf, uint32_t len) override {
    int32_t n = d_.ImmGetCompositionStringA(h, index, buf, len);
    Put(CallId::ImmGetCompositionStringA, {V(h), index, len}, n);
    Out(buf, n, len);
    return n;
  }
  uint32_t ImmGetCandidateListA(Himc h, uint32_t index, CandidateList* list, uint32_t len) override {
    uint32_t n = d_.ImmGetCandidateListA(h, index, list, len);
    Put(CallId::ImmGetCandidateListA, {V(h), index, len}, n);
    Out(list, n, std::min(len, 24u));
    return n;
  }
  uint32_t ImmGetIMEFileNameA(Hkl k, char* name, uint32_t len) override {
    uint32_t n = d_.ImmGetIMEFileNameA(k, name, len);
    Put(CallId::ImmGetIMEFileNameA, {V(k), len}, n);
    Out(name, n, len);
    return n;
  }
  int32_t ImmConfigureIMEA(Hkl k, Hwnd w, uint32_t mode, void* data) override {
    return Put(CallId::ImmConfigureIMEA, {V(k), V(w), mode}, d_.ImmConfigureIMEA(k, w, mode, data));
  }
  uint32_t GetModuleFileNameA(Hinstance m, char* path, uint32_t size) override {
    uint32_t n = d_.GetModuleFileNameA(m, path, size);
    Put(CallId::GetModuleFileNameA, {V(m), size}, n);
    Out(path, n, size);
    return n;
  }
  Hglobal GlobalAlloc(uint32_t flags, size_t bytes) override {
    return Put(CallId::GlobalAlloc, {flags, bytes}, d_.GlobalAlloc(flags, bytes));
  }
  void* GlobalLock(Hglobal h) override {
    void* p = d_.GlobalLock(h);
    Put(CallId::GlobalLock, {V(h)}, p != nullptr ? 1 : 0);
    return p;
  }
  Hglobal GlobalFree(Hglobal h) override { return Put(CallId::GlobalFree, {V(h)}, d_.GlobalFree(h)); }
  uint32_t GetPrivateProfileStringA(const char* a, const char* k, const char* def, char* out, uint32_t size,
                                    const char* file) override {
    return d_.GetPrivateProfileStringA(a, k, def, out, size, file);  // HookStart's, never on a keystroke
  }
  int32_t clock() override { return Put(CallId::clock, {}, d_.clock()); }

 private:
  template <typename T>
  static uint64_t V(T handle) {
    return static_cast<uint64_t>(handle);
  }
  static uint64_t W(int64_t value) { return static_cast<uint64_t>(value); }
  template <typename T>
  T Put(CallId id, std::vector<uint64_t> args, T result, std::vector<uint8_t> in = {}) {
    int64_t widened;
    if constexpr (std::is_enum_v<T>) {
      widened = static_cast<int64_t>(result);
    } else {
      widened = static_cast<int64_t>(result);
    }
    r_.calls.push_back({id, std::move(args), std::move(in), {}, widened});
    return result;
  }
  void Out(const void* buffer, int64_t reported, uint32_t capacity) {
    if (buffer == nullptr || reported <= 0) return;
    auto n = static_cast<size_t>(std::min<int64_t>(reported, capacity));
    auto* b = static_cast<const uint8_t*>(buffer);
    r_.calls.back().out.assign(b, b + n);
  }

  sim::Desktop& d_;
  Record& r_;
};

// What the sessions type and arrange: every key some stage claims and one
// none does, calls that fail, IME names of each family, compositions of
// the kinds the stages tell apart.
constexpr const char* kKeys[] = {"at",   "esc",  "a",        "space",   "enter",   "bs",       "lshift", "comma",
                                 "eiji", "eisu", "capslock", "hankaku", "zenkaku", "muhenkan", "henkan", "hiragana",
                                 "left", "up",   "home",     "pgdn",    "tab",     "del"};
constexpr const char* kCalls[] = {"GetFocus",
                                  "ImmGetContext",
                                  "ImmGetConversionStatus",
                                  "ImmGetCompositionStringA",
                                  "ImmGetIMEFileNameA",
                                  "GetModuleFileNameA",
                                  "GlobalAlloc",
                                  "ImmGetCandidateListA",
                                  "ImmNotifyIME"};
constexpr const char* kImeNames[] = {"OAKIME.IME", "ATOKX.IME", "X.IME"};
constexpr uint32_t kModifiers[] = {w32::VK_SHIFT, w32::VK_CONTROL, w32::VK_MENU};
constexpr const char* kCompositions[] = {"\x82\x50\x82\x58", "\x83\x4A", "\x82\xA0\x82\xA2", "1,5", "\xB6\xDE", "k"};
constexpr const char* kAttributes[] = {"\0", "\1", "\2\1", "\1\2", "\1\4", "\4"};

template <typename Next>
void Compose(Next& rng, sim::Window& w) {
  w.composition = kCompositions[rng() % std::size(kCompositions)];
  std::string pattern = kAttributes[rng() % std::size(kAttributes)];
  if (pattern.empty()) pattern = std::string(1, '\0');
  w.attributes.clear();
  for (size_t i = 0; i < w.composition.size(); ++i) w.attributes += pattern[i * pattern.size() / w.composition.size()];
  if (rng() % 3 == 0) {
    w.candidateList.reset();
  } else {
    w.candidateList = rng() % 4;
  }
}

// Typing on the simulated desktop, recorded: the header, every keystroke
// and retrieved message, a settings record where `type` pushes one after
// changing the flags. `settings` is the settings file. With `onlyClaimed`,
// as the library records on Windows: a keystroke the first look passes on
// is only counted. Returns the recording's text.
using Typing = std::function<void(sim::Desktop&, HookSharedBlock&, std::vector<Record>&)>;

std::string Recorded(const std::string& settings, const Typing& type, bool onlyClaimed = false) {
  sim::Desktop desktop;
  HookSharedBlock block{};
  std::vector<Record> records;
  uint64_t passedOn = 0;
  uint32_t time = 2471000;
  desktop.SetHookRunner([&](HookProc proc, int32_t code, uintptr_t w, intptr_t l) -> intptr_t {
    sim::Process& process = desktop.Running();
    time += 16;
    if (onlyClaimed && proc == sim::kKeyboardProcToken &&
        (code < 0 || (block.inFlight.count == 0 && RowsClaiming(w, l) == 0))) {
      ++passedOn;
      return KeyboardProcedure(desktop, block, process.variables, code, w, l);
    }
    Record r;
    r.kind = proc == sim::kMessageProcToken ? RecordKind::kMessage : RecordKind::kKeystroke;
    r.process = process.name + ".exe";
    r.processId = 4120;
    r.threadId = 4124;
    r.time = time;
    r.code = code;
    r.wParam = w;
    r.lParam = r.kind == RecordKind::kMessage ? 0 : l;
    r.message = r.kind == RecordKind::kMessage ? sim::MessageNumber(code, l) : 0;
    for (int i = 0; i < kRecordedWordCount; ++i) r.wordsBefore[i] = kRuntimeWords[i].word(block.runtime);
    for (uint32_t i = 0; i < block.inFlight.count; ++i) {
      r.inFlight.push_back(block.inFlight.key[(block.inFlight.first + i) % SendsInFlight::kSize]);
    }
    r.sentBehind = block.inFlight.sentBehind;
    r.armedTime = process.variables.armedTime;
    Tape tape(desktop, r);
    r.returned = r.kind == RecordKind::kMessage ? MessageProcedure(tape, block, code, w, l, r.message)
                                                : KeyboardProcedure(tape, block, process.variables, code, w, l);
    intptr_t returned = static_cast<intptr_t>(r.returned);
    records.push_back(std::move(r));
    return returned;
  });
  desktop.AddWindow("editor", true, "notepad");
  desktop.AddWindow("plain", false, "notepad");
  desktop.SetFocus("editor");
  desktop.profiles().SetFile(kSettingsFile, settings);
  HookStart(desktop, block, sim::kModuleInstance, sim::kKeyboardProcToken, sim::kMessageProcToken);
  RecordingHeader header;
  header.tavikVersion = "1.2.2.1";
  header.windowsVersion = "the simulated desktop";
  header.keyboardLayouts = {"0xE0010411"};
  header.imeFileNames = {"MSIME.IME"};
  std::copy(std::begin(block.flag), std::end(block.flag), header.settings);
  type(desktop, block, records);
  std::string text = FormatHeader(header);
  for (const Record& r : records) text += FormatRecord(r);
  return text + FormatTrailer({0, passedOn});
}

std::string Recorded(const std::string& settings, const std::function<void(sim::Desktop&)>& type,
                     bool onlyClaimed = false) {
  return Recorded(
      settings, [&](sim::Desktop& d, HookSharedBlock&, std::vector<Record>&) { type(d); }, onlyClaimed);
}

// A random typing session with random settings.
std::string RecordedSession(uint32_t seed, int steps) {
  std::mt19937 rng(seed);
  auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };
  std::string settings = "[TAVIK]\r\n";
  for (int i = 0; i < kSettingCount; ++i)
    settings += std::string(kSettingKeys[i].name) + (chance(50) ? "=1\r\n" : "=0\r\n");
  return Recorded(settings, [&](sim::Desktop& desktop, HookSharedBlock& block, std::vector<Record>& records) {
    desktop.SetImeFileName(std::string(kImeNames[rng() % std::size(kImeNames)]));
    if (chance(25)) desktop.SetHostPath(std::string("C:\\IE\\iexplore.exe"));

    std::vector<sim::KeyId> down;
    for (int step = 0; step < steps; ++step) {
      if (chance(10)) desktop.SetFocus(chance(70) ? "editor" : chance(50) ? "plain" : "");
      if (sim::Window* w = desktop.FindWindow("editor"); w != nullptr && chance(15)) {
        w->open = chance(60);
        w->conversion = rng() % 0x20;
        Compose(rng, *w);
      }
      if (chance(10)) desktop.SetClock(static_cast<int32_t>(rng() % 400));
      if (chance(5)) desktop.RetrieveMessage(0, chance(70), chance(70) ? 0x10F : 0x10D + rng() % 3);
      if (chance(5)) {
        const char* call = kCalls[rng() % std::size(kCalls)];
        chance(50) ? desktop.Fail(call) : desktop.Restore(call);
      }
      if (chance(5)) desktop.SetHeld(kModifiers[rng() % std::size(kModifiers)], chance(30));
      if (chance(2)) {
        block.flag[kKakuteiTategaki] = chance(50) ? 1 : 0;
        Record s;
        s.kind = RecordKind::kSettings;
        std::copy(std::begin(block.flag), std::end(block.flag), s.settings);
        records.push_back(s);
      }
      sim::KeyId k;
      bool up = false;
      if (down.empty() || chance(50)) {
        k = *sim::LookUpKey(kKeys[rng() % std::size(kKeys)]);
        down.push_back(k);
      } else {
        size_t i = rng() % down.size();
        k = down[i];
        up = true;
        down.erase(down.begin() + static_cast<std::ptrdiff_t>(i));
      }
      if (chance(10)) desktop.Keystroke(w32::HC_NOREMOVE, k.vk, sim::KeystrokeLParam(k.scanKey, up, up));
      if (chance(15)) {
        // Typed ahead of the application: what the hook sends for the first
        // lines up behind the second, which the hook sends again behind it.
        sim::KeyId next = *sim::LookUpKey(kKeys[rng() % std::size(kKeys)]);
        desktop.Burst({{k.vk, sim::KeystrokeLParam(k.scanKey, up, up)},
                       {next.vk, sim::KeystrokeLParam(next.scanKey, false, false)}});
        down.push_back(next);
      } else {
        desktop.Keystroke(w32::HC_ACTION, k.vk, sim::KeystrokeLParam(k.scanKey, up, up));
      }
    }
  });
}

sim::ReplayResult ReplayText(const std::string& text) {
  Recording recording;
  std::string error;
  EXPECT_TRUE(ReadRecording(text, recording, error)) << error;
  return sim::Replay(recording, sim::RecordLines(text));
}

// Whatever the library did on the desktop, it does again on the replay:
// every state the random sessions reach, and every call's answer, come back
// from the text alone. Records lost to a full ring leave gaps, which each
// record bridges with the state it carries: the words, the sends still out
// and the process's clock word before it.
TEST(Replay, RecordedSessionsReplayWithoutDivergence) {
  for (uint32_t seed = 1; seed <= 150; ++seed) {
    std::string text = RecordedSession(seed, 80);
    sim::ReplayResult result = ReplayText(text);
    ASSERT_EQ(result.diverged, 0) << "seed " << seed << ": " << result.report.front();
    EXPECT_GE(result.replayed, 80);
    EXPECT_EQ(result.report.back(), std::to_string(result.replayed) + " keystrokes replayed, 0 diverged");

    Recording recording;
    std::string error;
    ASSERT_TRUE(ReadRecording(text, recording, error)) << error;
    std::vector<Record> kept;
    for (size_t i = 0; i < recording.records.size(); ++i) {
      if (i % 3 != seed % 3 || recording.records[i].kind == RecordKind::kSettings) kept.push_back(recording.records[i]);
    }
    recording.records = kept;
    result = sim::Replay(recording, {});
    ASSERT_EQ(result.diverged, 0) << "seed " << seed << " with gaps: " << result.report.front();
  }
}

// A recording that does not match what the library does now: each change
// to a recorded keystroke is reported at that keystroke, by what was
// recorded and what the library did.
struct Tampering {
  const char* from;  // first occurrence in the record's text
  const char* to;
  const char* report;
};

const Tampering kTamperings[] = {
    {"  keybd_event 0x1B 0x64 0x1 0\n", "  keybd_event 0x1B 0x64 0x3 0\n",
     "expected keybd_event 0x1B 0x64 0x3 0, got keybd_event 0x1B 0x64 0x1 0"},
    {"  keybd_event 0x1B 0x64 0x1 0\n", "",
     "expected CallNextHookEx 0x1 0 0x1B 0x1640001, got keybd_event 0x1B 0x64 0x1 0"},
    {"  returned 0x1\n", "  returned 0\n", "expected returned 0, got returned 0x1"},
    {"  returned 0x1\n", "  clock\n  returned 0x1\n", "expected clock, got no more calls"},
    {"  GetFocus -> 0x", "  ImmGetContext 0x1 -> 0x", "expected ImmGetContext 0x1, got GetFocus"},
};

TEST(Replay, ADifferenceIsReportedAtItsKeystroke) {
  // "a", then "@" as the cancel key: Esc is sent in its place.
  std::string good = Recorded("", [](sim::Desktop& desktop) {
    desktop.FindWindow("editor")->open = true;
    desktop.FindWindow("editor")->conversion = 0x19;
    desktop.Keystroke(0, 0x41, sim::KeystrokeLParam(0x1E, false, false));
    desktop.Keystroke(0, 0xC0, sim::KeystrokeLParam(0x1A, false, false));
  });
  ASSERT_EQ(ReplayText(good).diverged, 0) << good;
  size_t second = good.find("\nkeystroke", good.find("\nkeystroke") + 1);
  size_t line = std::count(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(second), '\n') + 2;

  for (const Tampering& t : kTamperings) {
    std::string text = good;
    size_t at = text.find(t.from);
    ASSERT_NE(at, std::string::npos) << t.from;
    ASSERT_GT(at, second) << "the tampering is meant for the second keystroke";
    text.replace(at, std::strlen(t.from), t.to);
    sim::ReplayResult result = ReplayText(text);
    EXPECT_EQ(result.diverged, 1) << text;
    EXPECT_EQ(result.report.front(),
              "keystroke 2 (line " + std::to_string(line) + ", notepad.exe, 0xC0/0x1A down): " + t.report);
    EXPECT_EQ(result.report.back(), std::to_string(result.replayed) + " keystrokes replayed, 1 diverged");
  }
}

// The example session in examples/: the cancel key, a commit on Space and
// direct commit input with the conversion key, recorded as the library
// records on Windows. Set TAVIK_WRITE_EXAMPLE to a file name to write it
// there, after a change to what the library does on these keys.
std::string ExampleSession() {
  std::string settings = "[TAVIK]\r\nOASYS KAKUTEI=1\r\nKAKUTEI INPUT=1\r\n";
  return Recorded(
      settings,
      [](sim::Desktop& desktop) {
        auto tap = [&](uint32_t vk, uint32_t scan) {
          desktop.Keystroke(0, vk, sim::KeystrokeLParam(scan, false, false));
          desktop.Keystroke(0, vk, sim::KeystrokeLParam(scan, true, true));
        };
        sim::Window& editor = *desktop.FindWindow("editor");
        desktop.SetImeFileName(std::string("MSIME.IME"));
        desktop.SetHostPath(std::string("C:\\Windows\\notepad.exe"));
        editor.open = true;
        editor.conversion = 0x19;
        tap(0x11, 0x1D);                          // Ctrl: no stage's, passed on at the first look
        tap(0x41, 0x1E);                          // a: direct commit input looks at it
        tap(0xC0, 0x1A);                          // @: Esc in its place
        editor.composition = "\x82\xA9\x82\xC8";  // かな, converted
        editor.attributes = "\x01\x01\x01\x01";
        tap(0x20, 0x39);                  // Space commits it and then types
        editor.composition = "\x83\x4A";  // カ, as typed
        editor.attributes = std::string("\0\0", 2);
        tap(0x1C, 0x79);  // henkan
      },
      true);
}

TEST(Replay, TheExampleSessionReplaysAndRunsAsScenarios) {
  std::string text = ExampleSession();
  if (const char* path = std::getenv("TAVIK_WRITE_EXAMPLE")) std::ofstream(path, std::ios::binary) << text;
  sim::ReplayResult result = ReplayText(text);
  EXPECT_EQ(result.diverged, 0) << result.report.front();
  Recording recording;
  std::string error;
  ASSERT_TRUE(ReadRecording(text, recording, error)) << error;
  EXPECT_GT(recording.trailer.passedOn, 0u);
  std::string scenario = sim::RecordingScenario(recording, "example.txt", sim::RecordLines(text));
  sim::ParseResult parsed = sim::ParseScenarios("example.scn", scenario);
  ASSERT_EQ(parsed.error, "") << scenario;
  for (const sim::Scenario& s : parsed.scenarios)
    EXPECT_TRUE(sim::RunScenario(s, sim::Report::kAccount).passed) << scenario;
}

// A record cut short in the ring checks what it has and no more.
TEST(Replay, ATruncatedRecordIsCheckedAsFarAsItGoes) {
  std::string text = ExampleSession();
  Recording recording;
  std::string error;
  ASSERT_TRUE(ReadRecording(text, recording, error)) << error;
  int cut = 0;
  for (Record& r : recording.records) {
    if (r.calls.size() < 3) continue;
    r.calls.resize(1);
    r.truncated = true;
    ++cut;
  }
  ASSERT_GT(cut, 0);
  sim::ReplayResult result = sim::Replay(recording, {});
  EXPECT_EQ(result.diverged, 0) << result.report.front();
  EXPECT_EQ(result.report.front(),
            "note: " + std::to_string(cut) + " truncated records checked only as far as their calls were recorded");
}

// A recording made into a scenario runs on a fresh simulated desktop and
// passes: the staged state is what the library found.
TEST(RecordingScenario, RecordedSessionsPassAsScenarios) {
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    std::string text = RecordedSession(seed, 40);
    Recording recording;
    std::string error;
    ASSERT_TRUE(ReadRecording(text, recording, error)) << error;
    std::string scenario = sim::RecordingScenario(recording, "session.txt", sim::RecordLines(text));
    sim::ParseResult parsed = sim::ParseScenarios("session.scn", scenario);
    ASSERT_EQ(parsed.error, "") << scenario;
    for (const sim::Scenario& s : parsed.scenarios) {
      sim::RunResult run = sim::RunScenario(s, sim::Report::kTrace);
      if (!run.passed) {
        std::string report;
        for (const std::string& line : run.report) report += line + "\n";
        FAIL() << "seed " << seed << "\n" << report;
      }
    }
  }
}

}  // namespace
}  // namespace tavik
