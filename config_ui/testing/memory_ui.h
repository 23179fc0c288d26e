// memory_ui.h -- an in-memory front end for tests (and a model for new
// front ends): windows made from the templates, controls that keep their
// state, list views that sort and select as the platform's do, a log of
// message boxes, and scripts that play the user.
//
//   settings::testkit::MemoryStore store;
//   MemorySheet sheet([](MemorySheet& s) {
//     s.Select(1);                                   // the Deny tab
//     s.Window(1).Click(IDC_ALLOW_DOTTED);
//     s.Window(1).ClickItem(IDC_CATEGORY_LIST, 3);   // toggles item 3
//     s.PressOk();
//   });
//   RunConfiguration("Software\\Test", store, sheet);
//
// Dialogs that a page runs are played by the scripts queued with
// OnNextDialog; a dialog without a script is cancelled at once.
#ifndef PELLUMIN_CONFIG_UI_TESTING_MEMORY_UI_H_
#define PELLUMIN_CONFIG_UI_TESTING_MEMORY_UI_H_

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "controls.h"
#include "list_items.h"
#include "sheet.h"
#include "templates.h"

namespace config_ui {
namespace testkit {

struct ShownMessage {
  std::string window;  // the template name of the owner
  std::string caption;
  std::string text;
  MessageIcon icon;
};

class MemoryUi;

class MemoryWindow final : public Controls {
 public:
  using Item = ListItem;
  // A control; a list view keeps its columns and items as the platform's
  // does (list_items.h).
  struct Control : ListItems {
    const ControlTemplate* tmpl = nullptr;
    std::string text;
    int check = 0;
    bool enabled = true;
    int limit = 0;  // 0: none
    bool selectedAll = false;
    bool glyphs = false;  // list views
  };

  MemoryWindow(MemoryUi& ui, WindowLogic& logic);

  // --- What a user does ------------------------------------------------------
  // Clicks a button, check box or radio button (nothing when disabled).
  void Click(int id);
  // Types text into an edit, replacing what it held (cut at its limit).
  void Type(int id, const std::string& text);
  // A click on item (selecting only it), or, with -1, on empty space.
  void ClickItem(int id, int item);
  // Selects items without clicking (as Ctrl or Shift would).
  void SelectItems(int id, const std::vector<int>& items);
  // Renames item in place; the logic decides whether the text is taken.
  void EditLabel(int id, int item, const std::string& text);
  // Dialogs: OK (true when the dialog closed) and Cancel.
  bool PressOk();
  void PressCancel();

  // --- What a user sees ------------------------------------------------------
  Control& control(int id);
  std::string name() const { return logic_.Template().name; }
  int focus() const { return focus_; }
  bool closed() const { return closed_; }
  WindowLogic& logic() { return logic_; }

  // --- Controls --------------------------------------------------------------
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
  Item& item(int id, int index);

  MemoryUi& ui_;
  WindowLogic& logic_;
  std::map<int, Control> controls_;
  int focus_ = 0;
  bool closed_ = false;
};

// The windows and messages of one run.
class MemoryUi {
 public:
  using DialogScript = std::function<void(MemoryWindow& dialog)>;
  void OnNextDialog(DialogScript script) { dialogScripts_.push_back(std::move(script)); }
  const std::vector<ShownMessage>& messages() const { return messages_; }
  // Names of the dialogs run, in order.
  const std::vector<std::string>& dialogsRun() const { return dialogsRun_; }

 private:
  friend class MemoryWindow;
  std::deque<DialogScript> dialogScripts_;
  std::vector<ShownMessage> messages_;
  std::vector<std::string> dialogsRun_;
};

// The sheet, played by a script through SheetDriver. Pages keep their
// windows until the sheet closes.
class MemorySheet final : public SheetFrontEnd, public MemoryUi {
 public:
  using Script = std::function<void(MemorySheet& sheet)>;
  explicit MemorySheet(Script script) : script_(std::move(script)) {}

  void RunSheet(CPelluminSheet& sheet) override;
  void Select(int index) { driver_->Select(index); }
  void PressOk() { driver_->PressOk(); }
  void PressCancel() { driver_->PressCancel(); }
  // The window of page index; it must have been shown.
  MemoryWindow& Window(int index) { return *windows_.at(index); }
  bool Created(int index) const { return windows_.count(index) != 0; }
  CPelluminSheet& sheet() { return *sheet_; }
  int runs() const { return runs_; }

 private:
  static Controls& CreatePage(void* context, int index, PropertyPage& page);
  Script script_;
  std::unique_ptr<SheetDriver> driver_;
  std::map<int, std::unique_ptr<MemoryWindow>> windows_;
  CPelluminSheet* sheet_ = nullptr;
  int runs_ = 0;
};

}  // namespace testkit
}  // namespace config_ui

#endif  // PELLUMIN_CONFIG_UI_TESTING_MEMORY_UI_H_
