// Categorisation through the C interface, as the plug-in and other callers
// use it: lists built with the engine's own key rules, host resolution
// through a scripted resolver in the service's environment.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "corvane.h"
#include "env.h"
#include "platform.h"
#include "service_env.h"
#include "testing/list_builder.h"

namespace corvane {
namespace {

using testing::Categories;
using testing::KeyRecord;
using testing::TempDir;
using testing::UrlRecord;

// A scripted resolver: the answers of successive attempts, and the names
// asked for. claimedCount, when not -1, is the count it reports whatever it
// wrote (a resolver that gets its count wrong).
struct ScriptedResolver {
  std::vector<platform::ResolveStatus> answers;
  std::vector<std::string> addresses;
  std::vector<std::string> asked;
  int claimedCount = -1;
};

// The environment of the service under test: the script answers for the
// resolver.
class ScriptedEnv : public platform::EnvWrapper {
 public:
  explicit ScriptedEnv(ScriptedResolver* script)
      : EnvWrapper(platform::Env::Default()), script_(script) {}

  platform::ResolveStatus ResolveHostName(const char* name,
                                          platform::HostAddressList* out) override {
    ScriptedResolver& r = *script_;
    r.asked.emplace_back(name);
    const std::size_t attempt = r.asked.size() - 1;
    const platform::ResolveStatus status =
        attempt < r.answers.size() ? r.answers[attempt] : platform::ResolveStatus::kFailed;
    if (status == platform::ResolveStatus::kOk) {
      out->count = static_cast<int>(r.addresses.size());
      for (std::size_t i = 0; i < r.addresses.size() && i < platform::kMaxHostAddresses; ++i) {
        std::strncpy(out->dotted[i], r.addresses[i].c_str(), sizeof(out->dotted[i]) - 1);
        out->dotted[i][sizeof(out->dotted[i]) - 1] = '\0';
      }
      if (r.claimedCount != -1) out->count = r.claimedCount;
    }
    return status;
  }

 private:
  ScriptedResolver* const script_;
};

class CategorizeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    service_ = NewServiceWithEnv(&env_);
    result_ = QX_AllocateTypes();
  }
  void TearDown() override {
    QX_FreeTypes(result_);
    QX_FreeService(service_);
  }
  void LoadControl(std::vector<QxListRecord> records) {
    ASSERT_EQ(QX_LoadControlList(service_, nullptr, dir_.WriteList("control", records).c_str()), QX_OK);
  }
  void LoadSite(std::vector<QxListRecord> records) {
    ASSERT_EQ(QX_LoadSiteList(service_, dir_.WriteList("site", records).c_str()), QX_OK);
  }
  int Categorize(const char* url) {
    key_[0] = '\0';
    return QX_CategorizeUrl(service_, url, result_, key_, QX_KEY_TEXT_SIZE - 1);
  }

  TempDir dir_;
  QxService* service_ = nullptr;
  QxTypes* result_ = nullptr;
  ScriptedResolver resolver_;
  ScriptedEnv env_{&resolver_};
  char key_[QX_KEY_TEXT_SIZE];
};

TEST_F(CategorizeTest, FreshServiceFindsNothing) {
  for (const char* url : {"http://example.com/", "news:alt.test", "http://10.0.0.1/"}) {
    EXPECT_EQ(Categorize(url), QX_UNCATEGORIZED) << url;
    EXPECT_EQ(result_->categories, 0u) << url;
  }
}

TEST_F(CategorizeTest, SiteListComesFirstAndAloneCarriesTheApprovedMark) {
  const std::uint32_t adult = Categories({3}), news = Categories({7}), games = Categories({9});
  LoadControl({UrlRecord("http://both.com/", adult, 0, 1), UrlRecord("http://control.com/", games, 0, 1)});
  LoadSite({UrlRecord("http://both.com/", news, 0, 1), UrlRecord("http://site.com/x", games, 0, 0)});
  struct Case {
    const char* url;
    int result;
    std::uint32_t controls;
    std::uint32_t categories;
    const char* key;
  } cases[] = {
      {"http://both.com/page", QX_CATEGORIZED, 0x100 | 0x1, news, "BOTH.COM"},
      {"http://control.com/", QX_CATEGORIZED, 0, games, "CONTROL.COM"},
      {"http://site.com/x/y?q=1", QX_CATEGORIZED, 0x100 | QX_CONTROL_QUERY, games, "SITE.COM/X"},
      {"http://site.com/y", QX_UNCATEGORIZED, 0, 0, ""},
      {"http://none.com/~joe/?q", QX_UNCATEGORIZED, 0x8 | QX_CONTROL_QUERY, 0, ""},
      {"http://10.1.2.3/", QX_UNCATEGORIZED, 0x4, 0, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Categorize(c.url), c.result) << c.url;
    EXPECT_EQ(result_->controls, c.controls) << c.url;
    EXPECT_EQ(result_->categories, c.categories) << c.url;
    EXPECT_STREQ(key_, c.key) << c.url;
  }
}

TEST_F(CategorizeTest, ResultSetIsEmptiedFirstAndBadArgumentsAreRefused) {
  LoadControl({UrlRecord("http://a.com/", Categories({1}))});
  result_->controls = 0xFFFF;
  result_->categories = 0xFFFF;
  EXPECT_EQ(Categorize("not a url"), QX_ERR_BAD_URL);
  EXPECT_EQ(result_->controls, 0u);
  EXPECT_EQ(result_->categories, 0u);

  result_->controls = 0x7;
  EXPECT_EQ(QX_CategorizeUrl(nullptr, "http://a.com/", result_, nullptr, 0), QX_ERR_NULL_HANDLE);
  EXPECT_EQ(QX_CategorizeUrl(reinterpret_cast<QxService*>(result_), "http://a.com/", result_, nullptr, 0),
            QX_ERR_BAD_HANDLE);
  EXPECT_EQ(QX_CategorizeUrl(service_, "http://a.com/", nullptr, nullptr, 0), QX_ERR_NULL_HANDLE);
  EXPECT_EQ(QX_CategorizeUrl(service_, "http://a.com/", reinterpret_cast<QxTypes*>(service_), nullptr, 0),
            QX_ERR_BAD_HANDLE);
  EXPECT_EQ(result_->controls, 0x7u);
  EXPECT_EQ(QX_CategorizeUrl(service_, nullptr, result_, nullptr, 0), QX_ERR_BAD_URL);
}

TEST_F(CategorizeTest, KeyTextFollowsTheCallersLimit) {
  LoadControl({KeyRecord("ABCDEF.COM", Categories({2}))});  // a key of 10 characters
  struct Case {
    int limit;
    int result;
    std::size_t written;  // bytes written, terminator included
    bool terminated;
  } cases[] = {
      {1023, QX_CATEGORIZED, 11, true}, {10, QX_CATEGORIZED, 11, true},
      {9, QX_CATEGORIZED_TRUNCATED, 9, false}, {0, QX_CATEGORIZED_TRUNCATED, 0, false},
      {-1, QX_CATEGORIZED_TRUNCATED, 0, false}, {-100000, QX_CATEGORIZED_TRUNCATED, 0, false},
  };
  for (const Case& c : cases) {
    char buffer[64];
    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(QX_CategorizeUrl(service_, "http://abcdef.com/x", result_, buffer, c.limit), c.result)
        << c.limit;
    const std::string expected = std::string("ABCDEF.COM").substr(0, c.terminated ? 10 : c.written);
    EXPECT_EQ(std::string(buffer, std::min(c.written, expected.size())), expected) << c.limit;
    if (c.terminated) {
      EXPECT_EQ(buffer[10], '\0') << c.limit;
    }
    EXPECT_EQ(buffer[c.written], '#') << c.limit;
    EXPECT_EQ(result_->categories, Categories({2})) << c.limit;
  }
  EXPECT_EQ(QX_CategorizeUrl(service_, "http://abcdef.com/x", result_, nullptr, 0), QX_CATEGORIZED);
}

TEST_F(CategorizeTest, ResolvedHostsAreLookedUpByTheirAddresses) {
  // The second address is listed by its domain key: an address looked up in
  // place of a name takes the named-host rule (three-digit last number: the
  // last two numbers).
  LoadControl({KeyRecord("10.0.0.1/PATH", Categories({4})), KeyRecord("5.123", Categories({5}))});
  ASSERT_EQ(QX_SetIPOption(service_, 3), QX_OK);
  struct Case {
    const char* name;
    std::vector<platform::ResolveStatus> answers;
    std::vector<std::string> addresses;
    const char* url;
    int result;
    std::size_t attempts;
    std::uint32_t categories;
    const char* key;
  } cases[] = {
      {"first address", {platform::ResolveStatus::kOk}, {"10.0.0.1"}, "http://named/path", QX_CATEGORIZED,
       1, Categories({4}), "10.0.0.1/PATH"},
      {"second address after try-again", {platform::ResolveStatus::kTryAgain, platform::ResolveStatus::kOk},
       {"9.9.9.9", "4.5.123"}, "http://named/other", QX_CATEGORIZED, 2, Categories({5}), "5.123"},
      {"no address found", {platform::ResolveStatus::kOk}, {"1.1.1.1"}, "http://named/", QX_UNCATEGORIZED,
       1, 0, ""},
      {"empty address list", {platform::ResolveStatus::kOk}, {}, "http://named/path", QX_UNCATEGORIZED, 1,
       0, ""},
      {"hard failure stops at once", {platform::ResolveStatus::kFailed, platform::ResolveStatus::kOk},
       {"10.0.0.1"}, "http://named/path", QX_ERR_RESOLVE, 1, 0, ""},
      {"every attempt says try again",
       {platform::ResolveStatus::kTryAgain, platform::ResolveStatus::kTryAgain,
        platform::ResolveStatus::kTryAgain, platform::ResolveStatus::kOk},
       {"10.0.0.1"}, "http://named/path", QX_ERR_RESOLVE, 3, 0, ""},
      {"numeric host is never resolved", {}, {}, "http://10.0.0.1/path?x", QX_CATEGORIZED, 0,
       Categories({4}), "10.0.0.1/PATH"},
  };
  for (const Case& c : cases) {
    resolver_ = ScriptedResolver{c.answers, c.addresses, {}};
    EXPECT_EQ(Categorize(c.url), c.result) << c.name;
    EXPECT_EQ(resolver_.asked.size(), c.attempts) << c.name;
    EXPECT_EQ(result_->categories, c.categories) << c.name;
    EXPECT_STREQ(key_, c.key) << c.name;
    for (const std::string& asked : resolver_.asked) EXPECT_EQ(asked, "NAMED") << c.name;
  }
  // The URL's own controls survive a resolution failure.
  resolver_ = ScriptedResolver{{platform::ResolveStatus::kFailed}, {}, {}};
  EXPECT_EQ(Categorize("http://named/~me?x"), QX_ERR_RESOLVE);
  EXPECT_EQ(result_->controls, 0x8u | QX_CONTROL_QUERY);
}

TEST_F(CategorizeTest, ZeroTriesFailsEveryNamedHost) {
  LoadControl({UrlRecord("http://named/", Categories({1})), UrlRecord("http://1.2.3.4/", Categories({1}))});
  ASSERT_EQ(QX_SetIPOption(service_, 0), QX_OK);
  resolver_ = ScriptedResolver{{platform::ResolveStatus::kOk}, {"1.2.3.4"}, {}};
  EXPECT_EQ(Categorize("http://named/"), QX_ERR_RESOLVE);
  EXPECT_TRUE(resolver_.asked.empty());
  EXPECT_EQ(Categorize("http://1.2.3.4/"), QX_CATEGORIZED);
  ASSERT_EQ(QX_SetIPOption(service_, -4), QX_OK);
  EXPECT_EQ(Categorize("http://named/"), QX_ERR_RESOLVE);
}

TEST_F(CategorizeTest, SiteAndControlListsWalkTheSameAddresses) {
  LoadSite({KeyRecord("7.7.7.7", Categories({6}))});
  LoadControl({KeyRecord("8.8.8.8", Categories({8}), 0, 1)});
  ASSERT_EQ(QX_SetIPOption(service_, 1), QX_OK);
  resolver_ = ScriptedResolver{{platform::ResolveStatus::kOk}, {"8.8.8.8", "7.7.7.7"}, {}};
  // The site list is searched for every address before the control list.
  EXPECT_EQ(Categorize("http://named/"), QX_CATEGORIZED);
  EXPECT_EQ(result_->categories, Categories({6}));
  EXPECT_EQ(result_->controls, 0x100u);
  resolver_ = ScriptedResolver{{platform::ResolveStatus::kOk}, {"6.6.6.6", "8.8.8.8"}, {}};
  EXPECT_EQ(Categorize("http://named/"), QX_CATEGORIZED);
  EXPECT_EQ(result_->categories, Categories({8}));
  EXPECT_EQ(result_->controls, 0u);  // the control list's mark never counts
  EXPECT_EQ(resolver_.asked.size(), 1u);
}

TEST_F(CategorizeTest, ParentDomainOptionCoversHostsBelowListedDomains) {
  // Domains as the importer writes them (the bare key of the domain), which
  // the usual keys find only for the domain itself, or below it only for a
  // three-letter last label.
  const std::uint32_t poker = Categories({7}), news = Categories({19}), games = Categories({11});
  LoadControl({KeyRecord("01POKER.FR", poker), KeyRecord("X.INFO", games),
               KeyRecord("EXAMPLE.CO.UK", news), KeyRecord("SHOP.EXAMPLE.FR/GAMES", games),
               KeyRecord("EXAMPLE.FR", news), KeyRecord("SITE.ORG/A", games),
               KeyRecord("10.1.2", news), KeyRecord("COM", poker)});
  LoadSite({KeyRecord("X.SITE.EXAMPLE.FR", poker, 0, 1)});
  struct Case {
    const char* url;
    int off;  // result with the option off
    int on;   // result with it on
    std::uint32_t controls;
    std::uint32_t categories;
    const char* key;
  } cases[] = {
      // The UT1 cases: a two-letter or four-letter last label.
      {"http://www.01poker.fr/", QX_UNCATEGORIZED, QX_CATEGORIZED, 0, poker, "01POKER.FR"},
      {"http://a.b.c.01poker.fr/x/y?q", QX_UNCATEGORIZED, QX_CATEGORIZED, QX_CONTROL_QUERY, poker,
       "01POKER.FR"},
      {"http://www.x.info/page", QX_UNCATEGORIZED, QX_CATEGORIZED, 0, games, "X.INFO"},
      // The longest parent wins, and the site list before the control list.
      {"http://a.x.site.example.fr/", QX_UNCATEGORIZED, QX_CATEGORIZED, 0x100 | 0x1, poker,
       "X.SITE.EXAMPLE.FR"},
      {"http://a.shop.example.fr/games", QX_UNCATEGORIZED, QX_CATEGORIZED, 0, news, "EXAMPLE.FR"},
      // "WWW." dropped, with the path keys: after every parent domain.
      {"http://www.site.org/a/b", QX_UNCATEGORIZED, QX_CATEGORIZED, 0, games, "SITE.ORG/A"},
      {"http://www.shop.example.fr/games/x", QX_UNCATEGORIZED, QX_CATEGORIZED, 0, news,
       "EXAMPLE.FR"},
      // What the usual keys find stays as it is.
      {"http://01poker.fr/a", QX_CATEGORIZED, QX_CATEGORIZED, 0, poker, "01POKER.FR"},
      {"http://a.b.example.co.uk/", QX_CATEGORIZED, QX_CATEGORIZED, 0, news, "EXAMPLE.CO.UK"},
      {"http://shop.example.fr/games/1", QX_CATEGORIZED, QX_CATEGORIZED, 0, games,
       "SHOP.EXAMPLE.FR/GAMES"},
      // Numeric hosts have no parents; one label is never a parent.
      {"http://10.1.2.3.4/", QX_UNCATEGORIZED, QX_UNCATEGORIZED, 0x4, 0, ""},
      {"http://www.com/", QX_UNCATEGORIZED, QX_UNCATEGORIZED, 0, 0, ""},
      {"http://a.b.com.net/", QX_UNCATEGORIZED, QX_UNCATEGORIZED, 0, 0, ""},
      {"http://other.fr/", QX_UNCATEGORIZED, QX_UNCATEGORIZED, 0, 0, ""},
  };
  for (int on = 0; on < 2; ++on) {
    ASSERT_EQ(QX_SetParentDomainOption(service_, on), QX_OK);
    for (const Case& c : cases) {
      const int expected = on ? c.on : c.off;
      EXPECT_EQ(Categorize(c.url), expected) << c.url << (on ? " (on)" : " (off)");
      if (expected != QX_CATEGORIZED) continue;
      EXPECT_EQ(result_->controls, c.controls) << c.url;
      EXPECT_EQ(result_->categories, c.categories) << c.url;
      EXPECT_STREQ(key_, c.key) << c.url;
    }
  }
}

TEST_F(CategorizeTest, ParentDomainOptionIsOffAtFirstAndChecksItsHandle) {
  LoadControl({KeyRecord("EXAMPLE.FR", Categories({1}))});
  EXPECT_EQ(Categorize("http://www.example.fr/"), QX_UNCATEGORIZED);
  EXPECT_EQ(QX_SetParentDomainOption(nullptr, 1), QX_ERR_NULL_HANDLE);
  EXPECT_EQ(QX_SetParentDomainOption(reinterpret_cast<QxService*>(result_), 1), QX_ERR_BAD_HANDLE);
  EXPECT_EQ(QX_SetParentDomainOption(service_, 7), QX_OK);  // any non-zero value turns it on
  EXPECT_EQ(Categorize("http://www.example.fr/"), QX_CATEGORIZED);
  // qxtsturl keeps to the usual keys.
  QxUrl url;
  std::memset(&url, 0, sizeof url);
  ASSERT_EQ(qxprsurl(&url, "http://www.example.fr/"), 1);
  EXPECT_EQ(qxtsturl(&url, service_->controlRecords, service_->controlCount, nullptr), 0);
  // Resolved lookups go by the addresses alone.
  ASSERT_EQ(QX_SetIPOption(service_, 1), QX_OK);
  resolver_ = ScriptedResolver{{platform::ResolveStatus::kOk}, {"192.0.2.1"}, {}};
  EXPECT_EQ(Categorize("http://www.example.fr/"), QX_UNCATEGORIZED);
}

// A resolver that reports more addresses than the list holds, or fewer than
// none, is taken at what the list can hold: the lookup walks no address
// beyond the list's end.
TEST_F(CategorizeTest, AddressCountsOutsideTheListAreCutBack) {
  LoadControl({KeyRecord("7.7.7.7", Categories({5}))});
  ASSERT_EQ(QX_SetIPOption(service_, 1), QX_OK);
  std::vector<std::string> full(platform::kMaxHostAddresses, "6.6.6.6");
  full.back() = "7.7.7.7";
  struct Case {
    const char* name;
    std::vector<std::string> addresses;
    int claimedCount;
    int result;
  };
  const Case cases[] = {
      {"far too many", full, 1000, QX_CATEGORIZED},
      {"one too many", full, platform::kMaxHostAddresses + 1, QX_CATEGORIZED},
      {"negative", {"7.7.7.7"}, -5, QX_UNCATEGORIZED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    resolver_ = ScriptedResolver{{platform::ResolveStatus::kOk}, c.addresses, {}, c.claimedCount};
    EXPECT_EQ(Categorize("http://named/"), c.result);
    EXPECT_EQ(resolver_.asked.size(), 1u);
  }
}

// Services with environments of their own resolve through their own, side
// by side.
TEST(CategorizeEnvTest, EachServiceResolvesThroughItsOwnEnvironment) {
  TempDir dir;
  const std::string control = dir.WriteList("control", {KeyRecord("7.7.7.7", Categories({5}))});
  ScriptedResolver first{{platform::ResolveStatus::kOk}, {"7.7.7.7"}, {}};
  ScriptedResolver second{{platform::ResolveStatus::kOk}, {"6.6.6.6"}, {}};
  ScriptedEnv firstEnv(&first);
  ScriptedEnv secondEnv(&second);
  QxService* a = NewServiceWithEnv(&firstEnv);
  QxService* b = NewServiceWithEnv(&secondEnv);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  QxTypes* result = QX_AllocateTypes();
  for (QxService* service : {a, b}) {
    ASSERT_EQ(QX_LoadControlList(service, nullptr, control.c_str()), QX_OK);
    ASSERT_EQ(QX_SetIPOption(service, 1), QX_OK);
  }
  char key[QX_KEY_TEXT_SIZE];
  EXPECT_EQ(QX_CategorizeUrl(a, "http://one/", result, key, QX_KEY_TEXT_SIZE - 1), QX_CATEGORIZED);
  EXPECT_EQ(QX_CategorizeUrl(b, "http://two/", result, key, QX_KEY_TEXT_SIZE - 1),
            QX_UNCATEGORIZED);
  EXPECT_EQ(first.asked, std::vector<std::string>{"ONE"});
  EXPECT_EQ(second.asked, std::vector<std::string>{"TWO"});
  QX_FreeTypes(result);
  QX_FreeService(a);
  QX_FreeService(b);
}

}  // namespace
}  // namespace corvane
