// corvane_scale -- synthetic lists of millions of records, and how loading
// and searching them measure.
//
//   corvane_scale make --records N --out DIR [--urls M] [--seed S]
//     writes DIR/control-N.lst (N host records "hNNNNNNNNN.example.com", in
//     categories 1 to 27 in turn), DIR/domains-N (the same hosts, one a line,
//     for squidGuard's domainlist) and DIR/urls-N (M url_rewrite lines, half
//     a listed host with a random path, half an unlisted one).
//   corvane_scale load --list FILE [--rounds R]
//     loads FILE R times mapped and R times read into an array, and prints
//     the median and best load time of each, the record and index memory.
//   corvane_scale lookup --list FILE --urls FILE [--rounds R] [--read]
//     categorises the URL stream R times on the mapped list (with --read:
//     on the list read into an array) and prints the rate (URLs per CPU
//     second of this thread).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "base/args.h"
#include "corvane.h"
#include "env.h"
#include "list_index.h"
#include "list_writer.h"
#include "md4/md4.h"
#include "service_env.h"

namespace {

constexpr const char* kUsage =
    "usage: corvane_scale make --records N --out DIR [--urls M] [--seed S]\n"
    "       corvane_scale load --list FILE [--rounds R]\n"
    "       corvane_scale lookup --list FILE --urls FILE [--rounds R] [--read]\n"
    "Synthetic lists of millions of records, and their load and lookup times\n"
    "(bench/README.md, \"Lists of ten million\").\n";

// The default environment, except that files are never mapped, so that a
// load reads the list into an array as before mapping existed.
class ReadingEnv : public platform::EnvWrapper {
 public:
  ReadingEnv() : EnvWrapper(platform::Env::Default()) {}
  bool MapFileReadOnly(const char*, std::size_t, platform::FileMapping*) override { return false; }
};

std::string HostName(long long i, const char* prefix) {
  char host[64];
  std::snprintf(host, sizeof host, "%s%09lld.example.com", prefix, i);
  return host;
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

int Make(long long records, long long urls, unsigned seed, const std::string& out) {
  std::vector<QxListRecord> list(static_cast<std::size_t>(records));
  std::ofstream domains(out + "/domains-" + std::to_string(records));
  for (long long i = 0; i < records; ++i) {
    QxListRecord& record = list[static_cast<std::size_t>(i)];
    record = QxListRecord{};
    record.categories = 4u << (i % 27);
    const std::string host = HostName(i, "h");
    const std::string key = Upper(host);
    corvane::Md4Digest(key.data(), key.size(), record.digest);
    domains << host << '\n';
    if (i % 1000000 == 999999) std::fprintf(stderr, "corvane_scale: %lld records made\n", i + 1);
  }
  std::string error;
  const std::string path = out + "/control-" + std::to_string(records) + ".lst";
  if (!corvane_tool::WriteListFile(path, &list, &error)) {
    std::fprintf(stderr, "corvane_scale: %s\n", error.c_str());
    return 1;
  }
  std::mt19937_64 random(seed);
  std::ofstream stream(out + "/urls-" + std::to_string(records));
  const char* const paths[] = {"/", "/index.html", "/a/b/c", "/news/today?id=7", "/x/y"};
  for (long long i = 0; i < urls; ++i) {
    const long long n = static_cast<long long>(random() % static_cast<unsigned long long>(records));
    const bool listed = i % 2 == 0;
    stream << "http://" << (listed ? "" : "www.") << HostName(n, listed ? "h" : "m")
           << paths[random() % 5] << " 10.0.0." << (1 + i % 250) << "/- - GET\n";
  }
  std::printf("corvane_scale: wrote %s (%lld records), its domains and %lld URLs\n", path.c_str(),
              records, urls);
  return 0;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

int Load(const std::string& list, int rounds) {
  ReadingEnv reading;
  for (bool mapped : {true, false}) {
    std::vector<double> times;
    std::int32_t count = 0;
    for (int r = 0; r < rounds; ++r) {
      QxService* service = corvane::NewServiceWithEnv(mapped ? nullptr : &reading);
      const auto start = std::chrono::steady_clock::now();
      const int rc = QX_LoadControlList(service, nullptr, list.c_str());
      const auto end = std::chrono::steady_clock::now();
      if (rc != QX_OK) {
        std::fprintf(stderr, "corvane_scale: load of %s failed: %d\n", list.c_str(), rc);
        return 1;
      }
      count = service->controlCount;
      times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
      QX_FreeService(service);
    }
    std::printf("%s load: %d records (%.1f MB), index %.1f MB; median %.1f ms, best %.1f ms\n",
                mapped ? "mapped" : "read  ", count, count * 24.0 / 1e6,
                corvane::ListIndexBytes(count) / 1e6, Median(times),
                *std::min_element(times.begin(), times.end()));
  }
  return 0;
}

int Lookup(const std::string& list, const std::string& urls, int rounds, bool read) {
  std::vector<std::string> stream;
  std::ifstream in(urls);
  for (std::string line; std::getline(in, line);) stream.push_back(line.substr(0, line.find(' ')));
  if (stream.empty()) {
    std::fprintf(stderr, "corvane_scale: no URLs in %s\n", urls.c_str());
    return 1;
  }
  ReadingEnv reading;
  QxService* service = corvane::NewServiceWithEnv(read ? &reading : nullptr);
  QxTypes* result = QX_AllocateTypes();
  if (QX_LoadControlList(service, nullptr, list.c_str()) != QX_OK) {
    std::fprintf(stderr, "corvane_scale: cannot load %s\n", list.c_str());
    return 1;
  }
  QX_SetParentDomainOption(service, 1);
  char key[QX_KEY_TEXT_SIZE];
  long long found = 0;
  std::vector<double> rates;
  for (int r = 0; r < rounds; ++r) {
    const double start = CpuSeconds();
    for (const std::string& url : stream) {
      found += QX_CategorizeUrl(service, url.c_str(), result, key, QX_KEY_TEXT_SIZE - 1) ==
               QX_CATEGORIZED;
    }
    rates.push_back(static_cast<double>(stream.size()) / (CpuSeconds() - start));
  }
  std::printf("lookup (%s): %d records, %zu URLs x %d rounds, %lld found (%.0f%%); median %.2f M URLs per "
              "CPU second, best %.2f M\n",
              read ? "read" : "mapped", service->controlCount, stream.size(), rounds, found,
              100.0 * static_cast<double>(found) / (static_cast<double>(stream.size()) * rounds),
              Median(rates) / 1e6, *std::max_element(rates.begin(), rates.end()) / 1e6);
  QX_FreeTypes(result);
  QX_FreeService(service);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  base::ArgCursor args(argc, argv);
  if (!args.Next() || args.Is("--help") || args.Is("-h")) {
    std::fputs(kUsage, args.Arg().empty() ? stderr : stdout);
    return args.Arg().empty() ? 2 : 0;
  }
  const std::string command = args.Arg();
  std::string out, list, urls, error, value;
  long long records = 0, urlCount = 1000000;
  unsigned seed = 20261211;
  int rounds = 5;
  bool read = false;
  while (args.Next()) {
    if (args.Is("--read") && command == "lookup") {
      read = true;
      continue;
    }
    std::string* text = nullptr;
    if (args.Is("--out")) text = &out;
    if (args.Is("--list")) text = &list;
    if (args.Is("--urls") && command != "make") text = &urls;
    if (text != nullptr) {
      if (!args.TakeValue(text, &error)) break;
      continue;
    }
    if (args.Is("--records") || args.Is("--urls") || args.Is("--seed") || args.Is("--rounds")) {
      const std::string name = args.Arg();
      if (!args.TakeValue(&value, &error, "a number")) break;
      char* end = nullptr;
      const long long number = std::strtoll(value.c_str(), &end, 10);
      if (*end != '\0' || number <= 0 || number > 2000000000) {
        error = name + " needs a number from 1 to 2000000000, not \"" + value + "\"";
        break;
      }
      if (name == "--records") records = number;
      if (name == "--urls") urlCount = number;
      if (name == "--seed") seed = static_cast<unsigned>(number);
      if (name == "--rounds") rounds = static_cast<int>(number);
      continue;
    }
    error = "unknown argument \"" + args.Arg() + "\"";
    break;
  }
  if (error.empty() && command == "make" && (records == 0 || out.empty())) {
    error = "make needs --records and --out";
  }
  if (error.empty() && command != "make" && list.empty()) error = command + " needs --list";
  if (error.empty() && command == "lookup" && urls.empty()) error = "lookup needs --urls";
  if (error.empty() && command != "make" && command != "load" && command != "lookup") {
    error = "unknown command \"" + command + "\"";
  }
  if (!error.empty()) {
    std::fprintf(stderr, "corvane_scale: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  if (command == "make") return Make(records, urlCount, seed, out);
  if (command == "load") return Load(list, rounds);
  return Lookup(list, urls, rounds, read);
}
