// pages.cpp -- loading, filling, reading back and saving the four pages.
#include "pages.h"

#include "defaults.h"
#include "dialogs.h"
#include "templates.h"

namespace config_ui {

using tarnwick::kPageDefaults;

namespace {

// Check boxes show 0, 1 and 2 as stored; any other number (the -1 of a
// missing value among them) becomes 0 in the field too.
void FillCheck(Controls& controls, int id, std::int32_t* field) {
  if (*field != 0 && *field != 1 && *field != 2) *field = 0;
  controls.SetCheck(id, *field);
}

// Writes two numbers of the main key, when it can be opened or created.
void SaveNumbers(SettingsStore& store, Controls& ui, const char* firstName, std::int32_t first,
                 const char* secondName, std::int32_t second) {
  SettingsStore::Key key = OpenForWriting(store, "", ui);
  if (key == nullptr) return;
  store.WriteDword(key, firstName, first);
  store.WriteDword(key, secondName, second);
  store.Close(key);
}

}  // namespace

std::string ShowLineBreaks(const std::string& text) {
  std::string shown;
  shown.reserve(text.size());
  for (char c : text) {
    if (c == '\r') shown += "\\r";
    else if (c == '\n') shown += "\\n";
    else if (c == '\\') shown += "\\\\";
    else shown += c;
  }
  return shown;
}

std::string ReadLineBreaks(const std::string& shown) {
  std::string text;
  text.reserve(shown.size());
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const char next = i + 1 < shown.size() ? shown[i + 1] : '\0';
    if (shown[i] == '\\' && (next == 'r' || next == 'n' || next == '\\')) {
      text += next == 'r' ? '\r' : next == 'n' ? '\n' : '\\';
      ++i;
    } else {
      text += shown[i];
    }
  }
  return text;
}

// --- General ---------------------------------------------------------------

CGeneralPage::CGeneralPage(SettingsStore& store)
    : PropertyPage(store),
      controlFile_(kPageDefaults.controlFile),
      errorMessage_(kPageDefaults.denialBody),
      siteFile_(kPageDefaults.siteFile) {
  SettingsStore::Key key = store.Open("", SettingsStore::Access::kRead);
  if (key == nullptr) return;
  store.ReadString(key, tarnwick::kControlFileValue, &controlFile_);
  store.ReadString(key, tarnwick::kSiteFileValue, &siteFile_);
  store.ReadString(key, tarnwick::kErrorMsgValue, &errorMessage_);
  store.Close(key);
}

const WindowTemplate& CGeneralPage::Template() const { return GeneralPageTemplate(); }

void CGeneralPage::Fill() {
  controls().SetText(IDC_ERROR_MESSAGE, ShowLineBreaks(errorMessage_));
  controls().SetText(IDC_CONTROL_FILE, controlFile_);
  controls().SetText(IDC_SITE_FILE, siteFile_);
}

void CGeneralPage::ReadBack() {
  errorMessage_ = ReadLineBreaks(controls().GetText(IDC_ERROR_MESSAGE));
  controlFile_ = controls().GetText(IDC_CONTROL_FILE);
  siteFile_ = controls().GetText(IDC_SITE_FILE);
}

void CGeneralPage::Save() {
  SettingsStore::Key key = OpenForWriting(store(), "", controls());
  if (key == nullptr) return;
  store().WriteString(key, tarnwick::kControlFileValue, controlFile_);
  store().WriteString(key, tarnwick::kSiteFileValue, siteFile_);
  store().WriteString(key, tarnwick::kErrorMsgValue, errorMessage_);
  store().Close(key);
}

// --- Pages with a category list ----------------------------------------------

CategoryPage::CategoryPage(SettingsStore& store, const char* subkey)
    : PropertyPage(store), subkey_(subkey) {}

void CategoryPage::OnListClick(int id) {
  if (id == CCategoryListCtrl::kListId) list_.OnClick(controls());
}

bool CategoryPage::OnEndLabelEdit(int id, int item, const std::string& text) {
  return id == CCategoryListCtrl::kListId && list_.OnEndLabelEdit(text);
}

void CategoryPage::SaveList() { list_.SaveToStore(store(), controls(), subkey_); }

// --- Deny --------------------------------------------------------------------

CDenyPage::CDenyPage(SettingsStore& store)
    : CategoryPage(store, tarnwick::kDenySubkey),
      dottedDecimal_(kPageDefaults.dottedDecimal),
      personalSites_(kPageDefaults.personal) {
  SettingsStore::Key key = store.Open("", SettingsStore::Access::kRead);
  if (key != nullptr) {
    dottedDecimal_ = store.ReadDword(key, tarnwick::kDottedDecimalValue);
    personalSites_ = store.ReadDword(key, tarnwick::kPersonalValue);
    store.Close(key);
  }
  list_.LoadFromStore(store, subkey_);
}

const WindowTemplate& CDenyPage::Template() const { return DenyPageTemplate(); }

void CDenyPage::Fill() {
  FillCheck(controls(), IDC_ALLOW_DOTTED, &dottedDecimal_);
  FillCheck(controls(), IDC_ALLOW_PERSONAL, &personalSites_);
}

void CDenyPage::Activate() { list_.FillControl(controls()); }

void CDenyPage::ReadBack() {
  dottedDecimal_ = controls().GetCheck(IDC_ALLOW_DOTTED);
  personalSites_ = controls().GetCheck(IDC_ALLOW_PERSONAL);
}

void CDenyPage::Save() {
  SaveNumbers(store(), controls(), tarnwick::kDottedDecimalValue, dottedDecimal_, tarnwick::kPersonalValue, personalSites_);
  SaveList();
}

// --- Alert -------------------------------------------------------------------

CAlertPage::CAlertPage(SettingsStore& store)
    : CategoryPage(store, tarnwick::kAlertSubkey), log_(kPageDefaults.log), mail_(kPageDefaults.mail) {
  SettingsStore::Key key = store.Open("", SettingsStore::Access::kRead);
  if (key != nullptr) {
    log_ = store.ReadDword(key, tarnwick::kLogValue);
    mail_ = store.ReadDword(key, tarnwick::kMailValue);
    store.Close(key);
  }
  list_.LoadFromStore(store, subkey_);
}

const WindowTemplate& CAlertPage::Template() const { return AlertPageTemplate(); }

void CAlertPage::Fill() {
  FillCheck(controls(), IDC_EMAIL_ALERT, &mail_);
  FillCheck(controls(), IDC_LOG_ALERT, &log_);
}

void CAlertPage::EnableMailSettings() {
  controls().Enable(IDC_MAIL_SETTINGS, controls().GetCheck(IDC_EMAIL_ALERT) != 0);
}

void CAlertPage::Activate() {
  list_.FillControl(controls());
  EnableMailSettings();
}

void CAlertPage::OnCommand(int id) {
  if (id == IDC_MAIL_SETTINGS) {
    CMailSettingsDlg dialog;
    controls().RunDialog(dialog);
  } else if (id == IDC_EMAIL_ALERT) {
    EnableMailSettings();
  }
}

void CAlertPage::ReadBack() {
  log_ = controls().GetCheck(IDC_LOG_ALERT);
  mail_ = controls().GetCheck(IDC_EMAIL_ALERT);
}

void CAlertPage::Save() {
  SaveNumbers(store(), controls(), tarnwick::kLogValue, log_, tarnwick::kMailValue, mail_);
  SaveList();
}

// --- Business hours ------------------------------------------------------------

CHoursPage::CHoursPage(SettingsStore& store) : CategoryPage(store, tarnwick::kHoursSubkey) {
  list_.LoadFromStore(store, subkey_);
}

const WindowTemplate& CHoursPage::Template() const { return HoursPageTemplate(); }

void CHoursPage::Activate() { list_.FillControl(controls()); }

void CHoursPage::OnCommand(int id) {
  if (id != IDC_DEFINE_HOURS) return;
  controls().ShowMessage(LoadUiString(IDS_HOURS_NOT_AVAILABLE), MessageIcon::kNone);
  CTimesDlg dialog;
  controls().RunDialog(dialog);
}

void CHoursPage::Save() { SaveList(); }

}  // namespace config_ui
