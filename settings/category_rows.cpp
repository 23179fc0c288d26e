// category_rows.cpp -- loading and saving category list rows.
#include "category_rows.h"

namespace settings {

void LoadCategoryRows(Key* key, CategoryRow rows[QX_CATEGORY_COUNT]) {
  char stateName[kStateValueNameSize];
  for (int i = 0; i < QX_CATEGORY_COUNT; ++i) {
    const CategoryTableRow& table = kCategoryTable[i];
    CategoryRow& row = rows[i];
    row.displayName = table.name;
    row.state = table.defaultState;
    if (key == nullptr) continue;
    const std::int32_t state =
        MakeStateValueName(table.name, stateName) ? key->ReadDword(stateName) : -1;
    std::string name;
    if (key->ReadString(table.name, &name) && state != -1) {
      row.displayName = name;
      row.state = state;
    }
  }
}

void WriteCategoryRow(Key& key, const char* category, const std::string& displayName,
                      std::int32_t state) {
  key.WriteString(category, displayName);
  char stateName[kStateValueNameSize];
  if (MakeStateValueName(category, stateName)) key.WriteDword(stateName, state != 0 ? 1 : 0);
}

}  // namespace settings
