// Control lists mapped from their files: the mapped load answers exactly as
// the read one for every file, well-formed or not; a list renamed over while
// mapped keeps serving the old records (also while other threads look up and
// load); a list truncated in place is refused at the next load; and the
// mapping is released on every path that releases the list.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "corvane.h"
#include "list_file.h"
#include "policy_testing.h"
#include "service_state.h"
#include "testing/list_builder.h"

namespace corvane {
namespace {

using testkit::KeyRecord;
using testkit::ListFileBytes;
using testkit::NewService;
using testkit::NewSet;
using testkit::ServicePtr;
using testkit::TempDir;
using testkit::UrlRecord;

bool IsMapped(QxService* service) { return StateOf(service)->controlMapping.data != nullptr; }

std::vector<QxListRecord> ControlRecords(const QxService* service) {
  return std::vector<QxListRecord>(service->controlRecords,
                                   service->controlRecords + service->controlCount);
}

bool SameBytes(const std::vector<QxListRecord>& a, const std::vector<QxListRecord>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(QxListRecord)) == 0);
}

// The category word QX_CategorizeUrl gives url (0 when not categorised).
std::uint32_t CategoriesOf(QxService* service, const std::string& url) {
  auto result = NewSet();
  char key[QX_KEY_TEXT_SIZE];
  const int rc =
      QX_CategorizeUrl(service, url.c_str(), result.get(), key, QX_KEY_TEXT_SIZE - 1);
  return rc == QX_CATEGORIZED ? result->categories : 0;
}

// n URL records, every one in category word `categories`.
std::vector<QxListRecord> Records(const std::string& prefix, int n, std::uint32_t categories) {
  std::vector<QxListRecord> records;
  for (int i = 0; i < n; ++i) {
    records.push_back(UrlRecord("http://" + prefix + std::to_string(i) + ".example/", categories));
  }
  SortListRecords(records.data(), static_cast<std::int32_t>(records.size()));
  return records;
}

std::string CountBytes(std::int32_t count) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) {
    bytes[static_cast<std::size_t>(i)] =
        static_cast<char>((static_cast<std::uint32_t>(count) >> (8 * i)) & 0xFF);
  }
  return bytes;
}

#if !defined(_WIN32)
// Writes bytes to a fresh file and renames it over path, as an administrator
// replaces a list that processes have mapped.
void ReplaceByRename(const TempDir& dir, const std::string& path, const std::string& bytes) {
  static std::atomic<int> serial{0};
  const std::string fresh = dir.Write("fresh" + std::to_string(serial++), bytes);
  std::filesystem::rename(fresh, path);
}
#endif

TEST(MappedListTest, MappedLoadAnswersAsTheReadLoadForEveryFile) {
  TempDir dir;
  const std::vector<QxListRecord> big = Records("big", 5000, 0x10);
  std::vector<QxListRecord> swapped = Records("swap", 40, 0x4);
  std::swap(swapped[20], swapped[21]);
  std::vector<QxListRecord> duplicate = Records("dup", 40, 0x4);
  duplicate[31] = duplicate[30];
  const std::string one = ListFileBytes(Records("one", 1, 0x8));
  struct Case {
    const char* name;
    std::string bytes;
    int status;
  } cases[] = {
      {"empty list", CountBytes(0), QX_OK},
      {"one record", one, QX_OK},
      {"short of the indexed size", ListFileBytes(Records("s", 15, 0x4)), QX_OK},
      {"indexed", ListFileBytes(Records("i", 16, 0x4)), QX_OK},
      {"five thousand", ListFileBytes(big), QX_OK},
      {"bytes after the last record", ListFileBytes(big) + "trailing bytes", QX_OK},
      {"no bytes", "", QX_ERR_READ_HEADER},
      {"half a count", std::string("\x01\x00", 2), QX_ERR_READ_HEADER},
      {"negative count", CountBytes(-3) + ListFileBytes(big).substr(4), QX_ERR_INVALID},
      {"count above the records", CountBytes(5001) + ListFileBytes(big).substr(4),
       QX_ERR_READ_RECORD},
      {"a record cut short", one.substr(0, one.size() - 1), QX_ERR_READ_RECORD},
      {"two records out of order", ListFileBytes(swapped), QX_ERR_INVALID},
      {"a duplicate digest", ListFileBytes(duplicate), QX_ERR_INVALID},
  };
  testkit::NoMappingEnv noMapping;
  const std::vector<std::string> urls = {"http://big17.example/", "http://big4999.example/x",
                                         "http://one0.example/", "http://i15.example/",
                                         "http://absent.example/"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.Write("list.lst", c.bytes);
    ServicePtr mapped = NewService();
    ServicePtr read = NewService(&noMapping);
    // A list loaded before is released by either load, whatever its result.
    ASSERT_EQ(QX_LoadControlList(mapped.get(), nullptr, dir.Write("old.lst", one).c_str()), QX_OK);
    const int status = QX_LoadControlList(mapped.get(), nullptr, path.c_str());
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(QX_LoadControlList(read.get(), nullptr, path.c_str()), c.status);
    EXPECT_EQ(mapped->controlCount, read->controlCount);
    EXPECT_TRUE(SameBytes(ControlRecords(mapped.get()), ControlRecords(read.get())));
    EXPECT_FALSE(IsMapped(read.get()));
    // Only a list with records to point to is mapped; a failed load leaves
    // neither array nor mapping.
    EXPECT_EQ(IsMapped(mapped.get()), status == QX_OK && mapped->controlCount > 0);
    if (status != QX_OK) {
      EXPECT_EQ(mapped->controlRecords, nullptr);
    }
    for (const std::string& url : urls) {
      EXPECT_EQ(CategoriesOf(mapped.get(), url), CategoriesOf(read.get(), url)) << url;
    }
    // The filtered load reads, and keeps the same records out of the mapped
    // file as out of the read one.
    auto filter = NewSet({3});
    EXPECT_EQ(QX_LoadControlList(mapped.get(), filter.get(), path.c_str()), c.status);
    EXPECT_FALSE(IsMapped(mapped.get()));
    // A filter without categories keeps everything, and maps.
    auto none = NewSet();
    EXPECT_EQ(QX_LoadControlList(mapped.get(), none.get(), path.c_str()), c.status);
    EXPECT_EQ(mapped->controlCount, read->controlCount);
  }
}

#if !defined(_WIN32)
// POSIX: a file can be renamed over and truncated while it is mapped.
TEST(MappedListTest, AListRenamedOverKeepsServingItsRecordsUntilTheNextLoad) {
  TempDir dir;
  const std::vector<QxListRecord> before = Records("before", 3000, 0x4);
  const std::vector<QxListRecord> after = Records("after", 2000, 0x8);
  const std::string path = dir.Write("control.lst", ListFileBytes(before));
  ServicePtr service = NewService();
  ASSERT_EQ(QX_LoadControlList(service.get(), nullptr, path.c_str()), QX_OK);
  ASSERT_TRUE(IsMapped(service.get()));
  ReplaceByRename(dir, path, ListFileBytes(after));
  EXPECT_TRUE(SameBytes(ControlRecords(service.get()), before));
  EXPECT_EQ(CategoriesOf(service.get(), "http://before2999.example/"), 0x4u);
  EXPECT_EQ(CategoriesOf(service.get(), "http://after1.example/"), 0u);
  // Removed as well: the view keeps the old file's data.
  std::filesystem::remove(path);
  EXPECT_EQ(CategoriesOf(service.get(), "http://before0.example/"), 0x4u);
  ReplaceByRename(dir, path, ListFileBytes(after));
  ASSERT_EQ(QX_LoadControlList(service.get(), nullptr, path.c_str()), QX_OK);
  EXPECT_TRUE(SameBytes(ControlRecords(service.get()), after));
  EXPECT_EQ(CategoriesOf(service.get(), "http://before0.example/"), 0u);
  EXPECT_EQ(CategoriesOf(service.get(), "http://after1999.example/"), 0x8u);
}

TEST(MappedListTest, AListTruncatedInPlaceIsRefusedAtTheNextLoad) {
  TempDir dir;
  const std::vector<QxListRecord> records = Records("t", 1000, 0x4);
  const std::string path = dir.Write("control.lst", ListFileBytes(records));
  ServicePtr service = NewService();
  ASSERT_EQ(QX_LoadControlList(service.get(), nullptr, path.c_str()), QX_OK);
  // Cut inside a record and past it: the declared count no longer fits.
  // Nothing is looked up in between, since the mapped pages past the new
  // end are gone (a lookup there would fault).
  for (std::uintmax_t size : {std::uintmax_t{4 + 24 * 500 + 7}, std::uintmax_t{4 + 24 * 999}}) {
    std::filesystem::resize_file(path, size);
    EXPECT_EQ(QX_LoadControlList(service.get(), nullptr, path.c_str()), QX_ERR_READ_RECORD)
        << size;
    EXPECT_EQ(service->controlCount, 0);
    EXPECT_EQ(service->controlRecords, nullptr);
    EXPECT_FALSE(IsMapped(service.get()));
  }
}

#else
// Windows: a mapped file is in use, so it can be neither renamed over nor
// cut until the list is released; the process goes on serving it meanwhile.
TEST(MappedListTest, AMappedListCannotBeReplacedUntilItIsReleased) {
  TempDir dir;
  const std::vector<QxListRecord> before = Records("before", 3000, 0x4);
  const std::vector<QxListRecord> after = Records("after", 2000, 0x8);
  const std::string path = dir.Write("control.lst", ListFileBytes(before));
  const std::string fresh = dir.Write("fresh.lst", ListFileBytes(after));
  ServicePtr service = NewService();
  ASSERT_EQ(QX_LoadControlList(service.get(), nullptr, path.c_str()), QX_OK);
  ASSERT_TRUE(IsMapped(service.get()));
  std::error_code error;
  std::filesystem::rename(fresh, path, error);
  EXPECT_TRUE(error) << "renamed over a mapped list";
  std::filesystem::resize_file(path, 4 + 24 * 10, error);
  EXPECT_TRUE(error) << "cut a mapped list";
  EXPECT_EQ(CategoriesOf(service.get(), "http://before2999.example/"), 0x4u);
  ASSERT_EQ(QX_LoadControlList(service.get(), nullptr, nullptr), QX_ERR_INVALID);
  std::filesystem::rename(fresh, path, error);
  ASSERT_FALSE(error) << error.message();
  ASSERT_EQ(QX_LoadControlList(service.get(), nullptr, path.c_str()), QX_OK);
  EXPECT_EQ(CategoriesOf(service.get(), "http://after1999.example/"), 0x8u);
}
#endif

#if defined(__linux__)
// Whether the process maps a file of that name (which /proc/self/maps shows
// with " (deleted)" after a file renamed over).
bool ProcessMaps(const std::string& path) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    if (line.find(path) != std::string::npos) return true;
  }
  return false;
}

TEST(MappedListTest, TheMappingGoesWithTheList) {
  TempDir dir;
  const std::string mine = ListFileBytes(Records("m", 100, 0x4));
  auto filter = NewSet({1});
  auto bad = ListFileBytes(Records("b", 50, 0x4));
  bad = CountBytes(-1) + bad.substr(4);
  const std::string badPath = dir.Write("bad.lst", bad);
  const std::string otherPath = dir.Write("other.lst", ListFileBytes(Records("o", 30, 0x4)));
  struct Case {
    const char* name;
    int (*release)(QxService* service, QxTypes* filter, const std::string& other,
                   const std::string& bad);
  } cases[] = {
      {"another list loaded",
       [](QxService* s, QxTypes*, const std::string& other, const std::string&) {
         return QX_LoadControlList(s, nullptr, other.c_str());
       }},
      {"a failed load",
       [](QxService* s, QxTypes*, const std::string&, const std::string& bad) {
         return QX_LoadControlList(s, nullptr, bad.c_str());
       }},
      {"a missing file",
       [](QxService* s, QxTypes*, const std::string& other, const std::string&) {
         return QX_LoadControlList(s, nullptr, (other + ".missing").c_str());
       }},
      {"a filtered load",
       [](QxService* s, QxTypes* f, const std::string& other, const std::string&) {
         return QX_LoadControlList(s, f, other.c_str());
       }},
      {"no path", [](QxService* s, QxTypes*, const std::string&,
                     const std::string&) { return QX_LoadControlList(s, nullptr, nullptr); }},
      {"the service freed",
       [](QxService* s, QxTypes*, const std::string&, const std::string&) {
         return QX_FreeService(s);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.Write(std::string("mine-") + std::to_string(&c - cases) + ".lst",
                                       mine);
    QxService* service = QX_Init();
    ASSERT_NE(service, nullptr);
    ASSERT_EQ(QX_LoadControlList(service, nullptr, path.c_str()), QX_OK);
    ASSERT_TRUE(ProcessMaps(path));
    const bool freed = std::string(c.name) == "the service freed";
    c.release(service, filter.get(), otherPath, badPath);
    EXPECT_FALSE(ProcessMaps(path));
    if (!freed) QX_FreeService(service);
  }
  EXPECT_FALSE(ProcessMaps(otherPath));
}
#endif

#if !defined(_WIN32)
// Shared blocks in a folder of the test's own instead of the system's.
class BlockFolderEnv : public platform::EnvWrapper {
 public:
  explicit BlockFolderEnv(std::string folder)
      : EnvWrapper(platform::Env::Default()), folder_(std::move(folder)) {}
  bool MapSharedBlock(const char* name, platform::FileMapping* mapping) override {
    return platform::MapSharedBlock(folder_.c_str(), name, mapping);
  }
  bool PublishSharedBlock(const char* name, const char* stale, const platform::BlockPart* parts,
                          int count) override {
    ++published;
    return platform::PublishSharedBlock(folder_.c_str(), name, stale, parts, count);
  }
  std::vector<std::string> Blocks() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
      names.push_back(entry.path().string());
    }
    return names;
  }
  int published = 0;

 private:
  const std::string folder_;
};

bool IndexInBlock(QxService* service) {
  const ServiceState* state = StateOf(service);
  const unsigned char* starts = reinterpret_cast<const unsigned char*>(state->controlIndex.starts);
  return state->controlIndexMapping.data != nullptr && starts > state->controlIndexMapping.data &&
         starts < state->controlIndexMapping.data + state->controlIndexMapping.size;
}

TEST(MappedListTest, ALargeListsIndexIsSharedOnlyWhenItDescribesTheFile) {
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "blocks");
  BlockFolderEnv env((dir.path() / "blocks").string());
  testkit::NoMappingEnv noMapping;
  const int n = kSharedIndexMinRecords + 1000;
  const std::vector<QxListRecord> records = Records("s", n, 0x10);
  const std::string path = dir.Write("control.lst", ListFileBytes(records));
  ServicePtr reference = NewService(&noMapping);
  ASSERT_EQ(QX_LoadControlList(reference.get(), nullptr, path.c_str()), QX_OK);
  const std::vector<std::string> urls = {"http://s0.example/", "http://s262999.example/a",
                                         "http://s77.example/x/y", "http://t5.example/",
                                         "http://www.s123456.example/"};
  auto expectReferenceAnswers = [&](QxService* service) {
    for (const std::string& url : urls) {
      EXPECT_EQ(CategoriesOf(service, url), CategoriesOf(reference.get(), url)) << url;
    }
  };
  // The first load publishes and then uses the block; a second service
  // takes it without publishing again.
  ServicePtr first = NewService(&env);
  ASSERT_EQ(QX_LoadControlList(first.get(), nullptr, path.c_str()), QX_OK);
  EXPECT_EQ(env.published, 1);
  ASSERT_EQ(env.Blocks().size(), 1u);
  EXPECT_TRUE(IndexInBlock(first.get()));
  ServicePtr second = NewService(&env);
  ASSERT_EQ(QX_LoadControlList(second.get(), nullptr, path.c_str()), QX_OK);
  EXPECT_EQ(env.published, 1);
  EXPECT_TRUE(IndexInBlock(second.get()));
  expectReferenceAnswers(first.get());
  expectReferenceAnswers(second.get());
  const std::string block = env.Blocks()[0];
  const std::string good = [&] {
    std::ifstream in(block, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }();

  // A damaged block is not taken: the load checks the list itself, builds
  // the index and publishes a sound block in its place.
  struct Damage {
    const char* name;
    std::string bytes;
    std::filesystem::perms perms;
  };
  std::string falling = good;
  falling[64 + 4 * 1000] = '\xff';  // a bucket start above the next one
  std::string otherCount = good;
  otherCount[12] ^= 1;
  std::string otherFile = good;
  otherFile[24] ^= 1;  // the identity
  const auto mine = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
  const Damage damages[] = {
      {"cut short", good.substr(0, good.size() - 2), mine},
      {"longer", good + "xx", mine},
      {"a table that falls", falling, mine},
      {"another count", otherCount, mine},
      {"another version of the file", otherFile, mine},
      {"writable by others", good, mine | std::filesystem::perms::others_write},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.name);
    std::filesystem::remove(block);
    {
      std::ofstream out(block, std::ios::binary);
      out << damage.bytes;
    }
    std::filesystem::permissions(block, damage.perms);
    const int before = env.published;
    ServicePtr service = NewService(&env);
    ASSERT_EQ(QX_LoadControlList(service.get(), nullptr, path.c_str()), QX_OK);
    EXPECT_EQ(env.published, before + 1);
    EXPECT_TRUE(IndexInBlock(service.get()));
    expectReferenceAnswers(service.get());
  }

  // A new version renamed over gets a block of its own, and the old one is
  // removed (the services that map it keep it).
  std::vector<QxListRecord> changed = records;
  changed.pop_back();
  ReplaceByRename(dir, path, ListFileBytes(changed));
  ServicePtr third = NewService(&env);
  ASSERT_EQ(QX_LoadControlList(third.get(), nullptr, path.c_str()), QX_OK);
  EXPECT_EQ(third->controlCount, n - 1);
  ASSERT_EQ(env.Blocks().size(), 1u);
  EXPECT_NE(env.Blocks()[0], block);
  expectReferenceAnswers(first.get());
  // Truncated in place: a new identity, so the list itself is checked.
  std::filesystem::resize_file(path, 4 + 24 * 1000);
  ServicePtr fourth = NewService(&env);
  EXPECT_EQ(QX_LoadControlList(fourth.get(), nullptr, path.c_str()), QX_ERR_READ_RECORD);
  // And a list out of order is refused, whatever blocks there are.
  std::vector<QxListRecord> swapped = records;
  std::swap(swapped[n / 2], swapped[n / 2 + 1]);
  ReplaceByRename(dir, path, ListFileBytes(swapped));
  EXPECT_EQ(QX_LoadControlList(fourth.get(), nullptr, path.c_str()), QX_ERR_INVALID);
  EXPECT_FALSE(IsMapped(fourth.get()));
  EXPECT_EQ(StateOf(fourth.get())->controlIndexMapping.data, nullptr);
}
#endif

#if !defined(_WIN32)
TEST(MappedListTest, ListsRenamedOverDuringLookupsAndLoadsFromThreads) {
  // One service keeps the list it loaded while the file is renamed over and
  // over; other threads load the file into services of their own at the
  // same time, and each load must be one version whole, never a mix.
  TempDir dir;
  const std::vector<QxListRecord> first = Records("first", 4000, 0x4);
  const std::vector<QxListRecord> second = Records("second", 3000, 0x8);
  const std::string firstBytes = ListFileBytes(first);
  const std::string secondBytes = ListFileBytes(second);
  const std::string path = dir.Write("control.lst", firstBytes);
  ServicePtr shared = NewService();
  ASSERT_EQ(QX_LoadControlList(shared.get(), nullptr, path.c_str()), QX_OK);

  constexpr int kRenames = 300;
  std::atomic<bool> done{false};
  std::atomic<int> wrongAnswers{0}, mixedLoads{0}, failedLoads{0}, loads{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      for (int i = t; !done.load(); i += 7) {
        const bool listed = CategoriesOf(shared.get(), "http://first" + std::to_string(i % 4000) +
                                                           ".example/") == 0x4u;
        const bool other = CategoriesOf(shared.get(), "http://second" +
                                                          std::to_string(i % 3000) + ".example/") != 0;
        if (!listed || other) ++wrongAnswers;
      }
    });
  }
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      while (!done.load()) {
        ServicePtr own = NewService();
        if (QX_LoadControlList(own.get(), nullptr, path.c_str()) != QX_OK) {
          ++failedLoads;
          continue;
        }
        ++loads;
        const std::vector<QxListRecord> seen = ControlRecords(own.get());
        const std::uint32_t a = CategoriesOf(own.get(), "http://first17.example/");
        const std::uint32_t b = CategoriesOf(own.get(), "http://second17.example/");
        const bool isFirst = SameBytes(seen, first) && a == 0x4u && b == 0;
        const bool isSecond = SameBytes(seen, second) && a == 0 && b == 0x8u;
        if (!isFirst && !isSecond) ++mixedLoads;
      }
    });
  }
  for (int i = 0; i < kRenames; ++i) {
    ReplaceByRename(dir, path, i % 2 == 0 ? secondBytes : firstBytes);
  }
  done = true;
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrongAnswers.load(), 0);
  EXPECT_EQ(mixedLoads.load(), 0);
  EXPECT_EQ(failedLoads.load(), 0);
  EXPECT_GT(loads.load(), 0);
  EXPECT_TRUE(SameBytes(ControlRecords(shared.get()), first));
}
#endif

}  // namespace
}  // namespace corvane
