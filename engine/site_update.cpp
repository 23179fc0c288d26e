// site_update.cpp -- changes to the site list held in memory: one record per
// full path key, added or replaced, the array kept sorted and unique.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "corvane.h"
#include "handles.h"
#include "list_file.h"
#include "policy.h"
#include "resolve.h"
#include "service_state.h"
#include "url_key.h"

namespace corvane {

namespace {

// Request controls that choose the kind of the stored record.
constexpr std::uint32_t kApproveControl = QX_CONTROL_BIT(QX_CONTROL_APPROVED);
constexpr std::uint32_t kKind1Control = QX_CONTROL_BIT(QX_CONTROL_KIND_1);
constexpr std::uint32_t kKind3Control = QX_CONTROL_BIT(QX_CONTROL_KIND_3);
constexpr std::uint32_t kKind2Control = QX_CONTROL_BIT(QX_CONTROL_KIND_2);

AllocationFailureHook g_failureHook = nullptr;

bool AllocationShouldFail() { return g_failureHook != nullptr && g_failureHook(); }

int CompareDigest(const std::uint8_t* a, const std::uint8_t* b) {
  return std::memcmp(a, b, sizeof(QxListRecord::digest));
}

// The index of the record with this digest, or of the first record above it.
std::int32_t FindSitePosition(const QxListRecord* records, std::int32_t count,
                              const std::uint8_t* digest) {
  std::int32_t low = 0;
  std::int32_t high = count;
  while (low < high) {
    const std::int32_t middle = low + (high - low) / 2;
    if (CompareDigest(records[middle].digest, digest) < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low;
}

}  // namespace

void* PolicyCalloc(std::size_t count, std::size_t size) {
  return AllocationShouldFail() ? nullptr : std::calloc(count, size);
}

void* PolicyRealloc(void* block, std::size_t size) {
  return AllocationShouldFail() ? nullptr : std::realloc(block, size);
}

AllocationFailureHook SetAllocationFailureHookForTesting(AllocationFailureHook hook) {
  AllocationFailureHook previous = g_failureHook;
  g_failureHook = hook;
  return previous;
}

std::uint8_t SiteRecordKind(std::uint32_t requestControls) {
  // Tested in the order 10, 12, 11; each one found overrides the one before.
  std::uint8_t kind = 0;
  if (requestControls & kKind1Control) kind = 1;
  if (requestControls & kKind2Control) kind = 2;
  if (requestControls & kKind3Control) kind = 3;
  return kind;
}

std::int32_t StoreSiteRecord(const QxUrl* url, QxListRecord* records, std::int32_t count) {
  // The array is in list order, so the record for this digest, or the place
  // where it belongs, is found by binary search; inserting there keeps the
  // order without sorting the whole array again.
  const std::int32_t low = FindSitePosition(records, count, url->digest);
  QxListRecord* record = &records[low];
  std::int32_t newCount = count;
  if (low == count || CompareDigest(record->digest, url->digest) != 0) {
    std::memmove(record + 1, record, static_cast<std::size_t>(count - low) * sizeof(QxListRecord));
    std::memset(record, 0, sizeof(QxListRecord));
    newCount = count + 1;
  }
  // An existing record keeps its reserved bytes and the mark bits that carry
  // no meaning; every meaningful field is replaced.
  record->kind = url->kind;
  record->markFlags = static_cast<std::uint8_t>((record->markFlags & ~1u) | (url->markFlags & 1u));
  record->categories = url->categories;
  std::memcpy(record->digest, url->digest, sizeof(record->digest));
  return newCount;
}

int AddSiteRecord(QxService* service, QxUrl* url) {
  QxListRecord* records = service->siteRecords;
  const std::int32_t count = (records != nullptr && service->siteCount > 0) ? service->siteCount : 0;

  BuildPathKey(url, QX_MAX_SEGMENTS, false, nullptr);
  const std::int32_t position = FindSitePosition(records, count, url->digest);
  if (position < count && CompareDigest(records[position].digest, url->digest) == 0) {
    // The key is listed already: its record is replaced where it stands, and
    // no memory is needed.
    StoreSiteRecord(url, records, count);
    return QX_OK;
  }

  // Growing the array by one record in place of copying it into a fresh one
  // keeps an update cheap on a long list (the allocator can extend or remap
  // the block), and a failed realloc leaves the old array untouched, so the
  // list stays whole and usable when memory runs out.
  if (count == std::numeric_limits<std::int32_t>::max()) return QX_ERR_NO_MEMORY;
  // The index follows the insert; one that does not describe this array (a
  // caller installed the array by hand) is built afresh instead.
  ListIndex* index = &StateOf(service)->siteIndex;
  if (index->records != records || index->count != count) FreeListIndex(index);
  auto* grown = static_cast<QxListRecord*>(
      PolicyRealloc(records, (static_cast<std::size_t>(count) + 1) * sizeof(QxListRecord)));
  if (grown == nullptr) return QX_ERR_NO_MEMORY;
  service->siteRecords = grown;
  service->siteCount = StoreSiteRecord(url, grown, count);
  NoteInsertedRecord(index, grown, service->siteCount, position);
  return QX_OK;
}

}  // namespace corvane

extern "C" {

int QX_CALL QX_UpdateSiteList(QxService* service, const char* url, QxTypes* request) {
  QxUrl parsed;
  std::memset(&parsed, 0, sizeof(parsed));

  int status = corvane::ValidateService(service);
  if (status != QX_OK) return status;
  status = corvane::ValidateTypes(request);
  if (status != QX_OK) return status;
  if (url == nullptr) return QX_ERR_BAD_URL;

  parsed.categories = 0;
  parsed.kind = corvane::SiteRecordKind(request->controls);

  if (request->controls & corvane::kApproveControl) {
    // Approving takes the URL as it is categorised now; the request set shows
    // the caller that categorisation afterwards. Whether the URL was found
    // does not matter: an unknown URL is approved with no categories.
    QX_CategorizeUrl(service, url, request, nullptr, 0);
    parsed.markFlags |= 1u;
  }
  parsed.categories |= request->categories;

  if (qxprsurl(&parsed, url) == 0) return QX_ERR_BAD_URL;

  if ((service->options & QX_OPTION_RESOLVE_HOSTS) && !(parsed.flags & QX_URL_NUMERIC)) {
    platform::HostAddressList addresses;
    status = corvane::ResolveForLookup(service, parsed.host, &addresses);
    if (status != QX_OK) return status;
    // One record per address, as categorisation looks a resolved host up by
    // each of its addresses.
    for (int i = 0; i < addresses.count && i < platform::kMaxHostAddresses; ++i) {
      std::size_t length = 0;
      while (length + 1 < sizeof(addresses.dotted[i]) && addresses.dotted[i][length] != '\0') {
        ++length;
      }
      std::memcpy(parsed.host, addresses.dotted[i], length);
      parsed.host[length] = '\0';
      status = corvane::AddSiteRecord(service, &parsed);
      if (status != QX_OK) return status;
    }
    return QX_OK;
  }
  return corvane::AddSiteRecord(service, &parsed);
}

}  // extern "C"
