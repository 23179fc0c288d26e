// Several threads categorise and check URLs on one service at once, each
// with its own sets; every answer must equal the single-threaded one. Run
// under ThreadSanitizer (and helgrind) this also shows that the read-only
// calls really only read the service.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "corvane.h"
#include "policy_testing.h"
#include "testing/list_builder.h"

namespace corvane {
namespace {

using testing::CategoryBit;
using testing::NewService;
using testing::NewSet;

struct Answer {
  int categorised;
  QxTypes categorySet;
  std::string key;
  int checked;
  QxTypes checkResult;
  QxTypes reason;
  int checkedWithOwnSet;
  QxTypes ownSetReason;

  bool operator==(const Answer& other) const {
    return categorised == other.categorised && Same(categorySet, other.categorySet) &&
           key == other.key && checked == other.checked &&
           Same(checkResult, other.checkResult) && Same(reason, other.reason) &&
           checkedWithOwnSet == other.checkedWithOwnSet &&
           Same(ownSetReason, other.ownSetReason);
  }
  static bool Same(const QxTypes& a, const QxTypes& b) {
    return a.controls == b.controls && a.categories == b.categories;
  }
};

// The answers for one URL, with sets that belong to the calling thread.
Answer Ask(QxService* service, const std::string& url, QxTypes* result, QxTypes* reason,
           QxTypes* ownSet) {
  Answer answer;
  char key[QX_KEY_TEXT_SIZE] = {};
  answer.categorised = QX_CategorizeUrl(service, url.c_str(), result, key, QX_KEY_TEXT_SIZE - 1);
  answer.categorySet = *result;
  answer.key = (answer.categorised == QX_CATEGORIZED) ? key : "";
  QX_ClearTypes(reason);
  answer.checked = QX_Env_UrlCheck(service, url.c_str(), nullptr, nullptr, result, reason);
  answer.checkResult = *result;
  answer.reason = *reason;
  QX_ClearTypes(reason);
  answer.checkedWithOwnSet = QX_Env_UrlCheck(service, url.c_str(), nullptr, ownSet, result, reason);
  answer.ownSetReason = *reason;
  return answer;
}

TEST(ConcurrencyTest, ThreadsSeeWhatOneThreadSees) {
  testing::TempDir dir;
  std::vector<QxListRecord> records;
  for (int i = 0; i < 500; ++i) {
    const std::string host = "site" + std::to_string(i) + ".com";
    records.push_back(testing::DomainRecord("http://www." + host + "/", CategoryBit(1 + i % 27)));
    records.push_back(testing::UrlRecord("http://" + host + "/dir" + std::to_string(i % 5),
                                         CategoryBit(1 + (i * 7) % 27)));
  }
  const std::string control = dir.WriteList("control.lst", records);

  testing::FixedClock clock(2, 11);  // fixed before any thread starts
  auto service = NewService(&clock);
  ASSERT_EQ(QX_OK, QX_LoadControlList(service.get(), nullptr, control.c_str()));
  for (int i = 0; i < 100; i += 3) {
    auto request = NewSet({1 + i % 27}, {i % 2 ? 10 : 12});
    const std::string url = "http://site" + std::to_string(i) + ".com/dir" + std::to_string(i % 5);
    ASSERT_EQ(QX_OK, QX_UpdateSiteList(service.get(), url.c_str(), request.get()));
  }
  auto approve = NewSet({}, {1});
  ASSERT_EQ(QX_OK, QX_UpdateSiteList(service.get(), "http://site9.com/", approve.get()));

  auto regular = NewSet({2, 7, 13}, {3, 4, 5, 8, 16});
  auto other = NewSet({1, 5, 9, 20}, {1});
  ASSERT_EQ(QX_OK, QX_Env_RegularRestrictions(service.get(), regular.get(), 1));
  ASSERT_EQ(QX_OK, QX_Env_NonBusinessRestrictions(service.get(), other.get(), 1));
  ASSERT_EQ(QX_OK, QX_Env_NewsBackDoor(service.get(), "*.example.com", "group=", 8));
  ASSERT_EQ(QX_OK, QX_Env_SearchSite(service.get(), "search*.example.com", "q=", 7));
  auto words = NewSet({2, 13});
  ASSERT_EQ(QX_OK, QX_Env_RestrictedSearchWord(service.get(), "pills", words.get(), 8));
  ASSERT_EQ(QX_OK, QX_Env_RestrictedExtension(service.get(), "exe", 8));
  unsigned char hours[QX_HOURS_SIZE] = {};
  testing::FillHours(hours, {1, 2, 3, 4, 5}, 9, 17);
  ASSERT_EQ(QX_OK, QX_Env_BusinessHours(service.get(), hours));

  std::vector<std::string> urls;
  for (int i = 0; i < 400; ++i) {
    const std::string n = std::to_string(i);
    switch (i % 8) {
      case 0: urls.push_back("http://www.site" + n + ".com/page"); break;
      case 1: urls.push_back("http://site" + std::to_string(i / 4) + ".com/dir" + std::to_string(i % 5) + "/x"); break;
      case 2: urls.push_back("http://10.0." + std::to_string(i % 7) + "." + n + "/"); break;
      case 3: urls.push_back("http://home" + n + ".example.org/~user/"); break;
      case 4: urls.push_back("http://search" + n + ".example.com/find?q=cheap+pills"); break;
      case 5: urls.push_back("http://files.example.com/get/setup" + n + ".exe"); break;
      case 6: urls.push_back("news:alt.group" + n + ".talk"); break;
      default: urls.push_back("not a url " + n); break;
    }
  }

  std::vector<Answer> expected;
  {
    auto result = NewSet();
    auto reason = NewSet();
    auto own = NewSet({7, 19}, {1});
    for (const std::string& url : urls) {
      expected.push_back(Ask(service.get(), url, result.get(), reason.get(), own.get()));
    }
  }
  // The table must exercise more than one outcome of each operation.
  int restricted = 0;
  for (const Answer& answer : expected) restricted += answer.checked == QX_RESTRICTED;
  ASSERT_GT(restricted, 0);
  ASSERT_LT(restricted, static_cast<int>(urls.size()));

  constexpr int kThreads = 4;
  constexpr int kRounds = 5;
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      auto result = NewSet();
      auto reason = NewSet();
      auto own = NewSet({7, 19}, {1});
      for (int round = 0; round < kRounds; ++round) {
        // Each thread starts at another place in the table.
        for (std::size_t i = 0; i < urls.size(); ++i) {
          const std::size_t index = (i + static_cast<std::size_t>(t) * 97) % urls.size();
          if (!(Ask(service.get(), urls[index], result.get(), reason.get(), own.get()) ==
                expected[index])) {
            mismatches.fetch_add(1);
          }
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(0, mismatches.load());
}

}  // namespace
}  // namespace corvane
