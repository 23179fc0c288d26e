// Checks of the window descriptions that both the resource script and the
// front ends are made from.
#include "templates.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "controls.h"

namespace config_ui {
namespace {

TEST(Templates, ControlsLieInsideTheirWindowAndIdentifiersAreUnique) {
  std::size_t count = 0;
  const WindowTemplate* const* all = AllTemplates(&count);
  ASSERT_EQ(count, 6u);
  for (std::size_t w = 0; w < count; ++w) {
    const WindowTemplate& window = *all[w];
    std::set<int> ids;
    for (std::size_t i = 0; i < window.controlCount; ++i) {
      const ControlTemplate& c = window.controls[i];
      SCOPED_TRACE(std::string(window.name) + " control " + std::to_string(c.id) + " " + c.text);
      EXPECT_GE(c.x, 0);
      EXPECT_GE(c.y, 0);
      EXPECT_LE(c.x + c.width, window.width);
      EXPECT_LE(c.y + c.height, window.height);
      if (c.id != IDC_STATIC) {
        EXPECT_TRUE(ids.insert(c.id).second);
      } else {
        EXPECT_EQ(c.style & PL_WS_TABSTOP, 0u);  // only controls with an identifier take Tab
      }
    }
  }
}

TEST(Templates, PagesShareOneSizeAndStyle) {
  for (const WindowTemplate* page : {&GeneralPageTemplate(), &DenyPageTemplate(),
                                     &AlertPageTemplate(), &HoursPageTemplate()}) {
    EXPECT_EQ(page->width, 230) << page->name;
    EXPECT_EQ(page->height, 150) << page->name;
    EXPECT_EQ(page->style, static_cast<std::uint32_t>(PL_PAGE_STYLE)) << page->name;
    const ControlTemplate* list = page->Find(IDC_CATEGORY_LIST);
    if (page == &GeneralPageTemplate()) {
      EXPECT_EQ(list, nullptr);
      continue;
    }
    ASSERT_NE(list, nullptr) << page->name;
    EXPECT_EQ(list->kind, ControlKind::kList);
    EXPECT_EQ(list->style, static_cast<std::uint32_t>(PL_CATEGORY_LIST_STYLE));
    EXPECT_EQ(list->x, 7);
    EXPECT_EQ(list->y, 18);
    EXPECT_EQ(list->width, 216);
    EXPECT_EQ(list->height, 100);
  }
}

// Texts the administrator knows as they stand, spelling included: a
// "corrected" text breaks every script and guide written against them.
TEST(Templates, TextsStandAsShipped) {
  struct Case {
    const WindowTemplate& window;
    int id;
    const char* text;
  } cases[] = {
      {HoursPageTemplate(), IDC_STATIC, "Deny access to these categories durring busines hours:"},
      {AlertPageTemplate(), IDC_STATIC, "Send allert when these categories are accesed:"},
      {AlertPageTemplate(), IDC_EMAIL_ALERT, "E-mail alert."},
      {DenyPageTemplate(), IDC_ALLOW_PERSONAL,
       "Allow users to connect to uncategorized personal sites."},
      {MailSettingsTemplate(), IDC_SEND_AFTER, "After"},
      {MailSettingsTemplate(), IDC_SEND_EACH, "Each"},
  };
  for (const Case& c : cases) {
    const ControlTemplate* control = c.window.Find(c.id);
    ASSERT_NE(control, nullptr) << c.text;
    EXPECT_STREQ(control->text, c.text);
  }
  EXPECT_STREQ(HoursPageTemplate().caption, "Busines Hours");
  EXPECT_STREQ(LoadUiString(IDS_SHEET_CAPTION), "Pellumin Contol List Processing");
  EXPECT_STREQ(LoadUiString(IDS_HOURS_NOT_AVAILABLE),
               "Sorry, functionality is not available yet.\nBusiness hours are set to 8:00 AM "
               "to 12:00 PM,\nand 1:00 PM to 5:00 PM.");
  EXPECT_EQ(LoadUiString(1), nullptr);
}

// The resource script must make its templates and strings from
// templates.inc, not from a copy of its own.
TEST(Templates, ResourceScriptExpandsTheOneDescription) {
  std::ifstream in(PELLUMIN_CONFIG_UI_DIR "/tarnwick_ui.rc");
  ASSERT_TRUE(in) << "tarnwick_ui.rc";
  std::stringstream text;
  text << in.rdbuf();
  const std::string rc = text.str();
  auto count = [&rc](const char* word) {
    std::size_t n = 0;
    for (std::size_t at = rc.find(word); at != std::string::npos; at = rc.find(word, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("#include \"templates.inc\""), 2u);  // the strings, then the templates
  // One DIALOGEX and one CONTROL, in the macros: a template or control
  // written out beside the expanded ones would be a second copy.
  EXPECT_EQ(count("DIALOGEX"), 1u);
  EXPECT_EQ(count("CONTROL text"), 1u);
  EXPECT_EQ(count(" CONTROL"), 1u);
  EXPECT_NE(rc.find("IDB_CATEGORY_GLYPHS BITMAP \"glyphs.bmp\""), std::string::npos);
}

}  // namespace
}  // namespace config_ui

namespace config_ui {
namespace {

TEST(MessageCaption, IsTheModuleFileNameWithoutFolderAndExtension) {
  struct Case {
    const char* path;
    const char* caption;
  } cases[] = {
      {"C:\\Program Files\\Proxy\\Tarnwick.dll", "Tarnwick"},
      {"/usr/lib/pellumin/libtarnwick.so", "libtarnwick"},
      {"Tarnwick", "Tarnwick"},
      {"C:\\odd.dir\\Tarnwick", "Tarnwick"},
      {"C:\\x\\Tarnwick.backup.dll", "Tarnwick.backup"},
  };
  for (const Case& c : cases) EXPECT_EQ(CaptionFromModulePath(c.path), c.caption) << c.path;
}

}  // namespace
}  // namespace config_ui
