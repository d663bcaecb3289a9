#include "sim/profile.h"

#include <algorithm>
#include <cstring>

namespace tavik::sim {

namespace {

constexpr const char kCurrentDirectory[] = "c:\\users\\tavik";
constexpr const char kWindowsDirectory[] = "c:\\windows";

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

bool SameName(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// A line as the profile reader sees it.
struct Line {
  enum Kind { kOther, kSection, kKey } kind = kOther;
  std::string name;  // section or key name
  bool hasValue = false;
  std::string value;
};

Line ParseLine(const std::string& raw) {
  Line line;
  std::string s = Trim(raw);
  if (s.empty() || s[0] == ';') return line;
  if (s[0] == '[') {
    size_t close = s.find(']');
    line.kind = Line::kSection;
    line.name = Trim(s.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return line;
  }
  line.kind = Line::kKey;
  size_t eq = s.find('=');
  line.name = Trim(s.substr(0, eq));
  if (eq != std::string::npos) {
    line.hasValue = true;
    line.value = Trim(s.substr(eq + 1));
  }
  return line;
}

// Copies at most nSize - 1 characters and terminates; returns the count.
// A zero byte in the file ends the value, as it would for any C string.
uint32_t CopyOut(const std::string& s, char* out, uint32_t nSize) {
  if (nSize == 0) return 0;
  size_t length = std::min(s.size(), s.find('\0'));
  uint32_t n = static_cast<uint32_t>(std::min<size_t>(length, nSize - 1));
  std::memcpy(out, s.data(), n);
  out[n] = '\0';
  return n;
}

std::string StripQuotes(const std::string& v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

}  // namespace

std::string ProfileStore::Resolve(const std::string& path) {
  std::string p = Lower(path);
  if (p.rfind(".\\", 0) == 0 || p.rfind("./", 0) == 0) return std::string(kCurrentDirectory) + "\\" + p.substr(2);
  if (p.find('\\') == std::string::npos && p.find('/') == std::string::npos) {
    return std::string(kWindowsDirectory) + "\\" + p;
  }
  return p;
}

void ProfileStore::SetFile(const std::string& path, const std::string& text) { files_[Resolve(path)] = text; }

void ProfileStore::RemoveFile(const std::string& path) { files_.erase(Resolve(path)); }

std::optional<std::string> ProfileStore::File(const std::string& path) const {
  auto it = files_.find(Resolve(path));
  if (it == files_.end()) return std::nullopt;
  return it->second;
}

uint32_t ProfileStore::GetString(const char* section, const char* key, const char* defaultValue, char* out,
                                 uint32_t nSize, const char* path) const {
  std::string fallback = defaultValue != nullptr ? defaultValue : "";
  while (!fallback.empty() && fallback.back() == ' ') fallback.pop_back();
  if (out == nullptr) return 0;
  auto file = files_.find(Resolve(path != nullptr ? path : ""));
  if (section == nullptr || key == nullptr || file == files_.end()) return CopyOut(fallback, out, nSize);

  bool inSection = false;
  bool seenSection = false;
  for (const std::string& raw : SplitLines(file->second)) {
    Line line = ParseLine(raw);
    if (line.kind == Line::kSection) {
      // Only the first section of a name counts.
      if (inSection) break;
      inSection = !seenSection && SameName(line.name, section);
      seenSection = seenSection || inSection;
    } else if (line.kind == Line::kKey && inSection && SameName(line.name, key)) {
      if (!line.hasValue) break;
      return CopyOut(StripQuotes(line.value), out, nSize);
    }
  }
  return CopyOut(fallback, out, nSize);
}

bool ProfileStore::WriteString(const char* section, const char* key, const char* value, const char* path) {
  if (section == nullptr || path == nullptr) return false;
  std::string& text = files_[Resolve(path)];
  std::vector<std::string> lines = SplitLines(text);

  // Find the section and, in it, the key.
  size_t sectionLine = lines.size();
  size_t keyLine = lines.size();
  size_t sectionEnd = lines.size();
  for (size_t i = 0; i < lines.size(); ++i) {
    Line line = ParseLine(lines[i]);
    if (line.kind == Line::kSection) {
      if (sectionLine != lines.size()) {
        sectionEnd = i;
        break;
      }
      if (SameName(line.name, section)) sectionLine = i;
    } else if (line.kind == Line::kKey && sectionLine != lines.size() && keyLine == lines.size() && key != nullptr &&
               SameName(line.name, key)) {
      keyLine = i;
    }
  }

  if (key == nullptr) {
    if (sectionLine != lines.size()) lines.erase(lines.begin() + sectionLine, lines.begin() + sectionEnd);
  } else if (value == nullptr) {
    if (keyLine != lines.size()) lines.erase(lines.begin() + keyLine);
  } else {
    std::string entry = std::string(key) + "=" + value;
    if (keyLine != lines.size()) {
      // The key keeps the spelling it has in the file.
      lines[keyLine] = ParseLine(lines[keyLine]).name + "=" + value;
    } else if (sectionLine != lines.size()) {
      // After the section's last non-blank line.
      size_t at = sectionEnd;
      while (at > sectionLine + 1 && Trim(lines[at - 1]).empty()) --at;
      lines.insert(lines.begin() + at, entry);
    } else {
      // Appended piece by piece: g++ 12 at -O3 takes `"[" + std::string`
      // for an overlapping copy (-Wrestrict) and fails the Release build.
      std::string header = "[";
      header += section;
      header += ']';
      lines.push_back(std::move(header));
      lines.push_back(entry);
    }
  }

  text.clear();
  for (const std::string& l : lines) text += l + "\r\n";
  return true;
}

}  // namespace tavik::sim
