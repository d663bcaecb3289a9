#include "tests/support/fake_tray_platform.h"

#include <algorithm>
#include <cstring>

#include "tray/helper.h"

#include "sim/print.h"

namespace tavik::sim {

namespace {

std::string Text(const char* s) { return s == nullptr ? "NULL" : "\"" + std::string(s) + "\""; }

}  // namespace

std::vector<std::string> FakeTrayPlatform::Calls(const std::string& call) const {
  std::vector<std::string> out;
  for (const std::string& line : trace_) {
    if (line.rfind(call + "(", 0) == 0) out.push_back(line);
  }
  return out;
}

tray::Handle FakeTrayPlatform::CreateMutexA(int32_t bInitialOwner, const char* lpName) {
  std::string name = lpName == nullptr ? "" : lpName;
  lastError_ = mutexes_.count(name) != 0 ? w32::ERROR_ALREADY_EXISTS : 0;
  mutexes_.insert(name);
  trace_.push_back("CreateMutexA(" + Hex(static_cast<uint32_t>(bInitialOwner)) + ", " + Text(lpName) + ")");
  return tray::Handle{0x100};
}

tray::Hmodule FakeTrayPlatform::LoadLibraryA(const char* lpLibFileName) {
  loaded_ = exports_.has_value() && std::string(lpLibFileName) == tray::kHookLibraryName;
  trace_.push_back("LoadLibraryA(" + Text(lpLibFileName) + ") = " + (loaded_ ? "hlib" : "NULL"));
  return loaded_ ? tray::Hmodule{0x200} : tray::Hmodule{};
}

tray::FarProc FakeTrayPlatform::GetProcAddress(tray::Hmodule hModule, const char* lpProcName) {
  tray::FarProc proc{};
  if (loaded_ && hModule == tray::Hmodule{0x200} && exports_->count(lpProcName) != 0) {
    exportNames_.push_back(lpProcName);
    proc = tray::FarProc{exportNames_.size()};
  }
  trace_.push_back("GetProcAddress(hlib, " + Text(lpProcName) + ") = " + (IsNull(proc) ? "NULL" : lpProcName));
  return proc;
}

int32_t FakeTrayPlatform::FreeLibrary(tray::Hmodule hLibModule) {
  bool ok = loaded_ && hLibModule == tray::Hmodule{0x200};
  loaded_ = false;
  trace_.push_back(std::string("FreeLibrary(hlib) = ") + (ok ? "1" : "0"));
  return ok ? 1 : 0;
}

uint32_t FakeTrayPlatform::CallExport(tray::FarProc proc, uint32_t argument) {
  auto n = static_cast<size_t>(proc);
  if (n == 0 || n > exportNames_.size() || !loaded_) {
    trace_.push_back("call through a bad pointer");
    return 0;
  }
  trace_.push_back(exportNames_[n - 1] + "(" + Hex(argument) + ") = " + Hex(exportAnswer_));
  if (exportNames_[n - 1] == "HookRecord") {
    uint32_t was = recordingWord_;
    recordingWord_ = argument;
    return was;
  }
  return exportAnswer_;
}

void FakeTrayPlatform::CallExport(tray::FarProc proc) {
  auto n = static_cast<size_t>(proc);
  // Calling through a null or stale pointer would crash the real program.
  if (n == 0 || n > exportNames_.size() || !loaded_) {
    trace_.push_back("call through a bad pointer");
    return;
  }
  trace_.push_back(exportNames_[n - 1] + "()");
  if (onCall_) onCall_(exportNames_[n - 1]);
}

int32_t FakeTrayPlatform::GetVersionExA(tray::OsVersion* v) {
  bool ok = v != nullptr && v->dwOSVersionInfoSize == 148;
  if (ok) v->dwPlatformId = platformId_;
  trace_.push_back("GetVersionExA(" + std::string(ok ? "148" : "bad size") + ")");
  return ok ? 1 : 0;
}

uint32_t FakeTrayPlatform::GetPrivateProfileStringA(const char* lpAppName, const char* lpKeyName, const char* lpDefault,
                                               char* lpReturnedString, uint32_t nSize, const char* lpFileName) {
  uint32_t r = profiles_.GetString(lpAppName, lpKeyName, lpDefault, lpReturnedString, nSize, lpFileName);
  trace_.push_back("GetPrivateProfileStringA(" + Text(lpKeyName) + ", " + Text(lpDefault) + ") = " +
                   Text(lpReturnedString));
  return r;
}

int32_t FakeTrayPlatform::WritePrivateProfileStringA(const char* lpAppName, const char* lpKeyName, const char* lpString,
                                                const char* lpFileName) {
  bool fails = failWrite_ && failWrite_(writes_);
  ++writes_;
  bool ok = !fails && profiles_.WriteString(lpAppName, lpKeyName, lpString, lpFileName);
  trace_.push_back("WritePrivateProfileStringA(" + Text(lpKeyName) + ", " + Text(lpString) + ")" +
                   (ok ? "" : " fails"));
  return ok ? 1 : 0;
}

uint32_t FakeTrayPlatform::GetFullPathNameA(const char* lpFileName, uint32_t nBufferLength, char* lpBuffer) {
  // The current folder is the program's, as the tray program is started.
  std::string name = lpFileName;
  if (name.rfind(".\\", 0) == 0) name = name.substr(2);
  std::string full = programPath_.substr(0, programPath_.find_last_of('\\') + 1) + name;
  trace_.push_back("GetFullPathNameA(" + Text(lpFileName) + ") = " + Text(full.c_str()));
  if (full.size() >= nBufferLength) return static_cast<uint32_t>(full.size() + 1);
  std::memcpy(lpBuffer, full.c_str(), full.size() + 1);
  return static_cast<uint32_t>(full.size());
}

uint32_t FakeTrayPlatform::GetModuleFileNameA(tray::Hmodule hModule, char* lpFilename, uint32_t nSize) {
  // As Windows does: the path cut to the buffer, the length copied, and
  // nSize itself when it was cut.
  uint32_t r = 0;
  if (IsNull(hModule) && nSize > 0) {
    size_t n = programPath_.size() < nSize ? programPath_.size() : nSize - 1;
    std::memcpy(lpFilename, programPath_.data(), n);
    lpFilename[n] = '\0';
    r = programPath_.size() < nSize ? static_cast<uint32_t>(n) : nSize;
  }
  trace_.push_back("GetModuleFileNameA(NULL) = " + Text(lpFilename));
  return r;
}

tray::Handle FakeTrayPlatform::Open(Object object) {
  tray::Handle h{nextHandle_};
  nextHandle_ += 4;
  open_[static_cast<uintptr_t>(h)] = object;
  return h;
}

int32_t FakeTrayPlatform::DuplicateHandle(tray::Handle hSourceProcessHandle, tray::Handle hSourceHandle,
                                     tray::Handle hTargetProcessHandle, tray::Handle* lpTargetHandle,
                                     uint32_t dwDesiredAccess, int32_t bInheritHandle, uint32_t dwOptions) {
  // Only what the tray program duplicates: its own process, into itself.
  bool ok = hSourceProcessHandle == kCurrentProcess && hSourceHandle == kCurrentProcess &&
            hTargetProcessHandle == kCurrentProcess && dwOptions == 0;
  *lpTargetHandle = ok ? Open({Object::kSelf, bInheritHandle != 0, dwDesiredAccess}) : tray::Handle{};
  trace_.push_back("DuplicateHandle(self, " + Hex(dwDesiredAccess) + ", " + std::to_string(bInheritHandle) +
                   ") = " + Hex(static_cast<uintptr_t>(*lpTargetHandle)));
  return ok ? 1 : 0;
}

tray::Handle FakeTrayPlatform::CreateEventA(int32_t bInheritHandle, int32_t bManualReset, int32_t bInitialState) {
  tray::Handle h = Open({Object::kEvent, bInheritHandle != 0, 0});
  // One event is all the tray program makes: the helper's.
  helperReady_ = h;
  readySet_ = bInitialState != 0;
  trace_.push_back("CreateEventA(" + std::to_string(bInheritHandle) + ", " + std::to_string(bManualReset) + ", " +
                   std::to_string(bInitialState) + ") = " + Hex(static_cast<uintptr_t>(h)));
  return h;
}

int32_t FakeTrayPlatform::ResetEvent(tray::Handle hEvent) {
  bool ok = hEvent == helperReady_ && open_.count(static_cast<uintptr_t>(hEvent)) != 0;
  if (ok) readySet_ = false;
  trace_.push_back("ResetEvent(" + Hex(static_cast<uintptr_t>(hEvent)) + ")");
  return ok ? 1 : 0;
}

int32_t FakeTrayPlatform::CreateProcessA(const char* lpApplicationName, char* lpCommandLine, int32_t bInheritHandles,
                                    tray::ProcessInformation* lpProcessInformation) {
  trace_.push_back("CreateProcessA(" + Text(lpApplicationName) + ", " + Text(lpCommandLine) + ", " +
                   std::to_string(bInheritHandles) + ")");
  std::string expected = programPath_.substr(0, programPath_.find_last_of('\\') + 1) + tray::kHelperProgramName;
  if (helper_ == Helper::kAbsent || lpApplicationName == nullptr || expected != lpApplicationName) {
    lastError_ = 2;  // ERROR_FILE_NOT_FOUND
    return 0;
  }
  // What the helper finds on its command line, and whether it inherited it.
  uintptr_t tray = 0;
  uintptr_t ready = 0;
  auto inherited = [&](uintptr_t h, Object::Kind kind) {
    auto it = open_.find(h);
    return bInheritHandles != 0 && it != open_.end() && it->second.kind == kind && it->second.inheritable;
  };
  helperCanWait_ = tray::ParseHelperCommandLine(lpCommandLine, tray, ready) && inherited(tray, Object::kSelf) &&
                   (open_[tray].access & w32::SYNCHRONIZE) != 0 && inherited(ready, Object::kEvent) &&
                   tray::Handle{ready} == helperReady_;

  lpProcessInformation->hProcess = Open({Object::kProcess, false, 0});
  lpProcessInformation->hThread = Open({Object::kThread, false, 0});
  lpProcessInformation->dwProcessId = 0x700;
  lpProcessInformation->dwThreadId = 0x704;
  helperRunning_ = true;
  helperListens_ = true;
  helperLog_.clear();
  if (helper_ == Helper::kStartsHooks) {
    helperLog_.push_back("HookStart");
    if (helperCanWait_) readySet_ = true;
  } else if (helper_ == Helper::kEndsAtOnce) {
    HelperEnds(helperExitCode_);
  }
  return 1;
}

void FakeTrayPlatform::HelperEnds(uint32_t code) {
  helperRunning_ = false;
  helperEnded_ = code;
}

bool FakeTrayPlatform::Signalled(tray::Handle h) const {
  auto it = open_.find(static_cast<uintptr_t>(h));
  if (it == open_.end()) return false;
  if (it->second.kind == Object::kEvent) return h == helperReady_ && readySet_;
  if (it->second.kind == Object::kProcess) return !helperRunning_;
  return false;
}

uint32_t FakeTrayPlatform::WaitForMultipleObjects(uint32_t nCount, const tray::Handle* lpHandles, int32_t bWaitAll,
                                             uint32_t dwMilliseconds) {
  // Nothing happens while the tray program waits: what the helper does, it
  // has done by the time the call is made.
  uint32_t r = w32::WAIT_TIMEOUT;
  for (uint32_t i = 0; i < nCount && bWaitAll == 0; ++i) {
    if (open_.count(static_cast<uintptr_t>(lpHandles[i])) == 0) {
      r = w32::WAIT_FAILED;
      break;
    }
    if (Signalled(lpHandles[i])) {
      r = w32::WAIT_OBJECT_0 + i;
      break;
    }
  }
  trace_.push_back("WaitForMultipleObjects(" + std::to_string(nCount) + ", " + std::to_string(dwMilliseconds) +
                   ") = " + Hex(r));
  return r;
}

uint32_t FakeTrayPlatform::WaitForSingleObject(tray::Handle hHandle, uint32_t dwMilliseconds) {
  uint32_t r = open_.count(static_cast<uintptr_t>(hHandle)) == 0 ? w32::WAIT_FAILED
               : Signalled(hHandle)                               ? w32::WAIT_OBJECT_0
                                                                  : w32::WAIT_TIMEOUT;
  trace_.push_back("WaitForSingleObject(" + Hex(static_cast<uintptr_t>(hHandle)) + ", " +
                   std::to_string(dwMilliseconds) + ") = " + Hex(r));
  return r;
}

int32_t FakeTrayPlatform::GetExitCodeProcess(tray::Handle hProcess, uint32_t* lpExitCode) {
  auto it = open_.find(static_cast<uintptr_t>(hProcess));
  bool ok = it != open_.end() && it->second.kind == Object::kProcess;
  if (ok) *lpExitCode = helperRunning_ ? w32::STILL_ACTIVE : helperEnded_;
  trace_.push_back("GetExitCodeProcess(" + Hex(static_cast<uintptr_t>(hProcess)) + ")");
  return ok ? 1 : 0;
}

int32_t FakeTrayPlatform::TerminateProcess(tray::Handle hProcess, uint32_t uExitCode) {
  auto it = open_.find(static_cast<uintptr_t>(hProcess));
  bool ok = it != open_.end() && it->second.kind == Object::kProcess;
  // Killed: it removes no hooks itself, Windows does.
  if (ok && helperRunning_) HelperEnds(uExitCode);
  trace_.push_back("TerminateProcess(" + Hex(static_cast<uintptr_t>(hProcess)) + ", " + std::to_string(uExitCode) +
                   ")");
  return ok ? 1 : 0;
}

int32_t FakeTrayPlatform::CloseHandle(tray::Handle hObject) {
  bool ok = open_.erase(static_cast<uintptr_t>(hObject)) != 0;
  trace_.push_back("CloseHandle(" + Hex(static_cast<uintptr_t>(hObject)) + ")");
  return ok ? 1 : 0;
}

int32_t FakeTrayPlatform::PostThreadMessageA(uint32_t idThread, uint32_t Msg, uintptr_t, intptr_t) {
  bool ok = helperRunning_ && idThread == 0x704;
  trace_.push_back("PostThreadMessageA(" + Hex(idThread) + ", " + Hex(Msg) + ")");
  if (ok && helperListens_) {
    if (Msg == tray::WM_HELPER_RESTART) {
      helperLog_.push_back("HookEnd");
      helperLog_.push_back("HookStart");
      readySet_ = true;
    } else if (Msg == tray::WM_HELPER_END) {
      helperLog_.push_back("HookEnd");
      HelperEnds(tray::kHelperEnded);
    }
  }
  return ok ? 1 : 0;
}

uint32_t FakeTrayPlatform::RegisterWindowMessageA(const char* lpString) {
  auto it = std::find(registered_.begin(), registered_.end(), lpString);
  if (it == registered_.end()) it = registered_.insert(it, lpString);
  trace_.push_back("RegisterWindowMessageA(" + Text(lpString) + ")");
  return 0xC000 + static_cast<uint32_t>(it - registered_.begin());
}

uint32_t FakeTrayPlatform::Registered(const std::string& name) const {
  auto it = std::find(registered_.begin(), registered_.end(), name);
  return it == registered_.end() ? 0 : 0xC000 + static_cast<uint32_t>(it - registered_.begin());
}

uintptr_t FakeTrayPlatform::SetTimer(Hwnd, uintptr_t nIDEvent, uint32_t uElapse) {
  timers_.insert(nIDEvent);
  trace_.push_back("SetTimer(" + std::to_string(nIDEvent) + ", " + std::to_string(uElapse) + ")");
  return nIDEvent;
}

int32_t FakeTrayPlatform::KillTimer(Hwnd, uintptr_t uIDEvent) {
  bool ok = timers_.erase(uIDEvent) != 0;
  trace_.push_back("KillTimer(" + std::to_string(uIDEvent) + ")");
  return ok ? 1 : 0;
}

int32_t FakeTrayPlatform::MessageBoxA(Hwnd, const char* lpText, const char* lpCaption, uint32_t uType) {
  trace_.push_back("MessageBoxA(" + Text(lpText) + ", " + Text(lpCaption) + ", " + Hex(uType) + ")");
  return 1;
}

tray::Hicon FakeTrayPlatform::LoadImageA(int resource, uint32_t type, int32_t cx, int32_t cy, uint32_t fuLoad) {
  trace_.push_back("LoadImageA(" + std::to_string(resource) + ", " + Hex(type) + ", " + std::to_string(cx) + ", " +
                   std::to_string(cy) + ", " + Hex(fuLoad) + ")");
  return tray::Hicon{0x300};
}

int32_t FakeTrayPlatform::Shell_NotifyIconA(uint32_t dwMessage, const tray::NotifyIconData* lpData) {
  // As the shell does: one icon per window and id, none without a taskbar.
  bool same = iconShown_ && lpData->hWnd == icon_.hWnd && lpData->uID == icon_.uID;
  bool ok = taskbar_ && (dwMessage == w32::NIM_ADD ? !same : same);
  if (ok && (dwMessage == w32::NIM_ADD || dwMessage == w32::NIM_MODIFY)) {
    icon_ = *lpData;
    iconShown_ = true;
  } else if (ok && dwMessage == w32::NIM_DELETE) {
    iconShown_ = false;
  }
  trace_.push_back("Shell_NotifyIconA(" + Hex(dwMessage) + ")" + (ok ? "" : " fails"));
  return ok ? 1 : 0;
}

int32_t DialogRecord::CheckDlgButton(int nIDButton, uint32_t uCheck) {
  checked_[nIDButton] = uCheck == w32::BST_CHECKED;
  return 1;
}

int32_t DialogRecord::EnableWindow(int nIDDlgItem, int32_t bEnable) {
  bool wasDisabled = disabled_[nIDDlgItem];
  disabled_[nIDDlgItem] = bEnable == 0;
  return wasDisabled ? 1 : 0;
}

bool DialogRecord::Checked(int id) const {
  auto it = checked_.find(id);
  return it != checked_.end() && it->second;
}

bool DialogRecord::Enabled(int id) const {
  auto it = disabled_.find(id);
  return it == disabled_.end() || !it->second;
}

// --- Recording ---------------------------------------------------------------------

tray::Handle FakeTrayPlatform::CreateFileMappingA(uint32_t dwMaximumSizeLow, const char* lpName) {
  trace_.push_back("CreateFileMappingA(" + std::to_string(dwMaximumSizeLow) + ", " + Text(lpName) + ")");
  if (failMapping_ || dwMaximumSizeLow < sizeof(RecordingBlock)) return tray::Handle{};
  lastError_ = block_ ? w32::ERROR_ALREADY_EXISTS : 0;
  if (!block_) block_ = std::make_unique<RecordingBlock>();
  return Open(Object{Object::kEvent, false, 0});
}

void* FakeTrayPlatform::MapViewOfFile(tray::Handle hFileMappingObject, size_t) {
  if (open_.count(static_cast<uintptr_t>(hFileMappingObject)) == 0 || !block_) return nullptr;
  ++views_;
  return block_.get();
}

int32_t FakeTrayPlatform::UnmapViewOfFile(const void* lpBaseAddress) {
  if (lpBaseAddress != block_.get() || views_ == 0) return 0;
  --views_;
  return 1;
}

void FakeTrayPlatform::SetEnvironment(const std::string& name, std::optional<std::string> value) {
  if (value) {
    environment_[name] = *value;
  } else {
    environment_.erase(name);
  }
}

uint32_t FakeTrayPlatform::GetEnvironmentVariableA(const char* lpName, char* lpBuffer, uint32_t nSize) {
  auto found = environment_.find(lpName);
  if (found == environment_.end()) return 0;
  const std::string& value = found->second;
  if (value.size() + 1 > nSize) return static_cast<uint32_t>(value.size() + 1);
  std::memcpy(lpBuffer, value.c_str(), value.size() + 1);
  return static_cast<uint32_t>(value.size());
}

namespace {
std::string Parent(const std::string& path) {
  size_t slash = path.rfind('\\');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}
}  // namespace

int32_t FakeTrayPlatform::CreateDirectoryA(const char* lpPathName) {
  trace_.push_back("CreateDirectoryA(" + Text(lpPathName) + ")");
  if (folders_.count(lpPathName) != 0) {
    lastError_ = w32::ERROR_ALREADY_EXISTS;
    return 0;
  }
  if (folders_.count(Parent(lpPathName)) == 0) {
    lastError_ = 3;  // ERROR_PATH_NOT_FOUND
    return 0;
  }
  folders_.insert(lpPathName);
  return 1;
}

tray::Handle FakeTrayPlatform::CreateFileA(const char* lpFileName) {
  trace_.push_back("CreateFileA(" + Text(lpFileName) + ")");
  if (folders_.count(Parent(lpFileName)) == 0 || files_.count(lpFileName) != 0) return tray::kInvalidHandle;
  files_[lpFileName] = "";
  tray::Handle h = Open(Object{Object::kEvent, false, 0});
  fileHandles_[static_cast<uintptr_t>(h)] = lpFileName;
  return h;
}

int32_t FakeTrayPlatform::WriteFile(tray::Handle hFile, const void* lpBuffer, uint32_t nNumberOfBytesToWrite,
                                    uint32_t* lpNumberOfBytesWritten) {
  *lpNumberOfBytesWritten = 0;
  auto found = fileHandles_.find(static_cast<uintptr_t>(hFile));
  if (found == fileHandles_.end() || open_.count(found->first) == 0) return 0;
  if (failFileWrite_ && failFileWrite_(fileWrites_++)) return 0;
  files_[found->second].append(static_cast<const char*>(lpBuffer), nNumberOfBytesToWrite);
  *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
  return 1;
}

int32_t FakeTrayPlatform::GetKeyboardLayoutList(int32_t nBuff, Hkl* lpList) {
  const Hkl layouts[] = {Hkl{0x04110411}, Hkl{0xE0200411}};
  int32_t n = 0;
  for (Hkl layout : layouts) {
    if (n < nBuff) lpList[n++] = layout;
  }
  return n;
}

uint32_t FakeTrayPlatform::ImmGetIMEFileNameA(Hkl hKL, char* lpszFileName, uint32_t uBufLen) {
  if (hKL != Hkl{0xE0200411} || uBufLen < 12) return 0;
  std::memcpy(lpszFileName, "TESTIME.IME", 12);
  return 11;
}

intptr_t FakeTrayPlatform::ShellExecuteA(Hwnd, const char* lpOperation, const char* lpFile) {
  trace_.push_back("ShellExecuteA(" + Text(lpOperation) + ", " + Text(lpFile) + ")");
  return 42;
}

}  // namespace tavik::sim
