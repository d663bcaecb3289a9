// The tray program's platform on Windows: one line per call.
#pragma once

// The portable headers come first: their constants carry the Win32 names,
// which <windows.h> defines as macros.
#include "common/handle_cast.h"
#include "tray/tray_platform.h"
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <cstring>

#include "tray/win32/shared_block_security.h"

namespace tavik::tray {

class Win32TrayPlatform final : public TrayPlatform {
 public:
  tray::Handle CreateMutexA(int32_t bInitialOwner, const char* lpName) override {
    return Portable<tray::Handle>(::CreateMutexA(nullptr, bInitialOwner, lpName));
  }
  uint32_t GetLastError() override { return ::GetLastError(); }
  Hmodule LoadLibraryA(const char* lpLibFileName) override { return Portable<Hmodule>(::LoadLibraryA(lpLibFileName)); }
  FarProc GetProcAddress(Hmodule hModule, const char* lpProcName) override {
    return Portable<FarProc>(::GetProcAddress(Win32<HMODULE>(hModule), lpProcName));
  }
  int32_t FreeLibrary(Hmodule hLibModule) override { return ::FreeLibrary(Win32<HMODULE>(hLibModule)); }
  void CallExport(FarProc proc) override { Win32<void (*)()>(proc)(); }
  uint32_t CallExport(FarProc proc, uint32_t argument) override { return Win32<unsigned (*)(unsigned)>(proc)(argument); }
  int32_t GetVersionExA(OsVersion* lpVersionInformation) override {
    // The real record, of the size the program gives; only the platform
    // goes back.
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = lpVersionInformation->dwOSVersionInfoSize;
    // Deprecated, and its answer about the version is not to be trusted;
    // the platform, which is all we read, is.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    BOOL ok = ::GetVersionExA(&info);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    lpVersionInformation->dwPlatformId = info.dwPlatformId;
    return ok;
  }
  uint32_t GetPrivateProfileStringA(const char* lpAppName, const char* lpKeyName, const char* lpDefault,
                                    char* lpReturnedString, uint32_t nSize, const char* lpFileName) override {
    return ::GetPrivateProfileStringA(lpAppName, lpKeyName, lpDefault, lpReturnedString, nSize, lpFileName);
  }
  int32_t WritePrivateProfileStringA(const char* lpAppName, const char* lpKeyName, const char* lpString,
                                     const char* lpFileName) override {
    return ::WritePrivateProfileStringA(lpAppName, lpKeyName, lpString, lpFileName);
  }
  uint32_t GetFullPathNameA(const char* lpFileName, uint32_t nBufferLength, char* lpBuffer) override {
    return ::GetFullPathNameA(lpFileName, nBufferLength, lpBuffer, nullptr);
  }

  uint32_t GetModuleFileNameA(Hmodule hModule, char* lpFilename, uint32_t nSize) override {
    return ::GetModuleFileNameA(Win32<HMODULE>(hModule), lpFilename, nSize);
  }
  tray::Handle GetCurrentProcess() override { return Portable<tray::Handle>(::GetCurrentProcess()); }
  int32_t DuplicateHandle(tray::Handle hSourceProcessHandle, tray::Handle hSourceHandle,
                          tray::Handle hTargetProcessHandle, tray::Handle* lpTargetHandle, uint32_t dwDesiredAccess,
                          int32_t bInheritHandle, uint32_t dwOptions) override {
    HANDLE target = nullptr;
    BOOL ok = ::DuplicateHandle(Win32<HANDLE>(hSourceProcessHandle), Win32<HANDLE>(hSourceHandle),
                                Win32<HANDLE>(hTargetProcessHandle), &target, dwDesiredAccess, bInheritHandle, dwOptions);
    *lpTargetHandle = Portable<tray::Handle>(target);
    return ok;
  }
  tray::Handle CreateEventA(int32_t bInheritHandle, int32_t bManualReset, int32_t bInitialState) override {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, bInheritHandle};
    return Portable<tray::Handle>(::CreateEventA(&attributes, bManualReset, bInitialState, nullptr));
  }
  int32_t ResetEvent(tray::Handle hEvent) override { return ::ResetEvent(Win32<HANDLE>(hEvent)); }
  int32_t CreateProcessA(const char* lpApplicationName, char* lpCommandLine, int32_t bInheritHandles,
                         ProcessInformation* lpProcessInformation) override {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    BOOL ok = ::CreateProcessA(lpApplicationName, lpCommandLine, nullptr, nullptr, bInheritHandles, 0, nullptr, nullptr,
                               &startup, &info);
    *lpProcessInformation = {Portable<tray::Handle>(info.hProcess), Portable<tray::Handle>(info.hThread),
                             info.dwProcessId, info.dwThreadId};
    return ok;
  }
  uint32_t WaitForMultipleObjects(uint32_t nCount, const tray::Handle* lpHandles, int32_t bWaitAll,
                                  uint32_t dwMilliseconds) override {
    HANDLE handles[MAXIMUM_WAIT_OBJECTS] = {};
    if (nCount > MAXIMUM_WAIT_OBJECTS) return WAIT_FAILED;
    for (uint32_t i = 0; i < nCount; ++i) handles[i] = Win32<HANDLE>(lpHandles[i]);
    return ::WaitForMultipleObjects(nCount, handles, bWaitAll, dwMilliseconds);
  }
  uint32_t WaitForSingleObject(tray::Handle hHandle, uint32_t dwMilliseconds) override {
    return ::WaitForSingleObject(Win32<HANDLE>(hHandle), dwMilliseconds);
  }
  int32_t GetExitCodeProcess(tray::Handle hProcess, uint32_t* lpExitCode) override {
    DWORD code = 0;
    BOOL ok = ::GetExitCodeProcess(Win32<HANDLE>(hProcess), &code);
    *lpExitCode = code;
    return ok;
  }
  int32_t TerminateProcess(tray::Handle hProcess, uint32_t uExitCode) override {
    return ::TerminateProcess(Win32<HANDLE>(hProcess), uExitCode);
  }
  int32_t CloseHandle(tray::Handle hObject) override { return ::CloseHandle(Win32<HANDLE>(hObject)); }
  int32_t PostThreadMessageA(uint32_t idThread, uint32_t Msg, uintptr_t wParam, intptr_t lParam) override {
    return ::PostThreadMessageA(idThread, Msg, wParam, lParam);
  }
  uint32_t RegisterWindowMessageA(const char* lpString) override { return ::RegisterWindowMessageA(lpString); }
  uintptr_t SetTimer(Hwnd hWnd, uintptr_t nIDEvent, uint32_t uElapse) override {
    return ::SetTimer(Win32<HWND>(hWnd), nIDEvent, uElapse, nullptr);
  }
  int32_t KillTimer(Hwnd hWnd, uintptr_t uIDEvent) override { return ::KillTimer(Win32<HWND>(hWnd), uIDEvent); }

  int32_t MessageBoxA(Hwnd hWnd, const char* lpText, const char* lpCaption, uint32_t uType) override {
    return ::MessageBoxA(Win32<HWND>(hWnd), lpText, lpCaption, uType);
  }
  Hicon LoadImageA(int resource, uint32_t type, int32_t cx, int32_t cy, uint32_t fuLoad) override {
    return Portable<Hicon>(::LoadImageA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resource), type, cx, cy, fuLoad));
  }
  int32_t Shell_NotifyIconA(uint32_t dwMessage, const NotifyIconData* lpData) override {
    // The record's first version, the one every shell takes: its size is
    // the real structure's up to the 64-byte tip.
    NOTIFYICONDATAA data{};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = Win32<HWND>(lpData->hWnd);
    data.uID = lpData->uID;
    data.uFlags = lpData->uFlags;
    data.uCallbackMessage = lpData->uCallbackMessage;
    data.hIcon = Win32<HICON>(lpData->hIcon);
    std::memcpy(data.szTip, lpData->szTip, sizeof lpData->szTip);
    return ::Shell_NotifyIconA(dwMessage, &data);
  }

  tray::Handle CreateFileMappingA(uint32_t dwMaximumSizeLow, const char* lpName) override {
    return Portable<tray::Handle>(CreateSecuredMapping(lpName, dwMaximumSizeLow));
  }
  void* MapViewOfFile(tray::Handle hFileMappingObject, size_t dwNumberOfBytesToMap) override {
    return ::MapViewOfFile(Win32<HANDLE>(hFileMappingObject), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0,
                           dwNumberOfBytesToMap);
  }
  int32_t UnmapViewOfFile(const void* lpBaseAddress) override { return ::UnmapViewOfFile(lpBaseAddress); }
  uint32_t GetEnvironmentVariableA(const char* lpName, char* lpBuffer, uint32_t nSize) override {
    return ::GetEnvironmentVariableA(lpName, lpBuffer, nSize);
  }
  int32_t CreateDirectoryA(const char* lpPathName) override { return ::CreateDirectoryA(lpPathName, nullptr); }
  tray::Handle CreateFileA(const char* lpFileName) override {
    return Portable<tray::Handle>(::CreateFileA(lpFileName, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  int32_t WriteFile(tray::Handle hFile, const void* lpBuffer, uint32_t nNumberOfBytesToWrite,
                    uint32_t* lpNumberOfBytesWritten) override {
    DWORD written = 0;
    BOOL ok = ::WriteFile(Win32<HANDLE>(hFile), lpBuffer, nNumberOfBytesToWrite, &written, nullptr);
    *lpNumberOfBytesWritten = written;
    return ok;
  }
  void GetLocalTime(SystemTime* lpSystemTime) override {
    SYSTEMTIME t{};
    ::GetLocalTime(&t);
    *lpSystemTime = {t.wYear, t.wMonth, t.wDayOfWeek, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
  }
  uint32_t GetTickCount() override { return ::GetTickCount(); }
  uint32_t GetVersion() override { return ::GetVersion(); }
  int32_t GetKeyboardLayoutList(int32_t nBuff, Hkl* lpList) override {
    HKL layouts[64] = {};
    int n = ::GetKeyboardLayoutList(nBuff < 64 ? nBuff : 64, layouts);
    for (int i = 0; i < n; ++i) lpList[i] = Portable<Hkl>(layouts[i]);
    return n;
  }
  // Bound when asked: the program imports nothing from imm32 for the one
  // look at the IMEs' names when recording starts.
  uint32_t ImmGetIMEFileNameA(Hkl hKL, char* lpszFileName, uint32_t uBufLen) override {
    HMODULE imm = ::LoadLibraryA("imm32.dll");
    auto call = imm != nullptr ? reinterpret_cast<UINT(WINAPI*)(HKL, LPSTR, UINT)>(
                                     reinterpret_cast<void*>(::GetProcAddress(imm, "ImmGetIMEFileNameA")))
                               : nullptr;
    UINT n = call != nullptr ? call(Win32<HKL>(hKL), lpszFileName, uBufLen) : 0;
    if (imm != nullptr) ::FreeLibrary(imm);
    return n;
  }
  intptr_t ShellExecuteA(Hwnd hwnd, const char* lpOperation, const char* lpFile) override {
    return reinterpret_cast<intptr_t>(::ShellExecuteA(Win32<HWND>(hwnd), lpOperation, lpFile, nullptr, nullptr,
                                                      SW_SHOWNORMAL));
  }
};

}  // namespace tavik::tray
