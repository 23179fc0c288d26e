// dialogs.cpp -- the Mail Settings and Times dialogs.
#include "dialogs.h"

#include <limits>

#include "templates.h"

namespace config_ui {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

const char* const kDayNames[] = {"Sunday",   "Monday", "Tuesday", "Wednsday",
                                 "Thursday", "Friday", "Saturday"};

}  // namespace

bool ReadDialogInteger(const std::string& whole, std::int32_t* value) {
  const std::string text = whole.substr(0, 31);
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  const bool startsWithZero = i < text.size() && text[i] == '0';
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::size_t digitsStart = i;
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (magnitude <= std::numeric_limits<std::int32_t>::max()) {
      magnitude = magnitude * 10 + (text[i] - '0');
    }
  }
  if (i == digitsStart) return false;
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (i != text.size()) return false;
  if (magnitude == 0 && !startsWithZero) return false;
  const std::int64_t signedValue = negative ? -magnitude : magnitude;
  if (signedValue > std::numeric_limits<std::int32_t>::max()) {
    *value = std::numeric_limits<std::int32_t>::max();
  } else if (signedValue < std::numeric_limits<std::int32_t>::min()) {
    *value = std::numeric_limits<std::int32_t>::min();
  } else {
    *value = static_cast<std::int32_t>(signedValue);
  }
  return true;
}

std::string FillMessage(const char* format, const std::string& first, const std::string& second) {
  std::string out;
  for (const char* p = format; *p != '\0'; ++p) {
    if (p[0] == '%' && (p[1] == '1' || p[1] == '2')) {
      out += p[1] == '1' ? first : second;
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

// --- Mail Settings -------------------------------------------------------------

CMailSettingsDlg::CMailSettingsDlg(const settings::MailSettings& start)
    : start_(start),
      alertCount_(start.alertCount),
      recipient_(start.to),
      intervalHours_(start.intervalHours),
      smtpServer_(start.server),
      smtpPort_(start.port),
      rhythm_(start.rhythm) {}

const WindowTemplate& CMailSettingsDlg::Template() const { return MailSettingsTemplate(); }

settings::MailSettings CMailSettingsDlg::values() const {
  settings::MailSettings values = start_;
  values.alertCount = alertCount_;
  values.to = recipient_;
  values.intervalHours = intervalHours_;
  values.server = smtpServer_;
  values.port = smtpPort_;
  values.rhythm = rhythm_;
  return values;
}

void CMailSettingsDlg::OnCreate(Controls& controls) {
  controls_ = &controls;
  if (rhythm_ == settings::kRhythmAfter) {
    controls.SetCheck(IDC_SEND_AFTER, 1);
    controls.Enable(IDC_INTERVAL_HOURS, false);
  } else if (rhythm_ == settings::kRhythmEach) {
    controls.SetCheck(IDC_SEND_EACH, 1);
    controls.Enable(IDC_ALERT_COUNT, false);
  }
  controls.SetText(IDC_ALERT_COUNT, std::to_string(alertCount_));
  controls.SetText(IDC_RECIPIENT, recipient_);
  controls.SetText(IDC_INTERVAL_HOURS, std::to_string(intervalHours_));
  controls.SetText(IDC_SMTP_SERVER, smtpServer_);
  controls.SetText(IDC_SMTP_PORT, std::to_string(smtpPort_));
  controls.LimitText(IDC_SMTP_SERVER, kServerNameLimit);
}

void CMailSettingsDlg::OnCommand(int id) {
  if (id == IDC_SEND_EACH || id == IDC_SEND_AFTER) {
    controls_->Enable(IDC_INTERVAL_HOURS, id == IDC_SEND_EACH);
    controls_->Enable(IDC_ALERT_COUNT, id == IDC_SEND_AFTER);
  }
}

void CMailSettingsDlg::Refuse(int id, const std::string& message) {
  controls_->ShowMessage(message, MessageIcon::kWarning);
  controls_->FocusAndSelectAll(id);
  // A disabled edit cannot take the focus: it goes to the radio button that
  // enables the edit, whose text stays selected.
  if (!controls_->IsEnabled(id)) {
    if (id == IDC_ALERT_COUNT) controls_->FocusAndSelectAll(IDC_SEND_AFTER);
    if (id == IDC_INTERVAL_HOURS) controls_->FocusAndSelectAll(IDC_SEND_EACH);
  }
}

bool CMailSettingsDlg::TakeInteger(int id, std::int32_t low, std::int32_t high,
                                   std::int32_t* field) {
  std::int32_t value = 0;
  if (!ReadDialogInteger(controls_->GetText(id), &value)) {
    Refuse(id, LoadUiString(IDS_NOT_AN_INTEGER));
    return false;
  }
  *field = value;
  if (value < low || value > high) {
    Refuse(id, FillMessage(LoadUiString(IDS_INTEGER_RANGE), std::to_string(low),
                           std::to_string(high)));
    return false;
  }
  return true;
}

bool CMailSettingsDlg::OnDialogOk() {
  // Every field is checked, in this order, whether its edit is enabled or
  // not; the first failure keeps the dialog open.
  if (!TakeInteger(IDC_ALERT_COUNT, 0, 255, &alertCount_)) return false;
  recipient_ = controls_->GetText(IDC_RECIPIENT);
  if (!TakeInteger(IDC_INTERVAL_HOURS, 0, 4000, &intervalHours_)) return false;
  smtpServer_ = controls_->GetText(IDC_SMTP_SERVER);
  if (smtpServer_.size() > static_cast<std::size_t>(kServerNameLimit)) {
    Refuse(IDC_SMTP_SERVER, FillMessage(LoadUiString(IDS_TOO_MANY_CHARACTERS),
                                        std::to_string(kServerNameLimit)));
    return false;
  }
  if (!TakeInteger(IDC_SMTP_PORT, 1, 32000, &smtpPort_)) return false;
  if (controls_->GetCheck(IDC_SEND_AFTER) != 0) rhythm_ = settings::kRhythmAfter;
  if (controls_->GetCheck(IDC_SEND_EACH) != 0) rhythm_ = settings::kRhythmEach;
  accepted_ = true;
  return true;
}

// --- Times -----------------------------------------------------------------------

const WindowTemplate& CTimesDlg::Template() const { return TimesTemplate(); }

void CTimesDlg::OnCreate(Controls& controls) {
  for (int column = 0; column < kColumnCount; ++column) controls.InsertColumn(IDC_DAYS, column, "");
  for (int day = 0; day < 7; ++day) controls.InsertItem(IDC_DAYS, day, kDayNames[day], -1);
}

}  // namespace config_ui
