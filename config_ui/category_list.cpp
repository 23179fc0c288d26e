// category_list.cpp -- loading, filling, toggling and saving the list.
#include "category_list.h"

namespace config_ui {
namespace {

// The "Category Name" column is 15 "W"s wide; the width goes to the
// control as a 16-bit value, as the platform's column width is.
int NameColumnWidth(Controls& controls) {
  return static_cast<std::int16_t>(15 * controls.TextWidth(CCategoryListCtrl::kListId, "W"));
}

// Item texts longer than this are cut when read back as a category name.
constexpr std::size_t kCategoryNameChars = 255;

}  // namespace

void CCategoryListCtrl::LoadFromStore(SettingsStore& store, const char* subkey) {
  SettingsStore::Key key = store.Open(subkey, SettingsStore::Access::kRead);
  char stateName[tarnwick::kStateValueNameSize];
  for (int i = 0; i < QX_CATEGORY_COUNT; ++i) {
    const tarnwick::CategoryTableRow& table = tarnwick::kCategoryTable[i];
    CategoryRow& row = rows_[i];
    row.name = table.name;
    row.state = table.defaultState;
    if (key == nullptr) continue;
    const std::int32_t state = tarnwick::MakeStateValueName(table.name, stateName)
                                   ? store.ReadDword(key, stateName)
                                   : -1;
    std::string name;
    if (store.ReadString(key, table.name, &name) && state != -1) {
      row.name = name;
      row.state = state;
    }
  }
  if (key != nullptr) store.Close(key);
}

void CCategoryListCtrl::FillControl(Controls& controls) {
  if (controls.HasGlyphs(kListId)) return;  // filled on an earlier activation
  controls.AttachGlyphs(kListId);
  controls.InsertColumn(kListId, 0, "Category Name");
  controls.InsertColumn(kListId, 1, "Type");
  controls.SetColumnWidth(kListId, 0, NameColumnWidth(controls));
  controls.SetColumnWidth(kListId, 1, kColumnFillRemainder);
  for (int i = 0; i < QX_CATEGORY_COUNT; ++i) {
    const int item = controls.InsertItem(kListId, i, rows_[i].name, rows_[i].state);
    controls.SetItemText(kListId, item, 1, tarnwick::kCategoryTable[i].name);
  }
}

void CCategoryListCtrl::OnClick(Controls& controls) {
  const int item = controls.FirstSelectedItem(kListId);
  if (item < 0) return;
  controls.SetItemGlyph(kListId, item, controls.GetItemGlyph(kListId, item) == 1 ? 0 : 1);
}

bool CCategoryListCtrl::SaveToStore(SettingsStore& store, Controls& controls, const char* subkey) {
  SettingsStore::Key key = OpenForWriting(store, subkey, controls);
  if (key == nullptr) return false;
  char stateName[tarnwick::kStateValueNameSize];
  const int count = controls.ItemCount(kListId);
  for (int item = 0; item < QX_CATEGORY_COUNT && item < count; ++item) {
    const int glyph = controls.GetItemGlyph(kListId, item);
    std::string category = controls.GetItemText(kListId, item, 1);
    if (category.size() > kCategoryNameChars) category.resize(kCategoryNameChars);
    const std::string name = controls.GetItemText(kListId, item, 0);
    store.WriteString(key, category.c_str(), name);
    if (tarnwick::MakeStateValueName(category.c_str(), stateName)) {
      store.WriteDword(key, stateName, glyph != 0 ? 1 : 0);
    }
  }
  return store.Close(key);
}

}  // namespace config_ui
