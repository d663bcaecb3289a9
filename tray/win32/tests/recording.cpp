// tavik.exe recording on the Wine desktop: started with /record it writes a
// file under %LOCALAPPDATA%\tavik with the keystrokes its library saw in
// this program's own window; the menu command stops it and the file ends
// with its trailer; started again from the menu, exit closes the file.
// With the 32-bit helper, its library and a 32-bit build of this program,
// a 32-bit program's keystrokes land in the same file.
// Usage: tavik-recording-check TAVIK.EXE TAVIKHOOK.DLL [TAVIK32.EXE TAVIKHOOK32.DLL TYPIST32.EXE]
//        TYPIST32.EXE type: types "@" into a window of its own for a while
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tray/tray_platform.h"
#include <windows.h>

namespace {

std::string FreshDirectory() {
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof temp, temp);
  for (unsigned n = GetTickCount();; ++n) {
    std::string dir = std::string(temp) + "tavik-recording-" + std::to_string(GetCurrentProcessId()) + "-" +
                      std::to_string(n);
    if (CreateDirectoryA(dir.c_str(), nullptr)) return dir;
  }
}

DWORD ProcessOf(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return process;
}

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
      if (ProcessOf(w) == process) found = w;
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

HWND OwnWindow() {
  return CreateWindowExA(0, "EDIT", "", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 100, nullptr, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}

// The 32-bit typist: "@" every so often, for as long as the check may wait.
int Type() {
  HWND edit = OwnWindow();
  for (int i = 0; i < 16; ++i) TypeAt(edit);
  DestroyWindow(edit);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "type") return Type();
  if (argc != 3 && argc != 6) {
    std::fprintf(stderr, "usage: tavik-recording-check TAVIK.EXE TAVIKHOOK.DLL [TAVIK32.EXE TAVIKHOOK32.DLL TYPIST32.EXE]\n");
    return 2;
  }
  const bool with32 = argc == 6;
  std::string dir = FreshDirectory();
  CopyFileA(argv[1], (dir + "\\tavik.exe").c_str(), FALSE);
  CopyFileA(argv[2], (dir + "\\tavikhook.dll").c_str(), FALSE);
  if (with32) {
    CopyFileA(argv[3], (dir + "\\tavik32.exe").c_str(), FALSE);
    CopyFileA(argv[4], (dir + "\\tavikhook32.dll").c_str(), FALSE);
  }
  // The recordings' folder of the program started below.
  std::string local = dir + "\\local";
  CreateDirectoryA(local.c_str(), nullptr);
  SetEnvironmentVariableA("LOCALAPPDATA", local.c_str());
  std::string folder = local + "\\tavik";

  HWND edit = OwnWindow();

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
  // Under Wine, while the helper's 32-bit hooks run, no hook reaches this
  // 64-bit program (the helper's hook comes first in the chain, and Wine
  // ends the chain where a hook's library cannot be loaded): only the 32-bit
  // typist is looked for then.
  for (int tries = 0; tries < 10 && !typed && !with32; ++tries) {
    TypeAt(edit);
    typed = WaitUntil([&] { return ReadAll(first).find(ours) != std::string::npos; }, 1000);
  }
  if (!with32) Check(typed, "the keystrokes typed in this program are written while it records");
  if (with32) {
    // The 32-bit library records into the same block, through the helper's hooks.
    std::string typist = std::string(argv[5]);
    std::string typistLine = "\"" + typist + "\" type";
    STARTUPINFOA tsi{};
    tsi.cb = sizeof tsi;
    PROCESS_INFORMATION typing{};
    bool landed = false;
    if (CreateProcessA(typist.c_str(), typistLine.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &tsi,
                       &typing)) {
      landed = WaitUntil([&] {
        std::string t = ReadAll(first);
        for (size_t at = t.find("\nkeystroke \""); at != std::string::npos; at = t.find("\nkeystroke \"", at + 1)) {
          size_t end = t.find('\n', at + 1);
          if (t.substr(at, end - at).find(" 32-bit") != std::string::npos) return true;
        }
        return false;
      }, 15000);
      WaitForSingleObject(typing.hProcess, 15000);
      CloseHandle(typing.hThread);
      CloseHandle(typing.hProcess);
    }
    Check(landed, "a 32-bit program's keystrokes land in the same recording");
  }
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
  for (const char* name : {"tavik.exe", "tavikhook.dll", "tavik32.exe", "tavikhook32.dll", "tavik.ini"}) DeleteFileA((dir + "\\" + name).c_str());
  RemoveDirectoryA(dir.c_str());
  std::printf("%d failed\n", failures);
  return failures == 0 ? 0 : 1;
}
