// Memory running out at each allocation in turn, as SQLite's tests do it:
// loading both lists (from a file and from a pipe, whose array grows), the
// site list update, and making the service and its sets. Every failure gives
// 1008 (or none, for the constructors), leaves everything else as it was and
// usable, and leaks nothing (the sanitizer build checks that at exit).
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "corvane.h"
#include "list_file.h"
#include "policy_testing.h"
#include "testing/failing_allocator.h"
#include "testing/list_builder.h"

namespace corvane {
namespace {

using testkit::FailingAllocator;
using testkit::NewService;
using testkit::NewSet;
using testkit::UrlRecord;

constexpr long kMaxAllocations = 200;  // far more than any operation here makes

std::vector<QxListRecord> Copy(const QxListRecord* records, std::int32_t count) {
  return std::vector<QxListRecord>(records, records + count);
}

bool SameRecords(const std::vector<QxListRecord>& a, const QxListRecord* b, std::int32_t count) {
  return static_cast<std::int32_t>(a.size()) == count &&
         (count == 0 || std::memcmp(a.data(), b, a.size() * sizeof(QxListRecord)) == 0);
}

int Categorize(QxService* service, const char* url) {
  auto result = NewSet();
  char key[QX_KEY_TEXT_SIZE];
  return QX_CategorizeUrl(service, url, result.get(), key, QX_KEY_TEXT_SIZE - 1);
}

class AllocationFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    control_ = dir_.WriteList("control.lst", {UrlRecord("http://control.example/", 4),
                                              UrlRecord("http://other.example/a", 8)});
    site_ = dir_.WriteList("site.lst", {UrlRecord("http://site.example/", 16)});
  }
  testkit::TempDir dir_;
  std::string control_, site_;
};

TEST_F(AllocationFailureTest, LoadingFailsCleanlyAtEveryAllocation) {
  auto filter = NewSet({1});
  testkit::NoMappingEnv noMapping;
  struct Case {
    const char* name;
    bool control;  // else the site list
    QxTypes* filter;
    platform::Env* env;
    bool allocates;  // a mapped list of two records needs no memory at all
  } cases[] = {{"mapped control list", true, nullptr, nullptr, false},
               {"read control list", true, nullptr, &noMapping, true},
               {"filtered control list", true, filter.get(), nullptr, true},
               {"site list", false, nullptr, nullptr, true}};
  for (const Case& c : cases) {
    long failing = 0;
    for (; failing < kMaxAllocations; ++failing) {
      auto service = c.env != nullptr ? NewService(c.env) : NewService();
      ASSERT_EQ(QX_LoadControlList(service.get(), nullptr, control_.c_str()), QX_OK);
      ASSERT_EQ(QX_LoadSiteList(service.get(), site_.c_str()), QX_OK);
      const auto otherBefore = c.control ? Copy(service->siteRecords, service->siteCount)
                                         : Copy(service->controlRecords, service->controlCount);
      FailingAllocator failure(failing);
      const int rc = c.control ? QX_LoadControlList(service.get(), c.filter, control_.c_str())
                               : QX_LoadSiteList(service.get(), site_.c_str());
      failure.End();
      if (!failure.reached()) {
        EXPECT_EQ(rc, QX_OK) << c.name;
        break;
      }
      if (rc == QX_OK) {
        // Only the size lookup failed: the list loads without it.
        EXPECT_EQ(c.control ? service->controlCount : service->siteCount,
                  c.control && c.filter ? 1 : (c.control ? 2 : 1))
            << c.name;
        continue;
      }
      EXPECT_EQ(rc, QX_ERR_NO_MEMORY) << c.name << ", allocation " << failing;
      // That list is empty, as after any failed load; the other one and
      // the service are as they were.
      EXPECT_EQ(c.control ? service->controlCount : service->siteCount, 0) << c.name;
      EXPECT_EQ(c.control ? service->controlRecords : service->siteRecords, nullptr) << c.name;
      EXPECT_TRUE(c.control ? SameRecords(otherBefore, service->siteRecords, service->siteCount)
                            : SameRecords(otherBefore, service->controlRecords,
                                          service->controlCount))
          << c.name;
      EXPECT_EQ(Categorize(service.get(), c.control ? "http://site.example/"
                                                    : "http://control.example/"),
                QX_CATEGORIZED)
          << c.name;
      // And the load succeeds once memory is back.
      ASSERT_EQ(c.control ? QX_LoadControlList(service.get(), c.filter, control_.c_str())
                          : QX_LoadSiteList(service.get(), site_.c_str()),
                QX_OK);
    }
    if (c.allocates) {
      EXPECT_GT(failing, 0) << c.name << ": no allocation was made";
    } else {
      EXPECT_EQ(failing, 0) << c.name << ": an allocation was made";
    }
    EXPECT_LT(failing, kMaxAllocations) << c.name;
  }
}

#ifndef _WIN32  // a named pipe
TEST_F(AllocationFailureTest, LoadingFromAPipeFailsCleanlyWhenTheArrayGrows) {
  // From a pipe the size is unknown, so the array starts at one chunk and
  // grows as records arrive: the growth fails too.
  signal(SIGPIPE, SIG_IGN);
  std::vector<QxListRecord> records;
  for (int i = 0; i < 200000; ++i) {
    records.push_back(testkit::KeyRecord("K" + std::to_string(i), 4));
  }
  const std::string fifo = dir_.File("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::vector<QxListRecord> sorted = records;
  SortListRecords(sorted.data(), static_cast<std::int32_t>(sorted.size()));
  const std::string bytes = testkit::ListFileBytes(sorted);
  long failing = 0;
  for (; failing < kMaxAllocations; ++failing) {
    auto service = NewService();
    std::thread writer([&] {
      int fd = open(fifo.c_str(), O_WRONLY);
      if (fd < 0) return;
      for (size_t done = 0; done < bytes.size();) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;  // the reader gave up
        done += static_cast<size_t>(n);
      }
      close(fd);
    });
    FailingAllocator failure(failing);
    const int rc = QX_LoadSiteList(service.get(), fifo.c_str());
    failure.End();
    writer.join();
    if (!failure.reached() || rc == QX_OK) {
      EXPECT_EQ(rc, QX_OK);
      EXPECT_EQ(service->siteCount, 200000);
      if (!failure.reached()) break;
      continue;
    }
    EXPECT_EQ(rc, QX_ERR_NO_MEMORY) << "allocation " << failing;
    EXPECT_EQ(service->siteCount, 0);
  }
  EXPECT_GE(failing, 2) << "the array never grew";
}
#endif

TEST_F(AllocationFailureTest, SiteListUpdateFailsCleanlyAtEveryAllocation) {
  struct Case {
    const char* name;
    bool loaded;      // a site list loaded first, or none
    const char* url;  // new, or replacing a record
  } cases[] = {{"first record", false, "http://new.example/x"},
               {"added record", true, "http://new.example/x"},
               {"replaced record", true, "http://site.example/"}};
  for (const Case& c : cases) {
    long failing = 0;
    for (; failing < kMaxAllocations; ++failing) {
      auto service = NewService();
      if (c.loaded) {
        ASSERT_EQ(QX_LoadSiteList(service.get(), site_.c_str()), QX_OK);
      }
      auto request = NewSet({5}, {1});
      const auto before = Copy(service->siteRecords, service->siteCount);
      FailingAllocator failure(failing);
      const int rc = QX_UpdateSiteList(service.get(), c.url, request.get());
      failure.End();
      if (!failure.reached()) {
        EXPECT_EQ(rc, QX_OK) << c.name;
        break;
      }
      EXPECT_EQ(rc, QX_ERR_NO_MEMORY) << c.name << ", allocation " << failing;
      EXPECT_TRUE(SameRecords(before, service->siteRecords, service->siteCount)) << c.name;
      EXPECT_EQ(QX_UpdateSiteList(service.get(), c.url, request.get()), QX_OK) << c.name;
      EXPECT_EQ(Categorize(service.get(), c.url), QX_CATEGORIZED) << c.name;
    }
    EXPECT_LT(failing, kMaxAllocations) << c.name;
  }
}

TEST_F(AllocationFailureTest, AnIndexedSiteListAnswersRightWhenItsIndexCannotGrow) {
  // Long enough to be indexed: an update then also grows the index's tags,
  // or builds a larger table. Whichever allocation fails, the update either
  // fails with the records as they were, or succeeds; every listed URL and
  // the new one are found afterwards, with or without the index.
  std::vector<QxListRecord> records;
  std::vector<std::string> urls;
  for (int i = 0; i < 63; ++i) {
    urls.push_back("http://site" + std::to_string(i) + ".example/");
    records.push_back(UrlRecord(urls.back().c_str(), 16));
  }
  const std::string site = dir_.WriteList("indexed.lst", records);
  const char* added[] = {"http://new.example/x", "http://other.example/y"};
  long failing = 0;
  for (; failing < kMaxAllocations; ++failing) {
    auto service = NewService();
    ASSERT_EQ(QX_LoadSiteList(service.get(), site.c_str()), QX_OK);
    auto request = NewSet({5}, {1});
    // The first insert grows the tags; the second passes 64 records and
    // builds a larger table.
    ASSERT_EQ(QX_UpdateSiteList(service.get(), added[0], request.get()), QX_OK);
    const auto before = Copy(service->siteRecords, service->siteCount);
    FailingAllocator failure(failing);
    const int rc = QX_UpdateSiteList(service.get(), added[1], request.get());
    failure.End();
    if (rc != QX_OK) {
      EXPECT_EQ(rc, QX_ERR_NO_MEMORY) << "allocation " << failing;
      EXPECT_TRUE(SameRecords(before, service->siteRecords, service->siteCount));
      EXPECT_EQ(Categorize(service.get(), added[1]), QX_UNCATEGORIZED) << failing;
    } else {
      EXPECT_EQ(Categorize(service.get(), added[1]), QX_CATEGORIZED) << failing;
    }
    for (const std::string& url : urls) {
      EXPECT_EQ(Categorize(service.get(), url.c_str()), QX_CATEGORIZED) << url << ", " << failing;
    }
    EXPECT_EQ(Categorize(service.get(), added[0]), QX_CATEGORIZED) << failing;
    EXPECT_EQ(Categorize(service.get(), "http://absent.example/"), QX_UNCATEGORIZED);
    if (!failure.reached()) break;
  }
  EXPECT_LT(failing, kMaxAllocations);
}

TEST_F(AllocationFailureTest, AMappedListLoadsAndAnswersWhenItsIndexCannotBeAllocated) {
  // The index is the only memory a mapped load takes: without it the list
  // loads all the same and is searched directly.
  std::vector<QxListRecord> records;
  std::vector<std::string> urls;
  for (int i = 0; i < 300; ++i) {
    urls.push_back("http://mapped" + std::to_string(i) + ".example/p");
    records.push_back(UrlRecord(urls.back(), 4u << (i % 20)));
  }
  const std::string path = dir_.WriteList("mapped.lst", records);
  long failing = 0;
  for (; failing < kMaxAllocations; ++failing) {
    auto service = NewService();
    FailingAllocator failure(failing);
    const int rc = QX_LoadControlList(service.get(), nullptr, path.c_str());
    failure.End();
    ASSERT_EQ(rc, QX_OK) << "allocation " << failing;
    EXPECT_EQ(service->controlCount, 300);
    for (int i = 0; i < 300; ++i) {
      auto result = NewSet();
      char key[QX_KEY_TEXT_SIZE];
      ASSERT_EQ(QX_CategorizeUrl(service.get(), urls[static_cast<std::size_t>(i)].c_str(),
                                 result.get(), key, QX_KEY_TEXT_SIZE - 1),
                QX_CATEGORIZED);
      EXPECT_EQ(result->categories, 4u << (i % 20)) << urls[static_cast<std::size_t>(i)];
    }
    EXPECT_EQ(Categorize(service.get(), "http://absent.example/"), QX_UNCATEGORIZED);
    if (!failure.reached()) break;
  }
  EXPECT_GE(failing, 1) << "the index was never allocated";
  EXPECT_LT(failing, kMaxAllocations);
}

TEST_F(AllocationFailureTest, ServiceAndSetsAreNullWhenMemoryRunsOut) {
  {
    FailingAllocator failure(0);
    EXPECT_EQ(QX_Init(), nullptr);
    EXPECT_TRUE(failure.reached());
  }
  {
    FailingAllocator failure(0);
    EXPECT_EQ(QX_AllocateTypes(), nullptr);
    EXPECT_TRUE(failure.reached());
  }
  FailingAllocator failure(2);
  QxService* service = QX_Init();
  QxTypes* set = QX_AllocateTypes();
  EXPECT_NE(service, nullptr);
  EXPECT_NE(set, nullptr);
  EXPECT_FALSE(failure.reached());
  failure.End();
  QX_FreeTypes(set);
  QX_FreeService(service);
}

}  // namespace
}  // namespace corvane
