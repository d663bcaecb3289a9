// The tray program's window on Windows: the calls its portable logic makes,
// each with its Win32 name, arguments, results and failure values, in
// portable types. tray/win32/ implements it one line per call; the simulated
// desktop implements it for tests.
#pragma once

#include <cstdint>

#include "hook/platform.h"

// The Win32 values the tray program uses, beside the hook library's in the
// one namespace w32 (MAX_PATH among those), under the same rule: this header
// comes before <windows.h>, whose macros bear the same names.
namespace tavik::w32 {
inline constexpr uint32_t ERROR_ALREADY_EXISTS = 183;
inline constexpr uint32_t VER_PLATFORM_WIN32_NT = 2;
inline constexpr uint32_t MB_OK = 0x0;
inline constexpr uint32_t MB_ICONEXCLAMATION = 0x30;
inline constexpr uint32_t NIM_ADD = 0;
inline constexpr uint32_t NIM_MODIFY = 1;
inline constexpr uint32_t NIM_DELETE = 2;
inline constexpr uint32_t NIF_MESSAGE = 0x1;
inline constexpr uint32_t NIF_ICON = 0x2;
inline constexpr uint32_t NIF_TIP = 0x4;
inline constexpr uint32_t IMAGE_ICON = 1;
inline constexpr uint32_t LR_DEFAULTCOLOR = 0;
inline constexpr uint32_t WM_USER = 0x400;
inline constexpr uint32_t WM_RBUTTONUP = 0x205;
inline constexpr uint32_t MF_ENABLED = 0x0;
inline constexpr uint32_t MF_GRAYED = 0x1;
inline constexpr uint32_t MF_DISABLED = 0x2;
inline constexpr uint32_t MF_UNCHECKED = 0x0;
inline constexpr uint32_t MF_CHECKED = 0x8;
inline constexpr uint32_t BST_UNCHECKED = 0;
inline constexpr uint32_t BST_CHECKED = 1;
inline constexpr uint32_t SYNCHRONIZE = 0x00100000;
inline constexpr uint32_t WAIT_OBJECT_0 = 0;
inline constexpr uint32_t WAIT_TIMEOUT = 258;
inline constexpr uint32_t WAIT_FAILED = 0xFFFFFFFF;
inline constexpr uint32_t STILL_ACTIVE = 259;
inline constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
}  // namespace tavik::w32

namespace tavik::tray {

enum class Handle : uintptr_t {};   // a kernel object (the mutex)
enum class Hmodule : uintptr_t {};  // a loaded library
enum class FarProc : uintptr_t {};  // an export found with GetProcAddress
enum class Hicon : uintptr_t {};

// PROCESS_INFORMATION: what CreateProcessA gives back.
struct ProcessInformation {
  Handle hProcess;
  Handle hThread;
  uint32_t dwProcessId;
  uint32_t dwThreadId;
};


// SYSTEMTIME: what GetLocalTime fills.
struct SystemTime {
  uint16_t wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};

// CreateFileA's failure value.
inline constexpr Handle kInvalidHandle{~uintptr_t{0}};

// The icon's callback message.
inline constexpr uint32_t WM_TRAYNOTIFY = w32::WM_USER + 100;

// Resource and command ids.
inline constexpr int kIconResource = 128;
inline constexpr int kPausedIconResource = 129;
inline constexpr int kAboutDialog = 100;
inline constexpr int kMainDialog = 102;
inline constexpr int kSettingsDialog = 133;
inline constexpr int kTrayMenu = 130;
inline constexpr int kAboutMenuString = 101;
inline constexpr int kAboutNote = 1030;  // the About box's line on the 32-bit programs
inline constexpr uint32_t ID_SYSMENU_ABOUT = 0x10;
inline constexpr uint32_t ID_TRAY_EXIT = 32771;
inline constexpr uint32_t ID_TRAY_ABOUT = 32772;
inline constexpr uint32_t ID_TRAY_SETTINGS = 32773;
// Items added after the original three.
inline constexpr uint32_t ID_TRAY_PAUSE = 32774;
inline constexpr uint32_t ID_TRAY_RECORD = 32775;
inline constexpr uint32_t ID_TRAY_RECORDINGS = 32776;

// The part of OSVERSIONINFOA the program reads: its size field and the
// platform; the Win32 layer fills the rest of the real record.
struct OsVersion {
  uint32_t dwOSVersionInfoSize;  // 148, as Windows checks it
  uint32_t dwPlatformId;
};

// NOTIFYICONDATAA in its first version, with a 64-byte tip (88 bytes in a
// 32-bit program, NOTIFYICONDATAA_V1_SIZE).
inline constexpr uint32_t kNotifyIconDataV1Size = 88;
struct NotifyIconData {
  uint32_t cbSize;
  Hwnd hWnd;
  uint32_t uID;
  uint32_t uFlags;
  uint32_t uCallbackMessage;
  Hicon hIcon;
  char szTip[64];
};

class TrayPlatform {
 public:
  // kernel32
  virtual Handle CreateMutexA(int32_t bInitialOwner, const char* lpName) = 0;
  virtual uint32_t GetLastError() = 0;
  virtual Hmodule LoadLibraryA(const char* lpLibFileName) = 0;
  virtual FarProc GetProcAddress(Hmodule hModule, const char* lpProcName) = 0;
  virtual int32_t FreeLibrary(Hmodule hLibModule) = 0;
  // Calls an export that takes no arguments; its result is not looked at.
  virtual void CallExport(FarProc proc) = 0;
  // Calls an export that takes and returns one 32-bit word.
  virtual uint32_t CallExport(FarProc proc, uint32_t argument) = 0;
  virtual int32_t GetVersionExA(OsVersion* lpVersionInformation) = 0;
  virtual uint32_t GetPrivateProfileStringA(const char* lpAppName, const char* lpKeyName, const char* lpDefault,
                                            char* lpReturnedString, uint32_t nSize, const char* lpFileName) = 0;
  // lpString null deletes the key.
  virtual int32_t WritePrivateProfileStringA(const char* lpAppName, const char* lpKeyName, const char* lpString,
                                             const char* lpFileName) = 0;
  // Without the file part's pointer.
  virtual uint32_t GetFullPathNameA(const char* lpFileName, uint32_t nBufferLength, char* lpBuffer) = 0;

  // kernel32: the 32-bit helper's process. hModule null: the program file.
  virtual uint32_t GetModuleFileNameA(Hmodule hModule, char* lpFilename, uint32_t nSize) = 0;
  virtual Handle GetCurrentProcess() = 0;
  virtual int32_t DuplicateHandle(Handle hSourceProcessHandle, Handle hSourceHandle, Handle hTargetProcessHandle,
                                  Handle* lpTargetHandle, uint32_t dwDesiredAccess, int32_t bInheritHandle,
                                  uint32_t dwOptions) = 0;
  // The security attributes are reduced to their inherit flag; unnamed.
  virtual Handle CreateEventA(int32_t bInheritHandle, int32_t bManualReset, int32_t bInitialState) = 0;
  virtual int32_t ResetEvent(Handle hEvent) = 0;
  // No process or thread attributes, no creation flags, the caller's
  // environment and current directory, a default STARTUPINFOA.
  virtual int32_t CreateProcessA(const char* lpApplicationName, char* lpCommandLine, int32_t bInheritHandles,
                                 ProcessInformation* lpProcessInformation) = 0;
  virtual uint32_t WaitForMultipleObjects(uint32_t nCount, const Handle* lpHandles, int32_t bWaitAll,
                                          uint32_t dwMilliseconds) = 0;
  virtual uint32_t WaitForSingleObject(Handle hHandle, uint32_t dwMilliseconds) = 0;
  virtual int32_t GetExitCodeProcess(Handle hProcess, uint32_t* lpExitCode) = 0;
  virtual int32_t TerminateProcess(Handle hProcess, uint32_t uExitCode) = 0;
  virtual int32_t CloseHandle(Handle hObject) = 0;
  // user32
  virtual int32_t PostThreadMessageA(uint32_t idThread, uint32_t Msg, uintptr_t wParam, intptr_t lParam) = 0;
  virtual uint32_t RegisterWindowMessageA(const char* lpString) = 0;
  // Without a timer procedure: WM_TIMER goes to the window.
  virtual uintptr_t SetTimer(Hwnd hWnd, uintptr_t nIDEvent, uint32_t uElapse) = 0;
  virtual int32_t KillTimer(Hwnd hWnd, uintptr_t uIDEvent) = 0;

  // user32 and shell32
  virtual int32_t MessageBoxA(Hwnd hWnd, const char* lpText, const char* lpCaption, uint32_t uType) = 0;
  virtual Hicon LoadImageA(int resource, uint32_t type, int32_t cx, int32_t cy, uint32_t fuLoad) = 0;
  virtual int32_t Shell_NotifyIconA(uint32_t dwMessage, const NotifyIconData* lpData) = 0;

  // Recording. A named mapping of the paging file, with the shared block's
  // security (programs at low integrity may write it), read and write.
  virtual Handle CreateFileMappingA(uint32_t dwMaximumSizeLow, const char* lpName) = 0;
  virtual void* MapViewOfFile(Handle hFileMappingObject, size_t dwNumberOfBytesToMap) = 0;
  virtual int32_t UnmapViewOfFile(const void* lpBaseAddress) = 0;
  virtual uint32_t GetEnvironmentVariableA(const char* lpName, char* lpBuffer, uint32_t nSize) = 0;
  // Default security.
  virtual int32_t CreateDirectoryA(const char* lpPathName) = 0;
  // GENERIC_WRITE, others may read, CREATE_NEW; kInvalidHandle on failure.
  virtual Handle CreateFileA(const char* lpFileName) = 0;
  virtual int32_t WriteFile(Handle hFile, const void* lpBuffer, uint32_t nNumberOfBytesToWrite,
                            uint32_t* lpNumberOfBytesWritten) = 0;
  virtual void GetLocalTime(SystemTime* lpSystemTime) = 0;
  virtual uint32_t GetTickCount() = 0;
  // Major version in the low byte, minor in the next, the build in the high word.
  virtual uint32_t GetVersion() = 0;
  virtual int32_t GetKeyboardLayoutList(int32_t nBuff, Hkl* lpList) = 0;
  virtual uint32_t ImmGetIMEFileNameA(Hkl hKL, char* lpszFileName, uint32_t uBufLen) = 0;
  // No parameters, no directory, SW_SHOWNORMAL; above 32 on success.
  virtual intptr_t ShellExecuteA(Hwnd hwnd, const char* lpOperation, const char* lpFile) = 0;

 protected:
  ~TrayPlatform() = default;
};

}  // namespace tavik::tray
