// Runs one kind of keystroke through the keyboard hook many times, with
// callgrind counting instructions only around the keystrokes, so that the
// count per keystroke does not depend on the machine. Prints the platform
// calls per keystroke too.
//   usage: tavik_keystroke_cost CASE COUNT
//   CASE: bare, unclaimed-on, unclaimed-off, at-kana, trace
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/bare_pass_through.h"
#include "tests/support/null_platform.h"
#include "hook/shared_block.h"
#include "hook/stages.h"

namespace {

using namespace tavik;

struct Keystroke {
  uint32_t vk;
  uint32_t scanKey;
  bool up;
  bool composing;  // a converted composition waits when the key comes
};

intptr_t LParam(const Keystroke& k) {
  uint32_t l = 1u | ((k.scanKey & 0xFFu) << 16) | ((k.scanKey & 0x100u) != 0 ? 1u << 24 : 0u);
  if (k.up) l |= 0xC0000000u;
  return static_cast<intptr_t>(l);
}

// A few hundred keystrokes of Japanese typed with every feature on: words
// typed in romaji and converted with Space, committed by Enter or by the
// cursor keys, with punctuation, Backspace, the cancel key and the IME
// on/off key between them.
std::vector<Keystroke> ReferenceTrace() {
  std::vector<Keystroke> trace;
  auto tap = [&](uint32_t vk, uint32_t scan, bool composing = false) {
    trace.push_back({vk, scan, false, composing});
    trace.push_back({vk, scan, true, false});
  };
  const char* words[] = {"kyouha", "yoi", "tenkidesu", "nihongo", "wo", "nyuuryoku", "suru"};
  const uint32_t letterScan[26] = {0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26, 0x32,
                                   0x31, 0x18, 0x19, 0x10, 0x13, 0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C};
  for (int sentence = 0; sentence < 4; ++sentence) {
    for (const char* w : words) {
      for (const char* c = w; *c != '\0'; ++c) tap(static_cast<uint32_t>(*c - 'a' + 'A'), letterScan[*c - 'a']);
      tap(0x20, 0x39);        // Space converts
      tap(0x20, 0x39, true);  // and Space again commits the converted word
    }
    tap(0xBC, 0x33);         // 、
    tap(0x08, 0x0E);         // Backspace
    tap(0xC0, 0x1A);         // the cancel key
    tap(0x27, 0x14D, true);  // Right commits
    tap(0x0D, 0x1C, true);   // Enter commits
    tap(0xF3, 0x29);         // hankaku/zenkaku
  }
  return trace;
}

std::vector<Keystroke> Case(const char* name, HookSharedBlock& block) {
  int32_t on = std::strcmp(name, "unclaimed-off") == 0 ? 0 : 1;
  for (int32_t& f : block.flag) f = on;
  std::vector<Keystroke> keys;
  if (std::strcmp(name, "at-kana") == 0) {
    keys = {{0xC0, 0x1A, false, false}, {0xC0, 0x1A, true, false}};
  } else if (std::strcmp(name, "trace") == 0) {
    keys = ReferenceTrace();
  } else {
    // F5: a key that no stage claims, whatever the flags.
    keys = {{0x74, 0x3F, false, false}, {0x74, 0x3F, true, false}};
  }
  return keys;
}

using Procedure = intptr_t (*)(InputPlatform&, HookSharedBlock&, ProcessVariables&, int32_t, uintptr_t, intptr_t);

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s CASE COUNT\n", argv[0]);
    return 2;
  }
  const char* name = argv[1];
  long count = std::strtol(argv[2], nullptr, 10);
  NullPlatform platform;
  HookSharedBlock block{};
  ProcessVariables process;
  std::vector<Keystroke> keys = Case(name, block);
  // Chosen at run time, so that the compiler cannot shape the loop for one.
  Procedure procedure = std::strcmp(name, "bare") == 0 ? BarePassThrough : KeyboardProcedure;

  intptr_t sink = 0;
  CALLGRIND_START_INSTRUMENTATION;
  for (long i = 0; i < count; ++i) {
    const Keystroke& k = keys[static_cast<size_t>(i) % keys.size()];
    platform.composing = k.composing;
    // What the hook sent has come back before the next key: an application
    // that keeps up (the null platform sends nothing back itself).
    block.inFlight.count = 0;
    sink += procedure(platform, block, process, 0, k.vk, LParam(k));
  }
  CALLGRIND_STOP_INSTRUMENTATION;

  std::printf("%s: %ld keystrokes, %.2f platform calls per keystroke (%ld)\n", name, count,
              static_cast<double>(platform.calls) / static_cast<double>(count), static_cast<long>(sink & 1));
  return 0;
}
