// tavik-e2e.exe: runs scenario files against the real tavikhook.dll on a
// real (Wine) desktop. It starts the target program with the test IME,
// sets the IME up as each scenario says, types real keystrokes with
// SendInput, and checks what the target received and what its IME was
// told. The shared block is read and written through the driver's own
// mapping of the library, the one every process shares. The scenarios are
// read by the same interpreter as on the simulated desktop.
//
// wine_connection.*: the real desktop, its programs and its self-checks;
// wine_scenario_desktop.*: a scenario's commands carried out there;
// load_on_wine.*: the load test; this file: the command line.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "sim/scenario.h"
#include "sim/scenario_desktop.h"
// After the portable headers: <windows.h> defines some of their names as macros.
#include "e2e/load_on_wine.h"
#include "e2e/record_on_wine.h"
#include "e2e/wine_connection.h"
#include "e2e/wine_scenario_desktop.h"

namespace {

using tavik::sim::Scenario;
using tavik::sim::Verdict;

std::string WindowsPath(std::string p) {
  for (char& c : p) {
    if (c == '/') c = '\\';
  }
  if (!p.empty() && p[0] == '\\') p = "Z:" + p;
  return p;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dll;
  std::string ime;
  std::string target;
  std::vector<std::string> files;
  unsigned long load = 0;
  unsigned long seed = 1;
  std::string record;  // --record FILE: the session recorded as the tray program records it
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if ((a == "--dll" || a == "--ime" || a == "--target") && i + 1 < argc) {
      // Made absolute: the driver works in a directory of its own.
      std::string path = WindowsPath(argv[++i]);
      char full[MAX_PATH];
      DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
      (a == "--dll" ? dll : a == "--ime" ? ime : target) = n > 0 && n < sizeof full ? std::string(full) : path;
    } else if (a == "--record" && i + 1 < argc) {
      record = WindowsPath(argv[++i]);
    } else if ((a == "--load" || a == "--seed") && i + 1 < argc) {
      (a == "--load" ? load : seed) = std::strtoul(argv[++i], nullptr, 10);
    } else {
      files.push_back(a);
    }
  }
  if (dll.empty() || ime.empty() || target.empty() || files.empty() == (load == 0)) {
    std::fprintf(stderr,
                 "usage: tavik-e2e --dll tavikhook.dll --ime testime.ime --target e2e-target.exe FILE...\n"
                 "       tavik-e2e --dll tavikhook.dll --ime testime.ime --target e2e-target.exe --load N [--seed S]\n");
    return 2;
  }

  std::vector<Scenario> scenarios;
  for (const std::string& f : files) {
    std::ifstream in(WindowsPath(f), std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "%s: cannot read file\n", f.c_str());
      return 2;
    }
    std::stringstream text;
    text << in.rdbuf();
    tavik::sim::ParseResult parsed = tavik::sim::ParseScenarios(f, text.str());
    if (!parsed.error.empty()) {
      std::fprintf(stderr, "%s\n", parsed.error.c_str());
      return 2;
    }
    for (auto& s : parsed.scenarios) scenarios.push_back(std::move(s));
  }

  // The settings file goes to a directory of our own.
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string work = std::string(temp) + "tavik-e2e";
  CreateDirectoryA(work.c_str(), nullptr);
  SetCurrentDirectoryA(work.c_str());

  tavik::e2e::WineConnection desktop;
  std::string why;
  if (load != 0) {
    int code = 1;
    if (desktop.Start(dll, ime, target, why)) {
      code = tavik::e2e::RunLoad(desktop, static_cast<uint32_t>(load), static_cast<uint32_t>(seed));
    } else {
      std::printf("FAIL the real desktop could not be set up: %s\n", why.c_str());
    }
    desktop.Stop();
    return code;
  }
  int passed = 0;
  int failed = 0;
  int simulatorOnly = 0;
  if (!desktop.Start(dll, ime, target, why)) {
    // Nothing can run: every scenario fails, none is skipped.
    std::printf("FAIL the real desktop could not be set up: %s\n", why.c_str());
    failed = static_cast<int>(scenarios.size());
  } else if (!record.empty() && !tavik::e2e::StartRecording(dll, why)) {
    std::printf("FAIL recording could not start: %s\n", why.c_str());
    failed = static_cast<int>(scenarios.size());
  } else {
    for (const Scenario& s : scenarios) {
      Verdict verdict =
          tavik::e2e::RunScenario(s, desktop, [](const std::string& line) { std::printf("%s\n", line.c_str()); });
      std::printf("\n");
      switch (verdict) {
        case Verdict::kPassed:
          ++passed;
          break;
        case Verdict::kFailed:
          ++failed;
          break;
        case Verdict::kSkipped:
          ++simulatorOnly;
          break;
      }
      std::fflush(stdout);
    }
  }
  if (!record.empty() && passed + failed != 0 && !tavik::e2e::FinishRecording(record, why)) {
    std::printf("FAIL the recording: %s\n", why.c_str());
    ++failed;
  }
  desktop.Stop();
  std::printf("%d passed, %d failed, %d skipped\n", passed, failed, simulatorOnly);
  if (passed == 0 && failed == 0) std::printf("no scenario could run on the real desktop\n");
  return failed == 0 && passed > 0 ? 0 : 1;
}
