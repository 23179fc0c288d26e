// pages.cpp -- loading, filling, reading back and saving the four pages.
#include "pages.h"

#include "defaults.h"
#include "dialogs.h"
#include "templates.h"

namespace config_ui {

using settings::kPageDefaults;

namespace {

// Check boxes show 0, 1 and 2 as stored; any other number (the -1 of a
// missing value among them) becomes 0 in the field too.
void FillCheck(Controls& controls, int id, std::int32_t* field) {
  if (*field != 0 && *field != 1 && *field != 2) *field = 0;
  controls.SetCheck(id, *field);
}

}  // namespace

// --- General ---------------------------------------------------------------

CGeneralPage::CGeneralPage(settings::KeyScope& keys)
    : PropertyPage(keys),
      controlFile_(kPageDefaults.controlFile),
      errorMessage_(kPageDefaults.denialBody),
      siteFile_(kPageDefaults.siteFile) {
  std::unique_ptr<settings::Key> key = keys.Open("", settings::Access::kRead);
  if (key == nullptr) return;
  key->ReadString(settings::kControlFileValue, &controlFile_);
  key->ReadString(settings::kSiteFileValue, &siteFile_);
  key->ReadString(settings::kErrorMsgValue, &errorMessage_);
}

const WindowTemplate& CGeneralPage::Template() const { return GeneralPageTemplate(); }

void CGeneralPage::Fill() {
  controls().SetText(IDC_ERROR_MESSAGE, errorMessage_);
  controls().SetText(IDC_CONTROL_FILE, controlFile_);
  controls().SetText(IDC_SITE_FILE, siteFile_);
}

void CGeneralPage::ReadBack() {
  errorMessage_ = controls().GetText(IDC_ERROR_MESSAGE);
  controlFile_ = controls().GetText(IDC_CONTROL_FILE);
  siteFile_ = controls().GetText(IDC_SITE_FILE);
}

void CGeneralPage::Save() {
  std::unique_ptr<settings::Key> key = OpenForWriting(keys(), "", controls());
  if (key == nullptr) return;
  key->WriteString(settings::kControlFileValue, controlFile_);
  key->WriteString(settings::kSiteFileValue, siteFile_);
  key->WriteString(settings::kErrorMsgValue, errorMessage_);
}

// --- Pages with a category list ----------------------------------------------

CategoryPage::CategoryPage(settings::KeyScope& keys, const char* subkey, int flagCount,
                           FlagField first, FlagField second)
    : PropertyPage(keys), subkey_(subkey), flagCount_(flagCount), flags_{first, second} {
  if (flagCount_ > 0) {
    // The defaults hold only when the main key does not open; a value
    // missing from an open key reads as -1.
    std::unique_ptr<settings::Key> key = keys.Open("", settings::Access::kRead);
    if (key != nullptr) {
      for (int i = 0; i < flagCount_; ++i) flags_[i].value = key->ReadDword(flags_[i].valueName);
    }
  }
  list_.LoadFromStore(keys, subkey_);
}

void CategoryPage::Fill() {
  for (int i = 0; i < flagCount_; ++i) FillCheck(controls(), flags_[i].checkId, &flags_[i].value);
}

void CategoryPage::Activate() { list_.FillControl(controls()); }

void CategoryPage::ReadBack() {
  for (int i = 0; i < flagCount_; ++i) flags_[i].value = controls().GetCheck(flags_[i].checkId);
}

void CategoryPage::Save() {
  if (flagCount_ > 0) {
    std::unique_ptr<settings::Key> key = OpenForWriting(keys(), "", controls());
    if (key != nullptr) {
      for (int i = 0; i < flagCount_; ++i) key->WriteDword(flags_[i].valueName, flags_[i].value);
    }
  }
  // The list saves in any case: its subkey is opened on its own.
  list_.SaveToStore(keys(), controls(), subkey_);
}

void CategoryPage::OnListClick(int id) {
  if (id == CCategoryListCtrl::kListId) list_.OnClick(controls());
}

bool CategoryPage::OnEndLabelEdit(int id, int item, const std::string& text) {
  return id == CCategoryListCtrl::kListId && list_.OnEndLabelEdit(text);
}

// --- Deny --------------------------------------------------------------------

CDenyPage::CDenyPage(settings::KeyScope& keys)
    : CategoryPage(keys, settings::kDenySubkey, 2,
                   {settings::kDottedDecimalValue, IDC_ALLOW_DOTTED, kPageDefaults.dottedDecimal},
                   {settings::kPersonalValue, IDC_ALLOW_PERSONAL, kPageDefaults.personal}) {}

const WindowTemplate& CDenyPage::Template() const { return DenyPageTemplate(); }

// --- Alert -------------------------------------------------------------------

CAlertPage::CAlertPage(settings::KeyScope& keys)
    : CategoryPage(keys, settings::kAlertSubkey, 2,
                   {settings::kLogValue, IDC_LOG_ALERT, kPageDefaults.log},
                   {settings::kMailValue, IDC_EMAIL_ALERT, kPageDefaults.mail}) {
  std::unique_ptr<settings::Key> key = keys.Open(settings::kMailSubkey, settings::Access::kRead);
  mailSettings_ = settings::ReadMailSettings(key.get());
}

const WindowTemplate& CAlertPage::Template() const { return AlertPageTemplate(); }

// The Mail Settings button follows the e-mail box.
void CAlertPage::EnableMailSettings() {
  controls().Enable(IDC_MAIL_SETTINGS, controls().GetCheck(IDC_EMAIL_ALERT) != 0);
}

void CAlertPage::Activate() {
  CategoryPage::Activate();
  EnableMailSettings();
}

void CAlertPage::Save() {
  CategoryPage::Save();
  if (!mailSettingsTaken_) return;
  std::unique_ptr<settings::Key> key = OpenForWriting(keys(), settings::kMailSubkey, controls());
  if (key != nullptr) settings::WriteMailSettings(*key, mailSettings_);
}

void CAlertPage::OnCommand(int id) {
  if (id == IDC_MAIL_SETTINGS) {
    CMailSettingsDlg dialog(mailSettings_);
    controls().RunDialog(dialog);
    if (dialog.accepted()) {
      mailSettings_ = dialog.values();
      mailSettingsTaken_ = true;
    }
  } else if (id == IDC_EMAIL_ALERT) {
    EnableMailSettings();
  }
}

// --- Business hours ------------------------------------------------------------

CHoursPage::CHoursPage(settings::KeyScope& keys) : CategoryPage(keys, settings::kHoursSubkey) {}

const WindowTemplate& CHoursPage::Template() const { return HoursPageTemplate(); }

void CHoursPage::OnCommand(int id) {
  if (id != IDC_DEFINE_HOURS) return;
  controls().ShowMessage(LoadUiString(IDS_HOURS_NOT_AVAILABLE), MessageIcon::kNone);
  CTimesDlg dialog;
  controls().RunDialog(dialog);
}

}  // namespace config_ui
