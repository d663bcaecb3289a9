// tavik.exe's behaviour on the (Wine) desktop, watched from outside as a
// user would meet it. Each run starts the real program in a fresh folder
// beside a copy of tavikhook.dll.
//   tavik-behaviour instances TAVIK.EXE DLL
//     one copy per program file: a second start of the same file ends at
//     once without a window, a copy under another name runs beside it.
//   tavik-behaviour hooks TAVIK.EXE DLL PROBE IME TARGET
//     the keyboard hooks work while the program runs and stop when it ends,
//     by WM_CLOSE and by the menu's exit; the icon and the library go.
//   tavik-behaviour menu TAVIK.EXE DLL PROBE
//     the tray menu: which buttons open it, and its items' states while
//     the settings dialog or an About box is open.
//   tavik-behaviour settings TAVIK.EXE DLL IME TARGET
//     the settings dialog driven by clicks: its enabling tree, what OK and
//     Cancel write, and the hooks taking the change at once.
//   tavik-behaviour keys TAVIK.EXE DLL
//     Enter and Esc reaching the hidden window do not end the program.
//   tavik-behaviour taskbar TAVIK.EXE DLL
//     the icon comes back when a new taskbar says "TaskbarCreated".
//   tavik-behaviour unsaved TAVIK.EXE DLL
//     a read-only tavik.ini: one message box at start and one after OK,
//     naming the file; the dialog then shows what the file holds.
//   tavik-behaviour helper TAVIK.EXE DLL HELPER.EXE DLL32 IME TARGET [IME32 TARGET32] stub|real
//     the 32-bit helper: started from tavik's folder, restarted by the
//     settings dialog's OK, ended with tavik however tavik ends (killed
//     too), and a missing helper or 32-bit library named in the About box;
//     meanwhile "@" typed into the target program, and into the 32-bit one
//     when given, becomes Esc. With "stub", HELPER.EXE is the helper built
//     for 64 bits and DLL32 the library that counts its calls (helper_stub.h).
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

// The portable headers first: <windows.h> defines some of their names as macros.
#include "hook/shared_block.h"
#include "tray/tray.h"
//
#include "e2e/e2e_shared.h"
#include "e2e/hosts.h"
#include "tray/win32/tests/helper_stub.h"
#include "tray/win32/tests/probe.h"
#include "tray/win32/tests/wine_windows.h"
#include "tray/win32/shared_block_security.h"
// clang-format off
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shellapi.h>
#include <tlhelp32.h>
// clang-format on

namespace {

using namespace tavik::e2e;
using namespace tavik::wintest;
using tavik::behaviour::ProbeBlock;

constexpr UINT kTrayNotify = WM_USER + 100;
constexpr WPARAM kSettingsCommand = 32773;
constexpr WPARAM kAboutCommand = 32772;
constexpr WPARAM kExitCommand = 32771;
constexpr WPARAM kPauseCommand = 32774;
constexpr WPARAM kSysAbout = 0x10;
constexpr DWORD kWindowTimeout = 10000;
const wchar_t kSettingsTitle[] = L"tavikの設定";
const wchar_t kAboutTitle[] = L"tavikのﾊﾞｰｼﾞｮﾝ情報";

int failures = 0;

bool Check(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  std::fflush(stdout);
  if (!ok) ++failures;
  return ok;
}

void Note(const std::string& what) {
  std::printf("     %s\n", what.c_str());
  std::fflush(stdout);
}

// Polls `done` every 20 ms until it holds or `milliseconds` have passed.
bool WaitUntil(const std::function<bool()>& done, DWORD milliseconds = kWindowTimeout) {
  for (DWORD start = GetTickCount();;) {
    if (done()) return true;
    if (GetTickCount() - start > milliseconds) return false;
    Sleep(20);
  }
}

// The process's top-level windows of class `className` (and, unless null,
// with title `title`).
std::vector<HWND> WindowsOf(DWORD processId, const wchar_t* className, const wchar_t* title = nullptr,
                            bool visibleOnly = false) {
  struct Search {
    DWORD processId;
    const wchar_t* className;
    const wchar_t* title;
    bool visibleOnly;
    std::vector<HWND> found;
  } search{processId, className, title, visibleOnly, {}};
  EnumWindows(
      [](HWND window, LPARAM lParam) -> BOOL {
        auto* s = reinterpret_cast<Search*>(lParam);
        if (ProcessOf(window) == s->processId && ClassOf(window) == s->className &&
            (s->title == nullptr || TextOf(window) == s->title) && (!s->visibleOnly || IsWindowVisible(window))) {
          s->found.push_back(window);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForWindow(DWORD processId, const wchar_t* className, const wchar_t* title, bool visibleOnly = true) {
  HWND found = nullptr;
  WaitUntil([&] {
    std::vector<HWND> windows = WindowsOf(processId, className, title, visibleOnly);
    found = windows.empty() ? nullptr : windows.front();
    return found != nullptr;
  });
  return found;
}

// --- Folders and files ------------------------------------------------------------

void RemoveFolder(const std::string& dir) {
  WIN32_FIND_DATAA entry{};
  HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileA((dir + "\\" + entry.cFileName).c_str());
    } while (FindNextFileA(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryA(dir.c_str());
}

bool Copy(const std::string& from, const std::string& to) {
  bool ok = CopyFileA(from.c_str(), to.c_str(), FALSE);
  if (!ok) Note("cannot copy " + from + " to " + to + " (error " + std::to_string(GetLastError()) + ")");
  return ok;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The file's bytes and its last-write time: what a write would change.
struct FileState {
  std::string bytes;
  FILETIME written{};
  bool operator==(const FileState& o) const {
    return bytes == o.bytes && CompareFileTime(&written, &o.written) == 0;
  }
};

FileState StateOf(const std::string& path) {
  FileState state;
  state.bytes = ReadAll(path);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) state.written = data.ftLastWriteTime;
  return state;
}

// The [TAVIK] section's keys and their value texts, read from the bytes
// (not through the profile calls, which may answer from a cache).
std::map<std::string, std::string> SettingsIn(const std::string& path) {
  std::map<std::string, std::string> keys;
  std::istringstream in(ReadAll(path));
  std::string line;
  bool inSection = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      inSection = line == "[TAVIK]";
    } else if (size_t eq = line.find('='); inSection && eq != std::string::npos) {
      keys[line.substr(0, eq)] = line.substr(eq + 1);
    }
  }
  return keys;
}

const char* const kSettingKeys[24] = {
    "TORIKESHI KEY",        "CAPSLOCK ON",     "CAPSLOCK OFF",     "ROMAJI BACKSPACE",
    "KATAKANA KEY",         "ROMAJI ONOFF",    "IMEOFF TORIKESHI", "CANNOT OPEN IME",
    "IME ONOFF",            "IME CONFIG",      "IME ON",           "HANKAKU KANA",
    "IME OFF1",             "IME OFF2",        "KANA TO EIJI CAPSLOCK", "KANA TO EIJI CAPSLOCK OFF",
    "OASYS KAKUTEI",        "KAKUTEI INPUT",   "NUMBER KAKUTEI",   "OASYS DISABLE IME OFF",
    "IE DISABLE TORIKESHI", "IE DISABLE ESC",  "KAKUTEI TATEGAKI", "KAKUTEI NOT CR",
};

bool DefaultOn(const std::string& key) {
  return key == "TORIKESHI KEY" || key == "CAPSLOCK ON" || key == "CAPSLOCK OFF" || key == "ROMAJI BACKSPACE";
}

// --- tavik.exe ---------------------------------------------------------------------

class Tavik {
 public:
  Tavik(std::string dir, std::string fileName) : dir_(std::move(dir)), fileName_(std::move(fileName)) {}
  ~Tavik() { Kill(); }

  bool Start() {
    Kill();
    std::string exe = dir_ + "\\" + fileName_;
    std::string commandLine = "\"" + exe + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    if (!CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, dir_.c_str(), &si,
                        &pi_)) {
      Note("cannot start " + exe + " (error " + std::to_string(GetLastError()) + ")");
      pi_ = {};
      return false;
    }
    return true;
  }

  // Starts it and waits for its hidden window.
  bool StartAndWait() {
    if (!Start()) return false;
    WaitForInputIdle(pi_.hProcess, kWindowTimeout);
    return FindHidden();
  }

  // Waits for its hidden window: the untitled dialog.
  bool FindHidden() {
    hidden_ = nullptr;
    WaitUntil([&] {
      std::vector<HWND> found = WindowsOf(pi_.dwProcessId, L"#32770", L"");
      hidden_ = found.empty() ? nullptr : found.front();
      return hidden_ != nullptr || Ended(0);
    });
    return Check(hidden_ != nullptr, fileName_ + ": its hidden window appears");
  }

  bool Ended(DWORD milliseconds) const {
    return pi_.hProcess == nullptr || WaitForSingleObject(pi_.hProcess, milliseconds) == WAIT_OBJECT_0;
  }
  // Ended with exit code 0 within the time.
  bool EndsCleanly(DWORD milliseconds = 5000) const {
    DWORD code = 99;
    return Ended(milliseconds) && pi_.hProcess != nullptr && GetExitCodeProcess(pi_.hProcess, &code) && code == 0;
  }
  // It handles messages: a sent one comes back.
  bool Answers() const {
    DWORD_PTR result = 0;
    return hidden_ != nullptr && SendMessageTimeoutW(hidden_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result) != 0;
  }

  void Post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    PostMessageW(hidden_, message, wParam, lParam);
  }

  // Ends a process the test could not end the proper way.
  void Kill() {
    if (pi_.hProcess == nullptr) return;
    if (!Ended(0)) {
      TerminateProcess(pi_.hProcess, 99);
      WaitForSingleObject(pi_.hProcess, 5000);
    }
    CloseHandle(pi_.hThread);
    CloseHandle(pi_.hProcess);
    pi_ = {};
  }

  // Asks it to end (WM_CLOSE) and waits; true when it ended with 0.
  bool Close() {
    if (pi_.hProcess == nullptr || Ended(0)) return pi_.hProcess != nullptr && EndsCleanly(0);
    Post(WM_CLOSE);
    return EndsCleanly();
  }

  // The icon of its hidden window (uID 0) is known to the shell: it can be
  // modified.
  bool HasIcon() const { return IconOf(hidden_); }
  static bool IconOf(HWND window) {
    NOTIFYICONDATAW icon{};
    icon.cbSize = sizeof icon;
    icon.hWnd = window;
    icon.uID = 0;
    icon.uFlags = NIF_TIP;
    lstrcpyW(icon.szTip, L"tavik");
    return Shell_NotifyIconW(NIM_MODIFY, &icon) != 0;
  }

  HWND hidden() const { return hidden_; }
  DWORD processId() const { return pi_.dwProcessId; }
  DWORD threadId() const { return pi_.dwThreadId; }
  const std::string& dir() const { return dir_; }
  std::string ini() const { return dir_ + "\\tavik.ini"; }

 private:
  std::string dir_;
  std::string fileName_;
  PROCESS_INFORMATION pi_{};
  HWND hidden_ = nullptr;
};

// A fresh folder with tavik.exe (under `names`) and tavikhook.dll.
std::string Folder(const std::string& exe, const std::string& dll, std::initializer_list<const char*> names) {
  std::string dir = FreshDirectory("behaviour");
  for (const char* name : names) Copy(exe, dir + "\\" + name);
  Copy(dll, dir + "\\tavikhook.dll");
  return dir;
}

// --- The probe inside tavik.exe ------------------------------------------------

class Probe {
 public:
  ~Probe() { Remove(); }

  bool Put(const std::string& dllPath, const Tavik& tavik) {
    mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(ProbeBlock),
                                  tavik::behaviour::kProbeBlockName);
    block_ = mapping_ ? static_cast<ProbeBlock*>(MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, 0)) : nullptr;
    if (block_ == nullptr) return Check(false, "the probe's shared block");
    std::memset(block_, 0, sizeof *block_);
    block_->watchWindow = reinterpret_cast<uintptr_t>(tavik.hidden());
    module_ = LoadLibraryA(dllPath.c_str());
    if (module_ == nullptr) return Check(false, "cannot load " + dllPath);
    auto proc = [&](const char* name) {
      return reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    };
    call_ = SetWindowsHookExW(WH_CALLWNDPROC, proc("ProbeCallWndProc"), module_, tavik.threadId());
    ret_ = SetWindowsHookExW(WH_CALLWNDPROCRET, proc("ProbeCallWndRetProc"), module_, tavik.threadId());
    readMenu_ = RegisterWindowMessageA(tavik::behaviour::kReadMenuMessage);
    return Check(call_ != nullptr && ret_ != nullptr, "the probe's hooks on tavik's thread");
  }

  void Remove() {
    if (call_) UnhookWindowsHookEx(call_);
    if (ret_) UnhookWindowsHookEx(ret_);
    call_ = ret_ = nullptr;
    if (module_) FreeLibrary(module_);
    module_ = nullptr;
    if (block_) UnmapViewOfFile(block_);
    block_ = nullptr;
    if (mapping_) CloseHandle(mapping_);
    mapping_ = nullptr;
  }

  // GetMenuState of the three commands in `menu`, read inside tavik.exe
  // while a window of its thread handles the message.
  bool ReadMenu(HWND anyWindowOfTavik, HMENU menu, uint32_t states[3]) {
    block_->menu = reinterpret_cast<uintptr_t>(menu);
    uint32_t before = block_->menuReads;
    DWORD_PTR result = 0;
    SendMessageTimeoutW(anyWindowOfTavik, readMenu_, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
    if (block_->menuReads == before) return false;
    std::memcpy(states, block_->states, sizeof block_->states);
    return true;
  }

  ProbeBlock& block() { return *block_; }

 private:
  HANDLE mapping_ = nullptr;
  ProbeBlock* block_ = nullptr;
  HMODULE module_ = nullptr;
  HHOOK call_ = nullptr;
  HHOOK ret_ = nullptr;
  UINT readMenu_ = 0;
};

// --- The target program with its IME ----------------------------------------------

struct Key {
  uint32_t vk;
  uint32_t scanKey;  // plus 0x100 when extended
  bool up;
  bool operator==(const Key& o) const { return vk == o.vk && scanKey == o.scanKey && up == o.up; }
};

std::string Describe(const std::vector<Key>& keys) {
  std::string text;
  for (const Key& k : keys) {
    char one[40];
    std::snprintf(one, sizeof one, "%s%s 0x%X/0x%X", text.empty() ? "" : ", ", k.up ? "up" : "down", k.vk,
                  k.scanKey);
    text += one;
  }
  return text.empty() ? "nothing" : text;
}

const std::vector<Key> kAtTyped = {{0xC0, 0x1A, false}, {0xC0, 0x1A, true}};
const std::vector<Key> kCancelEsc = {{0x1B, 0x164, false}, {0x1B, 0x164, true}};

class Target {
 public:
  ~Target() { Stop(); }

  bool Start(const std::string& ime, const std::string& target) {
    mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Shared), kSharedName);
    shared_ = mapping_ ? static_cast<Shared*>(MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, 0)) : nullptr;
    if (shared_ == nullptr) return Check(false, "the target's shared block");
    std::memset(shared_, 0, sizeof(Shared));
    std::string why;
    bool ok = targets_.Start(ime, target, *shared_, why);
    if (!ok) Note(why);
    window_ = targets_.window();
    return Check(ok, "the target program runs with the test IME");
  }

  // A second target program, of the other bitness, on the same layout. Its
  // IME is the test IME built for that bitness, in the folder where its
  // programs find their system files.
  bool StartSecond(const std::string& ime, const std::string& target) {
    char folder[MAX_PATH] = {};
    UINT n = GetSystemWow64DirectoryA(folder, sizeof folder);
    std::string installed = std::string(folder) + "\\" + kImeFileNames[0];
    if (n == 0 || n >= sizeof folder ||
        (!CopyFileA(ime.c_str(), installed.c_str(), FALSE) && ReadAll(ime) != ReadAll(installed))) {
      return Check(false, "the 32-bit test IME is put in place");
    }
    // The layout the first program was started on.
    TellTarget(targets_.window(), kCmdSnapshot);
    std::string why;
    bool ok = second_.Start(target, static_cast<uint32_t>(shared_->snapLayout), *shared_, why);
    if (!ok) Note(why);
    return Check(ok, "the 32-bit target program runs with the 32-bit test IME");
  }

  // Which of the two programs TypeAt types into.
  void UseSecond(bool second) { window_ = second ? second_.window() : targets_.window(); }

  void Stop() {
    if (shared_ == nullptr) return;
    second_.Stop();
    targets_.Stop();
    UnmapViewOfFile(shared_);
    CloseHandle(mapping_);
    shared_ = nullptr;
    mapping_ = nullptr;
  }

  // Types "@" (press and release) into the target's edit control with the
  // IME as given, and returns what reached the target.
  std::vector<Key> TypeAt(bool imeOpen, uint32_t conversion) {
    TellTarget(window_, kCmdForeground);
    TellTarget(window_, kCmdFocus, 1);
    TellTarget(window_, kCmdSetOpen, imeOpen ? 1 : 0);
    TellTarget(window_, kCmdSetMode, conversion, 0);
    uint32_t from = shared_->keyCount;
    INPUT at[2] = {Input(0xC0, 0x1A, false), Input(0xC0, 0x1A, true)};
    SendInput(2, at, sizeof(INPUT));
    Settle();
    std::vector<Key> got;
    for (uint32_t i = from; i < shared_->keyCount; ++i) {
      const Keystroke& k = shared_->keys[i];
      if (k.vk != kSentinelVk) got.push_back(Key{k.vk, k.scanKey, k.up != 0});
    }
    return got;
  }

 private:
  static constexpr uint32_t kSentinelVk = 0x87;  // F24: no stage has any use for it
  static constexpr uint32_t kSentinelScan = 0x76;

  static INPUT Input(uint32_t vk, uint32_t scanKey, bool up) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = static_cast<WORD>(vk);
    in.ki.wScan = static_cast<WORD>(scanKey & 0xFF);
    in.ki.dwFlags = ((scanKey & 0x100) ? KEYEVENTF_EXTENDEDKEY : 0) | (up ? KEYEVENTF_KEYUP : 0);
    return in;
  }

  // Rounds of F24 until one brings nothing else: what the hook sends while
  // the target takes the keystrokes queues up behind the first F24.
  void Settle() {
    for (int round = 0; round < 8; ++round) {
      uint32_t before = shared_->keyCount;
      INPUT sentinel[2] = {Input(kSentinelVk, kSentinelScan, false), Input(kSentinelVk, kSentinelScan, true)};
      SendInput(2, sentinel, sizeof(INPUT));
      bool up = WaitUntil(
          [&] {
            for (uint32_t i = before; i < shared_->keyCount; ++i) {
              if (shared_->keys[i].vk == kSentinelVk && shared_->keys[i].up) return true;
            }
            return false;
          },
          5000);
      if (!up) return;
      bool other = false;
      for (uint32_t i = before; i < shared_->keyCount; ++i) other = other || shared_->keys[i].vk != kSentinelVk;
      if (!other && round > 0) return;
    }
  }

  HANDLE mapping_ = nullptr;
  Shared* shared_ = nullptr;
  Targets targets_;
  TargetProgram second_;
  HWND window_ = nullptr;
};

bool CheckTyped(Target& target, bool imeOpen, uint32_t conversion, const std::vector<Key>& want,
                const std::string& what) {
  std::vector<Key> got = target.TypeAt(imeOpen, conversion);
  bool ok = Check(got == want, what);
  if (!ok) Note("the target got " + Describe(got));
  return ok;
}

// --- The menu -------------------------------------------------------------------------

// Opens the tray menu by the icon's right-button callback; the menu window.
HWND OpenMenu(const Tavik& tavik) {
  tavik.Post(kTrayNotify, 0, WM_RBUTTONUP);
  return WaitForWindow(tavik.processId(), L"#32768", nullptr);
}

// Esc closes the menu: its loop takes keystrokes posted to any window of the
// thread.
bool CloseMenu(const Tavik& tavik, HWND menu) {
  PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  PostMessageW(menu, WM_KEYUP, VK_ESCAPE, 0xC0010001);
  if (WaitUntil([&] { return !IsWindowVisible(menu); }, 3000)) return true;
  tavik.Post(WM_CANCELMODE);
  return WaitUntil([&] { return !IsWindowVisible(menu); }, 3000);
}

std::string MenuStatesText(const uint32_t states[3]) {
  std::string text;
  const char* names[3] = {"settings", "about", "exit"};
  for (int i = 0; i < 3; ++i) {
    char one[48];
    std::snprintf(one, sizeof one, "%s%s 0x%X", i ? ", " : "", names[i], states[i]);
    text += one;
  }
  return text;
}

// Opens the menu, checks which of settings, About and exit are greyed, and
// closes it again.
void CheckMenu(const Tavik& tavik, Probe& probe, bool settingsGrey, bool aboutGrey, bool exitGrey,
               const std::string& when) {
  HWND menu = OpenMenu(tavik);
  if (!Check(menu != nullptr, "the tray menu opens " + when)) return;
  auto hmenu = reinterpret_cast<HMENU>(SendMessageW(menu, MN_GETHMENU, 0, 0));
  uint32_t states[3] = {};
  bool read = probe.ReadMenu(tavik.hidden(), hmenu, states);
  bool want[3] = {settingsGrey, aboutGrey, exitGrey};
  bool ok = read;
  for (int i = 0; read && i < 3; ++i) {
    ok = ok && states[i] != 0xFFFFFFFF && ((states[i] & (MF_GRAYED | MF_DISABLED)) != 0) == want[i];
  }
  std::string expect;
  const char* names[3] = {"settings", "about", "exit"};
  for (int i = 0; i < 3; ++i) expect += std::string(i ? ", " : "") + names[i] + (want[i] ? " greyed" : " enabled");
  if (Check(ok, "menu " + when + ": " + expect) == false) {
    Note(read ? "GetMenuState: " + MenuStatesText(states) : "the probe could not read the menu");
  }
  Check(CloseMenu(tavik, menu), "Esc closes the menu " + when);
}

// --- The tests ---------------------------------------------------------------------

int Instances(const std::string& exe, const std::string& dll) {
  std::string dir = Folder(exe, dll, {"tavik.exe", "tavik2.exe"});
  Tavik first(dir, "tavik.exe");
  if (!first.StartAndWait()) return 1;
  Check(first.HasIcon(), "the first copy has its notification icon");

  // A second start of the same file ends at once, and shows nothing on its
  // way: no hidden window, no message box.
  Tavik again(dir, "tavik.exe");
  bool anyWindow = false;
  if (again.Start()) {
    WaitUntil([&] {
      anyWindow = anyWindow || !WindowsOf(again.processId(), L"#32770").empty();
      return again.Ended(0);
    });
  }
  Check(again.EndsCleanly(0), "a second start of tavik.exe ends at once, with 0");
  Check(!anyWindow, "it showed no window (neither a hidden window nor a message box)");
  Check(!first.Ended(0) && first.Answers() && first.HasIcon(), "the first copy runs on with its icon");

  // The mutex follows the file name: a copy under another name is another
  // program.
  Tavik other(dir, "tavik2.exe");
  if (other.StartAndWait()) {
    Check(other.hidden() != first.hidden() && !other.Ended(300), "tavik2.exe runs beside tavik.exe");
    Check(other.HasIcon(), "tavik2.exe has an icon of its own");
    Tavik otherAgain(dir, "tavik2.exe");
    if (otherAgain.Start()) Check(otherAgain.EndsCleanly(kWindowTimeout), "a second start of tavik2.exe ends at once");
    Check(other.Close(), "WM_CLOSE ends tavik2.exe with 0");
  }
  Check(!first.Ended(0) && first.Answers(), "tavik.exe runs on after tavik2.exe has ended");
  Check(first.Close(), "WM_CLOSE ends tavik.exe with 0");
  first.Kill();
  other.Kill();
  RemoveFolder(dir);
  return 0;
}

int Hooks(const std::string& exe, const std::string& dll, const std::string& probeDll, const std::string& ime,
          const std::string& targetExe) {
  Target target;
  if (!target.Start(ime, targetExe)) return 1;
  // Without tavik the key is what it is: the test can tell the two apart.
  CheckTyped(target, true, 0x9, kAtTyped, "without tavik, \"@\" in kana input reaches the target as \"@\"");

  std::string dir = Folder(exe, dll, {"tavik.exe"});
  for (const char* how : {"WM_CLOSE", "the menu's exit command"}) {
    std::string by = std::string(" (ended by ") + how + ")";
    Tavik tavik(dir, "tavik.exe");
    if (!tavik.StartAndWait()) return 1;
    Probe probe;
    probe.Put(probeDll, tavik);
    CheckTyped(target, true, 0x9, kCancelEsc, "while tavik runs, \"@\" in kana input reaches the target as Esc" + by);
    CheckTyped(target, false, 0x0, kAtTyped, "while tavik runs, \"@\" with the IME closed stays \"@\"" + by);
    Check(tavik.HasIcon(), "while tavik runs its icon is there" + by);
    if (std::strcmp(how, "WM_CLOSE") == 0) {
      // Paused, no hook of tavik's acts; the same command brings them back.
      // Sent, not posted: done when the call returns.
      DWORD_PTR result = 0;
      auto pause = [&] {
        return SendMessageTimeoutW(tavik.hidden(), WM_COMMAND, kPauseCommand, 0, SMTO_NORMAL, kWindowTimeout,
                                   &result) != 0;
      };
      Check(pause(), "tavik pauses");
      CheckTyped(target, true, 0x9, kAtTyped, "paused, \"@\" in kana input reaches the target as \"@\"");
      Check(pause(), "tavik resumes");
      CheckTyped(target, true, 0x9, kCancelEsc, "resumed, \"@\" in kana input reaches the target as Esc again");
    }

    HWND hidden = tavik.hidden();
    if (std::strcmp(how, "WM_CLOSE") == 0) {
      tavik.Post(WM_CLOSE);
    } else {
      tavik.Post(WM_COMMAND, kExitCommand);
    }
    Check(tavik.EndsCleanly(), std::string(how) + " ends tavik with 0");
    ProbeBlock& seen = probe.block();
    if (Check(seen.destroySeen != 0, "the probe saw the hidden window's WM_DESTROY" + by)) {
      Check(seen.iconAtDestroy == 0, "the icon was removed by the end of WM_DESTROY" + by);
      Check(seen.libraryAtDestroy == 0, "tavikhook.dll was unloaded by the end of WM_DESTROY" + by);
    }
    Check(!Tavik::IconOf(hidden), "after the end the icon is gone" + by);
    CheckTyped(target, true, 0x9, kAtTyped, "after the end, \"@\" in kana input reaches the target as \"@\" again" + by);
  }
  RemoveFolder(dir);
  return 0;
}

int Menu(const std::string& exe, const std::string& dll, const std::string& probeDll) {
  std::string dir = Folder(exe, dll, {"tavik.exe"});
  Tavik tavik(dir, "tavik.exe");
  if (!tavik.StartAndWait()) return 1;
  Probe probe;
  if (!probe.Put(probeDll, tavik)) return 1;
  const DWORD pid = tavik.processId();

  CheckMenu(tavik, probe, false, false, false, "with no dialog open");

  // The left button opens nothing. The About box asked for after the clicks
  // comes up inside any menu they opened, so a menu would still be there.
  tavik.Post(kTrayNotify, 0, WM_LBUTTONDOWN);
  tavik.Post(kTrayNotify, 0, WM_LBUTTONUP);
  tavik.Post(kTrayNotify, 0, WM_LBUTTONDBLCLK);
  tavik.Post(kTrayNotify, 0, WM_RBUTTONDOWN);
  tavik.Post(WM_SYSCOMMAND, kSysAbout);
  HWND about = WaitForWindow(pid, L"#32770", kAboutTitle);
  Check(about != nullptr, "the system menu's About command opens the About box");
  Check(WindowsOf(pid, L"#32768", nullptr, true).empty(),
        "WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK and WM_RBUTTONDOWN open no menu");
  if (about != nullptr) {
    // The system menu's About box is not the tray menu's: nothing is greyed.
    CheckMenu(tavik, probe, false, false, false, "with the system menu's About box open");
    PostMessageW(about, WM_COMMAND, IDOK, 0);
    Check(WaitUntil([&] { return !IsWindow(about); }), "the About box closes with OK");
  }

  tavik.Post(WM_COMMAND, kSettingsCommand);
  HWND settings = WaitForWindow(pid, L"#32770", kSettingsTitle);
  if (Check(settings != nullptr, "the settings command opens \"tavikの設定\"")) {
    CheckMenu(tavik, probe, true, false, true, "with the settings dialog open");
    PostMessageW(settings, WM_COMMAND, IDCANCEL, 0);
    Check(WaitUntil([&] { return !IsWindow(settings); }), "the settings dialog closes with Cancel");
  }

  tavik.Post(WM_COMMAND, kAboutCommand);
  about = WaitForWindow(pid, L"#32770", kAboutTitle);
  if (Check(about != nullptr, "the menu's About command opens the About box")) {
    CheckMenu(tavik, probe, false, true, true, "with the menu's About box open");
    PostMessageW(about, WM_COMMAND, IDCANCEL, 0);
    Check(WaitUntil([&] { return !IsWindow(about); }), "the About box closes with Esc's IDCANCEL");
  }

  CheckMenu(tavik, probe, false, false, false, "once the dialogs are closed again");
  Check(tavik.Close(), "WM_CLOSE ends tavik with 0");
  probe.Remove();
  tavik.Kill();
  RemoveFolder(dir);
  return 0;
}

// --- The settings dialog ---------------------------------------------------------

class SettingsDialog {
 public:
  explicit SettingsDialog(const Tavik& tavik) : tavik_(tavik) {}

  bool Open() {
    tavik_.Post(WM_COMMAND, kSettingsCommand);
    window_ = WaitForWindow(tavik_.processId(), L"#32770", kSettingsTitle);
    return Check(window_ != nullptr, "the settings dialog opens");
  }

  void Click(int id) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(GetDlgItem(window_, id), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
  }

  // OK or Cancel; waits until the dialog is gone and tavik has done what
  // follows it (the hooks' restart): a message sent afterwards is only
  // taken once the command that ran the dialog has returned.
  bool Close(int button) {
    Click(button);
    bool gone = WaitUntil([&] { return !IsWindow(window_); });
    return Check(gone && tavik_.Answers(), button == IDOK ? "OK closes the dialog" : "Cancel closes the dialog");
  }

  bool Enabled(int id) const { return IsWindowEnabled(GetDlgItem(window_, id)) != 0; }
  bool Checked(int id) const { return IsDlgButtonChecked(window_, id) == BST_CHECKED; }

  // Each control's enabled and checked state against `enabled` and `checked`
  // (the ids listed are enabled / checked, the others are not).
  bool Expect(const std::vector<int>& ids, const std::vector<int>& enabled, const std::vector<int>& checked,
              const std::string& what) {
    std::string wrong;
    auto in = [](const std::vector<int>& list, int id) {
      for (int x : list) {
        if (x == id) return true;
      }
      return false;
    };
    for (int id : ids) {
      if (Enabled(id) != in(enabled, id)) wrong += " " + std::to_string(id) + (Enabled(id) ? " enabled" : " disabled");
      if (Checked(id) != in(checked, id)) wrong += " " + std::to_string(id) + (Checked(id) ? " checked" : " unchecked");
    }
    bool ok = Check(wrong.empty(), what);
    if (!ok) Note("but" + wrong);
    return ok;
  }

 private:
  const Tavik& tavik_;
  HWND window_ = nullptr;
};

std::vector<int> AllControls() {
  std::vector<int> ids;
  for (int id = 1000; id <= 1024; ++id) ids.push_back(id);
  return ids;
}

// With the default settings: what is enabled and checked as the dialog opens.
const std::vector<int> kDefaultEnabled = {1000, 1006, 1001, 1002, 1004, 1005, 1003, 1008, 1017, 1021};
const std::vector<int> kDefaultChecked = {1000, 1001, 1002, 1003, 1015};

// The settings file before tavik starts: every setting at its default, but
// written "01" and "00", which the reading rule takes as 1 and 0 and which
// a write of the key would turn into "1" and "0" (Wine skips a write that
// leaves the text as it was, so equal texts would hide one). The keys only
// the hook library reads are set too.
void WriteSettingsFile(const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << "[TAVIK]\r\nRESET=0\r\n";
  for (const char* key : kSettingKeys) out << key << "=" << (DefaultOn(key) ? "01" : "00") << "\r\n";
  out << "VELTO=1\r\nIME2007=1\r\nBACKSPACE PRIORITY=1\r\n";
}

int Settings(const std::string& exe, const std::string& dll, const std::string& ime, const std::string& targetExe) {
  Target target;
  if (!target.Start(ime, targetExe)) return 1;
  std::string dir = Folder(exe, dll, {"tavik.exe"});
  Tavik tavik(dir, "tavik.exe");
  WriteSettingsFile(tavik.ini());
  if (!tavik.StartAndWait()) return 1;
  const FileState written = StateOf(tavik.ini());
  Check(SettingsIn(tavik.ini())["TORIKESHI KEY"] == "01", "the start-up leaves a consistent settings file as it is");
  const std::vector<int> all = AllControls();
  CheckTyped(target, false, 0x0, kAtTyped, "with IMEOFF TORIKESHI off, \"@\" with the IME closed stays \"@\"");

  // Clicks down the IME on/off branch, then Cancel.
  {
    SettingsDialog dialog(tavik);
    if (!dialog.Open()) return 1;
    dialog.Expect(all, kDefaultEnabled, kDefaultChecked, "the dialog opens with the defaults from the file");
    for (int id : {1008, 1009, 1010, 1011, 1012, 1013, 1020}) dialog.Click(id);
    dialog.Expect({1008, 1009, 1010, 1011, 1012, 1013, 1020}, {1008, 1009, 1010, 1011, 1012, 1013, 1020},
                  {1008, 1009, 1010, 1011, 1012, 1013, 1020}, "checking 1008 down to 1013 and 1020 enables each");
    dialog.Click(1008);
    dialog.Expect({1008, 1009, 1010, 1011, 1012, 1013, 1020}, {1008}, {},
                  "unchecking 1008 disables and unchecks 1009 to 1013 and 1020");
    dialog.Click(1008);
    dialog.Expect({1008, 1009, 1010, 1011, 1012, 1013, 1020}, {1008, 1009, 1010}, {1008},
                  "checking 1008 again enables 1009 and 1010 only, unchecked");

    // The CapsLock branch: 1004 needs both 1001 and 1002.
    dialog.Click(1004);
    dialog.Click(1014);
    dialog.Click(1016);
    dialog.Expect({1001, 1002, 1004, 1014, 1015, 1016}, {1001, 1002, 1004, 1014, 1015, 1016},
                  {1001, 1002, 1004, 1014, 1016}, "checking 1004 and 1014 enables the radio pair; 1016 chosen");
    dialog.Click(1001);
    dialog.Expect({1001, 1002, 1004, 1014, 1015, 1016}, {1001, 1002}, {1002, 1015},
                  "unchecking 1001 with 1002 checked disables 1004, 1014 and the pair, 1015 chosen");
    dialog.Click(1001);
    dialog.Expect({1001, 1002, 1004, 1014, 1015, 1016}, {1001, 1002, 1004}, {1001, 1002, 1015},
                  "checking 1001 again enables 1004 only");
    dialog.Click(1002);
    dialog.Click(1001);
    dialog.Click(1001);
    dialog.Expect({1001, 1002, 1004}, {1001, 1002}, {1001}, "checking 1001 while 1002 is unchecked leaves 1004 disabled");
    dialog.Click(1006);
    dialog.Click(1005);
    dialog.Close(IDCANCEL);
    Check(StateOf(tavik.ini()) == written, "Cancel after changes writes nothing");
  }

  // Reopened: the settings as they were, not the cancelled clicks. Then
  // OK without a change, and OK after a box flipped twice.
  for (const char* how : {"no change", "1005 clicked twice"}) {
    SettingsDialog dialog(tavik);
    if (!dialog.Open()) return 1;
    if (std::strcmp(how, "no change") == 0) {
      dialog.Expect(all, kDefaultEnabled, kDefaultChecked, "reopened after Cancel, the dialog shows the settings");
    } else {
      dialog.Click(1005);
      dialog.Click(1005);
    }
    dialog.Close(IDOK);
    Check(StateOf(tavik.ini()) == written, std::string("OK after ") + how + " writes nothing (bytes and time)");
  }

  // OK after one change writes all 24 keys.
  {
    SettingsDialog dialog(tavik);
    if (!dialog.Open()) return 1;
    dialog.Click(1005);
    dialog.Close(IDOK);
    std::map<std::string, std::string> keys = SettingsIn(tavik.ini());
    std::string wrong;
    for (const char* key : kSettingKeys) {
      std::string want = DefaultOn(key) || std::strcmp(key, "ROMAJI ONOFF") == 0 ? "1" : "0";
      if (keys[key] != want) wrong += std::string(" ") + key + "=" + keys[key];
    }
    if (!Check(wrong.empty(), "OK after checking 1005 writes all 24 keys, ROMAJI ONOFF=1")) Note("but" + wrong);
    Check(keys["VELTO"] == "1" && keys["IME2007"] == "1" && keys["BACKSPACE PRIORITY"] == "1" && keys["RESET"] == "0",
          "VELTO, IME2007, BACKSPACE PRIORITY and RESET keep their values across the OK");
    CheckTyped(target, false, 0x0, kAtTyped, "after that OK, \"@\" with the IME closed still stays \"@\"");
  }

  // A change the hooks act on: the cancel key with the IME closed.
  {
    SettingsDialog dialog(tavik);
    if (!dialog.Open()) return 1;
    dialog.Expect({1005, 1006, 1007}, {1005, 1006}, {1005}, "reopened, the dialog shows ROMAJI ONOFF on");
    dialog.Click(1006);
    dialog.Expect({1006, 1007}, {1006, 1007}, {1006}, "checking 1006 enables 1007");
    dialog.Close(IDOK);
    Check(SettingsIn(tavik.ini())["IMEOFF TORIKESHI"] == "1", "OK writes IMEOFF TORIKESHI=1");
    CheckTyped(target, false, 0x0, kCancelEsc,
               "at once after that OK, \"@\" with the IME closed reaches the target as Esc");
  }

  Check(tavik.Close(), "WM_CLOSE ends tavik with 0");
  tavik.Kill();
  target.Stop();
  RemoveFolder(dir);
  return 0;
}

// A descriptor's DACL or label as SDDL, as this system writes it.
std::string Sddl(PSECURITY_DESCRIPTOR descriptor, SECURITY_INFORMATION part) {
  char* text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, part, &text, nullptr)) {
    return "(unreadable)";
  }
  std::string s = text;
  LocalFree(text);
  return s;
}

// The shared block as tavik.exe creates it: its DACL and mandatory label
// read back and compared with the descriptor intended for this user, both
// written out by the same call. Wine keeps the DACL but gives no label back
// and enforces neither integrity levels nor elevation: that a normal
// program opens the block of an elevated tavik only Windows can show.
int Block(const std::string& exe, const std::string& dll) {
  std::string dir = Folder(exe, dll, {"tavik.exe"});
  Tavik tavik(dir, "tavik.exe");
  if (!tavik.StartAndWait()) return 1;
  PSECURITY_DESCRIPTOR want = nullptr;
  // Full section access (0xf001f) for this user and SYSTEM, nobody else; low, no write up.
  std::string wantSddl = "D:P(A;;0xf001f;;;" + tavik::tray::TokenUserSid() + ")(A;;0xf001f;;;SY)S:(ML;;NW;;;LW)";
  ConvertStringSecurityDescriptorToSecurityDescriptorA(wantSddl.c_str(), SDDL_REVISION_1, &want, nullptr);
  HANDLE block = OpenFileMappingA(READ_CONTROL, FALSE, tavik::kSharedBlockName);
  PSECURITY_DESCRIPTOR got = nullptr;
  if (Check(block != nullptr && want != nullptr &&
                GetSecurityInfo(block, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION,
                                nullptr, nullptr, nullptr, nullptr, &got) == ERROR_SUCCESS,
            "the shared block opens by name while tavik runs, and its security reads back")) {
    for (auto [part, what] : {std::pair{SECURITY_INFORMATION{DACL_SECURITY_INFORMATION}, "the user and SYSTEM only"},
                              std::pair{SECURITY_INFORMATION{LABEL_SECURITY_INFORMATION}, "labelled low, no write up"}}) {
      std::string is = Sddl(got, part);
      if (is.empty()) {
        Note(std::string("no ") + what + " to compare: the system gives none back");
      } else if (!Check(is == Sddl(want, part), std::string("the block's security: ") + what)) {
        Note("it is " + is + ", not " + Sddl(want, part));
      }
    }
  }
  if (got != nullptr) LocalFree(got);
  if (want != nullptr) LocalFree(want);
  if (block != nullptr) CloseHandle(block);
  Check(tavik.Close(), "WM_CLOSE ends tavik with 0");
  RemoveFolder(dir);
  return 0;
}

// A key-up owed for a typed key that went up where no hook saw it: the
// cancel key's Esc pressed, its "@" up, and only the block to say so.
// tavik pays it within a second, and once. Then the same with "@" still
// held: not paid while it is, and paid when tavik exits, since no hook will
// be there for the key-up of "@".
int Owed(const std::string& exe, const std::string& dll) {
  std::string dir = Folder(exe, dll, {"tavik.exe"});
  Tavik tavik(dir, "tavik.exe");
  if (!tavik.StartAndWait()) return 1;
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, tavik::kSharedBlockName);
  void* view = mapping == nullptr ? nullptr
                                  : MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0,
                                                  sizeof(tavik::HookSharedBlock));
  auto* block = static_cast<tavik::HookSharedBlock*>(view);
  if (Check(block != nullptr, "the shared block maps while tavik runs")) {
    INPUT esc{};
    esc.type = INPUT_KEYBOARD;
    esc.ki = {VK_ESCAPE, 0x64, KEYEVENTF_EXTENDEDKEY, 0, 0};
    SendInput(1, &esc, sizeof esc);
    Check(WaitUntil([] { return (GetAsyncKeyState(VK_ESCAPE) & 0x8000) != 0; }, 1000), "the Esc is down");
    block->owedKeys.keyUp[0] = VK_ESCAPE | 0x64u << 8 | (KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP) << 16;
    block->owedKeys.typedVk[0] = VK_OEM_3;
    std::atomic_ref<int32_t>(block->runtime.cancelKey.escDown).store(1);
    DWORD start = GetTickCount();
    bool paid = WaitUntil(
        [&] { return block->runtime.cancelKey.escDown == 0 && (GetAsyncKeyState(VK_ESCAPE) & 0x8000) == 0; }, 3000);
    DWORD took = GetTickCount() - start;
    if (!Check(paid && took <= 1000, "the owed Esc key-up is paid within a second, its word cleared")) {
      Note("after " + std::to_string(took) + " ms: word " + std::to_string(block->runtime.cancelKey.escDown));
    }

    INPUT at{};
    at.type = INPUT_KEYBOARD;
    at.ki = {VK_OEM_3, 0x1A, 0, 0, 0};
    // Typed before the word is set: wherever "@" went, no stage owes for it.
    SendInput(1, &esc, sizeof esc);
    SendInput(1, &at, sizeof at);
    Sleep(300);
    std::atomic_ref<int32_t>(block->runtime.cancelKey.escDown).store(1);
    Sleep(1200);
    Check(block->runtime.cancelKey.escDown == 1 && (GetAsyncKeyState(VK_ESCAPE) & 0x8000) != 0,
          "while \"@\" is held its Esc stays down");
    Check(tavik.Close(), "WM_CLOSE ends tavik with 0");
    Check(block->runtime.cancelKey.escDown == 0 && (GetAsyncKeyState(VK_ESCAPE) & 0x8000) == 0,
          "\"@\" held while tavik exits leaves no Esc down");
    at.ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(1, &at, sizeof at);
    UnmapViewOfFile(view);
  } else {
    tavik.Close();
  }
  if (mapping != nullptr) CloseHandle(mapping);
  RemoveFolder(dir);
  return 0;
}

int Keys(const std::string& exe, const std::string& dll) {
  std::string dir = Folder(exe, dll, {"tavik.exe"});
  Tavik tavik(dir, "tavik.exe");
  if (!tavik.StartAndWait()) return 1;

  // As keystrokes the hidden window's dialog loop turns into IDOK and
  // IDCANCEL, then as the commands themselves.
  for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
    tavik.Post(WM_KEYDOWN, key, 0x00000001);
    tavik.Post(WM_KEYUP, key, 0xC0000001);
  }
  tavik.Post(WM_COMMAND, IDOK);
  tavik.Post(WM_COMMAND, IDCANCEL);
  // Taken in order: once the menu asked for after them is up, they are done.
  HWND menu = OpenMenu(tavik);
  Check(menu != nullptr && !tavik.Ended(0) && tavik.Answers(),
        "Enter and Esc (as keystrokes and as IDOK and IDCANCEL) leave tavik running");
  if (menu != nullptr) CloseMenu(tavik, menu);
  Check(WindowsOf(tavik.processId(), L"#32770", L"").size() == 1 && tavik.HasIcon(),
        "its hidden window and icon are still there");
  Check(tavik.Close(), "WM_CLOSE still ends it with 0");
  tavik.Kill();
  RemoveFolder(dir);
  return 0;
}

// --- The taskbar and the settings file --------------------------------------------

std::wstring Wide(const char* utf8) {
  wchar_t text[512] = {};
  MultiByteToWideChar(CP_UTF8, 0, utf8, -1, text, 512);
  return text;
}

int Taskbar(const std::string& exe, const std::string& dll) {
  std::string dir = Folder(exe, dll, {"tavik.exe"});
  Tavik tavik(dir, "tavik.exe");
  if (!tavik.StartAndWait()) return 1;
  Check(tavik.HasIcon(), "tavik starts with its icon");
  const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
  // A restarted Explorer has none of the old icons: gone as if removed,
  // then the new taskbar's message, twice.
  for (int round = 1; round <= 2; ++round) {
    std::string when = " (taskbar restart " + std::to_string(round) + ")";
    NOTIFYICONDATAW icon{};
    icon.cbSize = sizeof icon;
    icon.hWnd = tavik.hidden();
    Shell_NotifyIconW(NIM_DELETE, &icon);
    Check(!tavik.HasIcon(), "the icon is gone with the old taskbar" + when);
    tavik.Post(taskbarCreated);
    Check(WaitUntil([&] { return tavik.HasIcon(); }), "TaskbarCreated brings the icon back" + when);
  }
  // While it is shown, the message adds nothing and ends nothing.
  tavik.Post(taskbarCreated);
  Check(tavik.Answers() && tavik.HasIcon(), "TaskbarCreated with the icon shown leaves it as it is");
  HWND menu = OpenMenu(tavik);
  Check(menu != nullptr, "the icon's menu opens after the restarts");
  if (menu != nullptr) CloseMenu(tavik, menu);
  Check(tavik.Close(), "WM_CLOSE ends tavik with 0");
  tavik.Kill();
  RemoveFolder(dir);
  return 0;
}

// The text of the message box of tavik's captioned `caption`, once it is
// shown; empty when none came. Its OK is then pressed.
std::wstring AnswerBox(const Tavik& tavik, const wchar_t* caption) {
  HWND box = WaitForWindow(tavik.processId(), L"#32770", caption);
  if (box == nullptr) return L"";
  std::wstring text = BoxText(box);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  WaitUntil([&] { return !IsWindow(box); });
  return text;
}

int Unsaved(const std::string& exe, const std::string& dll) {
  std::string dir = Folder(exe, dll, {"tavik.exe"});
  Tavik tavik(dir, "tavik.exe");
  // A file that asks for a reset, which tavik may not write: Wine makes a
  // read-only file one without write permission for Linux, too.
  WriteSettingsFile(tavik.ini());
  std::string text = ReadAll(tavik.ini());
  text.replace(text.find("RESET=0"), 7, "RESET=1");
  std::ofstream(tavik.ini(), std::ios::binary | std::ios::trunc) << text;
  SetFileAttributesA(tavik.ini().c_str(), FILE_ATTRIBUTE_READONLY);
  // Run as root, Linux lets the file be written all the same; then it is
  // held open here without write sharing, which fails tavik's writes alike.
  HANDLE held = INVALID_HANDLE_VALUE;
  HANDLE probe = CreateFileA(tavik.ini().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
    Note("the read-only file is writable here (root): it is held open without write sharing instead");
    held = CreateFileA(tavik.ini().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  }
  const FileState before = StateOf(tavik.ini());
  const std::wstring want = Wide((tavik.ini() +
                                  "に設定を保存できませんでした。\nﾌｧｲﾙやﾌｫﾙﾀﾞが書き込み禁止になっていないか確かめるか、"
                                  "tavikを書き込みのできるﾌｫﾙﾀﾞに移してください。")
                                     .c_str());

  if (!tavik.Start()) return 1;
  std::wstring said = AnswerBox(tavik, L"tavik");
  if (!Check(said == want, "at start one box, captioned tavik, says the file could not be saved")) {
    Note("got \"" + Utf8(said) + "\"");
  }
  Check(tavik.FindHidden() && WaitUntil([&] { return tavik.HasIcon(); }), "after it tavik runs with its icon");
  Check(WindowsOf(tavik.processId(), L"#32770", L"tavik").empty(), "no second box at start");
  {
    // The defaults, as the reset would have made them.
    SettingsDialog dialog(tavik);
    if (!dialog.Open()) return 1;
    dialog.Expect(AllControls(), kDefaultEnabled, kDefaultChecked, "the dialog shows the defaults tavik runs with");
    dialog.Click(1005);
    dialog.Click(IDOK);
    said = AnswerBox(tavik, L"tavik");
    if (!Check(said == want, "OK with a change: one box says the file could not be saved")) {
      Note("got \"" + Utf8(said) + "\"");
    }
    Check(WaitUntil([&] { return tavik.Answers() && WindowsOf(tavik.processId(), L"#32770", kSettingsTitle).empty(); }),
          "the dialog has closed");
  }
  Check(WindowsOf(tavik.processId(), L"#32770", L"tavik").empty(), "no second box after OK");
  Check(StateOf(tavik.ini()) == before, "the read-only file is unchanged");
  {
    SettingsDialog dialog(tavik);
    if (!dialog.Open()) return 1;
    dialog.Expect({1005}, {1005}, {}, "reopened, the dialog does not show the unsaved change");
    dialog.Close(IDCANCEL);
  }
  Check(tavik.Close(), "WM_CLOSE ends tavik with 0");
  tavik.Kill();
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  SetFileAttributesA(tavik.ini().c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveFolder(dir);
  return 0;
}

// --- The 32-bit helper --------------------------------------------------------------

// The processes that `parent` started from a file named `exeName`.
std::vector<DWORD> ChildrenNamed(DWORD parent, const char* exeName) {
  std::vector<DWORD> found;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return found;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    const char* name = entry.szExeFile;
    for (const char* p = entry.szExeFile; *p != '\0'; ++p) {
      if (*p == '\\') name = p + 1;
    }
    if (entry.th32ParentProcessID == parent && lstrcmpiA(name, exeName) == 0) found.push_back(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return found;
}

// tavik's helper once it has appeared, opened to be waited on; null when
// none appears within the time.
HANDLE WaitForHelper(const Tavik& tavik) {
  std::vector<DWORD> helpers;
  WaitUntil([&] {
    helpers = ChildrenNamed(tavik.processId(), "tavik32.exe");
    return !helpers.empty();
  });
  if (!Check(helpers.size() == 1, "tavik.exe starts one tavik32.exe from its folder")) return nullptr;
  return OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, helpers.front());
}

// The About box's line on 32-bit programs, as the menu's About command
// shows it.
// The About box's line on 32-bit programs, and the height of the box's
// client area in pixels.
std::wstring AboutNote(const Tavik& tavik, int* height = nullptr) {
  tavik.Post(WM_COMMAND, kAboutCommand);
  HWND about = WaitForWindow(tavik.processId(), L"#32770", kAboutTitle);
  if (about == nullptr) return L"(no About box)";
  std::wstring note = TextOf(GetDlgItem(about, tavik::tray::kAboutNote));
  if (height != nullptr) {
    RECT client{};
    GetClientRect(about, &client);
    *height = client.bottom;
  }
  PostMessageW(about, WM_COMMAND, IDOK, 0);
  WaitUntil([&] { return !IsWindow(about); });
  return note;
}

class HelperStub {
 public:
  HelperStub() {
    mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Block),
                                  tavik::behaviour::kHelperStubBlockName);
    block_ = mapping_ ? static_cast<Block*>(MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, 0)) : nullptr;
    if (block_ != nullptr) std::memset(block_, 0, sizeof *block_);
  }
  ~HelperStub() {
    if (block_ != nullptr) UnmapViewOfFile(block_);
    if (mapping_ != nullptr) CloseHandle(mapping_);
  }
  uint32_t starts() const { return block_ ? block_->hookStarts : 0; }
  uint32_t ends() const { return block_ ? block_->hookEnds : 0; }

 private:
  using Block = tavik::behaviour::HelperStubBlock;
  HANDLE mapping_ = nullptr;
  Block* block_ = nullptr;
};

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// "@" in kana input typed into each target program while tavik and its
// helper run: each program of either bitness is to get Esc, from the
// library of its own bitness running inside it.
//
// Under Wine a 64-bit program gets "@" while the real helper runs. Wine
// calls a global hook only in the thread that takes the keystroke: a hook
// whose library cannot be loaded there (one of the other bitness) ends the
// chain as though it had passed the keystroke on, and the helper's hooks,
// started last, come first in the chain. The order cannot help there: the
// other way round, 32-bit programs would lose. So under Wine that one case
// is reported and not counted, and counted if it ever passes.
void CheckEachBitness(Target& target, bool second, bool realHelper, const std::string& when) {
  struct Program {
    bool second;
    const char* what;
    bool knownUnderWine;
  };
  for (const Program& p : {Program{false, "a 64-bit program", realHelper}, Program{true, "a 32-bit program", false}}) {
    if (p.second && !second) continue;
    target.UseSecond(p.second);
    std::vector<Key> got = target.TypeAt(true, 0x9);
    std::string what = when + ", \"@\" in kana input reaches " + p.what + " as Esc";
    if (p.knownUnderWine && UnderWine()) {
      if (got == kCancelEsc) {
        Check(false, what + " (known to fail under Wine, but it passed: the note in CheckEachBitness is out of date)");
      } else {
        Note("known under Wine, not counted: " + what + "; the program got " + Describe(got));
      }
    } else if (!Check(got == kCancelEsc, what)) {
      Note("the program got " + Describe(got));
    }
  }
  target.UseSecond(false);
}

int Helper(const std::string& exe, const std::string& dll, const std::string& helperExe, const std::string& helperDll,
           const std::string& ime, const std::string& targetExe, const std::string& ime32,
           const std::string& target32Exe, bool stub) {
  HelperStub calls;
  Target target;
  if (!target.Start(ime, targetExe)) return 1;
  const bool second = !target32Exe.empty();
  if (second && !target.StartSecond(ime32, target32Exe)) return 1;
  std::string dir = Folder(exe, dll, {"tavik.exe"});
  std::string helperPath = dir + "\\tavik32.exe";
  std::string libraryPath = dir + "\\tavikhook32.dll";
  if (!Copy(helperExe, helperPath) || !Copy(helperDll, libraryPath)) return 1;
  int plainAbout = 0;  // the About box's height without its line on 32-bit programs

  // Started, restarted and ended with tavik.
  {
    Tavik tavik(dir, "tavik.exe");
    if (!tavik.StartAndWait()) return 1;
    HANDLE helper = WaitForHelper(tavik);
    if (helper == nullptr) return 1;
    if (stub) Check(calls.starts() == 1 && calls.ends() == 0, "the helper started its library's hooks, once");
    Check(AboutNote(tavik, &plainAbout).empty(), "while the helper runs, the About box says nothing of 32-bit programs");
    CheckEachBitness(target, second, !stub, "with the helper started");

    SettingsDialog dialog(tavik);
    if (!dialog.Open()) return 1;
    dialog.Click(1005);
    dialog.Close(IDOK);
    if (stub) {
      Check(calls.starts() == 2 && calls.ends() == 1,
            "by the time OK's restart is over, the helper has restarted its hooks too");
    }
    Check(ChildrenNamed(tavik.processId(), "tavik32.exe").size() == 1, "still one helper after the restart");
    CheckEachBitness(target, second, !stub, "after OK's restart");

    Check(tavik.Close(), "WM_CLOSE ends tavik with 0");
    DWORD code = 99;
    Check(WaitForSingleObject(helper, 2000) == WAIT_OBJECT_0 && GetExitCodeProcess(helper, &code) && code == 0,
          "the helper has ended with tavik, with 0");
    if (stub) Check(calls.ends() == calls.starts(), "after ending its hooks");
    CloseHandle(helper);
  }
  // The libraries stay loaded in the programs they reached, which hold
  // their files: ended, they let the files below be deleted and replaced.
  target.Stop();

  // Killed: the helper ends by itself.
  {
    Tavik tavik(dir, "tavik.exe");
    if (!tavik.StartAndWait()) return 1;
    HANDLE helper = WaitForHelper(tavik);
    if (helper == nullptr) return 1;
    uint32_t startsBefore = calls.starts();
    tavik.Kill();
    bool gone = WaitForSingleObject(helper, 2000) == WAIT_OBJECT_0;
    Check(gone, "tavik.exe killed with TerminateProcess: its helper has ended within 2 seconds");
    if (!gone) TerminateProcess(helper, 99);
    if (stub) Check(calls.ends() == startsBefore, "and ended its hooks on its way out");
    CloseHandle(helper);
  }

  // Missing files: tavik runs on, for 64-bit programs, and says why in its
  // About box.
  struct Missing {
    const std::string& path;
    const char* note;
    const char* what;
  };
  for (const Missing& m : {Missing{helperPath, tavik::tray::kNoHelperNote, "tavik32.exe"},
                           Missing{libraryPath, tavik::tray::kNoLibrary32Note, "tavikhook32.dll"}}) {
    Copy(helperExe, helperPath);
    Copy(helperDll, libraryPath);
    DeleteFileA(m.path.c_str());
    Tavik tavik(dir, "tavik.exe");
    if (!tavik.StartAndWait()) return 1;
    std::string without = std::string("without ") + m.what;
    Check(!tavik.Ended(300) && tavik.HasIcon(), without + ", tavik runs on with its icon");
    int height = 0;
    std::wstring note = AboutNote(tavik, &height);
    // 55 units without the line, 66 with it.
    if (!Check(plainAbout > 0 && std::abs(height * 55 - plainAbout * 66) <= 66,
               without + ", the About box grows by a fifth to say so")) {
      Note("it is " + std::to_string(height) + " pixels, " + std::to_string(plainAbout) + " without the line");
    }
    if (!Check(note == Wide(m.note), without + ", the About box says so")) Note("it says \"" + Utf8(note) + "\"");
    Check(ChildrenNamed(tavik.processId(), "tavik32.exe").empty(), without + ", no helper is left running");
    Check(tavik.Close(), "WM_CLOSE ends tavik with 0");
  }
  RemoveFolder(dir);
  return 0;
}

std::string WindowsPath(std::string p) {
  for (char& c : p) {
    if (c == '/') c = '\\';
  }
  if (!p.empty() && p[0] == '\\') p = "Z:" + p;
  return p;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(i == 1 ? argv[i] : WindowsPath(argv[i]));
  int rc = 2;
  if (args.size() == 3 && args[0] == "instances") {
    rc = Instances(args[1], args[2]);
  } else if (args.size() == 6 && args[0] == "hooks") {
    rc = Hooks(args[1], args[2], args[3], args[4], args[5]);
  } else if (args.size() == 4 && args[0] == "menu") {
    rc = Menu(args[1], args[2], args[3]);
  } else if (args.size() == 5 && args[0] == "settings") {
    rc = Settings(args[1], args[2], args[3], args[4]);
  } else if (args.size() == 3 && args[0] == "keys") {
    rc = Keys(args[1], args[2]);
  } else if (args.size() == 3 && args[0] == "block") {
    rc = Block(args[1], args[2]);
  } else if (args.size() == 3 && args[0] == "owed") {
    rc = Owed(args[1], args[2]);
  } else if (args.size() == 3 && args[0] == "taskbar") {
    rc = Taskbar(args[1], args[2]);
  } else if (args.size() == 3 && args[0] == "unsaved") {
    rc = Unsaved(args[1], args[2]);
  } else if ((args.size() == 8 || args.size() == 10) && args[0] == "helper" &&
             (args.back() == "stub" || args.back() == "real")) {
    bool with32 = args.size() == 10;
    rc = Helper(args[1], args[2], args[3], args[4], args[5], args[6], with32 ? args[7] : "", with32 ? args[8] : "",
                args.back() == "stub");
  } else {
    std::fprintf(stderr,
                 "usage: tavik-behaviour instances TAVIK.EXE DLL | hooks TAVIK.EXE DLL PROBE IME TARGET |\n"
                 "       menu TAVIK.EXE DLL PROBE | settings TAVIK.EXE DLL IME TARGET | keys TAVIK.EXE DLL |\n"
                 "       block TAVIK.EXE DLL | owed TAVIK.EXE DLL | taskbar TAVIK.EXE DLL | unsaved TAVIK.EXE DLL |\n"
                 "       helper TAVIK.EXE DLL HELPER.EXE DLL32 IME TARGET [IME32 TARGET32] stub|real\n");
    return 2;
  }
  std::printf("%d failed\n", failures);
  return rc != 0 ? rc : failures == 0 ? 0 : 1;
}
