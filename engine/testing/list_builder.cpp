// list_builder.cpp -- the part of the list builder that uses the engine's
// own code: records for URLs (its parser and key rules) and list files in
// its list order. The rest is list_bytes.cpp.
#include "testing/list_builder.h"

#include <cstring>
#include <stdexcept>

#include "list_file.h"
#include "url_key.h"

namespace corvane {
namespace testkit {

namespace {

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
  return DigestRecord(parsed.digest, categories, kind, markFlags);
}

QxListRecord DomainRecord(const std::string& url, std::uint32_t categories, std::uint8_t kind,
                          std::uint8_t markFlags) {
  QxUrl parsed;
  Parse(url, &parsed);
  if (!BuildDomainKey(&parsed, nullptr)) {
    throw std::invalid_argument("the host of " + url + " has no domain key");
  }
  return DigestRecord(parsed.digest, categories, kind, markFlags);
}

std::string TempDir::WriteList(const std::string& name, std::vector<QxListRecord> records) const {
  SortListRecords(records.data(), static_cast<std::int32_t>(records.size()));
  return Write(name, ListFileBytes(records));
}

}  // namespace testkit
}  // namespace corvane
