// terminal_ui.cpp -- the ncurses front end: windows made from the templates,
// the sheet, dialogs and message boxes as a stack of modal layers, each with
// its own key loop (a page's handler that opens a dialog returns when the
// dialog has closed, as on Windows).
#include "terminal_ui.h"

#include <curses.h>
#include <clocale>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "keys.h"
#include "layout.h"
#include "list_items.h"
#include "platform.h"
#include "store.h"
#include "templates.h"

namespace config_ui {
namespace terminal {
namespace {

// --- Drawing on stdscr, clipped to the screen ----------------------------------

// Texts are 8-bit and come from the settings file: a control character is
// never sent to the terminal, and neither is a byte ncurses would take as
// the start of a multibyte character.
chtype Shown(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return u >= 0x20 && u < 0x7f ? u : '?';
}

void Put(int row, int col, const std::string& text, int maxWidth, attr_t attr = A_NORMAL) {
  if (row < 0 || row >= LINES) return;
  for (int i = 0; i < static_cast<int>(text.size()) && i < maxWidth; ++i) {
    const int c = col + i;
    if (c < 0) continue;
    if (c >= COLS) break;
    mvaddch(row, c, Shown(text[static_cast<std::size_t>(i)]) | attr);
  }
}

void Fill(int row, int col, int width, chtype ch, attr_t attr = A_NORMAL) {
  if (row < 0 || row >= LINES) return;
  for (int c = std::max(col, 0); c < col + width && c < COLS; ++c) mvaddch(row, c, ch | attr);
}

void PutChar(int row, int col, chtype ch) {
  if (row >= 0 && row < LINES && col >= 0 && col < COLS) mvaddch(row, col, ch);
}

void Frame(const CellRect& r, const std::string& title, attr_t titleAttr = A_NORMAL) {
  if (r.width < 2 || r.height < 2) return;
  const int bottom = r.row + r.height - 1;
  const int right = r.col + r.width - 1;
  Fill(r.row, r.col + 1, r.width - 2, ACS_HLINE);
  Fill(bottom, r.col + 1, r.width - 2, ACS_HLINE);
  for (int row = r.row + 1; row < bottom; ++row) {
    PutChar(row, r.col, ACS_VLINE);
    PutChar(row, right, ACS_VLINE);
  }
  PutChar(r.row, r.col, ACS_ULCORNER);
  PutChar(r.row, right, ACS_URCORNER);
  PutChar(bottom, r.col, ACS_LLCORNER);
  PutChar(bottom, right, ACS_LRCORNER);
  if (!title.empty()) Put(r.row, r.col + 2, " " + title + " ", r.width - 4, titleAttr);
}

void Clear(const CellRect& r) {
  for (int row = r.row; row < r.row + r.height; ++row) Fill(row, r.col, r.width, ' ');
}

std::string Centred(const std::string& text, int width) {
  if (width <= 0) return std::string();
  std::string out(static_cast<std::size_t>(width), ' ');
  const int n = std::min(static_cast<int>(text.size()), width);
  const int at = (width - n) / 2;
  out.replace(static_cast<std::size_t>(at), static_cast<std::size_t>(n), text, 0,
              static_cast<std::size_t>(n));
  return out;
}

// "[   OK   ]", with the text centred between the brackets.
std::string ButtonFace(const std::string& text, int width) {
  if (width < 3) return text;
  return "[" + Centred(text, width - 2) + "]";
}

int ExtendedKeyCode(const char* capability) {
  char* sequence = tigetstr(const_cast<char*>(capability));
  if (sequence == nullptr || sequence == reinterpret_cast<char*>(-1)) return 0;
  const int code = key_defined(sequence);
  return code > 0 ? code : 0;
}

KeyCodes CursesKeyCodes() {
  KeyCodes k;
  k.backTab = KEY_BTAB;
  k.enter = KEY_ENTER;
  k.backspace = KEY_BACKSPACE;
  k.deleteChar = KEY_DC;
  k.up = KEY_UP;
  k.down = KEY_DOWN;
  k.left = KEY_LEFT;
  k.right = KEY_RIGHT;
  k.pageUp = KEY_PPAGE;
  k.pageDown = KEY_NPAGE;
  k.home = KEY_HOME;
  k.end = KEY_END;
  k.shiftUp = KEY_SR;
  k.shiftDown = KEY_SF;
  k.shiftHome = KEY_SHOME;
  k.shiftEnd = KEY_SEND;
  k.f2 = KEY_F(2);
  k.resize = KEY_RESIZE;
  k.mouse = KEY_MOUSE;
  k.ctrlPageDown = ExtendedKeyCode("kNXT5");
  k.ctrlPageUp = ExtendedKeyCode("kPRV5");
  return k;
}

// --- The modal layers --------------------------------------------------------------

class Session;

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

class Session {
 public:
  Session() : codes_(CursesKeyCodes()) {}
  // Runs layer modally over the layers below it.
  void Run(Layer& layer);
  void RunDialog(WindowLogic& dialog);
  void RunMessage(const std::string& text, MessageIcon icon);
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

// --- A window made from its template ------------------------------------------------

class TerminalWindow final : public Controls {
 public:
  using Item = ListItem;
  struct Control {
    const ControlTemplate* tmpl = nullptr;
    std::string text;  // captions; edits keep theirs in edit
    LineEditor edit;
    int check = 0;
    bool enabled = true;
    bool glyphs = false;
    ListItems list;
    int caret = 0;   // the list's focused item
    int anchor = 0;  // where a Shift-extended selection starts
    int top = 0;     // first item shown
    CellRect cells;  // on screen, as last drawn
    int paint = 0;   // cells its text may take (PaintedCells)
    CellRect itemArea;
    int itemColumns = 1;  // small-icon view: items a row
    int itemWidth = 0;
  };

  TerminalWindow(Session& session, WindowLogic& logic);

  void Draw(const CellRect& client, Scale scale, bool top);
  // The focused control's keys; false when the key is not its business.
  bool Key(const KeyEvent& key);
  // A click in the window; false when it hit no control.
  bool Click(int row, int col);
  // Next or previous control with a tab stop; false (and no focus) when the
  // end is passed without wrap.
  bool MoveFocus(bool forward, bool wrap);
  // The first or last control with a tab stop; false when there is none.
  bool FocusEdge(bool first);
  void DropFocus() {
    EndRename(true);
    focus_ = -1;
  }
  bool HasFocus() const { return focus_ >= 0; }
  // Ends an in-place rename, keeping (commit) or dropping the text.
  void EndRename(bool commit);
  bool renaming() const { return renameItem_ >= 0; }
  // A click on a push button: OK and Cancel of a dialog close it (OK only
  // when the logic agrees); any other goes to the logic.
  void Press(int id);
  bool closed() const { return closed_; }
  void Close() { closed_ = true; }
  const WindowTemplate& tmpl() const { return logic_.Template(); }

  // Controls
  std::string GetText(int id) override;
  void SetText(int id, const std::string& text) override;
  void LimitText(int id, int characters) override;
  void FocusAndSelectAll(int id) override;
  int GetCheck(int id) override;
  void SetCheck(int id, int state) override;
  void Enable(int id, bool enabled) override;
  bool IsEnabled(int id) override;
  bool HasGlyphs(int id) override;
  void AttachGlyphs(int id) override;
  void InsertColumn(int id, int column, const std::string& heading) override;
  void SetColumnWidth(int id, int column, int width) override;
  int TextWidth(int id, const std::string& text) override;
  int InsertItem(int id, int position, const std::string& text, int glyph) override;
  int ItemCount(int id) override;
  std::string GetItemText(int id, int item, int column) override;
  void SetItemText(int id, int item, int column, const std::string& text) override;
  int GetItemGlyph(int id, int item) override;
  void SetItemGlyph(int id, int item, int glyph) override;
  int FirstSelectedItem(int id) override;
  void ShowMessage(const std::string& text, MessageIcon icon) override;
  void RunDialog(WindowLogic& dialog) override;

 private:
  Control& Get(int id);
  Item* ItemAt(int id, int index);
  bool Focusable(std::size_t index) const;
  void FocusIndex(int index, bool byTab);
  void Toggle(Control& c);
  bool ListKey(Control& c, const KeyEvent& key);
  void MoveCaret(Control& c, int to, bool extend);
  void ClickItem(Control& c, int index);
  void BeginRename(Control& c);
  void DrawControl(Control& c, const CellRect& client, bool focused, bool top);
  void DrawList(Control& c, const CellRect& client, bool focused, bool top);
  int VisibleItems(const Control& c) const;

  Session& session_;
  WindowLogic& logic_;
  std::vector<Control> controls_;  // template order
  Control missing_;                // stands for an identifier the template lacks
  int focus_ = -1;
  bool closed_ = false;
  int renameItem_ = -1;
  LineEditor rename_;
};

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

void TerminalWindow::DrawList(Control& c, const CellRect&, bool focused, bool top) {
  CellRect inner = c.cells;
  if ((c.tmpl->style & PL_WS_BORDER) && inner.height >= 3 && inner.width >= 3) {
    Frame(inner, "");
    inner = {inner.row + 1, inner.col + 1, inner.height - 2, inner.width - 2};
  }
  const bool report = (c.tmpl->style & PL_LVS_REPORT) != 0;
  const int n = static_cast<int>(c.list.items.size());
  const int glyphCells = c.glyphs ? 4 : 0;
  // Report view: the headings, then one item a row. Column 0 is the glyph
  // and the name column; a width of kColumnFillRemainder (or of a last
  // column) takes what is left.
  std::vector<int> starts, widths;
  if (report) {
    int col = inner.col;
    for (std::size_t k = 0; k < c.list.headings.size(); ++k) {
      int w = c.list.widths[k] > 0 ? c.list.widths[k] : static_cast<int>(c.list.headings[k].size());
      if (k == 0) w += glyphCells;
      if (c.list.widths[k] == kColumnFillRemainder || k + 1 == c.list.headings.size()) {
        w = inner.col + inner.width - col;
      }
      w = std::max(0, std::min(w, inner.col + inner.width - col));
      starts.push_back(col);
      widths.push_back(w);
      if (w > 0) Put(inner.row, col, c.list.headings[k], w - 1, A_BOLD | A_UNDERLINE);
      col += w;
    }
    c.itemArea = {inner.row + 1, inner.col, inner.height - 1, inner.width};
    c.itemColumns = 1;
    c.itemWidth = inner.width;
  } else {
    // Small-icon view: the items in rows, left to right.
    int longest = 1;
    for (const Item& i : c.list.items) longest = std::max(longest, static_cast<int>(i.texts[0].size()));
    c.itemWidth = std::min(inner.width, longest + glyphCells + 2);
    c.itemColumns = std::max(1, inner.width / std::max(1, c.itemWidth));
    c.itemArea = inner;
  }
  // Keep the focused item in view.
  const int visible = VisibleItems(c);
  const int step = report ? 1 : c.itemColumns;
  if (c.caret < c.top) c.top = c.caret - c.caret % step;
  while (c.caret >= c.top + visible) c.top += step;
  c.top = std::max(0, std::min(c.top, std::max(0, n - 1)));
  for (int i = c.top; i < n && i < c.top + visible; ++i) {
    Item& item = c.list.items[static_cast<std::size_t>(i)];
    const int slot = i - c.top;
    const int row = c.itemArea.row + (report ? slot : slot / c.itemColumns);
    const int col = c.itemArea.col + (report ? 0 : (slot % c.itemColumns) * c.itemWidth);
    attr_t attr = A_NORMAL;
    if (focused && item.selected) attr = A_REVERSE;
    else if (focused && i == c.caret) attr = A_UNDERLINE;
    if (c.glyphs) Put(row, col, item.glyph == 0 ? "[ ]" : item.glyph == 1 ? "[x]" : "   ", 3);
    const int textCol = col + glyphCells;
    const int firstWidth = (report ? widths.empty() ? inner.width : widths[0] : c.itemWidth) - glyphCells;
    if (i == renameItem_ && focused) {
      // The in-place edit runs to the list's right edge.
      const int w = inner.col + inner.width - textCol;
      rename_.Scroll(w);
      Fill(row, textCol, w, ' ', A_UNDERLINE);
      Put(row, textCol, rename_.text().substr(rename_.first()), w,
          A_UNDERLINE | (rename_.selectedAll() ? A_REVERSE : A_NORMAL));
      if (top) session_.SetCursor(row, textCol + static_cast<int>(rename_.caret() - rename_.first()));
      continue;
    }
    Put(row, textCol, item.texts[0], std::max(0, firstWidth - 1), attr);
    for (std::size_t k = 1; report && k < widths.size() && k < item.texts.size(); ++k) {
      Put(row, starts[k], item.texts[k], std::max(0, widths[k] - 1));
    }
    if (focused && top && i == c.caret) session_.SetCursor(row, col + (c.glyphs ? 1 : 0));
  }
  // Marks on the frame where more items lie above or below.
  if (c.cells.height >= 3 && (c.tmpl->style & PL_WS_BORDER)) {
    const int right = c.cells.col + c.cells.width - 1;
    if (c.top > 0) PutChar(c.itemArea.row, right, ACS_UARROW);
    if (c.top + visible < n) PutChar(c.itemArea.row + c.itemArea.height - 1, right, ACS_DARROW);
  }
  if (focused && top && n == 0) session_.SetCursor(c.itemArea.row, c.itemArea.col);
}

// --- Dialogs and message boxes ------------------------------------------------------------

class DialogLayer final : public Layer {
 public:
  DialogLayer(Session& session, WindowLogic& logic) : window_(session, logic) {}
  TerminalWindow& window() { return window_; }

  void Draw(bool top) override {
    const DialogLayout d = LayoutDialog(window_.tmpl(), COLS, LINES);
    Clear(d.box.frame);
    Frame(d.box.frame, window_.tmpl().caption, A_BOLD);
    window_.Draw(d.box.client, d.scale, top);
    box_ = d.box.frame;
  }
  void Key(const KeyEvent& key) override {
    if (window_.Key(key)) return;
    switch (key.action) {
      case Action::kNextControl: window_.MoveFocus(true, true); break;
      case Action::kPrevControl: window_.MoveFocus(false, true); break;
      case Action::kEnter: window_.Press(IDOK_BUTTON); break;  // the default button
      case Action::kEscape: window_.Press(IDCANCEL_BUTTON); break;
      default: break;
    }
  }
  void Click(int row, int col) override {
    if (box_.Contains(row, col)) window_.Click(row, col);
  }
  void Abandon() override { window_.Close(); }
  bool done() const override { return window_.closed(); }
  const char* Help() const override { return window_.renaming() ? RenameHelp() : DialogHelp(); }

 private:
  TerminalWindow window_;
  CellRect box_;
};

class MessageLayer final : public Layer {
 public:
  MessageLayer(Session& session, const std::string& text, MessageIcon icon)
      : session_(session), icon_(icon) {
    std::size_t start = 0;
    while (true) {
      const std::size_t nl = text.find('\n', start);
      lines_.push_back(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
      if (nl == std::string::npos) break;
      start = nl + 1;
    }
  }
  void Draw(bool top) override {
    const int iconCells = icon_ == MessageIcon::kWarning ? 4 : 0;
    int width = static_cast<int>(MessageCaption().size()) + 4;
    for (const std::string& l : lines_) width = std::max(width, static_cast<int>(l.size()) + iconCells + 4);
    width = std::max(width, 12);
    const int height = static_cast<int>(lines_.size()) + 4;
    const BoxLayout b = CentreBox(std::min(width, COLS - 2), height, COLS, LINES);
    Clear(b.frame);
    Frame(b.frame, MessageCaption(), A_BOLD);
    if (iconCells > 0) Put(b.client.row + 1, b.client.col + 2, "/!\\", 3, A_BOLD);
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      Put(b.client.row + 1 + static_cast<int>(i), b.client.col + 2 + iconCells, lines_[i],
          b.client.width - 2 - iconCells);
    }
    ok_ = {b.client.row + b.client.height - 2, b.client.col + (b.client.width - 8) / 2, 1, 8};
    Put(ok_.row, ok_.col, ButtonFace("OK", ok_.width), ok_.width, A_BOLD | A_REVERSE);
    if (top) session_.SetCursor(ok_.row, ok_.col + 1);
  }
  void Key(const KeyEvent& key) override {
    if (key.action == Action::kEnter || key.action == Action::kSpace ||
        key.action == Action::kEscape) {
      done_ = true;
    }
  }
  void Click(int row, int col) override {
    if (ok_.Contains(row, col)) done_ = true;
  }
  void Abandon() override { done_ = true; }
  bool done() const override { return done_; }
  const char* Help() const override { return MessageHelp(); }

 private:
  Session& session_;
  MessageIcon icon_;
  std::vector<std::string> lines_;
  CellRect ok_;
  bool done_ = false;
};

void Session::RunDialog(WindowLogic& dialog) {
  DialogLayer layer(*this, dialog);
  dialog.OnCreate(layer.window());
  // A dialog opens with the focus on its first control with a tab stop.
  if (!layer.window().HasFocus()) layer.window().FocusEdge(true);
  Run(layer);
  dialog.OnDestroy();
}

void Session::RunMessage(const std::string& text, MessageIcon icon) {
  beep();
  MessageLayer layer(*this, text, icon);
  Run(layer);
}

void Session::Redraw() {
  cursorRow_ = cursorCol_ = -1;
  erase();
  for (std::size_t i = 0; i < layers_.size(); ++i) layers_[i]->Draw(i + 1 == layers_.size());
  if (cursorRow_ >= 0 && cursorRow_ < LINES && cursorCol_ >= 0 && cursorCol_ < COLS) {
    move(cursorRow_, cursorCol_);
    curs_set(1);
  } else {
    curs_set(0);
  }
  refresh();
}

KeyEvent Session::Read(MEVENT* mouse) {
  const int key = getch();
  if (key == ERR) {
    // A blocking read fails only when the terminal has gone (the SSH
    // session closed): after a few, give up as Cancel would.
    if (++failedReads_ >= 50) lost_ = true;
    return {};
  }
  failedReads_ = 0;
  int following = -1;
  if (key == 27) {
    // A lone Esc, or Alt-key (Esc, then the key at once); ncurses has
    // already waited ESCDELAY for a sequence it knows.
    nodelay(stdscr, TRUE);
    following = getch();
    if (following != ERR && !(following >= '1' && following <= '4')) {
      // A sequence this terminal description does not know: drop it all
      // rather than take its Esc for Cancel.
      while (getch() != ERR) {
      }
      nodelay(stdscr, FALSE);
      return {};
    }
    nodelay(stdscr, FALSE);
  }
  KeyEvent event = MapKey(key, following == ERR ? -1 : following, codes_);
  if (event.action == Action::kMouse && getmouse(mouse) != OK) return {};
  return event;
}

void Session::Run(Layer& layer) {
  layers_.push_back(&layer);
  while (!layer.done()) {
    if (lost_) {
      layer.Abandon();
      break;
    }
    Redraw();
    MEVENT mouse{};
    const KeyEvent key = Read(&mouse);
    switch (key.action) {
      case Action::kNone:
      case Action::kResize:  // the next Redraw lays everything out afresh
        break;
      case Action::kMouse:
        if (mouse.bstate & (BUTTON1_PRESSED | BUTTON1_CLICKED)) layer.Click(mouse.y, mouse.x);
        break;
      default:
        layer.Key(key);
        break;
    }
  }
  layers_.pop_back();
}

// --- The sheet --------------------------------------------------------------------------

class SheetLayer final : public Layer {
 public:
  SheetLayer(Session& session, CPelluminSheet& sheet)
      : session_(session), sheet_(sheet), driver_(sheet, &SheetLayer::CreatePage, this) {}

  void Start() {
    driver_.Start();
    FocusPage();
  }
  void DestroyPages() {
    for (int i = 0; i < CPelluminSheet::kPageCount; ++i) {
      if (windows_[i]) sheet_.Page(i).OnDestroy();
    }
  }

  void Draw(bool top) override;
  void Key(const KeyEvent& key) override;
  void Click(int row, int col) override;
  void Abandon() override { PressCancel(); }
  bool done() const override { return done_; }
  const char* Help() const override { return Current().renaming() ? RenameHelp() : SheetHelp(); }

 private:
  static Controls& CreatePage(void* context, int index, PropertyPage& page) {
    auto* self = static_cast<SheetLayer*>(context);
    self->windows_[index].reset(new TerminalWindow(self->session_, page));
    return *self->windows_[index];
  }
  TerminalWindow& Current() const { return *windows_[driver_.current()]; }
  void FocusPage() {
    buttonFocus_ = Current().FocusEdge(true) ? -1 : kOk;
  }
  void SelectTab(int index) {
    if (index == driver_.current()) return;
    Current().EndRename(true);
    Current().DropFocus();
    driver_.Select(index);
    FocusPage();
  }
  void PressOk() {
    Current().EndRename(true);
    driver_.PressOk();
    done_ = true;
  }
  void PressCancel() {
    Current().EndRename(false);
    driver_.PressCancel();
    done_ = true;
  }
  void PressButton(int button) {
    if (button == kOk) PressOk();
    if (button == kCancel) PressCancel();  // Apply is disabled: nothing
  }
  void MoveFocus(bool forward);

  static constexpr int kOk = 0, kCancel = 1, kApply = 2;
  Session& session_;
  CPelluminSheet& sheet_;
  SheetDriver driver_;
  std::unique_ptr<TerminalWindow> windows_[CPelluminSheet::kPageCount];
  int buttonFocus_ = -1;  // the focus is on OK or Cancel, not in the page
  bool done_ = false;
  SheetLayout layout_;
  int tabStarts_[CPelluminSheet::kPageCount] = {};
  int tabWidths_[CPelluminSheet::kPageCount] = {};
};

void SheetLayer::MoveFocus(bool forward) {
  TerminalWindow& page = Current();
  if (buttonFocus_ < 0) {
    // Through the page's controls, then OK and Cancel (Apply is disabled).
    if (!page.MoveFocus(forward, false)) buttonFocus_ = forward ? kOk : kCancel;
    return;
  }
  if (forward && buttonFocus_ == kOk) {
    buttonFocus_ = kCancel;
  } else if (!forward && buttonFocus_ == kCancel) {
    buttonFocus_ = kOk;
  } else {
    buttonFocus_ = page.FocusEdge(forward) ? -1 : (forward ? kOk : kCancel);
  }
}

void SheetLayer::Draw(bool top) {
  layout_ = LayoutSheet(COLS, LINES);
  const SheetLayout& l = layout_;
  // Caption bar.
  Fill(l.captionRow, l.left, l.width, ' ', A_REVERSE);
  Put(l.captionRow, l.left + 1, sheet_.Caption(), l.width - 2, A_REVERSE | A_BOLD);
  // Tabs, the current one marked.
  const char* captions[CPelluminSheet::kPageCount];
  for (int i = 0; i < CPelluminSheet::kPageCount; ++i) captions[i] = sheet_.Page(i).Template().caption;
  const std::string strip = TabStrip(captions, CPelluminSheet::kPageCount, driver_.current(), tabStarts_);
  for (int i = 0; i < CPelluminSheet::kPageCount; ++i) {
    tabWidths_[i] = static_cast<int>(std::strlen(captions[i])) + 2;
    const attr_t attr = i == driver_.current() ? A_BOLD | A_REVERSE : A_NORMAL;
    Put(l.tabRow, l.left + 1 + tabStarts_[i], strip.substr(static_cast<std::size_t>(tabStarts_[i]),
                                                          static_cast<std::size_t>(tabWidths_[i])),
        l.width - 2 - tabStarts_[i], attr);
  }
  // The frame round the page, and the page.
  Frame({l.page.row - 1, l.page.col - 1, l.page.height + 2, l.page.width + 2}, "");
  Current().Draw(l.page, l.scale, top && buttonFocus_ < 0);
  // OK, Cancel and a disabled Apply.
  const CellRect* rects[] = {&l.ok, &l.cancel, &l.apply};
  const char* names[] = {"OK", "Cancel", "Apply"};
  for (int b = 0; b < 3; ++b) {
    attr_t attr = b == kApply ? A_DIM : (b == kOk ? A_BOLD : A_NORMAL);
    if (b == buttonFocus_) attr |= A_REVERSE;
    Put(rects[b]->row, rects[b]->col, ButtonFace(names[b], rects[b]->width), rects[b]->width, attr);
  }
  if (top && buttonFocus_ >= 0) session_.SetCursor(rects[buttonFocus_]->row, rects[buttonFocus_]->col + 1);
  // The help line of whatever has the keyboard.
  const std::string help = l.fits ? session_.TopHelp()
                                  : "Enlarge the terminal to " + std::to_string(SheetColumnsNeeded()) +
                                        "x" + std::to_string(SheetRowsNeeded()) + " to see the whole sheet";
  Put(l.helpRow, l.left, help, std::min(COLS, l.width));
}

void SheetLayer::Key(const KeyEvent& key) {
  switch (key.action) {
    case Action::kNextTab:
      SelectTab((driver_.current() + 1) % CPelluminSheet::kPageCount);
      return;
    case Action::kPrevTab:
      SelectTab((driver_.current() + CPelluminSheet::kPageCount - 1) % CPelluminSheet::kPageCount);
      return;
    case Action::kSelectTab:
      SelectTab(key.value);
      return;
    default:
      break;
  }
  if (buttonFocus_ >= 0) {
    if (key.action == Action::kSpace || key.action == Action::kEnter) {
      PressButton(buttonFocus_);
      return;
    }
  } else if (Current().Key(key)) {
    return;
  }
  switch (key.action) {
    case Action::kNextControl: MoveFocus(true); break;
    case Action::kPrevControl: MoveFocus(false); break;
    case Action::kEnter: PressOk(); break;
    case Action::kEscape: PressCancel(); break;
    default: break;
  }
}

void SheetLayer::Click(int row, int col) {
  const SheetLayout& l = layout_;
  if (row == l.tabRow) {
    for (int i = 0; i < CPelluminSheet::kPageCount; ++i) {
      const int start = l.left + 1 + tabStarts_[i];
      if (col >= start && col < start + tabWidths_[i]) SelectTab(i);
    }
    return;
  }
  const CellRect* rects[] = {&l.ok, &l.cancel};
  for (int b = 0; b < 2; ++b) {
    if (rects[b]->Contains(row, col)) {
      Current().EndRename(true);
      Current().DropFocus();
      buttonFocus_ = b;
      PressButton(b);
      return;
    }
  }
  if (l.page.Contains(row, col) && Current().Click(row, col)) buttonFocus_ = -1;
}

// --- Terminal set-up ----------------------------------------------------------------------

// The short wait after an Esc for the rest of a key's sequence.
constexpr int kEscapeDelayMs = 50;

}  // namespace

bool TerminalSheet::Open(std::string* why) {
  const char* term = std::getenv("TERM");
  if (term == nullptr || *term == '\0') {
    *why = "TERM is not set";
    return false;
  }
  if (!TerminalDescriptionExists(term)) {
    *why = std::string("no terminal description for TERM=") + term;
    return false;
  }
  // ncurses draws lines and boxes in the terminal's own character set,
  // which it learns from the locale; the host's is put back on Close.
  const char* hostLocale = std::setlocale(LC_CTYPE, nullptr);
  hostLocale_ = hostLocale != nullptr ? hostLocale : "C";
  std::setlocale(LC_CTYPE, "");
  // newterm, unlike initscr, reports a failure instead of ending the process.
  SCREEN* screen = newterm(term, stdout, stdin);
  if (screen == nullptr) {
    std::setlocale(LC_CTYPE, hostLocale_.c_str());
    *why = std::string("no terminal description for TERM=") + term;
    return false;
  }
  screen_ = screen;
  set_term(screen);
  raw();  // Ctrl-C is a key here (Cancel), not a signal to the host
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  set_escdelay(kEscapeDelayMs);
  mousemask(BUTTON1_PRESSED | BUTTON1_CLICKED, nullptr);
  mouseinterval(0);
  return true;
}

void TerminalSheet::Close() {
  if (screen_ == nullptr) return;
  SCREEN* screen = static_cast<SCREEN*>(screen_);
  set_term(screen);
  mousemask(0, nullptr);
  endwin();
  delscreen(screen);
  screen_ = nullptr;
  std::setlocale(LC_CTYPE, hostLocale_.c_str());
}

void TerminalSheet::RunSheet(CPelluminSheet& sheet) {
  Session session;
  SheetLayer layer(session, sheet);
  layer.Start();
  session.Run(layer);
  layer.DestroyPages();
}

int RunTerminalConfiguration(const char* keyPath) {
  const char* shown = keyPath != nullptr ? keyPath : "";
  if (!platform::StandardStreamsAreTerminal()) {
    std::fprintf(stderr,
                 "HXConfig: standard input and output are not a terminal; no settings sheet "
                 "shown for \"%s\"\n",
                 shown);
    return 0;
  }
  // Message boxes are captioned with the plug-in's file name ("libtarnwick").
  char module[4096];
  if (platform::ModuleFileName(reinterpret_cast<const void*>(&RunTerminalConfiguration), module,
                               sizeof module)) {
    SetMessageCaption(CaptionFromModulePath(module));
  }
  TerminalSheet frontEnd;
  std::string why;
  if (!frontEnd.Open(&why)) {
    std::fprintf(stderr, "HXConfig: cannot use the terminal (%s); no settings sheet shown for \"%s\"\n",
                 why.c_str(), shown);
    return 0;
  }
  RegistryStore store;
  RunConfiguration(keyPath, store, frontEnd);
  frontEnd.Close();
  return 0;
}

}  // namespace terminal
}  // namespace config_ui
