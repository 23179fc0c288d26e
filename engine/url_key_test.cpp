// URL keys, their order, and the lookup in a sorted list.
#include "url_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "list_file.h"
#include "md4/md4.h"
#include "testing/list_builder.h"

namespace corvane {
namespace {

using testkit::KeyRecord;

QxUrl ParseUrl(const std::string& text) {
  QxUrl url;
  std::memset(&url, 0, sizeof(url));
  EXPECT_EQ(qxprsurl(&url, text.c_str()), 1) << text;
  return url;
}

std::string DomainKey(const std::string& text) {
  QxUrl url = ParseUrl(text);
  char key[QX_KEY_TEXT_SIZE] = "untouched";
  if (!BuildDomainKey(&url, key)) return "(none)";
  std::uint8_t digest[kMd4DigestSize];
  Md4Digest(key, std::strlen(key), digest);
  EXPECT_EQ(std::memcmp(digest, url.digest, sizeof(digest)), 0) << text;
  return key;
}

TEST(UrlKeyTest, DomainKeyRules) {
  struct Case {
    const char* url;
    const char* key;
  } cases[] = {
      {"http://www.example.com/", "EXAMPLE.COM"},
      {"http://a.b.example.com/", "EXAMPLE.COM"},
      {"http://example.com/", "(none)"},
      {"http://www.bbc.co.uk/", "BBC.CO.UK"},
      {"http://bbc.co.uk/", "(none)"},
      {"http://l1.l2.info/", "(none)"},
      {"http://l0.l1.l2.info/", "L1.L2.INFO"},
      {"http://.ab.com/", "(none)"},  // the leading dot is not counted
      {"http://x/", "(none)"},
      {"http://1.2.3.4/", "1.2.3"},
      {"http://10.20.30.40/", "10.20.30"},
      {"http://7/", "7"},
      {"http://12345/", "12345"},
      {"http://", "(none)"},
  };
  for (const Case& c : cases) EXPECT_EQ(DomainKey(c.url), c.key) << c.url;
}

TEST(UrlKeyTest, PathAndPersonalKeys) {
  struct Case {
    const char* url;
    int n;
    bool personal;
    const char* key;
  } cases[] = {
      {"http://h/s0/s1/s2", 20, false, "H/S0/S1/S2"},
      {"http://h/s0/s1/s2", 2, false, "H/S0/S1"},
      {"http://h/s0/s1/s2", 0, false, "H"},
      {"http://h/s0/s1/s2", -3, false, "H"},
      {"http://h/s0/s1/s2", 20, true, "H/S0/S1/S2"},
      {"http://h/~joe/s1", 20, true, "H/~"},
      {"http://h/s0/~joe/s2", 20, true, "H/S0/~"},
      {"http://h/s0/~joe/s2", 1, true, "H/S0"},  // the "~" segment lies beyond n
      {"http://h//b", 20, false, "H/B"},  // the parser skips the empty segment
  };
  for (const Case& c : cases) {
    QxUrl url = ParseUrl(c.url);
    char key[QX_KEY_TEXT_SIZE];
    const std::size_t length = BuildPathKey(&url, c.n, c.personal, key);
    EXPECT_STREQ(key, c.key) << c.url << " n=" << c.n;
    EXPECT_EQ(length, std::strlen(c.key));
    std::uint8_t digest[kMd4DigestSize];
    Md4Digest(c.key, std::strlen(c.key), digest);
    EXPECT_EQ(std::memcmp(digest, url.digest, sizeof(digest)), 0) << c.url;
  }
}

TEST(UrlKeyTest, KeysComposedFromTheParsersLengthsAreTheMeasuredOnes) {
  // The lookup composes keys from the lengths the parser found; they must
  // give the text measuring the fields gives, at the fields' limits too.
  const std::string longHost = std::string(300, 'h') + ".example.com";
  const std::string longSegment(200, 's');
  const char* const urls[] = {
      "http://a.b/", "http://www.example.com/one/two/three?x=1",
      "http://%41%42.example.com/%7Euser/p%2Fq", "http://192.168.010.001/x",
      "news:alt.binaries.pictures", "http://[2001:db8::1]:8080/a//b/",
      "http://h.example/" /* 20 segments and more below */};
  std::vector<std::string> cases(urls, urls + sizeof(urls) / sizeof(urls[0]));
  cases.push_back("http://" + longHost + "/" + longSegment + "/" + longSegment);
  cases.push_back("http://" + std::string(255, 'x') + "/" + std::string(127, 'y') + "/" +
                  std::string(128, 'z') + "/" + std::string(15, 'w') + "/" + std::string(16, 'v'));
  std::string deep = "http://deep.example.com";
  for (int i = 0; i < 25; ++i) deep += "/" + std::string(static_cast<std::size_t>(i * 5 % 130), 'd');
  cases.push_back(deep);
  for (const std::string& text : cases) {
    QxUrl url;
    std::memset(&url, 0xA5, sizeof(url));
    UrlLengths lengths;
    ASSERT_EQ(corvane::ParseUrl(&url, text.c_str(), &lengths), 1) << text;
    const int n = SegmentCount(&url);
    std::vector<char> measured(kMaxKeyLength + 1), given(kMaxKeyLength + 1);
    std::size_t measuredEnds[QX_MAX_SEGMENTS + 1], givenEnds[QX_MAX_SEGMENTS + 1];
    const std::size_t a = ComposePathKey(&url, n, measured.data(), measuredEnds);
    const std::size_t b = ComposePathKey(&url, n, given.data(), givenEnds, &lengths);
    ASSERT_EQ(a, b) << text;
    EXPECT_EQ(std::string(measured.data(), a), std::string(given.data(), b)) << text;
    for (int i = 0; i <= n; ++i) EXPECT_EQ(measuredEnds[i], givenEnds[i]) << text << " " << i;
    EXPECT_EQ(lengths.host, std::strlen(url.host)) << text;
  }
}

TEST(UrlKeyTest, LongestKeyIsDigestedWholeAndItsTextCutTo1023) {
  QxUrl url;
  std::memset(&url, 0, sizeof(url));
  std::memset(url.host, 'H', QX_HOST_SIZE - 1);
  url.segmentCount = QX_MAX_SEGMENTS;
  for (auto& segment : url.segments) std::memset(segment, 'S', QX_SEGMENT_SIZE - 1);
  std::string full(url.host);
  for (auto& segment : url.segments) full += "/" + std::string(segment);
  ASSERT_EQ(full.size(), kMaxKeyLength - 0);

  char key[QX_KEY_TEXT_SIZE + 16];
  std::memset(key, '#', sizeof(key));
  EXPECT_EQ(BuildPathKey(&url, 20, false, key), full.size());
  EXPECT_EQ(std::string(key), full.substr(0, 1023));
  EXPECT_EQ(key[1024], '#');
  std::uint8_t digest[kMd4DigestSize];
  Md4Digest(full.data(), full.size(), digest);
  EXPECT_EQ(std::memcmp(digest, url.digest, sizeof(digest)), 0);

  // The lookup hands out the same cut text when the long key matches.
  const QxListRecord record = testkit::RawKeyRecord(full, 4);
  std::memset(key, '#', sizeof(key));
  EXPECT_EQ(qxtsturl(&url, &record, 1, key), 1);
  EXPECT_EQ(std::strlen(key), 1023u);
  EXPECT_EQ(key[1024], '#');
}

// Which of a URL's keys is found: each list holds records for some of the
// candidate keys, and the key text tells which one matched first.
TEST(UrlKeyTest, KeysAreTriedFromTheMostSpecific) {
  struct Case {
    const char* name;
    const char* url;
    std::vector<const char*> keys;
    const char* matched;  // null: not found
    int level;            // matchedLevel after the call (-1 unchanged)
  } cases[] = {
      {"full path", "http://h.example.com/s0/s1/s2", {"H.EXAMPLE.COM/S0/S1/S2", "H.EXAMPLE.COM"},
       "H.EXAMPLE.COM/S0/S1/S2", 3},
      {"shorter path", "http://h/s0/s1/s2", {"H/S0", "H"}, "H/S0", 1},
      {"bare host", "http://h/s0", {"H", "H/~"}, "H", 0},
      {"domain after host", "http://www.example.com/a", {"EXAMPLE.COM"}, "EXAMPLE.COM", -1},
      {"host before domain", "http://www.example.com/a", {"EXAMPLE.COM", "WWW.EXAMPLE.COM"},
       "WWW.EXAMPLE.COM", 0},
      {"personal key last", "http://h/s0/~joe/s2", {"H/S0/~"}, "H/S0/~", -1},
      {"bare host beats personal", "http://h/s0/~name/s2", {"H/S0/~", "H"}, "H", 0},
      {"numeric domain", "http://10.1.2.3/x", {"10.1.2"}, "10.1.2", -1},
      {"lower-case keys never match", "http://h/a", {"h/a", "h"}, nullptr, -1},
      {"nothing listed", "http://h/a", {"OTHER"}, nullptr, -1},
  };
  for (const Case& c : cases) {
    std::vector<QxListRecord> records;
    for (const char* key : c.keys) records.push_back(testkit::RawKeyRecord(key, 0x40, 7, 1));
    SortListRecords(records.data(), static_cast<std::int32_t>(records.size()));
    QxUrl url = ParseUrl(c.url);
    url.matchedLevel = -1;
    char key[QX_KEY_TEXT_SIZE];
    const int found = qxtsturl(&url, records.data(), static_cast<std::int32_t>(records.size()), key);
    EXPECT_EQ(found, c.matched != nullptr ? 1 : 0) << c.name;
    EXPECT_EQ(url.matchedLevel, c.level) << c.name;
    if (c.matched != nullptr) {
      EXPECT_STREQ(key, c.matched) << c.name;
      EXPECT_EQ(url.categories, 0x40u) << c.name;
      EXPECT_EQ(url.kind, 7) << c.name;
      EXPECT_EQ(url.markFlags, 1u) << c.name;
    } else {
      // After a miss the key text is the personal key, built last.
      char personal[QX_KEY_TEXT_SIZE];
      QxUrl again = ParseUrl(c.url);
      BuildPathKey(&again, 20, true, personal);
      EXPECT_STREQ(key, personal) << c.name;
      EXPECT_EQ(url.categories, 0u) << c.name;
    }
  }
}

TEST(UrlKeyTest, EmptyListTouchesNothing) {
  QxUrl url = ParseUrl("http://h/a");
  const QxUrl before = url;
  const QxListRecord record = KeyRecord("H", 4);
  char key[QX_KEY_TEXT_SIZE] = "untouched";
  EXPECT_EQ(qxtsturl(&url, &record, 0, key), 0);
  EXPECT_EQ(qxtsturl(&url, &record, -5, key), 0);
  EXPECT_STREQ(key, "untouched");
  EXPECT_EQ(std::memcmp(&url, &before, sizeof(url)), 0);
}

TEST(UrlKeyTest, MatchCopiesOnlyTheApprovedMarkBit) {
  QxUrl url = ParseUrl("http://h/a");
  url.markFlags = 0xF0;
  const QxListRecord marked = KeyRecord("H/A", 4, 2, 0xFF);
  EXPECT_EQ(qxtsturl(&url, &marked, 1, nullptr), 1);
  EXPECT_EQ(url.markFlags, 0xF1u);
  const QxListRecord unmarked = KeyRecord("H/A", 4, 2, 0xFE);
  EXPECT_EQ(qxtsturl(&url, &unmarked, 1, nullptr), 1);
  EXPECT_EQ(url.markFlags, 0xF0u);
}

// The search must find every record of a large list, and nothing that is
// not in it, whatever the distribution of the first digest bytes.
TEST(UrlKeyTest, SearchFindsEveryRecordOfLargeAndSkewedLists) {
  std::vector<QxListRecord> uniform;
  for (int i = 0; i < 20000; ++i) uniform.push_back(KeyRecord("HOST" + std::to_string(i), 4));
  // Skewed: most digests share their first eight bytes and differ later.
  std::vector<QxListRecord> skewed;
  for (int i = 0; i < 3000; ++i) {
    QxListRecord record = KeyRecord("X" + std::to_string(i), 4);
    if (i % 10 != 0) std::memset(record.digest, 0x33, 8);
    skewed.push_back(record);
  }
  for (std::vector<QxListRecord>* list : {&uniform, &skewed}) {
    SortListRecords(list->data(), static_cast<std::int32_t>(list->size()));
    const std::int32_t count = static_cast<std::int32_t>(list->size());
    for (std::int32_t i = 0; i < count; ++i) {
      QxUrl url;
      std::memset(&url, 0, sizeof(url));
      std::memcpy(url.digest, (*list)[i].digest, kMd4DigestSize);
      ASSERT_EQ(FindListRecord(&url, list->data(), count), &(*list)[i]) << i;
      // A digest just above this one is not in the list.
      url.digest[15] ^= 0x01;
      const QxListRecord* other = FindListRecord(&url, list->data(), count);
      if (other != nullptr) {
        EXPECT_EQ(std::memcmp(other->digest, url.digest, kMd4DigestSize), 0);
      }
    }
    QxUrl below;
    std::memset(&below, 0, sizeof(below));
    EXPECT_EQ(FindListRecord(&below, list->data(), count), nullptr);
    std::memset(below.digest, 0xFF, kMd4DigestSize);
    EXPECT_EQ(FindListRecord(&below, list->data(), count), nullptr);
  }
}

}  // namespace
}  // namespace corvane
