// business_hours.h -- the weekly business-hours table in words: the text
// an administrator stores as "BusinessHours" (and gives "corvane check
// --hours"), the table it fills, the same table said back, and the test of
// one local hour against it.
#ifndef PELLUMIN_SETTINGS_BUSINESS_HOURS_H_
#define PELLUMIN_SETTINGS_BUSINESS_HOURS_H_

#include <string>

#include "corvane.h"
#include "platform.h"

namespace settings {

// Parses a business-hours text into a 7 x 24 table (byte weekday * 24 +
// hour, weekday 0 = Sunday, non-zero = business hour: the engine's layout).
// Entries are separated by ";" or line breaks; each is DAYS HOURS, where
// DAYS is a day ("Mon", "Monday", or 0 to 6), a range ("Mon-Fri", which may
// wrap: "Fri-Mon") or a comma list of those, and HOURS is a range "09-17"
// (from 09:00 up to 16:59; "00-24" is the whole day) or a comma list of
// ranges. "#" starts a comment. The table is cleared first. On failure
// *error says which part is wrong and why.
bool ParseBusinessHours(const std::string& text, unsigned char table[QX_HOURS_SIZE],
                        std::string* error);

// The table in the same words, one group per set of days with the same
// hours: "Mon-Fri 08-12,13-17; Sat 09-12"; "none" for an empty table.
std::string DescribeBusinessHours(const unsigned char table[QX_HOURS_SIZE]);

// True when now (a local weekday and hour) is a business hour of table; a
// clock that reports no valid time has none.
bool IsBusinessHour(const unsigned char table[QX_HOURS_SIZE], platform::WeekdayHour now);

// Parses "WEEKDAY:HOUR" ("Mon:9", "1:09"); weekday names or 0..6 (0 = Sunday).
bool ParseWeekdayHour(const std::string& text, int* weekday, int* hour, std::string* error);

}  // namespace settings

#endif  // PELLUMIN_SETTINGS_BUSINESS_HOURS_H_
