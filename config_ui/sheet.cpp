// sheet.cpp -- the page protocol, the sheet and RunConfiguration.
#include "sheet.h"

#include "pages.h"
#include "settings_store.h"
#include "templates.h"

namespace config_ui {

void PropertyPage::OnCreate(Controls& controls) {
  controls_ = &controls;
  created_ = true;
  Fill();
}

void PropertyPage::OnSetActive() {
  // The activation step comes first; the first activation follows the fill
  // of OnCreate, every later one refills from the fields.
  Activate();
  if (activations_++ > 0) Fill();
}

void PropertyPage::OnKillActive() { ReadBack(); }

void PropertyPage::OnApply() {
  if (created_) Save();
}

void PropertyPage::OnDestroy() { controls_ = nullptr; }

CPelluminSheet::CPelluminSheet(SettingsStore& store)
    : general_(new CGeneralPage(store)),
      deny_(new CDenyPage(store)),
      alert_(new CAlertPage(store)),
      hours_(new CHoursPage(store)) {}

CPelluminSheet::~CPelluminSheet() = default;

const char* CPelluminSheet::Caption() const { return LoadUiString(IDS_SHEET_CAPTION); }

PropertyPage& CPelluminSheet::Page(int index) {
  switch (index) {
    case 0: return *general_;
    case 1: return *deny_;
    case 2: return *alert_;
    default: return *hours_;
  }
}

SheetDriver::SheetDriver(CPelluminSheet& sheet, PageFactory createPage, void* context)
    : sheet_(sheet), createPage_(createPage), context_(context) {}

void SheetDriver::Show(int index) {
  PropertyPage& page = sheet_.Page(index);
  if (!page.created()) page.OnCreate(createPage_(context_, index, page));
  current_ = index;
  page.OnSetActive();
}

void SheetDriver::Start() { Show(0); }

void SheetDriver::Select(int index) {
  if (index < 0 || index >= CPelluminSheet::kPageCount || index == current_) return;
  if (current_ >= 0) sheet_.Page(current_).OnKillActive();
  Show(index);
}

void SheetDriver::PressOk() {
  if (current_ >= 0) sheet_.Page(current_).OnKillActive();
  for (int i = 0; i < CPelluminSheet::kPageCount; ++i) {
    if (sheet_.Page(i).created()) sheet_.Page(i).OnApply();
  }
}

void SheetDriver::PressCancel() {}

int RunConfiguration(const char* path, SettingsStore& store, SheetFrontEnd& frontEnd) {
  // A path that does not fit the copy leaves every key unopenable: the pages
  // show their defaults and saving reports each key it cannot write.
  tarnwick::SetConfigurationKeyPath(path != nullptr ? path : "");
  CPelluminSheet sheet(store);
  frontEnd.RunSheet(sheet);
  return 0;
}

}  // namespace config_ui
