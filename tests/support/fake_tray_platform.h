// The tray program's test double: a TrayPlatform with mutexes, a loadable
// hook library, the settings file, message boxes and the notification area,
// each call written to a trace; and the settings dialog's controls.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/recording.h"
#include "sim/profile.h"
#include "tray/tray.h"

namespace tavik::sim {

class FakeTrayPlatform final : public tray::TrayPlatform {
 public:
  // The library LoadLibraryA("tavikhook.dll") finds, with the exports it
  // has; none when unset. Each export, when called, runs `onCall` if given.
  void SetHookLibrary(std::optional<std::set<std::string>> exports) { exports_ = std::move(exports); }
  void OnExportCalled(std::function<void(const std::string&)> onCall) { onCall_ = std::move(onCall); }
  void SetPlatformId(uint32_t id) { platformId_ = id; }
  // Another process holds a mutex of this name.
  void HoldMutexElsewhere(const std::string& name) { mutexes_.insert(name); }

  // The program file, as GetModuleFileNameA(NULL) reports it.
  void SetProgramPath(std::string path) { programPath_ = std::move(path); }
  // What CreateProcessA finds at the helper's path, and what the helper does
  // once started: starts its hooks and says so; ends at once with
  // `exitCode`; or never says anything. A helper that runs does as it is
  // told by the thread messages of tray/helper.h and keeps a log of the
  // hook library calls it makes.
  enum class Helper { kAbsent, kStartsHooks, kEndsAtOnce, kSilent };
  void SetHelper(Helper helper, uint32_t exitCode = 0) {
    helper_ = helper;
    helperExitCode_ = exitCode;
  }
  // From now on the running helper ignores the tray program's messages.
  void HelperStopsListening() { helperListens_ = false; }
  bool HelperRunning() const { return helperRunning_; }
  const std::vector<std::string>& helperLog() const { return helperLog_; }
  // It was given, inheritably, the event it sets and a handle of the tray
  // program's own process it can wait on (SYNCHRONIZE): what it needs to end
  // when the tray program is killed.
  bool HelperCanWaitForTray() const { return helperCanWait_; }
  // Kernel handles the tray program holds open now.
  size_t OpenHandles() const { return open_.size(); }

  // Writes to the settings file that fail, by their number (0 for the
  // first write from now on); null: none fails.
  void FailWrites(std::function<bool(int)> fails) {
    failWrite_ = std::move(fails);
    writes_ = 0;
  }
  // No taskbar: the shell takes no icon. A taskbar that comes (back) has no
  // icons; the program hears of it through the message it registered as
  // "TaskbarCreated", which the test delivers.
  void SetTaskbar(bool present) {
    taskbar_ = present;
    iconShown_ = false;
  }
  uint32_t Registered(const std::string& name) const;
  bool TimerSet(uintptr_t id) const { return timers_.count(id) != 0; }

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
  // Recorded with its argument; answers what SetExportAnswer set.
  uint32_t CallExport(tray::FarProc proc, uint32_t argument) override;
  void SetExportAnswer(uint32_t answer) { exportAnswer_ = answer; }
  int32_t GetVersionExA(tray::OsVersion* lpVersionInformation) override;
  uint32_t GetPrivateProfileStringA(const char* lpAppName, const char* lpKeyName, const char* lpDefault,
                                    char* lpReturnedString, uint32_t nSize, const char* lpFileName) override;
  int32_t WritePrivateProfileStringA(const char* lpAppName, const char* lpKeyName, const char* lpString,
                                     const char* lpFileName) override;
  uint32_t GetFullPathNameA(const char* lpFileName, uint32_t nBufferLength, char* lpBuffer) override;
  uint32_t GetModuleFileNameA(tray::Hmodule hModule, char* lpFilename, uint32_t nSize) override;
  tray::Handle GetCurrentProcess() override { return kCurrentProcess; }
  int32_t DuplicateHandle(tray::Handle hSourceProcessHandle, tray::Handle hSourceHandle,
                          tray::Handle hTargetProcessHandle, tray::Handle* lpTargetHandle, uint32_t dwDesiredAccess,
                          int32_t bInheritHandle, uint32_t dwOptions) override;
  tray::Handle CreateEventA(int32_t bInheritHandle, int32_t bManualReset, int32_t bInitialState) override;
  int32_t ResetEvent(tray::Handle hEvent) override;
  int32_t CreateProcessA(const char* lpApplicationName, char* lpCommandLine, int32_t bInheritHandles,
                         tray::ProcessInformation* lpProcessInformation) override;
  uint32_t WaitForMultipleObjects(uint32_t nCount, const tray::Handle* lpHandles, int32_t bWaitAll,
                                  uint32_t dwMilliseconds) override;
  uint32_t WaitForSingleObject(tray::Handle hHandle, uint32_t dwMilliseconds) override;
  int32_t GetExitCodeProcess(tray::Handle hProcess, uint32_t* lpExitCode) override;
  int32_t TerminateProcess(tray::Handle hProcess, uint32_t uExitCode) override;
  int32_t CloseHandle(tray::Handle hObject) override;
  int32_t PostThreadMessageA(uint32_t idThread, uint32_t Msg, uintptr_t wParam, intptr_t lParam) override;
  uint32_t RegisterWindowMessageA(const char* lpString) override;
  uintptr_t SetTimer(Hwnd hWnd, uintptr_t nIDEvent, uint32_t uElapse) override;
  int32_t KillTimer(Hwnd hWnd, uintptr_t uIDEvent) override;
  int32_t MessageBoxA(Hwnd hWnd, const char* lpText, const char* lpCaption, uint32_t uType) override;
  tray::Hicon LoadImageA(int resource, uint32_t type, int32_t cx, int32_t cy, uint32_t fuLoad) override;
  int32_t Shell_NotifyIconA(uint32_t dwMessage, const tray::NotifyIconData* lpData) override;

  // Recording: the named block (one, kept alive as the libraries' views
  // would keep it), files and folders by path, the environment, the clocks.
  // The word HookRecord last set in the libraries.
  uint32_t recordingWord() const { return recordingWord_; }
  RecordingBlock* mappedBlock() { return block_.get(); }
  size_t MappedViews() const { return views_; }
  void FailMapping(bool fail) { failMapping_ = fail; }
  void SetEnvironment(const std::string& name, std::optional<std::string> value);
  // Writes to files that fail, by their number from now on.
  void FailFileWrites(std::function<bool(int)> fails) {
    failFileWrite_ = std::move(fails);
    fileWrites_ = 0;
  }
  void SetLocalTime(tray::SystemTime t) { localTime_ = t; }
  void AdvanceTicks(uint32_t ms) { ticks_ += ms; }
  const std::map<std::string, std::string>& files() const { return files_; }
  const std::set<std::string>& folders() const { return folders_; }
  void AddFolder(const std::string& path) { folders_.insert(path); }

  tray::Handle CreateFileMappingA(uint32_t dwMaximumSizeLow, const char* lpName) override;
  void* MapViewOfFile(tray::Handle hFileMappingObject, size_t dwNumberOfBytesToMap) override;
  int32_t UnmapViewOfFile(const void* lpBaseAddress) override;
  uint32_t GetEnvironmentVariableA(const char* lpName, char* lpBuffer, uint32_t nSize) override;
  int32_t CreateDirectoryA(const char* lpPathName) override;
  tray::Handle CreateFileA(const char* lpFileName) override;
  int32_t WriteFile(tray::Handle hFile, const void* lpBuffer, uint32_t nNumberOfBytesToWrite,
                    uint32_t* lpNumberOfBytesWritten) override;
  void GetLocalTime(tray::SystemTime* lpSystemTime) override { *lpSystemTime = localTime_; }
  uint32_t GetTickCount() override { return ticks_; }
  uint32_t GetVersion() override { return 0x4A65000A; }  // 10.0.19045
  int32_t GetKeyboardLayoutList(int32_t nBuff, Hkl* lpList) override;
  uint32_t ImmGetIMEFileNameA(Hkl hKL, char* lpszFileName, uint32_t uBufLen) override;
  intptr_t ShellExecuteA(Hwnd hwnd, const char* lpOperation, const char* lpFile) override;

 private:
  ProfileStore profiles_;
  std::optional<std::set<std::string>> exports_;
  uint32_t exportAnswer_ = 0;
  std::function<void(const std::string&)> onCall_;
  std::vector<std::string> exportNames_;  // FarProc n is exportNames_[n - 1]
  std::set<std::string> mutexes_;
  uint32_t lastError_ = 0;
  uint32_t platformId_ = w32::VER_PLATFORM_WIN32_NT;
  bool loaded_ = false;
  bool iconShown_ = false;
  bool taskbar_ = true;
  tray::NotifyIconData icon_{};
  std::function<bool(int)> failWrite_;
  int writes_ = 0;
  std::vector<std::string> registered_;  // message 0xC000 + n is registered_[n]
  std::set<uintptr_t> timers_;
  std::vector<std::string> trace_;

  // Kernel objects: the helper's process and thread, events, and this
  // process's own handle. An object lives while a handle is open.
  static constexpr tray::Handle kCurrentProcess{~uintptr_t{0}};
  struct Object {
    enum Kind { kEvent, kProcess, kThread, kSelf } kind;
    bool inheritable;
    uint32_t access;
  };
  tray::Handle Open(Object object);
  bool Signalled(tray::Handle h) const;
  void HelperEnds(uint32_t code);
  std::string programPath_ = "C:\\tavik\\tavik.exe";
  Helper helper_ = Helper::kAbsent;
  uint32_t helperExitCode_ = 0;
  bool helperRunning_ = false;
  bool helperListens_ = true;
  bool helperCanWait_ = false;
  uint32_t helperEnded_ = 0;  // its exit code once it has ended
  tray::Handle helperReady_{};
  bool readySet_ = false;
  std::vector<std::string> helperLog_;
  std::map<uintptr_t, Object> open_;
  uintptr_t nextHandle_ = 0x500;

  uint32_t recordingWord_ = 0;
  std::unique_ptr<RecordingBlock> block_;
  size_t views_ = 0;
  bool failMapping_ = false;
  std::map<std::string, std::string> environment_ = {{"LOCALAPPDATA", "C:\\Users\\user\\AppData\\Local"}};
  std::set<std::string> folders_ = {"C:\\Users\\user\\AppData\\Local"};
  std::map<std::string, std::string> files_;
  std::map<uintptr_t, std::string> fileHandles_;
  std::function<bool(int)> failFileWrite_;
  int fileWrites_ = 0;
  tray::SystemTime localTime_{2026, 12, 2, 8, 2, 15, 30, 0};
  uint32_t ticks_ = 1000;
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
