// Tests of the store operations the request filter and the configuration
// pages call, against a settings file written by hand.
#include "settings_store.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "category_table.h"
#include "defaults.h"
#include "testing/host_fixture.h"

namespace tarnwick {
namespace {

using testing::Dword;
using testing::Registry;
using testing::Text;

std::vector<std::string> g_shown;
void CaptureMessage(const char* text) { g_shown.emplace_back(text); }

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_shown.clear();
    SetMessageBoxHook(&CaptureMessage);
    path_ = Registry::Get().FreshKeyPath("Store");
    ASSERT_TRUE(SetConfigurationKeyPath(path_.c_str()));
  }
  void TearDown() override { SetMessageBoxHook(nullptr); }
  std::string path_;
};

TEST(CategoryTableTest, NumbersEachCategoryOnceInNameOrder) {
  std::vector<int> seen(kCategoryCount + 1, 0);
  int ticked = 0;
  for (int i = 0; i < kCategoryCount; ++i) {
    const CategoryTableRow& row = kCategoryTable[i];
    ASSERT_GE(row.categoryNumber, 1);
    ASSERT_LE(row.categoryNumber, kCategoryCount);
    ++seen[row.categoryNumber];
    ticked += row.defaultState;
    if (i > 0) {
      EXPECT_LT(std::strcmp(kCategoryTable[i - 1].name, row.name), 0) << row.name;
    }
  }
  for (int n = 1; n <= kCategoryCount; ++n) EXPECT_EQ(seen[n], 1) << n;
  EXPECT_EQ(ticked, 7);
}

TEST_F(SettingsStoreTest, ValuesReadBackAsWrittenAndMissingOnesReadAsUnreadable) {
  SettingsKey key = OpenSettingsKeyForWriting("");
  ASSERT_NE(key, nullptr);
  EXPECT_TRUE(WriteDwordValue(key, "Log", 1));
  EXPECT_TRUE(WriteDwordValue(key, "All", -1));
  EXPECT_TRUE(WriteStringValue(key, "ErrorMsg", "<p>a\r\nb</p>"));
  EXPECT_TRUE(CloseSettingsKey(key));

  key = OpenPluginKey(path_.c_str(), KeyAccess::kRead);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(ReadDwordValue(key, "Log"), 1);
  EXPECT_EQ(ReadDwordValue(key, "All"), -1);  // all bits set reads like a missing value
  EXPECT_EQ(ReadDwordValue(key, "Missing"), -1);
  EXPECT_EQ(ReadDwordValue(key, "ErrorMsg"), -1);  // not four bytes

  char text[32] = "keep";
  EXPECT_TRUE(ReadStringValue(key, "ErrorMsg", text, sizeof(text)));
  EXPECT_STREQ(text, "<p>a\r\nb</p>");
  std::strcpy(text, "keep");
  EXPECT_FALSE(ReadStringValue(key, "Missing", text, sizeof(text)));
  EXPECT_STREQ(text, "keep");
  CloseSettingsKey(key);
}

// A value is read only when it fits whole with its NUL; otherwise the
// destination keeps every byte it held.
TEST_F(SettingsStoreTest, StringThatDoesNotFitLeavesTheDestinationUntouched) {
  Registry::Get().Import({{path_, {Text("Ten", "0123456789")}}});
  SettingsKey key = OpenPluginKey(path_.c_str(), KeyAccess::kRead);
  ASSERT_NE(key, nullptr);
  for (std::size_t capacity : {std::size_t{1}, std::size_t{5}, std::size_t{10}, std::size_t{11}}) {
    std::vector<char> out(16, '#');
    const bool read = ReadStringValue(key, "Ten", out.data(), capacity);
    EXPECT_EQ(read, capacity >= 11) << capacity;
    if (read) {
      EXPECT_STREQ(out.data(), "0123456789");
    } else {
      EXPECT_EQ(std::string(out.begin(), out.end()), std::string(16, '#')) << capacity;
    }
  }
  CloseSettingsKey(key);
}

TEST_F(SettingsStoreTest, WritingCreatesAMissingKeyAndReportsAKeyItCannotMake) {
  EXPECT_EQ(OpenSettingsKey("Deny", KeyAccess::kRead), nullptr);
  SettingsKey key = OpenSettingsKeyForWriting("Deny");
  ASSERT_NE(key, nullptr);
  CloseSettingsKey(key);
  EXPECT_TRUE(g_shown.empty());
  key = OpenSettingsKey("Deny", KeyAccess::kRead);
  EXPECT_NE(key, nullptr);
  CloseSettingsKey(key);

  // A name longer than 255 characters is no key on either system: the
  // message is shown once and nothing is made.
  const std::string overlong(300, 'n');
  EXPECT_EQ(OpenSettingsKeyForWriting(overlong.c_str()), nullptr);
  EXPECT_EQ(g_shown, std::vector<std::string>{"Error saving settings to registry."});
  EXPECT_EQ(OpenSettingsKey(overlong.c_str(), KeyAccess::kRead), nullptr);
  EXPECT_EQ(OpenSettingsKey(overlong.substr(0, 255).c_str(), KeyAccess::kRead), nullptr);
  EXPECT_EQ(g_shown.size(), 1u);

#ifndef _WIN32
  // The settings file also refuses an empty name between two backslashes
  // (the Windows registry makes a key of such a path, so there it is no
  // failure to report).
  g_shown.clear();
  EXPECT_EQ(OpenSettingsKeyForWriting("Bad\\\\Name"), nullptr);
  EXPECT_EQ(g_shown, std::vector<std::string>{"Error saving settings to registry."});
#endif
}

// A path that does not fit is refused, never cut to a different key.
TEST_F(SettingsStoreTest, OverlongPathsOpenNothing) {
  std::string longPath = path_;
  while (longPath.size() < kJoinedPathSize) longPath += "\\Segment";
  ASSERT_TRUE(SetConfigurationKeyPath(longPath.c_str()));
  EXPECT_EQ(OpenSettingsKey("", KeyAccess::kRead), nullptr);
  EXPECT_FALSE(CreateSettingsKey("Deny"));
  EXPECT_EQ(OpenSettingsKeyForWriting("Deny"), nullptr);
  EXPECT_EQ(g_shown.size(), 1u);

  std::string tooLong(kKeyPathSize, 'p');
  EXPECT_FALSE(SetConfigurationKeyPath(tooLong.c_str()));
  EXPECT_STREQ(ConfigurationKeyPath(), "");
  EXPECT_EQ(OpenSettingsKey("", KeyAccess::kRead), nullptr);
}

TEST_F(SettingsStoreTest, CategorySetTakesOnlyStatesOfExactlyOne) {
  Registry::Get().Import({{path_ + "\\Deny",
                           {Dword("SexState", 1), Dword("DrugsState", 2), Dword("ChatState", 0xFFFFFFFFu),
                            Text("Worthless", "Useless"), Dword("Opinion, Politics, & ReligionState", 1),
                            Text("CultsState", "1")}}});
  QxTypes* set = QX_AllocateTypes();
  ASSERT_NE(set, nullptr);
  EXPECT_TRUE(LoadCategorySet((path_ + "\\Deny").c_str(), set));
  std::vector<int> members;
  for (int n = 1; n <= kCategoryCount; ++n) {
    if (QX_TestThisCategory(set, n) == QX_YES) members.push_back(n);
  }
  EXPECT_EQ(members, (std::vector<int>{1, 20}));
  EXPECT_TRUE(LoadCategorySet((path_ + "\\Absent").c_str(), set));
  QX_FreeTypes(set);
}

// The pages' load rule: a row keeps its stored name only together with a
// readable state; a missing subkey gives every row its defaults.
TEST_F(SettingsStoreTest, CategoryRowsFallBackRowByRow) {
  Registry::Get().Import({{path_ + "\\Alert",
                           {Dword("SexState", 1),                            // no name
                            Text("Drugs", "Narcotics"),                      // no state
                            Text("Chat", "Talk"), Dword("ChatState", 2),     // both
                            Text("Games", ""), Dword("GamesState", 0),       // empty name
                            Text("Humor", "Jokes"), Dword("HumorState", 0xFFFFFFFFu)}}});
  CategoryRow rows[kCategoryCount];
  LoadFromStore("Alert", rows);
  auto row = [&](const char* name) -> const CategoryRow& {
    for (int i = 0; i < kCategoryCount; ++i) {
      if (std::strcmp(kCategoryTable[i].name, name) == 0) return rows[i];
    }
    ADD_FAILURE() << name;
    return rows[0];
  };
  struct Case {
    const char* category;
    std::string displayName;
    int state;
  } cases[] = {{"Sex", "Sex", 1}, {"Drugs", "Drugs", 1}, {"Chat", "Talk", 2},
               {"Games", "", 0},  {"Humor", "Humor", 0}, {"Travel", "Travel", 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(row(c.category).displayName, c.displayName) << c.category;
    EXPECT_EQ(row(c.category).state, c.state) << c.category;
  }

  CategoryRow defaults[kCategoryCount];
  LoadFromStore("Hours", defaults);
  for (int i = 0; i < kCategoryCount; ++i) {
    EXPECT_EQ(defaults[i].displayName, kCategoryTable[i].name);
    EXPECT_EQ(defaults[i].state, kCategoryTable[i].defaultState);
  }
}

TEST_F(SettingsStoreTest, SavedRowsReadBackAndFeedTheFilter) {
  CategoryRow rows[kCategoryCount];
  LoadFromStore("Deny", rows);  // defaults: seven ticked
  rows[2].displayName = "Talk";  // Chat
  rows[2].state = 2;             // saved as 1
  rows[22].state = 0;            // Sex off
  ASSERT_TRUE(SaveToStore("Deny", rows));
  EXPECT_TRUE(g_shown.empty());

  CategoryRow back[kCategoryCount];
  LoadFromStore("Deny", back);
  for (int i = 0; i < kCategoryCount; ++i) {
    EXPECT_EQ(back[i].displayName, rows[i].displayName) << i;
    EXPECT_EQ(back[i].state, rows[i].state != 0 ? 1 : 0) << i;
  }
  QxTypes* set = QX_AllocateTypes();
  LoadCategorySet((path_ + "\\Deny").c_str(), set);
  EXPECT_EQ(QX_TestThisCategory(set, 17), QX_YES);  // Chat
  EXPECT_EQ(QX_TestThisCategory(set, 1), QX_NO);    // Sex
  EXPECT_EQ(QX_TestThisCategory(set, 2), QX_YES);   // Drugs, a default
  QX_FreeTypes(set);
}

}  // namespace
}  // namespace tarnwick
