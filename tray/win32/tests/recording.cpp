// tavik.exe recording on the Wine desktop: started with /record it writes a
// file under %LOCALAPPDATA%\tavik with the keystrokes its library saw in
// this program's own window; the menu command stops it and the file ends
// with its trailer; started again from the menu, exit closes the file.
// Usage: tavik-recording-check TAVIK.EXE TAVIKHOOK.DLL
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tray/tray_platform.h"
#include "tray/win32/tests/wine_windows.h"
#include <windows.h>

namespace {

using tavik::wintest::FreshDirectory;

int failures = 0;

bool Check(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  if (!ok) ++failures;
  return ok;
}

bool WaitUntil(const std::function<bool()>& done, DWORD milliseconds = 10000) {
  for (DWORD waited = 0; waited < milliseconds; waited += 50) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    if (done()) return true;
    Sleep(50);
  }
  return done();
}

std::vector<std::string> Recordings(const std::string& folder) {
  std::vector<std::string> found;
  WIN32_FIND_DATAA entry{};
  HANDLE find = FindFirstFileA((folder + "\\tavik-*.txt").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return found;
  do {
    found.push_back(folder + "\\" + entry.cFileName);
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return found;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Closed(const std::string& text) { return text.find("\nstopped lost 0 passed-on ") != std::string::npos; }

HWND HiddenWindow(DWORD process) {
  HWND found = nullptr;
  WaitUntil([&] {
    for (HWND w = FindWindowExW(nullptr, nullptr, L"#32770", L""); w != nullptr;
         w = FindWindowExW(nullptr, w, L"#32770", L"")) {
      if (tavik::wintest::ProcessOf(w) == process) found = w;
    }
    return found != nullptr;
  });
  return found;
}

// "@" typed into this program's own window, where the library is loaded too.
void TypeAt(HWND window) {
  SetForegroundWindow(window);
  SetFocus(window);
  for (DWORD flags : {0ul, static_cast<DWORD>(KEYEVENTF_KEYUP)}) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki = {0xC0, 0x1A, flags, 0, 0};
    SendInput(1, &input, sizeof input);
  }
  WaitUntil([] { return false; }, 500);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tavik-recording-check TAVIK.EXE TAVIKHOOK.DLL\n");
    return 2;
  }
  std::string dir = FreshDirectory("recording");
  CopyFileA(argv[1], (dir + "\\tavik.exe").c_str(), FALSE);
  CopyFileA(argv[2], (dir + "\\tavikhook.dll").c_str(), FALSE);
  // The recordings' folder of the program started below.
  std::string local = dir + "\\local";
  CreateDirectoryA(local.c_str(), nullptr);
  SetEnvironmentVariableA("LOCALAPPDATA", local.c_str());
  std::string folder = local + "\\tavik";

  HWND edit = CreateWindowExA(0, "EDIT", "", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 100, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);

  std::string exe = dir + "\\tavik.exe";
  std::string commandLine = "\"" + exe + "\" /record";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!Check(CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &si,
                            &pi) != 0,
             "tavik.exe /record starts")) {
    return 1;
  }
  HWND hidden = HiddenWindow(pi.dwProcessId);
  Check(hidden != nullptr, "its hidden window appears");
  Check(WaitUntil([&] { return Recordings(folder).size() == 1; }), "a recording is begun in %LOCALAPPDATA%\\tavik");

  // The library reaches this program once it has a window taking input:
  // typed again until the timer's drain shows the keystroke in the file.
  std::string first = Recordings(folder).empty() ? "" : Recordings(folder).front();
  const std::string ours = "\nkeystroke \"tavik-recording-check.exe\"";
  bool typed = false;
  for (int tries = 0; tries < 10 && !typed; ++tries) {
    TypeAt(edit);
    typed = WaitUntil([&] { return ReadAll(first).find(ours) != std::string::npos; }, 1000);
  }
  Check(typed, "the keystrokes typed in this program are written while it records");
  PostMessageA(hidden, WM_COMMAND, tavik::tray::ID_TRAY_RECORD, 0);
  Check(WaitUntil([&] { return Closed(ReadAll(first)); }), "the menu command stops it: the file has its trailer");
  Check(ReadAll(first).rfind("tavik-recording 1\ntavik \"", 0) == 0, "the file begins with its header");

  // Started again from the menu (a second later: a new file name), and
  // stopped by exit.
  WaitUntil([] { return false; }, 1100);
  PostMessageA(hidden, WM_COMMAND, tavik::tray::ID_TRAY_RECORD, 0);
  Check(WaitUntil([&] { return Recordings(folder).size() == 2; }), "the menu command starts a new recording");
  TypeAt(edit);
  PostMessageA(hidden, WM_CLOSE, 0, 0);
  Check(WaitForSingleObject(pi.hProcess, 10000) == WAIT_OBJECT_0, "tavik ends on WM_CLOSE");
  std::vector<std::string> files = Recordings(folder);
  bool allClosed = files.size() == 2;
  for (const std::string& f : files) allClosed = allClosed && Closed(ReadAll(f));
  Check(allClosed, "exit closes the recording with its trailer");

  TerminateProcess(pi.hProcess, 99);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  DestroyWindow(edit);
  for (const std::string& f : files) DeleteFileA(f.c_str());
  RemoveDirectoryA(folder.c_str());
  RemoveDirectoryA(local.c_str());
  for (const char* name : {"tavik.exe", "tavikhook.dll", "tavik.ini"}) DeleteFileA((dir + "\\" + name).c_str());
  RemoveDirectoryA(dir.c_str());
  std::printf("%d failed\n", failures);
  return failures == 0 ? 0 : 1;
}
