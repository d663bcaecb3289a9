// The text an application holds in its edit window, as a user would see it
// after typing: what the simulated desktop keeps for each window, so that a
// scenario can check what the keys the hooks let through (and the IME's
// commits) made of it. Text is code page 932 bytes; the caret counts
// characters, a line break being one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tavik::sim {

// The characters of code page 932 text, in order: a lead byte (0x81-0x9F,
// 0xE0-0xFC) takes the byte after it, other bytes stand alone, and so does
// a lead byte with nothing after it.
std::vector<std::string> Cp932Characters(const std::string& bytes);

class EditorText {
 public:
  // The whole text, with the caret after its last character.
  void Set(const std::string& bytes);
  std::string Bytes() const;
  size_t Caret() const { return caret_; }

  // The text inserted at the caret, which moves past it.
  void Insert(const std::string& bytes);
  // A key-down the application receives. Space, Enter, Tab, letters and
  // digits type a character (letters in lower case; none of them while
  // Ctrl or Alt is held); Backspace, Delete, the arrows, Home and End edit
  // or move; every other key changes nothing.
  void KeyDown(uint32_t vk, bool ctrlOrAltHeld);

  void Backspace();
  void Delete();
  void Left();
  void Right();
  void Home();  // to the start of the caret's line
  void End();   // to the end of the caret's line, before its line break
  void Up();    // to the same column of the line above, or its end if shorter
  void Down();

 private:
  size_t LineStart(size_t at) const;
  size_t LineEnd(size_t at) const;

  std::vector<std::string> chars_;
  size_t caret_ = 0;
};

}  // namespace tavik::sim
