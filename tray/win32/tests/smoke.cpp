// Starts the real tavik.exe on the (Wine) desktop in a fresh directory and
// watches it from outside, as a user would see it.
//   tavik-smoke runs TAVIK.EXE TAVIKHOOK.DLL
//     with the hook library beside it: the hidden window appears and stays
//     unseen, the settings file is created with its defaults, a second copy
//     ends at once, and WM_CLOSE ends the program.
//   tavik-smoke no-library TAVIK.EXE
//     without it: the message box says so, and once it is closed the
//     program ends without having written a settings file.
#include <cstdio>
#include <cstring>
#include <string>

#include "tray/win32/tests/wine_windows.h"

namespace {

using namespace tavik::wintest;

int failures = 0;

void Check(bool ok, const char* what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
  std::fflush(stdout);
  if (!ok) ++failures;
}

bool Copy(const char* from, const std::string& to) {
  bool ok = CopyFileA(from, to.c_str(), FALSE);
  if (!ok) std::printf("     cannot copy %s to %s (error %lu)\n", from, to.c_str(), GetLastError());
  return ok;
}

PROCESS_INFORMATION Start(const std::string& dir) {
  PROCESS_INFORMATION pi = StartIn(dir, "tavik.exe");
  if (pi.hProcess == nullptr) std::printf("     cannot start tavik.exe in %s (error %lu)\n", dir.c_str(), GetLastError());
  return pi;
}

// Ends a process the test could not end the proper way.
void Stop(PROCESS_INFORMATION& pi) {
  if (pi.hProcess == nullptr) return;
  if (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) {
    TerminateProcess(pi.hProcess, 99);
    WaitForSingleObject(pi.hProcess, 5000);
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  pi = PROCESS_INFORMATION{};
}

bool EndsWithin(const PROCESS_INFORMATION& pi, DWORD milliseconds, DWORD* exitCode) {
  if (pi.hProcess == nullptr || WaitForSingleObject(pi.hProcess, milliseconds) != WAIT_OBJECT_0) return false;
  GetExitCodeProcess(pi.hProcess, exitCode);
  return true;
}

// The process's top-level dialog window (class "#32770") whose title is
// `title`; null when there is none yet.
HWND FindDialog(DWORD processId, const wchar_t* title) {
  struct Search {
    DWORD processId;
    const wchar_t* title;
    HWND found;
  } search{processId, title, nullptr};
  EnumWindows(
      [](HWND window, LPARAM lParam) -> BOOL {
        auto* s = reinterpret_cast<Search*>(lParam);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != s->processId || ClassOf(window) != L"#32770" || TextOf(window) != s->title) return TRUE;
        s->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Waits for the dialog, and when `shown` also until it is visible: a
// message box exists a moment before it is shown.
HWND WaitForDialog(const PROCESS_INFORMATION& pi, const wchar_t* title, DWORD milliseconds, bool shown = false) {
  for (DWORD waited = 0; waited <= milliseconds; waited += 100) {
    HWND found = FindDialog(pi.dwProcessId, title);
    if (found != nullptr && (!shown || IsWindowVisible(found))) return found;
    if (WaitForSingleObject(pi.hProcess, 100) == WAIT_OBJECT_0) return nullptr;
  }
  return nullptr;
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void CheckSettingsFile(const std::string& dir) {
  std::string ini = dir + "\\tavik.ini";
  Check(FileExists(ini), "tavik.ini created in the current directory");

  // The defaults, as a user finds them in a new file; the system is of the
  // NT platform, so ROMAJI BACKSPACE is on.
  static const char* const kOn[] = {"TORIKESHI KEY", "CAPSLOCK ON", "CAPSLOCK OFF", "ROMAJI BACKSPACE"};
  static const char* const kOff[] = {
      "KATAKANA KEY",  "ROMAJI ONOFF",   "IMEOFF TORIKESHI", "CANNOT OPEN IME",       "IME ONOFF",
      "IME CONFIG",    "IME ON",         "HANKAKU KANA",     "IME OFF1",              "IME OFF2",
      "KANA TO EIJI CAPSLOCK", "KANA TO EIJI CAPSLOCK OFF", "OASYS KAKUTEI", "KAKUTEI INPUT", "NUMBER KAKUTEI",
      "OASYS DISABLE IME OFF", "IE DISABLE TORIKESHI", "IE DISABLE ESC", "KAKUTEI TATEGAKI", "KAKUTEI NOT CR",
  };
  auto read = [&](const char* key) {
    char value[64] = {};
    GetPrivateProfileStringA("TAVIK", key, "(absent)", value, sizeof value, ini.c_str());
    return std::string(value);
  };
  bool ok = read("RESET") == "0";
  for (const char* key : kOn) ok = ok && read(key) == "1";
  for (const char* key : kOff) ok = ok && read(key) == "0";
  for (const char* key : {"VELTO", "IME2007", "BACKSPACE PRIORITY"}) ok = ok && read(key) == "(absent)";
  Check(ok, "tavik.ini: RESET=0 and the 24 settings at their defaults, nothing else");
  if (!ok) {
    for (const char* key : {"RESET", "TORIKESHI KEY", "ROMAJI BACKSPACE", "KATAKANA KEY", "KAKUTEI NOT CR"}) {
      std::printf("     %s=%s\n", key, read(key).c_str());
    }
  }
}

int Runs(const char* exe, const char* dll) {
  std::string dir = FreshDirectory("smoke");
  if (!Copy(exe, dir + "\\tavik.exe") || !Copy(dll, dir + "\\tavikhook.dll")) return 1;

  PROCESS_INFORMATION first = Start(dir);
  if (first.hProcess == nullptr) return 1;
  // Idle once the hidden window's initialisation is over and its modal loop waits.
  WaitForInputIdle(first.hProcess, 10000);
  HWND window = WaitForDialog(first, L"", 10000);
  Check(window != nullptr, "the hidden window exists");
  if (window == nullptr) {
    Stop(first);
    return 1;
  }

  RECT rect{};
  GetWindowRect(window, &rect);
  LONG_PTR exStyle = GetWindowLongPtrW(window, GWL_EXSTYLE);
  Check(rect.right == rect.left && rect.bottom == rect.top, "the hidden window has no size");
  Check((exStyle & WS_EX_TOOLWINDOW) && !(exStyle & WS_EX_APPWINDOW), "the hidden window has no taskbar button");
  CheckSettingsFile(dir);

  // Enter and Esc reaching the hidden window do not end the program.
  SendMessageW(window, WM_COMMAND, IDOK, 0);
  SendMessageW(window, WM_COMMAND, IDCANCEL, 0);
  Check(WaitForSingleObject(first.hProcess, 300) == WAIT_TIMEOUT, "IDOK and IDCANCEL leave the program running");

  PROCESS_INFORMATION second = Start(dir);
  DWORD exitCode = 99;
  Check(EndsWithin(second, 10000, &exitCode) && exitCode == 0, "a second copy ends at once, with 0");
  Stop(second);
  Check(FindDialog(first.dwProcessId, L"") == window, "the first copy goes on");

  PostMessageW(window, WM_CLOSE, 0, 0);
  exitCode = 99;
  Check(EndsWithin(first, 5000, &exitCode) && exitCode == 0, "WM_CLOSE ends the program with 0 within 5 s");
  Stop(first);

  DeleteFileA((dir + "\\tavik.ini").c_str());
  DeleteFileA((dir + "\\tavikhook.dll").c_str());
  DeleteFileA((dir + "\\tavik.exe").c_str());
  RemoveDirectoryA(dir.c_str());
  return 0;
}

int NoLibrary(const char* exe) {
  std::string dir = FreshDirectory("smoke");
  if (!Copy(exe, dir + "\\tavik.exe")) return 1;

  PROCESS_INFORMATION pi = Start(dir);
  if (pi.hProcess == nullptr) return 1;
  // The caption is the program's name.
  HWND box = WaitForDialog(pi, L"tavik", 10000, true);
  Check(box != nullptr, "a message box captioned \"tavik\" appears");
  if (box == nullptr) {
    Stop(pi);
    return 1;
  }

  std::wstring text = BoxText(box);
  const wchar_t* want = L"tavikhook.dllのロードに失敗しました。";
  Check(text == want, "its text says that tavikhook.dll did not load");
  if (text != want) std::printf("     got \"%s\"\n", Utf8(text).c_str());

  HWND ok = GetDlgItem(box, IDOK);
  if (ok != nullptr) {
    PostMessageW(ok, BM_CLICK, 0, 0);
  } else {
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  }
  DWORD exitCode = 99;
  Check(EndsWithin(pi, 5000, &exitCode) && exitCode == 0, "after OK the program ends with 0 within 5 s");
  Stop(pi);
  Check(!FileExists(dir + "\\tavik.ini"), "no tavik.ini written");

  DeleteFileA((dir + "\\tavik.ini").c_str());
  DeleteFileA((dir + "\\tavik.exe").c_str());
  RemoveDirectoryA(dir.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int rc = 2;
  if (argc == 4 && std::strcmp(argv[1], "runs") == 0) {
    rc = Runs(argv[2], argv[3]);
  } else if (argc == 3 && std::strcmp(argv[1], "no-library") == 0) {
    rc = NoLibrary(argv[2]);
  } else {
    std::fprintf(stderr, "usage: tavik-smoke runs TAVIK.EXE TAVIKHOOK.DLL | tavik-smoke no-library TAVIK.EXE\n");
    return 2;
  }
  std::printf("%d failed\n", failures);
  return rc != 0 ? rc : failures == 0 ? 0 : 1;
}
