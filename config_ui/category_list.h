// category_list.h -- CCategoryListCtrl, the list of the 27 categories with
// a tick glyph each, on the Deny, Alert and Hours pages.
#ifndef PELLUMIN_CONFIG_UI_CATEGORY_LIST_H_
#define PELLUMIN_CONFIG_UI_CATEGORY_LIST_H_

#include <cstdint>
#include <string>

#include "category_rows.h"
#include "category_table.h"
#include "controls.h"
#include "store.h"

namespace config_ui {

class CCategoryListCtrl {
 public:
  static constexpr int kRowCapacity = 30;  // rows 27 to 29 stay unused
  static constexpr int kListId = IDC_CATEGORY_LIST;

  // Reads subkey's pairs into the rows, in category table order
  // (settings::LoadCategoryRows). A row's state is also its glyph index.
  void LoadFromStore(settings::KeyScope& keys, const char* subkey);
  // On the first activation of its page: glyphs, the two columns, one item
  // per row. Later calls do nothing.
  void FillControl(Controls& controls);
  // A click in the list: toggles the first selected item's glyph.
  void OnClick(Controls& controls);
  // Every edited text is taken as the item's new display name.
  bool OnEndLabelEdit(const std::string& text) { return true; }
  // Writes, for each item in display order, its display name under its own
  // category name and its state (1 when the glyph is not 0). False when the
  // subkey could not be opened or created (the message has been shown).
  bool SaveToStore(settings::KeyScope& keys, Controls& controls, const char* subkey);

  const settings::CategoryRow& row(int index) const { return rows_[index]; }

 private:
  settings::CategoryRow rows_[kRowCapacity];
};

}  // namespace config_ui

#endif  // PELLUMIN_CONFIG_UI_CATEGORY_LIST_H_
