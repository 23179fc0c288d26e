// categorize.cpp -- categorising one URL: parse it, resolve its host when
// the service asks for it, and look it up in the site list, then in the
// control list.
#include <cstddef>
#include <cstring>

#include "corvane.h"
#include "handles.h"
#include "key_plan.h"
#include "list_index.h"
#include "platform.h"
#include "resolve.h"
#include "service_state.h"
#include "url_parser.h"

namespace corvane {

int ResolveForLookup(const QxService* service, const char* host,
                     platform::HostAddressList* addresses) {
  for (int attempt = 0; attempt < service->resolveTries; ++attempt) {
    addresses->count = 0;
    // The environment's answer is checked: a count the list cannot hold is
    // cut back, so that no caller walks past its end.
    switch (StateOf(service)->env->ResolveHostName(host, addresses)) {
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

constexpr int kSiteList = 0;
constexpr int kControlList = 1;

struct LookupOutcome {
  int list = -1;                       // kSiteList or kControlList; -1: not found
  const QxListRecord* record = nullptr;
};

// The caller's buffer for the key that matched: limit + 1 bytes.
struct KeyTextOutput {
  char* buffer;  // null: not wanted
  int limit;     // below 0: no room at all, nothing is written
  bool truncated = false;
};

// The key text, cut to 1023 characters, goes straight from the plan into
// the caller's buffer: exactly limit characters and no terminator when it
// is longer than limit.
void Found(const KeyPlan& plan, int key, int list, const QxListRecord* record,
           KeyTextOutput* output, LookupOutcome* outcome) {
  outcome->list = list;
  outcome->record = record;
  if (output->buffer == nullptr) return;
  if (output->limit < 0) {
    output->truncated = true;
    return;
  }
  const std::size_t length = HandedBackKeyLength(plan.keys[key]);
  const char* text = KeyText(plan, plan.keys[key]);
  const std::size_t room = static_cast<std::size_t>(output->limit);
  if (length > room) {
    std::memcpy(output->buffer, text, room);
    output->truncated = true;
    return;
  }
  std::memcpy(output->buffer, text, length);
  output->buffer[length] = '\0';
}

// Looks the URL up by its host as written: each step's keys in the site
// list and then in the control list, the first found deciding. The
// parent-domain steps run only when the service asks for them and the keys
// every lookup tries found nothing.
void SearchByName(const ServiceState* state, const QxUrl* url, const UrlLengths& lengths,
                  const ListView lists[2], KeyTextOutput* output, LookupOutcome* outcome) {
  KeyPlan plan;
  StartKeyPlan(url, &plan, &lengths);
  int list = -1;
  const QxListRecord* record = nullptr;
  int from = plan.count;
  PlanPartKeys(url, &plan);
  int key = SearchPlannedKeys(plan, from, plan.count, lists, 2, &list, &record);
  if (key < 0 && state->parentDomains) {
    from = plan.count;
    if (PlanParentDomainKeys(&plan) > 0) {
      key = SearchPlannedKeys(plan, from, plan.count, lists, 2, &list, &record);
    }
    if (key < 0) {
      from = plan.count;
      if (PlanStrippedHostKeys(&plan) > 0) {
        key = SearchPlannedKeys(plan, from, plan.count, lists, 2, &list, &record);
      }
    }
  }
  if (key >= 0) Found(plan, key, list, record, output, outcome);
}

// Looks the URL up by its resolved addresses: the site list by each address
// in turn, then the control list by each address again. The URL's host is
// replaced by the address's dotted text; its flags keep describing the URL
// as written.
void SearchByAddresses(QxUrl* url, const ListView lists[2],
                       const platform::HostAddressList& addresses, KeyTextOutput* output,
                       LookupOutcome* outcome) {
  for (int l = kSiteList; l <= kControlList; ++l) {
    if (lists[l].count <= 0) continue;
    for (int i = 0; i < addresses.count; ++i) {
      const char* dotted = addresses.dotted[i];
      const void* end = std::memchr(dotted, '\0', sizeof(addresses.dotted[i]));
      const std::size_t length =
          end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - dotted)
                         : sizeof(addresses.dotted[i]);
      std::memcpy(url->host, dotted, length);
      url->host[length] = '\0';
      KeyPlan plan;
      StartKeyPlan(url, &plan);
      PlanPartKeys(url, &plan);
      int list = -1;
      const QxListRecord* record = nullptr;
      const int key = SearchPlannedKeys(plan, 0, plan.count, &lists[l], 1, &list, &record);
      if (key >= 0) {
        Found(plan, key, l, record, output, outcome);
        return;
      }
    }
  }
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

  // The parser writes the host and every segment it counts, each
  // terminated, and the lookup reads no further; only the fields before
  // the host need their zeros. (Zeroing all 2.9 KB cost more than parsing.)
  QxUrl parsed;
  std::memset(&parsed, 0, offsetof(QxUrl, host));
  parsed.host[0] = '\0';
  UrlLengths lengths;
  if (ParseUrl(&parsed, url, &lengths) != 1) return QX_ERR_BAD_URL;

  if ((parsed.flags & QX_URL_PERSONAL) != 0) result->controls |= 0x8;
  if ((parsed.flags & QX_URL_NUMERIC) != 0) result->controls |= 0x4;
  if ((parsed.flags & QX_URL_QUERY) != 0) result->controls |= QX_CONTROL_QUERY;

  const ServiceState* state = StateOf(service);
  const ListView lists[2] = {
      ViewOf(service->siteRecords, service->siteCount, &state->siteIndex),
      ViewOf(service->controlRecords, service->controlCount, &state->controlIndex)};
  KeyTextOutput output{buffer, limit};
  LookupOutcome outcome;
  if ((service->options & QX_OPTION_RESOLVE_HOSTS) != 0 &&
      (parsed.flags & QX_URL_NUMERIC) == 0) {
    platform::HostAddressList addresses;
    if (ResolveForLookup(service, parsed.host, &addresses) != QX_OK) return QX_ERR_RESOLVE;
    SearchByAddresses(&parsed, lists, addresses, &output, &outcome);
  } else {
    SearchByName(state, &parsed, lengths, lists, &output, &outcome);
  }

  if (outcome.list == kSiteList) {
    if ((outcome.record->markFlags & 1u) != 0) result->controls |= 0x1;  // approved
    result->controls |= 0x100;                                           // found in the site list
    result->categories = outcome.record->categories;
  } else if (outcome.list == kControlList) {
    result->categories = outcome.record->categories;
  } else {
    return QX_UNCATEGORIZED;
  }

  return output.truncated ? QX_CATEGORIZED_TRUNCATED : QX_CATEGORIZED;
}
