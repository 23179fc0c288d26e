// Loading list files: the well-formed cases, every malformed one, and the
// filter of the control list.
#include "list_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "service_env.h"
#include "testing/list_builder.h"

namespace corvane {
namespace {

using testing::KeyRecord;
using testing::ListFileBytes;
using testing::TempDir;

QxListRecord WithDigestByte(std::uint8_t first, std::uint32_t categories = 0x4) {
  QxListRecord record;
  std::memset(&record, 0, sizeof(record));
  record.categories = categories;
  record.digest[0] = first;
  record.digest[15] = 0x5A;
  return record;
}

std::string CountBytes(std::uint32_t count) {
  std::string bytes;
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((count >> (8 * i)) & 0xFF));
  return bytes;
}

std::string RecordBytes(const std::vector<QxListRecord>& records) {
  return ListFileBytes(records).substr(4);
}

struct Loaded {
  int status;
  std::vector<QxListRecord> records;
};

Loaded Read(const std::string& path, std::uint32_t mask = 0) {
  QxListRecord* array = reinterpret_cast<QxListRecord*>(0x1);
  std::int32_t count = -1;
  Loaded loaded;
  loaded.status = ReadListFile(path.c_str(), mask, &array, &count);
  if (loaded.status == QX_OK) {
    loaded.records.assign(array, array + count);
    std::free(array);
  } else {
    EXPECT_EQ(array, nullptr);
    EXPECT_EQ(count, 0);
  }
  return loaded;
}

TEST(ListFileTest, WellFormedFilesLoad) {
  TempDir dir;
  const auto a = WithDigestByte(0x10), b = WithDigestByte(0x20), c = WithDigestByte(0x30);
  QxListRecord zero;
  std::memset(&zero, 0, sizeof(zero));
  struct Case {
    const char* name;
    std::string bytes;
    std::size_t kept;
  } cases[] = {
      {"empty list", CountBytes(0), 0},
      {"three in order", ListFileBytes({a, b, c}), 3},
      {"all-zero first digest", ListFileBytes({zero, a}), 2},
      {"bytes after the last record are not read", ListFileBytes({a, b}) + "trailing junk", 2},
  };
  for (const Case& k : cases) {
    const Loaded loaded = Read(dir.Write("list", k.bytes));
    EXPECT_EQ(loaded.status, QX_OK) << k.name;
    EXPECT_EQ(loaded.records.size(), k.kept) << k.name;
  }
  const Loaded three = Read(dir.Write("three", ListFileBytes({a, b, c})));
  ASSERT_EQ(three.records.size(), 3u);
  EXPECT_EQ(std::memcmp(&three.records[1], &b, sizeof(b)), 0);
}

TEST(ListFileTest, MalformedFilesAreRefused) {
  TempDir dir;
  const auto a = WithDigestByte(0x10), b = WithDigestByte(0x20), c = WithDigestByte(0x30);
  QxListRecord zero;
  std::memset(&zero, 0, sizeof(zero));
  struct Case {
    const char* name;
    std::string bytes;
    int status;
  } cases[] = {
      {"no bytes at all", "", QX_ERR_READ_HEADER},
      {"count cut short", std::string("\x01\x00", 2), QX_ERR_READ_HEADER},
      {"declared record missing", CountBytes(1), QX_ERR_READ_RECORD},
      {"last record missing", CountBytes(3) + RecordBytes({a, b}), QX_ERR_READ_RECORD},
      {"last record cut short", CountBytes(2) + RecordBytes({a, b}).substr(0, 40),
       QX_ERR_READ_RECORD},
      {"negative count", CountBytes(0xFFFFFFFFu), QX_ERR_INVALID},
      {"most negative count", CountBytes(0x80000000u) + RecordBytes({a}), QX_ERR_INVALID},
      {"huge count in a small file", CountBytes(0x7FFFFFFFu) + std::string(12, '\0'),
       QX_ERR_READ_RECORD},
      {"count whose byte size wraps 32 bits", CountBytes(0x0AAAAAABu) + RecordBytes({a}),
       QX_ERR_READ_RECORD},
      {"descending", ListFileBytes({b, a}), QX_ERR_INVALID},
      {"duplicate", ListFileBytes({a, b, b, c}), QX_ERR_INVALID},
      {"all-zero digest after the first", ListFileBytes({zero, zero}), QX_ERR_INVALID},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(Read(dir.Write("list", k.bytes)).status, k.status) << k.name;
  }
}

TEST(ListFileTest, MaskKeepsMatchingRecordsAndChecksTheOrderOfEveryRecord) {
  TempDir dir;
  const std::uint32_t one = testing::Categories({1}), two = testing::Categories({2});
  const auto x = WithDigestByte(0x10, one);
  const auto z = WithDigestByte(0x40, two);  // dropped by the mask
  const auto y = WithDigestByte(0x30, one | two);
  const auto w = WithDigestByte(0x50, one);
  QxListRecord zero;
  std::memset(&zero, 0, sizeof(zero));
  const auto dropped = WithDigestByte(0x50, two);
  struct Case {
    const char* name;
    std::vector<QxListRecord> records;
    int status;
    std::vector<int> kept;  // first digest bytes, when loaded
  } cases[] = {
      {"in order, one dropped", {x, z, w}, QX_OK, {0x10, 0x50}},
      // Y lies below the dropped Z: out of order whether Z is kept or not.
      {"below a dropped record", {x, z, y}, QX_ERR_INVALID, {}},
      {"dropped record below a kept one", {y, x, w}, QX_ERR_INVALID, {}},
      {"dropped duplicates", {x, z, z, w}, QX_ERR_INVALID, {}},
      // A dropped first record: an all-zero digest after it is refused.
      {"zeros after a dropped first record", {dropped, zero}, QX_ERR_INVALID, {}},
  };
  for (const Case& c : cases) {
    const std::string path = dir.Write("list", ListFileBytes(c.records));
    for (std::uint32_t mask : {one, 0u}) {
      // The same answer with the filter as without it.
      const Loaded loaded = Read(path, mask);
      ASSERT_EQ(loaded.status, c.status) << c.name << " mask " << mask;
      if (c.status != QX_OK || mask == 0) continue;
      std::vector<int> kept;
      for (const QxListRecord& r : loaded.records) kept.push_back(r.digest[0]);
      EXPECT_EQ(kept, c.kept) << c.name;
    }
  }
}

TEST(ListFileTest, UnopenableFilesReportTheOpenFailure) {
  TempDir dir;
  for (const std::string& path : {dir.File("missing.lst"), dir.path().string()}) {
    ::testing::internal::CaptureStdout();
    const int status = Read(path).status;
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, QX_ERR_OPEN) << path;
    ASSERT_GT(printed.size(), std::strlen("open failed \n")) << path;
    EXPECT_EQ(printed.rfind("open failed ", 0), 0u) << printed;
    EXPECT_EQ(printed.back(), '\n');
    EXPECT_GT(std::atoi(printed.c_str() + 12), 0) << printed;
  }
}

TEST(ListFileTest, SortPutsRecordsIntoListOrder) {
  std::vector<QxListRecord> records;
  for (const char* key : {"A", "B", "C.COM", "D/E", "F", "G", "H"}) records.push_back(KeyRecord(key, 4));
  SortListRecords(records.data(), static_cast<std::int32_t>(records.size()));
  for (std::size_t i = 1; i < records.size(); ++i) {
    EXPECT_LT(CompareListRecords(records[i - 1], records[i]), 0) << i;
  }
  // The order is that of unsigned bytes: 0x80 sorts above 0x7F.
  QxListRecord low = WithDigestByte(0x7F), high = WithDigestByte(0x80);
  EXPECT_LT(CompareListRecords(low, high), 0);
  high.categories = 0;
  high.kind = 9;
  EXPECT_EQ(CompareListRecords(high, WithDigestByte(0x80)), 0);
}

class LoadListTest : public ::testing::Test {
 protected:
  void SetUp() override { service_ = QX_Init(); }
  void TearDown() override { QX_FreeService(service_); }
  QxService* service_;
  TempDir dir_;
};

TEST_F(LoadListTest, LoadsReplaceOnlyTheirOwnList) {
  const std::string two = dir_.Write("two", ListFileBytes({WithDigestByte(1), WithDigestByte(2)}));
  const std::string three = dir_.Write(
      "three", ListFileBytes({WithDigestByte(1), WithDigestByte(2), WithDigestByte(3)}));
  EXPECT_EQ(QX_LoadControlList(service_, nullptr, three.c_str()), QX_OK);
  EXPECT_EQ(QX_LoadSiteList(service_, two.c_str()), QX_OK);
  EXPECT_EQ(service_->controlCount, 3);
  EXPECT_EQ(service_->siteCount, 2);
  EXPECT_EQ(QX_LoadSiteList(service_, three.c_str()), QX_OK);
  EXPECT_EQ(service_->siteCount, 3);
  EXPECT_EQ(service_->controlCount, 3);
}

TEST_F(LoadListTest, FailedLoadLeavesThatListEmpty) {
  const std::string good = dir_.Write("good", ListFileBytes({WithDigestByte(1), WithDigestByte(2)}));
  const std::string bad = dir_.Write("bad", ListFileBytes({WithDigestByte(2), WithDigestByte(1)}));
  ASSERT_EQ(QX_LoadControlList(service_, nullptr, good.c_str()), QX_OK);
  ASSERT_EQ(QX_LoadSiteList(service_, good.c_str()), QX_OK);
  EXPECT_EQ(QX_LoadControlList(service_, nullptr, bad.c_str()), QX_ERR_INVALID);
  EXPECT_EQ(service_->controlCount, 0);
  EXPECT_EQ(service_->controlRecords, nullptr);
  EXPECT_EQ(service_->siteCount, 2);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(QX_LoadSiteList(service_, dir_.File("gone").c_str()), QX_ERR_OPEN);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(service_->siteCount, 0);
}

TEST_F(LoadListTest, FilterSelectsCategoriesAndBadHandlesChangeNothing) {
  const std::uint32_t one = testing::Categories({1}), two = testing::Categories({2});
  const std::string path = dir_.Write(
      "list", ListFileBytes({WithDigestByte(1, one), WithDigestByte(2, two), WithDigestByte(3, one)}));
  QxTypes* filter = QX_AllocateTypes();
  struct Case {
    const char* name;
    std::uint32_t filterCategories;
    std::int32_t kept;
  } cases[] = {{"empty filter keeps all", 0, 3}, {"category 1", one, 2}, {"category 2", two, 1},
               {"category 3", testing::Categories({3}), 0}};
  for (const Case& c : cases) {
    filter->categories = c.filterCategories;
    EXPECT_EQ(QX_LoadControlList(service_, filter, path.c_str()), QX_OK) << c.name;
    EXPECT_EQ(service_->controlCount, c.kept) << c.name;
  }
  EXPECT_EQ(QX_LoadControlList(service_, nullptr, path.c_str()), QX_OK);
  EXPECT_EQ(service_->controlCount, 3);

  // A foreign filter or service is refused before the loaded list goes.
  EXPECT_EQ(QX_LoadControlList(service_, reinterpret_cast<QxTypes*>(service_), path.c_str()),
            QX_ERR_BAD_HANDLE);
  EXPECT_EQ(QX_LoadControlList(reinterpret_cast<QxService*>(filter), nullptr, path.c_str()),
            QX_ERR_BAD_HANDLE);
  EXPECT_EQ(QX_LoadSiteList(nullptr, path.c_str()), QX_ERR_NULL_HANDLE);
  EXPECT_EQ(service_->controlCount, 3);
  QX_FreeTypes(filter);
}

// An environment that opens "virtual:" names as the file it was given,
// refuses "refused:" names with EACCES and records every open.
class RedirectingEnv : public platform::EnvWrapper {
 public:
  explicit RedirectingEnv(std::string real) : EnvWrapper(platform::Env::Default()), real_(real) {}
  std::FILE* OpenFile(const char* path, const char* mode) override {
    opened.push_back(std::string(path) + " " + mode);
    if (std::strncmp(path, "refused:", 8) == 0) {
      errno = EACCES;
      return nullptr;
    }
    if (std::strncmp(path, "virtual:", 8) == 0) return target()->OpenFile(real_.c_str(), mode);
    return target()->OpenFile(path, mode);
  }
  std::vector<std::string> opened;

 private:
  const std::string real_;
};

TEST(ListFileTest, ServicesOpenTheirListsThroughTheirEnvironment) {
  TempDir dir;
  const std::string real = dir.WriteList("real.lst", {WithDigestByte(1), WithDigestByte(2)});
  RedirectingEnv env(real);
  QxService* service = NewServiceWithEnv(&env);
  ASSERT_NE(service, nullptr);
  struct Case {
    const char* path;
    bool control;
    int status;
    std::int32_t count;
  };
  const Case cases[] = {
      {"virtual:control", true, QX_OK, 2},
      {"virtual:site", false, QX_OK, 2},
      {"refused:control", true, QX_ERR_OPEN, 0},
      {"refused:site", false, QX_ERR_OPEN, 0},
  };
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const int status = c.control ? QX_LoadControlList(service, nullptr, c.path)
                                 : QX_LoadSiteList(service, c.path);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(c.control ? service->controlCount : service->siteCount, c.count);
    expected.push_back(std::string(c.path) + " rb");
  }
  EXPECT_EQ(env.opened, expected);
  QX_FreeService(service);
}

}  // namespace
}  // namespace corvane
