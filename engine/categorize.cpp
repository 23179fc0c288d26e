// categorize.cpp -- categorising one URL: parse it, resolve its host when
// the service asks for it, and look it up in the site list, then in the
// control list.
#include <cstring>

#include "corvane.h"
#include "handles.h"
#include "platform.h"
#include "resolve.h"

namespace corvane {

int ResolveForLookup(const QxService* service, const char* host,
                     platform::HostAddressList* addresses) {
  for (int attempt = 0; attempt < service->resolveTries; ++attempt) {
    addresses->count = 0;
    switch (platform::ResolveHostName(host, addresses)) {
      case platform::ResolveStatus::kOk:
        if (addresses->count < 0) addresses->count = 0;
        if (addresses->count > platform::kMaxHostAddresses) {
          addresses->count = platform::kMaxHostAddresses;
        }
        return QX_OK;
      case platform::ResolveStatus::kTryAgain:
        continue;
      case platform::ResolveStatus::kFailed:
        return QX_ERR_RESOLVE;
    }
  }
  return QX_ERR_RESOLVE;
}

namespace {

// Looks url up in one list: by its own host, or by each resolved address in
// turn (the URL's host is replaced by the address's dotted text; its flags
// keep describing the URL as written).
bool SearchList(QxUrl* url, const QxListRecord* records, std::int32_t count,
                const platform::HostAddressList* addresses, char* keyText) {
  if (addresses == nullptr) return qxtsturl(url, records, count, keyText) == 1;
  for (int i = 0; i < addresses->count; ++i) {
    const char* dotted = addresses->dotted[i];
    const void* end = std::memchr(dotted, '\0', sizeof(addresses->dotted[i]));
    const std::size_t length = end != nullptr
                                   ? static_cast<std::size_t>(static_cast<const char*>(end) - dotted)
                                   : sizeof(addresses->dotted[i]);
    std::memcpy(url->host, dotted, length);
    url->host[length] = '\0';
    if (qxtsturl(url, records, count, keyText) == 1) return true;
  }
  return false;
}

}  // namespace
}  // namespace corvane

extern "C" int QX_CALL QX_CategorizeUrl(QxService* service, const char* url, QxTypes* result,
                                        char* buffer, int limit) {
  using namespace corvane;
  int status = ValidateService(service);
  if (status != QX_OK) return status;
  status = ValidateTypes(result);
  if (status != QX_OK) return status;

  result->controls = 0;
  result->categories = 0;
  if (url == nullptr) return QX_ERR_BAD_URL;

  QxUrl parsed;
  std::memset(&parsed, 0, sizeof(parsed));
  if (qxprsurl(&parsed, url) != 1) return QX_ERR_BAD_URL;

  if ((parsed.flags & QX_URL_PERSONAL) != 0) result->controls |= 0x8;
  if ((parsed.flags & QX_URL_NUMERIC) != 0) result->controls |= 0x4;
  if ((parsed.flags & QX_URL_QUERY) != 0) result->controls |= QX_CONTROL_QUERY;

  platform::HostAddressList addressStorage;
  const platform::HostAddressList* addresses = nullptr;
  if ((service->options & QX_OPTION_RESOLVE_HOSTS) != 0 &&
      (parsed.flags & QX_URL_NUMERIC) == 0) {
    if (ResolveForLookup(service, parsed.host, &addressStorage) != QX_OK) return QX_ERR_RESOLVE;
    addresses = &addressStorage;
  }

  char keyText[QX_KEY_TEXT_SIZE];
  if (SearchList(&parsed, service->siteRecords, service->siteCount, addresses, keyText)) {
    if ((parsed.markFlags & 1u) != 0) result->controls |= 0x1;  // approved
    result->controls |= 0x100;                                  // found in the site list
    result->categories = parsed.categories;
  } else if (SearchList(&parsed, service->controlRecords, service->controlCount, addresses,
                        keyText)) {
    result->categories = parsed.categories;
  } else {
    return QX_UNCATEGORIZED;
  }

  if (buffer == nullptr) return QX_CATEGORIZED;
  // A negative limit leaves no room at all: nothing is written.
  if (limit < 0) return QX_CATEGORIZED_TRUNCATED;
  const std::size_t length = std::strlen(keyText);
  if (length > static_cast<std::size_t>(limit)) {
    std::memcpy(buffer, keyText, static_cast<std::size_t>(limit));
    return QX_CATEGORIZED_TRUNCATED;
  }
  std::memcpy(buffer, keyText, length + 1);
  return QX_CATEGORIZED;
}
