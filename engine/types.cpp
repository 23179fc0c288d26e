// types.cpp -- the category and control set: allocation and the bit
// operations on its two words.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "corvane.h"
#include "handles.h"
#include "policy.h"

namespace corvane {
namespace {

bool ValidCategory(int category) { return category >= 1 && category <= QX_CATEGORY_COUNT; }

// The numbered controls are the bits of QX_ALL_CONTROLS: 1 to 13 and 16.
// Controls 14 and 15 have no number: bit 13 is the query bit that only
// categorisation sets, and bit 14 means nothing.
bool ValidControl(int control) {
  return control >= 1 && control <= 16 && (QX_ALL_CONTROLS & QX_CONTROL_BIT(control)) != 0;
}

enum class Change { kSet, kClear };

int ChangeCategory(QxTypes* set, int category, Change change) {
  const int status = ValidateTypes(set);
  if (status != QX_OK) return status;
  if (!ValidCategory(category)) return QX_ERR_BAD_CATEGORY;
  if (change == Change::kSet) {
    set->categories |= QX_CATEGORY_BIT(category);
  } else {
    set->categories &= ~QX_CATEGORY_BIT(category);
  }
  return QX_OK;
}

int ChangeControl(QxTypes* set, int control, Change change) {
  const int status = ValidateTypes(set);
  if (status != QX_OK) return status;
  if (!ValidControl(control)) return QX_ERR_BAD_CONTROL;
  if (change == Change::kSet) {
    set->controls |= QX_CONTROL_BIT(control);
  } else {
    set->controls &= ~QX_CONTROL_BIT(control);
  }
  return QX_OK;
}

// Validates first and second, then out (when outRequired is false a null
// out only asks for the verdict). Returns QX_OK or the first failure.
int ValidateCombination(const QxTypes* first, const QxTypes* second, const QxTypes* out,
                        bool outRequired) {
  int status = ValidateTypes(first);
  if (status != QX_OK) return status;
  status = ValidateTypes(second);
  if (status != QX_OK) return status;
  status = ValidateTypes(out);
  if (status == QX_ERR_NULL_HANDLE && !outRequired) return QX_OK;
  return status;
}

}  // namespace
}  // namespace corvane

using corvane::ValidateTypes;

extern "C" {

QxTypes* QX_CALL QX_AllocateTypes(void) {
  auto* set = static_cast<QxTypes*>(corvane::PolicyCalloc(1, sizeof(QxTypes)));
  if (set == nullptr) return nullptr;
  std::memcpy(set->magic, corvane::kTypesMagic, sizeof(set->magic));
  return set;
}

int QX_CALL QX_FreeTypes(QxTypes* set) {
  const int status = ValidateTypes(set);
  if (status != QX_OK) return status;
  std::memset(set->magic, 0, sizeof(set->magic));
  std::free(set);
  return QX_OK;
}

int QX_CALL QX_ClearTypes(QxTypes* set) {
  const int status = ValidateTypes(set);
  if (status != QX_OK) return status;
  set->controls = 0;
  set->categories = 0;
  return QX_OK;
}

int QX_CALL QX_SetAllCategory(QxTypes* set) {
  const int status = ValidateTypes(set);
  if (status != QX_OK) return status;
  set->categories = QX_ALL_CATEGORIES;
  return QX_OK;
}

int QX_CALL QX_SetAllControl(QxTypes* set) {
  const int status = ValidateTypes(set);
  if (status != QX_OK) return status;
  set->controls = QX_ALL_CONTROLS;
  return QX_OK;
}

int QX_CALL QX_SetThisCategory(QxTypes* set, int category) {
  return corvane::ChangeCategory(set, category, corvane::Change::kSet);
}

int QX_CALL QX_ClearThisCategory(QxTypes* set, int category) {
  return corvane::ChangeCategory(set, category, corvane::Change::kClear);
}

int QX_CALL QX_TestThisCategory(QxTypes* set, int category) {
  const int status = ValidateTypes(set);
  if (status != QX_OK) return status;
  if (!corvane::ValidCategory(category)) return QX_ERR_BAD_CATEGORY;
  return (set->categories & QX_CATEGORY_BIT(category)) != 0 ? QX_YES : QX_NO;
}

int QX_CALL QX_SetThisControl(QxTypes* set, int control) {
  return corvane::ChangeControl(set, control, corvane::Change::kSet);
}

int QX_CALL QX_ClearThisControl(QxTypes* set, int control) {
  return corvane::ChangeControl(set, control, corvane::Change::kClear);
}

int QX_CALL QX_TestThisControl(QxTypes* set, int control) {
  const int status = ValidateTypes(set);
  if (status != QX_OK) return status;
  if (!corvane::ValidControl(control)) return QX_ERR_BAD_CONTROL;
  return (set->controls & QX_CONTROL_BIT(control)) != 0 ? QX_YES : QX_NO;
}

// In the three combinations out may be first or second: out's other word is
// cleared before the inputs are read, and the result is computed before it
// is stored.
int QX_CALL QX_CategoryAndCategory(QxTypes* first, QxTypes* second, QxTypes* out) {
  const int status = corvane::ValidateCombination(first, second, out, false);
  if (status != QX_OK) return status;
  if (out != nullptr) out->controls = 0;
  const std::uint32_t both = first->categories & second->categories;
  if (out != nullptr) out->categories = both;
  return both != 0 ? QX_YES : QX_NO;
}

int QX_CALL QX_ControlAndControl(QxTypes* first, QxTypes* second, QxTypes* out) {
  const int status = corvane::ValidateCombination(first, second, out, false);
  if (status != QX_OK) return status;
  if (out != nullptr) out->categories = 0;
  const std::uint32_t both = first->controls & second->controls;
  if (out != nullptr) out->controls = both;
  return both != 0 ? QX_YES : QX_NO;
}

int QX_CALL QX_ControlOrControl(QxTypes* first, QxTypes* second, QxTypes* out) {
  const int status = corvane::ValidateCombination(first, second, out, true);
  if (status != QX_OK) return status;
  out->categories = 0;
  const std::uint32_t either = first->controls | second->controls;
  out->controls = either;
  return either != 0 ? QX_YES : QX_NO;
}

}  // extern "C"
