#include <cstring>

#include "hook/commit.h"
#include "hook/hook_call.h"

namespace tavik {

bool Held(InputPlatform& p, uint32_t vk) {
  return (static_cast<uint16_t>(p.GetAsyncKeyState(static_cast<int32_t>(vk))) & 0x8000u) != 0;
}

bool CapsLockOn(InputPlatform& p) { return p.GetKeyState(w32::VK_CAPITAL) != 0; }

void ToggleCapsLock(HookCall& k) {
  k.Send(w32::VK_CAPITAL, 0, w32::KEYEVENTF_EXTENDEDKEY);
  k.Send(w32::VK_CAPITAL, 0, w32::KEYEVENTF_EXTENDEDKEY | w32::KEYEVENTF_KEYUP);
}

ConversionStatus InputContext::ReadConversionStatus() {
  ConversionStatus s{false, 0, 0};
  s.read = p_.ImmGetConversionStatus(himc_, &s.conversion, &s.sentence) != 0;
  return s;
}

int32_t InputContext::ReadCompositionAttributes(uint8_t (&attributes)[1024]) {
  constexpr uint32_t kSize = sizeof attributes;
  int32_t n = p_.ImmGetCompositionStringA(himc_, w32::GCS_COMPATTR, attributes, kSize);
  // An IME that reports more than it could have written must not make the
  // stages read past the buffer.
  return n > static_cast<int32_t>(kSize) ? static_cast<int32_t>(kSize) : n;
}

void InputContext::Complete() { p_.ImmNotifyIME(himc_, w32::NI_COMPOSITIONSTR, w32::CPS_COMPLETE, 0); }

bool ReadImeFileName(InputPlatform& p, char (&name)[128]) {
  // Zeroed first so that a short name never lets the position tests see
  // what an earlier call left in the buffer.
  std::memset(name, 0, sizeof name);
  uint32_t n = p.ImmGetIMEFileNameA(p.GetKeyboardLayout(0), name, sizeof name);
  name[sizeof name - 1] = '\0';
  return n != 0;
}

namespace {

// Never looks past the name's terminating zero, whatever its length.
bool LettersAt(const char* name, int at, const char* letters) {
  for (int i = 0; i < at; ++i) {
    if (name[i] == '\0') return false;
  }
  for (int i = 0; letters[i] != '\0'; ++i) {
    if (name[at + i] != letters[i]) return false;
  }
  return true;
}

}  // namespace

bool IsOakFamilyIme(const char* name) {
  return LettersAt(name, 0, "OAK") || LettersAt(name, 0, "FJI") || LettersAt(name, 3, "OAK");
}

bool IsOakOrAtokIme(const char* name) {
  return IsOakFamilyIme(name) || LettersAt(name, 0, "ATOK") || LettersAt(name, 1, "ATOK");
}

bool FullyConverted(const uint8_t* attr, int32_t n) { return Classify(attr, n).fullyConverted; }

bool OakConverted(const uint8_t* attr, int32_t n) {
  if (n <= 0) return false;
  for (int32_t i = 0; i < n; ++i) {
    if (attr[i] < w32::ATTR_TARGET_CONVERTED || attr[i] > w32::ATTR_TARGET_NOTCONVERTED) return false;
  }
  uint8_t last = attr[n - 1];
  return last == w32::ATTR_TARGET_CONVERTED || last == w32::ATTR_TARGET_NOTCONVERTED;
}

HostName SplitHostPath(const char* path) {
  // The file name starts after the last separator (or the drive's colon) and
  // the extension at the last dot after that.
  const char* name = path;
  if (path[0] != '\0' && path[1] == ':') name = path + 2;
  for (const char* c = name; *c != '\0'; ++c) {
    if (*c == '\\' || *c == '/') name = c + 1;
  }
  const char* end = name + std::strlen(name);
  const char* dot = nullptr;
  for (const char* c = name; c != end; ++c) {
    if (*c == '.') dot = c;
  }
  const char* extension = dot != nullptr ? dot : end;
  return HostName{true, name, static_cast<uint32_t>(extension - name), extension,
                  static_cast<uint32_t>(end - extension)};
}

HostName ReadHostName(InputPlatform& p, char (&path)[w32::MAX_PATH]) {
  path[0] = '\0';
  uint32_t n = p.GetModuleFileNameA(Hinstance{}, path, sizeof path);
  // A path that filled the buffer comes back unterminated on older systems.
  path[sizeof path - 1] = '\0';
  if (n == 0) return HostName{false, path, 0, path, 0};
  return SplitHostPath(path);
}

namespace {

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// The first characters of a part spell `prefix`, in either case; whatever
// follows is not looked at.
bool StartsWithNoCase(const char* part, uint32_t length, const char* prefix) {
  uint32_t i = 0;
  for (; prefix[i] != '\0'; ++i) {
    if (i >= length || Upper(part[i]) != prefix[i]) return false;
  }
  return true;
}

}  // namespace

bool IsOasysHost(const HostName& host) {
  return host.read && StartsWithNoCase(host.fileName, host.fileNameLength, "OASYSE") &&
         StartsWithNoCase(host.extension, host.extensionLength, ".EXE");
}

bool IsBrowserHost(const HostName& host) {
  return host.read && StartsWithNoCase(host.fileName, host.fileNameLength, "IEXPLORE") &&
         StartsWithNoCase(host.extension, host.extensionLength, ".EXE");
}

bool OakFamilyIme(InputPlatform& p, WorkingStorage& s) {
  return ReadImeFileName(p, s.imeFileName) && IsOakFamilyIme(s.imeFileName);
}

bool OakOrAtokIme(InputPlatform& p, WorkingStorage& s) {
  return ReadImeFileName(p, s.imeFileName) && IsOakOrAtokIme(s.imeFileName);
}

bool OasysHost(InputPlatform& p, WorkingStorage& s) { return IsOasysHost(ReadHostName(p, s.hostPath)); }

bool BrowserHost(InputPlatform& p, WorkingStorage& s) { return IsBrowserHost(ReadHostName(p, s.hostPath)); }

}  // namespace tavik
