#include "hook/shared_block.h"
// <windows.h> after the portable headers, whose Win32 names it would otherwise define as macros.
#include "tray/win32/shared_block_security.h"

#include <sddl.h>

namespace tavik::tray {

namespace {

// STANDARD_RIGHTS_REQUIRED | SECTION_ALL_ACCESS, written out so that the
// descriptor reads back as it was written, not as a generic right mapped.
constexpr char kAllAccess[] = "0xf001f";

}  // namespace

std::string SharedBlockSddl(const std::string& userSid) {
  return std::string("D:P(A;;") + kAllAccess + ";;;" + userSid + ")(A;;" + kAllAccess + ";;;SY)S:(ML;;NW;;;LW)";
}

std::string TokenUserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "";
  std::string sid;
  alignas(8) unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) {
    char* text = nullptr;
    if (ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) {
      sid = text;
      LocalFree(text);
    }
  }
  CloseHandle(token);
  return sid;
}

HANDLE CreateSharedBlock() { return CreateSecuredMapping(kSharedBlockName, sizeof(HookSharedBlock)); }

HANDLE CreateSecuredMapping(const char* name, DWORD size) {
  std::string sid = TokenUserSid();
  if (sid.empty()) return nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(SharedBlockSddl(sid).c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return nullptr;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0, size, name);
  LocalFree(descriptor);
  return mapping;
}

}  // namespace tavik::tray
