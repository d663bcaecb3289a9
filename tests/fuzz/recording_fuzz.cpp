// Fuzz target: any text as a recording. The reader must never crash, hang
// or read out of bounds, whatever a user's file holds; what it accepts must
// write back to a text that reads the same; and the replay and the scenario
// writer must take whatever it accepted, with any answers the recorded calls
// give the library.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/recording.h"
#include "sim/recording_scenario.h"
#include "sim/replay.h"

namespace {

[[noreturn]] void Broken(const char* what, const std::string& detail) {
  std::fprintf(stderr, "recording: %s\n%s\n", what, detail.c_str());
  std::abort();
}

std::string Written(const tavik::Recording& r) {
  std::string text = tavik::FormatHeader(r.header);
  for (const tavik::Record& record : r.records) text += tavik::FormatRecord(record);
  if (r.hasTrailer) text += tavik::FormatTrailer(r.trailer);
  return text;
}

void Check(const std::string& text) {
  tavik::Recording recording;
  std::string error;
  if (!tavik::ReadRecording(text, recording, error)) {
    if (error.rfind("line ", 0) != 0) Broken("an error without its line", error);
    return;
  }
  // What was read writes as a text that reads back to the same text.
  std::string first = Written(recording);
  tavik::Recording again;
  if (!tavik::ReadRecording(first, again, error)) Broken("its own text does not read", error + "\n" + first);
  if (Written(again) != first) Broken("its own text reads otherwise", first);

  std::vector<size_t> lines = tavik::sim::RecordLines(text);
  if (lines.size() != recording.records.size()) Broken("a record's line not found", text);
  tavik::sim::ReplayResult result = tavik::sim::Replay(recording, lines);
  if (result.replayed > static_cast<int>(recording.records.size())) Broken("more replayed than recorded", text);
  tavik::sim::RecordingScenario(recording, "fuzz.txt", lines);
}

// A good recording to spoil: the cancel key with the IME open in kana
// input, its Esc coming back, a commit on Space, a message.
constexpr const char kRecords[] =
    "\nkeystroke \"notepad.exe\" pid 4120 thread 4124 time 2471048 64-bit\n"
    "  code 0 wParam 0xC0 lParam 0x1A0001\n"
    "  GetFocus -> 0x1\n"
    "  ImmGetContext 0x1 -> 0x1001\n"
    "  ImmGetOpenStatus 0x1001 -> 0x1\n"
    "  ImmGetConversionStatus 0x1001 -> 0x1 out 19 00 00 00 00 00 00 00\n"
    "  ImmReleaseContext 0x1 0x1001 -> 0x1\n"
    "  keybd_event 0x1B 0x64 0x1 0\n"
    "  CallNextHookEx 0x1 0 0x1B 0x1640001\n"
    "  returned 0x1\n"
    "\nkeystroke \"notepad.exe\" pid 4120 thread 4124 time 2471064 64-bit\n"
    "  code 0 wParam 0x1B lParam 0x1640001\n"
    "  words cancelEscDown=1\n"
    "  in-flight 0x1641B sent-behind 0\n"
    "  CallNextHookEx 0x1 0 0x1B 0x1640001\n"
    "  returned 0\n"
    "\nsettings \"notepad.exe\" pid 4120 thread 4124 time 2471070 32-bit\n"
    "  setting TORIKESHI KEY=1\n  setting CAPSLOCK ON=1\n  setting CAPSLOCK OFF=1\n  setting ROMAJI BACKSPACE=1\n"
    "  setting KATAKANA KEY=0\n  setting ROMAJI ONOFF=0\n  setting IMEOFF TORIKESHI=0\n  setting CANNOT OPEN IME=0\n"
    "  setting IME ONOFF=0\n  setting IME CONFIG=0\n  setting IME ON=0\n  setting HANKAKU KANA=0\n"
    "  setting IME OFF1=0\n  setting IME OFF2=0\n  setting KANA TO EIJI CAPSLOCK=0\n"
    "  setting KANA TO EIJI CAPSLOCK OFF=0\n  setting OASYS KAKUTEI=1\n  setting KAKUTEI INPUT=1\n"
    "  setting NUMBER KAKUTEI=0\n  setting VELTO=0\n  setting IME2007=0\n  setting BACKSPACE PRIORITY=0\n"
    "  setting OASYS DISABLE IME OFF=0\n  setting IE DISABLE TORIKESHI=0\n  setting IE DISABLE ESC=0\n"
    "  setting KAKUTEI TATEGAKI=0\n  setting KAKUTEI NOT CR=0\n"
    "\nkeystroke \"notepad.exe\" pid 4120 thread 4124 time 2471112 32-bit\n"
    "  code 0 wParam 0x20 lParam 0x390001\n"
    "  armed 0x64\n"
    "  GetFocus -> 0x1\n"
    "  ImmGetContext 0x1 -> 0x1001\n"
    "  ImmGetOpenStatus 0x1001 -> 0x1\n"
    "  GetKeyboardLayout 0 -> 0xE0010411\n"
    "  ImmGetIMEFileNameA 0xE0010411 0x80 -> 0x9 out 4D 53 49 4D 45 2E 49 4D 45\n"
    "  ImmGetCompositionStringA 0x1001 0x10 0x400 -> 0x4 out 01 01 01 01\n"
    "  ImmNotifyIME 0x1001 0x15 0x1 0 -> 0x1\n"
    "  keybd_event 0x20 0 0 0\n"
    "  ImmReleaseContext 0x1 0x1001 -> 0x1\n"
    "  returned 0x1\n"
    "\nmessage \"notepad.exe\" pid 4120 thread 4124 time 2471192 64-bit\n"
    "  code 0 wParam 0x1 lParam 0 message 0x10F\n"
    "  words revertOnComposition=1\n"
    "  GetFocus -> 0x1\n"
    "  CallNextHookEx 0x2 0 0x1 0\n"
    "  returned 0\n"
    "\nstopped lost 3 passed-on 12\n";

// The good recording edited line by line, a byte an edit: a line dropped,
// doubled, swapped with the next or cut short. Mostly still a recording,
// whose replay then parts from the library's calls in every way.
std::string Edited(const std::string& good, const uint8_t* data, size_t size) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < good.size();) {
    size_t end = good.find('\n', start);
    lines.push_back(good.substr(start, end - start));
    start = end + 1;
  }
  for (size_t i = 2; i < size && i < 2 + size_t{data[0]} % 4 && !lines.empty(); ++i) {
    size_t at = (data[i] >> 2) * 7919u % lines.size();
    switch (data[i] & 3) {
      case 0:
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(at));
        break;
      case 1:
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), lines[at]);
        break;
      case 2:
        if (at + 1 < lines.size()) std::swap(lines[at], lines[at + 1]);
        break;
      default:
        lines[at].resize(lines[at].size() / 2);
    }
  }
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  Check(input);
  // Random bytes seldom write a whole header, let alone records: the input
  // also spoils a good recording, written into it at a place its first two
  // bytes choose, and cuts it off there, as a file cut off while written.
  static const std::string good = tavik::FormatHeader(tavik::RecordingHeader{}) + kRecords;
  size_t at = size >= 2 ? (data[0] | data[1] << 8) % (good.size() + 1) : good.size();
  std::string rest = size >= 2 ? input.substr(2) : input;
  Check(good.substr(0, at) + rest + good.substr(at));
  Check(good.substr(0, at));
  Check(Edited(good, data, size));
  return 0;
}
