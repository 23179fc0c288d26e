// filter_settings.h -- the values of the main key that the request filter
// works with, and how they are read.
#ifndef PELLUMIN_SETTINGS_FILTER_SETTINGS_H_
#define PELLUMIN_SETTINGS_FILTER_SETTINGS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "corvane.h"
#include "store.h"

namespace settings {

constexpr std::size_t kControlFilePathSize = 512;
constexpr std::size_t kDenialBodySize = 4096;

// The two switches and the two texts of the main key ("Log", "Mail",
// "ControlFile", "ErrorMsg"), and the business hours ("BusinessHours").
struct FilterSettings {
  std::int32_t logEnabled = 1;
  std::int32_t mailEnabled = 0;
  char controlFilePath[kControlFilePathSize] = {};
  char denialBody[kDenialBodySize] = {};
  // Non-zero when "BusinessHours" is stored: the "Hours" list is then
  // denied during the hours of businessHours (the engine's table layout).
  std::int32_t hoursEnabled = 0;
  unsigned char businessHours[QX_HOURS_SIZE] = {};
};

// The values the filter holds before any settings are read
// (kFilterDefaults: "site.txt", an empty body, logging on, alert
// collection off).
FilterSettings DefaultFilterSettings();
// The same switches, with the texts of current: what a new reading starts
// from, so that a text missing from the store keeps the one in force.
FilterSettings DefaultSwitchesWithTexts(const FilterSettings& current);

// Reads "Log", "Mail", "ControlFile", "ErrorMsg" and "BusinessHours" from
// the main key at keyPath into out; a missing value leaves its field as it
// was (a missing switch reads as -1; missing business hours turn the hours
// off). A main key that does not exist is not an error;
// *keyMissing (when given) then says so in the store's words, and is
// cleared when the key exists. A store that cannot be read (a malformed or
// unreadable settings file) is: false, with *fault naming the file, the
// line and what is wrong, and out unchanged. So is a "BusinessHours" text
// that does not parse: *fault names the value, its text and what is wrong.
bool ReadFilterSettings(Store& store, const char* keyPath, FilterSettings* out,
                        std::string* fault, std::string* keyMissing = nullptr);

// The table numbers of the categories whose state value in the key at path
// is exactly 1, in table order; none when the key does not open.
std::vector<int> TickedCategories(Store& store, const char* path);

// key path + "\" + subkey, however long (the filter's paths are at most a
// host's message buffer long and are never cut).
std::string SubkeyPath(const char* keyPath, const char* subkey);

}  // namespace settings

#endif  // PELLUMIN_SETTINGS_FILTER_SETTINGS_H_
