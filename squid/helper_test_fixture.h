// helper_test_fixture.h -- the helper's test fixture: the standard filter of
// the plug-in's tests (plugin/testing) written to the test program's
// settings file, and options for a helper over it.
#ifndef PELLUMIN_SQUID_HELPER_TEST_FIXTURE_H_
#define PELLUMIN_SQUID_HELPER_TEST_FIXTURE_H_

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "squid_helper.h"
#include "testing/host_fixture.h"
#include "testing/plugin_setup.h"

namespace tarnwick_squid {

// The block page of the tests' answers.
inline constexpr char kTestRedirect[] = "http://block.example/?u=%u&c=%c&a=%a";

class HelperTestBase : public ::testing::Test {
 protected:
  void SetUp() override {
    tarnwick::testkit::WriteStandardFilter(&filter_);
    options_.keyPath = filter_.keyPath;
    options_.redirect = kTestRedirect;
    options_.logPath = dir_.File("access.log");
    options_.threads = 3;
    options_.maxLineLength = 256;
    options_.env = &env_;
  }

  tarnwick::testkit::StandardFilter filter_;
  tarnwick::testkit::TempDir dir_;
  // The test program's settings file, which a test may swap for another.
  tarnwick::testkit::RegistryEnv env_{tarnwick::testkit::Registry::Get().env()->registry()};
  HelperOptions options_;
};

// Reloads a helper again and again on a thread of its own, from its
// construction until Stop; a reload that fails fails the test.
class ReloadLoop {
 public:
  explicit ReloadLoop(FilterHelper* helper)
      : thread_([this, helper] {
          std::string text;
          while (running_.load()) {
            if (!helper->Reload(&text)) ADD_FAILURE() << text;
            ++reloads_;
          }
        }) {}
  ~ReloadLoop() { Stop(); }
  // Ends the loop; returns how many reloads it made.
  int Stop() {
    running_.store(false);
    if (thread_.joinable()) thread_.join();
    return reloads_.load();
  }

 private:
  std::atomic<bool> running_{true};
  std::atomic<int> reloads_{0};
  std::thread thread_;
};

}  // namespace tarnwick_squid

#endif  // PELLUMIN_SQUID_HELPER_TEST_FIXTURE_H_
