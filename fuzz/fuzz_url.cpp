// fuzz_url.cpp -- the URL parser and categorisation on any bytes.
//
// Input: byte 0 chooses the key text limit; the rest is the URL text (cut at
// its first NUL, as a C caller's string would be). The parser's output must
// keep its bounds (host at most 255 characters and upper-case, at most 20
// segments of at most 127 characters, only the personal, numeric and query
// flags), and categorisation against a small list must write no more than
// its limit allows, with the parent-domain lookup off and on (on, it may
// only add answers where the usual keys find nothing).
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "corvane.h"
#include "fuzz_support.h"

namespace {

struct Fixture {
  QxService* service = QX_Init();
  QxTypes* result = QX_AllocateTypes();
  Fixture() {
    const std::string path = fuzz::TempPath("control.lst");
    fuzz::WriteFile(path, fuzz::ListBytes(fuzz::StandardEntries()));
    FUZZ_CHECK(service != nullptr && result != nullptr);
    FUZZ_CHECK(QX_LoadControlList(service, nullptr, path.c_str()) == QX_OK);
    // The site list holds one entry too, so that both lists are searched.
    const std::string site = fuzz::TempPath("site.lst");
    fuzz::WriteFile(site, fuzz::ListBytes({{"SITE.EXAMPLE", 4}}));
    FUZZ_CHECK(QX_LoadSiteList(service, site.c_str()) == QX_OK);
  }
};

void CheckParsed(const QxUrl& url) {
  const size_t host = strnlen(url.host, sizeof url.host);
  FUZZ_CHECK(host < sizeof url.host);  // at most 255 characters, terminated
  for (size_t i = 0; i < host; ++i) FUZZ_CHECK(!(url.host[i] >= 'a' && url.host[i] <= 'z'));
  FUZZ_CHECK(url.segmentCount >= 0 && url.segmentCount <= QX_MAX_SEGMENTS);
  for (int i = 0; i < QX_MAX_SEGMENTS; ++i) {
    const size_t length = strnlen(url.segments[i], sizeof url.segments[i]);
    FUZZ_CHECK(length < sizeof url.segments[i]);  // at most 127 characters
    if (i >= url.segmentCount) FUZZ_CHECK(length == 0);
  }
  FUZZ_CHECK((url.flags & ~(QX_URL_PERSONAL | QX_URL_NUMERIC | QX_URL_QUERY)) == 0);
  if (url.flags & QX_URL_PERSONAL) {
    FUZZ_CHECK(url.tildeIndex >= 0 && url.tildeIndex < url.segmentCount);
    FUZZ_CHECK(url.segments[url.tildeIndex][0] == '~');
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture fixture;
  fuzz::Reader in(data, size);
  const int limit = in.Byte() * 5;  // 0 to 1275: below, at and beyond 1023
  const std::string rest = in.Rest();
  const std::string text = rest.substr(0, rest.find('\0'));

  QxUrl url;
  std::memset(&url, 0, sizeof url);
  if (qxprsurl(&url, text.c_str()) == 1) CheckParsed(url);

  // With the parent-domain lookup off and then on; whatever the usual keys
  // find, the lookup must leave alone.
  int answerWithout = 0;
  uint32_t categoriesWithout = 0;
  for (int parents = 0; parents < 2; ++parents) {
    FUZZ_CHECK(QX_SetParentDomainOption(fixture.service, parents) == QX_OK);
    // Exactly limit + 1 bytes, so that a write past them is caught.
    std::vector<char> key(static_cast<size_t>(limit) + 1, '\x7f');
    const int rc =
        QX_CategorizeUrl(fixture.service, text.c_str(), fixture.result, key.data(), limit);
    FUZZ_CHECK(rc == QX_CATEGORIZED || rc == QX_CATEGORIZED_TRUNCATED || rc == QX_UNCATEGORIZED ||
               rc == QX_ERR_BAD_URL);
    if (rc == QX_CATEGORIZED) FUZZ_CHECK(std::memchr(key.data(), '\0', key.size()) != nullptr);
    if (rc == QX_CATEGORIZED || rc == QX_CATEGORIZED_TRUNCATED) {
      FUZZ_CHECK((fixture.result->categories & ~QX_ALL_CATEGORIES) == 0);
      FUZZ_CHECK(fixture.result->categories != 0);
    }
    if (parents == 0) {
      answerWithout = rc;
      categoriesWithout = fixture.result->categories;
    } else if (answerWithout != QX_UNCATEGORIZED) {
      FUZZ_CHECK(rc == answerWithout && fixture.result->categories == categoriesWithout);
    }
    // Without a buffer the answer is the same.
    FUZZ_CHECK(QX_CategorizeUrl(fixture.service, text.c_str(), fixture.result, nullptr, 0) ==
               (rc == QX_CATEGORIZED_TRUNCATED ? QX_CATEGORIZED : rc));
  }
  return 0;
}
