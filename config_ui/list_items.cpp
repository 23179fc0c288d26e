// list_items.cpp -- list view items kept by a front end.
#include "list_items.h"

#include <algorithm>
#include <cstddef>

namespace config_ui {

int CompareNoCase(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; };
    const int d = lower(static_cast<unsigned char>(a[i])) - lower(static_cast<unsigned char>(b[i]));
    if (d != 0) return d;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

void ListItems::InsertColumn(int column, const std::string& heading) {
  const std::size_t at = column < 0 || static_cast<std::size_t>(column) > headings.size()
                             ? headings.size()
                             : static_cast<std::size_t>(column);
  headings.insert(headings.begin() + static_cast<std::ptrdiff_t>(at), heading);
  widths.insert(widths.begin() + static_cast<std::ptrdiff_t>(at), 0);
}

int ListItems::Insert(int position, const std::string& text, int glyph, bool sorted) {
  ListItem item;
  item.texts.assign(headings.empty() ? 1 : headings.size(), "");
  item.texts[0] = text;
  item.glyph = glyph;
  std::size_t at = position < 0 || static_cast<std::size_t>(position) > items.size()
                       ? items.size()
                       : static_cast<std::size_t>(position);
  if (sorted) {
    at = 0;
    while (at < items.size() && CompareNoCase(items[at].texts[0], text) <= 0) ++at;
  }
  items.insert(items.begin() + static_cast<std::ptrdiff_t>(at), item);
  return static_cast<int>(at);
}

ListItem* ListItems::At(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= items.size()) return nullptr;
  return &items[static_cast<std::size_t>(index)];
}

int ListItems::FirstSelected() const {
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i].selected) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace config_ui
