// The programs the driver types into: the target program, copies of it
// under the file names scenarios give as `host` (the hook library tells host
// programs apart by the file name GetModuleFileNameA(NULL) reports), and
// which of the test IME's keyboard layouts the current one has.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <utility>

#include "e2e/e2e_shared.h"
#include "e2e/ime_layouts.h"
// clang-format off
#include <windows.h>
// clang-format on

namespace tavik::e2e {

// The file name part of a `host` path: after the last \ or / (or the drive's
// colon), as Windows itself would take the path apart.
std::string HostFileName(const std::string& path);

// Why a `host` line cannot be arranged on the real desktop, or null.
const char* HostOnlyInSimulator(bool readable, const std::string& path);

// SendMessage with a time limit: the target's answer, 0 when it gives none.
LRESULT TellTarget(HWND window, TargetCommand command, WPARAM wParam = 0, LPARAM lParam = 0);

// One running target program.
class TargetProgram {
 public:
  // Starts `exe` with the test IME's layout `layout` and waits for its window.
  bool Start(const std::string& exe, uint32_t layout, Shared& shared, std::string& why);
  void Stop();
  HWND window() const { return window_; }
  uint32_t processId() const { return static_cast<uint32_t>(process_.dwProcessId); }

 private:
  PROCESS_INFORMATION process_ = {};
  HWND window_ = nullptr;
};

class Targets {
 public:
  // Installs the test IME's layouts and starts the target program itself.
  bool Start(const std::string& imePath, const std::string& targetPath, Shared& shared, std::string& why);
  // Stops the target program and every copy.
  void Stop();

  // Before each scenario: the target program itself, on the default layout.
  bool UseDefaults(std::string& why);
  // From here on the copy named after the path's file name (started now if
  // it is not running yet), on the layout the scenario has chosen so far.
  bool UseHost(const std::string& path, std::string& why);
  // From here on the layout of the IME file `name`, in the current program.
  bool UseImeFile(const std::string& name, std::string& why);
  // Every name switches in the target program, and back to the default.
  bool CheckLayouts(std::string& why);

  // For the trace: the program and the IME file as the current program
  // reported them at the last switch.
  std::string Describe() const;

  HWND window() const { return current_->window(); }
  uint32_t processId() const { return current_->processId(); }

 private:
  bool SwitchLayout(uint32_t layout, const std::string& name, std::string& why);

  Shared* shared_ = nullptr;
  std::string targetPath_;
  ImeLayouts layouts_;
  TargetProgram main_;
  // Each copy in a directory of its own, so that names differing only in
  // case are different files.
  std::list<std::pair<std::string, TargetProgram>> copies_;
  TargetProgram* current_ = &main_;
  std::string imeFile_;
};

}  // namespace tavik::e2e
