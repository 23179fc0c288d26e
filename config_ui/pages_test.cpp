// The sheet from end to end against the in-memory store: what each way of
// closing it writes, and what the pages show from what is stored.
#include "pages.h"

#include <gtest/gtest.h>

#include "memory_store.h"
#include "memory_ui.h"
#include "templates.h"

namespace config_ui {
namespace {

using testkit::MemorySheet;
using settings::testkit::MemoryStore;
using testkit::MemoryWindow;

constexpr char kMain[] = "Software\\Pellumin\\Test";
const std::string kMainKey = kMain;
const std::string kRedBody =
    "<BODY bgcolor=\"#FF0000\">\r\n<p><B>Access to this site is restricted.</B></p>\r\n</BODY>";

enum Tab { kGeneral = 0, kDeny = 1, kAlert = 2, kHours = 3 };

// A store with every value set to something other than the defaults.
MemoryStore FilledStore() {
  MemoryStore store;
  store.PutString(kMain, "ControlFile", "D:\\lists\\control");
  store.PutString(kMain, "SiteFile", "D:\\lists\\site");
  store.PutString(kMain, "ErrorMsg", "<p>No.</p>");
  store.PutDword(kMain, "DD", 0);
  store.PutDword(kMain, "Personal", 1);
  store.PutDword(kMain, "Log", 0);
  store.PutDword(kMain, "Mail", 1);
  for (const char* sub : {"\\Deny", "\\Alert", "\\Hours"}) {
    for (const settings::CategoryTableRow& row : settings::kCategoryTable) {
      store.PutString(kMainKey + sub, row.name, std::string("my ") + row.name);
      store.PutDword(kMainKey + sub, std::string(row.name) + "State", 1 - row.defaultState);
    }
  }
  return store;
}

// Runs the sheet once over store with script and checks HXConfig's result.
void RunSheetOnce(MemoryStore& store, MemorySheet::Script script, const char* path = kMain) {
  MemorySheet sheet(std::move(script));
  EXPECT_EQ(RunConfiguration(path, store, sheet), 0);
  EXPECT_EQ(sheet.runs(), 1);
  EXPECT_EQ(store.openKeys(), 0) << "a key left open";
}

// Edits something on every page.
void EditEverything(MemorySheet& s) {
  s.Window(kGeneral).Type(IDC_CONTROL_FILE, "X:\\other");
  s.Window(kGeneral).Type(IDC_ERROR_MESSAGE, "changed");
  for (int tab : {kDeny, kAlert, kHours}) {
    s.Select(tab);
    s.Window(tab).ClickItem(IDC_CATEGORY_LIST, 0);
    s.Window(tab).EditLabel(IDC_CATEGORY_LIST, 1, "renamed");
  }
  s.Window(kDeny).Click(IDC_ALLOW_DOTTED);
  s.Window(kAlert).Click(IDC_LOG_ALERT);
}

TEST(Sheet, CancelLeavesTheStoreByteForByte) {
  for (bool filled : {true, false}) {
    SCOPED_TRACE(filled ? "filled store" : "empty store");
    MemoryStore store = filled ? FilledStore() : MemoryStore();
    const std::string before = store.Snapshot();
    RunSheetOnce(store, [](MemorySheet& s) {
      EditEverything(s);
      s.PressCancel();
    });
    EXPECT_EQ(store.Snapshot(), before);
    EXPECT_TRUE(store.writes().empty());
  }
}

TEST(Sheet, WhatOkWritesDependsOnTheTabsVisited) {
  const std::vector<std::string> general = {kMainKey + "|ControlFile", kMainKey + "|SiteFile",
                                            kMainKey + "|ErrorMsg"};
  struct Case {
    const char* name;
    std::vector<int> tabs;
    std::vector<std::string> scalars;  // writes to the main key after General's
    std::vector<const char*> subkeys;  // written in full (54 values each)
  } cases[] = {
      {"OK at once", {}, {}, {}},
      {"Deny", {kDeny}, {"DD", "Personal"}, {"Deny"}},
      {"Hours", {kHours}, {}, {"Hours"}},
      {"all", {kDeny, kAlert, kHours}, {"DD", "Personal", "Log", "Mail"}, {"Deny", "Alert", "Hours"}},
      {"Alert and back", {kAlert, kGeneral}, {"Log", "Mail"}, {"Alert"}},
  };
  for (const Case& c : cases) {
    for (bool filled : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (filled ? ", filled store" : ", empty store"));
      MemoryStore store = filled ? FilledStore() : MemoryStore();
      RunSheetOnce(store, [&](MemorySheet& s) {
        for (int tab : c.tabs) s.Select(tab);
        s.PressOk();
      });
      std::vector<std::string> mainWrites;
      std::map<std::string, int> subkeyWrites;
      for (const std::string& w : store.writes()) {
        const std::string key = w.substr(0, w.find('|'));
        if (MemoryStore::Lower(key) == MemoryStore::Lower(kMainKey)) mainWrites.push_back(w);
        else ++subkeyWrites[key.substr(kMainKey.size() + 1)];
      }
      std::vector<std::string> wantMain = general;
      for (const std::string& name : c.scalars) wantMain.push_back(kMainKey + "|" + name);
      EXPECT_EQ(mainWrites, wantMain);
      std::map<std::string, int> wantSub;
      for (const char* sub : c.subkeys) wantSub[sub] = 54;
      EXPECT_EQ(subkeyWrites, wantSub);
      if (!filled) {
        EXPECT_EQ(store.FindKey(kMain)->className, "Zelmar Global Data");
        std::string text;
        ASSERT_TRUE(store.GetString(kMain, "ControlFile", &text));
        EXPECT_EQ(text, "C:\\Windows\\System32\\qxcontrol");
        ASSERT_TRUE(store.GetString(kMain, "ErrorMsg", &text));
        EXPECT_EQ(text, kRedBody);
        for (const char* sub : {"Deny", "Alert", "Hours"}) {
          EXPECT_EQ(store.HasKey(kMainKey + "\\" + sub), wantSub.count(sub) == 1) << sub;
        }
      }
    }
  }
}

// The check boxes of the Deny and Alert pages: what they show for what is
// stored, and what OK writes back when the tab was visited.
TEST(Sheet, CheckBoxesShowZeroOneTwoAndAnythingElseAsZero) {
  struct Case {
    const char* name;
    bool mainKey;
    bool stored;
    std::uint32_t value;
    int shown;
    std::uint32_t saved;
  } cases[] = {
      {"no main key", false, false, 0, 1, 1},
      {"value missing", true, false, 0, 0, 0},
      {"0", true, true, 0, 0, 0},
      {"1", true, true, 1, 1, 1},
      {"2", true, true, 2, 1, 1},  // a two-state box shows 2 ticked
      {"7", true, true, 7, 0, 0},
      {"all bits", true, true, 0xFFFFFFFFu, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryStore store;
    if (c.mainKey) store.AddKey(kMain);
    if (c.stored) {
      for (const char* name : {"DD", "Personal", "Log"}) store.PutDword(kMain, name, c.value);
    }
    int dotted = -9, personal = -9, log = -9;
    RunSheetOnce(store, [&](MemorySheet& s) {
      s.Select(kDeny);
      dotted = s.Window(kDeny).GetCheck(IDC_ALLOW_DOTTED);
      personal = s.Window(kDeny).GetCheck(IDC_ALLOW_PERSONAL);
      s.Select(kAlert);
      log = s.Window(kAlert).GetCheck(IDC_LOG_ALERT);
      s.PressOk();
    });
    EXPECT_EQ(dotted, c.shown);
    EXPECT_EQ(personal, c.shown);
    EXPECT_EQ(log, c.shown);
    for (const char* name : {"DD", "Personal", "Log"}) {
      std::uint32_t value = 99;
      ASSERT_TRUE(store.GetDword(kMain, name, &value)) << name;
      EXPECT_EQ(value, c.saved) << name;
    }
  }
}

TEST(Sheet, MailSettingsButtonFollowsTheEmailAlertBox) {
  struct Case {
    const char* name;
    bool stored;
    std::uint32_t mail;
    bool enabled;         // the button as the page opens
    std::uint32_t saved;  // after one click on the box
  } cases[] = {
      {"Mail 1", true, 1, true, 0},
      {"Mail 2", true, 2, true, 0},
      {"Mail 0", true, 0, false, 1},
      {"Mail missing", false, 0, false, 1},
      {"Mail 5", true, 5, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryStore store;
    store.AddKey(kMain);
    if (c.stored) store.PutDword(kMain, "Mail", c.mail);
    RunSheetOnce(store, [&](MemorySheet& s) {
      s.Select(kAlert);
      MemoryWindow& alert = s.Window(kAlert);
      EXPECT_TRUE(alert.IsEnabled(IDC_EMAIL_ALERT));
      EXPECT_EQ(alert.IsEnabled(IDC_MAIL_SETTINGS), c.enabled);
      alert.Click(IDC_EMAIL_ALERT);
      EXPECT_EQ(alert.IsEnabled(IDC_MAIL_SETTINGS), !c.enabled);
      s.Select(kGeneral);
      s.Select(kAlert);
      EXPECT_EQ(alert.IsEnabled(IDC_MAIL_SETTINGS), !c.enabled);
      s.PressOk();
    });
    std::uint32_t mail = 99;
    ASSERT_TRUE(store.GetDword(kMain, "Mail", &mail));
    EXPECT_EQ(mail, c.saved);
  }
}

// What the Mail Settings dialog shows on opening, for what the "Mail"
// subkey holds.
TEST(Sheet, MailSettingsDialogOpensWithTheStoredValues) {
  const std::string kMailKey = kMainKey + "\\Mail";
  struct Case {
    const char* name;
    std::vector<std::pair<const char*, std::uint32_t>> numbers;
    std::vector<std::pair<const char*, std::string>> texts;
    const char* to;
    const char* count;
    const char* interval;
    const char* server;
    const char* port;
    int after, each;              // radio buttons
    bool countOn, intervalOn;     // edits enabled
  } cases[] = {
      {"nothing stored", {}, {}, "administrator", "10", "24", "localhost", "25", 0, 0, true, true},
      {"each 3 hours",
       {{"Rhythm", 2}, {"AlertCount", 5}, {"IntervalHours", 3}, {"Port", 2525}},
       {{"To", "ops@example.org"}, {"Server", "mail.example.org"}},
       "ops@example.org", "5", "3", "mail.example.org", "2525", 0, 1, false, true},
      {"after 7 alerts", {{"Rhythm", 1}, {"AlertCount", 7}}, {}, "administrator", "7", "24",
       "localhost", "25", 1, 0, true, false},
      {"out of range",
       {{"Rhythm", 7}, {"AlertCount", 300}, {"IntervalHours", 4001}, {"Port", 0}},
       {{"Server", std::string(257, 's')}},
       "administrator", "10", "24", "localhost", "25", 0, 0, true, true},
      {"all bits set", {{"Rhythm", 0xFFFFFFFFu}, {"Port", 0xFFFFFFFFu}}, {}, "administrator", "10",
       "24", "localhost", "25", 0, 0, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryStore store;
    store.PutDword(kMain, "Mail", 1);
    store.AddKey(kMailKey);
    for (const auto& [name, value] : c.numbers) store.PutDword(kMailKey, name, value);
    for (const auto& [name, value] : c.texts) store.PutString(kMailKey, name, value);
    const std::string before = store.Snapshot();
    bool opened = false;
    RunSheetOnce(store, [&](MemorySheet& s) {
      s.Select(kAlert);
      s.OnNextDialog([&](MemoryWindow& d) {
        opened = true;
        EXPECT_EQ(d.GetText(IDC_RECIPIENT), c.to);
        EXPECT_EQ(d.GetText(IDC_ALERT_COUNT), c.count);
        EXPECT_EQ(d.GetText(IDC_INTERVAL_HOURS), c.interval);
        EXPECT_EQ(d.GetText(IDC_SMTP_SERVER), c.server);
        EXPECT_EQ(d.GetText(IDC_SMTP_PORT), c.port);
        EXPECT_EQ(d.GetCheck(IDC_SEND_AFTER), c.after);
        EXPECT_EQ(d.GetCheck(IDC_SEND_EACH), c.each);
        EXPECT_EQ(d.IsEnabled(IDC_ALERT_COUNT), c.countOn);
        EXPECT_EQ(d.IsEnabled(IDC_INTERVAL_HOURS), c.intervalOn);
      });
      s.Window(kAlert).Click(IDC_MAIL_SETTINGS);
      s.PressCancel();
    });
    EXPECT_TRUE(opened);
    EXPECT_EQ(store.Snapshot(), before);
  }
}

// The dialog's OK keeps the values with the page; only the sheet's OK
// writes them, and the next opening shows them.
TEST(Sheet, MailSettingsAreStoredOnSheetOkOnly) {
  const std::string kMailKey = kMainKey + "\\Mail";
  // Fills the dialog with other values and presses its OK (or Cancel).
  auto edit = [](bool dialogOk) {
    return [dialogOk](MemoryWindow& d) {
      d.Type(IDC_RECIPIENT, "alerts@example.org");
      d.Click(IDC_SEND_EACH);
      d.Type(IDC_INTERVAL_HOURS, "6");
      d.Type(IDC_SMTP_SERVER, "smtp.example.org");
      d.Type(IDC_SMTP_PORT, "2525");
      if (dialogOk) {
        EXPECT_TRUE(d.PressOk());
      } else {
        d.Click(IDCANCEL_BUTTON);
      }
    };
  };
  struct Case {
    const char* name;
    bool dialogOk;
    bool sheetOk;
    bool written;
  } cases[] = {
      {"both OK", true, true, true},
      {"dialog OK, sheet Cancel", true, false, false},
      {"dialog Cancel, sheet OK", false, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryStore store;
    store.PutDword(kMain, "Mail", 1);
    RunSheetOnce(store, [&](MemorySheet& s) {
      s.Select(kAlert);
      s.OnNextDialog(edit(c.dialogOk));
      s.Window(kAlert).Click(IDC_MAIL_SETTINGS);
      if (c.sheetOk) {
        s.PressOk();
      } else {
        s.PressCancel();
      }
    });
    EXPECT_EQ(store.HasKey(kMailKey), c.written);
    if (!c.written) continue;
    std::string text;
    std::uint32_t number = 0;
    EXPECT_TRUE(store.GetString(kMailKey, "To", &text) && text == "alerts@example.org") << text;
    EXPECT_TRUE(store.GetString(kMailKey, "Server", &text) && text == "smtp.example.org") << text;
    EXPECT_TRUE(store.GetDword(kMailKey, "Rhythm", &number) && number == 2) << number;
    EXPECT_TRUE(store.GetDword(kMailKey, "IntervalHours", &number) && number == 6) << number;
    EXPECT_TRUE(store.GetDword(kMailKey, "AlertCount", &number) && number == 10) << number;
    EXPECT_TRUE(store.GetDword(kMailKey, "Port", &number) && number == 2525) << number;

    // Shown again on the next opening of the sheet.
    RunSheetOnce(store, [&](MemorySheet& s) {
      s.Select(kAlert);
      s.OnNextDialog([](MemoryWindow& d) {
        EXPECT_EQ(d.GetText(IDC_RECIPIENT), "alerts@example.org");
        EXPECT_EQ(d.GetText(IDC_SMTP_PORT), "2525");
        EXPECT_EQ(d.GetCheck(IDC_SEND_EACH), 1);
        EXPECT_FALSE(d.IsEnabled(IDC_ALERT_COUNT));
      });
      s.Window(kAlert).Click(IDC_MAIL_SETTINGS);
      s.PressCancel();
    });
  }
}

TEST(Sheet, ButtonsRunTheirDialogsAndChangeNothingOnThePage) {
  MemoryStore store;
  store.PutDword(kMain, "Mail", 1);
  const std::string before = store.Snapshot();
  std::vector<std::string> dialogs;
  std::vector<testkit::ShownMessage> messages;
  RunSheetOnce(store, [&](MemorySheet& s) {
    s.Select(kAlert);
    s.OnNextDialog([](MemoryWindow& d) {
      d.Type(IDC_SMTP_PORT, "0");
      EXPECT_FALSE(d.PressOk());
      d.Type(IDC_SMTP_PORT, "26");
      EXPECT_TRUE(d.PressOk());
    });
    s.Window(kAlert).Click(IDC_MAIL_SETTINGS);
    s.OnNextDialog([](MemoryWindow& d) {
      EXPECT_EQ(d.GetText(IDC_SMTP_PORT), "26");  // kept with the page, stored only on OK
    });
    s.Window(kAlert).Click(IDC_MAIL_SETTINGS);
    s.Select(kHours);
    s.Window(kHours).Click(IDC_DEFINE_HOURS);
    dialogs = s.dialogsRun();
    messages = s.messages();
    s.PressCancel();
  });
  EXPECT_EQ(dialogs, (std::vector<std::string>{"MailSettingsDialog", "MailSettingsDialog",
                                               "TimesDialog"}));
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].text, "Please enter an integer between 1 and 32000.");
  EXPECT_EQ(messages[1].window, "HoursPage");
  EXPECT_EQ(messages[1].icon, MessageIcon::kNone);
  EXPECT_EQ(messages[1].text,
            "Sorry, functionality is not available yet.\nBusiness hours are set to 8:00 AM to "
            "12:00 PM,\nand 1:00 PM to 5:00 PM.");
  EXPECT_EQ(store.Snapshot(), before);
}

TEST(Sheet, ASecondCallWithAnotherPathLoadsAndSavesOnlyThere) {
  MemoryStore store = FilledStore();
  store.PutString("Software\\Other", "ControlFile", "other control");
  RunSheetOnce(store, [](MemorySheet& s) { s.PressOk(); });
  const MemoryStore afterFirst = store;
  store.ClearWrites();
  const std::size_t openedBefore = store.opens().size();
  std::string shown;
  RunSheetOnce(
      store,
      [&](MemorySheet& s) {
        shown = s.Window(kGeneral).GetText(IDC_CONTROL_FILE);
        s.Select(kDeny);
        s.PressOk();
      },
      "Software\\Other");
  EXPECT_EQ(shown, "other control");
  // Every key the second run opened lies below its own path.
  ASSERT_FALSE(store.opens().empty());
  for (std::size_t i = openedBefore; i < store.opens().size(); ++i) {
    EXPECT_EQ(store.opens()[i].rfind("Software\\Other\\", 0), 0u) << store.opens()[i];
  }
  for (const std::string& w : store.writes()) {
    EXPECT_EQ(w.rfind("Software\\Other", 0), 0u) << w;
  }
  EXPECT_EQ(store.ValueCount("Software\\Other\\Deny"), 54u);
  // The first path's keys are as the first call left them.
  for (const char* sub : {"", "\\Deny", "\\Alert", "\\Hours"}) {
    const MemoryStore::KeyData* now = store.FindKey(kMainKey + sub);
    const MemoryStore::KeyData* then = afterFirst.FindKey(kMainKey + sub);
    ASSERT_TRUE(now != nullptr && then != nullptr) << sub;
    ASSERT_EQ(now->values.size(), then->values.size()) << sub;
    for (const auto& [name, value] : then->values) {
      EXPECT_EQ(now->values.at(name).bytes, value.bytes) << sub << " " << name;
    }
  }
}

TEST(Sheet, ANullPathIsTheEmptyPath) {
  MemoryStore store;
  RunSheetOnce(store, [](MemorySheet& s) { s.PressOk(); }, nullptr);
  ASSERT_FALSE(store.opens().empty());
  for (const std::string& opened : store.opens()) {
    EXPECT_EQ(opened.rfind("\\", 0), 0u) << opened;  // the empty path, a backslash, the subkey
  }
  ASSERT_FALSE(store.writes().empty());
  EXPECT_EQ(store.writes()[0], "|ControlFile");
}

TEST(Sheet, KeysThatCannotBeWrittenAreReportedOncePerKey) {
  MemoryStore store;
  for (const char* sub : {"", "\\Deny", "\\Alert"}) {
    store.RefuseCreating(kMainKey + sub);
  }
  std::vector<testkit::ShownMessage> messages;
  MemorySheet sheet([&](MemorySheet& s) {
    s.Select(kDeny);
    s.Select(kAlert);
    s.Select(kHours);
    s.PressOk();
    messages = s.messages();
  });
  RunConfiguration(kMain, store, sheet);
  // General, Deny's flags and list, Alert's flags and list; Hours' subkey
  // can be made (with its parent).
  ASSERT_EQ(messages.size(), 5u);
  for (const testkit::ShownMessage& m : messages) {
    EXPECT_EQ(m.text, "Error saving settings to registry.");
    EXPECT_EQ(m.icon, MessageIcon::kWarning);
    EXPECT_EQ(m.caption, MessageCaption());
  }
  EXPECT_EQ(store.ValueCount(kMainKey + "\\Hours"), 54u);
  EXPECT_EQ(store.ValueCount(kMain), 0u);
}

TEST(Sheet, LeavingATabAndComingBackKeepsWhatWasDone) {
  MemoryStore store;
  RunSheetOnce(store, [](MemorySheet& s) {
    s.Window(kGeneral).Type(IDC_SITE_FILE, "E:\\site");
    s.Select(kDeny);
    s.Window(kDeny).ClickItem(IDC_CATEGORY_LIST, 0);  // Alternative Journals: 0 -> 1
    s.Window(kDeny).Click(IDC_ALLOW_PERSONAL);
    s.Select(kGeneral);
    EXPECT_EQ(s.Window(kGeneral).GetText(IDC_SITE_FILE), "E:\\site");
    s.Select(kDeny);
    EXPECT_EQ(s.Window(kDeny).ItemCount(IDC_CATEGORY_LIST), 27);
    EXPECT_EQ(s.Window(kDeny).GetItemGlyph(IDC_CATEGORY_LIST, 0), 1);
    EXPECT_EQ(s.Window(kDeny).GetCheck(IDC_ALLOW_PERSONAL), 0);
    s.PressOk();
  });
  std::uint32_t value = 9;
  ASSERT_TRUE(store.GetDword(kMainKey + "\\Deny", "Alternative JournalsState", &value));
  EXPECT_EQ(value, 1u);
  ASSERT_TRUE(store.GetDword(kMain, "Personal", &value));
  EXPECT_EQ(value, 0u);
  std::string text;
  ASSERT_TRUE(store.GetString(kMain, "SiteFile", &text));
  EXPECT_EQ(text, "E:\\site");
}

TEST(LineBreaksOnOneLine, AreShownEscapedAndReadBackExactly) {
  struct Case {
    std::string stored;
    std::string shown;
  } cases[] = {
      {kRedBody,
       "<BODY bgcolor=\"#FF0000\">\\r\\n<p><B>Access to this site is restricted.</B></p>\\r\\n"
       "</BODY>"},
      {"a\nb\rc", "a\\nb\\rc"},
      {"C:\\dir\\new", "C:\\\\dir\\\\new"},
      {"end\\", "end\\\\"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ShowLineBreaks(c.stored), c.shown);
    EXPECT_EQ(ReadLineBreaks(c.shown), c.stored);
  }
  // Typed by hand: an escape the edit does not make stays as it stands.
  EXPECT_EQ(ReadLineBreaks("50\\% \\x \\"), "50\\% \\x \\");
  EXPECT_EQ(ReadLineBreaks("<p>a</p>\\r\\n<p>b</p>"), "<p>a</p>\r\n<p>b</p>");
}

TEST(ErrorMessageEdit, HoldsTheStoredTextWithItsLineBreaksAndKeepsItExactly) {
  // An untouched message (longer than the 4096-byte read buffer, with every
  // kind of line break and a backslash) is shown and saved as it was loaded.
  MemoryStore store;
  const std::string long_text = std::string(5000, 'x') + "\r\n\\n\n\r";
  store.PutString(kMain, "ErrorMsg", long_text);
  std::string shown, shownDefault;
  RunSheetOnce(store, [&](MemorySheet& s) {
    shown = s.Window(kGeneral).GetText(IDC_ERROR_MESSAGE);
    s.Select(kDeny);
    s.PressOk();
  });
  EXPECT_EQ(shown, long_text);
  std::string text;
  ASSERT_TRUE(store.GetString(kMain, "ErrorMsg", &text));
  EXPECT_EQ(text, long_text);

  MemoryStore empty;
  RunSheetOnce(empty, [&](MemorySheet& s) {
    shownDefault = s.Window(kGeneral).GetText(IDC_ERROR_MESSAGE);
    s.PressCancel();
  });
  EXPECT_EQ(shownDefault, kRedBody);
}

}  // namespace
}  // namespace config_ui
