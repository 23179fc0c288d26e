// Tests of the "what is in force" lines: their wording, and the stored
// filter described from an in-memory store with its list loaded by the
// engine.
#include "in_force.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "memory_store.h"
#include "testing/list_builder.h"

namespace settings {
namespace {

using corvane::testkit::TempDir;
using testkit::MemoryStore;

QxTypes SetOf(const std::vector<int>& numbers) {
  QxTypes set = {{'Q', 'X', 'T', 'P'}, 0, 0};
  for (int n : numbers) QX_SetThisCategory(&set, n);
  return set;
}

TEST(DescribeFilterTest, NamesSetsInTableOrderAndCountsRecords) {
  struct Case {
    std::vector<int> deny, alert;
    long long records;
    std::vector<std::string> lines;
  } cases[] = {
      {{1, 2}, {17}, 1,
       {"denied categories: Drugs, Sex", "alerted categories: Chat", "control list: L (1 record)"}},
      {{}, {}, 0,
       {"denied categories: none", "alerted categories: none",
        "control list: L (0 records: nothing will match)"}},
      {{7}, {7, 11}, 12,
       {"denied categories: Gambling", "alerted categories: Gambling, Games",
        "control list: L (12 records)"}},
  };
  for (const Case& c : cases) {
    const QxTypes deny = SetOf(c.deny);
    const QxTypes alert = SetOf(c.alert);
    EXPECT_EQ(DescribeFilter(&deny, &alert, "L", c.records), c.lines);
  }
  EXPECT_TRUE(CategoryNames(nullptr).empty());
}

// The record count is what the engine's load finds; a list that does not
// load is reported, never counted from its header alone.
TEST(DescribeStoredFilterTest, CountsWhatTheEngineLoadsAndReportsWhatDoesNot) {
  TempDir dir;
  struct Case {
    const char* name;
    std::string bytes;  // none: no file
    bool described;
    std::string said;  // the last line, or a part of the error
  } cases[] = {
      {"empty.lst", std::string(4, '\0'), true, "(0 records: nothing will match)"},
      {"short.lst", std::string(2, '\0'), false, "short.lst has no record count"},
      {"cut.lst", std::string("\x01\0\0\0", 4), false, "cut.lst does not load (1002)"},
      {"absent.lst", "", false, "absent.lst cannot be opened"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path =
        c.bytes.empty() ? dir.File(c.name) : dir.Write(c.name, c.bytes);
    MemoryStore store;
    store.PutString("Software\\Describe", "ControlFile", path);
    store.PutDword("Software\\Describe\\Deny", "GamblingState", 1);
    store.PutDword("Software\\Describe\\Alert", "GamesState", 1);
    std::vector<std::string> lines;
    std::string error;
    EXPECT_EQ(DescribeStoredFilter(store, "Software\\Describe", &lines, &error), c.described);
    if (c.described) {
      ASSERT_EQ(lines.size(), 3u);
      EXPECT_EQ(lines[0], "denied categories: Gambling");
      EXPECT_EQ(lines[1], "alerted categories: Games");
      EXPECT_NE(lines[2].find(c.said), std::string::npos) << lines[2];
    } else {
      EXPECT_NE(error.find(c.said), std::string::npos) << error;
    }
    EXPECT_EQ(store.openKeys(), 0);
  }
}

}  // namespace
}  // namespace settings
