// Tests of the URL check: the steps, their order, the set in force, the
// list entries' modes, and the handles.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "corvane.h"
#include "policy_testing.h"
#include "testing/list_builder.h"

namespace corvane {
namespace {

using testing::CategoryBit;
using testing::ControlBit;
using testing::FixedClock;
using testing::NewService;
using testing::NewSet;
using testing::ServicePtr;

constexpr int kMonday = 1;
constexpr int kSaturday = 6;

// The tests' environment: a clock fixed at a weekday and hour, and a
// resolver that can be made to fail.
class CheckEnv : public FixedClock {
 public:
  CheckEnv() : FixedClock(kMonday, 10) {}
  platform::ResolveStatus ResolveHostName(const char* name,
                                          platform::HostAddressList* out) override {
    if (resolverFails) return platform::ResolveStatus::kFailed;
    return FixedClock::ResolveHostName(name, out);
  }
  std::atomic<bool> resolverFails{false};
};

class UrlCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    service_ = NewService(&env_);
    // Control list: a numeric host and a domain.
    control_ = dir_.WriteList(
        "control.lst", {testing::UrlRecord("http://10.0.0.5/", CategoryBit(10)),
                        testing::DomainRecord("http://www.daily.com/", CategoryBit(19))});
    ASSERT_EQ(QX_OK, QX_LoadControlList(service_.get(), nullptr, control_.c_str()));
    // Site list: a gambling site, and an approved page in the same category.
    auto gambling = NewSet({7, 9});
    ASSERT_EQ(QX_OK, QX_UpdateSiteList(service_.get(), "http://cards.example.com/", gambling.get()));
    ASSERT_EQ(QX_OK, QX_UpdateSiteList(service_.get(), "http://cards.example.com/rules", gambling.get()));
    auto approve = NewSet({}, {1});
    ASSERT_EQ(QX_OK, QX_UpdateSiteList(service_.get(), "http://cards.example.com/rules", approve.get()));

    ASSERT_EQ(QX_OK, QX_Env_NewsBackDoor(service_.get(), "*.news.ab", "group=", 8));
    ASSERT_EQ(QX_OK, QX_Env_NewsBackDoor(service_.get(), "biz.ab", "g=", 7));
    ASSERT_EQ(QX_OK, QX_Env_NewsBackDoor(service_.get(), "off.ab", "g=", 6));
    ASSERT_EQ(QX_OK, QX_Env_SearchSite(service_.get(), "search.ab", "q=", 8));
    ASSERT_EQ(QX_OK, QX_Env_SearchSite(service_.get(), "*.news.ab", "q=", 8));
    ASSERT_EQ(QX_OK, QX_Env_SearchSite(service_.get(), "late.ab", "q=", 7));
    auto gamblingWord = NewSet({7});
    ASSERT_EQ(QX_OK, QX_Env_RestrictedSearchWord(service_.get(), "poker", gamblingWord.get(), 8));
    ASSERT_EQ(QX_OK, QX_Env_RestrictedSearchWord(service_.get(), "dice", gamblingWord.get(), 0));
    ASSERT_EQ(QX_OK, QX_Env_RestrictedExtension(service_.get(), "exe", 8));
    ASSERT_EQ(QX_OK, QX_Env_RestrictedExtension(service_.get(), "zip", 7));
    ASSERT_EQ(QX_OK, QX_Env_RestrictedExtension(service_.get(), "msi", 6));

    // Business hours: Monday to Friday, 09:00 to 16:59.
    unsigned char hours[QX_HOURS_SIZE] = {};
    testing::FillHours(hours, {1, 2, 3, 4, 5}, 9, 17);
    ASSERT_EQ(QX_OK, QX_Env_BusinessHours(service_.get(), hours));
  }

  CheckEnv env_;
  testing::TempDir dir_;
  std::string control_;
  ServicePtr service_;
};

struct CheckCase {
  const char* name;
  const char* url;
  const char* query;
  std::vector<int> deniedCategories;
  std::vector<int> switches;
  bool businessHours;
  int result;
  std::vector<int> reasonControls;
  std::vector<int> reasonCategories;
};

std::uint32_t Controls(const std::vector<int>& numbers) {
  std::uint32_t word = 0;
  for (int n : numbers) word |= ControlBit(n);
  return word;
}

std::uint32_t Categories(const std::vector<int>& numbers) {
  std::uint32_t word = 0;
  for (int n : numbers) word |= CategoryBit(n);
  return word;
}

TEST_F(UrlCheckTest, StepsWithACallersSet) {
  const char* order = "http://x.news.ab/~joe/file.exe?group=1&q=poker";
  const CheckCase cases[] = {
      {"denied category", "http://cards.example.com/play", nullptr, {7}, {}, true, QX_RESTRICTED, {}, {7}},
      {"category not denied", "http://cards.example.com/", nullptr, {2}, {}, true, QX_UNRESTRICTED, {}, {}},
      {"approved only, unknown URL", "http://unknown.example.org/", nullptr, {}, {1}, true, QX_RESTRICTED, {6}, {}},
      {"approved only, listed but not approved", "http://cards.example.com/", nullptr, {}, {1}, true, QX_RESTRICTED, {6}, {}},
      {"approved page passes a denied category", "http://cards.example.com/rules/x", nullptr, {7}, {1}, true, QX_UNRESTRICTED, {}, {}},
      {"approved page passes every later step", "http://cards.example.com/rules/a.exe", nullptr, {}, {3, 4, 16}, true, QX_UNRESTRICTED, {}, {}},
      {"numeric address", "http://10.0.0.5/", nullptr, {7}, {3}, true, QX_RESTRICTED, {3}, {}},
      {"numeric address allowed", "http://10.0.0.5/", nullptr, {7}, {4}, true, QX_UNRESTRICTED, {}, {}},
      {"personal page of an unknown site", "http://home.example.org/~user/", nullptr, {}, {4}, true, QX_RESTRICTED, {4}, {}},
      {"extension", "http://files.example.org/dl/setup.exe", nullptr, {}, {16}, true, QX_RESTRICTED, {16}, {}},
      {"extension, dot first", "http://files.example.org/dl/.exe", nullptr, {}, {16}, true, QX_UNRESTRICTED, {}, {}},
      {"extension of an entry switched off", "http://files.example.org/a.msi", nullptr, {}, {16}, true, QX_UNRESTRICTED, {}, {}},
      {"extension of business hours, in hours", "http://files.example.org/a.zip", nullptr, {}, {16}, true, QX_RESTRICTED, {16}, {}},
      {"extension of business hours, after hours", "http://files.example.org/a.zip", nullptr, {}, {16}, false, QX_UNRESTRICTED, {}, {}},
      {"extension only in the last segment", "http://files.example.org/a.exe/readme", nullptr, {}, {16}, true, QX_UNRESTRICTED, {}, {}},
      {"extension step off", "http://files.example.org/setup.exe", nullptr, {}, {5, 8}, true, QX_UNRESTRICTED, {}, {}},
      {"news back door", "http://x.news.ab/read?group=alt", nullptr, {}, {5}, true, QX_RESTRICTED, {5}, {}},
      {"news back door without query", "http://x.news.ab/read", nullptr, {}, {5}, true, QX_UNRESTRICTED, {}, {}},
      {"news back door, caller's query", "http://x.news.ab/read", "group=alt", {}, {5}, true, QX_RESTRICTED, {5}, {}},
      {"caller's query replaces the URL's", "http://x.news.ab/read?group=alt", "other=1", {}, {5}, true, QX_UNRESTRICTED, {}, {}},
      {"news host not matching", "http://news.ab/read?group=alt", nullptr, {}, {5}, true, QX_UNRESTRICTED, {}, {}},
      {"news entry of business hours, in hours", "http://biz.ab/?g=1", nullptr, {}, {5}, true, QX_RESTRICTED, {5}, {}},
      {"news entry of business hours, after hours", "http://biz.ab/?g=1", nullptr, {}, {5}, false, QX_UNRESTRICTED, {}, {}},
      {"news entry switched off", "http://off.ab/?g=1", nullptr, {}, {5}, true, QX_UNRESTRICTED, {}, {}},
      {"search word of mode 8", "http://search.ab/find?q=red+poker", nullptr, {7}, {8}, true, QX_RESTRICTED, {8, 2}, {}},
      {"search word of another mode", "http://search.ab/find?x=1&q=dice", nullptr, {7}, {8}, true, QX_RESTRICTED, {8}, {}},
      {"search word whose category is not denied", "http://search.ab/find?q=poker", nullptr, {2}, {8}, true, QX_UNRESTRICTED, {}, {}},
      {"search word on another site", "http://other.ab/find?q=poker", nullptr, {7}, {8}, true, QX_UNRESTRICTED, {}, {}},
      {"search site of business hours, after hours", "http://late.ab/?q=poker", nullptr, {7}, {8}, false, QX_UNRESTRICTED, {}, {}},
      {"search site of business hours, in hours", "http://late.ab/?q=poker", nullptr, {7}, {8}, true, QX_RESTRICTED, {8, 2}, {}},
      {"search words in a caller's query", "http://search.ab/find", "q=dice", {7}, {8}, true, QX_RESTRICTED, {8}, {}},
      // The order of the steps, one switch taken away at a time.
      {"order: approved only first", order, nullptr, {7}, {1, 3, 4, 5, 16, 8}, true, QX_RESTRICTED, {6}, {}},
      {"order: personal page", order, nullptr, {7}, {3, 4, 5, 16, 8}, true, QX_RESTRICTED, {4}, {}},
      {"order: news back door", order, nullptr, {7}, {3, 5, 16, 8}, true, QX_RESTRICTED, {5}, {}},
      {"order: extension", order, nullptr, {7}, {3, 16, 8}, true, QX_RESTRICTED, {16}, {}},
      {"order: search word", order, nullptr, {7}, {3, 8}, true, QX_RESTRICTED, {8, 2}, {}},
      {"order: nothing left", order, nullptr, {7}, {3}, true, QX_UNRESTRICTED, {}, {}},
      {"order: category before numeric", "http://10.0.0.5/~a/b.exe", nullptr, {10}, {3, 4, 16}, true, QX_RESTRICTED, {}, {10}},
      {"order: numeric before personal", "http://10.0.0.5/~a/b.exe", nullptr, {}, {3, 4, 16}, true, QX_RESTRICTED, {3}, {}},
      {"unparseable, no approved-only", "not a url", nullptr, {1, 2, 3}, {3, 4, 5, 8, 16}, true, QX_OK, {}, {}},
      {"unparseable, approved only", "not a url", nullptr, {}, {1}, true, QX_RESTRICTED, {6}, {}},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    env_.Set(c.businessHours ? kMonday : kSaturday, 10);
    auto restriction = NewSet();
    restriction->categories = Categories(c.deniedCategories);
    restriction->controls = Controls(c.switches);
    auto result = NewSet({1}, {1});  // cleared by the check
    auto reason = NewSet();
    EXPECT_EQ(c.result, QX_Env_UrlCheck(service_.get(), c.url, c.query, restriction.get(),
                                        result.get(), reason.get()));
    EXPECT_EQ(Controls(c.reasonControls), reason->controls);
    EXPECT_EQ(Categories(c.reasonCategories), reason->categories);
  }
}

TEST_F(UrlCheckTest, TheUrlResultHoldsTheCategorisation) {
  auto restriction = NewSet({2});
  auto result = NewSet({27}, {16});
  auto reason = NewSet();
  ASSERT_EQ(QX_UNRESTRICTED, QX_Env_UrlCheck(service_.get(), "http://cards.example.com/x?y", nullptr,
                                             restriction.get(), result.get(), reason.get()));
  EXPECT_EQ(CategoryBit(7) | CategoryBit(9), result->categories);
  EXPECT_EQ(ControlBit(9) | QX_CONTROL_QUERY, result->controls);

  ASSERT_EQ(QX_UNRESTRICTED, QX_Env_UrlCheck(service_.get(), "http://www.daily.com/front", nullptr,
                                             restriction.get(), result.get(), reason.get()));
  EXPECT_EQ(CategoryBit(19), result->categories);
  EXPECT_EQ(0u, result->controls);
}

TEST_F(UrlCheckTest, ReasonsAddToWhatTheReasonSetHeld) {
  // The check does not clear the reason set, except where the category step
  // rewrites it for a listed URL.
  auto restriction = NewSet({}, {4});
  auto result = NewSet();
  auto reason = NewSet({3}, {9});
  ASSERT_EQ(QX_RESTRICTED, QX_Env_UrlCheck(service_.get(), "http://home.example.org/~u/", nullptr,
                                           restriction.get(), result.get(), reason.get()));
  EXPECT_EQ(ControlBit(9) | ControlBit(4), reason->controls);
  EXPECT_EQ(CategoryBit(3), reason->categories);

  auto listedReason = NewSet({3}, {9});
  ASSERT_EQ(QX_UNRESTRICTED, QX_Env_UrlCheck(service_.get(), "http://cards.example.com/", nullptr,
                                             restriction.get(), result.get(), listedReason.get()));
  EXPECT_EQ(0u, listedReason->controls);
  EXPECT_EQ(0u, listedReason->categories);
}

TEST_F(UrlCheckTest, TheServiceSetOfThePeriodApplies) {
  const char* url = "http://cards.example.com/";
  auto result = NewSet();
  auto reason = NewSet();
  // Nothing configured: nothing to check.
  EXPECT_EQ(QX_OK, QX_Env_UrlCheck(service_.get(), url, nullptr, nullptr, result.get(), reason.get()));

  auto gambling = NewSet({7});
  ASSERT_EQ(QX_OK, QX_Env_NonBusinessRestrictions(service_.get(), gambling.get(), 1));
  env_.Set(kMonday, 10);
  // Business hours, but only the other set exists.
  EXPECT_EQ(QX_OK, QX_Env_UrlCheck(service_.get(), url, nullptr, nullptr, result.get(), reason.get()));
  env_.Set(kMonday, 20);
  EXPECT_EQ(QX_RESTRICTED, QX_Env_UrlCheck(service_.get(), url, nullptr, nullptr, result.get(), reason.get()));

  auto empty = NewSet();
  ASSERT_EQ(QX_OK, QX_Env_RegularRestrictions(service_.get(), empty.get(), 1));
  env_.Set(kMonday, 10);
  EXPECT_EQ(QX_UNRESTRICTED, QX_Env_UrlCheck(service_.get(), url, nullptr, nullptr, result.get(), reason.get()));
  // With the hours table off, the business-hours set applies at any hour.
  ASSERT_EQ(QX_OK, QX_Env_BusinessHours(service_.get(), nullptr));
  env_.Set(kSaturday, 3);
  EXPECT_EQ(QX_UNRESTRICTED, QX_Env_UrlCheck(service_.get(), url, nullptr, nullptr, result.get(), reason.get()));
}

TEST_F(UrlCheckTest, ResolutionFailureDecidesNothing) {
  env_.resolverFails = true;
  ASSERT_EQ(QX_OK, QX_SetIPOption(service_.get(), 3));
  auto restriction = NewSet({}, {1});
  auto result = NewSet();
  auto reason = NewSet({}, {9});
  EXPECT_EQ(QX_ERR_RESOLVE, QX_Env_UrlCheck(service_.get(), "http://cards.example.com/", nullptr,
                                            restriction.get(), result.get(), reason.get()));
  EXPECT_EQ(ControlBit(9), reason->controls);
  // A numeric host is never resolved, so it is checked.
  EXPECT_EQ(QX_RESTRICTED, QX_Env_UrlCheck(service_.get(), "http://10.0.0.5/", nullptr,
                                           restriction.get(), result.get(), reason.get()));
}

TEST_F(UrlCheckTest, HandlesAreCheckedInOrder) {
  auto set = NewSet();
  auto result = NewSet();
  auto reason = NewSet();
  QxTypes* wrongSet = reinterpret_cast<QxTypes*>(service_.get());
  QxService* wrongService = reinterpret_cast<QxService*>(set.get());
  const char* url = "http://cards.example.com/";
  struct Case {
    QxService* service;
    QxTypes* restriction;
    QxTypes* result;
    QxTypes* reason;
    int expected;
  };
  const Case cases[] = {
      {nullptr, wrongSet, nullptr, nullptr, QX_ERR_NULL_HANDLE},
      {wrongService, set.get(), result.get(), reason.get(), QX_ERR_BAD_HANDLE},
      {service_.get(), wrongSet, nullptr, nullptr, QX_ERR_BAD_HANDLE},
      {service_.get(), nullptr, nullptr, reason.get(), QX_ERR_NULL_HANDLE},
      {service_.get(), set.get(), wrongSet, reason.get(), QX_ERR_BAD_HANDLE},
      {service_.get(), set.get(), result.get(), nullptr, QX_ERR_NULL_HANDLE},
      {service_.get(), set.get(), result.get(), wrongSet, QX_ERR_BAD_HANDLE},
  };
  for (const Case& c : cases) {
    result->controls = 0x55;
    EXPECT_EQ(c.expected, QX_Env_UrlCheck(c.service, url, nullptr, c.restriction, c.result, c.reason));
    EXPECT_EQ(0x55u, result->controls);  // nothing written
  }
}

}  // namespace
}  // namespace corvane
