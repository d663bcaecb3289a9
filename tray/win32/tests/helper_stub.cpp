// The helper's stand-in hook library: see helper_stub.h.
#include "tray/win32/tests/helper_stub.h"
// clang-format off
#include <windows.h>
// clang-format on

namespace {

tavik::behaviour::HelperStubBlock* Block() {
  static tavik::behaviour::HelperStubBlock* block = [] {
    HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, tavik::behaviour::kHelperStubBlockName);
    void* view = mapping != nullptr ? MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr;
    return static_cast<tavik::behaviour::HelperStubBlock*>(view);
  }();
  return block;
}

}  // namespace

extern "C" __declspec(dllexport) int HookStart() {
  if (auto* b = Block()) {
    b->process = GetCurrentProcessId();
    b->hookStarts = b->hookStarts + 1;
  }
  return 0;
}

extern "C" __declspec(dllexport) void HookEnd() {
  if (auto* b = Block()) {
    b->process = GetCurrentProcessId();
    b->hookEnds = b->hookEnds + 1;
  }
}
