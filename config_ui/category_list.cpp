// category_list.cpp -- loading, filling, toggling and saving the list.
#include "category_list.h"

#include "sheet.h"

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

void CCategoryListCtrl::LoadFromStore(settings::KeyScope& keys, const char* subkey) {
  settings::LoadCategoryRows(keys.Open(subkey, settings::Access::kRead).get(), rows_);
}

void CCategoryListCtrl::FillControl(Controls& controls) {
  if (controls.HasGlyphs(kListId)) return;  // filled on an earlier activation
  controls.AttachGlyphs(kListId);
  controls.InsertColumn(kListId, 0, "Category Name");
  controls.InsertColumn(kListId, 1, "Type");
  controls.SetColumnWidth(kListId, 0, NameColumnWidth(controls));
  controls.SetColumnWidth(kListId, 1, kColumnFillRemainder);
  for (int i = 0; i < QX_CATEGORY_COUNT; ++i) {
    const int item = controls.InsertItem(kListId, i, rows_[i].displayName, rows_[i].state);
    controls.SetItemText(kListId, item, 1, settings::kCategoryTable[i].name);
  }
}

void CCategoryListCtrl::OnClick(Controls& controls) {
  const int item = controls.FirstSelectedItem(kListId);
  if (item < 0) return;
  controls.SetItemGlyph(kListId, item, controls.GetItemGlyph(kListId, item) == 1 ? 0 : 1);
}

bool CCategoryListCtrl::SaveToStore(settings::KeyScope& keys, Controls& controls,
                                     const char* subkey) {
  std::unique_ptr<settings::Key> key = OpenForWriting(keys, subkey, controls);
  if (key == nullptr) return false;
  const int count = controls.ItemCount(kListId);
  for (int item = 0; item < QX_CATEGORY_COUNT && item < count; ++item) {
    const int glyph = controls.GetItemGlyph(kListId, item);
    std::string category = controls.GetItemText(kListId, item, 1);
    if (category.size() > kCategoryNameChars) category.resize(kCategoryNameChars);
    settings::WriteCategoryRow(*key, category.c_str(), controls.GetItemText(kListId, item, 0),
                               glyph);
  }
  return true;
}

}  // namespace config_ui
