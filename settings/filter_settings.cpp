// filter_settings.cpp -- the filter's values read from the main key and
// the category lists.
#include "filter_settings.h"

#include <cstring>

#include "business_hours.h"
#include "category_table.h"
#include "defaults.h"

namespace settings {

FilterSettings DefaultFilterSettings() {
  FilterSettings values;
  values.logEnabled = kFilterDefaults.log;
  values.mailEnabled = kFilterDefaults.mail;
  std::strcpy(values.controlFilePath, kFilterDefaults.controlFile);
  std::strcpy(values.denialBody, kFilterDefaults.denialBody);
  return values;
}

FilterSettings DefaultSwitchesWithTexts(const FilterSettings& current) {
  FilterSettings values = DefaultFilterSettings();
  std::memcpy(values.controlFilePath, current.controlFilePath, kControlFilePathSize);
  std::memcpy(values.denialBody, current.denialBody, kDenialBodySize);
  return values;
}

bool ReadFilterSettings(Store& store, const char* keyPath, FilterSettings* out,
                        std::string* fault, std::string* keyMissing) {
  if (keyMissing != nullptr) keyMissing->clear();
  std::unique_ptr<Key> key = store.Open(keyPath, Access::kRead, fault);
  if (key == nullptr) {
    if (!fault->empty()) return false;
    if (keyMissing != nullptr) {
      // The settings file says "FILE: no key ..." itself; the registry's
      // text names only the call, so the key is named here.
      const std::string said = store.LastError();
      *keyMissing = said;
      if (said.find("no key ") == std::string::npos) {
        *keyMissing = std::string("no key HKEY_LOCAL_MACHINE\\") + (keyPath != nullptr ? keyPath : "");
        if (!said.empty()) *keyMissing += " (" + said + ")";
      }
    }
    return true;
  }
  // The hours are judged first, so that a fault leaves out as it was.
  std::string hoursText;
  unsigned char hours[QX_HOURS_SIZE] = {};
  const bool hoursStored = key->ReadString(kBusinessHoursValue, &hoursText);
  std::string why;
  if (hoursStored && !ParseBusinessHours(hoursText, hours, &why)) {
    *fault = std::string("the value ") + kBusinessHoursValue + " \"" + hoursText + "\" of HKEY_LOCAL_MACHINE\\" +
             (keyPath != nullptr ? keyPath : "") + " is not understood: " + why;
    return false;
  }
  out->hoursEnabled = hoursStored ? 1 : 0;
  std::memcpy(out->businessHours, hours, QX_HOURS_SIZE);
  out->logEnabled = key->ReadDword(kLogValue);
  out->mailEnabled = key->ReadDword(kMailValue);
  key->ReadString(kControlFileValue, out->controlFilePath, kControlFilePathSize);
  key->ReadString(kErrorMsgValue, out->denialBody, kDenialBodySize);
  return true;
}

std::vector<int> TickedCategories(Store& store, const char* path) {
  std::vector<int> numbers;
  std::unique_ptr<Key> key = store.Open(path, Access::kRead);
  if (key == nullptr) return numbers;
  char stateName[kStateValueNameSize];
  for (const CategoryTableRow& row : kCategoryTable) {
    if (MakeStateValueName(row.name, stateName) && key->ReadDword(stateName) == 1) {
      numbers.push_back(row.categoryNumber);
    }
  }
  return numbers;
}

std::string SubkeyPath(const char* keyPath, const char* subkey) {
  return std::string(keyPath) + "\\" + subkey;
}

}  // namespace settings
