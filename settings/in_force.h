// in_force.h -- what a filter has in force, in the lines an administrator
// reads when a host starts or reloads: the denied and the alerted
// categories and the control list with its record count.
//
// Built on the engine's public interface (corvane.h): the category sets
// are the engine's, and the record count is what the engine's load of the
// control list found.
#ifndef PELLUMIN_SETTINGS_IN_FORCE_H_
#define PELLUMIN_SETTINGS_IN_FORCE_H_

#include <string>
#include <vector>

#include "corvane.h"
#include "store.h"

namespace settings {

// The table names of the categories in set, in table order.
std::vector<std::string> CategoryNames(const QxTypes* set);

// Three lines: the denied categories, the alerted ones (each by name, or
// "none"), and the control list with its record count ("nothing will
// match" when it has none). With a business-hours table (businessHours not
// null) a fourth line names the hours and the categories of hoursSet that
// are denied during them.
std::vector<std::string> DescribeFilter(const QxTypes* denySet, const QxTypes* alertSet,
                                        const char* controlFile, long long records,
                                        const unsigned char* businessHours = nullptr,
                                        const QxTypes* hoursSet = nullptr);

// The same for the settings stored at keyPath, read the way the filter
// reads them, with the control list loaded by the engine for its record
// count. For a host that runs the filter through its entry points only.
// False with *error when the store cannot be read or the list does not
// load.
bool DescribeStoredFilter(Store& store, const char* keyPath, std::vector<std::string>* lines,
                          std::string* error);

}  // namespace settings

#endif  // PELLUMIN_SETTINGS_IN_FORCE_H_
