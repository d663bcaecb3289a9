// A typing session on a simulated desktop, driven by a source of choices:
// random settings, focus changes, IME states, compositions of every kind,
// candidate lists, failing calls, held modifiers, both hook codes and
// retrieved composition reports. After every step it checks what must
// always hold: the cancel key's Esc is down exactly while the library says
// so, every shared word is 0 or 1, and no synthetic key is down while no
// typed key is; at the end, every context released and every block freed.
// Returns what went wrong first, or "" when nothing did.
//
// The random typing test drives it with a seeded generator, the fuzz target
// with the fuzzer's bytes: `Next` is anything that gives a uint32_t per call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "hook/shared_block.h"
#include "hook/stages.h"
#include "sim/desktop.h"
#include "sim/library_hooks.h"
#include "sim/keys.h"

namespace tavik::typing {

// Every key some stage claims, and a few that none does.
constexpr const char* kKeys[] = {
    "at",       "esc",      "a",        "space",    "enter",    "numenter",   "bs",      "lshift",    "rshift",
    "comma",    "eiji",     "eisu",     "capslock", "hankaku",  "zenkaku",    "muhenkan", "henkan",   "hiragana",
    "katakana", "left",     "right",    "up",       "down",     "home",       "end",     "pgup",      "pgdn",
    "tab",      "ins",      "del",      "pause",    "scrolllock", "numlock",  "0x25/0x04B", "0xF0/0x07D"};
constexpr const char* kCalls[] = {"GetFocus", "ImmGetContext", "ImmGetOpenStatus", "ImmGetConversionStatus",
                                  "ImmGetCompositionStringA", "ImmGetIMEFileNameA", "GetModuleFileNameA",
                                  "keybd_event", "SendInput", "GlobalAlloc", "GlobalLock", "GetAsyncKeyState",
                                  "ImmGetCandidateListA", "ImmNotifyIME"};
constexpr const char* kImeNames[] = {"OAKIME.IME", "ATOKX.IME", "X.IME"};
// Composition characters of each kind the stages tell apart: full-width
// digits and separators, ASCII digits and separators, katakana (voiceable,
// complete, ン), letters, a lone lead byte, half-width kana and its marks,
// symbols, voicing marks, the ideographic space, hiragana, full-width letters.
constexpr const char* kCharacters[] = {
    "\x82\x50", "\x82\x58", "\x81\x43", "1",        ",",        "\x83\x4A", "\x83\x41", "\x83\x93",
    "A",        "k",        "\x82",     "\xB6",     "\xDE",     "\xDD",     "\x81\x4A", "\x81\x40",
    "\x82\xA0", "\x82\x60"};

// A composition of random characters with attributes of one of the classes
// the commit stage tells apart.
template <typename Next>
void Compose(Next& rng, sim::Window& w) {
  w.composition.clear();
  for (size_t n = rng() % 5; n > 0; --n) w.composition += kCharacters[rng() % std::size(kCharacters)];
  // Unconverted, one target clause, converted with the target last or
  // first, with an input error, with a target not yet converted, errors only.
  static const std::vector<std::vector<char>> kClasses = {{0}, {1}, {2, 1}, {1, 2}, {1, 4}, {1, 3}, {4}};
  const std::vector<char>& pattern = kClasses[rng() % kClasses.size()];
  w.attributes.clear();
  for (size_t i = 0; i < w.composition.size(); ++i) {
    w.attributes += rng() % 8 == 0 ? static_cast<char>(rng() % 5) : pattern[i * pattern.size() / w.composition.size()];
  }
  switch (rng() % 3) {
    case 0:
      w.candidateList.reset();
      break;
    case 1:
      w.candidateList = 0;
      break;
    default:
      w.candidateList = 1 + rng() % 4;
  }
}
constexpr uint32_t kModifiers[] = {w32::VK_SHIFT, w32::VK_CONTROL, w32::VK_MENU};

// A synthetic key left down, unless its key-up was dropped: no one can
// release it without knowing the send failed.
std::string StuckKey(const sim::Desktop& desktop) {
  for (const std::string& v : desktop.InvariantViolations()) {
    bool droppedRelease = false;
    for (uint32_t vk = 0; vk < 256; ++vk) {
      droppedRelease = droppedRelease || (desktop.LastSendDropped(vk) && desktop.SyntheticKeyDown(vk) &&
                                          v == "synthetic key-down of " + sim::Hex(vk) + " without its key-up");
    }
    if (!droppedRelease && v.rfind("synthetic", 0) == 0) return v;
  }
  return "";
}

template <typename Next>
std::string TypeSession(Next& rng, int steps, sim::Desktop& desktop) {
  auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };

  HookSharedBlock block{};
  sim::RunLibraryHooks(desktop, block);
  desktop.AddWindow("editor");
  desktop.AddWindow("plain", false);
  desktop.SetFocus("editor");
  std::string settings = "[TAVIK]\r\n";
  for (int i = 0; i < kSettingCount; ++i) settings += std::string(kSettingKeys[i].name) + (chance(50) ? "=1\r\n" : "=0\r\n");
  desktop.profiles().SetFile(kSettingsFile, settings);
  desktop.SetImeFileName(std::string(kImeNames[rng() % std::size(kImeNames)]));
  if (chance(25)) desktop.SetHostPath(std::string("C:\\IE\\iexplore.exe"));
  HookStart(desktop, block, sim::kModuleInstance, sim::kKeyboardProcToken, sim::kMessageProcToken);

  // The desktop's Esc follows the library's word, except after a send the
  // desktop dropped: keybd_event returns nothing, so the library cannot know.
  auto escDisagrees = [&] {
    return !desktop.LastSendDropped(w32::VK_ESCAPE) &&
           desktop.SyntheticKeyDown(w32::VK_ESCAPE) != (block.runtime.cancelKey.escDown == 1);
  };

  std::vector<sim::KeyId> down;
  for (int step = 0; step < steps; ++step) {
    // Change the world now and then.
    if (chance(10)) desktop.SetFocus(chance(70) ? "editor" : chance(50) ? "plain" : "");
    if (sim::Window* w = desktop.FindWindow("editor"); w != nullptr && chance(15)) {
      w->open = chance(60);
      w->conversion = rng() % 0x20;
      Compose(rng, *w);
    }
    // What direct commit input would hold back, and a writing direction
    // that changes while keys are down.
    if (chance(5)) block.runtime.heldBack.commitAsTyped = chance(50) ? 1 : 0;
    if (chance(3)) block.runtime.heldBack.katakanaRecheck = chance(50) ? 1 : 0;
    // What the conversion keys wait for after such katakana: a conversion
    // to undo, or a second press to swallow.
    if (chance(3)) block.runtime.conversionKeys.revertOnComposition = chance(50) ? 1 : 0;
    if (chance(3)) block.runtime.conversionKeys.conversionKeyArmed = chance(50) ? 1 : 0;
    // The clock moves on, now and then backwards (another process's), and
    // the IME reports its composition to the application.
    if (chance(10)) desktop.SetClock(static_cast<int32_t>(rng() % 400));
    if (chance(5)) desktop.RetrieveMessage(chance(10) ? -1 : 0, chance(70), chance(70) ? 0x10F : 0x10D + rng() % 3);
    if (chance(3)) desktop.SetKeyState(w32::VK_KANA, chance(50) ? 1 : 0);
    if (chance(2)) block.flag[kKakuteiTategaki] = chance(50) ? 1 : 0;
    if (chance(5)) {
      const char* call = kCalls[rng() % std::size(kCalls)];
      if (chance(50)) {
        desktop.Fail(call);
      } else {
        desktop.Restore(call);
      }
    }
    if (chance(5)) desktop.SetHeld(kModifiers[rng() % std::size(kModifiers)], chance(30));
    // Press a new key or release a held one (keys held repeat). Now and then
    // the application peeks at the keystroke before it removes it.
    bool peek = chance(10);
    sim::KeyId k;
    bool up;
    bool repeat = false;
    if (down.empty() || chance(50)) {
      k = *sim::LookUpKey(kKeys[rng() % std::size(kKeys)]);
      up = false;
      for (const auto& d : down) repeat = repeat || d.scanKey == k.scanKey;
      if (!repeat) down.push_back(k);
    } else {
      size_t i = rng() % down.size();
      k = down[i];
      up = true;
      down.erase(down.begin() + static_cast<std::ptrdiff_t>(i));
    }
    intptr_t lParam = sim::KeystrokeLParam(k.scanKey, up, up || repeat);
    if (peek) desktop.Keystroke(w32::HC_NOREMOVE, k.vk, lParam);
    desktop.Keystroke(w32::HC_ACTION, k.vk, lParam);
    if (escDisagrees()) {
      return "step " + std::to_string(step) + ": the desktop's Esc is " +
             (desktop.SyntheticKeyDown(w32::VK_ESCAPE) ? "down" : "up") + " but cancelEscDown is " +
             std::to_string(block.runtime.cancelKey.escDown);
    }
    for (const RuntimeWordName& word : kRuntimeWords) {
      int32_t value = word.word(block.runtime);
      if (value != 0 && value != 1) return "step " + std::to_string(step) + ": " + word.name + " is " + std::to_string(value);
    }
    if (std::string v = StuckKey(desktop); down.empty() && !v.empty()) return "step " + std::to_string(step) + ": " + v;
  }
  // Let go of everything with the world in order again.
  for (const char* call : kCalls) desktop.Restore(call);
  for (uint32_t vk : kModifiers) desktop.SetHeld(vk, false);
  desktop.SetFocus("editor");
  for (const auto& k : down) {
    desktop.Keystroke(w32::HC_ACTION, k.vk, sim::KeystrokeLParam(k.scanKey, true, true));
    if (escDisagrees()) return "letting go: the desktop's Esc disagrees with cancelEscDown";
  }

  if (block.runtime.cancelKey.escDown != 0) return "cancelEscDown is still 1";
  // The word is cleared by our Backspace's key-up coming back, which a
  // dropped send never does; the next stroke of the key clears it then.
  if (block.runtime.romajiBackspace.backspaceSubstituted != 0 && !desktop.LastSendDropped(w32::VK_BACK)) {
    return "backspaceSubstituted is still 1";
  }
  for (const std::string& v : desktop.InvariantViolations()) {
    if (v.rfind("synthetic", 0) != 0) return v;
  }
  if (std::string v = StuckKey(desktop); !v.empty()) return v;
  return "";
}

}  // namespace tavik::typing
