#include "sim/tray_desktop.h"

#include <cstring>

#include "sim/desktop.h"

namespace tavik::sim {

namespace {

std::string Text(const char* s) { return s == nullptr ? "NULL" : "\"" + std::string(s) + "\""; }

}  // namespace

std::vector<std::string> TrayDesktop::Calls(const std::string& call) const {
  std::vector<std::string> out;
  for (const std::string& line : trace_) {
    if (line.rfind(call + "(", 0) == 0) out.push_back(line);
  }
  return out;
}

tray::Handle TrayDesktop::CreateMutexA(int32_t bInitialOwner, const char* lpName) {
  std::string name = lpName == nullptr ? "" : lpName;
  lastError_ = mutexes_.count(name) != 0 ? tray::w32::ERROR_ALREADY_EXISTS : 0;
  mutexes_.insert(name);
  trace_.push_back("CreateMutexA(" + Hex(static_cast<uint32_t>(bInitialOwner)) + ", " + Text(lpName) + ")");
  return tray::Handle{0x100};
}

tray::Hmodule TrayDesktop::LoadLibraryA(const char* lpLibFileName) {
  loaded_ = exports_.has_value() && std::string(lpLibFileName) == tray::kHookLibraryName;
  trace_.push_back("LoadLibraryA(" + Text(lpLibFileName) + ") = " + (loaded_ ? "hlib" : "NULL"));
  return loaded_ ? tray::Hmodule{0x200} : tray::Hmodule{};
}

tray::FarProc TrayDesktop::GetProcAddress(tray::Hmodule hModule, const char* lpProcName) {
  tray::FarProc proc{};
  if (loaded_ && hModule == tray::Hmodule{0x200} && exports_->count(lpProcName) != 0) {
    exportNames_.push_back(lpProcName);
    proc = tray::FarProc{exportNames_.size()};
  }
  trace_.push_back("GetProcAddress(hlib, " + Text(lpProcName) + ") = " + (IsNull(proc) ? "NULL" : lpProcName));
  return proc;
}

int32_t TrayDesktop::FreeLibrary(tray::Hmodule hLibModule) {
  bool ok = loaded_ && hLibModule == tray::Hmodule{0x200};
  loaded_ = false;
  trace_.push_back(std::string("FreeLibrary(hlib) = ") + (ok ? "1" : "0"));
  return ok ? 1 : 0;
}

void TrayDesktop::CallExport(tray::FarProc proc) {
  auto n = static_cast<size_t>(proc);
  // Calling through a null or stale pointer would crash the real program.
  if (n == 0 || n > exportNames_.size() || !loaded_) {
    trace_.push_back("call through a bad pointer");
    return;
  }
  trace_.push_back(exportNames_[n - 1] + "()");
  if (onCall_) onCall_(exportNames_[n - 1]);
}

int32_t TrayDesktop::GetVersionExA(tray::OsVersion* v) {
  bool ok = v != nullptr && v->dwOSVersionInfoSize == 148;
  if (ok) v->dwPlatformId = platformId_;
  trace_.push_back("GetVersionExA(" + std::string(ok ? "148" : "bad size") + ")");
  return ok ? 1 : 0;
}

uint32_t TrayDesktop::GetPrivateProfileStringA(const char* lpAppName, const char* lpKeyName, const char* lpDefault,
                                               char* lpReturnedString, uint32_t nSize, const char* lpFileName) {
  uint32_t r = profiles_.GetString(lpAppName, lpKeyName, lpDefault, lpReturnedString, nSize, lpFileName);
  trace_.push_back("GetPrivateProfileStringA(" + Text(lpKeyName) + ", " + Text(lpDefault) + ") = " +
                   Text(lpReturnedString));
  return r;
}

int32_t TrayDesktop::WritePrivateProfileStringA(const char* lpAppName, const char* lpKeyName, const char* lpString,
                                                const char* lpFileName) {
  bool ok = profiles_.WriteString(lpAppName, lpKeyName, lpString, lpFileName);
  trace_.push_back("WritePrivateProfileStringA(" + Text(lpKeyName) + ", " + Text(lpString) + ")");
  return ok ? 1 : 0;
}

int32_t TrayDesktop::MessageBoxA(Hwnd, const char* lpText, const char* lpCaption, uint32_t uType) {
  trace_.push_back("MessageBoxA(" + Text(lpText) + ", " + Text(lpCaption) + ", " + Hex(uType) + ")");
  return 1;
}

tray::Hicon TrayDesktop::LoadImageA(int resource, uint32_t type, int32_t cx, int32_t cy, uint32_t fuLoad) {
  trace_.push_back("LoadImageA(" + std::to_string(resource) + ", " + Hex(type) + ", " + std::to_string(cx) + ", " +
                   std::to_string(cy) + ", " + Hex(fuLoad) + ")");
  return tray::Hicon{0x300};
}

int32_t TrayDesktop::Shell_NotifyIconA(uint32_t dwMessage, const tray::NotifyIconData* lpData) {
  if (dwMessage == tray::w32::NIM_ADD) {
    icon_ = *lpData;
    iconShown_ = true;
  } else if (dwMessage == tray::w32::NIM_DELETE && lpData->hWnd == icon_.hWnd && lpData->uID == icon_.uID) {
    iconShown_ = false;
  }
  trace_.push_back("Shell_NotifyIconA(" + Hex(dwMessage) + ")");
  return 1;
}

int32_t DialogRecord::CheckDlgButton(int nIDButton, uint32_t uCheck) {
  checked_[nIDButton] = uCheck == tray::w32::BST_CHECKED;
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

}  // namespace tavik::sim
