// service.cpp -- the service record: creation, release, the resolution
// option, and the handle checks every operation makes.
#include <cstdlib>
#include <cstring>
#include <cstddef>
#include <new>

#include "corvane.h"
#include "handles.h"
#include "list_file.h"
#include "policy.h"
#include "service_env.h"
#include "service_state.h"

static_assert(offsetof(QxService, magic) == 0, "the magic opens the service record");
static_assert(offsetof(QxTypes, magic) == 0, "the magic opens the set record");
static_assert(sizeof(QxTypes) == 12, "a set is a magic and two 32-bit words");

namespace corvane {

int ValidateService(const QxService* service) {
  if (service == nullptr) return QX_ERR_NULL_HANDLE;
  if (std::memcmp(service->magic, kServiceMagic, sizeof(kServiceMagic)) != 0) {
    return QX_ERR_BAD_HANDLE;
  }
  return QX_OK;
}

int ValidateTypes(const QxTypes* set) {
  if (set == nullptr) return QX_ERR_NULL_HANDLE;
  if (std::memcmp(set->magic, kTypesMagic, sizeof(kTypesMagic)) != 0) return QX_ERR_BAD_HANDLE;
  return QX_OK;
}

namespace {

template <typename Entry>
void FreeEntries(Entry* entry) {
  while (entry != nullptr) {
    Entry* next = entry->next;
    std::free(entry);
    entry = next;
  }
}

// A restriction set is released as QX_FreeTypes would: only when it carries
// its magic, so that a damaged pointer is not handed to free.
void FreeOwnedTypes(QxTypes* set) {
  if (ValidateTypes(set) == QX_OK) std::free(set);
}

}  // namespace

QxService* NewServiceWithEnv(platform::Env* env) {
  void* memory = PolicyCalloc(1, sizeof(ServiceState));
  if (memory == nullptr) return nullptr;
  auto* state = new (memory) ServiceState();
  std::memcpy(state->service.magic, kServiceMagic, sizeof(state->service.magic));
  state->env = env != nullptr ? env : platform::Env::Default();
  return &state->service;
}

}  // namespace corvane

extern "C" {

QxService* QX_CALL QX_Init(void) { return corvane::NewServiceWithEnv(platform::Env::Default()); }

int QX_CALL QX_FreeService(QxService* service) {
  const int status = corvane::ValidateService(service);
  if (status != QX_OK) return status;
  corvane::ReleaseControlList(corvane::StateOf(service));
  std::free(service->siteRecords);
  corvane::FreeListIndex(&corvane::StateOf(service)->siteIndex);
  corvane::FreeOwnedTypes(service->regularRestrictions);
  corvane::FreeOwnedTypes(service->nonBusinessRestrictions);
  corvane::FreeEntries(service->newsBackDoorList);
  corvane::FreeEntries(service->searchSiteList);
  corvane::FreeEntries(service->exemptedDomainList);
  corvane::FreeEntries(service->restrictedSearchWordList);
  corvane::FreeEntries(service->restrictedExtensionList);
  // Clear the magic so that a stale handle used by mistake is more likely
  // to be refused than to be read as a live service.
  std::memset(service->magic, 0, sizeof(service->magic));
  std::free(service);
  return QX_OK;
}

int QX_CALL QX_SetIPOption(QxService* service, int tries) {
  const int status = corvane::ValidateService(service);
  if (status != QX_OK) return status;
  service->options |= QX_OPTION_RESOLVE_HOSTS;
  service->resolveTries = tries;
  return QX_OK;
}

int QX_CALL QX_SetParentDomainOption(QxService* service, int on) {
  const int status = corvane::ValidateService(service);
  if (status != QX_OK) return status;
  corvane::StateOf(service)->parentDomains = on != 0;
  return QX_OK;
}

}  // extern "C"
