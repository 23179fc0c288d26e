// The Mail Settings dialog's checks and the Times dialog's contents, played
// against the in-memory front end.
#include "dialogs.h"

#include <gtest/gtest.h>

#include "memory_ui.h"
#include "templates.h"

namespace config_ui {
namespace {

using testkit::MemoryUi;
using testkit::MemoryWindow;

TEST(ReadDialogInteger, TakesWhatTheFieldsAccept) {
  struct Case {
    const char* text;
    bool ok;
    std::int32_t value;
  } cases[] = {
      {"25", true, 25},
      {" \t25 \t", true, 25},
      {"-7", true, -7},
      {"+7", true, 7},
      {"0", true, 0},
      {"00", true, 0},
      {"  0", true, 0},
      {"", false, 0},
      {"   ", false, 0},
      {"+0", false, 0},
      {"-0", false, 0},
      {"+", false, 0},
      {"25a", false, 0},
      {"2 5", false, 0},
      {"0x10", false, 0},
      {"1.5", false, 0},
      {"99999999999", true, 2147483647},
      {"-99999999999", true, -2147483647 - 1},
      // Only the first 31 characters count: what follows is not looked at.
      {"1                              x", true, 1},
      {"                               5", false, 0},
  };
  for (const Case& c : cases) {
    std::int32_t value = -12345;
    EXPECT_EQ(ReadDialogInteger(c.text, &value), c.ok) << '"' << c.text << '"';
    if (c.ok) {
      EXPECT_EQ(value, c.value) << '"' << c.text << '"';
    }
  }
}

TEST(FillMessage, ReplacesBothPlaceholders) {
  EXPECT_EQ(FillMessage("Please enter an integer between %1 and %2.", "1", "32000"),
            "Please enter an integer between 1 and 32000.");
  EXPECT_EQ(FillMessage("no more than %1 characters, %3%", "256"), "no more than 256 characters, %3%");
}

class MailSettings : public ::testing::Test {
 protected:
  MailSettings() : window_(ui_, dialog_) { dialog_.OnCreate(window_); }
  MemoryUi ui_;
  CMailSettingsDlg dialog_;
  MemoryWindow window_;
};

TEST_F(MailSettings, OpensWithItsDefaultsAndNoRadioButtonOn) {
  EXPECT_EQ(window_.GetText(IDC_ALERT_COUNT), "10");
  EXPECT_EQ(window_.GetText(IDC_RECIPIENT), "administrator");
  EXPECT_EQ(window_.GetText(IDC_INTERVAL_HOURS), "24");
  EXPECT_EQ(window_.GetText(IDC_SMTP_SERVER), "localhost");
  EXPECT_EQ(window_.GetText(IDC_SMTP_PORT), "25");
  EXPECT_EQ(window_.control(IDC_SMTP_SERVER).limit, 256);
  EXPECT_EQ(window_.GetCheck(IDC_SEND_EACH), 0);
  EXPECT_EQ(window_.GetCheck(IDC_SEND_AFTER), 0);
  EXPECT_TRUE(window_.IsEnabled(IDC_ALERT_COUNT));
  EXPECT_TRUE(window_.IsEnabled(IDC_INTERVAL_HOURS));
}

TEST_F(MailSettings, RadioButtonsEnableTheirOwnEdit) {
  window_.Click(IDC_SEND_EACH);
  EXPECT_TRUE(window_.IsEnabled(IDC_INTERVAL_HOURS));
  EXPECT_FALSE(window_.IsEnabled(IDC_ALERT_COUNT));
  window_.Click(IDC_SEND_AFTER);
  EXPECT_FALSE(window_.IsEnabled(IDC_INTERVAL_HOURS));
  EXPECT_TRUE(window_.IsEnabled(IDC_ALERT_COUNT));
  EXPECT_EQ(window_.GetCheck(IDC_SEND_EACH), 0);
}

TEST_F(MailSettings, RefusesTheFirstBadFieldOnlyAndKeepsTheDialogOpen) {
  struct Case {
    const char* name;
    int field;
    const char* text;
    int secondField;  // another bad field after it, or 0
    const char* secondText;
    const char* message;
  } cases[] = {
      {"port 0", IDC_SMTP_PORT, "0", 0, "", "Please enter an integer between 1 and 32000."},
      {"port with a letter", IDC_SMTP_PORT, "25x", 0, "", "Please enter an integer."},
      {"count 300", IDC_ALERT_COUNT, "300", IDC_SMTP_PORT, "0",
       "Please enter an integer between 0 and 255."},
      {"count -1", IDC_ALERT_COUNT, "-1", 0, "", "Please enter an integer between 0 and 255."},
      {"empty count", IDC_ALERT_COUNT, "", 0, "", "Please enter an integer."},
      {"interval 4001", IDC_INTERVAL_HOURS, "4001", IDC_SMTP_PORT, "x",
       "Please enter an integer between 0 and 4000."},
      {"interval -0", IDC_INTERVAL_HOURS, "-0", 0, "", "Please enter an integer."},
      {"server of 257", IDC_SMTP_SERVER, nullptr, IDC_SMTP_PORT, "0",
       "Please enter no more than 256 characters."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryUi ui;
    CMailSettingsDlg dialog;
    MemoryWindow window(ui, dialog);
    dialog.OnCreate(window);
    // Typing stops at the edit's limit; a longer text can only come from a
    // front end without one, and is still refused.
    if (c.text == nullptr) window.SetText(c.field, std::string(257, 's'));
    else window.Type(c.field, c.text);
    if (c.secondField != 0) window.Type(c.secondField, c.secondText);
    EXPECT_FALSE(window.PressOk());
    ASSERT_EQ(ui.messages().size(), 1u);
    EXPECT_EQ(ui.messages()[0].text, c.message);
    EXPECT_EQ(ui.messages()[0].icon, MessageIcon::kWarning);
    EXPECT_EQ(ui.messages()[0].caption, MessageCaption());
    EXPECT_EQ(ui.messages()[0].window, "MailSettingsDialog");
    EXPECT_EQ(window.focus(), c.field);
    EXPECT_TRUE(window.control(c.field).selectedAll);
    EXPECT_FALSE(window.closed());
  }
}

TEST_F(MailSettings, ChecksADisabledFieldTooAndFocusesItsRadioButton) {
  window_.Click(IDC_SEND_EACH);  // disables the alert count
  window_.Type(IDC_ALERT_COUNT, "300");
  EXPECT_FALSE(window_.PressOk());
  ASSERT_EQ(ui_.messages().size(), 1u);
  EXPECT_EQ(ui_.messages()[0].text, "Please enter an integer between 0 and 255.");
  EXPECT_TRUE(window_.control(IDC_ALERT_COUNT).selectedAll);
  EXPECT_EQ(window_.focus(), IDC_SEND_AFTER);
}

TEST_F(MailSettings, GoodFieldsCloseAndCancelNeverAsks) {
  window_.Type(IDC_SMTP_PORT, "  25  ");
  window_.Type(IDC_SMTP_SERVER, std::string(300, 'm'));  // cut to 256 by the edit
  window_.Type(IDC_ALERT_COUNT, "255");
  window_.Type(IDC_INTERVAL_HOURS, "0");
  EXPECT_TRUE(window_.PressOk());
  EXPECT_TRUE(ui_.messages().empty());
  EXPECT_EQ(dialog_.smtpPort(), 25);
  EXPECT_EQ(dialog_.smtpServer().size(), 256u);
  EXPECT_EQ(dialog_.alertCount(), 255);

  MemoryUi ui;
  CMailSettingsDlg dialog;
  MemoryWindow window(ui, dialog);
  dialog.OnCreate(window);
  window.Type(IDC_SMTP_PORT, "nonsense");
  window.Click(IDCANCEL_BUTTON);
  EXPECT_TRUE(window.closed());
  EXPECT_TRUE(ui.messages().empty());
}

TEST(TimesDialog, ListsTheSevenDaysFromSunday) {
  MemoryUi ui;
  CTimesDlg dialog;
  MemoryWindow window(ui, dialog);
  dialog.OnCreate(window);
  const MemoryWindow::Control& days = window.control(IDC_DAYS);
  EXPECT_EQ(days.headings, std::vector<std::string>(48, ""));
  const char* expected[] = {"Sunday",   "Monday", "Tuesday", "Wednsday",
                            "Thursday", "Friday", "Saturday"};
  ASSERT_EQ(window.ItemCount(IDC_DAYS), 7);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(window.GetItemText(IDC_DAYS, i, 0), expected[i]);
}

}  // namespace
}  // namespace config_ui
