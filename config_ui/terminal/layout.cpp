// layout.cpp -- scaling dialog units to cells, and the sheet's rows.
#include "layout.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace config_ui {
namespace terminal {
namespace {

constexpr int kPageWidth = 230;   // every page template measures 230 x 150
constexpr int kPageHeight = 150;
// Rows round the page: caption, tabs, frame top / frame bottom, buttons, help.
constexpr int kRowsAbovePage = 3;
constexpr int kRowsBelowPage = 3;

// Nearest cell; the small bias keeps exact halves from flipping with the
// rounding of the scale itself.
int Cells(double units, double scale) { return static_cast<int>(std::floor(units * scale + 0.5 + 1e-9)); }
int CellOf(double units, double scale) { return static_cast<int>(std::floor(units * scale + 1e-9)); }

bool IsOneRow(ControlKind kind) { return kind != ControlKind::kList && kind != ControlKind::kGroup; }

}  // namespace

Scale FitScale(int width, int height, int cols, int rows) {
  Scale s = kPreferredScale;
  if (width > 0 && cols > 0) s.x = std::min(s.x, static_cast<double>(cols) / width);
  if (height > 0 && rows > 0) s.y = std::min(s.y, static_cast<double>(rows) / height);
  return s;
}

CellRect ControlCells(const ControlTemplate& c, Scale scale) {
  CellRect r;
  r.col = Cells(c.x, scale.x);
  r.width = std::max(1, Cells(c.x + c.width, scale.x) - r.col);
  if (IsOneRow(c.kind)) {
    r.row = CellOf(c.y + c.height / 2.0, scale.y);
    r.height = 1;
  } else {
    r.row = Cells(c.y, scale.y);
    r.height = std::max(2, Cells(c.y + c.height, scale.y) - r.row);
  }
  return r;
}

CellRect PaintedCells(const WindowTemplate& window, std::size_t index, Scale scale) {
  const ControlTemplate& c = window.controls[index];
  CellRect r = ControlCells(c, scale);
  const int text = static_cast<int>(std::strlen(c.text));
  switch (c.kind) {
    case ControlKind::kEdit:
      r.col -= 1;
      r.width += 2;
      return r;
    case ControlKind::kCheck:
    case ControlKind::kRadio:
      r.width = 4 + text;
      break;
    case ControlKind::kText:
      r.width = text;
      break;
    default:
      return r;
  }
  for (std::size_t j = 0; j < window.controlCount; ++j) {
    if (j == index) continue;
    const ControlTemplate& other = window.controls[j];
    CellRect o = ControlCells(other, scale);
    if (other.kind == ControlKind::kEdit) o.col -= 1;  // its bracket
    const bool sameRows = o.row <= r.row && r.row < o.row + o.height;
    // A group box only stops a text at its frame line, not from inside.
    const bool inside = other.kind == ControlKind::kGroup && o.col < r.col;
    if (!sameRows) continue;
    if (inside) r.width = std::min(r.width, o.col + o.width - 1 - r.col);
    else if (o.col > r.col) r.width = std::min(r.width, o.col - r.col);
  }
  return r;
}

int SheetColumnsNeeded() { return Cells(kPageWidth, kPreferredScale.x) + 2; }
int SheetRowsNeeded() {
  return static_cast<int>(kPageHeight * kPreferredScale.y) + kRowsAbovePage + kRowsBelowPage;
}

SheetLayout LayoutSheet(int cols, int rows) {
  SheetLayout l;
  l.fits = cols >= SheetColumnsNeeded() && rows >= SheetRowsNeeded();
  l.scale = FitScale(kPageWidth, kPageHeight, cols - 2, rows - kRowsAbovePage - kRowsBelowPage);
  l.page.width = Cells(kPageWidth, l.scale.x);
  l.page.height = std::max(1, CellOf(kPageHeight, l.scale.y));
  l.width = l.page.width + 2;
  l.height = l.page.height + kRowsAbovePage + kRowsBelowPage;
  l.left = std::max(0, (cols - l.width) / 2);
  l.top = std::max(0, (rows - l.height) / 2);
  l.captionRow = l.top;
  l.tabRow = l.top + 1;
  l.page.row = l.top + kRowsAbovePage;  // under the frame's top line
  l.page.col = l.left + 1;
  l.buttonRow = l.page.row + l.page.height + 1;  // under the frame's bottom line
  l.helpRow = l.buttonRow + 1;
  // OK, Cancel and Apply at the right, as the property sheet places them.
  const int buttonWidth = std::clamp(Cells(50, l.scale.x), 8, 12);
  const int gap = 2;
  int col = l.left + l.width - 1 - (3 * buttonWidth + 2 * gap);
  for (CellRect* b : {&l.ok, &l.cancel, &l.apply}) {
    b->row = l.buttonRow;
    b->col = std::max(l.left, col);
    b->height = 1;
    b->width = buttonWidth;
    col += buttonWidth + gap;
  }
  return l;
}

std::string TabStrip(const char* const* captions, int count, int current, int* starts) {
  std::string strip;
  for (int i = 0; i < count; ++i) {
    if (i > 0) strip += ' ';
    if (starts != nullptr) starts[i] = static_cast<int>(strip.size());
    strip += i == current ? '[' : ' ';
    strip += captions[i];
    strip += i == current ? ']' : ' ';
  }
  return strip;
}

BoxLayout CentreBox(int width, int height, int cols, int rows) {
  BoxLayout b;
  b.frame.width = width + 2;
  b.frame.height = height + 2;
  b.frame.col = std::max(0, (cols - b.frame.width) / 2);
  b.frame.row = std::max(0, (rows - b.frame.height) / 2);
  b.client = {b.frame.row + 1, b.frame.col + 1, height, width};
  return b;
}

DialogLayout LayoutDialog(const WindowTemplate& dialog, int cols, int rows) {
  DialogLayout d;
  d.scale = FitScale(dialog.width, dialog.height, cols - 2, rows - 2);
  d.box = CentreBox(Cells(dialog.width, d.scale.x), std::max(1, Cells(dialog.height, d.scale.y)),
                    cols, rows);
  return d;
}

}  // namespace terminal
}  // namespace config_ui
