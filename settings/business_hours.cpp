// business_hours.cpp -- the business-hours text, its table and the hour
// test.
#include "business_hours.h"

#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "base/args.h"
#include "base/ascii.h"

namespace settings {
namespace {

const char* const kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

// A number of one to nine plain digits from low to high.
bool ParseNumber(const std::string& text, int low, int high, int* value) {
  long number = 0;
  if (!base::ParseDecimalInRange(text, low, high, &number)) return false;
  *value = static_cast<int>(number);
  return true;
}

bool ParseDay(const std::string& text, int* day) {
  const std::string name = base::ToAsciiUpper(base::TrimAsciiSpace(text));
  if (ParseNumber(name, 0, 6, day)) return true;
  for (int i = 0; i < 7; ++i) {
    // "Mon", "Monday" and anything between.
    static const std::string_view kFull[7] = {"SUNDAY",   "MONDAY", "TUESDAY", "WEDNESDAY",
                                              "THURSDAY", "FRIDAY", "SATURDAY"};
    if (name.size() >= 3 && name.size() <= kFull[i].size() &&
        kFull[i].compare(0, name.size(), name) == 0) {
      *day = i;
      return true;
    }
  }
  return false;
}

// The open hours of one day as "08-12,13-17"; "" when none.
std::string DayHours(const unsigned char* day) {
  std::string text;
  for (int hour = 0; hour < 24;) {
    if (day[hour] == 0) {
      ++hour;
      continue;
    }
    int end = hour;
    while (end < 24 && day[end] != 0) ++end;
    char range[8];
    std::snprintf(range, sizeof range, "%02d-%02d", hour, end);
    if (!text.empty()) text += ',';
    text += range;
    hour = end;
  }
  return text;
}

}  // namespace

bool ParseBusinessHours(const std::string& text, unsigned char table[QX_HOURS_SIZE],
                        std::string* error) {
  std::memset(table, 0, QX_HOURS_SIZE);
  std::string entries;
  // Line breaks separate entries as ";" does; comments run to the line end.
  for (const std::string& line : base::SplitAt(text, '\n')) {
    const std::size_t hash = line.find('#');
    entries += line.substr(0, hash) + ';';
  }
  for (const std::string& rawEntry : base::SplitAt(entries, ';')) {
    const std::string entry = base::TrimAsciiSpace(rawEntry);
    if (entry.empty()) continue;
    std::size_t space = entry.find_first_of(" \t");
    if (space == std::string::npos) {
      *error = "\"" + entry + "\" needs days and hours, such as \"Mon-Fri 09-17\"";
      return false;
    }
    bool days[7] = {};
    for (const std::string& dayItem : base::SplitAt(entry.substr(0, space), ',')) {
      const std::vector<std::string> range = base::SplitAt(dayItem, '-');
      int first = 0;
      int last = 0;
      if (range.size() > 2 || !ParseDay(range[0], &first) ||
          !ParseDay(range.size() == 2 ? range[1] : range[0], &last)) {
        *error = "unknown day or day range \"" + dayItem + "\" (days are Sun to Sat)";
        return false;
      }
      for (int day = first;; day = (day + 1) % 7) {
        days[day] = true;
        if (day == last) break;
      }
    }
    for (const std::string& hourItem : base::SplitAt(base::TrimAsciiSpace(entry.substr(space)), ',')) {
      const std::vector<std::string> range = base::SplitAt(base::TrimAsciiSpace(hourItem), '-');
      int from = 0;
      int to = 0;
      if (range.size() != 2 || !ParseNumber(base::TrimAsciiSpace(range[0]), 0, 23, &from) ||
          !ParseNumber(base::TrimAsciiSpace(range[1]), 1, 24, &to) || to <= from) {
        *error = "hours must be a range such as \"09-17\" (from 0 to 24, end after start), not \"" +
                 base::TrimAsciiSpace(hourItem) + "\"";
        return false;
      }
      for (int day = 0; day < 7; ++day) {
        if (!days[day]) continue;
        for (int hour = from; hour < to; ++hour) table[day * 24 + hour] = 1;
      }
    }
  }
  return true;
}

std::string DescribeBusinessHours(const unsigned char table[QX_HOURS_SIZE]) {
  std::string text;
  // Monday first, as a working week is read; Sunday last.
  static const int kOrder[7] = {1, 2, 3, 4, 5, 6, 0};
  bool done[7] = {};
  for (int i = 0; i < 7; ++i) {
    const int day = kOrder[i];
    if (done[day]) continue;
    const std::string hours = DayHours(table + day * 24);
    if (hours.empty()) continue;
    // The days with the same hours, as runs in week order.
    std::string days;
    for (int j = i; j < 7;) {
      const int first = kOrder[j];
      if (done[first] || DayHours(table + first * 24) != hours) {
        ++j;
        continue;
      }
      int k = j;
      while (k + 1 < 7 && !done[kOrder[k + 1]] && DayHours(table + kOrder[k + 1] * 24) == hours) ++k;
      for (int m = j; m <= k; ++m) done[kOrder[m]] = true;
      if (!days.empty()) days += ',';
      days += kDayNames[first];
      if (k > j) days += std::string("-") + kDayNames[kOrder[k]];
      j = k + 1;
    }
    if (!text.empty()) text += "; ";
    text += days + " " + hours;
  }
  return text.empty() ? "none" : text;
}

bool IsBusinessHour(const unsigned char table[QX_HOURS_SIZE], platform::WeekdayHour now) {
  if (now.weekday < 0 || now.weekday > 6 || now.hour < 0 || now.hour > 23) return false;
  return table[now.weekday * 24 + now.hour] != 0;
}

bool ParseWeekdayHour(const std::string& text, int* weekday, int* hour, std::string* error) {
  const std::vector<std::string> parts = base::SplitAt(text, ':');
  if (parts.size() != 2 || !ParseDay(parts[0], weekday)) {
    *error = "expected WEEKDAY:HOUR such as \"Mon:9\" or \"1:09\", not \"" + text + "\"";
    return false;
  }
  if (!ParseNumber(base::TrimAsciiSpace(parts[1]), 0, 23, hour)) {
    *error = "the hour must be 0 to 23, not \"" + parts[1] + "\"";
    return false;
  }
  return true;
}

}  // namespace settings
