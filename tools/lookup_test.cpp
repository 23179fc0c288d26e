#include "lookup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "testing/list_builder.h"

namespace corvane_tool {
namespace {

using corvane::testkit::KeyRecord;
using corvane::testkit::TempDir;

QxUrl Parse(const char* text) {
  QxUrl url;
  std::memset(&url, 0, sizeof url);
  EXPECT_EQ(qxprsurl(&url, text), 1) << text;
  return url;
}

std::vector<QxListRecord> Sorted(std::vector<QxListRecord> records) {
  std::sort(records.begin(), records.end(), [](const QxListRecord& a, const QxListRecord& b) {
    return std::memcmp(a.digest, b.digest, 16) < 0;
  });
  return records;
}

std::vector<std::string> Keys(const std::vector<KeyAttempt>& attempts) {
  std::vector<std::string> keys;
  for (const KeyAttempt& attempt : attempts) keys.push_back(attempt.text);
  return keys;
}

struct TraceCase {
  const char* url;
  std::vector<const char*> listed;  // keys in the list
  std::vector<std::string> tried;   // keys tried, in order
  bool found;
};

TEST(LookupTraceTest, TriesKeysInTheLookupsOrderUntilOneMatches) {
  const TraceCase cases[] = {
      // Nothing listed: every key, most specific first.
      {"http://www.example.com/a/b", {"OTHER.EXAMPLE.NET"},
       {"WWW.EXAMPLE.COM/A/B", "WWW.EXAMPLE.COM/A", "WWW.EXAMPLE.COM", "EXAMPLE.COM",
        "WWW.EXAMPLE.COM/A/B"},
       false},
      // A path record stops the walk at its level.
      {"http://www.example.com/a/b/c", {"WWW.EXAMPLE.COM/A"},
       {"WWW.EXAMPLE.COM/A/B/C", "WWW.EXAMPLE.COM/A/B", "WWW.EXAMPLE.COM/A"}, true},
      // No domain key for a two-label name.
      {"http://example.com/", {"X"}, {"EXAMPLE.COM", "EXAMPLE.COM"}, false},
      // The personal key comes last.
      {"http://h.example.org/s/~joe/p", {"H.EXAMPLE.ORG/S/~"},
       {"H.EXAMPLE.ORG/S/~JOE/P", "H.EXAMPLE.ORG/S/~JOE", "H.EXAMPLE.ORG/S", "H.EXAMPLE.ORG",
        "EXAMPLE.ORG", "H.EXAMPLE.ORG/S/~"},
       true},
      // A numeric host drops its last number for the domain key.
      {"http://192.0.2.7/x", {"192.0.2"}, {"192.0.2.7/X", "192.0.2.7", "192.0.2"}, true},
  };
  for (const TraceCase& c : cases) {
    std::vector<QxListRecord> records;
    for (const char* key : c.listed) records.push_back(KeyRecord(key, 4));
    records = Sorted(records);
    QxUrl url = Parse(c.url);
    std::vector<KeyAttempt> attempts =
        TraceListSearch(url, records.data(), static_cast<std::int32_t>(records.size()));
    EXPECT_EQ(Keys(attempts), c.tried) << c.url;
    ASSERT_FALSE(attempts.empty()) << c.url;
    EXPECT_EQ(attempts.back().found, c.found) << c.url;
    for (std::size_t i = 0; i + 1 < attempts.size(); ++i) EXPECT_FALSE(attempts[i].found);
    // The engine's own search agrees.
    QxUrl again = Parse(c.url);
    EXPECT_EQ(qxtsturl(&again, records.data(), static_cast<std::int32_t>(records.size()),
                       nullptr),
              c.found ? 1 : 0)
        << c.url;
  }
}

TEST(LookupTraceTest, ParentDomainStepsTryOnlyKeysNotTriedBefore) {
  struct Case {
    const char* url;
    KeyStep step;
    std::vector<const char*> listed;
    std::vector<std::string> tried;
    bool found;
  };
  const Case cases[] = {
      // B.01POKER.FR is the usual domain key already.
      {"http://a.b.01poker.fr/x", KeyStep::kParent, {"01POKER.FR"}, {"01POKER.FR"}, true},
      // C.EXAMPLE.INFO is the usual domain key (a four-letter last label).
      {"http://a.b.c.example.info/", KeyStep::kParent, {"X"}, {"B.C.EXAMPLE.INFO", "EXAMPLE.INFO"},
       false},
      // The shortened host itself is a parent domain, tried in that step.
      {"http://www.site.org/a/b", KeyStep::kStrippedPath, {"SITE.ORG/A"},
       {"SITE.ORG/A/B", "SITE.ORG/A"}, true},
      {"http://shop.site.org/a", KeyStep::kStrippedPath, {"SITE.ORG/A"}, {}, false},
      {"http://192.0.2.7/x", KeyStep::kParent, {"0.2.7"}, {}, false},
  };
  for (const Case& c : cases) {
    std::vector<QxListRecord> records;
    for (const char* key : c.listed) records.push_back(KeyRecord(key, 4));
    records = Sorted(records);
    const std::vector<KeyAttempt> attempts = TraceParentDomainSearch(
        Parse(c.url), records.data(), static_cast<std::int32_t>(records.size()), c.step);
    EXPECT_EQ(Keys(attempts), c.tried) << c.url;
    EXPECT_EQ(!attempts.empty() && attempts.back().found, c.found) << c.url;
  }
}

TEST(LookupCommandTest, ParentDomainsAreShownAndCanBeTurnedOff) {
  TempDir dir;
  std::string control = dir.WriteList("control.lst", {KeyRecord("01POKER.FR", 4u << 6)});
  for (bool turnedOff : {false, true}) {
    std::vector<std::string> args = {"lookup", control, "http://www.01poker.fr/a"};
    if (turnedOff) args.insert(args.begin() + 1, "--no-parent-domains");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(RunLookup(static_cast<int>(argv.size()), argv.data(), out, err), 0);
    const std::string text = out.str();
    EXPECT_EQ(text.find("disagree"), std::string::npos) << text;
    EXPECT_NE(text.find("personal\tWWW.01POKER.FR/A"), std::string::npos) << text;
    EXPECT_NE(text.find("- (tried above)"), std::string::npos) << text;
    if (turnedOff) {
      EXPECT_EQ(text.find("parent domains:"), std::string::npos) << text;
      EXPECT_NE(text.find("result 14 QX_UNCATEGORIZED"), std::string::npos) << text;
    } else {
      EXPECT_NE(text.find(", parent domains:\n    parent\t01POKER.FR\t"), std::string::npos) << text;
      EXPECT_NE(text.find("result 12 QX_CATEGORIZED (control list), key 01POKER.FR"),
                std::string::npos)
          << text;
    }
  }
}

TEST(LookupTraceTest, EmptyListIsNotSearched) {
  QxUrl url = Parse("http://www.example.com/");
  EXPECT_TRUE(TraceListSearch(url, nullptr, 0).empty());
}

TEST(LookupCommandTest, ShowsSiteListFirstAndTheEnginesVerdict) {
  TempDir dir;
  std::string control = dir.WriteList(
      "control.lst", {KeyRecord("SHOP.EXAMPLE.NET", 4u << 5), KeyRecord("EXAMPLE.ORG", 4u << 10)});
  std::string site = dir.WriteList("site.lst", {KeyRecord("SHOP.EXAMPLE.NET", 4u << 14, 1, 1)});
  std::string args[] = {"lookup", "--site", site, control, "http://shop.example.net/a",
                        "http://www.example.org/?q", "http://unknown.example.com/", "bad"};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(RunLookup(static_cast<int>(argv.size()), argv.data(), out, err), 1);  // "bad"
  std::string text = out.str();
  EXPECT_EQ(text.find("disagree"), std::string::npos) << text;
  EXPECT_NE(text.find("result 12 QX_CATEGORIZED (site list), key SHOP.EXAMPLE.NET"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("approved (control 1), site list (control 9)"), std::string::npos);
  EXPECT_NE(text.find("15 Lifestyle"), std::string::npos);
  EXPECT_NE(text.find("11 Games"), std::string::npos);
  EXPECT_NE(text.find("result 14 QX_UNCATEGORIZED"), std::string::npos);
  EXPECT_NE(text.find("result 1010 QX_ERR_BAD_URL"), std::string::npos);
}

TEST(LookupCommandTest, RefusesAListTheLoaderRefuses) {
  TempDir dir;
  std::string bad = dir.Write("bad.lst", "\x01\x00");
  std::string args[] = {"lookup", bad, "http://a.example.com/"};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(RunLookup(3, argv.data(), out, err), 1);
  EXPECT_NE(err.str().find("cannot load the control list"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace corvane_tool
