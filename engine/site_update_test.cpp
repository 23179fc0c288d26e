// Tests of the site list update: records stored by full path key, the array
// kept sorted and unique, approval, kinds, resolution, and memory failure.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "corvane.h"
#include "list_file.h"
#include "policy.h"
#include "policy_testing.h"
#include "testing/list_builder.h"
#include "url_key.h"

namespace corvane {
namespace {

using testing::CategoryBit;
using testing::ControlBit;
using testing::FailingAllocations;
using testing::NewService;
using testing::NewSet;

// Checks that the site array is strictly ascending (sorted, no duplicates).
void ExpectSiteListInOrder(const QxService* service) {
  for (std::int32_t i = 1; i < service->siteCount; ++i) {
    EXPECT_LT(CompareListRecords(service->siteRecords[i - 1], service->siteRecords[i]), 0)
        << "records " << i - 1 << " and " << i;
  }
}

// The site record stored for url's full path key, or null.
const QxListRecord* SiteRecordFor(const QxService* service, const char* url) {
  QxUrl parsed;
  std::memset(&parsed, 0, sizeof(parsed));
  if (qxprsurl(&parsed, url) != 1) return nullptr;
  BuildPathKey(&parsed, QX_MAX_SEGMENTS, false, nullptr);
  for (std::int32_t i = 0; i < service->siteCount; ++i) {
    if (std::memcmp(service->siteRecords[i].digest, parsed.digest, 16) == 0) {
      return &service->siteRecords[i];
    }
  }
  return nullptr;
}

TEST(SiteUpdateTest, KindComesFromControls10To12) {
  struct Case {
    std::vector<int> controls;
    int kind;
  };
  const Case cases[] = {
      {{}, 0},         {{10}, 1},     {{12}, 2},         {{10, 12}, 2},
      {{11}, 3},       {{10, 11}, 3}, {{11, 12}, 3},     {{10, 11, 12}, 3},
      {{2, 3, 13}, 0},  // other controls have no effect
  };
  for (const Case& c : cases) {
    auto service = NewService();
    auto request = NewSet({7});
    for (int control : c.controls) QX_SetThisControl(request.get(), control);
    ASSERT_EQ(QX_OK, QX_UpdateSiteList(service.get(), "http://kind.example.com/a", request.get()));
    const QxListRecord* record = SiteRecordFor(service.get(), "http://kind.example.com/a");
    ASSERT_NE(nullptr, record);
    EXPECT_EQ(c.kind, record->kind) << "controls " << ::testing::PrintToString(c.controls);
    EXPECT_EQ(0, record->markFlags);
  }
}

TEST(SiteUpdateTest, AddThenCategoriseFindsTheNewRecord) {
  auto service = NewService();
  auto request = NewSet({4, 9});
  ASSERT_EQ(QX_OK, QX_UpdateSiteList(service.get(), "http://www.example.com/games", request.get()));
  EXPECT_EQ(1, service->siteCount);

  auto result = NewSet();
  char key[QX_KEY_TEXT_SIZE];
  EXPECT_EQ(QX_CATEGORIZED,
            QX_CategorizeUrl(service.get(), "http://WWW.example.com/games", result.get(), key, 1024));
  EXPECT_STREQ("WWW.EXAMPLE.COM/GAMES", key);
  EXPECT_EQ(CategoryBit(4) | CategoryBit(9), result->categories);
  EXPECT_EQ(ControlBit(9), result->controls);
}

TEST(SiteUpdateTest, SecondUpdateReplacesEveryField) {
  auto service = NewService();
  auto approve = NewSet({}, {1});
  ASSERT_EQ(QX_OK, QX_UpdateSiteList(service.get(), "http://a.example.com/x", approve.get()));
  ASSERT_EQ(1, SiteRecordFor(service.get(), "http://a.example.com/x")->markFlags & 1);

  auto second = NewSet({2}, {11});
  ASSERT_EQ(QX_OK, QX_UpdateSiteList(service.get(), "http://A.EXAMPLE.COM/X", second.get()));
  ASSERT_EQ(1, service->siteCount);
  const QxListRecord* record = SiteRecordFor(service.get(), "http://a.example.com/x");
  ASSERT_NE(nullptr, record);
  EXPECT_EQ(CategoryBit(2), record->categories);  // not merged with the old categories
  EXPECT_EQ(3, record->kind);
  EXPECT_EQ(0, record->markFlags & 1);  // an update without control 1 removes the mark
}

TEST(SiteUpdateTest, ExistingRecordKeepsMeaninglessBitsAndReservedBytes) {
  testing::TempDir dir;
  const std::string path = dir.WriteList(
      "site.lst", {testing::UrlRecord("http://kept.example.com/p", CategoryBit(3), 2, 0xF0)});
  auto service = NewService();
  ASSERT_EQ(QX_OK, QX_LoadSiteList(service.get(), path.c_str()));
  service->siteRecords[0].reserved[0] = 0x5A;

  auto request = NewSet({5}, {1});
  ASSERT_EQ(QX_OK, QX_UpdateSiteList(service.get(), "http://kept.example.com/p", request.get()));
  ASSERT_EQ(1, service->siteCount);
  EXPECT_EQ(0xF1, service->siteRecords[0].markFlags);
  EXPECT_EQ(0x5A, service->siteRecords[0].reserved[0]);
  // Approval took the URL's current categories from the loaded record.
  EXPECT_EQ(CategoryBit(3), service->siteRecords[0].categories);
  EXPECT_EQ(0, service->siteRecords[0].kind);
}

TEST(SiteUpdateTest, ManyUpdatesKeepTheArraySortedAndUnique) {
  auto service = NewService();
  auto request = NewSet({1});
  std::vector<std::string> urls;
  for (int i = 0; i < 300; ++i) {
    const int k = (i * 7) % 150;  // every key twice, in a scattered order
    urls.push_back("http://host" + std::to_string(k) + ".example.org/p" + std::to_string(k % 7));
  }
  for (const std::string& url : urls) {
    ASSERT_EQ(QX_OK, QX_UpdateSiteList(service.get(), url.c_str(), request.get()));
  }
  // Each (host, path) pair appears twice in the sequence: 150 distinct keys.
  EXPECT_EQ(150, service->siteCount);
  ExpectSiteListInOrder(service.get());

  auto result = NewSet();
  for (const std::string& url : urls) {
    EXPECT_EQ(QX_CATEGORIZED, QX_CategorizeUrl(service.get(), url.c_str(), result.get(), nullptr, 0))
        << url;
  }
}

TEST(SiteUpdateTest, UpdatesInsertIntoALoadedList) {
  testing::TempDir dir;
  std::vector<QxListRecord> loaded;
  for (int i = 0; i < 40; ++i) {
    loaded.push_back(testing::UrlRecord("http://loaded" + std::to_string(i) + ".example.net/", CategoryBit(2)));
  }
  const std::string path = dir.WriteList("site.lst", loaded);
  auto service = NewService();
  ASSERT_EQ(QX_OK, QX_LoadSiteList(service.get(), path.c_str()));
  auto request = NewSet({6});
  for (int i = 0; i < 40; ++i) {
    const std::string url = "http://added" + std::to_string(i) + ".example.net/";
    ASSERT_EQ(QX_OK, QX_UpdateSiteList(service.get(), url.c_str(), request.get()));
  }
  EXPECT_EQ(80, service->siteCount);
  ExpectSiteListInOrder(service.get());
  auto result = NewSet();
  for (int i = 0; i < 40; ++i) {
    const std::string loadedUrl = "http://loaded" + std::to_string(i) + ".example.net/";
    ASSERT_EQ(QX_CATEGORIZED, QX_CategorizeUrl(service.get(), loadedUrl.c_str(), result.get(), nullptr, 0));
    EXPECT_EQ(CategoryBit(2), result->categories);
  }
}

TEST(SiteUpdateTest, OnlyTheFullPathKeyIsWritten) {
  auto service = NewService();
  auto request = NewSet({8});
  ASSERT_EQ(QX_OK, QX_UpdateSiteList(service.get(), "http://h.example.com/s0/s1", request.get()));

  struct Case {
    const char* url;
    int result;
    int level;  // matchedLevel on a match
  };
  const Case cases[] = {
      {"http://h.example.com/s0", QX_UNCATEGORIZED, 0},
      {"http://h.example.com/", QX_UNCATEGORIZED, 0},
      {"http://h.example.com/s0/s1", QX_CATEGORIZED, 2},
      {"http://h.example.com/s0/s1/s2", QX_CATEGORIZED, 2},
      {"http://h.example.com/s0/s1/s2/s3?q=1", QX_CATEGORIZED, 2},
  };
  for (const Case& c : cases) {
    auto result = NewSet();
    EXPECT_EQ(c.result, QX_CategorizeUrl(service.get(), c.url, result.get(), nullptr, 0)) << c.url;
    if (c.result != QX_CATEGORIZED) continue;
    QxUrl parsed;
    std::memset(&parsed, 0, sizeof(parsed));
    ASSERT_EQ(1, qxprsurl(&parsed, c.url));
    ASSERT_EQ(1, qxtsturl(&parsed, service->siteRecords, service->siteCount, nullptr));
    EXPECT_EQ(c.level, parsed.matchedLevel) << c.url;
  }
}

TEST(SiteUpdateTest, ApprovingTakesTheCurrentCategorisation) {
  testing::TempDir dir;
  const std::string control = dir.WriteList(
      "control.lst", {testing::DomainRecord("http://www.known.com/", CategoryBit(7) | CategoryBit(9))});
  auto service = NewService();
  ASSERT_EQ(QX_OK, QX_LoadControlList(service.get(), nullptr, control.c_str()));

  // Known through the control list's domain key.
  auto request = NewSet({1}, {1});
  ASSERT_EQ(QX_OK, QX_UpdateSiteList(service.get(), "http://www.known.com/page", request.get()));
  // The request now holds the URL's categorisation as it was.
  EXPECT_EQ(CategoryBit(7) | CategoryBit(9), request->categories);
  EXPECT_EQ(0u, request->controls);
  const QxListRecord* record = SiteRecordFor(service.get(), "http://www.known.com/page");
  ASSERT_NE(nullptr, record);
  EXPECT_EQ(CategoryBit(7) | CategoryBit(9), record->categories);
  EXPECT_EQ(1, record->markFlags);

  auto result = NewSet();
  EXPECT_EQ(QX_CATEGORIZED,
            QX_CategorizeUrl(service.get(), "http://www.known.com/page/more", result.get(), nullptr, 0));
  EXPECT_EQ(ControlBit(1) | ControlBit(9), result->controls);

  // Unknown everywhere: approved with no categories.
  auto unknown = NewSet({3}, {1});
  ASSERT_EQ(QX_OK, QX_UpdateSiteList(service.get(), "http://nowhere.example.org/", unknown.get()));
  record = SiteRecordFor(service.get(), "http://nowhere.example.org/");
  ASSERT_NE(nullptr, record);
  EXPECT_EQ(0u, record->categories);
  EXPECT_EQ(1, record->markFlags);
  ExpectSiteListInOrder(service.get());
}

TEST(SiteUpdateTest, FailuresLeaveTheListAsItWas) {
  auto service = NewService();
  auto request = NewSet({2});
  ASSERT_EQ(QX_OK, QX_UpdateSiteList(service.get(), "http://first.example.com/", request.get()));
  const QxListRecord* before = service->siteRecords;

  EXPECT_EQ(QX_ERR_BAD_URL, QX_UpdateSiteList(service.get(), "no scheme here", request.get()));
  EXPECT_EQ(QX_ERR_BAD_URL, QX_UpdateSiteList(service.get(), nullptr, request.get()));
  EXPECT_EQ(QX_ERR_NULL_HANDLE, QX_UpdateSiteList(nullptr, "http://x.com/", request.get()));
  EXPECT_EQ(QX_ERR_NULL_HANDLE, QX_UpdateSiteList(service.get(), "http://x.com/", nullptr));
  EXPECT_EQ(QX_ERR_BAD_HANDLE, QX_UpdateSiteList(reinterpret_cast<QxService*>(request.get()),
                                                 "http://x.com/", request.get()));
  EXPECT_EQ(QX_ERR_BAD_HANDLE, QX_UpdateSiteList(service.get(), "http://x.com/",
                                                 reinterpret_cast<QxTypes*>(service.get())));
  EXPECT_EQ(1, service->siteCount);
  EXPECT_EQ(before, service->siteRecords);
}

TEST(SiteUpdateTest, OutOfMemoryKeepsTheOldListIntactAndUsable) {
  auto service = NewService();
  auto request = NewSet({5});
  ASSERT_EQ(QX_OK, QX_UpdateSiteList(service.get(), "http://one.example.com/", request.get()));
  ASSERT_EQ(QX_OK, QX_UpdateSiteList(service.get(), "http://two.example.com/", request.get()));
  const std::vector<QxListRecord> before(service->siteRecords, service->siteRecords + 2);

  auto other = NewSet({6});  // sets are allocated through the hook too
  FailingAllocations failing;
  const int added = QX_UpdateSiteList(service.get(), "http://three.example.com/", other.get());
  const std::vector<QxListRecord> afterFailure(service->siteRecords, service->siteRecords + service->siteCount);
  // Replacing a listed key needs no memory.
  const int replaced = QX_UpdateSiteList(service.get(), "http://one.example.com/", other.get());
  failing.End();

  EXPECT_EQ(QX_ERR_NO_MEMORY, added);
  ASSERT_EQ(2u, afterFailure.size());
  EXPECT_EQ(0, std::memcmp(before.data(), afterFailure.data(), 2 * sizeof(QxListRecord)));
  EXPECT_EQ(QX_OK, replaced);
  ASSERT_EQ(2, service->siteCount);
  auto result = NewSet();
  EXPECT_EQ(QX_CATEGORIZED, QX_CategorizeUrl(service.get(), "http://one.example.com/", result.get(), nullptr, 0));
  EXPECT_EQ(CategoryBit(6), result->categories);
  EXPECT_EQ(QX_CATEGORIZED, QX_CategorizeUrl(service.get(), "http://two.example.com/", result.get(), nullptr, 0));
  EXPECT_EQ(CategoryBit(5), result->categories);
  EXPECT_EQ(QX_UNCATEGORIZED, QX_CategorizeUrl(service.get(), "http://three.example.com/", result.get(), nullptr, 0));
  // Once memory is back, the same update succeeds.
  EXPECT_EQ(QX_OK, QX_UpdateSiteList(service.get(), "http://three.example.com/", other.get()));
  EXPECT_EQ(3, service->siteCount);
}

// An environment whose resolver knows one name with two addresses and one
// with none; every other name fails.
class TableResolverEnv : public platform::EnvWrapper {
 public:
  TableResolverEnv() : EnvWrapper(platform::Env::Default()) {}
  platform::ResolveStatus ResolveHostName(const char* name,
                                          platform::HostAddressList* out) override {
    if (std::strcmp(name, "MULTI.EXAMPLE.COM") == 0) {
      out->count = 2;
      std::strcpy(out->dotted[0], "10.1.2.3");
      std::strcpy(out->dotted[1], "10.1.2.4");
      return platform::ResolveStatus::kOk;
    }
    if (std::strcmp(name, "EMPTY.EXAMPLE.COM") == 0) {
      out->count = 0;
      return platform::ResolveStatus::kOk;
    }
    return platform::ResolveStatus::kFailed;
  }
};

TEST(SiteUpdateTest, ResolvedHostsStoreOneRecordPerAddress) {
  TableResolverEnv env;
  auto service = NewService(&env);
  ASSERT_EQ(QX_OK, QX_SetIPOption(service.get(), 1));
  auto request = NewSet({12});

  EXPECT_EQ(QX_OK, QX_UpdateSiteList(service.get(), "http://multi.example.com/a", request.get()));
  EXPECT_EQ(2, service->siteCount);
  EXPECT_NE(nullptr, SiteRecordFor(service.get(), "http://10.1.2.3/a"));
  EXPECT_NE(nullptr, SiteRecordFor(service.get(), "http://10.1.2.4/a"));
  auto result = NewSet();
  char key[QX_KEY_TEXT_SIZE];
  EXPECT_EQ(QX_CATEGORIZED,
            QX_CategorizeUrl(service.get(), "http://multi.example.com/a/b", result.get(), key, 1023));
  EXPECT_STREQ("10.1.2.3/A", key);

  // No addresses: nothing stored; a failing name: 1014 and nothing stored.
  EXPECT_EQ(QX_OK, QX_UpdateSiteList(service.get(), "http://empty.example.com/", request.get()));
  EXPECT_EQ(QX_ERR_RESOLVE, QX_UpdateSiteList(service.get(), "http://unknown.example.com/", request.get()));
  EXPECT_EQ(2, service->siteCount);
  // A numeric host is stored as written, without resolution.
  EXPECT_EQ(QX_OK, QX_UpdateSiteList(service.get(), "http://192.168.0.1/", request.get()));
  EXPECT_NE(nullptr, SiteRecordFor(service.get(), "http://192.168.0.1/"));
  ExpectSiteListInOrder(service.get());
}

TEST(SiteUpdateTest, StoreSiteRecordInsertsAtItsPlace) {
  // Digests chosen by hand so that the expected order is obvious.
  std::vector<QxListRecord> records(4);
  std::memset(records.data(), 0, records.size() * sizeof(QxListRecord));
  records[0].digest[0] = 0x10;
  records[1].digest[0] = 0x30;
  records[2].digest[0] = 0x50;
  struct Case {
    std::uint8_t first;
    std::int32_t newCount;
    int position;
  };
  const Case cases[] = {{0x00, 4, 0}, {0x20, 4, 1}, {0x30, 3, 1}, {0x60, 4, 3}, {0x10, 3, 0}};
  for (const Case& c : cases) {
    std::vector<QxListRecord> array = records;
    QxUrl url;
    std::memset(&url, 0, sizeof(url));
    url.digest[0] = c.first;
    url.categories = 0x40;
    url.kind = 1;
    EXPECT_EQ(c.newCount, StoreSiteRecord(&url, array.data(), 3));
    EXPECT_EQ(c.first, array[c.position].digest[0]);
    EXPECT_EQ(0x40u, array[c.position].categories);
    for (std::int32_t i = 1; i < c.newCount; ++i) {
      EXPECT_LT(CompareListRecords(array[i - 1], array[i]), 0);
    }
  }
}

}  // namespace
}  // namespace corvane
