// layout.h -- where the terminal front end puts windows and controls: dialog
// units scaled to character cells, the sheet's rows (caption, tabs, page,
// buttons, help line) and dialogs centred over it. Pure arithmetic, so that
// it can be checked for every template at every terminal size.
#ifndef PELLUMIN_CONFIG_UI_TERMINAL_LAYOUT_H_
#define PELLUMIN_CONFIG_UI_TERMINAL_LAYOUT_H_

#include <string>

#include "templates.h"

namespace config_ui {
namespace terminal {

// Character cells per dialog unit. A dialog unit is a quarter of the dialog
// font's average character width and an eighth of its height; the terminal
// takes three units a column (a page of 230 units fills 77 of 80 columns)
// and eight a row, and less of both when the screen is smaller.
struct Scale {
  double x;
  double y;
};
constexpr Scale kPreferredScale{1.0 / 3.0, 1.0 / 8.0};

struct CellRect {
  int row = 0;
  int col = 0;
  int height = 0;
  int width = 0;
  bool Contains(int r, int c) const {
    return r >= row && r < row + height && c >= col && c < col + width;
  }
  bool Overlaps(const CellRect& o) const {
    return row < o.row + o.height && o.row < row + height && col < o.col + o.width &&
           o.col < col + width;
  }
};

// The largest scale, no larger than kPreferredScale, at which a window of
// width x height dialog units fits cols x rows cells.
Scale FitScale(int width, int height, int cols, int rows);

// The control's cells relative to its window's client area. Lists and group
// boxes keep their height; every other control is one row, the row its
// vertical centre falls in (so that a radio button, the edit beside it and
// the text after it share one line, as they do on screen in the dialog font).
CellRect ControlCells(const ControlTemplate& control, Scale scale);

// The cells control index of window paints, which are not ControlCells: an
// edit has a bracket either side; a check box or radio button paints its
// mark and its text, a static text its text, each as far as the next
// control to its right on the same row begins (a terminal's characters are
// wider than the dialog font's, so a text can run past its rectangle).
CellRect PaintedCells(const WindowTemplate& window, std::size_t index, Scale scale);

// The sheet on a cols x rows screen: the caption row, the tab row, the frame
// round the page (its top line is the row under the tabs), the button row
// and the help line, centred on the screen.
struct SheetLayout {
  Scale scale{};
  int top = 0, left = 0, width = 0, height = 0;  // the whole sheet
  int captionRow = 0;
  int tabRow = 0;
  CellRect page;  // the page's client area, inside the frame
  int buttonRow = 0;
  CellRect ok, cancel, apply;
  int helpRow = 0;
  bool fits = true;  // false: the screen is smaller than the sheet needs
};
SheetLayout LayoutSheet(int cols, int rows);

// The tab captions as drawn on the tab row: "[General]" for the current tab,
// " Deny " for the others, one space apart; *starts gets each tab's column
// (relative to the row's start) when not null.
std::string TabStrip(const char* const* captions, int count, int current, int* starts);

// A modal window (dialog or message box) of a client area of width x height
// cells, with a frame and the caption in its top line, centred on the
// screen.
struct BoxLayout {
  CellRect frame;
  CellRect client;
};
BoxLayout CentreBox(int width, int height, int cols, int rows);

// A dialog from its template: scaled to fit, then centred.
struct DialogLayout {
  Scale scale{};
  BoxLayout box;
};
DialogLayout LayoutDialog(const WindowTemplate& dialog, int cols, int rows);

// Sizes the sheet needs at kPreferredScale (the 80 x 24 screen has room).
int SheetColumnsNeeded();
int SheetRowsNeeded();

}  // namespace terminal
}  // namespace config_ui

#endif  // PELLUMIN_CONFIG_UI_TERMINAL_LAYOUT_H_
