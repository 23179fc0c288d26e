// fuzz_regedit.cpp -- the REGEDIT4 reader on any text, and reader -> writer
// -> reader giving the same keys and values.
//
// Input: the whole input is the file. What parses is written back and must
// parse again to the same keys (paths, order) and values (names, types,
// bytes); writing that again gives the same text.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "regedit_format.h"

using platform::regedit::Document;

namespace {

void CheckSame(const Document& a, const Document& b) {
  FUZZ_CHECK(a.keys().size() == b.keys().size());
  for (size_t k = 0; k < a.keys().size(); ++k) {
    const auto& x = a.keys()[k];
    const auto& y = b.keys()[k];
    FUZZ_CHECK(x.path == y.path);
    FUZZ_CHECK(x.values.size() == y.values.size());
    for (size_t v = 0; v < x.values.size(); ++v) {
      FUZZ_CHECK(x.values[v].name == y.values[v].name);
      FUZZ_CHECK(x.values[v].type == y.values[v].type);
      FUZZ_CHECK(x.values[v].data == y.values[v].data);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Document doc;
  std::string error;
  if (!platform::regedit::Parse(text, &doc, &error)) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  const std::string written = platform::regedit::Write(doc);
  Document again;
  FUZZ_CHECK(platform::regedit::Parse(written, &again, &error));
  CheckSame(doc, again);
  FUZZ_CHECK(platform::regedit::Write(again) == written);
  // Every key found by its own path, whatever the case.
  for (const auto& key : doc.keys()) {
    std::string upper = key.path;
    for (char& c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    FUZZ_CHECK(again.FindKey(upper) != nullptr);
  }
  return 0;
}
