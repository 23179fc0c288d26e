// keys.cpp -- the key mapping and the line editor.
#include "keys.h"

namespace config_ui {
namespace terminal {
namespace {
constexpr int kEscape = 27;
constexpr int kCtrlC = 3;
constexpr int kDeleteCode = 127;  // what most terminals send for Backspace
constexpr int kCtrlH = 8;
bool Is(int key, int code) { return code != 0 && key == code; }
}  // namespace

KeyEvent MapKey(int key, int following, const KeyCodes& c) {
  if (key == kEscape) {
    if (following >= '1' && following <= '4') return {Action::kSelectTab, following - '1'};
    return {Action::kEscape, 0};
  }
  if (key == kCtrlC) return {Action::kEscape, 0};
  if (key == c.tab) return {Action::kNextControl, 0};
  if (Is(key, c.backTab)) return {Action::kPrevControl, 0};
  if (Is(key, c.ctrlPageDown)) return {Action::kNextTab, 0};
  if (Is(key, c.ctrlPageUp)) return {Action::kPrevTab, 0};
  if (key == '\n' || key == '\r' || Is(key, c.enter) || Is(key, c.keypadEnter)) {
    return {Action::kEnter, 0};
  }
  if (Is(key, c.backspace) || key == kDeleteCode || key == kCtrlH) return {Action::kBackspace, 0};
  if (Is(key, c.deleteChar)) return {Action::kDelete, 0};
  if (Is(key, c.up)) return {Action::kUp, 0};
  if (Is(key, c.down)) return {Action::kDown, 0};
  if (Is(key, c.shiftUp)) return {Action::kExtendUp, 0};
  if (Is(key, c.shiftDown)) return {Action::kExtendDown, 0};
  if (Is(key, c.left)) return {Action::kLeft, 0};
  if (Is(key, c.right)) return {Action::kRight, 0};
  if (Is(key, c.pageUp)) return {Action::kPageUp, 0};
  if (Is(key, c.pageDown)) return {Action::kPageDown, 0};
  if (Is(key, c.home) || Is(key, c.shiftHome)) return {Action::kHome, 0};
  if (Is(key, c.end) || Is(key, c.shiftEnd)) return {Action::kEnd, 0};
  if (Is(key, c.f2)) return {Action::kRename, 0};
  if (Is(key, c.resize)) return {Action::kResize, 0};
  if (Is(key, c.mouse)) return {Action::kMouse, 0};
  if (key == ' ') return {Action::kSpace, ' '};
  // Texts are 8-bit: any byte from a space up but DEL is a character.
  if (key > ' ' && key <= 0xff && key != kDeleteCode) return {Action::kCharacter, key};
  return {Action::kNone, 0};
}

const char* SheetHelp() {
  return "Tab/S-Tab:move ^PgDn/^PgUp,M-1..4:tab Space:tick F2:rename Enter:OK Esc:Cancel";
}
const char* DialogHelp() { return "Tab/S-Tab:move Space:tick/press Enter:OK Esc:Cancel"; }
const char* RenameHelp() { return "Renaming: type the new name, Enter:keep Esc:cancel the edit"; }
const char* MessageHelp() { return "Enter, Space or Esc:OK"; }

void LineEditor::Reset(const std::string& text, bool selectAll) {
  text_ = text;
  caret_ = 0;
  first_ = 0;
  selectedAll_ = selectAll;
}

bool LineEditor::Handle(const KeyEvent& key) {
  switch (key.action) {
    case Action::kCharacter:
    case Action::kSpace:
      if (selectedAll_) {
        text_.clear();
        caret_ = 0;
        selectedAll_ = false;
      }
      if (limit_ == 0 || text_.size() < limit_) {
        text_.insert(caret_, 1, static_cast<char>(key.value));
        ++caret_;
      }
      return true;
    case Action::kBackspace:
    case Action::kDelete:
      if (selectedAll_) {
        text_.clear();
        caret_ = 0;
      } else if (key.action == Action::kBackspace && caret_ > 0) {
        text_.erase(--caret_, 1);
      } else if (key.action == Action::kDelete && caret_ < text_.size()) {
        text_.erase(caret_, 1);
      }
      selectedAll_ = false;
      return true;
    case Action::kLeft:
      if (caret_ > 0 && !selectedAll_) --caret_;
      if (selectedAll_) caret_ = 0;
      selectedAll_ = false;
      return true;
    case Action::kRight:
      if (caret_ < text_.size()) ++caret_;
      selectedAll_ = false;
      return true;
    case Action::kHome:
      caret_ = 0;
      selectedAll_ = false;
      return true;
    case Action::kEnd:
      caret_ = text_.size();
      selectedAll_ = false;
      return true;
    default:
      return false;
  }
}

void LineEditor::Scroll(int width) {
  if (width < 1) width = 1;
  const std::size_t w = static_cast<std::size_t>(width);
  if (caret_ < first_) first_ = caret_;
  // The caret may stand just after the last character, in the field's last cell.
  if (caret_ >= first_ + w) first_ = caret_ - w + 1;
  if (first_ > text_.size()) first_ = text_.size();
}

void LineEditor::ClickAt(int offset) {
  const std::size_t at = first_ + static_cast<std::size_t>(offset < 0 ? 0 : offset);
  caret_ = at < text_.size() ? at : text_.size();
  selectedAll_ = false;
}

}  // namespace terminal
}  // namespace config_ui
