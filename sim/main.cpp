// tavik-sim: runs scenario files against the hook code on the simulated
// desktop and says what happened: an account in words by default, every
// platform call with --trace.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "common/recording.h"
#include "sim/recording_scenario.h"
#include "sim/replay.h"
#include "sim/scenario.h"

namespace {

constexpr const char kUsage[] =
    "usage: tavik-sim [--trace] FILE-OR-FOLDER...\n"
    "       tavik-sim --replay RECORDING\n"
    "       tavik-sim --scenario RECORDING [-o OUT]\n"
    "\n"
    "Runs scenario files against tavik's keyboard hook on a simulated Windows\n"
    "desktop and checks their expectations. A folder stands for every *.scn\n"
    "file in it, in name order. Scenario files are described in\n"
    "docs/scenarios.md.\n"
    "\n"
    "For each step it says what was typed, what the application received,\n"
    "what the IME did and how the application's text changed; then each\n"
    "expectation's verdict, and at the end \"N passed, M failed\".\n"
    "\n"
    "options:\n"
    "  --trace    every platform call the hook makes, instead of the account\n"
    "  --replay RECORDING\n"
    "             runs every keystroke of a recording made with the tray\n"
    "             program's recording through the hook again, answering each\n"
    "             call as the user's Windows did; reports each keystroke where\n"
    "             the hook now does otherwise, then \"N keystrokes replayed,\n"
    "             M diverged\"\n"
    "  --scenario RECORDING\n"
    "             writes a scenario file that stages, types and checks each\n"
    "             recorded keystroke (to OUT with -o, else to standard output)\n"
    "  --help     this text\n"
    "  --version  tavik's version\n"
    "\n"
    "exit code: 0 all passed (or none diverged), 1 some failed (or diverged),\n"
    "2 a usage error or a malformed file.\n"
    "PASS and FAIL are coloured on a terminal, unless NO_COLOR is set.\n";

// Colour only for a person at a terminal: piped output goes to scripts and
// files, which would get escape codes. Windows' console is left plain.
bool Colour() {
#ifdef _WIN32
  return false;
#else
  const char* noColour = std::getenv("NO_COLOR");
  const char* term = std::getenv("TERM");
  return isatty(STDOUT_FILENO) != 0 && (noColour == nullptr || *noColour == '\0') &&
         (term == nullptr || std::strcmp(term, "dumb") != 0);
#endif
}

// A report line with its PASS or FAIL in green or red.
std::string Coloured(const std::string& line) {
  size_t at = line.find_first_not_of(' ');
  if (at == std::string::npos) return line;
  for (const auto& [word, code] : {std::pair{"PASS ", "32"}, std::pair{"FAIL ", "31"}}) {
    if (line.compare(at, std::strlen(word), word) == 0) {
      return line.substr(0, at) + "\033[" + code + "m" + std::string(word, 4) + "\033[0m" + line.substr(at + 4);
    }
  }
  return line;
}

// The files an argument names: itself, or a folder's *.scn files in name order.
std::vector<std::string> FilesOf(const std::string& argument) {
  std::error_code error;
  if (!std::filesystem::is_directory(argument, error)) return {argument};
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(argument, error)) {
    if (entry.path().extension() == ".scn" && !entry.is_directory(error)) files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool ReadText(const std::string& file, std::string& text) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::stringstream buffer;
  buffer << in.rdbuf();
  text = buffer.str();
  return true;
}

// A recording read whole, or the reason it cannot be: exit code 2, as for a
// malformed scenario.
int ReadRecordingFile(const std::string& file, std::string& text, tavik::Recording& recording) {
  if (!ReadText(file, text)) {
    std::fprintf(stderr, "%s: cannot read file\n", file.c_str());
    return 2;
  }
  std::string error;
  if (!tavik::ReadRecording(text, recording, error)) {
    std::fprintf(stderr, "%s: %s\n", file.c_str(), error.c_str());
    return 2;
  }
  return 0;
}

int ReplayFile(const std::string& file) {
  std::string text;
  tavik::Recording recording;
  if (int rc = ReadRecordingFile(file, text, recording)) return rc;
  tavik::sim::ReplayResult result = tavik::sim::Replay(recording, tavik::sim::RecordLines(text));
  for (const std::string& line : result.report) std::printf("%s\n", line.c_str());
  return result.diverged == 0 ? 0 : 1;
}

int ScenarioFile(const std::string& file, const std::string& out) {
  std::string text;
  tavik::Recording recording;
  if (int rc = ReadRecordingFile(file, text, recording)) return rc;
  std::string scenario = tavik::sim::RecordingScenario(recording, file, tavik::sim::RecordLines(text));
  if (out.empty()) {
    std::fputs(scenario.c_str(), stdout);
    return 0;
  }
  std::ofstream o(out, std::ios::binary);
  o << scenario;
  o.close();
  if (!o) {
    std::fprintf(stderr, "%s: cannot write file\n", out.c_str());
    return 2;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  // The account shows Japanese as UTF-8.
  SetConsoleOutputCP(CP_UTF8);
#endif
  tavik::sim::Report report = tavik::sim::Report::kAccount;
  std::vector<std::string> arguments;
  std::string replay;
  std::string scenarioOf;
  std::string out;
  bool optionsEnd = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (optionsEnd || a.size() < 2 || a[0] != '-') {
      arguments.push_back(a);
    } else if (a == "--") {
      optionsEnd = true;
    } else if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--version") {
      std::printf("tavik-sim %s\n", TAVIK_VERSION);
      return 0;
    } else if (a == "--trace") {
      report = tavik::sim::Report::kTrace;
    } else if ((a == "--replay" || a == "--scenario" || a == "-o") && i + 1 < argc) {
      (a == "--replay" ? replay : a == "--scenario" ? scenarioOf : out) = argv[++i];
    } else {
      std::fprintf(stderr, "tavik-sim: unknown option %s\n\n%s", a.c_str(), kUsage);
      return 2;
    }
  }
  // A recording is one file on its own: replayed, or turned into a scenario.
  int recordingModes = (replay.empty() ? 0 : 1) + (scenarioOf.empty() ? 0 : 1);
  if (recordingModes > 1 || (recordingModes == 1 && !arguments.empty()) || (!out.empty() && scenarioOf.empty())) {
    std::fprintf(stderr, "tavik-sim: --replay and --scenario take one recording and nothing else (-o only with "
                         "--scenario)\n\n%s", kUsage);
    return 2;
  }
  if (!replay.empty()) return ReplayFile(replay);
  if (!scenarioOf.empty()) return ScenarioFile(scenarioOf, out);
  if (arguments.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  // Every file is read and checked before anything runs, so a typo in the
  // last file is not found after minutes of output.
  std::vector<tavik::sim::Scenario> scenarios;
  for (const std::string& argument : arguments) {
    for (const std::string& file : FilesOf(argument)) {
      std::ifstream in(file, std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "%s: cannot read file\n", file.c_str());
        return 2;
      }
      std::stringstream text;
      text << in.rdbuf();
      tavik::sim::ParseResult parsed = tavik::sim::ParseScenarios(file, text.str());
      if (!parsed.error.empty()) {
        std::fprintf(stderr, "%s\n", parsed.error.c_str());
        return 2;
      }
      for (auto& s : parsed.scenarios) scenarios.push_back(std::move(s));
    }
  }

  bool colour = Colour();
  int passed = 0;
  int failed = 0;
  for (const auto& s : scenarios) {
    tavik::sim::RunResult r = tavik::sim::RunScenario(s, report);
    for (const std::string& line : r.report) std::printf("%s\n", (colour ? Coloured(line) : line).c_str());
    std::printf("\n");
    (r.passed ? passed : failed)++;
  }
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
