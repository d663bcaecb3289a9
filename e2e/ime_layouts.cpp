#include "e2e/ime_layouts.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

// clang-format off
#include <windows.h>
#include <imm.h>
// clang-format on

namespace tavik::e2e {

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return in ? text.str() : std::string();
}

// The layout whose "Ime File" is exactly `file`, as ImmInstallIMEA wrote it.
uint32_t InstalledLayout(const std::string& file) {
  HKEY layouts;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Keyboard Layouts", 0, KEY_READ,
                    &layouts) != ERROR_SUCCESS) {
    return 0;
  }
  uint32_t found = 0;
  char name[64];
  for (DWORD i = 0; found == 0; ++i) {
    DWORD nameSize = sizeof name;
    if (RegEnumKeyExA(layouts, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    char value[MAX_PATH] = {};
    DWORD valueSize = sizeof value - 1;
    // Exactly: the hook library tells IMEs apart by upper-case letters, so
    // an entry of an earlier run with the name in other letters will not do.
    if (RegGetValueA(layouts, name, "Ime File", RRF_RT_REG_SZ, nullptr, value, &valueSize) == ERROR_SUCCESS &&
        file == value) {
      found = static_cast<uint32_t>(std::strtoul(name, nullptr, 16));
    }
  }
  RegCloseKey(layouts);
  return found;
}

}  // namespace

const char* ImeFileOnlyInSimulator(bool readable, const std::string& name) {
  if (!readable) return "makes ImmGetIMEFileNameA fail";
  for (const char* installed : kImeFileNames) {
    if (name == installed) return nullptr;
  }
  static const std::string why = [] {
    std::string text = "names an IME file the driver does not install (it installs";
    for (const char* installed : kImeFileNames) text += std::string(" ") + installed;
    return text + ")";
  }();
  return why.c_str();
}

std::string ImeFilePart(const std::string& reported) {
  size_t slash = reported.find_last_of('\\');
  return slash == std::string::npos ? reported : reported.substr(slash + 1);
}

bool ImeLayouts::Install(const std::string& imePath, std::string& why) {
  char systemDir[MAX_PATH];
  GetSystemDirectoryA(systemDir, sizeof systemDir);
  for (const char* name : kImeFileNames) {
    std::string installed = std::string(systemDir) + "\\" + name;
    // A copy that is in use (a target of an earlier run still going) may
    // stay only if it is this very build.
    if (!CopyFileA(imePath.c_str(), installed.c_str(), FALSE) && ReadAll(imePath) != ReadAll(installed)) {
      why = "cannot copy " + imePath + " to " + installed;
      return false;
    }
    uint32_t layout = InstalledLayout(installed);
    if (layout == 0) {
      HKL hkl = ImmInstallIMEA(installed.c_str(), (std::string("tavik test IME ") + name).c_str());
      if (hkl == nullptr) {
        why = "ImmInstallIMEA failed for " + installed;
        return false;
      }
      layout = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(hkl));
    }
    layouts_.emplace_back(name, layout);
  }
  return true;
}

uint32_t ImeLayouts::Layout(const std::string& name) const {
  for (const auto& [file, layout] : layouts_) {
    if (file == name) return layout;
  }
  return 0;
}

}  // namespace tavik::e2e
