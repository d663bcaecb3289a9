// The input platform on Windows: one line per call.
#pragma once

// The portable headers come first: their constants carry the Win32 names,
// which <windows.h> defines as macros.
#include "common/handle_cast.h"
#include "hook/platform.h"
#include "hook/bare_file_name.h"
// clang-format off
#include <windows.h>
#include <imm.h>
// clang-format on

#include <cstddef>
#include <ctime>

namespace tavik {

class Win32Platform final : public InputPlatform {
 public:
  Hwnd GetFocus() override { return Portable<Hwnd>(::GetFocus()); }
  Hkl GetKeyboardLayout(uint32_t idThread) override { return Portable<Hkl>(::GetKeyboardLayout(idThread)); }
  int16_t GetKeyState(int32_t nVirtKey) override { return ::GetKeyState(nVirtKey); }
  int16_t GetAsyncKeyState(int32_t vKey) override { return ::GetAsyncKeyState(vKey); }
  void keybd_event(uint8_t bVk, uint8_t bScan, uint32_t dwFlags, uintptr_t dwExtraInfo) override {
    ::keybd_event(bVk, bScan, dwFlags, dwExtraInfo);
  }
  uint32_t SendInput(uint32_t cInputs, const KeybdInput* pInputs) override {
    INPUT inputs[4] = {};
    if (cInputs > 4) cInputs = 4;
    for (uint32_t i = 0; i < cInputs; ++i) {
      inputs[i].type = INPUT_KEYBOARD;
      inputs[i].ki = {pInputs[i].wVk, pInputs[i].wScan, pInputs[i].dwFlags, pInputs[i].time, pInputs[i].dwExtraInfo};
    }
    return ::SendInput(cInputs, inputs, sizeof(INPUT));
  }
  Hhook SetWindowsHookExA(int32_t idHook, HookProc lpfn, Hinstance hmod, uint32_t dwThreadId) override {
    return Portable<Hhook>(::SetWindowsHookExA(idHook, Win32<HOOKPROC>(lpfn), Win32<HINSTANCE>(hmod), dwThreadId));
  }
  int32_t UnhookWindowsHookEx(Hhook hhk) override { return ::UnhookWindowsHookEx(Win32<HHOOK>(hhk)); }
  intptr_t CallNextHookEx(Hhook hhk, int32_t nCode, uintptr_t wParam, intptr_t lParam) override {
    return ::CallNextHookEx(Win32<HHOOK>(hhk), nCode, wParam, lParam);
  }

  Himc ImmGetContext(Hwnd hWnd) override { return Portable<Himc>(::ImmGetContext(Win32<HWND>(hWnd))); }
  int32_t ImmReleaseContext(Hwnd hWnd, Himc hIMC) override {
    return ::ImmReleaseContext(Win32<HWND>(hWnd), Win32<HIMC>(hIMC));
  }
  int32_t ImmGetOpenStatus(Himc hIMC) override { return ::ImmGetOpenStatus(Win32<HIMC>(hIMC)); }
  int32_t ImmSetOpenStatus(Himc hIMC, int32_t fOpen) override { return ::ImmSetOpenStatus(Win32<HIMC>(hIMC), fOpen); }
  int32_t ImmGetConversionStatus(Himc hIMC, uint32_t* lpfdwConversion, uint32_t* lpfdwSentence) override {
    return ::ImmGetConversionStatus(Win32<HIMC>(hIMC), reinterpret_cast<DWORD*>(lpfdwConversion),
                                    reinterpret_cast<DWORD*>(lpfdwSentence));
  }
  int32_t ImmSetConversionStatus(Himc hIMC, uint32_t fdwConversion, uint32_t fdwSentence) override {
    return ::ImmSetConversionStatus(Win32<HIMC>(hIMC), fdwConversion, fdwSentence);
  }
  int32_t ImmNotifyIME(Himc hIMC, uint32_t dwAction, uint32_t dwIndex, uint32_t dwValue) override {
    return ::ImmNotifyIME(Win32<HIMC>(hIMC), dwAction, dwIndex, dwValue);
  }
  int32_t ImmGetCompositionStringA(Himc hIMC, uint32_t dwIndex, void* lpBuf, uint32_t dwBufLen) override {
    return ::ImmGetCompositionStringA(Win32<HIMC>(hIMC), dwIndex, lpBuf, dwBufLen);
  }
  uint32_t ImmGetCandidateListA(Himc hIMC, uint32_t deIndex, CandidateList* lpCandList, uint32_t dwBufLen) override {
    return ::ImmGetCandidateListA(Win32<HIMC>(hIMC), deIndex, reinterpret_cast<CANDIDATELIST*>(lpCandList), dwBufLen);
  }
  uint32_t ImmGetIMEFileNameA(Hkl hKL, char* lpszFileName, uint32_t uBufLen) override {
    return BareFileName(::ImmGetIMEFileNameA(Win32<HKL>(hKL), lpszFileName, uBufLen), lpszFileName, uBufLen);
  }
  int32_t ImmConfigureIMEA(Hkl hKL, Hwnd hWnd, uint32_t dwMode, void* lpData) override {
    return ::ImmConfigureIMEA(Win32<HKL>(hKL), Win32<HWND>(hWnd), dwMode, lpData);
  }

  uint32_t GetModuleFileNameA(Hinstance hModule, char* lpFilename, uint32_t nSize) override {
    return ::GetModuleFileNameA(Win32<HMODULE>(hModule), lpFilename, nSize);
  }
  Hglobal GlobalAlloc(uint32_t uFlags, size_t dwBytes) override { return Portable<Hglobal>(::GlobalAlloc(uFlags, dwBytes)); }
  void* GlobalLock(Hglobal hMem) override { return ::GlobalLock(Win32<HGLOBAL>(hMem)); }
  Hglobal GlobalFree(Hglobal hMem) override { return Portable<Hglobal>(::GlobalFree(Win32<HGLOBAL>(hMem))); }
  uint32_t GetPrivateProfileStringA(const char* lpAppName, const char* lpKeyName, const char* lpDefault,
                                    char* lpReturnedString, uint32_t nSize, const char* lpFileName) override {
    return ::GetPrivateProfileStringA(lpAppName, lpKeyName, lpDefault, lpReturnedString, nSize, lpFileName);
  }
  int32_t clock() override { return static_cast<int32_t>(::clock()); }
};

// The Win32 structures our portable copies stand for.
static_assert(sizeof(CandidateList) == sizeof(CANDIDATELIST));
static_assert(offsetof(CandidateList, dwCount) == offsetof(CANDIDATELIST, dwCount));
static_assert(offsetof(CandidateList, dwOffset) == offsetof(CANDIDATELIST, dwOffset));
static_assert(sizeof(Msg) == sizeof(MSG));
static_assert(offsetof(Msg, message) == offsetof(MSG, message));

}  // namespace tavik
