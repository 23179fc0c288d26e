#include "list_key.h"

#include <cstring>

#include "base/ascii.h"
#include "corvane.h"
#include "url_key.h"

namespace corvane_tool {

bool LooksLikeUrl(const std::string& text) {
  if (text.find("://") != std::string::npos) return true;
  return base::StartsWithAsciiNoCase(text, "news:");
}

bool MakeListKey(const std::string& entry, KeyForm form, ListKey* key, std::string* error) {
  if (entry.empty()) {
    *error = "empty key";
    return false;
  }
  if (entry.find_first_of(" \t\r\n") != std::string::npos) {
    *error = "the key \"" + entry + "\" holds white space";
    return false;
  }
  std::string urlText = LooksLikeUrl(entry) ? entry : "http://" + entry;
  QxUrl url;
  std::memset(&url, 0, sizeof url);
  if (qxprsurl(&url, urlText.c_str()) != 1) {
    *error = "\"" + entry + "\" is not a URL";
    return false;
  }
  if (url.host[0] == '\0') {
    *error = "\"" + entry + "\" has no host";
    return false;
  }
  char keyText[QX_KEY_TEXT_SIZE];
  switch (form) {
    case KeyForm::kPath:
      key->length = corvane::BuildPathKey(&url, url.segmentCount, false, keyText);
      break;
    case KeyForm::kPersonal:
      if ((url.flags & QX_URL_PERSONAL) == 0) {
        *error = "\"" + entry + "\" has no personal-page segment (one that begins with \"~\")";
        return false;
      }
      key->length = corvane::BuildPathKey(&url, QX_MAX_SEGMENTS, true, keyText);
      break;
    case KeyForm::kDomain:
      if (url.segmentCount > 0) {
        *error = "a domain entry takes a host name, not a path: \"" + entry + "\"";
        return false;
      }
      if (!corvane::BuildDomainKey(&url, keyText)) {
        *error = std::string("the lookup derives no domain key from the host ") + url.host +
                 " (a name needs two dots when its last label has three characters, three "
                 "otherwise); list the host itself instead";
        return false;
      }
      key->length = std::strlen(keyText);
      break;
  }
  key->text = keyText;
  std::memcpy(key->digest, url.digest, sizeof key->digest);
  key->queryDropped = (url.flags & QX_URL_QUERY) != 0;
  return true;
}

std::string DigestHex(const std::uint8_t digest[16]) {
  static const char kHex[] = "0123456789abcdef";
  std::string out(32, '0');
  for (int i = 0; i < 16; ++i) {
    out[2 * i] = kHex[digest[i] >> 4];
    out[2 * i + 1] = kHex[digest[i] & 0xF];
  }
  return out;
}

}  // namespace corvane_tool
