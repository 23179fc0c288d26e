// Many requests at once, as a multi-threaded host makes them, while the
// filter is re-initialised: each answer must be the one a lone request
// gets. Run under ThreadSanitizer to check for data races.
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "filter.h"
#include "outputs.h"
#include "tarnwick.h"
#include "testing/host_fixture.h"
#include "testing/plugin_setup.h"

namespace tarnwick {
namespace {

using testkit::ClientPair;
using testkit::Dword;
using testkit::FilterOptions;
using testkit::Text;

TEST(ConcurrencyTest, ConcurrentRequestsAndReinitialisationGiveLoneAnswers) {
  Filter plugin(testkit::Registry::Get().env());
  testkit::StandardFilter filter;
  testkit::WriteStandardFilter(
      &filter, FilterOptions({Dword("Log", 1), Dword("Mail", 1), Text("ErrorMsg", "<p>busy</p>")}));
  std::string message;
  ASSERT_EQ(testkit::RunInit(plugin, filter.keyPath, &message), 1) << message;
  const std::string page = testkit::ExpectedPage("<p>busy</p>");

  constexpr int kThreads = 8;
  constexpr int kRequests = 150;
  struct Request {
    const char* url;
    int result;
    const char* key;  // log line key, or null when the URL stays
    bool denied;
  };
  const Request requests[] = {
      {"http://both.example/a", 0, "BOTH.EXAMPLE", true},
      {"http://denyonly.example/", 0, nullptr, true},
      {"http://alertonly.example/x/y", 1, "ALERTONLY.EXAMPLE", false},
      {"http://neither.example/", 1, nullptr, false},
      {"http://unlisted.example/", 1, nullptr, false},
  };

  std::vector<ClientPair> pairs;
  pairs.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) pairs.emplace_back("client-" + std::to_string(t));

  std::atomic<int> wrong{0};
  std::atomic<bool> done{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ClientPair& pair = pairs[t];
      const std::string client = "client-" + std::to_string(t);
      char url[TARNWICK_URL_BUFFER_SIZE];
      int sent = 0;
      for (int i = 0; i < kRequests; ++i) {
        const Request& r = requests[(i + t) % 5];
        std::strcpy(url, r.url);
        const int result = plugin.ProcessUrl(pair.host(), url);
        const std::string expected =
            r.key ? "~Pellumin Plugin: Access denied to URL: " + std::string(r.key) +
                        " for client: " + client
                  : std::string(r.url);
        bool ok = result == r.result && expected == url;
        if (r.denied) {
          sent += static_cast<int>(page.size());
          ok = ok && pair.Read(page.size()) == page;
        }
        ok = ok && pair.host()->bytesSent == sent;
        if (!ok) ++wrong;
      }
    });
  }
  // Re-initialisation while requests run: it waits for them and they for it.
  std::thread reinit([&] {
    for (int i = 0; i < 5; ++i) {
      std::vector<char> buffer(TARNWICK_MESSAGE_BUFFER_SIZE, '\0');
      std::strcpy(buffer.data(), filter.keyPath.c_str());
      if (plugin.Init(buffer.data()) != 1) ++wrong;
    }
    done = true;
  });
  for (std::thread& thread : threads) thread.join();
  reinit.join();
  EXPECT_TRUE(done);
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(plugin.alertBatch(), kAlertBatchHeader);
  EXPECT_EQ(plugin.alertCount(), 0);
  EXPECT_EQ(plugin.UnInit(), 1);
}

}  // namespace
}  // namespace tarnwick
