// category_table.h -- the 27 named categories the plug-in knows.
//
// Each row names its registry values (the display-name value is the name,
// the state value is the name with "State" appended), gives the engine's
// category number and the state a list shows when the store has no entry.
#ifndef PELLUMIN_SETTINGS_CATEGORY_TABLE_H_
#define PELLUMIN_SETTINGS_CATEGORY_TABLE_H_

#include <cstdint>

#include "corvane.h"

namespace settings {

struct CategoryTableRow {
  const char* name;        // registry value name and default display name
  int categoryNumber;      // the number QX_SetThisCategory takes, 1 to 27
  std::int32_t defaultState;  // 0 or 1
};

// Alphabetical by name; the order of every list the pages show and save.
// One row for each of the engine's QX_CATEGORY_COUNT categories.
extern const CategoryTableRow kCategoryTable[QX_CATEGORY_COUNT];

// Room for a state value's name: the category name and "State".
constexpr int kStateValueNameSize = 256;

// Writes name + "State" into out (kStateValueNameSize bytes). Returns false,
// leaving out empty, if it does not fit.
bool MakeStateValueName(const char* categoryName, char* out);

}  // namespace settings

#endif  // PELLUMIN_SETTINGS_CATEGORY_TABLE_H_
