// tavikhook.dll: the exports the tray program binds, the hook procedures
// Windows calls in every process, and the block they all share.
#include "hook/shared_block.h"
#include "hook/stages.h"
#include "hook/win32/win32_platform.h"  // brings <windows.h>, after the portable headers

namespace {

// One copy for every process that maps the library: a data section marked
// shared, stored zero-filled so that it reads as all zero before the first
// HookStart.
#if defined(_MSC_VER)
#pragma data_seg(".sharedd")
tavik::HookSharedBlock sharedBlock = {};
#pragma data_seg()
#pragma comment(linker, "/SECTION:.sharedd,RWS")
#else
__attribute__((section(".sharedd"), shared)) tavik::HookSharedBlock sharedBlock = {};
#endif

// Private to each process.
HINSTANCE moduleInstance = nullptr;
tavik::Win32Platform platform;
tavik::ProcessVariables processVariables;

// The one way to the shared block, so that its storage can change.
tavik::HookSharedBlock& SharedBlock() { return sharedBlock; }

LRESULT CALLBACK KeyboardHookProc(int code, WPARAM wParam, LPARAM lParam) {
  return tavik::KeyboardProcedure(platform, SharedBlock(), processVariables, code, wParam, lParam);
}

LRESULT CALLBACK MessageHookProc(int code, WPARAM wParam, LPARAM lParam) {
  // Only the message number is read, and only where the record is sure to be there.
  UINT message = code >= 0 && lParam != 0 ? reinterpret_cast<const MSG*>(lParam)->message : 0;
  return tavik::MessageProcedure(platform, SharedBlock(), code, wParam, lParam, message);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD, LPVOID) {
  moduleInstance = instance;
  return TRUE;
}

extern "C" __declspec(dllexport) int HookStart() {
  return tavik::HookStart(platform, SharedBlock(), tavik::Portable<tavik::Hinstance>(moduleInstance),
                          tavik::Portable<tavik::HookProc>(&KeyboardHookProc),
                          tavik::Portable<tavik::HookProc>(&MessageHookProc));
}

extern "C" __declspec(dllexport) void HookEnd() { tavik::HookEnd(platform, SharedBlock()); }

#if defined(__GNUC__)
// A pure virtual call can only come from a broken build. Defining the
// handler here keeps the C++ runtime's exception machinery, which the
// library's own handler would drag in, out of every process we are loaded into.
extern "C" void __cxa_pure_virtual() { __builtin_trap(); }
#endif
