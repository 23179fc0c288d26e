// List view items as a front end keeps them: the sorted insertion decides
// where a category lands, and so which item a click or a save reads.
#include "list_items.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace config_ui {
namespace {

std::vector<std::string> FirstColumn(const ListItems& list) {
  std::vector<std::string> out;
  for (const ListItem& i : list.items) out.push_back(i.texts[0]);
  return out;
}

TEST(ListItems, ASortedListPlacesByTextWithoutCaseAndAfterEqualTexts) {
  ListItems list;
  list.InsertColumn(0, "Category Name");
  list.InsertColumn(1, "Type");
  struct Step {
    const char* text;
    int landsAt;
  } steps[] = {{"Games", 0}, {"chat", 0}, {"Betting", 0}, {"CHAT", 2}, {"Zebra", 4}, {"", 0},
               {"~x", 6}, {"a", 1}};
  for (const Step& s : steps) {
    EXPECT_EQ(list.Insert(0, s.text, 1, true), s.landsAt) << s.text;
  }
  EXPECT_EQ(FirstColumn(list), (std::vector<std::string>{"", "a", "Betting", "chat", "CHAT",
                                                          "Games", "Zebra", "~x"}));
  // Every item has a text for every column.
  for (const ListItem& i : list.items) EXPECT_EQ(i.texts.size(), 2u);
}

TEST(ListItems, AnUnsortedListTakesThePositionGivenAndTheEndBeyondIt) {
  ListItems list;
  EXPECT_EQ(list.Insert(0, "Monday", -1, false), 0);
  EXPECT_EQ(list.Insert(0, "Sunday", -1, false), 0);
  EXPECT_EQ(list.Insert(9, "Tuesday", -1, false), 2);
  EXPECT_EQ(list.Insert(-1, "Wednsday", -1, false), 3);
  EXPECT_EQ(FirstColumn(list), (std::vector<std::string>{"Sunday", "Monday", "Tuesday", "Wednsday"}));
  EXPECT_EQ(list.At(4), nullptr);
  EXPECT_EQ(list.At(-1), nullptr);
  EXPECT_EQ(list.FirstSelected(), -1);
  list.At(3)->selected = true;
  list.At(1)->selected = true;
  EXPECT_EQ(list.FirstSelected(), 1);
}

TEST(ListItems, ColumnsGoBeforeTheOneNamedOrAtTheEnd) {
  ListItems list;
  list.InsertColumn(5, "B");
  list.InsertColumn(0, "A");
  list.InsertColumn(-1, "C");
  EXPECT_EQ(list.headings, (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(list.widths, (std::vector<int>{0, 0, 0}));
}

}  // namespace
}  // namespace config_ui
