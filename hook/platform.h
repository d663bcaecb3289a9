// The hook library's window on Windows: every call the keyboard and message
// hooks make, each with its Win32 name, arguments, results and failure values,
// in portable types. The Windows build implements it one line per call; the
// simulated desktop implements it for tests and tavik-sim.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavik {

// Opaque handles. Zero is the null handle, as in Win32.
enum class Hwnd : uintptr_t {};
enum class Himc : uintptr_t {};
enum class Hkl : uintptr_t {};
enum class Hhook : uintptr_t {};
enum class Hinstance : uintptr_t {};
enum class Hglobal : uintptr_t {};
// A hook procedure as SetWindowsHookExA takes it. The portable code never
// calls one; it only hands over what the Windows layer gave it.
enum class HookProc : uintptr_t {};

template <typename Handle>
constexpr bool IsNull(Handle h) {
  return h == Handle{};
}

// Win32 values under our own names, so that this header never clashes with
// <windows.h> where both are seen.
namespace w32 {

// Hook codes and hook types.
inline constexpr int32_t HC_ACTION = 0;
inline constexpr int32_t HC_NOREMOVE = 3;
inline constexpr int32_t WH_KEYBOARD = 2;
inline constexpr int32_t WH_GETMESSAGE = 3;

// Virtual keys.
inline constexpr uint32_t VK_BACK = 0x08;
inline constexpr uint32_t VK_TAB = 0x09;
inline constexpr uint32_t VK_RETURN = 0x0D;
inline constexpr uint32_t VK_SHIFT = 0x10;
inline constexpr uint32_t VK_CONTROL = 0x11;
inline constexpr uint32_t VK_MENU = 0x12;
inline constexpr uint32_t VK_PAUSE = 0x13;
inline constexpr uint32_t VK_CAPITAL = 0x14;
inline constexpr uint32_t VK_KANA = 0x15;
inline constexpr uint32_t VK_ESCAPE = 0x1B;
inline constexpr uint32_t VK_CONVERT = 0x1C;
inline constexpr uint32_t VK_NONCONVERT = 0x1D;
inline constexpr uint32_t VK_SPACE = 0x20;
inline constexpr uint32_t VK_PRIOR = 0x21;
inline constexpr uint32_t VK_NEXT = 0x22;
inline constexpr uint32_t VK_END = 0x23;
inline constexpr uint32_t VK_HOME = 0x24;
inline constexpr uint32_t VK_LEFT = 0x25;
inline constexpr uint32_t VK_UP = 0x26;
inline constexpr uint32_t VK_RIGHT = 0x27;
inline constexpr uint32_t VK_DOWN = 0x28;
inline constexpr uint32_t VK_INSERT = 0x2D;
inline constexpr uint32_t VK_DELETE = 0x2E;
inline constexpr uint32_t VK_DBE_ALPHANUMERIC = 0xF0;
inline constexpr uint32_t VK_DBE_KATAKANA = 0xF1;
inline constexpr uint32_t VK_DBE_HIRAGANA = 0xF2;
inline constexpr uint32_t VK_DBE_SBCSCHAR = 0xF3;
inline constexpr uint32_t VK_DBE_DBCSCHAR = 0xF4;

// keybd_event flags.
inline constexpr uint32_t KEYEVENTF_EXTENDEDKEY = 0x1;
inline constexpr uint32_t KEYEVENTF_KEYUP = 0x2;

// Conversion mode bits.
inline constexpr uint32_t IME_CMODE_ALPHANUMERIC = 0x0;
inline constexpr uint32_t IME_CMODE_NATIVE = 0x1;
inline constexpr uint32_t IME_CMODE_KATAKANA = 0x2;
inline constexpr uint32_t IME_CMODE_LANGUAGE = 0x3;
inline constexpr uint32_t IME_CMODE_FULLSHAPE = 0x8;
inline constexpr uint32_t IME_CMODE_ROMAN = 0x10;

// ImmGetCompositionStringA indexes and attribute bytes.
inline constexpr uint32_t GCS_COMPSTR = 0x8;
inline constexpr uint32_t GCS_COMPATTR = 0x10;
inline constexpr uint8_t ATTR_INPUT = 0;
inline constexpr uint8_t ATTR_TARGET_CONVERTED = 1;
inline constexpr uint8_t ATTR_CONVERTED = 2;
inline constexpr uint8_t ATTR_TARGET_NOTCONVERTED = 3;
inline constexpr uint8_t ATTR_INPUT_ERROR = 4;
inline constexpr int32_t IMM_ERROR_NODATA = -1;
inline constexpr int32_t IMM_ERROR_GENERAL = -2;

// ImmNotifyIME.
inline constexpr uint32_t NI_COMPOSITIONSTR = 0x15;
inline constexpr uint32_t CPS_COMPLETE = 0x1;
inline constexpr uint32_t CPS_CONVERT = 0x2;
inline constexpr uint32_t CPS_REVERT = 0x3;
inline constexpr uint32_t CPS_CANCEL = 0x4;

// ImmConfigureIMEA.
inline constexpr uint32_t IME_CONFIG_GENERAL = 1;

// PeekMessage flags, as a WH_GETMESSAGE hook gets them in wParam.
inline constexpr uint32_t PM_NOREMOVE = 0x0;
inline constexpr uint32_t PM_REMOVE = 0x1;

// GlobalAlloc.
inline constexpr uint32_t GHND = 0x42;

// Window messages the hooks look at.
inline constexpr uint32_t WM_IME_STARTCOMPOSITION = 0x10D;
inline constexpr uint32_t WM_IME_ENDCOMPOSITION = 0x10E;
inline constexpr uint32_t WM_IME_COMPOSITION = 0x10F;

inline constexpr uint32_t MAX_PATH = 260;

}  // namespace w32

// The head of the CANDIDATELIST record that ImmGetCandidateListA fills; the
// offsets follow it in the same block.
struct CandidateList {
  uint32_t dwSize;
  uint32_t dwStyle;
  uint32_t dwCount;
  uint32_t dwSelection;
  uint32_t dwPageStart;
  uint32_t dwPageSize;
  uint32_t dwOffset[1];
};

// A keyboard INPUT record for SendInput (its KEYBDINPUT part).
struct KeybdInput {
  uint16_t wVk;
  uint16_t wScan;
  uint32_t dwFlags;
  uint32_t time;
  uintptr_t dwExtraInfo;
};

// The MSG record a WH_GETMESSAGE hook receives through lParam.
struct Msg {
  Hwnd hwnd;
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
  uint32_t time;
  int32_t ptX;
  int32_t ptY;
};

// BOOL results are int32_t: nonzero is success, as in Win32.
class InputPlatform {
 public:
  // user32: focus, keyboard state, synthetic input, hooks.
  virtual Hwnd GetFocus() = 0;
  virtual Hkl GetKeyboardLayout(uint32_t idThread) = 0;
  virtual int16_t GetKeyState(int32_t nVirtKey) = 0;
  virtual int16_t GetAsyncKeyState(int32_t vKey) = 0;
  virtual void keybd_event(uint8_t bVk, uint8_t bScan, uint32_t dwFlags, uintptr_t dwExtraInfo) = 0;
  // Keyboard input only; returns how many records went into the input stream.
  virtual uint32_t SendInput(uint32_t cInputs, const KeybdInput* pInputs) = 0;
  virtual Hhook SetWindowsHookExA(int32_t idHook, HookProc lpfn, Hinstance hmod, uint32_t dwThreadId) = 0;
  virtual int32_t UnhookWindowsHookEx(Hhook hhk) = 0;
  virtual intptr_t CallNextHookEx(Hhook hhk, int32_t nCode, uintptr_t wParam, intptr_t lParam) = 0;

  // imm32: the focused window's input context.
  virtual Himc ImmGetContext(Hwnd hWnd) = 0;
  virtual int32_t ImmReleaseContext(Hwnd hWnd, Himc hIMC) = 0;
  virtual int32_t ImmGetOpenStatus(Himc hIMC) = 0;
  virtual int32_t ImmSetOpenStatus(Himc hIMC, int32_t fOpen) = 0;
  virtual int32_t ImmGetConversionStatus(Himc hIMC, uint32_t* lpfdwConversion, uint32_t* lpfdwSentence) = 0;
  virtual int32_t ImmSetConversionStatus(Himc hIMC, uint32_t fdwConversion, uint32_t fdwSentence) = 0;
  virtual int32_t ImmNotifyIME(Himc hIMC, uint32_t dwAction, uint32_t dwIndex, uint32_t dwValue) = 0;
  virtual int32_t ImmGetCompositionStringA(Himc hIMC, uint32_t dwIndex, void* lpBuf, uint32_t dwBufLen) = 0;
  virtual uint32_t ImmGetCandidateListA(Himc hIMC, uint32_t deIndex, CandidateList* lpCandList, uint32_t dwBufLen) = 0;
  virtual uint32_t ImmGetIMEFileNameA(Hkl hKL, char* lpszFileName, uint32_t uBufLen) = 0;
  virtual int32_t ImmConfigureIMEA(Hkl hKL, Hwnd hWnd, uint32_t dwMode, void* lpData) = 0;

  // kernel32 and the C runtime.
  virtual uint32_t GetModuleFileNameA(Hinstance hModule, char* lpFilename, uint32_t nSize) = 0;
  virtual Hglobal GlobalAlloc(uint32_t uFlags, size_t dwBytes) = 0;
  virtual void* GlobalLock(Hglobal hMem) = 0;
  virtual Hglobal GlobalFree(Hglobal hMem) = 0;
  virtual uint32_t GetPrivateProfileStringA(const char* lpAppName, const char* lpKeyName, const char* lpDefault,
                                            char* lpReturnedString, uint32_t nSize, const char* lpFileName) = 0;
  // The process clock: the C runtime's clock(), milliseconds on Windows.
  virtual int32_t clock() = 0;

 protected:
  // Never deleted through this interface: the hook library has no heap.
  ~InputPlatform() = default;
};

}  // namespace tavik
