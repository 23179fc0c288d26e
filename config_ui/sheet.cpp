// sheet.cpp -- the page protocol, the sheet and RunConfiguration.
#include "sheet.h"

#include "pages.h"
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

CPelluminSheet::CPelluminSheet(settings::KeyScope& keys)
    : general_(new CGeneralPage(keys)),
      deny_(new CDenyPage(keys)),
      alert_(new CAlertPage(keys)),
      hours_(new CHoursPage(keys)) {}

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

std::unique_ptr<settings::Key> OpenForWriting(settings::KeyScope& keys, const char* subkey,
                                              Controls& ui) {
  std::unique_ptr<settings::Key> key = keys.OpenForWriting(subkey);
  if (key == nullptr) ui.ShowMessage(LoadUiString(IDS_SAVE_ERROR), MessageIcon::kWarning);
  return key;
}

int RunConfiguration(const char* path, settings::Store& store, SheetFrontEnd& frontEnd) {
  // A path that does not fit leaves every key unopenable: the pages show
  // their defaults and saving reports each key it cannot write.
  settings::KeyScope keys(store, path);
  CPelluminSheet sheet(keys);
  frontEnd.RunSheet(sheet);
  return 0;
}

}  // namespace config_ui
