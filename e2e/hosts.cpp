#include "e2e/hosts.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace tavik::e2e {

namespace {

constexpr DWORD kTimeoutMs = 5000;

bool Fail(std::string& why, const std::string& what) {
  why = what;
  return false;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return in ? text.str() : std::string();
}

std::string FilePart(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A directory of the driver's own for the copies: next to its settings file.
std::string CopiesDirectory() {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string dir = std::string(temp) + "tavik-e2e";
  CreateDirectoryA(dir.c_str(), nullptr);
  dir += "\\hosts";
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

}  // namespace

std::string HostFileName(const std::string& path) {
  size_t start = path.size() >= 2 && path[1] == ':' ? 2 : 0;
  size_t slash = path.find_last_of("\\/");
  if (slash != std::string::npos && slash + 1 > start) start = slash + 1;
  return path.substr(start);
}

const char* HostOnlyInSimulator(bool readable, const std::string& path) {
  if (!readable) return "makes GetModuleFileNameA fail";
  std::string name = HostFileName(path);
  if (name.empty()) return "gives a host path without a file name";
  if (name.find_first_of("<>:\"|?*") != std::string::npos) return "gives a host file name Windows does not allow";
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20) return "gives a host file name Windows does not allow";
  }
  // Windows drops these from a file name, so the program could not run
  // under the name as given.
  if (name.back() == '.' || name.back() == ' ') return "gives a host file name ending in a dot or blank";
  if (name.size() > 200) return "gives a host file name too long for a copy";
  return nullptr;
}

LRESULT TellTarget(HWND window, TargetCommand command, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(window, command, wParam, lParam, SMTO_ABORTIFHUNG, kTimeoutMs, &result);
  return static_cast<LRESULT>(result);
}

bool TargetProgram::Start(const std::string& exe, uint32_t layout, Shared& shared, std::string& why) {
  // The target runs in another directory than the driver's, so it could
  // not read the settings file even if it tried: what it does comes from
  // the block the library shares.
  char windowsDir[MAX_PATH];
  GetWindowsDirectoryA(windowsDir, sizeof windowsDir);
  char layoutName[16];
  std::snprintf(layoutName, sizeof layoutName, "%08X", layout);
  std::string commandLine = "\"" + exe + "\" " + layoutName;
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  shared.targetReady = 0;
  shared.imeActive = 0;
  if (!CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, windowsDir, &si,
                      &process_)) {
    return Fail(why, "cannot start " + exe);
  }
  for (DWORD waited = 0; !shared.targetReady; waited += 20) {
    if (waited > 20000 || WaitForSingleObject(process_.hProcess, 20) == WAIT_OBJECT_0) {
      return Fail(why, "the target program " + exe + " did not come up (is there an X display?)");
    }
  }
  window_ = reinterpret_cast<HWND>(static_cast<uintptr_t>(shared.targetWindow));
  if (!shared.imeActive) return Fail(why, "the test IME is not active in the target program " + exe);
  return true;
}

void TargetProgram::Stop() {
  if (process_.hProcess == nullptr) return;
  PostMessageA(window_, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(process_.hProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(process_.hProcess, 1);
  CloseHandle(process_.hProcess);
  CloseHandle(process_.hThread);
  process_ = {};
  window_ = nullptr;
}

bool Targets::Start(const std::string& imePath, const std::string& targetPath, Shared& shared, std::string& why) {
  shared_ = &shared;
  targetPath_ = targetPath;
  if (!layouts_.Install(imePath, why)) return false;
  imeFile_ = kImeFileNames[0];
  return main_.Start(targetPath, layouts_.DefaultLayout(), shared, why);
}

void Targets::Stop() {
  for (auto& [name, copy] : copies_) copy.Stop();
  copies_.clear();
  main_.Stop();
  current_ = &main_;
}

bool Targets::UseDefaults(std::string& why) {
  current_ = &main_;
  imeFile_ = kImeFileNames[0];
  return SwitchLayout(layouts_.DefaultLayout(), imeFile_, why);
}

bool Targets::UseHost(const std::string& path, std::string& why) {
  std::string name = HostFileName(path);
  TargetProgram* copy = nullptr;
  for (auto& [running, program] : copies_) {
    if (running == name) copy = &program;
  }
  if (copy == nullptr) {
    std::string dir = CopiesDirectory() + "\\" + std::to_string(copies_.size() + 1);
    CreateDirectoryA(dir.c_str(), nullptr);
    std::string exe = dir + "\\" + name;
    if (!CopyFileA(targetPath_.c_str(), exe.c_str(), FALSE) && ReadAll(targetPath_) != ReadAll(exe)) {
      return Fail(why, "cannot copy " + targetPath_ + " to " + exe);
    }
    copies_.emplace_back(name, TargetProgram{});
    copy = &copies_.back().second;
    // Like the target program itself it starts on the default layout,
    // which it checks; the scenario's layout follows below.
    if (!copy->Start(exe, layouts_.DefaultLayout(), *shared_, why)) return false;
  }
  current_ = copy;
  TellTarget(window(), kCmdSnapshot);
  std::string reported = FilePart(shared_->snapHostFile);
  if (reported != name) return Fail(why, "the copy of the target reports its file name as \"" + reported + "\"");
  return SwitchLayout(layouts_.Layout(imeFile_), imeFile_, why);
}

bool Targets::UseImeFile(const std::string& name, std::string& why) {
  uint32_t layout = layouts_.Layout(name);
  if (layout == 0) return Fail(why, "the IME file " + name + " is not installed");
  imeFile_ = name;
  return SwitchLayout(layout, name, why);
}

bool Targets::CheckLayouts(std::string& why) {
  for (const char* name : kImeFileNames) {
    if (!UseImeFile(name, why)) return false;
  }
  return UseDefaults(why);
}

std::string Targets::Describe() const {
  return std::string("GetModuleFileNameA \"") + shared_->snapHostFile + "\", ImmGetIMEFileNameA \"" +
         shared_->snapImeFile + "\"";
}

bool Targets::SwitchLayout(uint32_t layout, const std::string& name, std::string& why) {
  char id[16];
  std::snprintf(id, sizeof id, "%08X", layout);
  // The target answers with its snapshot taken after the switch.
  if (TellTarget(window(), kCmdLayout, layout) == 0) {
    return Fail(why, std::string("the target did not switch to the layout ") + id + " of " + name);
  }
  std::string reported = ImeFilePart(shared_->snapImeFile);
  if (reported != name) {
    char layoutNow[24];
    std::snprintf(layoutNow, sizeof layoutNow, "%llX", static_cast<unsigned long long>(shared_->snapLayout));
    return Fail(why, std::string("after the switch to ") + id + " (now " + layoutNow +
                         ") ImmGetIMEFileNameA reports \"" + shared_->snapImeFile + "\", not " + name);
  }
  return true;
}

}  // namespace tavik::e2e
