// corvane_bench -- speed of the per-request lookup and of loading a large
// control list, on two lists:
//  - synthetic: 1,000,000 records for hosts "h000000.example.com" to
//    "h999999.example.com", each with 0 to 4 path segments, keyed and
//    digested by the engine's own parser and key builder;
//  - UT1: the UT1 lists imported with "corvane import"'s built-in folder map
//    (found through CORVANE_UT1_DIR, else ../shared/data/ut1 beside the
//    source tree or above it; skipped when absent).
// Categorisation runs with the parent-domain option off and on, on one
// thread, and on one and two threads sharing one service. BM_Md4DigestMany
// digests N keys of 12 to 60 bytes in one call, as a URL's key plan does.
// CORVANE_BENCH_MD4_LANES=baseline runs everything with the SSE2 lanes even
// where AVX is there, to compare the two versions end to end.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "corvane.h"
#include "list_index.h"
#include "list_writer.h"
#include "md4/md4.h"
#include "url_key.h"
#include "ut1_import.h"

#if defined(__GLIBC__)
// Every allocation of the process is counted, so that the benchmark can show
// that a categorisation makes none.
extern "C" void* __libc_malloc(std::size_t);
extern "C" void* __libc_calloc(std::size_t, std::size_t);
extern "C" void* __libc_realloc(void*, std::size_t);
namespace {
std::atomic<long long> g_allocations{0};
}
extern "C" void* malloc(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(size);
}
extern "C" void* calloc(std::size_t count, std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(count, size);
}
extern "C" void* realloc(void* block, std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(block, size);
}
#define CORVANE_BENCH_COUNTS_ALLOCATIONS 1
#endif

namespace {

constexpr int kRecordCount = 1000000;
constexpr int kUrlCount = 1 << 14;

long long Allocations() {
#if defined(CORVANE_BENCH_COUNTS_ALLOCATIONS)
  return g_allocations.load(std::memory_order_relaxed);
#else
  return 0;
#endif
}

std::string RandomPath(std::mt19937& random, int segments) {
  std::string path;
  for (int i = 0; i < segments; ++i) {
    path += "/s" + std::to_string(random() % 1000);
  }
  return path;
}

std::string TempListPath(const char* name) {
  std::random_device seed;
  return (std::filesystem::temp_directory_path() /
          (std::string(name) + "_" + std::to_string(seed()) + ".lst"))
      .string();
}

// A list file, the URLs to look up, and two services that have loaded the
// list, one with the parent-domain option off and one with it on (each
// shared by the threads of a run, which have their own result sets).
class Workload {
 public:
  virtual ~Workload() {
    for (QxService* service : services_) {
      if (service != nullptr) QX_FreeService(service);
    }
    if (!path_.empty()) std::remove(path_.c_str());
  }

  const std::string& path() const { return path_; }
  const std::vector<std::string>& urls() const { return urls_; }
  const std::string& problem() const { return problem_; }
  QxService* service(bool parents) const { return services_[parents ? 1 : 0]; }

 protected:
  void Write(std::vector<QxListRecord>* records, const char* name) {
    path_ = TempListPath(name);
    std::string error;
    if (!corvane_tool::WriteListFile(path_, records, &error)) {
      problem_ = error;
      path_.clear();
      return;
    }
    for (int parents = 0; parents < 2; ++parents) {
      services_[parents] = QX_Init();
      if (services_[parents] == nullptr ||
          QX_LoadControlList(services_[parents], nullptr, path_.c_str()) != QX_OK ||
          QX_SetParentDomainOption(services_[parents], parents) != QX_OK) {
        problem_ = "the list did not load";
      }
    }
  }

  std::string path_;
  std::vector<std::string> urls_;
  std::string problem_;
  QxService* services_[2] = {nullptr, nullptr};
};

// The synthetic 1,000,000-record list.
class SyntheticWorkload : public Workload {
 public:
  static SyntheticWorkload& Get() {
    static SyntheticWorkload workload;
    return workload;
  }

 private:
  SyntheticWorkload() {
    std::mt19937 random(20240601);
    std::vector<QxListRecord> records(kRecordCount);
    std::vector<std::string> listed(kRecordCount);
    for (int i = 0; i < kRecordCount; ++i) {
      char host[32];
      std::snprintf(host, sizeof host, "h%06d.example.com", i);
      listed[i] = std::string("http://") + host + RandomPath(random, random() % 5);
      QxUrl url;
      std::memset(&url, 0, sizeof url);
      qxprsurl(&url, listed[i].c_str());
      corvane::BuildPathKey(&url, url.segmentCount, false, nullptr);
      QxListRecord& record = records[i];
      std::memset(&record, 0, sizeof record);
      record.categories = QX_CATEGORY_BIT(1 + random() % QX_CATEGORY_COUNT);
      std::memcpy(record.digest, url.digest, sizeof record.digest);
    }
    // Half the URLs are found: a listed URL, sometimes with further
    // segments (found at a shorter path key). The other half are hosts that
    // are not listed, with 0 to 4 segments.
    for (int i = 0; i < kUrlCount; ++i) {
      if (i % 2 == 0) {
        const std::string& base = listed[random() % kRecordCount];
        int segments = static_cast<int>(std::count(base.begin() + 7, base.end(), '/'));
        urls_.push_back(base + RandomPath(random, random() % (5 - segments)));
      } else {
        char host[32];
        std::snprintf(host, sizeof host, "h%06u.example.net",
                      static_cast<unsigned>(random() % kRecordCount));
        urls_.push_back(std::string("http://") + host + RandomPath(random, random() % 5));
      }
    }
    Write(&records, "corvane_bench");
  }
};

std::string FindUt1Folder() {
  std::vector<std::filesystem::path> candidates;
  if (const char* given = std::getenv("CORVANE_UT1_DIR")) candidates.emplace_back(given);
  const std::filesystem::path source(PELLUMIN_SOURCE_DIR);
  candidates.push_back(source / ".." / "shared" / "data" / "ut1");
  candidates.push_back(source / ".." / ".." / "shared" / "data" / "ut1");
  for (const auto& candidate : candidates) {
    std::error_code error;
    if (std::filesystem::is_directory(candidate / "adult", error)) return candidate.string();
  }
  return "";
}

// The UT1 lists, imported as "corvane import" does. A quarter of the URLs
// name a listed domain itself, a quarter a host below one ("www." or
// another label), a quarter a listed URL entry (sometimes deeper), and a
// quarter hosts that are not listed; each with 0 to 3 random segments.
class Ut1Workload : public Workload {
 public:
  static Ut1Workload& Get() {
    static Ut1Workload workload;
    return workload;
  }

 private:
  Ut1Workload() {
    const std::string folder = FindUt1Folder();
    if (folder.empty()) {
      problem_ = "no UT1 lists (set CORVANE_UT1_DIR to the folder that holds adult/, games/, ...)";
      return;
    }
    corvane_tool::ImportOptions options;
    corvane_tool::ImportResult imported;
    std::ostringstream diagnostics;
    std::string error;
    if (!corvane_tool::ImportFolders(folder, options, diagnostics, &imported, &error) ||
        imported.entries.empty()) {
      problem_ = "the UT1 lists did not import: " + error;
      return;
    }
    std::vector<std::string> domains;
    std::vector<std::string> urlEntries;
    for (const auto& entry : imported.entries) {
      (entry.text.find('/') == std::string::npos ? domains : urlEntries).push_back(entry.text);
    }
    std::mt19937 random(20251209);
    static const char* const kBelow[] = {"www.", "www.", "m.", "static.", "a.b."};
    for (int i = 0; i < kUrlCount; ++i) {
      const std::string path = RandomPath(random, random() % 4);
      switch (i % 4) {
        case 0:
          urls_.push_back("http://" + domains[random() % domains.size()] + path);
          break;
        case 1:
          urls_.push_back("http://" + std::string(kBelow[random() % 5]) +
                          domains[random() % domains.size()] + path);
          break;
        case 2:
          urls_.push_back("http://" + urlEntries[random() % urlEntries.size()] + path);
          break;
        default:
          urls_.push_back("http://www.u" + std::to_string(random() % 1000000) + "-" +
                          domains[random() % domains.size()] + ".invalid" + path);
          break;
      }
    }
    std::vector<QxListRecord> records = corvane_tool::ImportAsRecords(imported);
    Write(&records, "corvane_bench_ut1");
  }
};

// Categorises the workload's URLs in turn; each thread starts at its own
// place in the list of URLs.
void RunCategorize(benchmark::State& state, const Workload& workload, bool parents) {
  if (!workload.problem().empty()) {
    state.SkipWithError(workload.problem().c_str());
    return;
  }
  QxService* service = workload.service(parents);
  QxTypes* result = QX_AllocateTypes();
  char keyText[QX_KEY_TEXT_SIZE];
  const std::vector<std::string>& urls = workload.urls();
  std::size_t next = static_cast<std::size_t>(state.thread_index()) * 4099 % urls.size();
  std::int64_t found = 0;
  const long long allocationsBefore = Allocations();
  for (auto _ : state) {
    int code = QX_CategorizeUrl(service, urls[next].c_str(), result, keyText, QX_KEY_TEXT_SIZE);
    found += code == QX_CATEGORIZED;
    benchmark::DoNotOptimize(code);
    if (++next == urls.size()) next = 0;
  }
  const long long allocations = Allocations() - allocationsBefore;
  state.SetItemsProcessed(state.iterations());
  // Each thread's share, averaged over the threads.
  state.counters["found"] = benchmark::Counter(
      static_cast<double>(found) / static_cast<double>(state.iterations()),
      benchmark::Counter::kAvgThreads);
#if defined(CORVANE_BENCH_COUNTS_ALLOCATIONS)
  if (state.threads() == 1) {
    state.counters["allocs_per_url"] =
        static_cast<double>(allocations) / static_cast<double>(state.iterations());
  }
#else
  (void)allocations;
#endif
  QX_FreeTypes(result);
}

void RunLoad(benchmark::State& state, const Workload& workload) {
  if (!workload.problem().empty()) {
    state.SkipWithError(workload.problem().c_str());
    return;
  }
  QxService* service = QX_Init();
  for (auto _ : state) {
    if (QX_LoadControlList(service, nullptr, workload.path().c_str()) != QX_OK) {
      state.SkipWithError("the list did not load");
      break;
    }
  }
  state.counters["records"] = service->controlCount;
  state.counters["record_MB"] =
      static_cast<double>(service->controlCount) * sizeof(QxListRecord) / 1e6;
  state.counters["index_MB"] = static_cast<double>(corvane::ListIndexBytes(service->controlCount)) / 1e6;
  QX_FreeService(service);
}

void BM_CategorizeUrl(benchmark::State& state) {
  RunCategorize(state, SyntheticWorkload::Get(), state.range(0) != 0);
}
BENCHMARK(BM_CategorizeUrl)->ArgName("parent_domains")->Arg(0)->Arg(1);

void BM_CategorizeUrlThreads(benchmark::State& state) {
  RunCategorize(state, SyntheticWorkload::Get(), false);
}
BENCHMARK(BM_CategorizeUrlThreads)->Threads(1)->Threads(2)->UseRealTime();

void BM_LoadControlList(benchmark::State& state) { RunLoad(state, SyntheticWorkload::Get()); }
BENCHMARK(BM_LoadControlList)->Unit(benchmark::kMillisecond);

void BM_CategorizeUrlUt1(benchmark::State& state) {
  RunCategorize(state, Ut1Workload::Get(), state.range(0) != 0);
}
BENCHMARK(BM_CategorizeUrlUt1)->ArgName("parent_domains")->Arg(0)->Arg(1);

void BM_CategorizeUrlUt1Threads(benchmark::State& state) {
  RunCategorize(state, Ut1Workload::Get(), false);
}
BENCHMARK(BM_CategorizeUrlUt1Threads)->Threads(1)->Threads(2)->UseRealTime();

void BM_LoadControlListUt1(benchmark::State& state) { RunLoad(state, Ut1Workload::Get()); }
BENCHMARK(BM_LoadControlListUt1)->Unit(benchmark::kMillisecond);

// A URL's keys: host and path keys of 12 to 60 bytes, upper case. Each call
// takes the next N of a pool of keys of mixed lengths, so that the lengths
// of one call vary as a URL's do.
void BM_Md4DigestMany(benchmark::State& state) {
  const std::size_t count = static_cast<std::size_t>(state.range(0));
  constexpr std::size_t kPool = 1024;
  std::mt19937 random(20261209);
  std::vector<std::string> keys(kPool);
  for (std::string& key : keys) {
    const std::size_t length = 12 + random() % 49;
    for (std::size_t i = 0; i < length; ++i) {
      key.push_back(static_cast<char>(i % 9 == 8 ? '.' : 'A' + random() % 26));
    }
  }
  std::vector<const std::uint8_t*> data(kPool + count);
  std::vector<std::size_t> lengths(kPool + count);
  for (std::size_t i = 0; i < kPool + count; ++i) {
    data[i] = reinterpret_cast<const std::uint8_t*>(keys[i % kPool].data());
    lengths[i] = keys[i % kPool].size();
  }
  std::uint8_t digests[8][corvane::kMd4DigestSize];
  std::size_t first = 0;
  for (auto _ : state) {
    corvane::Md4DigestMany(data.data() + first, lengths.data() + first, count, digests);
    benchmark::DoNotOptimize(digests);
    benchmark::ClobberMemory();
    first = (first + count) % kPool;
  }
}
BENCHMARK(BM_Md4DigestMany)->DenseRange(1, 8);

}  // namespace

int main(int argc, char** argv) {
  if (const char* lanes = std::getenv("CORVANE_BENCH_MD4_LANES")) {
    const bool baseline = std::strcmp(lanes, "baseline") == 0;
    if (!baseline && std::strcmp(lanes, "avx") != 0) {
      std::fprintf(stderr, "CORVANE_BENCH_MD4_LANES must be \"baseline\" or \"avx\", not \"%s\"\n",
                   lanes);
      return 2;
    }
    if (!corvane::Md4SelectLanes(baseline ? corvane::Md4Lanes::kBaseline
                                          : corvane::Md4Lanes::kAvx)) {
      std::fprintf(stderr, "MD4 lanes \"%s\" are not available on this machine\n", lanes);
      return 2;
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
