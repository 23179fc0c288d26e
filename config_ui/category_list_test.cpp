// The category list: loading rules, filling, clicks, renaming and saving
// by item position, against the in-memory store and front end.
#include "category_list.h"

#include <gtest/gtest.h>

#include "memory_store.h"
#include "memory_ui.h"
#include "templates.h"

namespace config_ui {
namespace {

using settings::testkit::MemoryStore;
using testkit::MemoryUi;
using testkit::MemoryWindow;

constexpr char kPath[] = "Software\\ListTest";
constexpr char kDeny[] = "Software\\ListTest\\Deny";

class ListWindow final : public WindowLogic {
 public:
  const WindowTemplate& Template() const override { return DenyPageTemplate(); }
};

int RowOf(const char* category) {
  for (int i = 0; i < QX_CATEGORY_COUNT; ++i) {
    if (std::string(settings::kCategoryTable[i].name) == category) return i;
  }
  return -1;
}

class CategoryList : public ::testing::Test {
 protected:
  CategoryList() : window_(ui_, logic_) {}
  // The item whose "Type" column is category.
  int ItemOf(const char* category) {
    for (int i = 0; i < window_.ItemCount(IDC_CATEGORY_LIST); ++i) {
      if (window_.GetItemText(IDC_CATEGORY_LIST, i, 1) == category) return i;
    }
    return -1;
  }
  void LoadAndFill() {
    list_.LoadFromStore(keys_, "Deny");
    list_.FillControl(window_);
  }
  MemoryStore store_;
  settings::KeyScope keys_{store_, kPath};
  MemoryUi ui_;
  ListWindow logic_;
  MemoryWindow window_;
  CCategoryListCtrl list_;
};

TEST_F(CategoryList, LoadsAStoredPairOnlyWhenBothValuesAreThere) {
  struct Case {
    const char* name;
    bool putName;
    const char* displayName;
    bool putState;
    std::uint32_t state;
    const char* wantName;
    std::int32_t wantState;
  } cases[] = {
      {"both", true, "Adult", true, 0, "Adult", 0},
      {"state only", false, "", true, 0, "Sex", 1},
      {"name only", true, "Adult", false, 0, "Sex", 1},
      {"state all bits", true, "Adult", true, 0xFFFFFFFFu, "Sex", 1},
      {"state 2", true, "Adult", true, 2, "Adult", 2},
      {"empty name", true, "", true, 1, "", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryStore store;
    store.AddKey(kDeny);
    if (c.putName) store.PutString(kDeny, "Sex", c.displayName);
    if (c.putState) store.PutDword(kDeny, "SexState", c.state);
    settings::KeyScope keys(store, kPath);
    CCategoryListCtrl list;
    list.LoadFromStore(keys, "Deny");
    EXPECT_EQ(list.row(RowOf("Sex")).displayName, c.wantName);
    EXPECT_EQ(list.row(RowOf("Sex")).state, c.wantState);
    EXPECT_EQ(store.openKeys(), 0);
  }
}

TEST_F(CategoryList, FillsOnceWithSortedItemsGlyphsAndBothColumns) {
  LoadAndFill();  // no subkey: every row takes its defaults
  const MemoryWindow::Control& c = window_.control(IDC_CATEGORY_LIST);
  ASSERT_EQ(c.items.size(), 27u);
  EXPECT_EQ(c.headings, (std::vector<std::string>{"Category Name", "Type"}));
  EXPECT_EQ(c.widths, (std::vector<int>{15 * 7, kColumnFillRemainder}));
  EXPECT_TRUE(c.glyphs);
  for (int i = 0; i < 27; ++i) {
    const settings::CategoryTableRow& row = settings::kCategoryTable[i];
    EXPECT_EQ(c.items[i].texts[0], row.name);
    EXPECT_EQ(c.items[i].texts[1], row.name);
    EXPECT_EQ(c.items[i].glyph, row.defaultState) << row.name;
  }
  list_.FillControl(window_);  // a later activation
  EXPECT_EQ(window_.ItemCount(IDC_CATEGORY_LIST), 27);
}

TEST_F(CategoryList, ClickTogglesTheFirstSelectedItem) {
  store_.PutString(kDeny, "Chat", "Chat");
  store_.PutDword(kDeny, "ChatState", 2);
  LoadAndFill();
  const int chat = ItemOf("Chat");
  const int cults = ItemOf("Cults");  // default 1
  const int dating = ItemOf("Dating");
  EXPECT_EQ(window_.GetItemGlyph(IDC_CATEGORY_LIST, chat), 2);  // shows no glyph
  struct Step {
    std::vector<int> selected;  // before the click; empty: a click on space
    int item;
    int glyph;
  } steps[] = {
      {{chat}, chat, 1},  // 2 becomes 1
      {{chat}, chat, 0},
      {{cults}, cults, 0},
      {{cults}, cults, 1},
      {{dating, cults}, cults, 0},  // the first selected in display order
      {{}, cults, 0},               // nothing selected: nothing changes
  };
  for (const Step& s : steps) {
    window_.SelectItems(IDC_CATEGORY_LIST, s.selected);
    list_.OnClick(window_);
    EXPECT_EQ(window_.GetItemGlyph(IDC_CATEGORY_LIST, s.item), s.glyph);
  }
  EXPECT_EQ(window_.GetItemGlyph(IDC_CATEGORY_LIST, dating), 0);
}

TEST_F(CategoryList, SavesEachItemUnderItsOwnCategoryWhateverItsPosition) {
  // A stored display name that sorts first puts "Worthless" at the top.
  store_.PutString(kDeny, "Worthless", "AAA junk");
  store_.PutDword(kDeny, "WorthlessState", 1);
  store_.PutDword(kDeny, "ChatState", 2);
  store_.PutString(kDeny, "Chat", "Chat");
  LoadAndFill();
  ASSERT_EQ(window_.GetItemText(IDC_CATEGORY_LIST, 0, 1), "Worthless");
  window_.SetItemText(IDC_CATEGORY_LIST, ItemOf("Sex"), 0, "");  // renamed to nothing
  window_.SetItemText(IDC_CATEGORY_LIST, ItemOf("Drugs"), 0, "Narcotics");
  window_.SetItemGlyph(IDC_CATEGORY_LIST, ItemOf("Drugs"), 0);

  EXPECT_TRUE(list_.SaveToStore(keys_, window_, "Deny"));
  EXPECT_EQ(store_.ValueCount(kDeny), 54u);
  std::string text;
  std::uint32_t state = 0;
  ASSERT_TRUE(store_.GetString(kDeny, "Worthless", &text));
  EXPECT_EQ(text, "AAA junk");
  ASSERT_TRUE(store_.GetString(kDeny, "Sex", &text));
  EXPECT_EQ(text, "");
  ASSERT_TRUE(store_.GetString(kDeny, "Drugs", &text));
  EXPECT_EQ(text, "Narcotics");
  ASSERT_TRUE(store_.GetDword(kDeny, "DrugsState", &state));
  EXPECT_EQ(state, 0u);
  ASSERT_TRUE(store_.GetDword(kDeny, "ChatState", &state));
  EXPECT_EQ(state, 1u);  // an untouched 2 is saved as 1
  ASSERT_TRUE(store_.GetDword(kDeny, "Hate SpeechState", &state));
  EXPECT_EQ(state, 1u);

  // What was saved loads back as shown.
  CCategoryListCtrl again;
  again.LoadFromStore(keys_, "Deny");
  EXPECT_EQ(again.row(RowOf("Sex")).displayName, "");
  EXPECT_EQ(again.row(RowOf("Drugs")).displayName, "Narcotics");
  EXPECT_EQ(again.row(RowOf("Drugs")).state, 0);
}

TEST_F(CategoryList, ASubkeyThatCannotBeMadeIsReportedOnceAndLeftAlone) {
  LoadAndFill();
  store_.RefuseCreating(kDeny);
  EXPECT_FALSE(list_.SaveToStore(keys_, window_, "Deny"));
  ASSERT_EQ(ui_.messages().size(), 1u);
  EXPECT_EQ(ui_.messages()[0].text, "Error saving settings to registry.");
  EXPECT_EQ(ui_.messages()[0].icon, MessageIcon::kWarning);
  EXPECT_FALSE(store_.HasKey(kDeny));
  EXPECT_TRUE(store_.writes().empty());
}

}  // namespace
}  // namespace config_ui
