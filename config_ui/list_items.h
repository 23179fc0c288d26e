// list_items.h -- the items of a list view, for front ends that keep them
// themselves (the terminal, the in-memory stand-in of the tests): headings
// and widths by column, each item's texts by column, its glyph and whether
// it is selected, and insertion as the platform's list view does it.
#ifndef PELLUMIN_CONFIG_UI_LIST_ITEMS_H_
#define PELLUMIN_CONFIG_UI_LIST_ITEMS_H_

#include <string>
#include <vector>

namespace config_ui {

struct ListItem {
  std::vector<std::string> texts;  // by column
  int glyph = -1;
  bool selected = false;
};

struct ListItems {
  std::vector<std::string> headings;
  std::vector<int> widths;  // pixels (cells), or kColumnFillRemainder; 0 until set
  std::vector<ListItem> items;

  // A column before column (at the end when out of range).
  void InsertColumn(int column, const std::string& heading);
  // An item with text in column 0 at position (the end when out of range),
  // or, in a sorted list, after every item whose first-column text does not
  // compare greater (ASCII, without regard to case). Returns where it went.
  int Insert(int position, const std::string& text, int glyph, bool sorted);
  // The item at index, or null.
  ListItem* At(int index);
  // The first selected item in display order, or -1.
  int FirstSelected() const;
};

// <0, 0, >0 as a is before, like or after b, comparing ASCII letters without
// regard to case and every other byte as it is.
int CompareNoCase(const std::string& a, const std::string& b);

}  // namespace config_ui

#endif  // PELLUMIN_CONFIG_UI_LIST_ITEMS_H_
