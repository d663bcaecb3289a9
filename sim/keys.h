// Names for the keys of a Japanese 106/109 keyboard as the keyboard hook sees
// them: virtual-key code and scan key (scan code plus 0x100 when extended).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tavik::sim {

struct KeyId {
  uint32_t vk;
  uint32_t scanKey;
};

// A key by name ("at", "esc", "lshift", "a", ...) or as "0xVV/0xSSS".
std::optional<KeyId> LookUpKey(const std::string& text);

// The name a scenario gives the key; for a keystroke sent without a scan
// code (keybd_event's space, say), the name of the key with its virtual-key
// code; "0xVV/0xSS" for a key without either.
std::string KeyName(const KeyId& key);

}  // namespace tavik::sim
