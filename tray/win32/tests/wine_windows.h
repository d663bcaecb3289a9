// What the tests of tavik.exe on the Wine desktop share: reading windows
// from outside, fresh folders to run the program in, and text for reports.
#pragma once

#include <string>

// clang-format off
#include <windows.h>
// clang-format on

namespace tavik::wintest {

inline std::string Utf8(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

inline std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

inline std::wstring TextOf(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return text;
}

// A message box's text: its one static control that has any.
inline std::wstring BoxText(HWND box) {
  std::wstring text;
  EnumChildWindows(
      box,
      [](HWND child, LPARAM lParam) -> BOOL {
        auto* found = reinterpret_cast<std::wstring*>(lParam);
        if (ClassOf(child) == L"Static" && !TextOf(child).empty()) *found = TextOf(child);
        return found->empty();
      },
      reinterpret_cast<LPARAM>(&text));
  return text;
}

inline DWORD ProcessOf(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return process;
}

// A new, empty folder under the temporary folder, named after `purpose`:
// each run of the program gets a settings file of its own.
inline std::string FreshDirectory(const char* purpose) {
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof temp, temp);
  for (unsigned n = GetTickCount();; ++n) {
    std::string dir = std::string(temp) + "tavik-" + purpose + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                      std::to_string(n);
    if (CreateDirectoryA(dir.c_str(), nullptr)) return dir;
  }
}

// Starts DIR\NAME with DIR as its current folder, where it keeps its
// settings file; hProcess is null when it could not start.
inline PROCESS_INFORMATION StartIn(const std::string& dir, const char* name) {
  std::string exe = dir + "\\" + name;
  std::string commandLine = "\"" + exe + "\"";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &si, &pi)) {
    pi = PROCESS_INFORMATION{};
  }
  return pi;
}

}  // namespace tavik::wintest
