// controls.h -- the narrow interface between the configuration interface's
// logic and a front end (Win32 windows, the terminal, or the in-memory
// stand-in of the tests).
//
// How a front end drives the logic:
//
//  1. Windows are described once, by templates.h: for each page and dialog
//     a WindowTemplate (identifier, caption, size in dialog units) with its
//     controls in tab order (kind, identifier, text, style bits, rectangle).
//     The front end makes one window per template and one control per entry;
//     a control is found by its identifier within its window (IDC_STATIC
//     texts need no lookup).
//  2. Every window has a WindowLogic (a page of the sheet or a dialog). The
//     front end gives it a Controls object for that window and forwards
//     events to it:
//       OnCreate           the window and its controls exist (first showing
//                          of a page; opening of a dialog)
//       OnSetActive        a page's tab became current (after OnCreate the
//                          first time)
//       OnKillActive       a page's tab is left, or OK is pressed on it
//       OnApply            OK was pressed: sent to every created page in
//                          tab order, after OnKillActive of the current one
//       OnCommand(id)      a button, check box or radio button was clicked
//                          (the box's own state has already changed)
//       OnListClick(id)    a single mouse click (or the front end's
//                          equivalent key) in a list; the selection has
//                          already moved to the clicked item
//       OnBeginLabelEdit   the user starts renaming an item in place (F2, a
//                          click on a selected item); false forbids it
//       OnEndLabelEdit     an in-place edit of an item's first column ended;
//                          return true to take the new text (the front end
//                          then sets it; a cancelled edit is not reported)
//       OnDialogOk         OK of a dialog: close it only when this returns
//                          true
//     A front end without a native property sheet runs the page protocol
//     through SheetDriver (sheet.h), which sends these in the right order.
//  3. The logic calls back through Controls for everything it shows: texts,
//     check states, enabling, focus, list columns, items, glyphs and
//     selection, message boxes (captioned with MessageCaption()), and
//     running a dialog modally (RunDialog returns when it has closed).
//
// List views behave as the platform's do: a list whose template style has
// PL_LVS_SORTASCENDING keeps its items sorted by first-column text (ASCII,
// without regard to case) as they are inserted, and does not move an item
// when its text changes later. Glyph index g shows glyph g of the front
// end's glyph strip (bitmap IDB_CATEGORY_GLYPHS: 0 an empty box, 1 a ticked
// one); any other index shows no glyph. A two-state check box that is given
// the state 2 shows and reports itself ticked (1), as the platform's does.
#ifndef PELLUMIN_CONFIG_UI_CONTROLS_H_
#define PELLUMIN_CONFIG_UI_CONTROLS_H_

#include <string>

#include "resource.h"

namespace config_ui {

class WindowLogic;
struct WindowTemplate;

enum class MessageIcon { kNone, kWarning };

// A column width that fills the rest of the list (the last column) or fits
// the heading.
constexpr int kColumnFillRemainder = -2;

class Controls {
 public:
  virtual ~Controls() = default;

  // Edits and captions.
  virtual std::string GetText(int id) = 0;
  virtual void SetText(int id, const std::string& text) = 0;
  virtual void LimitText(int id, int characters) = 0;
  // Puts the keyboard focus into the control and selects its whole text.
  virtual void FocusAndSelectAll(int id) = 0;

  // Check boxes and radio buttons: 0 unticked, 1 ticked, 2 indeterminate.
  virtual int GetCheck(int id) = 0;
  virtual void SetCheck(int id, int state) = 0;

  virtual void Enable(int id, bool enabled) = 0;
  virtual bool IsEnabled(int id) = 0;

  // List views. Items are addressed by their position in display order.
  // Whether the list shows the glyph strip as its small-icon image list
  // already; AttachGlyphs gives it the strip.
  virtual bool HasGlyphs(int id) = 0;
  virtual void AttachGlyphs(int id) = 0;
  virtual void InsertColumn(int id, int column, const std::string& heading) = 0;
  // width in pixels, or kColumnFillRemainder.
  virtual void SetColumnWidth(int id, int column, int width) = 0;
  // The pixel width of text in the list's font (1 for a character cell).
  virtual int TextWidth(int id, const std::string& text) = 0;
  // Inserts at position (a sorted list places the item by its text) and
  // returns where it landed.
  virtual int InsertItem(int id, int position, const std::string& text, int glyph) = 0;
  virtual int ItemCount(int id) = 0;
  virtual std::string GetItemText(int id, int item, int column) = 0;
  virtual void SetItemText(int id, int item, int column, const std::string& text) = 0;
  virtual int GetItemGlyph(int id, int item) = 0;
  virtual void SetItemGlyph(int id, int item, int glyph) = 0;
  // The first selected item in display order, or -1.
  virtual int FirstSelectedItem(int id) = 0;

  // A message box with one OK button, owned by this window.
  virtual void ShowMessage(const std::string& text, MessageIcon icon) = 0;
  // Runs dialog modally, without an owner, from its template; returns when
  // it has closed.
  virtual void RunDialog(WindowLogic& dialog) = 0;
};

// The logic of one window (a page of the sheet, or a dialog).
class WindowLogic {
 public:
  virtual ~WindowLogic() = default;
  virtual const WindowTemplate& Template() const = 0;

  // controls stays valid until the window is destroyed.
  virtual void OnCreate(Controls& controls) {}
  virtual void OnSetActive() {}
  virtual void OnKillActive() {}
  virtual void OnApply() {}
  virtual void OnCommand(int id) {}
  virtual void OnListClick(int id) {}
  virtual bool OnBeginLabelEdit(int id, int item) { return true; }
  virtual bool OnEndLabelEdit(int id, int item, const std::string& text) { return false; }
  virtual bool OnDialogOk() { return true; }
  // The window is about to be destroyed; controls is no longer valid after.
  virtual void OnDestroy() {}
};

// The caption of every message box: the plug-in module's file name without
// folder and extension ("Tarnwick"). Front ends set it once; until then it
// is "Tarnwick".
const std::string& MessageCaption();
void SetMessageCaption(const std::string& caption);
// The part of a module path a caption shows: "C:\x\Tarnwick.dll" and
// "/x/libtarnwick.so" give "Tarnwick" and "libtarnwick".
std::string CaptionFromModulePath(const std::string& path);

}  // namespace config_ui

#endif  // PELLUMIN_CONFIG_UI_CONTROLS_H_
