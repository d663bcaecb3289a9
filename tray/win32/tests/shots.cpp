// tavik-shots.exe: puts tavik.exe's windows on the screen one at a time for
// scripts/screenshots.sh, which photographs the desktop between its calls.
// Each call prints the screen rectangle of the window it opened as
// "left top width height".
//   tavik-shots start DIR      starts DIR\tavik.exe (in DIR) and prints its process id
//   tavik-shots menu PID       opens the tray menu, as a right click on the icon does
//   tavik-shots settings PID   opens the settings dialog, as the menu's command does
//   tavik-shots about PID      opens the About box, as the menu's command does
//   tavik-shots pause PID      pauses tavik, or resumes it, as the menu's command does
//   tavik-shots record PID     starts recording, or stops it, as the menu's command does
//   tavik-shots close PID      closes whichever of them is open
//   tavik-shots quit PID       ends tavik.exe
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tray/win32/tests/wine_windows.h"

namespace {

constexpr UINT kTrayNotify = WM_USER + 100;

struct Search {
  DWORD processId;
  const wchar_t* className;
  const wchar_t* title;  // null: any title
  HWND found;
};

BOOL CALLBACK Match(HWND window, LPARAM lParam) {
  auto* s = reinterpret_cast<Search*>(lParam);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  wchar_t name[64] = {};
  wchar_t text[256] = {};
  GetClassNameW(window, name, 64);
  GetWindowTextW(window, text, 256);
  bool visible = IsWindowVisible(window) || (s->title != nullptr && s->title[0] == L'\0');
  if (process != s->processId || std::wcscmp(name, s->className) != 0 || !visible ||
      (s->title != nullptr && std::wcscmp(text, s->title) != 0)) {
    return TRUE;
  }
  s->found = window;
  return FALSE;
}

// Waits up to ten seconds for the process's top-level window.
HWND WaitFor(DWORD processId, const wchar_t* className, const wchar_t* title) {
  for (int i = 0; i < 500; ++i) {
    Search search{processId, className, title, nullptr};
    EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return search.found;
    Sleep(20);
  }
  return nullptr;
}

HWND Hidden(DWORD processId) { return WaitFor(processId, L"#32770", L""); }

// Prints the window's rectangle once it has painted.
int Report(HWND window, const char* what) {
  if (window == nullptr) {
    std::fprintf(stderr, "tavik-shots: no %s appeared\n", what);
    return 1;
  }
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Sleep(300);
  RECT r{};
  GetWindowRect(window, &r);
  std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
  return 0;
}

int Start(const std::string& dir) {
  PROCESS_INFORMATION pi = tavik::wintest::StartIn(dir, "tavik.exe");
  if (pi.hProcess == nullptr) {
    std::fprintf(stderr, "tavik-shots: cannot start tavik.exe in %s (error %lu)\n", dir.c_str(), GetLastError());
    return 1;
  }
  WaitForInputIdle(pi.hProcess, 10000);
  if (Hidden(pi.dwProcessId) == nullptr) {
    std::fprintf(stderr, "tavik-shots: tavik.exe shows no hidden window\n");
    return 1;
  }
  std::printf("%lu\n", pi.dwProcessId);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "start") == 0) return Start(argv[2]);
  if (argc != 3) {
    std::fprintf(stderr, "usage: tavik-shots start DIR | menu|settings|about|pause|record|close|quit PID\n");
    return 2;
  }
  std::string command = argv[1];
  auto pid = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10));
  HWND hidden = Hidden(pid);
  if (hidden == nullptr) {
    std::fprintf(stderr, "tavik-shots: no tavik.exe with process id %lu\n", pid);
    return 1;
  }
  if (command == "menu") {
    PostMessageW(hidden, kTrayNotify, 0, WM_RBUTTONUP);
    return Report(WaitFor(pid, L"#32768", nullptr), "menu");
  }
  if (command == "settings") {
    PostMessageW(hidden, WM_COMMAND, 32773, 0);
    return Report(WaitFor(pid, L"#32770", L"tavikの設定"), "settings dialog");
  }
  if (command == "about") {
    PostMessageW(hidden, WM_COMMAND, 32772, 0);
    return Report(WaitFor(pid, L"#32770", L"tavikのﾊﾞｰｼﾞｮﾝ情報"), "About box");
  }
  if (command == "close") {
    // Esc closes the menu (its loop takes keystrokes posted to the thread's
    // windows) and Cancel the dialogs.
    Search menu{pid, L"#32768", nullptr, nullptr};
    EnumWindows(Match, reinterpret_cast<LPARAM>(&menu));
    if (menu.found != nullptr) {
      PostMessageW(menu.found, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
      PostMessageW(menu.found, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    }
    for (const wchar_t* title : {L"tavikの設定", L"tavikのﾊﾞｰｼﾞｮﾝ情報"}) {
      Search dialog{pid, L"#32770", title, nullptr};
      EnumWindows(Match, reinterpret_cast<LPARAM>(&dialog));
      if (dialog.found != nullptr) PostMessageW(dialog.found, WM_COMMAND, IDCANCEL, 0);
    }
    Sleep(300);
    return 0;
  }
  if (command == "pause" || command == "record") {
    // Sent: done when it returns.
    DWORD_PTR result = 0;
    WPARAM id = command == "pause" ? 32774 : 32775;
    return SendMessageTimeoutW(hidden, WM_COMMAND, id, 0, SMTO_NORMAL, 15000, &result) != 0 ? 0 : 1;
  }
  if (command == "quit") {
    PostMessageW(hidden, WM_CLOSE, 0, 0);
    return 0;
  }
  std::fprintf(stderr, "tavik-shots: unknown command %s\n", command.c_str());
  return 2;
}
