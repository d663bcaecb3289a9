// Runs a fuzz target without libFuzzer (a compiler that lacks it, or a
// quick fixed run): COUNT inputs from a seeded generator, of random lengths
// up to MAXLEN, made of random bytes and, with a dictionary in libFuzzer's
// format, of its entries; or the files named on the command line.
//   usage: FUZZER [-runs=COUNT] [-seed=N] [-max_len=MAXLEN] [-dict=FILE] [FILE...]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// The quoted values of a dictionary file: name="value", with \xNN and backslash
// escapes; comments and blank lines skipped.
std::vector<std::string> ReadDictionary(const char* path) {
  std::vector<std::string> entries;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    size_t open = line.find('"');
    size_t close = line.rfind('"');
    if (line.empty() || line[0] == '#' || open == std::string::npos || close <= open) continue;
    std::string value;
    for (size_t i = open + 1; i < close; ++i) {
      if (line[i] == '\\' && i + 3 < close && line[i + 1] == 'x') {
        value += static_cast<char>(std::strtol(line.substr(i + 2, 2).c_str(), nullptr, 16));
        i += 3;
      } else if (line[i] == '\\' && i + 1 < close) {
        value += line[++i];
      } else {
        value += line[i];
      }
    }
    entries.push_back(value);
  }
  return entries;
}

}  // namespace

int main(int argc, char** argv) {
  long runs = 1000;
  unsigned long seed = 1;
  size_t maxLen = 4096;
  std::vector<const char*> files;
  std::vector<std::string> dictionary;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "-runs=", 6) == 0) {
      runs = std::strtol(argv[i] + 6, nullptr, 10);
    } else if (std::strncmp(argv[i], "-seed=", 6) == 0) {
      seed = std::strtoul(argv[i] + 6, nullptr, 10);
    } else if (std::strncmp(argv[i], "-max_len=", 9) == 0) {
      maxLen = std::strtoul(argv[i] + 9, nullptr, 10);
    } else if (std::strncmp(argv[i], "-dict=", 6) == 0) {
      dictionary = ReadDictionary(argv[i] + 6);
    } else if (argv[i][0] != '-') {
      files.push_back(argv[i]);
    }
  }
  for (const char* f : files) {
    std::ifstream in(f, std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(data.data(), data.size());
  }
  if (!files.empty()) return 0;
  std::mt19937_64 rng(seed);
  std::vector<uint8_t> data;
  for (long r = 0; r < runs; ++r) {
    size_t length = static_cast<size_t>(rng() % (maxLen + 1));
    data.clear();
    while (data.size() < length) {
      if (!dictionary.empty() && rng() % 2 == 0) {
        const std::string& entry = dictionary[rng() % dictionary.size()];
        data.insert(data.end(), entry.begin(), entry.end());
      } else {
        data.push_back(static_cast<uint8_t>(rng()));
      }
    }
    LLVMFuzzerTestOneInput(data.data(), data.size());
  }
  std::printf("%ld inputs, no failure\n", runs);
  return 0;
}
