// A platform whose calls cost next to nothing but are counted, and which
// holds a converted composition of four bytes while `composing` is set: what
// the benchmark and the instruction counts measure the hook against.
#pragma once

#include <cstring>

#include "hook/platform.h"

namespace tavik {

class NullPlatform final : public InputPlatform {
 public:
  int64_t calls = 0;
  bool composing = false;  // a converted composition of four bytes waits

  Hwnd GetFocus() override { ++calls; return Hwnd{1}; }
  Hkl GetKeyboardLayout(uint32_t) override { ++calls; return Hkl{0xE0010411}; }
  int16_t GetKeyState(int32_t) override { ++calls; return 0; }
  int16_t GetAsyncKeyState(int32_t) override { ++calls; return 0; }
  void keybd_event(uint8_t, uint8_t, uint32_t, uintptr_t) override { ++calls; }
  uint32_t SendInput(uint32_t n, const KeybdInput*) override { ++calls; return n; }
  Hhook SetWindowsHookExA(int32_t, HookProc, Hinstance, uint32_t) override { ++calls; return Hhook{1}; }
  int32_t UnhookWindowsHookEx(Hhook) override { ++calls; return 1; }
  intptr_t CallNextHookEx(Hhook, int32_t, uintptr_t, intptr_t lParam) override { ++calls; return lParam & 1; }
  Himc ImmGetContext(Hwnd) override { ++calls; return Himc{2}; }
  int32_t ImmReleaseContext(Hwnd, Himc) override { ++calls; return 1; }
  int32_t ImmGetOpenStatus(Himc) override { ++calls; return 1; }
  int32_t ImmSetOpenStatus(Himc, int32_t) override { ++calls; return 1; }
  int32_t ImmGetConversionStatus(Himc, uint32_t* c, uint32_t* s) override {
    ++calls;
    *c = 0x19;
    *s = 0;
    return 1;
  }
  int32_t ImmSetConversionStatus(Himc, uint32_t, uint32_t) override { ++calls; return 1; }
  int32_t ImmNotifyIME(Himc, uint32_t, uint32_t, uint32_t) override {
    ++calls;
    composing = false;
    return 1;
  }
  int32_t ImmGetCompositionStringA(Himc, uint32_t, void* buf, uint32_t) override {
    ++calls;
    if (!composing) return 0;
    std::memset(buf, 1, 4);
    return 4;
  }
  uint32_t ImmGetCandidateListA(Himc, uint32_t, CandidateList*, uint32_t) override { ++calls; return 0; }
  uint32_t ImmGetIMEFileNameA(Hkl, char*, uint32_t) override { ++calls; return 0; }
  int32_t ImmConfigureIMEA(Hkl, Hwnd, uint32_t, void*) override { ++calls; return 0; }
  uint32_t GetModuleFileNameA(Hinstance, char*, uint32_t) override { ++calls; return 0; }
  Hglobal GlobalAlloc(uint32_t, size_t) override { ++calls; return Hglobal{}; }
  void* GlobalLock(Hglobal) override { ++calls; return nullptr; }
  Hglobal GlobalFree(Hglobal) override { ++calls; return Hglobal{}; }
  uint32_t GetPrivateProfileStringA(const char*, const char*, const char* def, char* out, uint32_t n,
                                    const char*) override {
    ++calls;
    out[0] = n > 1 ? def[0] : '\0';
    if (n > 1) out[1] = '\0';
    return 1;
  }
  int32_t clock() override { ++calls; return 0; }
};

}  // namespace tavik
