// The key mapping and the line editor, without a terminal.
#include "keys.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace config_ui {
namespace terminal {
namespace {

// Stand-ins for the curses codes, all distinct.
KeyCodes FakeCodes() {
  KeyCodes k;
  k.backTab = 401;
  k.enter = 402;
  k.backspace = 403;
  k.deleteChar = 404;
  k.up = 405;
  k.down = 406;
  k.left = 407;
  k.right = 408;
  k.pageUp = 409;
  k.pageDown = 410;
  k.home = 411;
  k.end = 412;
  k.shiftUp = 413;
  k.shiftDown = 414;
  k.f2 = 415;
  k.resize = 416;
  k.mouse = 417;
  k.ctrlPageDown = 520;
  k.ctrlPageUp = 521;
  return k;
}

TEST(MapKey, GivesEachKeyOfTheSheetItsMeaning) {
  const KeyCodes k = FakeCodes();
  struct Case {
    int key;
    int following;
    Action action;
    int value;
  } cases[] = {
      {9, -1, Action::kNextControl, 0},
      {401, -1, Action::kPrevControl, 0},
      {520, -1, Action::kNextTab, 0},
      {521, -1, Action::kPrevTab, 0},
      // Alt-1 .. Alt-4 arrive as Esc and the digit.
      {27, '1', Action::kSelectTab, 0},
      {27, '4', Action::kSelectTab, 3},
      {27, '5', Action::kEscape, 0},
      {27, -1, Action::kEscape, 0},
      {3, -1, Action::kEscape, 0},  // Ctrl-C in raw mode
      {' ', -1, Action::kSpace, ' '},
      {'\r', -1, Action::kEnter, 0},
      {'\n', -1, Action::kEnter, 0},
      {402, -1, Action::kEnter, 0},
      {403, -1, Action::kBackspace, 0},
      {127, -1, Action::kBackspace, 0},
      {8, -1, Action::kBackspace, 0},
      {404, -1, Action::kDelete, 0},
      {405, -1, Action::kUp, 0},
      {406, -1, Action::kDown, 0},
      {409, -1, Action::kPageUp, 0},
      {410, -1, Action::kPageDown, 0},
      {411, -1, Action::kHome, 0},
      {412, -1, Action::kEnd, 0},
      {413, -1, Action::kExtendUp, 0},
      {414, -1, Action::kExtendDown, 0},
      {415, -1, Action::kRename, 0},
      {416, -1, Action::kResize, 0},
      {417, -1, Action::kMouse, 0},
      {'a', -1, Action::kCharacter, 'a'},
      {'~', -1, Action::kCharacter, '~'},
      {0xe9, -1, Action::kCharacter, 0xe9},  // an 8-bit text byte
      {31, -1, Action::kNone, 0},
      {0, -1, Action::kNone, 0},
      {999, -1, Action::kNone, 0},
  };
  for (const Case& c : cases) {
    const KeyEvent e = MapKey(c.key, c.following, k);
    EXPECT_EQ(e.action, c.action) << "key " << c.key << " then " << c.following;
    EXPECT_EQ(e.value, c.value) << "key " << c.key;
  }
}

TEST(MapKey, AKeyTheTerminalLacksMatchesNothing) {
  // Without kNXT5/kPRV5 their codes are 0: a NUL (Ctrl-Space) must not
  // switch tabs, and Alt-1..4 still do.
  KeyCodes k = FakeCodes();
  k.ctrlPageDown = 0;
  k.ctrlPageUp = 0;
  EXPECT_EQ(MapKey(0, -1, k).action, Action::kNone);
  EXPECT_EQ(MapKey(27, '2', k).action, Action::kSelectTab);
}

TEST(HelpLines, FitTheSheetOnAnEightyColumnScreen) {
  for (const char* help : {SheetHelp(), DialogHelp(), RenameHelp(), MessageHelp()}) {
    EXPECT_LE(std::strlen(help), 79u) << help;
  }
  // The sheet's line names every key of the sheet.
  const std::string sheet = SheetHelp();
  for (const char* key : {"Tab", "S-Tab", "^PgDn", "^PgUp", "M-1..4", "Space", "F2", "Enter", "Esc"}) {
    EXPECT_NE(sheet.find(key), std::string::npos) << key;
  }
}

KeyEvent Char(char c) { return {Action::kCharacter, static_cast<unsigned char>(c)}; }
KeyEvent Press(Action a) { return {a, 0}; }

void Type(LineEditor& e, const std::string& text) {
  for (char c : text) e.Handle(c == ' ' ? KeyEvent{Action::kSpace, ' '} : Char(c));
}

TEST(LineEditor, TypingOverASelectedTextReplacesIt) {
  LineEditor e;
  e.Reset("25", true);
  Type(e, "0");
  EXPECT_EQ(e.text(), "0");
  Type(e, " 1");
  EXPECT_EQ(e.text(), "0 1");
  e.SelectAll();
  EXPECT_TRUE(e.Handle(Press(Action::kBackspace)));
  EXPECT_EQ(e.text(), "");
}

TEST(LineEditor, EditsAtTheCaret) {
  LineEditor e;
  e.Reset("localhost", false);
  EXPECT_EQ(e.caret(), 0u);  // the field shows its beginning
  e.Handle(Press(Action::kEnd));
  e.Handle(Press(Action::kBackspace));
  EXPECT_EQ(e.text(), "localhos");
  e.Handle(Press(Action::kHome));
  e.Handle(Press(Action::kDelete));
  e.Handle(Press(Action::kRight));
  Type(e, "X");
  EXPECT_EQ(e.text(), "oXcalhos");
  e.Handle(Press(Action::kLeft));
  e.Handle(Press(Action::kLeft));
  e.Handle(Press(Action::kLeft));  // stops at the start
  e.Handle(Press(Action::kBackspace));
  EXPECT_EQ(e.text(), "oXcalhos");
  // Keys that are not editing keys are left to the window.
  EXPECT_FALSE(e.Handle(Press(Action::kEnter)));
  EXPECT_FALSE(e.Handle(Press(Action::kNextControl)));
  EXPECT_FALSE(e.Handle(Press(Action::kUp)));
}

TEST(LineEditor, StopsTypingAtItsLimitButKeepsALongerText) {
  LineEditor e;
  e.SetLimit(3);
  e.Reset("", false);
  Type(e, "abcdef");
  EXPECT_EQ(e.text(), "abc");
  e.Reset("abcdef", false);  // set by the logic, not typed: kept whole
  EXPECT_EQ(e.text(), "abcdef");
  e.Handle(Press(Action::kEnd));
  Type(e, "g");
  EXPECT_EQ(e.text(), "abcdef");
  e.SelectAll();
  Type(e, "wxyz");  // replacing the selection makes room
  EXPECT_EQ(e.text(), "wxy");
}

TEST(LineEditor, ScrollsToKeepTheCaretInTheField) {
  LineEditor e;
  e.Reset("0123456789", false);
  e.Handle(Press(Action::kEnd));
  e.Scroll(4);
  // The caret after the last character stands in the field's last cell.
  EXPECT_EQ(e.first(), 7u);
  e.Handle(Press(Action::kHome));
  e.Scroll(4);
  EXPECT_EQ(e.first(), 0u);
  e.ClickAt(2);
  EXPECT_EQ(e.caret(), 2u);
  e.ClickAt(40);  // past the end of the text
  EXPECT_EQ(e.caret(), 10u);
}

}  // namespace
}  // namespace terminal
}  // namespace config_ui
