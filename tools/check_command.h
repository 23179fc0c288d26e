// check_command.h -- "corvane check": the engine's complete URL check from
// the command line, with the restriction sets, policy lists, business hours
// and clock given as options.
#ifndef PELLUMIN_TOOLS_CHECK_COMMAND_H_
#define PELLUMIN_TOOLS_CHECK_COMMAND_H_

#include <cstdint>
#include <iosfwd>
#include <string>

#include "business_hours.h"
#include "corvane.h"

namespace corvane_tool {

// The hours text and the clock option (settings/business_hours.h).
using settings::ParseBusinessHours;
using settings::ParseWeekdayHour;

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
