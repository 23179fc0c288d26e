// terminal_window.h -- one window of the terminal front end (a page of the
// sheet, or a dialog), made from its template: the Controls the logic
// calls, and the keys, clicks and drawing of its controls.
#ifndef PELLUMIN_CONFIG_UI_TERMINAL_TERMINAL_WINDOW_H_
#define PELLUMIN_CONFIG_UI_TERMINAL_TERMINAL_WINDOW_H_

#include <string>
#include <vector>

#include "controls.h"
#include "keys.h"
#include "layout.h"
#include "list_items.h"
#include "screen.h"
#include "templates.h"

namespace config_ui {
namespace terminal {

// Controls keep their state as the platform's do (texts, check states,
// enabled, list items sorted as they are inserted); Draw paints them at the
// cells their template rectangles scale to and records where, for clicks.
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
  void DrawListItem(Control& c, int i, const CellRect& inner, const std::vector<int>* starts,
                    const std::vector<int>* widths, bool focused, bool top);
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

}  // namespace terminal
}  // namespace config_ui

#endif  // PELLUMIN_CONFIG_UI_TERMINAL_TERMINAL_WINDOW_H_
