// screen.h -- what the terminal front end's windows share: drawing on the
// ncurses screen, clipped to it, and the stack of modal layers (the sheet, a
// dialog over it, a message box over that), each with its own key loop, so
// that a page's handler that opens a dialog returns when the dialog has
// closed, as on Windows.
#ifndef PELLUMIN_CONFIG_UI_TERMINAL_SCREEN_H_
#define PELLUMIN_CONFIG_UI_TERMINAL_SCREEN_H_

#include <curses.h>

#include <string>
#include <vector>

#include "controls.h"
#include "keys.h"
#include "layout.h"

namespace config_ui {
namespace terminal {

// Drawing on stdscr. Nothing is drawn outside the screen; texts show only
// printable ASCII (any other byte as "?").
void Put(int row, int col, const std::string& text, int maxWidth, attr_t attr = A_NORMAL);
void Fill(int row, int col, int width, chtype ch, attr_t attr = A_NORMAL);
void PutChar(int row, int col, chtype ch);
// A box with title in its top line.
void Frame(const CellRect& r, const std::string& title, attr_t titleAttr = A_NORMAL);
void Clear(const CellRect& r);
// "[   OK   ]": text centred between brackets, width cells in all.
std::string ButtonFace(const std::string& text, int width);

// The curses codes of the keys the sheet knows, Ctrl-PageDown and
// Ctrl-PageUp from the terminal's description.
KeyCodes CursesKeyCodes();

// One modal thing on the screen: the sheet, a dialog or a message box.
class Layer {
 public:
  virtual ~Layer() = default;
  // top: this layer has the keyboard (only the top one shows a cursor).
  virtual void Draw(bool top) = 0;
  virtual void Key(const KeyEvent& key) = 0;
  virtual void Click(int row, int col) = 0;
  // The terminal is gone: close as Cancel or the close box would.
  virtual void Abandon() = 0;
  virtual bool done() const = 0;
  virtual const char* Help() const = 0;
};

// The screen's layers, bottom to top. Every key goes to the top one; every
// redraw draws them all, so that a dialog stands over the sheet.
class Session {
 public:
  Session() : codes_(CursesKeyCodes()) {}
  // Runs layer modally over the layers below it. When the terminal has
  // gone (its input ends), every layer is abandoned, as Cancel would.
  void Run(Layer& layer);
  // A dialog from its template, centred, with the focus on its first
  // control with a tab stop; returns when it has closed.
  void RunDialog(WindowLogic& dialog);
  // A centred box captioned MessageCaption(), with an OK button.
  void RunMessage(const std::string& text, MessageIcon icon);
  // Where the terminal's cursor goes after the redraw (the top layer's
  // focused control); none when not set.
  void SetCursor(int row, int col) {
    cursorRow_ = row;
    cursorCol_ = col;
  }
  const char* TopHelp() const { return layers_.empty() ? "" : layers_.back()->Help(); }

 private:
  void Redraw();
  KeyEvent Read(MEVENT* mouse);

  KeyCodes codes_;
  std::vector<Layer*> layers_;
  int cursorRow_ = -1;
  int cursorCol_ = -1;
  int failedReads_ = 0;
  bool lost_ = false;
};

}  // namespace terminal
}  // namespace config_ui

#endif  // PELLUMIN_CONFIG_UI_TERMINAL_SCREEN_H_
