// defaults.h -- what the settings read as when the store has nothing.
//
// There are two sets: the request filter's (the contents of its buffers
// when the plug-in is loaded) and the configuration pages'. They differ on
// purpose: the filter falls back to the bare name "site.txt" and an empty
// denial body, the pages to the installed file paths and a red page.
#ifndef PELLUMIN_SETTINGS_DEFAULTS_H_
#define PELLUMIN_SETTINGS_DEFAULTS_H_

#include <cstdint>

namespace settings {

// Value names in the main key.
extern const char kControlFileValue[];  // "ControlFile"
extern const char kSiteFileValue[];     // "SiteFile"
extern const char kErrorMsgValue[];     // "ErrorMsg"
extern const char kDottedDecimalValue[];  // "DD"
extern const char kPersonalValue[];     // "Personal"
extern const char kLogValue[];          // "Log"
extern const char kMailValue[];         // "Mail"
extern const char kBusinessHoursValue[];  // "BusinessHours"

// The three list subkeys of the main key.
extern const char kDenySubkey[];   // "Deny"
extern const char kAlertSubkey[];  // "Alert"
extern const char kHoursSubkey[];  // "Hours"

// The request filter's defaults.
struct FilterDefaults {
  const char* controlFile;  // "site.txt", relative to the host's directory
  const char* denialBody;   // empty
  std::int32_t log;         // 1
  std::int32_t mail;        // 0
};
extern const FilterDefaults kFilterDefaults;

// The configuration pages' defaults. The "key open, value missing" column
// differs for the switches: a missing value reads as -1 there.
struct PageDefaults {
  const char* controlFile;  // "C:\Windows\System32\qxcontrol"
  const char* siteFile;     // "C:\Windows\System32\site.txt"
  const char* denialBody;   // the red "Access to this site is restricted." page
  std::int32_t dottedDecimal;  // 1 when the main key cannot be opened
  std::int32_t personal;       // 1
  std::int32_t log;            // 1
  std::int32_t mail;           // 0
};
extern const PageDefaults kPageDefaults;

// The 83-character body of kPageDefaults.denialBody.
extern const char kDefaultDenialBody[];

}  // namespace settings

#endif  // PELLUMIN_SETTINGS_DEFAULTS_H_
