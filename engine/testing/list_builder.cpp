#include "testing/list_builder.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>

#include "list_file.h"
#include "md4/md4.h"
#include "url_key.h"

namespace corvane {
namespace testing {

std::uint32_t Categories(std::initializer_list<int> numbers) {
  std::uint32_t word = 0;
  for (int n : numbers) word |= 4u << (n - 1);
  return word;
}

QxListRecord RawKeyRecord(const std::string& key, std::uint32_t categories, std::uint8_t kind,
                          std::uint8_t markFlags) {
  QxListRecord record;
  std::memset(&record, 0, sizeof(record));
  record.kind = kind;
  record.markFlags = markFlags;
  record.categories = categories;
  Md4Digest(key.data(), key.size(), record.digest);
  return record;
}

QxListRecord KeyRecord(const std::string& key, std::uint32_t categories, std::uint8_t kind,
                       std::uint8_t markFlags) {
  std::string upper = key;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return RawKeyRecord(upper, categories, kind, markFlags);
}

namespace {

QxListRecord FromParsed(QxUrl& parsed, std::uint32_t categories, std::uint8_t kind,
                        std::uint8_t markFlags) {
  QxListRecord record;
  std::memset(&record, 0, sizeof(record));
  record.kind = kind;
  record.markFlags = markFlags;
  record.categories = categories;
  std::memcpy(record.digest, parsed.digest, sizeof(record.digest));
  return record;
}

void Parse(const std::string& url, QxUrl* parsed) {
  std::memset(parsed, 0, sizeof(*parsed));
  if (qxprsurl(parsed, url.c_str()) != 1) {
    throw std::invalid_argument("not a URL the parser accepts: " + url);
  }
}

}  // namespace

QxListRecord UrlRecord(const std::string& url, std::uint32_t categories, std::uint8_t kind,
                       std::uint8_t markFlags) {
  QxUrl parsed;
  Parse(url, &parsed);
  BuildPathKey(&parsed, QX_MAX_SEGMENTS, false, nullptr);
  return FromParsed(parsed, categories, kind, markFlags);
}

QxListRecord DomainRecord(const std::string& url, std::uint32_t categories, std::uint8_t kind,
                          std::uint8_t markFlags) {
  QxUrl parsed;
  Parse(url, &parsed);
  if (!BuildDomainKey(&parsed, nullptr)) {
    throw std::invalid_argument("the host of " + url + " has no domain key");
  }
  return FromParsed(parsed, categories, kind, markFlags);
}

std::string ListFileBytes(const std::vector<QxListRecord>& records) {
  const std::uint32_t count = static_cast<std::uint32_t>(records.size());
  std::string bytes;
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((count >> (8 * i)) & 0xFF));
  bytes.append(reinterpret_cast<const char*>(records.data()), records.size() * sizeof(QxListRecord));
  return bytes;
}

TempDir::TempDir() {
  static std::atomic<unsigned> serial{0};
  std::random_device random;
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = "corvane-test-" + std::to_string(random()) + "-" +
                             std::to_string(stamp % 1000000) + "-" + std::to_string(serial++);
    std::filesystem::path candidate = std::filesystem::temp_directory_path() / name;
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::File(const std::string& name) const { return (path_ / name).string(); }

std::string TempDir::Write(const std::string& name, const std::string& bytes) const {
  const std::string file = File(name);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + file);
  return file;
}

std::string TempDir::WriteList(const std::string& name, std::vector<QxListRecord> records) const {
  SortListRecords(records.data(), static_cast<std::int32_t>(records.size()));
  return Write(name, ListFileBytes(records));
}

}  // namespace testing
}  // namespace corvane
