#include "sim/editor_text.h"

#include <algorithm>
#include <cstddef>

namespace tavik::sim {

namespace {

bool IsLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// Virtual-key codes of the keys the editor knows.
constexpr uint32_t kBack = 0x08;
constexpr uint32_t kTab = 0x09;
constexpr uint32_t kReturn = 0x0D;
constexpr uint32_t kSpace = 0x20;
constexpr uint32_t kEnd = 0x23;
constexpr uint32_t kHome = 0x24;
constexpr uint32_t kLeft = 0x25;
constexpr uint32_t kUp = 0x26;
constexpr uint32_t kRight = 0x27;
constexpr uint32_t kDown = 0x28;
constexpr uint32_t kDelete = 0x2E;

}  // namespace

std::vector<std::string> Cp932Characters(const std::string& bytes) {
  std::vector<std::string> chars;
  for (size_t i = 0; i < bytes.size();) {
    size_t n = IsLeadByte(static_cast<unsigned char>(bytes[i])) && i + 1 < bytes.size() ? 2 : 1;
    chars.push_back(bytes.substr(i, n));
    i += n;
  }
  return chars;
}

void EditorText::Set(const std::string& bytes) {
  chars_ = Cp932Characters(bytes);
  caret_ = chars_.size();
}

std::string EditorText::Bytes() const {
  std::string out;
  for (const std::string& c : chars_) out += c;
  return out;
}

void EditorText::Insert(const std::string& bytes) {
  std::vector<std::string> added = Cp932Characters(bytes);
  chars_.insert(chars_.begin() + static_cast<std::ptrdiff_t>(caret_), added.begin(), added.end());
  caret_ += added.size();
}

void EditorText::KeyDown(uint32_t vk, bool ctrlOrAltHeld) {
  std::string typed;
  if (vk == kSpace) {
    typed = " ";
  } else if (vk == kReturn) {
    typed = "\n";
  } else if (vk == kTab) {
    typed = "\t";
  } else if (vk >= 'A' && vk <= 'Z') {
    typed = std::string(1, static_cast<char>(vk - 'A' + 'a'));
  } else if (vk >= '0' && vk <= '9') {
    typed = std::string(1, static_cast<char>(vk));
  }
  if (!typed.empty()) {
    if (!ctrlOrAltHeld) Insert(typed);
    return;
  }
  switch (vk) {
    case kBack:
      Backspace();
      break;
    case kDelete:
      Delete();
      break;
    case kLeft:
      Left();
      break;
    case kRight:
      Right();
      break;
    case kHome:
      Home();
      break;
    case kEnd:
      End();
      break;
    case kUp:
      Up();
      break;
    case kDown:
      Down();
      break;
    default:
      break;
  }
}

void EditorText::Backspace() {
  if (caret_ == 0) return;
  --caret_;
  chars_.erase(chars_.begin() + static_cast<std::ptrdiff_t>(caret_));
}

void EditorText::Delete() {
  if (caret_ < chars_.size()) chars_.erase(chars_.begin() + static_cast<std::ptrdiff_t>(caret_));
}

void EditorText::Left() {
  if (caret_ > 0) --caret_;
}

void EditorText::Right() {
  if (caret_ < chars_.size()) ++caret_;
}

size_t EditorText::LineStart(size_t at) const {
  while (at > 0 && chars_[at - 1] != "\n") --at;
  return at;
}

size_t EditorText::LineEnd(size_t at) const {
  while (at < chars_.size() && chars_[at] != "\n") ++at;
  return at;
}

void EditorText::Home() { caret_ = LineStart(caret_); }

void EditorText::End() { caret_ = LineEnd(caret_); }

// On the first line Up, and on the last Down, leave the caret where it is,
// as an edit control does.
void EditorText::Up() {
  size_t start = LineStart(caret_);
  if (start == 0) return;
  size_t column = caret_ - start;
  size_t above = LineStart(start - 1);
  caret_ = std::min(above + column, start - 1);
}

void EditorText::Down() {
  size_t start = LineStart(caret_);
  size_t end = LineEnd(caret_);
  if (end == chars_.size()) return;
  size_t column = caret_ - start;
  size_t below = end + 1;
  caret_ = std::min(below + column, LineEnd(below));
}

}  // namespace tavik::sim
