// keys.h -- what a key means to the terminal sheet, and the one-line editor
// that edits and in-place renames share. Pure, so that both can be tested
// without a terminal: the key codes come from ncurses (curses.h values are
// passed in through KeyCodes), the meaning is ours.
#ifndef PELLUMIN_CONFIG_UI_TERMINAL_KEYS_H_
#define PELLUMIN_CONFIG_UI_TERMINAL_KEYS_H_

#include <cstddef>
#include <string>

namespace config_ui {
namespace terminal {

enum class Action {
  kNone,
  kNextControl,   // Tab
  kPrevControl,   // Shift-Tab
  kNextTab,       // Ctrl-PageDown
  kPrevTab,       // Ctrl-PageUp
  kSelectTab,     // Alt-1 .. Alt-4 (value: 0 .. 3)
  kSpace,         // toggles a box, presses a button, ticks a list row
  kUp, kDown, kPageUp, kPageDown, kHome, kEnd,
  kExtendUp, kExtendDown,  // Shift-Up / Shift-Down: extend a list's selection
  kLeft, kRight,
  kBackspace, kDelete,
  kRename,        // F2
  kEnter,
  kEscape,        // Esc, and Ctrl-C (the terminal is in raw mode)
  kCharacter,     // a printable character (value)
  kResize,
  kMouse,
};

struct KeyEvent {
  Action action = Action::kNone;
  int value = 0;
};

// The curses key codes the mapping needs. The terminal front end fills it
// from curses.h and from terminfo (Ctrl-PageDown and Ctrl-PageUp are the
// extended keys kNXT5 and kPRV5, whose codes ncurses assigns at run time; 0
// when the terminal description has none).
struct KeyCodes {
  int tab = 9, backTab = 0, enter = 0, keypadEnter = 0, backspace = 0, deleteChar = 0;
  int up = 0, down = 0, left = 0, right = 0, pageUp = 0, pageDown = 0, home = 0, end = 0;
  int shiftUp = 0, shiftDown = 0, shiftHome = 0, shiftEnd = 0;
  int f2 = 0, resize = 0, mouse = 0;
  int ctrlPageDown = 0, ctrlPageUp = 0;
};

// key is what getch returned; for an Esc (27), following is the key that was
// already waiting right behind it (-1 if none): a terminal sends Alt-1 as Esc
// then "1", and ncurses reports the two separately.
KeyEvent MapKey(int key, int following, const KeyCodes& codes);

// The help line of each mode, at most 80 columns.
const char* SheetHelp();
const char* DialogHelp();
const char* RenameHelp();
const char* MessageHelp();

// A single-line edit: a byte string, a caret, a first visible byte, and the
// "whole text selected" state a Windows edit is in when the focus arrives
// by Tab (typing then replaces the text).
class LineEditor {
 public:
  void Reset(const std::string& text, bool selectAll);
  // The caret goes to the start, so that the field shows its beginning.
  void SelectAll() {
    selectedAll_ = true;
    caret_ = 0;
  }
  // The characters that may be typed; 0 means no limit. Text already longer
  // stays as it is.
  void SetLimit(std::size_t limit) { limit_ = limit; }
  // Handles the editing keys (characters, Backspace, Delete, Left, Right,
  // Home, End); false for any other key.
  bool Handle(const KeyEvent& key);
  // Keeps the caret inside a field of width cells.
  void Scroll(int width);
  // Caret from a mouse click at cell offset within the field.
  void ClickAt(int offset);

  const std::string& text() const { return text_; }
  std::size_t caret() const { return caret_; }
  std::size_t first() const { return first_; }
  bool selectedAll() const { return selectedAll_; }

 private:
  std::string text_;
  std::size_t caret_ = 0;
  std::size_t first_ = 0;
  std::size_t limit_ = 0;
  bool selectedAll_ = false;
};

}  // namespace terminal
}  // namespace config_ui

#endif  // PELLUMIN_CONFIG_UI_TERMINAL_KEYS_H_
