// A differential test of the lookup: random lists and random URLs, every
// answer of QX_CategorizeUrl and qxtsturl compared with a reference written
// here from the list format and the key rules alone (keys spelled out as
// strings, each one digested, a plain binary search of a sorted vector), for
// loaded lists, for lists that crowd into one bucket, and for a site list
// after many updates, with and without the parent-domain option.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "corvane.h"
#include "list_index.h"
#include "md4/md4.h"
#include "policy.h"
#include "policy_testing.h"
#include "service_state.h"
#include "testing/failing_allocator.h"
#include "testing/list_builder.h"

namespace corvane {
namespace {

using testkit::NewService;
using testkit::NewSet;
using testkit::ServicePtr;
using testkit::TempDir;
using Digest = std::array<std::uint8_t, 16>;

// ---------------------------------------------------------------------------
// The reference
// ---------------------------------------------------------------------------

Digest DigestOf(const std::string& key) {
  Digest digest;
  Md4Digest(key.data(), key.size(), digest.data());
  return digest;
}

enum class Step { kPath, kDomain, kPersonal, kParent, kStripped };

struct RefKey {
  std::string text;
  Step step;
  int level;  // segments of a path key
};

std::string PathKey(const std::string& host, const QxUrl& url, int n) {
  std::string key = host;
  for (int i = 0; i < n; ++i) key += "/" + std::string(url.segments[i]);
  return key;
}

// The domain key: an address loses its last number; a name keeps its last
// two labels after a three-character last label, else its last three. The
// first character is never looked at.
bool DomainKey(const QxUrl& url, std::string* key) {
  const std::string host = url.host;
  if (host.empty()) return false;
  if (url.flags & QX_URL_NUMERIC) {
    const std::size_t dot = host.find_last_of('.');
    *key = (dot == std::string::npos || dot == 0) ? host : host.substr(0, dot);
    return true;
  }
  int dots = 0;
  int required = 0;
  for (std::size_t i = host.size() - 1; i >= 1; --i) {
    if (host[i] != '.') continue;
    if (++dots == 1) required = host.size() - i == 4 ? 2 : 3;
    if (dots == required) {
      *key = host.substr(i + 1);
      return true;
    }
  }
  return false;
}

// Every key the lookup tries, in order, duplicates included: the path keys,
// the domain key, the personal key; with the option, the parent domains of
// a name, then the path keys of a name without its leading "WWW.".
std::vector<RefKey> ReferenceKeys(const QxUrl& url, bool parents) {
  std::vector<RefKey> keys;
  const std::string host = url.host;
  for (int n = url.segmentCount; n >= 0; --n) keys.push_back({PathKey(host, url, n), Step::kPath, n});
  std::string domain;
  if (DomainKey(url, &domain)) keys.push_back({domain, Step::kDomain, -1});
  if ((url.flags & QX_URL_PERSONAL) && url.tildeIndex < url.segmentCount) {
    keys.push_back({PathKey(host, url, url.tildeIndex) + "/~", Step::kPersonal, -1});
  } else {
    keys.push_back({PathKey(host, url, url.segmentCount), Step::kPersonal, -1});
  }
  if (!parents || (url.flags & QX_URL_NUMERIC)) return keys;
  std::vector<std::string> labels;
  for (std::size_t start = 0;;) {
    const std::size_t dot = host.find('.', start);
    labels.push_back(host.substr(start, dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  for (std::size_t first = 1; first + 2 <= labels.size(); ++first) {
    std::string parent = labels[first];
    for (std::size_t i = first + 1; i < labels.size(); ++i) parent += "." + labels[i];
    keys.push_back({parent, Step::kParent, -1});
  }
  if (host.compare(0, 4, "WWW.") == 0 && labels.size() >= 3) {
    const std::string stripped = host.substr(4);
    for (int n = url.segmentCount; n >= 0; --n) {
      keys.push_back({PathKey(stripped, url, n), Step::kStripped, n});
    }
  }
  return keys;
}

// A plain binary search of records sorted by memcmp on the digest.
const QxListRecord* BinarySearch(const std::vector<QxListRecord>& records, const Digest& digest) {
  std::size_t low = 0;
  std::size_t high = records.size();
  while (low < high) {
    const std::size_t middle = (low + high) / 2;
    const int order = std::memcmp(records[middle].digest, digest.data(), 16);
    if (order == 0) return &records[middle];
    if (order < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return nullptr;
}

struct RefAnswer {
  int code = QX_UNCATEGORIZED;
  std::uint32_t controls = 0;
  std::uint32_t categories = 0;
  std::string key;
};

// QX_CategorizeUrl as the list format and the key rules describe it: the
// keys in the site list, then in the control list; with the option, the
// extra keys only when the usual ones found nothing, in the same two lists.
RefAnswer ReferenceCategorize(const std::vector<QxListRecord>& site,
                              const std::vector<QxListRecord>& control, const std::string& text,
                              bool parents) {
  RefAnswer answer;
  QxUrl url;
  std::memset(&url, 0, sizeof url);
  if (qxprsurl(&url, text.c_str()) != 1) {
    answer.code = QX_ERR_BAD_URL;
    return answer;
  }
  if (url.flags & QX_URL_PERSONAL) answer.controls |= 0x8;
  if (url.flags & QX_URL_NUMERIC) answer.controls |= 0x4;
  if (url.flags & QX_URL_QUERY) answer.controls |= 0x2000;
  const std::vector<RefKey> keys = ReferenceKeys(url, parents);
  const std::size_t usual = ReferenceKeys(url, false).size();
  const std::size_t stages[][2] = {{0, usual}, {usual, keys.size()}};
  for (const auto& stage : stages) {
    // Within the extra keys, the parent domains come before the stripped
    // host's path keys, each group in both lists before the next.
    std::vector<std::pair<std::size_t, std::size_t>> groups;
    if (stage[0] == 0) {
      groups.push_back({stage[0], stage[1]});
    } else {
      std::size_t split = stage[0];
      while (split < stage[1] && keys[split].step == Step::kParent) ++split;
      groups.push_back({stage[0], split});
      groups.push_back({split, stage[1]});
    }
    for (const auto& group : groups) {
      for (int list = 0; list < 2; ++list) {
        const std::vector<QxListRecord>& records = list == 0 ? site : control;
        for (std::size_t k = group.first; k < group.second; ++k) {
          const QxListRecord* record = BinarySearch(records, DigestOf(keys[k].text));
          if (record == nullptr) continue;
          answer.code = QX_CATEGORIZED;
          answer.categories = record->categories;
          if (list == 0) answer.controls |= 0x100 | (record->markFlags & 1u);
          answer.key = keys[k].text.substr(0, QX_KEY_TEXT_SIZE - 1);
          return answer;
        }
      }
    }
  }
  return answer;
}

// ---------------------------------------------------------------------------
// Random URLs and lists
// ---------------------------------------------------------------------------

class Generator {
 public:
  explicit Generator(unsigned seed) : random_(seed) {}

  int Below(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }

  std::string Host() {
    static const char* const kLabels[] = {"www", "a", "b", "ex", "example", "shop", "x1", "WWW",
                                          "m", "news", "casino", "Mixed"};
    static const char* const kTops[] = {"com", "fr", "info", "co.uk", "de", "org", "museum", "io"};
    switch (Below(12)) {
      case 0:  // an address, sometimes short, sometimes with leading zeros
        return std::to_string(Below(256)) + "." + std::to_string(Below(256)) + "." +
               (Below(2) ? "0" : "") + std::to_string(Below(256)) + "." + std::to_string(Below(300));
      case 1:
        return std::to_string(Below(40)) + (Below(2) ? "" : "." + std::to_string(Below(40)));
      case 2:
        return kLabels[Below(12)];
      default: {
        std::string host = kLabels[Below(12)];
        for (int n = Below(4); n > 0; --n) host += std::string(".") + kLabels[Below(12)];
        return host + "." + kTops[Below(8)];
      }
    }
  }

  std::string Path() {
    static const char* const kSegments[] = {"", "a", "B", "games", "~joe", "%7Ebob", "x.html",
                                            "poker", "~", "index.htm", "s1", "S2"};
    std::string path;
    const int count = Below(20) == 0 ? 20 + Below(4) : Below(5);
    for (int i = 0; i < count; ++i) path += "/" + std::string(kSegments[Below(12)]);
    if (Below(6) == 0) path += "/";
    if (Below(5) == 0) path += "?q=" + std::to_string(Below(9));
    if (Below(15) == 0) path += "/" + std::string(static_cast<std::size_t>(100 + Below(60)), 'z');
    return path;
  }

  std::string Url() {
    switch (Below(30)) {
      case 0: return "not a url";
      case 1: return "news:alt.test." + std::string(kGroups[Below(3)]);
      default: break;
    }
    return std::string(Below(2) ? "http://" : "ftp://") + Host() +
           (Below(8) == 0 ? ":8080" : "") + Path();
  }

  // A key that the lookup of url can try: any of its keys, the extra ones
  // included, so that every step gets matches.
  bool KeyOf(const std::string& text, std::string* key) {
    QxUrl url;
    std::memset(&url, 0, sizeof url);
    if (qxprsurl(&url, text.c_str()) != 1) return false;
    const std::vector<RefKey> keys = ReferenceKeys(url, true);
    *key = keys[static_cast<std::size_t>(Below(static_cast<int>(keys.size())))].text;
    return true;
  }

  QxListRecord Record(const Digest& digest) {
    QxListRecord record = {};
    record.kind = static_cast<std::uint8_t>(Below(4));
    record.markFlags = static_cast<std::uint8_t>(Below(4));
    record.categories = (4u << Below(27)) | (Below(3) == 0 ? 4u << Below(27) : 0);
    std::memcpy(record.digest, digest.data(), 16);
    return record;
  }

  // size records: keys of URLs from pool, and random digests; each digest
  // once, in list order.
  std::vector<QxListRecord> List(const std::vector<std::string>& pool, int size) {
    std::map<Digest, QxListRecord> records;
    std::string key;
    for (int attempts = 0; static_cast<int>(records.size()) < size && attempts < 4 * size + 8;
         ++attempts) {
      Digest digest;
      if (Below(4) != 0 && KeyOf(pool[static_cast<std::size_t>(Below(static_cast<int>(pool.size())))], &key)) {
        digest = DigestOf(key);
      } else {
        for (auto& byte : digest) byte = static_cast<std::uint8_t>(random_());
      }
      records.emplace(digest, Record(digest));
    }
    std::vector<QxListRecord> sorted;
    for (const auto& entry : records) sorted.push_back(entry.second);
    return sorted;
  }

  std::mt19937& random() { return random_; }

 private:
  static constexpr const char* kGroups[] = {"group", "a.b", "c"};
  std::mt19937 random_;
};

void Load(QxService* service, const TempDir& dir, const std::string& name,
          const std::vector<QxListRecord>& records, bool site) {
  const std::string path = dir.Write(name, testkit::ListFileBytes(records));
  const int code = site ? QX_LoadSiteList(service, path.c_str())
                        : QX_LoadControlList(service, nullptr, path.c_str());
  ASSERT_EQ(code, QX_OK) << name;
}

// Categorises url through the C interface with a random buffer and limit and
// compares every output with the reference.
void ExpectSameAnswer(QxService* service, const std::vector<QxListRecord>& site,
                      const std::vector<QxListRecord>& control, const std::string& url,
                      bool parents, Generator* generator) {
  const RefAnswer expected = ReferenceCategorize(site, control, url, parents);
  auto result = NewSet({3}, {5});
  char buffer[QX_KEY_TEXT_SIZE + 8];
  std::memset(buffer, '#', sizeof buffer);
  const int pick = generator->Below(4);
  const bool withBuffer = pick != 0;
  const int limit = pick == 1 ? generator->Below(40) : QX_KEY_TEXT_SIZE - 1;
  const int code =
      QX_CategorizeUrl(service, url.c_str(), result.get(), withBuffer ? buffer : nullptr, limit);

  int expectedCode = expected.code;
  if (expectedCode == QX_CATEGORIZED && withBuffer &&
      expected.key.size() > static_cast<std::size_t>(limit)) {
    expectedCode = QX_CATEGORIZED_TRUNCATED;
  }
  ASSERT_EQ(code, expectedCode) << url;
  EXPECT_EQ(result->controls, expectedCode == QX_ERR_BAD_URL ? 0u : expected.controls) << url;
  EXPECT_EQ(result->categories, expected.categories) << url;
  if (!withBuffer || (code != QX_CATEGORIZED && code != QX_CATEGORIZED_TRUNCATED)) {
    EXPECT_EQ(buffer[0], '#') << url;
    return;
  }
  if (code == QX_CATEGORIZED) {
    EXPECT_EQ(std::string(buffer), expected.key) << url;
    EXPECT_EQ(buffer[expected.key.size() + 1], '#') << url;
  } else {
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(limit)), expected.key.substr(0, limit))
        << url;
    EXPECT_EQ(buffer[limit], '#') << url << ": nothing after the first limit bytes";
  }
}

// qxtsturl on the parsed URL against the reference: the result, the match
// fields, the level of a path key, the digest and text of the key built last.
void ExpectSameTest(const std::vector<QxListRecord>& records, const std::string& text) {
  QxUrl url;
  std::memset(&url, 0, sizeof url);
  if (qxprsurl(&url, text.c_str()) != 1) return;
  url.matchedLevel = -7;
  url.markFlags = 0xF0;
  QxUrl expected = url;
  std::string expectedKey;
  int expectedFound = 0;
  if (!records.empty()) {
    const std::vector<RefKey> keys = ReferenceKeys(url, false);
    expectedKey = keys.back().text;  // a miss leaves the personal key
    for (const RefKey& key : keys) {
      const Digest digest = DigestOf(key.text);
      std::memcpy(expected.digest, digest.data(), 16);
      expectedKey = key.text;
      if (const QxListRecord* record = BinarySearch(records, digest)) {
        expectedFound = 1;
        expected.categories = record->categories;
        expected.kind = record->kind;
        expected.markFlags = (expected.markFlags & ~1u) | (record->markFlags & 1u);
        if (key.step == Step::kPath) expected.matchedLevel = key.level;
        break;
      }
    }
  }
  char keyText[QX_KEY_TEXT_SIZE] = "untouched";
  const int found = qxtsturl(&url, records.data(), static_cast<std::int32_t>(records.size()), keyText);
  ASSERT_EQ(found, expectedFound) << text;
  EXPECT_EQ(url.matchedLevel, expected.matchedLevel) << text;
  EXPECT_EQ(url.categories, expected.categories) << text;
  EXPECT_EQ(url.kind, expected.kind) << text;
  EXPECT_EQ(url.markFlags, expected.markFlags) << text;
  EXPECT_EQ(std::memcmp(url.digest, expected.digest, 16), 0) << text;
  EXPECT_EQ(std::string(keyText),
            records.empty() ? "untouched" : expectedKey.substr(0, QX_KEY_TEXT_SIZE - 1))
      << text;
}

std::vector<std::string> UrlPool(Generator* generator, int size) {
  std::vector<std::string> pool;
  for (int i = 0; i < size; ++i) pool.push_back(generator->Url());
  return pool;
}

// ---------------------------------------------------------------------------
// Tests
// ---------------------------------------------------------------------------

TEST(LookupDifferentialTest, LoadedListsOfManySizesAnswerAsTheReference) {
  Generator generator(12);
  TempDir dir;
  const std::vector<std::string> pool = UrlPool(&generator, 600);
  // Sizes below, at and above the smallest indexed list, and a few larger.
  const int sizes[][2] = {{0, 0}, {0, 1}, {1, 0}, {0, 15}, {16, 16}, {3, 17}, {0, 300},
                          {40, 1000}, {0, 4096}, {500, 5000}};
  // The control list mapped from its file (the default) and read into an
  // array, where mapping is refused.
  testkit::NoMappingEnv noMapping;
  for (const auto& size : sizes) {
    std::vector<QxListRecord> site = generator.List(pool, size[0]);
    std::vector<QxListRecord> control = generator.List(pool, size[1]);
    for (bool parents : {false, true}) for (bool mapped : {true, false}) {
      SCOPED_TRACE(mapped ? "mapped" : "read");
      ServicePtr service = mapped ? NewService() : NewService(&noMapping);
      Load(service.get(), dir, "site.lst", site, true);
      Load(service.get(), dir, "control.lst", control, false);
      ASSERT_EQ(QX_SetParentDomainOption(service.get(), parents ? 1 : 0), QX_OK);
      for (int i = 0; i < 400; ++i) {
        const std::string url = i % 2 == 0 ? pool[static_cast<std::size_t>(generator.Below(600))]
                                           : generator.Url();
        ExpectSameAnswer(service.get(), site, control, url, parents, &generator);
        if (!parents) ExpectSameTest(control, url);
        if (::testing::Test::HasFatalFailure()) return;
      }
    }
  }
}

TEST(LookupDifferentialTest, DigestsCrowdedIntoOneBucketOrAdjacentAreFoundExactly) {
  // Lists the index cannot spread: every digest shares its leading 8 bytes,
  // or digests come in runs that differ only in the last byte. Searched for
  // are the listed digests, their neighbours one above and below, and
  // random digests; each answer must be the plain binary search's.
  Generator generator(7);
  for (int layout = 0; layout < 3; ++layout) {
    std::map<Digest, QxListRecord> unique;
    Digest base;
    for (auto& byte : base) byte = static_cast<std::uint8_t>(generator.random()());
    for (int i = 0; i < 3000; ++i) {
      Digest digest;
      for (auto& byte : digest) byte = static_cast<std::uint8_t>(generator.random()());
      if (layout == 0) std::copy(base.begin(), base.begin() + 8, digest.begin());
      if (layout == 1 && i % 4 != 0) {
        digest = unique.empty() ? digest : unique.rbegin()->first;
        digest[15] = static_cast<std::uint8_t>(digest[15] + 1);
      }
      if (layout == 2) std::copy(base.begin(), base.begin() + 2, digest.begin());
      unique.emplace(digest, generator.Record(digest));
    }
    std::vector<QxListRecord> records;
    for (const auto& entry : unique) records.push_back(entry.second);

    ListIndex index;
    BuildListIndex(&index, records.data(), static_cast<std::int32_t>(records.size()));
    ASSERT_NE(index.starts, nullptr);
    const ListView view = ViewOf(records.data(), static_cast<std::int32_t>(records.size()), &index);
    ASSERT_EQ(view.index, &index);
    const ListView plain = ViewOf(records.data(), static_cast<std::int32_t>(records.size()), nullptr);
    for (const auto& entry : unique) {
      for (int delta : {-1, 0, 1}) {
        Digest probe = entry.first;
        probe[15] = static_cast<std::uint8_t>(probe[15] + delta);
        const QxListRecord* expected = BinarySearch(records, probe);
        EXPECT_EQ(FindInList(view, probe.data()), expected) << "layout " << layout;
        EXPECT_EQ(FindInList(plain, probe.data()), expected) << "layout " << layout;
      }
    }
    for (int i = 0; i < 2000; ++i) {
      Digest probe = base;
      for (int b = (i % 2 == 0 ? 8 : 0); b < 16; ++b) probe[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(generator.random()());
      EXPECT_EQ(FindInList(view, probe.data()), BinarySearch(records, probe));
    }
    FreeListIndex(&index);
  }
}

TEST(LookupDifferentialTest, IndexSizeFollowsTheRecordCount) {
  struct Case {
    std::int32_t count;
    std::uint32_t bits;
  };
  const Case cases[] = {{0, 0},  {1, 0},  {15, 0},       {16, 2},       {31, 2},
                        {32, 3}, {63, 3}, {240873, 15}, {1000000, 17}, {1 << 20, 18}};
  for (const Case& c : cases) {
    EXPECT_EQ(IndexBitsFor(c.count), c.bits) << c.count;
    const std::size_t bytes = ListIndexBytes(c.count);
    const std::size_t table = ((std::size_t{1} << c.bits) + 1) * 4;
    const std::size_t tags = (static_cast<std::size_t>(c.count) + kTagSlack) * 2;
    EXPECT_EQ(bytes, c.count < 16 ? 0u : table + tags) << c.count;
    // At most a quarter of the records' 24 bytes each.
    EXPECT_LE(bytes, static_cast<std::size_t>(c.count) * 24 / 4) << c.count;
  }
}

TEST(LookupDifferentialTest, RefusedAndReplacedListsLeaveNoStaleIndex) {
  Generator generator(3);
  TempDir dir;
  const std::vector<std::string> pool = UrlPool(&generator, 200);
  std::vector<QxListRecord> control = generator.List(pool, 2000);
  ServicePtr service = NewService();
  Load(service.get(), dir, "control.lst", control, false);

  // A duplicate digest is refused: the list is empty afterwards, and no
  // index of the list before answers for it.
  std::vector<QxListRecord> duplicated = control;
  duplicated.insert(duplicated.begin() + 1000, duplicated[1000]);
  const std::string bad = dir.Write("duplicate.lst", testkit::ListFileBytes(duplicated));
  EXPECT_EQ(QX_LoadControlList(service.get(), nullptr, bad.c_str()), QX_ERR_INVALID);
  EXPECT_EQ(QX_LoadSiteList(service.get(), bad.c_str()), QX_ERR_INVALID);
  for (int i = 0; i < 200; ++i) {
    ExpectSameAnswer(service.get(), {}, {}, pool[static_cast<std::size_t>(i)], false, &generator);
  }

  // A shorter list loaded over a longer one, and a filtered load: the index
  // describes what was kept.
  std::vector<QxListRecord> smaller = generator.List(pool, 40);
  Load(service.get(), dir, "control.lst", control, false);
  Load(service.get(), dir, "smaller.lst", smaller, false);
  for (int i = 0; i < 200; ++i) {
    ExpectSameAnswer(service.get(), {}, smaller, pool[static_cast<std::size_t>(i)], false, &generator);
  }
  auto filter = NewSet({1, 2, 3, 4, 5, 6, 7});
  const std::string path = dir.Write("full.lst", testkit::ListFileBytes(control));
  ASSERT_EQ(QX_LoadControlList(service.get(), filter.get(), path.c_str()), QX_OK);
  std::vector<QxListRecord> kept;
  for (const QxListRecord& record : control) {
    if (record.categories & filter->categories) kept.push_back(record);
  }
  ASSERT_EQ(service->controlCount, static_cast<std::int32_t>(kept.size()));
  for (int i = 0; i < 200; ++i) {
    ExpectSameAnswer(service.get(), {}, kept, pool[static_cast<std::size_t>(i)], false, &generator);
  }

  // Memory running out at each allocation of the load in turn: the load is
  // refused whole (1008, an empty list), or it goes on without what it could
  // not have (the index, the file's size) and answers as the reference does.
  const std::string full = dir.Write("control-again.lst", testkit::ListFileBytes(control));
  ASSERT_EQ(QX_SetParentDomainOption(service.get(), 1), QX_OK);
  int loadedWithoutSomething = 0;
  for (long failing = 0;; ++failing) {
    testkit::FailingAllocator allocator(failing);
    const int code = QX_LoadControlList(service.get(), nullptr, full.c_str());
    const bool reached = allocator.reached();
    allocator.End();
    if (!reached) {
      ASSERT_EQ(code, QX_OK);
      break;
    }
    if (code != QX_OK) {
      ASSERT_EQ(code, QX_ERR_NO_MEMORY) << failing;
      ASSERT_EQ(service->controlCount, 0) << failing;
      continue;
    }
    ++loadedWithoutSomething;
    for (int i = 0; i < 200; ++i) {
      ExpectSameAnswer(service.get(), {}, control, pool[static_cast<std::size_t>(i)], true, &generator);
    }
  }
  // The index's table is one such allocation.
  EXPECT_GE(loadedWithoutSomething, 1);
}

// Every allocation of the policy side with an odd number fails while it is
// installed: some updates then fail whole (1008), and some index rebuilds
// fail and keep the smaller table.
bool FailOddAllocations() {
  static unsigned calls = 0;
  return (++calls % 2) == 1;
}

TEST(LookupDifferentialTest, SiteListAfterManyUpdatesAnswersAsTheReference) {
  Generator generator(99);
  TempDir dir;
  const std::vector<std::string> pool = UrlPool(&generator, 500);
  const std::vector<QxListRecord> control = generator.List(pool, 3000);
  for (int start : {0, 20, 700}) {
    for (bool starved : {false, true}) {
      ServicePtr service = NewService();
      Load(service.get(), dir, "control.lst", control, false);
      std::map<Digest, QxListRecord> model;
      if (start > 0) {
        const std::vector<QxListRecord> site = generator.List(pool, start);
        Load(service.get(), dir, "site.lst", site, true);
        for (const QxListRecord& record : site) {
          Digest digest;
          std::memcpy(digest.data(), record.digest, 16);
          model.emplace(digest, record);
        }
      }
      for (int update = 0; update < 700; ++update) {
        const std::string url = generator.Below(3) == 0 ? generator.Url()
                                                        : pool[static_cast<std::size_t>(generator.Below(500))];
        QxUrl parsed;
        std::memset(&parsed, 0, sizeof parsed);
        const bool parses = qxprsurl(&parsed, url.c_str()) == 1;
        const std::uint32_t controls =
            (generator.Below(4) == 0 ? 0x1u : 0u) | (generator.Below(2) ? 0x200u : 0u) |
            (generator.Below(3) == 0 ? 0x800u : 0u) | (generator.Below(5) == 0 ? 0x400u : 0u);
        auto request = NewSet({1 + generator.Below(27)});
        request->controls = controls;

        // What the update is to store: the full path key, the kind from
        // controls 10, 12, 11, the request's categories (after approval, the
        // URL's categorisation as it is now).
        std::vector<QxListRecord> siteNow;
        for (const auto& entry : model) siteNow.push_back(entry.second);
        std::uint32_t categories = request->categories;
        if (controls & 0x1u) categories = ReferenceCategorize(siteNow, control, url, false).categories;
        std::uint8_t kind = 0;
        if (controls & 0x200u) kind = 1;
        if (controls & 0x800u) kind = 2;
        if (controls & 0x400u) kind = 3;

        int code;
        {
          AllocationFailureHook previous =
              starved ? SetAllocationFailureHookForTesting(&FailOddAllocations) : nullptr;
          code = QX_UpdateSiteList(service.get(), url.c_str(), request.get());
          if (starved) SetAllocationFailureHookForTesting(previous);
        }
        if (!parses) {
          EXPECT_EQ(code, QX_ERR_BAD_URL) << url;
          continue;
        }
        if (code == QX_ERR_NO_MEMORY && starved) continue;  // the list is as it was
        ASSERT_EQ(code, QX_OK) << url;
        const Digest digest = DigestOf(PathKey(parsed.host, parsed, parsed.segmentCount));
        QxListRecord& record = model[digest];
        std::memcpy(record.digest, digest.data(), 16);
        record.kind = kind;
        record.markFlags = static_cast<std::uint8_t>((record.markFlags & ~1u) | (controls & 0x1u));
        record.categories = categories;

        if (update % 50 == 49) {
          std::vector<QxListRecord> site;
          for (const auto& entry : model) site.push_back(entry.second);
          ASSERT_EQ(service->siteCount, static_cast<std::int32_t>(site.size()));
          EXPECT_EQ(std::memcmp(service->siteRecords, site.data(), site.size() * sizeof(QxListRecord)), 0);
          for (int i = 0; i < 60; ++i) {
            const std::string probe = i % 3 == 0 ? generator.Url()
                                                 : pool[static_cast<std::size_t>(generator.Below(500))];
            ASSERT_EQ(QX_SetParentDomainOption(service.get(), i % 2), QX_OK);
            ExpectSameAnswer(service.get(), site, control, probe, i % 2 == 1, &generator);
            if (::testing::Test::HasFatalFailure()) return;
          }
          ASSERT_EQ(QX_SetParentDomainOption(service.get(), 0), QX_OK);
        }
      }
    }
  }
}

TEST(LookupDifferentialTest, AnArrayInstalledByHandIsSearchedWithoutTheIndex) {
  // A caller may put an array of its own into the service (the layout is
  // public); the index built for the loaded array must not answer for it.
  Generator generator(5);
  TempDir dir;
  const std::vector<std::string> pool = UrlPool(&generator, 200);
  const std::vector<QxListRecord> loaded = generator.List(pool, 1000);
  const std::vector<QxListRecord> mine = generator.List(pool, 1000);
  ServicePtr service = NewService();
  Load(service.get(), dir, "control.lst", loaded, false);
  // Allocated while the loaded array still lives, so that it cannot take
  // that array's address.
  QxListRecord* own = static_cast<QxListRecord*>(std::calloc(mine.size(), sizeof(QxListRecord)));
  ASSERT_NE(own, nullptr);
  std::memcpy(own, mine.data(), mine.size() * sizeof(QxListRecord));
  // A mapped list is the service's to unmap when the array is replaced; a
  // list read into an array of the service's own is freed by the caller.
  if (StateOf(service.get())->controlMapping.data == nullptr) std::free(service->controlRecords);
  service->controlRecords = own;
  service->controlCount = static_cast<std::int32_t>(mine.size());
  for (int i = 0; i < 300; ++i) {
    ExpectSameAnswer(service.get(), {}, mine, pool[static_cast<std::size_t>(i % 200)], false, &generator);
  }
}

TEST(LookupDifferentialTest, ParsedRecordNeedsNoZerosBeyondItsHeader) {
  // Categorisation zeroes only the fields before the host: the parser must
  // write the host and every segment it counts, terminated, whatever the
  // record held before.
  Generator generator(21);
  for (int i = 0; i < 2000; ++i) {
    const std::string url = generator.Url();
    QxUrl clean;
    QxUrl dirty;
    std::memset(&clean, 0, sizeof clean);
    std::memset(&dirty, 0xA5, sizeof dirty);
    std::memset(&dirty, 0, offsetof(QxUrl, host));
    const int parsedClean = qxprsurl(&clean, url.c_str());
    ASSERT_EQ(qxprsurl(&dirty, url.c_str()), parsedClean) << url;
    if (parsedClean != 1) continue;
    ASSERT_EQ(dirty.segmentCount, clean.segmentCount) << url;
    EXPECT_STREQ(dirty.host, clean.host) << url;
    for (int s = 0; s < clean.segmentCount; ++s) EXPECT_STREQ(dirty.segments[s], clean.segments[s]) << url;
  }
}

TEST(LookupDifferentialTest, ParserUpperCasesAsciiLettersOnlyWhereverTheyStand) {
  // Every byte value from 1 to 255 (but the parser's delimiters), at every
  // offset within an eight-byte word, in the host and in a segment.
  auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
  for (int offset = 0; offset < 8; ++offset) {
    std::string bytes;
    for (int b = 1; b < 256; ++b) {
      const char c = static_cast<char>(b);
      if (c != '/' && c != '?' && c != ' ' && c != ':' && c != '.' && c != '%' && c != '~' &&
          c != '@') {
        bytes += c;
      }
    }
    const std::string host = std::string(static_cast<std::size_t>(offset), 'x') + bytes.substr(0, 200);
    const std::string segment = std::string(static_cast<std::size_t>(offset), 'y') + bytes.substr(100, 120);
    QxUrl url;
    std::memset(&url, 0, sizeof url);
    ASSERT_EQ(qxprsurl(&url, ("http://" + host + "/" + segment).c_str()), 1);
    std::string expectedHost;
    for (char c : host) expectedHost += upper(c);
    std::string expectedSegment;
    for (char c : segment) expectedSegment += upper(c);
    EXPECT_EQ(std::string(url.host), expectedHost) << offset;
    ASSERT_EQ(url.segmentCount, 1);
    EXPECT_EQ(std::string(url.segments[0]), expectedSegment.substr(0, QX_SEGMENT_SIZE - 1)) << offset;
  }
}

}  // namespace
}  // namespace corvane
