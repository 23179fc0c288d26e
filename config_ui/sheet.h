// sheet.h -- the configuration sheet and the protocol every page follows.
//
// A page loads its settings into member fields when it is constructed,
// fills its controls from them when its window is created, runs its
// activation step whenever its tab becomes current (and fills again on every
// activation but the first), reads its controls back into the fields when
// its tab is left or OK is pressed on it, and saves the fields on OK only if
// its window was created. Cancel touches nothing. PropertyPage keeps that
// order in one place; the pages supply the steps.
#ifndef PELLUMIN_CONFIG_UI_SHEET_H_
#define PELLUMIN_CONFIG_UI_SHEET_H_

#include <memory>

#include "controls.h"
#include "store.h"

namespace config_ui {

class PropertyPage : public WindowLogic {
 public:
  // Sheet notifications, as WindowLogic events.
  void OnCreate(Controls& controls) final;
  void OnSetActive() final;
  void OnKillActive() final;
  void OnApply() final;
  void OnDestroy() override;

  bool created() const { return created_; }

 protected:
  explicit PropertyPage(settings::KeyScope& keys) : keys_(keys) {}
  // The steps of the protocol.
  virtual void Fill() = 0;
  virtual void Activate() {}
  virtual void ReadBack() = 0;
  virtual void Save() = 0;

  settings::KeyScope& keys() { return keys_; }
  Controls& controls() { return *controls_; }

 private:
  settings::KeyScope& keys_;
  Controls* controls_ = nullptr;
  bool created_ = false;
  int activations_ = 0;
};

class CGeneralPage;
class CDenyPage;
class CAlertPage;
class CHoursPage;

// The sheet: its four pages, constructed (and so loaded) with it, in tab
// order.
class CPelluminSheet {
 public:
  static constexpr int kPageCount = 4;

  explicit CPelluminSheet(settings::KeyScope& keys);
  ~CPelluminSheet();
  CPelluminSheet(const CPelluminSheet&) = delete;
  CPelluminSheet& operator=(const CPelluminSheet&) = delete;

  // The sheet's caption, string IDS_SHEET_CAPTION.
  const char* Caption() const;
  PropertyPage& Page(int index);

  CGeneralPage& general() { return *general_; }
  CDenyPage& deny() { return *deny_; }
  CAlertPage& alert() { return *alert_; }
  CHoursPage& hours() { return *hours_; }

 private:
  std::unique_ptr<CGeneralPage> general_;
  std::unique_ptr<CDenyPage> deny_;
  std::unique_ptr<CAlertPage> alert_;
  std::unique_ptr<CHoursPage> hours_;
};

// Runs the page protocol for a front end that has no property sheet of its
// own (the terminal, the tests): it creates a page's window through
// CreatePage when its tab is first shown and sends the events in the order
// the Windows property sheet sends them.
class SheetDriver {
 public:
  // Makes the window of sheet page index and returns its controls (valid
  // until the driver is destroyed).
  using PageFactory = Controls& (*)(void* context, int index, PropertyPage& page);

  SheetDriver(CPelluminSheet& sheet, PageFactory createPage, void* context);
  // Shows the first tab.
  void Start();
  // Leaves the current tab and shows tab index.
  void Select(int index);
  // OK: the current page reads back, then every created page saves, in tab
  // order.
  void PressOk();
  // Cancel, or the close box: nothing is saved.
  void PressCancel();
  int current() const { return current_; }

 private:
  void Show(int index);

  CPelluminSheet& sheet_;
  PageFactory createPage_;
  void* context_;
  int current_ = -1;
};

// How a front end shows the sheet: modally, returning when it has closed.
class SheetFrontEnd {
 public:
  virtual ~SheetFrontEnd() = default;
  virtual void RunSheet(CPelluminSheet& sheet) = 0;
};

// Opens subkey of keys for setting values, creating it first when it does
// not open. When it can be neither opened nor created, shows "Error saving
// settings to registry." once through ui and returns null.
std::unique_ptr<settings::Key> OpenForWriting(settings::KeyScope& keys, const char* subkey,
                                              Controls& ui);

// What HXConfig does: takes path (null: the empty path) as the
// configuration key path in store, builds a fresh sheet over it, runs it
// through frontEnd and destroys it. Returns 0, whatever the user chose.
int RunConfiguration(const char* path, settings::Store& store, SheetFrontEnd& frontEnd);

}  // namespace config_ui

#endif  // PELLUMIN_CONFIG_UI_SHEET_H_
