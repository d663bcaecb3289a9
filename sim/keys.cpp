#include "sim/keys.h"

#include <cstdlib>

#include "sim/print.h"

namespace tavik::sim {

namespace {

struct NamedKey {
  const char* name;
  KeyId key;
};

constexpr NamedKey kKeys[] = {
    {"at", {0xC0, 0x1A}},         {"esc", {0x1B, 0x01}},       {"enter", {0x0D, 0x1C}},
    {"numenter", {0x0D, 0x11C}},  {"space", {0x20, 0x39}},     {"bs", {0x08, 0x0E}},
    {"tab", {0x09, 0x0F}},        {"shift", {0x10, 0x2A}},     {"lshift", {0x10, 0x2A}},
    {"rshift", {0x10, 0x36}},     {"ctrl", {0x11, 0x1D}},      {"alt", {0x12, 0x38}},
    {"capslock", {0x14, 0x3A}},   {"eisu", {0xF0, 0x3A}},      {"eiji", {0xF0, 0x63}},
    {"kana", {0x15, 0x70}},       {"hankaku", {0xF3, 0x29}},   {"zenkaku", {0xF4, 0x29}},
    {"muhenkan", {0x1D, 0x7B}},   {"henkan", {0x1C, 0x79}},    {"hiragana", {0xF2, 0x70}},
    {"katakana", {0xF1, 0x70}},   {"left", {0x25, 0x14B}},     {"right", {0x27, 0x14D}},
    {"up", {0x26, 0x148}},        {"down", {0x28, 0x150}},     {"home", {0x24, 0x147}},
    {"end", {0x23, 0x14F}},       {"pgup", {0x21, 0x149}},     {"pgdn", {0x22, 0x151}},
    {"ins", {0x2D, 0x152}},       {"del", {0x2E, 0x153}},      {"pause", {0x13, 0x45}},
    {"scrolllock", {0x91, 0x46}}, {"numlock", {0x90, 0x145}},  {"comma", {0xBC, 0x33}},
    {"minus", {0xBD, 0x0C}},      {"a", {0x41, 0x1E}},         {"b", {0x42, 0x30}},
    {"c", {0x43, 0x2E}},          {"d", {0x44, 0x20}},         {"e", {0x45, 0x12}},
    {"f", {0x46, 0x21}},          {"g", {0x47, 0x22}},         {"h", {0x48, 0x23}},
    {"i", {0x49, 0x17}},          {"j", {0x4A, 0x24}},         {"k", {0x4B, 0x25}},
    {"l", {0x4C, 0x26}},          {"m", {0x4D, 0x32}},         {"n", {0x4E, 0x31}},
    {"o", {0x4F, 0x18}},          {"p", {0x50, 0x19}},         {"q", {0x51, 0x10}},
    {"r", {0x52, 0x13}},          {"s", {0x53, 0x1F}},         {"t", {0x54, 0x14}},
    {"u", {0x55, 0x16}},          {"v", {0x56, 0x2F}},         {"w", {0x57, 0x11}},
    {"x", {0x58, 0x2D}},          {"y", {0x59, 0x15}},         {"z", {0x5A, 0x2C}},
    {"1", {0x31, 0x02}},          {"2", {0x32, 0x03}},         {"3", {0x33, 0x04}},
    {"4", {0x34, 0x05}},          {"5", {0x35, 0x06}},         {"6", {0x36, 0x07}},
    {"7", {0x37, 0x08}},          {"8", {0x38, 0x09}},         {"9", {0x39, 0x0A}},
    {"0", {0x30, 0x0B}},
    // What the hook sends: the cancel key's substitute Esc (scan code 0x64,
    // extended, so that it can be told from a real Esc) and the romaji
    // backspace's Backspace.
    {"cancel-esc", {0x1B, 0x164}}, {"romaji-bs", {0x08, 0x0E}},
};

std::optional<uint32_t> HexNumber(const std::string& s, uint32_t max) {
  if (s.size() < 3 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X') || s.size() > 10) return std::nullopt;
  char* end = nullptr;
  unsigned long v = std::strtoul(s.c_str() + 2, &end, 16);
  if (end == nullptr || *end != '\0' || v > max) return std::nullopt;
  return static_cast<uint32_t>(v);
}

}  // namespace

std::optional<KeyId> LookUpKey(const std::string& text) {
  for (const NamedKey& k : kKeys) {
    if (text == k.name) return k.key;
  }
  size_t slash = text.find('/');
  if (slash == std::string::npos) return std::nullopt;
  auto vk = HexNumber(text.substr(0, slash), 0xFF);
  auto scan = HexNumber(text.substr(slash + 1), 0x1FF);
  if (!vk || !scan) return std::nullopt;
  return KeyId{*vk, *scan};
}

std::string KeyName(const KeyId& key) {
  // The first name wins where two name one key: "bs" before "romaji-bs".
  for (const NamedKey& k : kKeys) {
    if (k.key.vk == key.vk && k.key.scanKey == key.scanKey) return k.name;
  }
  for (const NamedKey& k : kKeys) {
    if ((key.scanKey & 0xFF) == 0 && k.key.vk == key.vk) return k.name;
  }
  return KeyText(key.vk, key.scanKey);
}

}  // namespace tavik::sim
