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

CategoryPage::CategoryPage(SettingsStore& store, const char* subkey, int flagCount,
                           FlagField first, FlagField second)
    : PropertyPage(store), subkey_(subkey), flagCount_(flagCount), flags_{first, second} {
  if (flagCount_ > 0) {
    // The defaults hold only when the main key does not open; a value
    // missing from an open key reads as -1.
    SettingsStore::Key key = store.Open("", SettingsStore::Access::kRead);
    if (key != nullptr) {
      for (int i = 0; i < flagCount_; ++i) flags_[i].value = store.ReadDword(key, flags_[i].valueName);
      store.Close(key);
    }
  }
  list_.LoadFromStore(store, subkey_);
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
    SettingsStore::Key key = OpenForWriting(store(), "", controls());
    if (key != nullptr) {
      for (int i = 0; i < flagCount_; ++i) {
        store().WriteDword(key, flags_[i].valueName, flags_[i].value);
      }
      store().Close(key);
    }
  }
  // The list saves in any case: its subkey is opened on its own.
  list_.SaveToStore(store(), controls(), subkey_);
}

void CategoryPage::OnListClick(int id) {
  if (id == CCategoryListCtrl::kListId) list_.OnClick(controls());
}

bool CategoryPage::OnEndLabelEdit(int id, int item, const std::string& text) {
  return id == CCategoryListCtrl::kListId && list_.OnEndLabelEdit(text);
}

// --- Deny --------------------------------------------------------------------

CDenyPage::CDenyPage(SettingsStore& store)
    : CategoryPage(store, tarnwick::kDenySubkey, 2,
                   {tarnwick::kDottedDecimalValue, IDC_ALLOW_DOTTED, kPageDefaults.dottedDecimal},
                   {tarnwick::kPersonalValue, IDC_ALLOW_PERSONAL, kPageDefaults.personal}) {}

const WindowTemplate& CDenyPage::Template() const { return DenyPageTemplate(); }

// --- Alert -------------------------------------------------------------------

CAlertPage::CAlertPage(SettingsStore& store)
    : CategoryPage(store, tarnwick::kAlertSubkey, 2,
                   {tarnwick::kLogValue, IDC_LOG_ALERT, kPageDefaults.log},
                   {tarnwick::kMailValue, IDC_EMAIL_ALERT, kPageDefaults.mail}) {}

const WindowTemplate& CAlertPage::Template() const { return AlertPageTemplate(); }

// The e-mail box is created greyed and nothing enables it: it shows the
// stored mail flag, and the Mail Settings button follows it.
void CAlertPage::EnableMailSettings() {
  controls().Enable(IDC_MAIL_SETTINGS, controls().GetCheck(IDC_EMAIL_ALERT) != 0);
}

void CAlertPage::Activate() {
  CategoryPage::Activate();
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

// --- Business hours ------------------------------------------------------------

CHoursPage::CHoursPage(SettingsStore& store) : CategoryPage(store, tarnwick::kHoursSubkey) {}

const WindowTemplate& CHoursPage::Template() const { return HoursPageTemplate(); }

void CHoursPage::OnCommand(int id) {
  if (id != IDC_DEFINE_HOURS) return;
  controls().ShowMessage(LoadUiString(IDS_HOURS_NOT_AVAILABLE), MessageIcon::kNone);
  CTimesDlg dialog;
  controls().RunDialog(dialog);
}

}  // namespace config_ui
