// HXConfig in the Linux build without a terminal: one line on standard
// error, the result 0, and nothing written.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tarnwick.h"

namespace {

TEST(HXConfigWithoutTerminal, SaysSoOnOneLineAndReturnsZero) {
  // Standard input from /dev/null is not a terminal, whatever ran the test.
  ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
  for (const char* path : {"SOFTWARE\\Pellumin\\Filter", static_cast<const char*>(nullptr)}) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(HXConfig(path), 0);
    const std::string said = ::testing::internal::GetCapturedStderr();
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
    EXPECT_NE(said.find("not a terminal"), std::string::npos) << said;
  }
}

}  // namespace
