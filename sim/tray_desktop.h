// The tray program's side of the simulated desktop: mutexes, a loadable hook
// library, the settings file, message boxes and the notification area, each
// call written to a trace; and the settings dialog's controls.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sim/profile.h"
#include "tray/tray.h"

namespace tavik::sim {

class TrayDesktop final : public tray::TrayPlatform {
 public:
  // The library LoadLibraryA("tavikhook.dll") finds, with the exports it
  // has; none when unset. Each export, when called, runs `onCall` if given.
  void SetHookLibrary(std::optional<std::set<std::string>> exports) { exports_ = std::move(exports); }
  void OnExportCalled(std::function<void(const std::string&)> onCall) { onCall_ = std::move(onCall); }
  void SetPlatformId(uint32_t id) { platformId_ = id; }
  // Another process holds a mutex of this name.
  void HoldMutexElsewhere(const std::string& name) { mutexes_.insert(name); }

  ProfileStore& profiles() { return profiles_; }
  const std::vector<std::string>& trace() const { return trace_; }
  void ClearTrace() { trace_.clear(); }
  // The trace lines that begin with `call` ("WritePrivateProfileStringA", ...).
  std::vector<std::string> Calls(const std::string& call) const;
  bool LibraryLoaded() const { return loaded_; }
  bool IconShown() const { return iconShown_; }
  const tray::NotifyIconData& icon() const { return icon_; }

  tray::Handle CreateMutexA(int32_t bInitialOwner, const char* lpName) override;
  uint32_t GetLastError() override { return lastError_; }
  tray::Hmodule LoadLibraryA(const char* lpLibFileName) override;
  tray::FarProc GetProcAddress(tray::Hmodule hModule, const char* lpProcName) override;
  int32_t FreeLibrary(tray::Hmodule hLibModule) override;
  void CallExport(tray::FarProc proc) override;
  int32_t GetVersionExA(tray::OsVersion* lpVersionInformation) override;
  uint32_t GetPrivateProfileStringA(const char* lpAppName, const char* lpKeyName, const char* lpDefault,
                                    char* lpReturnedString, uint32_t nSize, const char* lpFileName) override;
  int32_t WritePrivateProfileStringA(const char* lpAppName, const char* lpKeyName, const char* lpString,
                                     const char* lpFileName) override;
  int32_t MessageBoxA(Hwnd hWnd, const char* lpText, const char* lpCaption, uint32_t uType) override;
  tray::Hicon LoadImageA(int resource, uint32_t type, int32_t cx, int32_t cy, uint32_t fuLoad) override;
  int32_t Shell_NotifyIconA(uint32_t dwMessage, const tray::NotifyIconData* lpData) override;

 private:
  ProfileStore profiles_;
  std::optional<std::set<std::string>> exports_;
  std::function<void(const std::string&)> onCall_;
  std::vector<std::string> exportNames_;  // FarProc n is exportNames_[n - 1]
  std::set<std::string> mutexes_;
  uint32_t lastError_ = 0;
  uint32_t platformId_ = tray::w32::VER_PLATFORM_WIN32_NT;
  bool loaded_ = false;
  bool iconShown_ = false;
  tray::NotifyIconData icon_{};
  std::vector<std::string> trace_;
};

// The settings dialog's controls: check state and enabled state by id, every
// control enabled and unchecked to begin with, as the template makes them.
class DialogRecord final : public tray::DialogControls {
 public:
  int32_t CheckDlgButton(int nIDButton, uint32_t uCheck) override;
  int32_t EnableWindow(int nIDDlgItem, int32_t bEnable) override;
  bool Checked(int id) const;
  bool Enabled(int id) const;

 private:
  std::map<int, bool> checked_;
  std::map<int, bool> disabled_;
};

}  // namespace tavik::sim
