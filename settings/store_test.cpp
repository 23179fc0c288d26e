// Tests of the store, the category lists and the filter's values, against
// the settings file (the registry on Windows) written by hand.
#include "store.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "category_rows.h"
#include "category_table.h"
#include "defaults.h"
#include "env.h"
#include "filter_settings.h"
#include "testing/host_fixture.h"

namespace settings {
namespace {

using tarnwick::testkit::Dword;
using tarnwick::testkit::Registry;
using tarnwick::testkit::Text;

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { path_ = Registry::Get().FreshKeyPath("Store"); }
  RegistryStore store_{Registry::Get().env()->registry()};
  std::string path_;
};

TEST(CategoryTableTest, NumbersEachCategoryOnceInNameOrder) {
  std::vector<int> seen(QX_CATEGORY_COUNT + 1, 0);
  int ticked = 0;
  for (int i = 0; i < QX_CATEGORY_COUNT; ++i) {
    const CategoryTableRow& row = kCategoryTable[i];
    ASSERT_GE(row.categoryNumber, 1);
    ASSERT_LE(row.categoryNumber, QX_CATEGORY_COUNT);
    ++seen[row.categoryNumber];
    ticked += row.defaultState;
    if (i > 0) {
      EXPECT_LT(std::strcmp(kCategoryTable[i - 1].name, row.name), 0) << row.name;
    }
  }
  for (int n = 1; n <= QX_CATEGORY_COUNT; ++n) EXPECT_EQ(seen[n], 1) << n;
  EXPECT_EQ(ticked, 7);
}

TEST_F(SettingsStoreTest, ValuesReadBackAsWrittenAndMissingOnesReadAsUnreadable) {
  KeyScope scope(store_, path_.c_str());
  std::unique_ptr<Key> key = scope.OpenForWriting("");
  ASSERT_NE(key, nullptr);
  EXPECT_TRUE(key->WriteDword("Log", 1));
  EXPECT_TRUE(key->WriteDword("All", -1));
  EXPECT_TRUE(key->WriteString("ErrorMsg", "<p>a\r\nb</p>"));
  key.reset();

  key = store_.Open(path_.c_str(), Access::kRead);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->ReadDword("Log"), 1);
  EXPECT_EQ(key->ReadDword("All"), -1);  // all bits set reads like a missing value
  EXPECT_EQ(key->ReadDword("Missing"), -1);
  EXPECT_EQ(key->ReadDword("ErrorMsg"), -1);  // not four bytes

  char text[32] = "keep";
  EXPECT_TRUE(key->ReadString("ErrorMsg", text, sizeof(text)));
  EXPECT_STREQ(text, "<p>a\r\nb</p>");
  std::strcpy(text, "keep");
  EXPECT_FALSE(key->ReadString("Missing", text, sizeof(text)));
  EXPECT_STREQ(text, "keep");
  std::string whole = "keep";
  EXPECT_TRUE(key->ReadString("ErrorMsg", &whole));
  EXPECT_EQ(whole, "<p>a\r\nb</p>");
  whole = "keep";
  EXPECT_FALSE(key->ReadString("Missing", &whole));
  EXPECT_EQ(whole, "keep");
}

// A value is read only when it fits whole with its NUL; otherwise the
// destination keeps every byte it held.
TEST_F(SettingsStoreTest, StringThatDoesNotFitLeavesTheDestinationUntouched) {
  Registry::Get().Import({{path_, {Text("Ten", "0123456789")}}});
  std::unique_ptr<Key> key = store_.Open(path_.c_str(), Access::kRead);
  ASSERT_NE(key, nullptr);
  for (std::size_t capacity : {std::size_t{1}, std::size_t{5}, std::size_t{10}, std::size_t{11}}) {
    std::vector<char> out(16, '#');
    const bool read = key->ReadString("Ten", out.data(), capacity);
    EXPECT_EQ(read, capacity >= 11) << capacity;
    if (read) {
      EXPECT_STREQ(out.data(), "0123456789");
    } else {
      EXPECT_EQ(std::string(out.begin(), out.end()), std::string(16, '#')) << capacity;
    }
  }
}

// The message for a key that cannot be written is the caller's (the pages
// show it once: config_ui/pages_test.cpp); here, that nothing is made.
TEST_F(SettingsStoreTest, WritingCreatesAMissingKeyAndFailsForAKeyItCannotMake) {
  KeyScope scope(store_, path_.c_str());
  EXPECT_EQ(scope.Open("Deny", Access::kRead), nullptr);
  EXPECT_NE(scope.OpenForWriting("Deny"), nullptr);
  EXPECT_NE(scope.Open("Deny", Access::kRead), nullptr);

  // A name longer than 255 characters is no key on either system.
  const std::string overlong(300, 'n');
  EXPECT_EQ(scope.OpenForWriting(overlong.c_str()), nullptr);
  EXPECT_EQ(scope.Open(overlong.c_str(), Access::kRead), nullptr);
  EXPECT_EQ(scope.Open(overlong.substr(0, 255).c_str(), Access::kRead), nullptr);

#ifndef _WIN32
  // The settings file also refuses an empty name between two backslashes
  // (the Windows registry makes a key of such a path, so there it is no
  // failure).
  EXPECT_EQ(scope.OpenForWriting("Bad\\\\Name"), nullptr);
#endif
}

// A path that does not fit is refused, never cut to a different key.
TEST_F(SettingsStoreTest, OverlongPathsOpenNothing) {
  std::string longPath = path_;
  while (longPath.size() < kJoinedPathSize) longPath += "\\Segment";
  KeyScope scope(store_, longPath.c_str());
  EXPECT_TRUE(scope.usable());
  EXPECT_EQ(scope.Open("", Access::kRead), nullptr);
  EXPECT_FALSE(scope.Create("Deny"));
  EXPECT_EQ(scope.OpenForWriting("Deny"), nullptr);

  std::string tooLong(kKeyPathSize, 'p');
  KeyScope refused(store_, tooLong.c_str());
  EXPECT_FALSE(refused.usable());
  EXPECT_EQ(refused.keyPath(), "");
  EXPECT_EQ(refused.Open("", Access::kRead), nullptr);
  EXPECT_FALSE(refused.Create("Deny"));

  KeyScope none(store_, nullptr);
  EXPECT_TRUE(none.usable());
  EXPECT_EQ(none.keyPath(), "");
}

TEST_F(SettingsStoreTest, TickedCategoriesAreThoseOfStateExactlyOne) {
  Registry::Get().Import({{path_ + "\\Deny",
                           {Dword("SexState", 1), Dword("DrugsState", 2), Dword("ChatState", 0xFFFFFFFFu),
                            Text("Worthless", "Useless"), Dword("Opinion, Politics, & ReligionState", 1),
                            Text("CultsState", "1")}}});
  std::vector<int> members = TickedCategories(store_, (path_ + "\\Deny").c_str());
  std::sort(members.begin(), members.end());
  EXPECT_EQ(members, (std::vector<int>{1, 20}));
  EXPECT_TRUE(TickedCategories(store_, (path_ + "\\Absent").c_str()).empty());
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
  KeyScope scope(store_, path_.c_str());
  CategoryRow rows[QX_CATEGORY_COUNT];
  LoadCategoryRows(scope.Open("Alert", Access::kRead).get(), rows);
  auto row = [&](const char* name) -> const CategoryRow& {
    for (int i = 0; i < QX_CATEGORY_COUNT; ++i) {
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

  CategoryRow defaults[QX_CATEGORY_COUNT];
  LoadCategoryRows(scope.Open("Hours", Access::kRead).get(), defaults);
  for (int i = 0; i < QX_CATEGORY_COUNT; ++i) {
    EXPECT_EQ(defaults[i].displayName, kCategoryTable[i].name);
    EXPECT_EQ(defaults[i].state, kCategoryTable[i].defaultState);
  }
}

TEST_F(SettingsStoreTest, SavedRowsReadBackAndFeedTheFilter) {
  KeyScope scope(store_, path_.c_str());
  CategoryRow rows[QX_CATEGORY_COUNT];
  LoadCategoryRows(scope.Open("Deny", Access::kRead).get(), rows);  // defaults: seven ticked
  rows[2].displayName = "Talk";  // Chat
  rows[2].state = 2;             // saved as 1
  rows[22].state = 0;            // Sex off
  {
    std::unique_ptr<Key> key = scope.OpenForWriting("Deny");
    ASSERT_NE(key, nullptr);
    for (int i = 0; i < QX_CATEGORY_COUNT; ++i) {
      WriteCategoryRow(*key, kCategoryTable[i].name, rows[i].displayName, rows[i].state);
    }
  }

  CategoryRow back[QX_CATEGORY_COUNT];
  LoadCategoryRows(scope.Open("Deny", Access::kRead).get(), back);
  for (int i = 0; i < QX_CATEGORY_COUNT; ++i) {
    EXPECT_EQ(back[i].displayName, rows[i].displayName) << i;
    EXPECT_EQ(back[i].state, rows[i].state != 0 ? 1 : 0) << i;
  }
  const std::vector<int> ticked = TickedCategories(store_, (path_ + "\\Deny").c_str());
  auto has = [&](int n) { return std::find(ticked.begin(), ticked.end(), n) != ticked.end(); };
  EXPECT_TRUE(has(17));  // Chat
  EXPECT_FALSE(has(1));  // Sex
  EXPECT_TRUE(has(2));   // Drugs, a default
}

#if !defined(_WIN32)
// A settings file that does not parse is told apart from a key that is not
// there, with the file and the line.
TEST_F(SettingsStoreTest, AMalformedFileIsToldApartFromAMissingKey) {
  tarnwick::testkit::TempDir dir;
  const std::string file = dir.Write("bad.reg", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"X\"=\"open\r\n");
  std::unique_ptr<platform::Registry> bad = platform::NewFileRegistry(file);
  RegistryStore badStore(bad.get());
  std::string why;
  EXPECT_TRUE(badStore.Malformed("A", &why));
  EXPECT_NE(why.find(file + ": line "), std::string::npos) << why;
  why.clear();
  EXPECT_FALSE(store_.Malformed(path_.c_str(), &why));
  EXPECT_FALSE(store_.Malformed("SOFTWARE\\NoSuchKey", &why));
  EXPECT_EQ(why, "");
}
#endif

}  // namespace
}  // namespace settings
