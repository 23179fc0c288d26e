// in_force.cpp -- the description of a filter's sets and list.
#include "in_force.h"

#include "business_hours.h"
#include "category_table.h"
#include "defaults.h"
#include "filter_settings.h"

namespace settings {
namespace {

constexpr QxTypes kEmptySet = {{'Q', 'X', 'T', 'P'}, 0, 0};

std::string JoinNames(const std::vector<std::string>& names) {
  if (names.empty()) return "none";
  std::string text;
  for (const std::string& name : names) {
    if (!text.empty()) text += ", ";
    text += name;
  }
  return text;
}

void AddCategories(const std::vector<int>& numbers, QxTypes* set) {
  for (int number : numbers) QX_SetThisCategory(set, number);
}

// The record count of the control list at path, as the engine's load finds
// it; false with *error when it does not load.
bool LoadedRecordCount(const char* path, long long* records, std::string* error) {
  QxService* service = QX_Init();
  if (service == nullptr) {
    *error = "the engine cannot be started";
    return false;
  }
  const int rc = QX_LoadControlList(service, nullptr, path);
  *records = service->controlCount;
  QX_FreeService(service);
  if (rc == QX_OK) return true;
  if (rc == QX_ERR_OPEN) {
    *error = std::string("the control list ") + path + " cannot be opened";
  } else if (rc == QX_ERR_READ_HEADER) {
    *error = std::string("the control list ") + path + " has no record count";
  } else {
    *error = std::string("the control list ") + path + " does not load (" + std::to_string(rc) + ")";
  }
  return false;
}

}  // namespace

std::vector<std::string> CategoryNames(const QxTypes* set) {
  std::vector<std::string> names;
  if (set == nullptr) return names;
  for (const CategoryTableRow& row : kCategoryTable) {
    if (QX_TestThisCategory(const_cast<QxTypes*>(set), row.categoryNumber) == QX_YES) {
      names.emplace_back(row.name);
    }
  }
  return names;
}

std::vector<std::string> DescribeFilter(const QxTypes* denySet, const QxTypes* alertSet,
                                        const char* controlFile, long long records,
                                        const unsigned char* businessHours,
                                        const QxTypes* hoursSet) {
  std::vector<std::string> lines;
  lines.push_back("denied categories: " + JoinNames(CategoryNames(denySet)));
  lines.push_back("alerted categories: " + JoinNames(CategoryNames(alertSet)));
  std::string list = std::string("control list: ") + controlFile + " (" +
                     std::to_string(records) + (records == 1 ? " record" : " records");
  if (records <= 0) list += ": nothing will match";
  lines.push_back(list + ")");
  if (businessHours != nullptr) {
    lines.push_back("business hours (local time): " + DescribeBusinessHours(businessHours) +
                    "; denied during them: " + JoinNames(CategoryNames(hoursSet)));
  }
  return lines;
}

bool DescribeStoredFilter(Store& store, const char* keyPath, std::vector<std::string>* lines,
                          std::string* error) {
  FilterSettings values = DefaultFilterSettings();
  if (!ReadFilterSettings(store, keyPath, &values, error)) {
    *error = "the settings cannot be read: " + *error;
    return false;
  }
  QxTypes deny = kEmptySet;
  QxTypes alert = kEmptySet;
  AddCategories(TickedCategories(store, SubkeyPath(keyPath, kDenySubkey).c_str()), &deny);
  AddCategories(TickedCategories(store, SubkeyPath(keyPath, kAlertSubkey).c_str()), &alert);
  QxTypes hours = kEmptySet;
  if (values.hoursEnabled != 0) {
    AddCategories(TickedCategories(store, SubkeyPath(keyPath, kHoursSubkey).c_str()), &hours);
  }
  long long records = 0;
  if (!LoadedRecordCount(values.controlFilePath, &records, error)) return false;
  *lines = DescribeFilter(&deny, &alert, values.controlFilePath, records,
                          values.hoursEnabled != 0 ? values.businessHours : nullptr, &hours);
  return true;
}

}  // namespace settings
