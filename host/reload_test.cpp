// Reloads as SIGHUP drives them, with the stub plug-in: HXInit again with
// the same key path, the access log reopened by name, and what hxhost says
// when either fails.
#include "reload.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "net.h"

namespace hxhost {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class ReloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(plugin_.Load(HXHOST_STUB_PLUGIN, true, &error)) << error;
    base_ = ::testing::TempDir() + "hxhost_reload_test_" + std::to_string(std::rand());
    ASSERT_TRUE(diagnostics_.OpenFile(base_ + ".diag", &error)) << error;
    ASSERT_TRUE(accessLog_.OpenFile(base_ + ".log", &error)) << error;
  }
  void TearDown() override {
    for (const char* suffix : {".diag", ".log", ".log.1"}) std::remove((base_ + suffix).c_str());
  }

  ReloadTargets Targets(const std::string& key, const std::string& logPath) {
    return {&plugin_, key, &accessLog_, logPath, &diagnostics_, nullptr, nullptr, ""};
  }

  PluginHost plugin_;
  LineLog accessLog_;
  LineLog diagnostics_;
  std::string base_;
};

#if !defined(_WIN32)
// Rotation by renaming the open file is the POSIX way; Windows refuses to
// rename a file that is open.
TEST_F(ReloadTest, RotatedLogIsClosedAndANewOneStarted) {
  accessLog_.Write("before");
  ASSERT_EQ(std::rename((base_ + ".log").c_str(), (base_ + ".log.1").c_str()), 0);
  EXPECT_TRUE(ReloadSettings(Targets("SOFTWARE\\Stub", base_ + ".log")));
  accessLog_.Write("after");
  EXPECT_NE(ReadAll(base_ + ".log.1").find("before"), std::string::npos);
  EXPECT_EQ(ReadAll(base_ + ".log.1").find("after"), std::string::npos);
  EXPECT_NE(ReadAll(base_ + ".log").find("after"), std::string::npos);
  const std::string said = ReadAll(base_ + ".diag");
  EXPECT_NE(said.find("hxhost: access log reopened: " + base_ + ".log"), std::string::npos) << said;
  EXPECT_NE(said.find("hxhost: plug-in: Stub plug-in ready"), std::string::npos) << said;
}
#endif

TEST_F(ReloadTest, FailuresSayWhyAndKeepWhatIsInForce) {
  // The stub fails for a key with "fail" in it; a log in a folder that is
  // not there cannot be reopened, and the old file stays in use.
  const std::string missing = base_ + ".no-such-folder/access.log";
  EXPECT_FALSE(ReloadSettings(Targets("SOFTWARE\\fail", missing)));
  accessLog_.Write("still here");
  EXPECT_NE(ReadAll(base_ + ".log").find("still here"), std::string::npos);
  const std::string said = ReadAll(base_ + ".diag");
  EXPECT_NE(said.find("hxhost: cannot reopen the access log " + missing), std::string::npos) << said;
  EXPECT_NE(said.find("hxhost: reload failed, the filter in force stays: Stub Error: told to fail"),
            std::string::npos)
      << said;
}

TEST_F(ReloadTest, ReloaderActsOnEachRequest) {
  {
    Reloader reloader(Targets("SOFTWARE\\Stub", ""));
    platform::RequestReload();
    for (int i = 0; i < 200 && ReadAll(base_ + ".diag").find("Stub plug-in ready") == std::string::npos; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  EXPECT_NE(ReadAll(base_ + ".diag").find("hxhost: reloading the settings below SOFTWARE\\Stub"),
            std::string::npos);
  EXPECT_NE(ReadAll(base_ + ".diag").find("hxhost: plug-in: Stub plug-in ready"), std::string::npos);
}

}  // namespace
}  // namespace hxhost
