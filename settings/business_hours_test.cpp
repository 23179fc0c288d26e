// Tests of the business-hours text: the table said back in the words it
// was written in, the reason a bad text is refused, and the hour test.
#include "business_hours.h"

#include <gtest/gtest.h>

#include <string>

namespace settings {
namespace {

TEST(BusinessHoursTextTest, TableIsSaidBackInGroupsOfDays) {
  struct Case {
    const char* text;
    const char* described;
  } cases[] = {
      {"Mon-Fri 08-12,13-17", "Mon-Fri 08-12,13-17"},
      {"Mon-Fri 08-12,13-17; Sat 09-12", "Mon-Fri 08-12,13-17; Sat 09-12"},
      {"mon 09-17\ntue-fri 9-17", "Mon-Fri 09-17"},
      {"Mon,Wed,Fri 10-11", "Mon,Wed,Fri 10-11"},
      {"Sun-Sat 00-24", "Mon-Sun 00-24"},
      {"Fri-Mon 08-10", "Mon,Fri-Sun 08-10"},
      {"Mon 08-10,10-12", "Mon 08-12"},
      {"Tue 23-24; Tue 00-01", "Tue 00-01,23-24"},
      {"", "none"},
      {"# nothing but a comment", "none"},
  };
  for (const Case& c : cases) {
    unsigned char table[QX_HOURS_SIZE];
    std::string error;
    ASSERT_TRUE(ParseBusinessHours(c.text, table, &error)) << c.text << ": " << error;
    EXPECT_EQ(DescribeBusinessHours(table), c.described) << c.text;
    // What is said back parses to the same table.
    unsigned char again[QX_HOURS_SIZE];
    const std::string said = DescribeBusinessHours(table);
    ASSERT_TRUE(ParseBusinessHours(said == "none" ? "" : said, again, &error)) << said;
    EXPECT_EQ(std::string(table, table + QX_HOURS_SIZE), std::string(again, again + QX_HOURS_SIZE))
        << c.text;
  }
}

TEST(BusinessHoursTextTest, RefusalSaysWhichPartIsWrong) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"Mon-Fri", "\"Mon-Fri\" needs days and hours, such as \"Mon-Fri 09-17\""},
      {"Mon-Fry 08-17", "unknown day or day range \"Mon-Fry\" (days are Sun to Sat)"},
      {"Mon-Fri 08-12,13", "hours must be a range such as \"09-17\" (from 0 to 24, end after start), not \"13\""},
      {"Mon 12-12", "hours must be a range such as \"09-17\" (from 0 to 24, end after start), not \"12-12\""},
      {"Mon 08-12; Tue", "\"Tue\" needs days and hours, such as \"Mon-Fri 09-17\""},
      {"Mon-Tue-Wed 08-12", "unknown day or day range \"Mon-Tue-Wed\" (days are Sun to Sat)"},
  };
  for (const Case& c : cases) {
    unsigned char table[QX_HOURS_SIZE];
    std::string error;
    EXPECT_FALSE(ParseBusinessHours(c.text, table, &error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

TEST(BusinessHoursTextTest, HourTestReadsTheTableAndRefusesInvalidTimes) {
  unsigned char table[QX_HOURS_SIZE];
  std::string error;
  ASSERT_TRUE(ParseBusinessHours("Mon 09-10", table, &error)) << error;
  struct Case {
    platform::WeekdayHour now;
    bool business;
  } cases[] = {{{1, 9}, true},  {{1, 10}, false}, {{1, 8}, false}, {{2, 9}, false},
               {{-1, 9}, false}, {{7, 9}, false},  {{1, 24}, false}, {{1, -1}, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(IsBusinessHour(table, c.now), c.business) << c.now.weekday << ":" << c.now.hour;
  }
}

}  // namespace
}  // namespace settings
