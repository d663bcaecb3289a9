// The block the hook libraries share, created by the tray program before it
// loads the library, so that its security is the tray program's choice and
// not the default of whichever process happens to create it first.
#pragma once

#include <windows.h>

#include <string>

namespace tavik::tray {

// The block's security in SDDL for the user `userSid` (a string SID): full
// access for that user and for SYSTEM, nothing for anyone else (AppContainer
// programs, which global hooks do not reach anyway, included), not inherited
// from above; and the low mandatory label with no-write-up, so that programs
// running at low integrity (a browser's protected mode) can still open it.
std::string SharedBlockSddl(const std::string& userSid);

// The user the process's token belongs to, as a string SID ("" when it cannot
// be read). An administrator's elevated token belongs to the same user as
// the unelevated one, so an elevated tavik gives the block to the user whose
// normal programs must open it.
std::string TokenUserSid();

// Creates the named block with that security, or opens it when it exists
// (then its security stays what it was). The handle keeps it alive for the
// life of the tray program; null when it could not be created, and the
// library then creates it itself.
HANDLE CreateSharedBlock();

// Any other named block the libraries open, with the same security: the
// recording block.
HANDLE CreateSecuredMapping(const char* name, DWORD size);

}  // namespace tavik::tray
