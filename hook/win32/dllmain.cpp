// tavikhook.dll (tavikhook32.dll in 32 bits): the exports the tray program
// and its 32-bit helper bind, the hook procedures Windows calls in every
// process, and the block they all share.
//
// The library is loaded into every process that takes keyboard input, so it
// is linked without the C runtime's start-up code: DllMain below is the
// entry point, and loading the library runs nothing else. No static
// constructors, no thread-local storage, no atexit table; every object here
// is constant-initialised.
#include "hook/byte_classes.h"
#include "hook/recording_platform.h"
#include "hook/shared_block.h"
#include "hook/stages.h"
#include "hook/win32/win32_platform.h"  // brings <windows.h>, after the portable headers

namespace {

// A security descriptor for the shared block that lets programs running at
// low integrity (a browser's protected mode) open it for writing like any
// other: a SACL with one mandatory label ACE, low, no-write-up. The DACL is
// left to the creator's default. Built by hand, self-relative, so that no
// call outside kernel32 is needed.
alignas(4) constexpr unsigned char kLowLabelDescriptor[] = {
    // SECURITY_DESCRIPTOR_RELATIVE: revision 1, control SE_SELF_RELATIVE |
    // SE_SACL_PRESENT, no owner, no group, the SACL at offset 20, no DACL.
    1, 0, 0x10, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 0, 0, 0, 0, 0,
    // ACL: revision 2, size 28, one ACE.
    2, 0, 28, 0, 1, 0, 0, 0,
    // SYSTEM_MANDATORY_LABEL_ACE: type 0x11, size 20, SYSTEM_MANDATORY_LABEL_NO_WRITE_UP,
    // and the SID S-1-16-4096 (low mandatory level).
    0x11, 0, 20, 0, 1, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 16, 0x00, 0x10, 0, 0};
static_assert(sizeof kLowLabelDescriptor == 48);

// Where the block lives. Before process attach has mapped the named block,
// and wherever it cannot be opened, the process works on a block of its own
// that stays all zero: every setting off, so every keystroke passes on.
constinit tavik::HookSharedBlock processBlock = {};
constinit tavik::HookSharedBlock* block = &processBlock;
constinit HANDLE blockMapping = nullptr;

// The tray program's recording block, mapped the first time this process
// records. The view keeps the named object alive, so while it is mapped the
// tray program's next recording opens this same block again (and starts
// its ring afresh): one view serves every later session, and a keystroke
// never finds its block unmapped under it.
class Win32RecordingSource final : public tavik::RecordingSource {
 public:
  tavik::RecordingBlock* RecordingBlockOf(uint32_t session) override {
    if (view_ != nullptr) return static_cast<tavik::RecordingBlock*>(view_);
    if (session == failedSession_) return nullptr;  // tried once for this session
    HANDLE mapping = OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, tavik::kRecordingBlockName);
    void* view = mapping != nullptr ? MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0,
                                                    sizeof(tavik::RecordingBlock))
                                    : nullptr;
    if (mapping != nullptr) CloseHandle(mapping);
    if (view == nullptr) {
      failedSession_ = session;
      return nullptr;
    }
    // Two threads of the process may get here at once: one view is kept.
    if (InterlockedCompareExchangePointer(&view_, view, nullptr) != nullptr) UnmapViewOfFile(view);
    return static_cast<tavik::RecordingBlock*>(view_);
  }
  uint32_t GetCurrentProcessId() override { return ::GetCurrentProcessId(); }
  uint32_t GetCurrentThreadId() override { return ::GetCurrentThreadId(); }
  uint32_t GetTickCount() override { return ::GetTickCount(); }

  void Unmap() {
    if (void* view = InterlockedExchangePointer(&view_, nullptr)) UnmapViewOfFile(view);
  }

 private:
  void* volatile view_ = nullptr;
  uint32_t failedSession_ = 0;
};

// Private to each process.
constinit HINSTANCE moduleInstance = nullptr;
constinit tavik::Win32Platform platform;
constinit Win32RecordingSource recordingSource;
constinit tavik::ProcessVariables processVariables = {.recording = &recordingSource};
// The thread that called HookStart in this process: only ever set in the
// tray program and its 32-bit helper.
constinit DWORD hookingThread = 0;

void MapSharedBlock() {
  SECURITY_ATTRIBUTES attributes{sizeof attributes, const_cast<unsigned char*>(kLowLabelDescriptor), FALSE};
  // The first process creates it zero-filled; every later one opens it.
  blockMapping = CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0,
                                    sizeof(tavik::HookSharedBlock), tavik::kSharedBlockName);
  if (blockMapping == nullptr) return;
  void* view = MapViewOfFile(blockMapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(tavik::HookSharedBlock));
  if (view == nullptr) {
    CloseHandle(blockMapping);
    blockMapping = nullptr;
    return;
  }
  block = static_cast<tavik::HookSharedBlock*>(view);
}

// The program's own file name, once: it does not change while it runs.
void ReadExeName() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  const char* name = path;
  // In code page 932 a backslash byte can be the second byte of a character.
  for (const char* c = path; *c != '\0'; ++c) {
    if (tavik::cp932::LeadByte(static_cast<uint8_t>(*c)) && c[1] != '\0') {
      ++c;
    } else if (*c == '\\' || *c == '/') {
      name = c + 1;
    }
  }
  char* out = processVariables.exeName;
  while (*name != '\0') *out++ = *name++;
  *out = '\0';
}

void UnmapSharedBlock() {
  if (block != &processBlock) {
    void* view = block;
    block = &processBlock;
    UnmapViewOfFile(view);
  }
  if (blockMapping != nullptr) {
    CloseHandle(blockMapping);
    blockMapping = nullptr;
  }
}

// On 64-bit Windows a hook of one bitness reaches a program of the other by
// being called on the thread that installed it, in the tray program or the
// helper, while the library of the program's own bitness runs inside the
// program as well. That thread has no focus window then: the keystroke is
// another program's. It goes on untouched, so that each keystroke is acted on
// once, by the library inside the program that takes it.
// Wine does otherwise: a hook whose library cannot be loaded in the program
// ends the chain there, so the library whose hook comes first in the chain
// (the helper's, installed last) is the only one that acts, and 64-bit
// programs get nothing while the helper runs (behaviour.helper32 shows it).
// Whether Windows, calling on from the helper's thread, runs the 64-bit hook
// inside the program is still to be seen on a real Windows.
bool Relayed() { return hookingThread != 0 && GetCurrentThreadId() == hookingThread && GetFocus() == nullptr; }

LRESULT CALLBACK KeyboardHookProc(int code, WPARAM wParam, LPARAM lParam) {
  if (Relayed()) return CallNextHookEx(tavik::Win32<HHOOK>(block->KeyboardHook()), code, wParam, lParam);
  return tavik::KeyboardProcedure(platform, *block, processVariables, code, wParam, lParam);
}

LRESULT CALLBACK MessageHookProc(int code, WPARAM wParam, LPARAM lParam) {
  if (Relayed()) return CallNextHookEx(tavik::Win32<HHOOK>(block->MessageHook()), code, wParam, lParam);
  // Only the message number is read, and only where the record is sure to be there.
  UINT message = code >= 0 && lParam != 0 ? reinterpret_cast<const MSG*>(lParam)->message : 0;
  return tavik::MessageProcedure(platform, *block, processVariables, code, wParam, lParam, message);
}

}  // namespace

// The library's entry point (the linker is told so): no C runtime start-up
// runs before or after it.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    moduleInstance = instance;
    // Nothing to do per thread: spare every thread start and end a call.
    DisableThreadLibraryCalls(instance);
    ReadExeName();
    MapSharedBlock();
  } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    // Unloaded while the process goes on (a process that ends frees
    // everything itself).
    UnmapSharedBlock();
    recordingSource.Unmap();
  }
  return TRUE;
}

extern "C" __declspec(dllexport) int HookStart() {
  hookingThread = GetCurrentThreadId();
  return tavik::HookStart(platform, *block, processVariables, tavik::Portable<tavik::Hinstance>(moduleInstance),
                          tavik::Portable<tavik::HookProc>(&KeyboardHookProc),
                          tavik::Portable<tavik::HookProc>(&MessageHookProc));
}

// For the tray program: starts recording into the block it has just created
// (a new session number), or stops it (0). Returns the word as it was.
extern "C" __declspec(dllexport) unsigned HookRecord(unsigned session) {
  return std::atomic_ref<uint32_t>(block->recordingSession).exchange(session);
}

extern "C" __declspec(dllexport) void HookEnd() { tavik::HookEnd(platform, *block); }

// For the tray program and its helper: pays the owed key-ups whose typed key
// is up (or all, with kEvenIfHeld), among the words in `releasable`;
// returns those found so.
extern "C" __declspec(dllexport) unsigned HookReleaseOwedKeys(unsigned releasable) {
  return tavik::ReleaseOwedKeyUps(platform, *block, releasable);
}

#if defined(__GNUC__)
// A pure virtual call can only come from a broken build. Defining the
// handler here keeps the C++ runtime's exception machinery, which the
// library's own handler would drag in, out of every process we are loaded into.
extern "C" void __cxa_pure_virtual() { __builtin_trap(); }
#endif
