#include "tray/helper.h"

#include <cstdio>
#include <cstring>

namespace tavik::tray {

namespace {

// A decimal number with at least one digit and no sign; advances `p`.
bool ReadNumber(const char*& p, uintptr_t& value) {
  if (*p < '0' || *p > '9') return false;
  uintptr_t v = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    uintptr_t next = v * 10 + static_cast<uintptr_t>(*p - '0');
    if (next / 10 != v) return false;  // wrapped
    v = next;
  }
  value = v;
  return true;
}

void SkipBlanks(const char*& p) {
  while (*p == ' ' || *p == '\t') ++p;
}

}  // namespace

bool FormatHelperCommandLine(char* out, size_t size, const char* helperPath, uintptr_t trayProcess,
                             uintptr_t readyEvent) {
  int n = std::snprintf(out, size, "\"%s\" %llu %llu", helperPath, static_cast<unsigned long long>(trayProcess),
                        static_cast<unsigned long long>(readyEvent));
  return n > 0 && static_cast<size_t>(n) < size;
}

bool ParseHelperCommandLine(const char* commandLine, uintptr_t& trayProcess, uintptr_t& readyEvent) {
  const char* p = commandLine;
  SkipBlanks(p);
  // The program's path, as Windows splits it off: up to the closing quote,
  // or up to the first blank.
  if (*p == '"') {
    p = std::strchr(p + 1, '"');
    if (p == nullptr) return false;
    ++p;
  } else {
    while (*p != '\0' && *p != ' ' && *p != '\t') ++p;
  }
  uintptr_t process = 0;
  uintptr_t event = 0;
  SkipBlanks(p);
  if (!ReadNumber(p, process)) return false;
  SkipBlanks(p);
  if (!ReadNumber(p, event)) return false;
  SkipBlanks(p);
  if (*p != '\0' || process == 0 || event == 0) return false;
  trayProcess = process;
  readyEvent = event;
  return true;
}

bool BesideProgram(char* out, size_t size, const char* programPath, const char* fileName) {
  // The program path comes from GetModuleFileNameA, in the system's code
  // page; a trail byte of code page 932 can be 0x5C, the backslash, so the
  // walk steps over whole characters.
  size_t folder = 0;
  for (size_t i = 0; programPath[i] != '\0';) {
    auto c = static_cast<unsigned char>(programPath[i]);
    bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    if (lead && programPath[i + 1] != '\0') {
      i += 2;
      continue;
    }
    if (c == '\\' || c == '/' || c == ':') folder = i + 1;
    ++i;
  }
  size_t name = std::strlen(fileName);
  if (folder + name + 1 > size) return false;
  std::memcpy(out, programPath, folder);
  std::memcpy(out + folder, fileName, name + 1);
  return true;
}

}  // namespace tavik::tray
