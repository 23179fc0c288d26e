// HXInit with memory running out at each allocation in turn, the engine's
// and the settings store's alike (this program links the engine statically,
// so that its allocation hook is within reach). Every failure leaves the
// plug-in not ready and without a service, with a message that says why;
// requests then pass; a later HXInit makes it ready again. Leaks are for
// the sanitizer build to find at exit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "filter.h"
#include "tarnwick.h"
#include "testing/failing_allocator.h"
#include "testing/host_fixture.h"
#include "testing/plugin_setup.h"

namespace tarnwick {
namespace {

using corvane::testkit::FailingAllocator;


TEST(InitFaultTest, EveryAllocationFailingLeavesThePluginNotReady) {
  tarnwick::Filter plugin(testkit::Registry::Get().env());
  testkit::StandardFilter filter;
  testkit::WriteStandardFilter(&filter);
  const std::string loadFailed =
      "Pellumin Error: " + filter.controlFile + " could not be loaded correctly.";
  const std::vector<std::string> failures = {
      "Pellumin Error: Could not Initialize Pellumin.", loadFailed,
      "Pellumin Error: Couldn't allocate memory for Types."};
  std::vector<char> message(TARNWICK_MESSAGE_BUFFER_SIZE, '\0');
  long failing = 0;
  int notReady = 0;
  for (; failing < 5000; ++failing) {
    std::memset(message.data(), 0, message.size());
    std::memcpy(message.data(), filter.keyPath.c_str(), filter.keyPath.size() + 1);
    FailingAllocator failure(failing);
    const int rc = plugin.Init(message.data());
    failure.End();
    const std::string text(message.data());
    if (!failure.reached()) {
      EXPECT_EQ(rc, 1) << text;
      break;
    }
    if (rc == 1) {
      // A failure the store or the engine could do without (the size of the
      // list file, say): then the filter must be complete.
      EXPECT_EQ(testkit::FilterUrl(plugin, "http://both.example/"), 0) << "allocation " << failing;
      EXPECT_EQ(testkit::FilterUrl(plugin, "http://alertonly.example/"), 1);
      plugin.UnInit();
      continue;
    }
    ++notReady;
    EXPECT_NE(std::find(failures.begin(), failures.end(), text), failures.end())
        << "allocation " << failing << ": " << text;
    // No service; sets made before the failing one stay until HXUnInit or
    // the next HXInit releases them.
    EXPECT_FALSE(plugin.loaded()) << "allocation " << failing;
    // Not ready: every request passes, and a later HXInit succeeds.
    EXPECT_EQ(testkit::FilterUrl(plugin, "http://both.example/"), 1);
    std::string again;
    ASSERT_EQ(testkit::RunInit(plugin, filter.keyPath, &again), 1) << again;
    EXPECT_EQ(testkit::FilterUrl(plugin, "http://both.example/"), 0);
    plugin.UnInit();
  }
  EXPECT_LT(failing, 5000);
  // The engine's six allocations at least (service, list, four sets), and
  // those of reading the settings.
  EXPECT_GE(notReady, 6);
}

}  // namespace
}  // namespace tarnwick
