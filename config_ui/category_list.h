// category_list.h -- CCategoryListCtrl, the list of the 27 categories with
// a tick glyph each, on the Deny, Alert and Hours pages.
#ifndef PELLUMIN_CONFIG_UI_CATEGORY_LIST_H_
#define PELLUMIN_CONFIG_UI_CATEGORY_LIST_H_

#include <cstdint>
#include <string>

#include "category_table.h"
#include "controls.h"
#include "store.h"

namespace config_ui {

struct CategoryRow {
  std::string name;       // display name ("Category Name" column)
  std::int32_t state = 0;  // 1 ticked, 0 not; also the glyph index
};

class CCategoryListCtrl {
 public:
  static constexpr int kRowCapacity = 30;  // rows 27 to 29 stay unused
  static constexpr int kListId = IDC_CATEGORY_LIST;

  // Reads subkey's pairs into the rows, in category table order. A row whose
  // display name cannot be read or whose state reads as -1 takes the
  // category name and default state; so does every row when the subkey does
  // not open.
  void LoadFromStore(SettingsStore& store, const char* subkey);
  // On the first activation of its page: glyphs, the two columns, one item
  // per row. Later calls do nothing.
  void FillControl(Controls& controls);
  // A click in the list: toggles the first selected item's glyph.
  void OnClick(Controls& controls);
  // Every edited text is taken as the item's new display name.
  bool OnEndLabelEdit(const std::string& text) { return true; }
  // Writes, for each item in display order, its display name under its own
  // category name and its state (1 when the glyph is not 0). False when the
  // subkey could not be opened or created (the message has been shown) or
  // did not close.
  bool SaveToStore(SettingsStore& store, Controls& controls, const char* subkey);

  const CategoryRow& row(int index) const { return rows_[index]; }

 private:
  CategoryRow rows_[kRowCapacity];
};

}  // namespace config_ui

#endif  // PELLUMIN_CONFIG_UI_CATEGORY_LIST_H_
