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

#include "sim/scenario.h"

namespace {

constexpr const char kUsage[] =
    "usage: tavik-sim [--trace] FILE-OR-FOLDER...\n"
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
    "  --help     this text\n"
    "  --version  tavik's version\n"
    "\n"
    "exit code: 0 all passed, 1 some failed, 2 a usage error or a malformed file.\n"
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

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  // The account shows Japanese as UTF-8.
  SetConsoleOutputCP(CP_UTF8);
#endif
  tavik::sim::Report report = tavik::sim::Report::kAccount;
  std::vector<std::string> arguments;
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
    } else {
      std::fprintf(stderr, "tavik-sim: unknown option %s\n\n%s", a.c_str(), kUsage);
      return 2;
    }
  }
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
