// corvane_bench -- speed of the per-request lookup and of loading a large
// control list. The list is synthetic: 1,000,000 records for hosts
// "h000000.example.com" to "h999999.example.com", each with 0 to 4 path
// segments, keyed and digested by the engine's own parser and key builder.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "corvane.h"
#include "list_writer.h"
#include "url_key.h"

namespace {

constexpr int kRecordCount = 1000000;
constexpr int kUrlCount = 1 << 14;

std::string RandomPath(std::mt19937& random, int segments) {
  std::string path;
  for (int i = 0; i < segments; ++i) {
    path += "/s" + std::to_string(random() % 1000);
  }
  return path;
}

// The list file and the URLs to look up, made once per process.
class Fixture {
 public:
  static Fixture& Get() {
    static Fixture fixture;
    return fixture;
  }

  const std::string& path() const { return path_; }
  const std::vector<std::string>& urls() const { return urls_; }

 private:
  Fixture() {
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
      record.categories = 4u << (random() % QX_CATEGORY_COUNT);
      std::memcpy(record.digest, url.digest, sizeof record.digest);
    }
    std::random_device seed;
    path_ = (std::filesystem::temp_directory_path() /
             ("corvane_bench_" + std::to_string(seed()) + ".lst"))
                .string();
    std::string error;
    if (!corvane_tool::WriteListFile(path_, &records, &error)) {
      std::fprintf(stderr, "corvane_bench: %s\n", error.c_str());
      std::exit(1);
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
  }

  ~Fixture() { std::remove(path_.c_str()); }

  std::string path_;
  std::vector<std::string> urls_;
};

void BM_CategorizeUrl(benchmark::State& state) {
  Fixture& fixture = Fixture::Get();
  QxService* service = QX_Init();
  if (QX_LoadControlList(service, nullptr, fixture.path().c_str()) != QX_OK) {
    state.SkipWithError("the list did not load");
    QX_FreeService(service);
    return;
  }
  QxTypes* result = QX_AllocateTypes();
  char keyText[QX_KEY_TEXT_SIZE];
  const std::vector<std::string>& urls = fixture.urls();
  std::size_t next = 0;
  std::int64_t found = 0;
  for (auto _ : state) {
    int code = QX_CategorizeUrl(service, urls[next].c_str(), result, keyText, QX_KEY_TEXT_SIZE);
    found += code == QX_CATEGORIZED;
    benchmark::DoNotOptimize(code);
    next = (next + 1) % urls.size();
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["found"] =
      benchmark::Counter(static_cast<double>(found) / static_cast<double>(state.iterations()));
  QX_FreeTypes(result);
  QX_FreeService(service);
}
BENCHMARK(BM_CategorizeUrl);

void BM_LoadControlList(benchmark::State& state) {
  Fixture& fixture = Fixture::Get();
  QxService* service = QX_Init();
  for (auto _ : state) {
    if (QX_LoadControlList(service, nullptr, fixture.path().c_str()) != QX_OK) {
      state.SkipWithError("the list did not load");
      break;
    }
  }
  state.counters["records"] = service->controlCount;
  QX_FreeService(service);
}
BENCHMARK(BM_LoadControlList)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
