// tavik-sim: runs scenario files against the hook code on the simulated
// desktop and prints what happened.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "sim/scenario.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: tavik-sim FILE...\n");
    return 2;
  }

  // Every file is read and checked before anything runs, so a typo in the
  // last file is not found after minutes of output.
  std::vector<tavik::sim::Scenario> scenarios;
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "%s: cannot read file\n", argv[i]);
      return 2;
    }
    std::stringstream text;
    text << in.rdbuf();
    tavik::sim::ParseResult parsed = tavik::sim::ParseScenarios(argv[i], text.str());
    if (!parsed.error.empty()) {
      std::fprintf(stderr, "%s\n", parsed.error.c_str());
      return 2;
    }
    for (auto& s : parsed.scenarios) scenarios.push_back(std::move(s));
  }

  int passed = 0;
  int failed = 0;
  for (const auto& s : scenarios) {
    tavik::sim::RunResult r = tavik::sim::RunScenario(s);
    for (const std::string& line : r.report) std::printf("%s\n", line.c_str());
    std::printf("\n");
    (r.passed ? passed : failed)++;
  }
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
