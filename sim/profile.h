// Private profile (INI) files as Windows keeps them, in memory: the files the
// simulated desktop's programs read and write.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tavik::sim {

class ProfileStore {
 public:
  // The whole text of a file, as bytes; replaces what was there.
  void SetFile(const std::string& path, const std::string& text);
  void RemoveFile(const std::string& path);
  std::optional<std::string> File(const std::string& path) const;

  // GetPrivateProfileStringA for a section and key: case-insensitive names,
  // the first matching section and key win, the value trimmed of white space
  // and of one pair of enclosing quotes; the default (trailing blanks
  // removed) when the file, section or key is missing; at most nSize - 1
  // characters kept; returns the count copied.
  uint32_t GetString(const char* section, const char* key, const char* defaultValue, char* out, uint32_t nSize,
                     const char* path) const;

  // WritePrivateProfileStringA: sets a key (adding the section and the file
  // as needed); a null value deletes the key, a null key the whole section.
  // Lines the call does not touch stay as they were. Lines end in CRLF.
  bool WriteString(const char* section, const char* key, const char* value, const char* path);

  // Where a profile path lands: ".\name" in the current directory, a bare
  // name in the Windows directory. Compared without regard to case.
  static std::string Resolve(const std::string& path);

 private:
  std::map<std::string, std::string> files_;  // resolved, lower-case path -> text
};

}  // namespace tavik::sim
