// category_rows.h -- a category list (the "Deny", "Alert" and "Hours"
// subkeys) as the settings pages keep it: a display name and a state for
// each row of the category table.
#ifndef PELLUMIN_SETTINGS_CATEGORY_ROWS_H_
#define PELLUMIN_SETTINGS_CATEGORY_ROWS_H_

#include <cstdint>
#include <string>

#include "category_table.h"
#include "store.h"

namespace settings {

struct CategoryRow {
  std::string displayName;  // the "Category Name" column
  std::int32_t state = 0;   // 1 ticked, 0 not; a stored 2 stays 2 until saved
};

// Loads one row per kCategoryTable row, in table order, from key. A row
// whose display name cannot be read or whose state reads as -1 takes the
// category name and default state; so does every row when key is null (the
// subkey does not open).
void LoadCategoryRows(Key* key, CategoryRow rows[QX_CATEGORY_COUNT]);

// Writes one row: its display name under the category name, its state (1
// when nonzero, else 0) under the state value name.
void WriteCategoryRow(Key& key, const char* category, const std::string& displayName,
                      std::int32_t state);

}  // namespace settings

#endif  // PELLUMIN_SETTINGS_CATEGORY_ROWS_H_
