// The log line format: UTC timestamp, the text with control characters
// neutralised, one line each; and concurrent writers never interleave.
#include "log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace hxhost {
namespace {

TEST(LineLogTest, FormatsTimestampAndNeutralisesControls) {
  struct Case {
    long long seconds;
    std::string line;
    std::string expected;
  } cases[] = {
      {0, "start", "1970-01-01T00:00:00Z start\n"},
      {951782400, "leap day", "2000-02-29T00:00:00Z leap day\n"},
      {1700000000, "~log line", "2023-11-14T22:13:20Z ~log line\n"},
      {86399, "a\r\nb\tc", "1970-01-01T23:59:59Z a??b?c\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(LineLog::Format(c.seconds, c.line), c.expected);
}

TEST(LineLogTest, ConcurrentWritersGiveWholeLines) {
  std::string path = ::testing::TempDir() + "hxhost_log_test.log";
  std::remove(path.c_str());
  {
    LineLog log;
    std::string error;
    ASSERT_TRUE(log.OpenFile(path, &error)) << error;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([&log, t] {
        for (int i = 0; i < 200; ++i) log.Write("writer " + std::to_string(t) + " " + std::string(100, 'x'));
      });
    }
    for (auto& th : threads) th.join();
  }
  std::ifstream in(path);
  std::string line;
  int count = 0;
  while (std::getline(in, line)) {
    ++count;
    EXPECT_NE(line.find(" writer "), std::string::npos) << line;
    EXPECT_EQ(line.substr(line.size() - 100), std::string(100, 'x')) << line;
  }
  EXPECT_EQ(count, 1600);
  std::remove(path.c_str());
}

TEST(LineLogTest, UnwritableFileIsReported) {
  LineLog log;
  std::string error;
  EXPECT_FALSE(log.OpenFile(::testing::TempDir() + "no-such-dir/x/y.log", &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace hxhost
