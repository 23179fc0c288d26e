// list_builder.h -- building list files for tests: records from key texts or
// URLs (with the engine's own key rules and digest), sorted and written to
// a temporary folder that is removed afterwards.
//
// UrlRecord, DomainRecord and TempDir::WriteList use the engine's own code
// (corvane_testing, with the static engine); the rest needs only its digest
// (corvane_testing_base), for test programs that link the shared engine.
#ifndef PELLUMIN_ENGINE_TESTING_LIST_BUILDER_H_
#define PELLUMIN_ENGINE_TESTING_LIST_BUILDER_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "corvane.h"

namespace corvane {
namespace testkit {

// The category word of the given category numbers (1 to 27).
std::uint32_t Categories(std::initializer_list<int> numbers);

// A record with the given digest.
QxListRecord DigestRecord(const std::uint8_t (&digest)[16], std::uint32_t categories,
                          std::uint8_t kind = 0, std::uint8_t markFlags = 0);

// A record for the exact bytes of key (no case change).
QxListRecord RawKeyRecord(const std::string& key, std::uint32_t categories, std::uint8_t kind = 0,
                          std::uint8_t markFlags = 0);

// A record for key upper-cased, as the lookup digests keys.
QxListRecord KeyRecord(const std::string& key, std::uint32_t categories, std::uint8_t kind = 0,
                       std::uint8_t markFlags = 0);

// A record for the full path key of url (its host and every segment).
QxListRecord UrlRecord(const std::string& url, std::uint32_t categories, std::uint8_t kind = 0,
                       std::uint8_t markFlags = 0);

// A record for the domain key of url's host; fails the calling test (and
// returns a record of the bare host) when the host has none.
QxListRecord DomainRecord(const std::string& url, std::uint32_t categories,
                          std::uint8_t kind = 0, std::uint8_t markFlags = 0);

// The bytes of a list file: the count, then the records as given.
std::string ListFileBytes(const std::vector<QxListRecord>& records);

// A folder below the system's temporary folder, removed with everything in
// it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The path of name inside the folder, as text for the C interface.
  std::string File(const std::string& name) const;
  // Writes bytes to name and returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const;
  // Sorts records into list order and writes them as a list file.
  std::string WriteList(const std::string& name, std::vector<QxListRecord> records) const;

 private:
  std::filesystem::path path_;
};

}  // namespace testkit
}  // namespace corvane

#endif  // PELLUMIN_ENGINE_TESTING_LIST_BUILDER_H_
