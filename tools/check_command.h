// check_command.h -- "corvane check": the engine's complete URL check from
// the command line, with the restriction sets, policy lists, business hours
// and clock given as options.
#ifndef PELLUMIN_TOOLS_CHECK_COMMAND_H_
#define PELLUMIN_TOOLS_CHECK_COMMAND_H_

#include <cstdint>
#include <iosfwd>
#include <string>

#include "corvane.h"

namespace corvane_tool {

// Parses a business-hours text into a 7 x 24 table (byte weekday * 24 +
// hour, weekday 0 = Sunday). Entries are separated by ";" or line breaks;
// each is DAYS HOURS, where DAYS is a day ("Mon"), a range ("Mon-Fri",
// which may wrap: "Fri-Mon") or a comma list of those, and HOURS is a range
// "09-17" (from 09:00 up to 16:59; "00-24" is the whole day) or a comma
// list of ranges. "#" starts a comment. The table is cleared first. On
// failure explains in *error.
bool ParseBusinessHours(const std::string& text, unsigned char table[QX_HOURS_SIZE],
                        std::string* error);

// Parses "WEEKDAY:HOUR" ("Mon:9", "1:09"); weekday names or 0..6 (0 = Sunday).
bool ParseWeekdayHour(const std::string& text, int* weekday, int* hour, std::string* error);

// The reason set of a check in words: "denied category: Gambling",
// "numeric address", and so on, one per line, each after indent.
std::string DescribeReasons(const QxTypes& reason, const std::string& indent);

// Runs "corvane check" on the given streams (standard input for URLs when
// none are given on the command line).
int RunCheck(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err);

// Runs "corvane check" on the process's standard streams.
int RunCheckCommand(int argc, char** argv);

}  // namespace corvane_tool

#endif  // PELLUMIN_TOOLS_CHECK_COMMAND_H_
