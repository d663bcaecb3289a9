#include "sim/print.h"

#include <cstdio>

namespace tavik::sim {

std::string Hex(uint64_t value) {
  if (value == 0) return "0";
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(value));
  return buf;
}

std::string Signed(int64_t value) {
  // Negated as unsigned: the most negative value has no positive twin.
  if (value >= 0) return Hex(static_cast<uint64_t>(value));
  std::string out = "-";
  out += Hex(0 - static_cast<uint64_t>(value));
  return out;
}

std::string Quoted(std::string_view bytes) {
  std::string out = "\"";
  for (char c : bytes) {
    auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (u < 0x20 || u >= 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", u);
      out += buf;
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

std::string KeyText(uint32_t vk, uint32_t scanKey) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%02X/0x%02X", vk, scanKey);
  return buf;
}

std::string HexBytes(std::string_view bytes, std::string_view empty) {
  if (bytes.empty()) return std::string(empty);
  std::string out;
  for (char c : bytes) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned char>(c));
    if (!out.empty()) out += ' ';
    out += buf;
  }
  return out;
}

}  // namespace tavik::sim
