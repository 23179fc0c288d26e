// terminal_window.cpp -- a window's controls: their state as the platform's
// controls keep it, focus, keys, clicks and drawing.
#include "terminal_window.h"

#include <algorithm>

namespace config_ui {
namespace terminal {

TerminalWindow::TerminalWindow(Session& session, WindowLogic& logic)
    : session_(session), logic_(logic) {
  const WindowTemplate& t = logic.Template();
  controls_.resize(t.controlCount);
  for (std::size_t i = 0; i < t.controlCount; ++i) {
    Control& c = controls_[i];
    c.tmpl = &t.controls[i];
    c.text = c.tmpl->text;
    c.edit.Reset(c.tmpl->text, false);
    c.enabled = (c.tmpl->style & PL_WS_DISABLED) == 0;
  }
  static const ControlTemplate kMissing = {ControlKind::kText, IDC_STATIC, "", 0, 0, 0, 0, 0};
  missing_.tmpl = &kMissing;
}

TerminalWindow::Control& TerminalWindow::Get(int id) {
  if (id != IDC_STATIC) {
    for (Control& c : controls_) {
      if (c.tmpl->id == id) return c;
    }
  }
  missing_ = Control();
  static const ControlTemplate kMissing = {ControlKind::kText, IDC_STATIC, "", 0, 0, 0, 0, 0};
  missing_.tmpl = &kMissing;
  return missing_;
}

TerminalWindow::Item* TerminalWindow::ItemAt(int id, int index) { return Get(id).list.At(index); }

std::string TerminalWindow::GetText(int id) {
  Control& c = Get(id);
  return c.tmpl->kind == ControlKind::kEdit ? c.edit.text() : c.text;
}

void TerminalWindow::SetText(int id, const std::string& text) {
  Control& c = Get(id);
  c.text = text;
  c.edit.Reset(text, false);
}

void TerminalWindow::LimitText(int id, int characters) {
  Get(id).edit.SetLimit(characters > 0 ? static_cast<std::size_t>(characters) : 0);
}

void TerminalWindow::FocusAndSelectAll(int id) {
  Control& c = Get(id);
  if (c.tmpl->kind == ControlKind::kEdit) c.edit.SelectAll();
  if (!c.enabled) return;
  for (std::size_t i = 0; i < controls_.size(); ++i) {
    if (&controls_[i] == &c) focus_ = static_cast<int>(i);
  }
}

int TerminalWindow::GetCheck(int id) { return Get(id).check; }

void TerminalWindow::SetCheck(int id, int state) {
  Control& c = Get(id);
  const bool twoState = c.tmpl->kind == ControlKind::kCheck || c.tmpl->kind == ControlKind::kRadio;
  // A two-state box shows and reports 2 (and anything above) as ticked.
  c.check = twoState && state > 1 ? 1 : state;
}

void TerminalWindow::Enable(int id, bool enabled) { Get(id).enabled = enabled; }
bool TerminalWindow::IsEnabled(int id) { return Get(id).enabled; }
bool TerminalWindow::HasGlyphs(int id) { return Get(id).glyphs; }
void TerminalWindow::AttachGlyphs(int id) { Get(id).glyphs = true; }

void TerminalWindow::InsertColumn(int id, int column, const std::string& heading) {
  Get(id).list.InsertColumn(column, heading);
}

void TerminalWindow::SetColumnWidth(int id, int column, int width) {
  std::vector<int>& widths = Get(id).list.widths;
  if (column >= 0 && static_cast<std::size_t>(column) < widths.size()) {
    widths[static_cast<std::size_t>(column)] = width;
  }
}

// One character, one cell.
int TerminalWindow::TextWidth(int, const std::string& text) { return static_cast<int>(text.size()); }

int TerminalWindow::InsertItem(int id, int position, const std::string& text, int glyph) {
  Control& c = Get(id);
  return c.list.Insert(position, text, glyph, (c.tmpl->style & PL_LVS_SORTASCENDING) != 0);
}

int TerminalWindow::ItemCount(int id) { return static_cast<int>(Get(id).list.items.size()); }

std::string TerminalWindow::GetItemText(int id, int index, int column) {
  Item* i = ItemAt(id, index);
  if (i == nullptr || column < 0 || static_cast<std::size_t>(column) >= i->texts.size()) return "";
  return i->texts[static_cast<std::size_t>(column)];
}

void TerminalWindow::SetItemText(int id, int index, int column, const std::string& text) {
  Item* i = ItemAt(id, index);
  if (i == nullptr || column < 0) return;
  if (static_cast<std::size_t>(column) >= i->texts.size()) i->texts.resize(column + 1);
  i->texts[static_cast<std::size_t>(column)] = text;
}

int TerminalWindow::GetItemGlyph(int id, int index) {
  Item* i = ItemAt(id, index);
  return i != nullptr ? i->glyph : -1;
}

void TerminalWindow::SetItemGlyph(int id, int index, int glyph) {
  if (Item* i = ItemAt(id, index)) i->glyph = glyph;
}

int TerminalWindow::FirstSelectedItem(int id) { return Get(id).list.FirstSelected(); }

void TerminalWindow::ShowMessage(const std::string& text, MessageIcon icon) {
  session_.RunMessage(text, icon);
}

void TerminalWindow::RunDialog(WindowLogic& dialog) { session_.RunDialog(dialog); }

// --- Focus ---------------------------------------------------------------------

bool TerminalWindow::Focusable(std::size_t index) const {
  const Control& c = controls_[index];
  if (!c.enabled) return false;
  switch (c.tmpl->kind) {
    case ControlKind::kEdit:
    case ControlKind::kCheck:
    case ControlKind::kButton:
    case ControlKind::kDefButton:
    case ControlKind::kList:
      return (c.tmpl->style & PL_WS_TABSTOP) != 0;
    case ControlKind::kRadio:
      // Radio buttons have no tab stop in the templates; a mouse reaches
      // them on Windows, and Tab stops at them here, so that they can be
      // reached without one.
      return true;
    default:
      return false;
  }
}

void TerminalWindow::FocusIndex(int index, bool byTab) {
  focus_ = index;
  Control& c = controls_[static_cast<std::size_t>(index)];
  // Tabbing into an edit selects its whole text, as a dialog does.
  if (byTab && c.tmpl->kind == ControlKind::kEdit) c.edit.SelectAll();
  if (c.tmpl->kind == ControlKind::kList && !c.list.items.empty()) {
    c.caret = std::clamp(c.caret, 0, static_cast<int>(c.list.items.size()) - 1);
  }
}

bool TerminalWindow::MoveFocus(bool forward, bool wrap) {
  EndRename(true);
  const int n = static_cast<int>(controls_.size());
  int i = focus_;
  for (int step = 0; step < n; ++step) {
    i += forward ? 1 : -1;
    if (i >= n || i < 0) {
      if (!wrap) {
        focus_ = -1;
        return false;
      }
      i = forward ? 0 : n - 1;
    }
    if (Focusable(static_cast<std::size_t>(i))) {
      FocusIndex(i, true);
      return true;
    }
  }
  if (!wrap) focus_ = -1;
  return false;
}

bool TerminalWindow::FocusEdge(bool first) {
  EndRename(true);
  focus_ = first ? -1 : static_cast<int>(controls_.size());
  return MoveFocus(first, false);
}

// --- Keys and clicks --------------------------------------------------------------

void TerminalWindow::Toggle(Control& c) {
  if (c.tmpl->kind == ControlKind::kCheck) {
    c.check = c.check == 1 ? 0 : 1;
  } else if (c.tmpl->kind == ControlKind::kRadio) {
    for (Control& other : controls_) {
      if (other.tmpl->kind == ControlKind::kRadio) other.check = 0;
    }
    c.check = 1;
  }
  // The box has changed before the logic hears of the click.
  logic_.OnCommand(c.tmpl->id);
}

void TerminalWindow::Press(int id) {
  Control& c = Get(id);
  if (!c.enabled) return;
  if (id == IDOK_BUTTON && c.tmpl->kind == ControlKind::kDefButton) {
    if (logic_.OnDialogOk()) closed_ = true;
  } else if (id == IDCANCEL_BUTTON) {
    closed_ = true;
  } else {
    logic_.OnCommand(id);
  }
}

int TerminalWindow::VisibleItems(const Control& c) const {
  if (c.tmpl->style & PL_LVS_REPORT) return std::max(1, c.itemArea.height);
  return std::max(1, c.itemArea.height * std::max(1, c.itemColumns));
}

void TerminalWindow::MoveCaret(Control& c, int to, bool extend) {
  const int n = static_cast<int>(c.list.items.size());
  if (n == 0) return;
  c.caret = std::clamp(to, 0, n - 1);
  if (!extend) c.anchor = c.caret;
  const int low = std::min(c.anchor, c.caret);
  const int high = std::max(c.anchor, c.caret);
  for (int i = 0; i < n; ++i) c.list.items[static_cast<std::size_t>(i)].selected = i >= low && i <= high;
}

void TerminalWindow::ClickItem(Control& c, int index) {
  // The selection moves to the clicked item (or, on empty space, goes)
  // before the list's click is reported.
  for (Item& i : c.list.items) i.selected = false;
  if (index >= 0) {
    c.caret = c.anchor = index;
    c.list.items[static_cast<std::size_t>(index)].selected = true;
  }
  logic_.OnListClick(c.tmpl->id);
}

void TerminalWindow::BeginRename(Control& c) {
  if (!(c.tmpl->style & PL_LVS_EDITLABELS) || c.list.items.empty()) return;
  MoveCaret(c, c.caret, false);
  if (!logic_.OnBeginLabelEdit(c.tmpl->id, c.caret)) return;
  renameItem_ = c.caret;
  rename_.Reset(c.list.items[static_cast<std::size_t>(c.caret)].texts[0], true);
}

void TerminalWindow::EndRename(bool commit) {
  if (renameItem_ < 0 || focus_ < 0 || focus_ >= static_cast<int>(controls_.size())) {
    renameItem_ = -1;
    return;
  }
  const int item = renameItem_;
  renameItem_ = -1;
  const int id = controls_[static_cast<std::size_t>(focus_)].tmpl->id;
  // A cancelled edit is not reported; a kept one is the logic's to accept.
  if (commit && logic_.OnEndLabelEdit(id, item, rename_.text())) {
    SetItemText(id, item, 0, rename_.text());
  }
}

bool TerminalWindow::ListKey(Control& c, const KeyEvent& key) {
  const int page = std::max(1, VisibleItems(c) - 1);
  switch (key.action) {
    case Action::kUp: MoveCaret(c, c.caret - 1, false); return true;
    case Action::kDown: MoveCaret(c, c.caret + 1, false); return true;
    case Action::kExtendUp: MoveCaret(c, c.caret - 1, true); return true;
    case Action::kExtendDown: MoveCaret(c, c.caret + 1, true); return true;
    case Action::kPageUp: MoveCaret(c, c.caret - page, false); return true;
    case Action::kPageDown: MoveCaret(c, c.caret + page, false); return true;
    case Action::kHome: MoveCaret(c, 0, false); return true;
    case Action::kEnd: MoveCaret(c, static_cast<int>(c.list.items.size()) - 1, false); return true;
    case Action::kSpace:
      // The terminal's click: on the selection if there is one, else on
      // the focused item.
      if (FirstSelectedItem(c.tmpl->id) < 0 && !c.list.items.empty()) MoveCaret(c, c.caret, false);
      logic_.OnListClick(c.tmpl->id);
      return true;
    case Action::kRename:
      BeginRename(c);
      return true;
    default:
      return false;
  }
}

bool TerminalWindow::Key(const KeyEvent& key) {
  if (focus_ < 0) return false;
  Control& c = controls_[static_cast<std::size_t>(focus_)];
  if (renameItem_ >= 0) {
    if (key.action == Action::kEnter || key.action == Action::kEscape) {
      EndRename(key.action == Action::kEnter);
      return true;
    }
    if (key.action == Action::kNextControl || key.action == Action::kPrevControl) {
      EndRename(true);  // leaving the edit keeps it
      return false;
    }
    rename_.Handle(key);
    return true;
  }
  if (!c.enabled) return false;
  switch (c.tmpl->kind) {
    case ControlKind::kEdit:
      return c.edit.Handle(key);
    case ControlKind::kCheck:
    case ControlKind::kRadio:
      if (key.action != Action::kSpace) return false;
      Toggle(c);
      return true;
    case ControlKind::kButton:
    case ControlKind::kDefButton:
      if (key.action != Action::kSpace && key.action != Action::kEnter) return false;
      Press(c.tmpl->id);
      return true;
    case ControlKind::kList:
      return ListKey(c, key);
    default:
      return false;
  }
}

bool TerminalWindow::Click(int row, int col) {
  EndRename(true);
  for (std::size_t i = 0; i < controls_.size(); ++i) {
    Control& c = controls_[i];
    if (!c.cells.Contains(row, col) || c.tmpl->kind == ControlKind::kGroup) continue;
    if (!Focusable(i) && !(c.enabled && c.tmpl->kind == ControlKind::kList)) return false;
    FocusIndex(static_cast<int>(i), false);
    switch (c.tmpl->kind) {
      case ControlKind::kEdit:
        c.edit.ClickAt(col - c.cells.col);
        break;
      case ControlKind::kCheck:
      case ControlKind::kRadio:
        Toggle(c);
        break;
      case ControlKind::kButton:
      case ControlKind::kDefButton:
        Press(c.tmpl->id);
        break;
      case ControlKind::kList: {
        if (!c.itemArea.Contains(row, col)) break;  // the frame or the headings
        int index = -1;
        const int r = row - c.itemArea.row;
        if (c.tmpl->style & PL_LVS_REPORT) {
          index = c.top + r;
        } else if (c.itemWidth > 0) {
          index = c.top + r * c.itemColumns + (col - c.itemArea.col) / c.itemWidth;
        }
        ClickItem(c, index >= 0 && index < static_cast<int>(c.list.items.size()) ? index : -1);
        break;
      }
      default:
        break;
    }
    return true;
  }
  return false;
}

// --- Drawing ------------------------------------------------------------------------

void TerminalWindow::Draw(const CellRect& client, Scale scale, bool top) {
  for (std::size_t i = 0; i < controls_.size(); ++i) {
    Control& c = controls_[i];
    CellRect r = ControlCells(*c.tmpl, scale);
    r.row += client.row;
    r.col += client.col;
    // Nothing paints outside the window.
    r.width = std::min(r.width, client.col + client.width - r.col);
    r.height = std::min(r.height, client.row + client.height - r.row);
    c.cells = r;
    c.paint = std::min(PaintedCells(tmpl(), i, scale).width, client.col + client.width - r.col);
    if (r.width <= 0 || r.height <= 0) continue;
    DrawControl(c, client, static_cast<int>(i) == focus_, top);
  }
}

void TerminalWindow::DrawControl(Control& c, const CellRect& client, bool focused, bool top) {
  const CellRect& r = c.cells;
  const int room = c.paint;  // texts may run past their rectangle
  const attr_t dim = c.enabled ? A_NORMAL : A_DIM;
  switch (c.tmpl->kind) {
    case ControlKind::kText:
      Put(r.row, r.col, c.text, room);
      break;
    case ControlKind::kEdit: {
      PutChar(r.row, r.col - 1, '[');
      PutChar(r.row, r.col + r.width, ']');
      c.edit.Scroll(r.width);
      const std::string shown = c.edit.text().substr(std::min(c.edit.first(), c.edit.text().size()));
      Fill(r.row, r.col, r.width, ' ', dim);
      attr_t attr = dim;
      if (focused && c.edit.selectedAll()) attr |= A_REVERSE;
      Put(r.row, r.col, shown, r.width, attr);
      if (focused && top) {
        session_.SetCursor(r.row, r.col + static_cast<int>(c.edit.caret() - c.edit.first()));
      }
      break;
    }
    case ControlKind::kCheck:
    case ControlKind::kRadio: {
      const bool radio = c.tmpl->kind == ControlKind::kRadio;
      std::string mark = radio ? (c.check ? "(*)" : "( )") : (c.check ? "[x]" : "[ ]");
      Put(r.row, r.col, mark + " ", room, dim);
      Put(r.row, r.col + 4, c.text, room - 4, dim | (focused ? A_REVERSE : A_NORMAL));
      if (focused && top) session_.SetCursor(r.row, r.col + 1);
      break;
    }
    case ControlKind::kButton:
    case ControlKind::kDefButton: {
      attr_t attr = dim;
      if (c.tmpl->kind == ControlKind::kDefButton) attr |= A_BOLD;
      if (focused) attr |= A_REVERSE;
      Put(r.row, r.col, ButtonFace(c.text, r.width), r.width, attr);
      if (focused && top) session_.SetCursor(r.row, r.col + 1);
      break;
    }
    case ControlKind::kGroup:
      Frame(r, c.text);
      break;
    case ControlKind::kRect: {
      const bool black = (c.tmpl->style & 0xF) == PL_SS_BLACKRECT;
      if (black) {
        Fill(r.row, r.col, r.width, ACS_CKBOARD);
      } else {
        Fill(r.row, r.col, r.width, ' ');
        PutChar(r.row, r.col, '[');
        PutChar(r.row, r.col + r.width - 1, ']');
      }
      break;
    }
    case ControlKind::kList:
      DrawList(c, client, focused, top);
      break;
  }
}

namespace {

using Control = TerminalWindow::Control;

// Cells a list's glyph takes before an item's text ("[x] ").
int GlyphCells(const Control& c) { return c.glyphs ? 4 : 0; }

// Frames a list that has a border and room for one; the cells inside.
CellRect DrawListFrame(const Control& c) {
  CellRect inner = c.cells;
  if ((c.tmpl->style & PL_WS_BORDER) && inner.height >= 3 && inner.width >= 3) {
    Frame(inner, "");
    inner = {inner.row + 1, inner.col + 1, inner.height - 2, inner.width - 2};
  }
  return inner;
}

// Where each column of a report view starts, and how wide it is.
struct ListColumns {
  std::vector<int> starts;
  std::vector<int> widths;
};

// Report view: the headings on the first row, then one item a row. Column
// 0 is the glyph and the name column; a width of kColumnFillRemainder (or
// of a last column) takes what is left.
ListColumns DrawListHeadings(Control& c, const CellRect& inner) {
  ListColumns columns;
  int col = inner.col;
  for (std::size_t k = 0; k < c.list.headings.size(); ++k) {
    int w = c.list.widths[k] > 0 ? c.list.widths[k] : static_cast<int>(c.list.headings[k].size());
    if (k == 0) w += GlyphCells(c);
    if (c.list.widths[k] == kColumnFillRemainder || k + 1 == c.list.headings.size()) {
      w = inner.col + inner.width - col;
    }
    w = std::max(0, std::min(w, inner.col + inner.width - col));
    columns.starts.push_back(col);
    columns.widths.push_back(w);
    if (w > 0) Put(inner.row, col, c.list.headings[k], w - 1, A_BOLD | A_UNDERLINE);
    col += w;
  }
  c.itemArea = {inner.row + 1, inner.col, inner.height - 1, inner.width};
  c.itemColumns = 1;
  c.itemWidth = inner.width;
  return columns;
}

// Small-icon view: the items in rows, left to right, each as wide as the
// longest.
void LayOutListIcons(Control& c, const CellRect& inner) {
  int longest = 1;
  for (const ListItem& i : c.list.items) longest = std::max(longest, static_cast<int>(i.texts[0].size()));
  c.itemWidth = std::min(inner.width, longest + GlyphCells(c) + 2);
  c.itemColumns = std::max(1, inner.width / std::max(1, c.itemWidth));
  c.itemArea = inner;
}

// Moves the first item shown, a row of step items at a time, until the
// focused item is among the visible ones.
void ScrollListToCaret(Control& c, int visible, int step) {
  const int n = static_cast<int>(c.list.items.size());
  if (c.caret < c.top) c.top = c.caret - c.caret % step;
  while (c.caret >= c.top + visible) c.top += step;
  c.top = std::max(0, std::min(c.top, std::max(0, n - 1)));
}

// Marks on the frame where more items lie above or below.
void DrawListMarks(const Control& c, int visible) {
  if (c.cells.height < 3 || !(c.tmpl->style & PL_WS_BORDER)) return;
  const int right = c.cells.col + c.cells.width - 1;
  if (c.top > 0) PutChar(c.itemArea.row, right, ACS_UARROW);
  if (c.top + visible < static_cast<int>(c.list.items.size())) {
    PutChar(c.itemArea.row + c.itemArea.height - 1, right, ACS_DARROW);
  }
}

}  // namespace

void TerminalWindow::DrawList(Control& c, const CellRect&, bool focused, bool top) {
  const CellRect inner = DrawListFrame(c);
  const bool report = (c.tmpl->style & PL_LVS_REPORT) != 0;
  ListColumns columns;
  if (report) {
    columns = DrawListHeadings(c, inner);
  } else {
    LayOutListIcons(c, inner);
  }
  const int visible = VisibleItems(c);
  ScrollListToCaret(c, visible, report ? 1 : c.itemColumns);
  const int n = static_cast<int>(c.list.items.size());
  for (int i = c.top; i < n && i < c.top + visible; ++i) {
    DrawListItem(c, i, inner, report ? &columns.starts : nullptr,
                 report ? &columns.widths : nullptr, focused, top);
  }
  DrawListMarks(c, visible);
  if (focused && top && n == 0) session_.SetCursor(c.itemArea.row, c.itemArea.col);
}

// Item i of a list at its slot: its glyph, its texts (in a report view,
// starts and widths give the columns; else they are null), or the in-place
// rename editor.
void TerminalWindow::DrawListItem(Control& c, int i, const CellRect& inner,
                                  const std::vector<int>* starts, const std::vector<int>* widths,
                                  bool focused, bool top) {
  const bool report = widths != nullptr;
  const int glyphCells = GlyphCells(c);
  Item& item = c.list.items[static_cast<std::size_t>(i)];
  const int slot = i - c.top;
  const int row = c.itemArea.row + (report ? slot : slot / c.itemColumns);
  const int col = c.itemArea.col + (report ? 0 : (slot % c.itemColumns) * c.itemWidth);
  attr_t attr = A_NORMAL;
  if (focused && item.selected) attr = A_REVERSE;
  else if (focused && i == c.caret) attr = A_UNDERLINE;
  if (c.glyphs) Put(row, col, item.glyph == 0 ? "[ ]" : item.glyph == 1 ? "[x]" : "   ", 3);
  const int textCol = col + glyphCells;
  const int firstWidth = (report ? widths->empty() ? inner.width : (*widths)[0] : c.itemWidth) - glyphCells;
  if (i == renameItem_ && focused) {
    // The in-place edit runs to the list's right edge.
    const int w = inner.col + inner.width - textCol;
    rename_.Scroll(w);
    Fill(row, textCol, w, ' ', A_UNDERLINE);
    Put(row, textCol, rename_.text().substr(rename_.first()), w,
        A_UNDERLINE | (rename_.selectedAll() ? A_REVERSE : A_NORMAL));
    if (top) session_.SetCursor(row, textCol + static_cast<int>(rename_.caret() - rename_.first()));
    return;
  }
  Put(row, textCol, item.texts[0], std::max(0, firstWidth - 1), attr);
  for (std::size_t k = 1; report && k < widths->size() && k < item.texts.size(); ++k) {
    Put(row, (*starts)[k], item.texts[k], std::max(0, (*widths)[k] - 1));
  }
  if (focused && top && i == c.caret) session_.SetCursor(row, col + (c.glyphs ? 1 : 0));
}

}  // namespace terminal
}  // namespace config_ui
