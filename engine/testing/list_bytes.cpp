// list_bytes.cpp -- the part of the list builder that needs nothing of the
// engine but its digest: category words, records for key texts, the bytes of
// a list file, and the temporary folder. Test programs that link the shared
// engine use this part alone (corvane_testing_base); the rest, which parses
// URLs and sorts with the engine's own code, is list_builder.cpp.
#include "testing/list_builder.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>

#include "base/ascii.h"
#include "base/endian.h"
#include "md4/md4.h"

namespace corvane {
namespace testkit {

std::uint32_t Categories(std::initializer_list<int> numbers) {
  std::uint32_t word = 0;
  for (int n : numbers) word |= QX_CATEGORY_BIT(n);
  return word;
}

QxListRecord DigestRecord(const std::uint8_t (&digest)[16], std::uint32_t categories,
                          std::uint8_t kind, std::uint8_t markFlags) {
  QxListRecord record;
  std::memset(&record, 0, sizeof(record));
  record.kind = kind;
  record.markFlags = markFlags;
  record.categories = categories;
  std::memcpy(record.digest, digest, sizeof(record.digest));
  return record;
}

QxListRecord RawKeyRecord(const std::string& key, std::uint32_t categories, std::uint8_t kind,
                          std::uint8_t markFlags) {
  std::uint8_t digest[16];
  Md4Digest(key.data(), key.size(), digest);
  return DigestRecord(digest, categories, kind, markFlags);
}

QxListRecord KeyRecord(const std::string& key, std::uint32_t categories, std::uint8_t kind,
                       std::uint8_t markFlags) {
  return RawKeyRecord(base::ToAsciiUpper(key), categories, kind, markFlags);
}

std::string ListFileBytes(const std::vector<QxListRecord>& records) {
  char count[4];
  base::StoreLe32(count, static_cast<std::uint32_t>(records.size()));
  std::string bytes(count, sizeof count);
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

}  // namespace testkit
}  // namespace corvane
