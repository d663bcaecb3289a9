// One call of the keyboard hook procedure: the keystroke as the stages read
// it, the world they act on, and the probes they share.
#pragma once

#include <cstdint>

#include "hook/keys.h"
#include "hook/platform.h"
#include "hook/shared_block.h"

namespace tavik {

// How a stage ends.
enum class Outcome {
  kPassOn,             // the keystroke goes, unchanged, to the next stage
  kSwallow,            // the procedure returns 1
  kRewriteAndSwallow,  // later hooks get the rewritten keystroke; the procedure returns 1
};

// Working storage of one hook call, filled by the probes that need a buffer.
// Nothing in it survives the call. Left uninitialised on purpose: most
// keystrokes never touch it, and each probe sets what it reads.
struct WorkingStorage {
  char imeFileName[128];
  uint8_t composition[1024];
  char hostPath[w32::MAX_PATH];
};

struct HookCall {
  HookCall(InputPlatform& p, HookSharedBlock& b, ProcessVariables& v, int32_t c, uintptr_t w, intptr_t l)
      : platform(p),
        block(b),
        process(v),
        code(c),
        wParam(w),
        lParam(l),
        vk(static_cast<uint32_t>(w)),
        scanKey(ScanKeyOf(l)),
        up((static_cast<uint64_t>(l) & 0x80000000u) != 0),
        extended((static_cast<uint64_t>(l) & 0x01000000u) != 0) {}

  InputPlatform& platform;
  HookSharedBlock& block;
  ProcessVariables& process;

  int32_t code;
  uintptr_t wParam;
  intptr_t lParam;

  uint32_t vk;       // wParam, compared as a whole word
  uint32_t scanKey;  // scan code plus 0x100 for the extended bit
  bool up;           // lParam bit 31
  bool extended;     // lParam bit 24

  bool On(Setting s) const { return block.On(s); }

  // Sets an owed word (one of block.runtime's): the key-up it owes is `key`
  // sent with `scan` and `flags` plus KEYEVENTF_KEYUP, paid by this
  // keystroke's key's own key-up, or by the tray program when that will not
  // come. What it owes is written first.
  void Owe(int32_t& word, uint32_t key, uint8_t scan, uint32_t flags) {
    auto i = static_cast<size_t>(reinterpret_cast<char*>(&word) - reinterpret_cast<char*>(&block.runtime)) / 4;
    block.owedKeys.keyUp[i] = (key & 0xFFu) | uint32_t{scan} << 8 | (flags | w32::KEYEVENTF_KEYUP) << 16;
    block.owedKeys.typedVk[i] = vk;
    std::atomic_ref<int32_t>(word).store(1);
  }

  // A synthetic keystroke, out until it comes back through the hook: keys
  // typed before it wait behind it.
  void Send(uint32_t key, uint8_t scan, uint32_t flags) {
    uint32_t sentScanKey = scan | ((flags & w32::KEYEVENTF_EXTENDEDKEY) != 0 ? 0x100u : 0u);
    block.inFlight.Note(SendsInFlight::Packed(key, sentScanKey, (flags & w32::KEYEVENTF_KEYUP) != 0));
    platform.keybd_event(static_cast<uint8_t>(key), scan, flags, 0);
  }
  RuntimeWords& words() { return block.runtime; }

  // What later hooks in the chain get instead, for kRewriteAndSwallow.
  uintptr_t rewrittenWParam = 0;
  intptr_t rewrittenLParam = 0;

  WorkingStorage storage;
};

// Ends a stage by handing later hooks another keystroke in this one's place.
inline Outcome RewriteAndSwallow(HookCall& k, uintptr_t wParam, intptr_t lParam) {
  k.rewrittenWParam = wParam;
  k.rewrittenLParam = lParam;
  return Outcome::kRewriteAndSwallow;
}

// --- Probes -----------------------------------------------------------------

// Bit 15 of GetAsyncKeyState: the key is down now.
bool Held(InputPlatform& p, uint32_t vk);

// GetKeyState(VK_CAPITAL) nonzero, toggled or held.
bool CapsLockOn(InputPlatform& p);

// Presses and releases CapsLock; both keystrokes carry scan code 0.
void ToggleCapsLock(HookCall& k);

struct ConversionStatus {
  bool read;
  uint32_t conversion;
  uint32_t sentence;
};

// The focused window's input context, taken on construction and released on
// every path: explicitly where the release must come before other calls, and
// otherwise when the holder goes out of scope.
class InputContext {
 public:
  InputContext(InputPlatform& p, Hwnd window) : p_(p), window_(window), himc_(p.ImmGetContext(window)) {}
  ~InputContext() { Release(); }
  InputContext(const InputContext&) = delete;
  InputContext& operator=(const InputContext&) = delete;

  void Release() {
    if (!released_) {
      released_ = true;
      p_.ImmReleaseContext(window_, himc_);
    }
  }

  Himc handle() const { return himc_; }
  bool Open() { return p_.ImmGetOpenStatus(himc_) != 0; }
  // The mode words are 0 when the call fails, so a failed read never tests
  // as any mode bit being set.
  ConversionStatus ReadConversionStatus();
  // GCS_COMPATTR into the composition buffer: n bytes, or n <= 0 for no
  // composition (or an error). Never more than the buffer holds.
  int32_t ReadCompositionAttributes(uint8_t (&attributes)[1024]);
  // The IME commits its composition to the application.
  void Complete();

 private:
  InputPlatform& p_;
  Hwnd window_;
  Himc himc_;
  bool released_ = false;
};

// ImmGetIMEFileNameA of the active layout into `name`; false when it cannot
// be read.
bool ReadImeFileName(InputPlatform& p, char (&name)[128]);
// Names beginning OAK or FJI, or with OAK at positions 3 to 5. Exact, upper case.
bool IsOakFamilyIme(const char* name);
// An OAK-family name, or ATOK at positions 0 to 3 or 1 to 4.
bool IsOakOrAtokIme(const char* name);

// Classification of n attribute bytes.
bool FullyConverted(const uint8_t* attr, int32_t n);
bool OakConverted(const uint8_t* attr, int32_t n);

// The host program's file name, split as the C runtime's _splitpath does.
struct HostName {
  bool read;
  const char* fileName;  // without extension; points into the call's path buffer
  uint32_t fileNameLength;
  const char* extension;  // with its leading dot
  uint32_t extensionLength;
};
HostName ReadHostName(InputPlatform& p, char (&path)[w32::MAX_PATH]);
bool IsOasysHost(const HostName& host);
bool IsBrowserHost(const HostName& host);

// The file name and host tests as the stages ask them: read, then tested; a
// name that cannot be read passes no test.
bool OakFamilyIme(InputPlatform& p, WorkingStorage& s);
bool OakOrAtokIme(InputPlatform& p, WorkingStorage& s);
bool OasysHost(InputPlatform& p, WorkingStorage& s);
bool BrowserHost(InputPlatform& p, WorkingStorage& s);

// Splits a path into file name and extension; exposed for tests.
HostName SplitHostPath(const char* path);

}  // namespace tavik
