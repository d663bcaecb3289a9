// What the keyboard hook costs per keystroke that no stage claims, against
// a platform whose calls cost nothing: the frame's own overhead, beside a
// bare pass-through that only calls CallNextHookEx.
#include <benchmark/benchmark.h>

#include "hook/shared_block.h"
#include "hook/stages.h"

namespace tavik {
namespace {

class NullPlatform final : public InputPlatform {
 public:
  Hwnd GetFocus() override { return Hwnd{1}; }
  Hkl GetKeyboardLayout(uint32_t) override { return Hkl{0xE0010411}; }
  int16_t GetKeyState(int32_t) override { return 0; }
  int16_t GetAsyncKeyState(int32_t) override { return 0; }
  void keybd_event(uint8_t, uint8_t, uint32_t, uintptr_t) override {}
  Hhook SetWindowsHookExA(int32_t, HookProc, Hinstance, uint32_t) override { return Hhook{1}; }
  int32_t UnhookWindowsHookEx(Hhook) override { return 1; }
  intptr_t CallNextHookEx(Hhook, int32_t, uintptr_t, intptr_t lParam) override { return lParam & 1; }
  Himc ImmGetContext(Hwnd) override { return Himc{2}; }
  int32_t ImmReleaseContext(Hwnd, Himc) override { return 1; }
  int32_t ImmGetOpenStatus(Himc) override { return 1; }
  int32_t ImmSetOpenStatus(Himc, int32_t) override { return 1; }
  int32_t ImmGetConversionStatus(Himc, uint32_t* c, uint32_t* s) override {
    *c = 0x19;
    *s = 0;
    return 1;
  }
  int32_t ImmSetConversionStatus(Himc, uint32_t, uint32_t) override { return 1; }
  int32_t ImmNotifyIME(Himc, uint32_t, uint32_t, uint32_t) override { return 1; }
  int32_t ImmGetCompositionStringA(Himc, uint32_t, void*, uint32_t) override { return 0; }
  uint32_t ImmGetCandidateListA(Himc, uint32_t, CandidateList*, uint32_t) override { return 0; }
  uint32_t ImmGetIMEFileNameA(Hkl, char*, uint32_t) override { return 0; }
  int32_t ImmConfigureIMEA(Hkl, Hwnd, uint32_t, void*) override { return 0; }
  uint32_t GetModuleFileNameA(Hinstance, char*, uint32_t) override { return 0; }
  Hglobal GlobalAlloc(uint32_t, size_t) override { return Hglobal{}; }
  void* GlobalLock(Hglobal) override { return nullptr; }
  Hglobal GlobalFree(Hglobal) override { return Hglobal{}; }
  uint32_t GetPrivateProfileStringA(const char*, const char*, const char* def, char* out, uint32_t n,
                                    const char*) override {
    out[0] = n > 1 ? def[0] : '\0';
    if (n > 1) out[1] = '\0';
    return 1;
  }
  int32_t clock() override { return 0; }
};

// Letters, digits and punctuation typed down and up: keys no stage claims.
constexpr uint32_t kScanCodes[] = {0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x02, 0x03, 0x0C, 0x27, 0x28, 0x35};

template <typename Call>
void TypeStream(benchmark::State& state, Call call) {
  size_t i = 0;
  for (auto _ : state) {
    uint32_t scan = kScanCodes[i % std::size(kScanCodes)];
    bool up = (i / std::size(kScanCodes)) % 2 != 0;
    auto lParam = static_cast<intptr_t>(1u | (scan << 16) | (up ? 0xC0000000u : 0u));
    benchmark::DoNotOptimize(call(static_cast<uintptr_t>(0x41 + scan % 26), lParam));
    ++i;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_BarePassThrough(benchmark::State& state) {
  NullPlatform platform;
  // Through the interface, as the frame calls it, so the call is not inlined away.
  InputPlatform* p = &platform;
  benchmark::DoNotOptimize(p);
  HookSharedBlock block{};
  TypeStream(state, [&](uintptr_t w, intptr_t l) { return p->CallNextHookEx(block.keyboardHook, 0, w, l); });
}

void BM_KeyboardProcedure(benchmark::State& state) {
  NullPlatform platform;
  HookSharedBlock block{};
  for (int32_t& f : block.flag) f = static_cast<int32_t>(state.range(0));
  TypeStream(state, [&](uintptr_t w, intptr_t l) { return KeyboardProcedure(platform, block, 0, w, l); });
}

BENCHMARK(BM_BarePassThrough);
BENCHMARK(BM_KeyboardProcedure)->ArgName("flags")->Arg(0)->Arg(1);

}  // namespace
}  // namespace tavik

BENCHMARK_MAIN();
