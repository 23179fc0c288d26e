// url_check.cpp -- the complete policy decision for one URL: categorise it,
// pick the restriction set in force, and run the restriction steps in their
// fixed order; the first step that applies decides and leaves its reason.
#include <cstdint>
#include <cstring>

#include "corvane.h"
#include "handles.h"
#include "policy.h"

namespace corvane {

namespace {

// Controls as policy switches (on the restriction set), URL attributes (on
// the URL result set) and reasons (on the reason set).
constexpr std::uint32_t kApproved = QX_CONTROL_BIT(QX_CONTROL_APPROVED);  // approved / only
constexpr std::uint32_t kNumericAddress = QX_CONTROL_BIT(QX_CONTROL_NUMERIC_HOST);
constexpr std::uint32_t kPersonalPage = QX_CONTROL_BIT(QX_CONTROL_PERSONAL_PAGE);
constexpr std::uint32_t kNewsBackDoor = QX_CONTROL_BIT(QX_CONTROL_NEWS_BACK_DOOR);
constexpr std::uint32_t kNotApproved = QX_CONTROL_BIT(QX_CONTROL_NOT_APPROVED);
constexpr std::uint32_t kSearchWord = QX_CONTROL_BIT(QX_CONTROL_SEARCH_WORD);
constexpr std::uint32_t kFileExtension = QX_CONTROL_BIT(QX_CONTROL_FILE_EXTENSION);

bool NewsBackDoorApplies(const QxService* service, const QxUrl& url, const char* query,
                         int businessHours) {
  for (const PolicyEntry* entry = service->newsBackDoorList; entry != nullptr; entry = entry->next) {
    if (!EntryTakesPart(entry->mode, businessHours)) continue;
    if (MatchSitePattern(entry->name, url.host) && FindQueryParameter(query, entry->parameter)) {
      return true;
    }
  }
  return false;
}

bool ExtensionApplies(const QxService* service, const QxUrl& url, int businessHours) {
  const char* extension = SegmentExtension(url.segments[url.segmentCount - 1]);
  if (extension == nullptr) return false;
  for (const PolicyEntry* entry = service->restrictedExtensionList; entry != nullptr;
       entry = entry->next) {
    if (!EntryTakesPart(entry->mode, businessHours)) continue;
    // Both sides are upper-case already: the parser upper-cases segments and
    // entries are stored upper-cased.
    if (std::strcmp(entry->name, extension) == 0) return true;
  }
  return false;
}

bool SearchWordApplies(const QxService* service, const QxUrl& url, const char* query,
                       int businessHours, const QxTypes* restriction, QxTypes* reason) {
  for (const PolicyEntry* entry = service->searchSiteList; entry != nullptr; entry = entry->next) {
    if (!EntryTakesPart(entry->mode, businessHours)) continue;
    if (!MatchSitePattern(entry->name, url.host)) continue;
    const char* found = FindQueryParameter(query, entry->parameter);
    if (found == nullptr) continue;
    if (MatchSearchTerms(service, found + std::strlen(entry->parameter), restriction, reason)) {
      return true;
    }
  }
  return false;
}

int CheckUrl(QxService* service, const char* url, const char* query, QxTypes* restriction,
             QxTypes* urlResult, QxTypes* reason) {
  urlResult->controls = 0;
  urlResult->categories = 0;
  const int categorised =
      url != nullptr ? QX_CategorizeUrl(service, url, urlResult, nullptr, 0) : QX_ERR_BAD_URL;
  if (categorised == QX_ERR_RESOLVE) return QX_ERR_RESOLVE;

  // The period is taken once per check, also when the caller brings its own
  // set, because the list entries of mode "business hours" depend on it.
  const int businessHours = IsBusinessHours(service);
  const QxTypes* active = restriction;
  if (active == nullptr) {
    active = businessHours ? service->regularRestrictions : service->nonBusinessRestrictions;
  }
  if (active == nullptr) return QX_OK;
  // Read the set's words once: the caller may pass one record in two roles.
  const std::uint32_t deniedControls = active->controls;
  const std::uint32_t deniedCategories = active->categories;

  if ((deniedControls & kApproved) && !(urlResult->controls & kApproved)) {
    reason->controls |= kNotApproved;
    return QX_RESTRICTED;
  }

  if (categorised == QX_CATEGORIZED || categorised == QX_CATEGORIZED_TRUNCATED) {
    if (urlResult->controls & kApproved) return QX_UNRESTRICTED;
    const std::uint32_t denied = deniedCategories & urlResult->categories;
    reason->controls = 0;
    reason->categories = denied;
    if (denied != 0) return QX_RESTRICTED;
  }

  if ((deniedControls & kNumericAddress) && (urlResult->controls & kNumericAddress)) {
    reason->controls |= kNumericAddress;
    return QX_RESTRICTED;
  }
  if ((urlResult->controls & kPersonalPage) && (deniedControls & kPersonalPage)) {
    reason->controls |= kPersonalPage;
    return QX_RESTRICTED;
  }

  // The list steps work on the URL as written (categorisation may have put
  // a resolved address in place of the host).
  QxUrl parsed;
  std::memset(&parsed, 0, sizeof(parsed));
  if (url == nullptr || qxprsurl(&parsed, url) == 0) return QX_OK;
  if (query == nullptr) {
    const char* mark = std::strchr(url, '?');
    if (mark != nullptr) query = mark + 1;
  }

  if ((deniedControls & kNewsBackDoor) && service->newsBackDoorList != nullptr && query != nullptr &&
      NewsBackDoorApplies(service, parsed, query, businessHours)) {
    reason->controls |= kNewsBackDoor;
    return QX_RESTRICTED;
  }
  if ((deniedControls & kFileExtension) && service->restrictedExtensionList != nullptr &&
      parsed.segmentCount > 0 && ExtensionApplies(service, parsed, businessHours)) {
    reason->controls |= kFileExtension;
    return QX_RESTRICTED;
  }
  if ((deniedControls & kSearchWord) && service->searchSiteList != nullptr && query != nullptr) {
    const QxTypes denied = {QX_TYPES_MAGIC, deniedControls, deniedCategories};
    if (SearchWordApplies(service, parsed, query, businessHours, &denied, reason)) {
      reason->controls |= kSearchWord;
      return QX_RESTRICTED;
    }
  }
  return QX_UNRESTRICTED;
}

}  // namespace

}  // namespace corvane

extern "C" {

int QX_CALL QX_Env_UrlCheck(QxService* service, const char* url, const char* query,
                            QxTypes* restriction, QxTypes* urlResult, QxTypes* reason) {
  int status = corvane::ValidateService(service);
  if (status != QX_OK) return status;
  if (restriction != nullptr) {
    status = corvane::ValidateTypes(restriction);
    if (status != QX_OK) return status;
  }
  status = corvane::ValidateTypes(urlResult);
  if (status != QX_OK) return status;
  status = corvane::ValidateTypes(reason);
  if (status != QX_OK) return status;
  return corvane::CheckUrl(service, url, query, restriction, urlResult, reason);
}

}  // extern "C"
