// The parts of the layer that both OSes share: the argument checks in front
// of the resolver and the clock, and the registry's error text.
#include <string>
#include <utility>

#include "platform.h"
#include "platform_internal.h"

namespace platform {
namespace {

thread_local std::string t_registryError;

}  // namespace

ResolveStatus ResolveHostName(const char* name, HostAddressList* out) {
  if (out == nullptr) return ResolveStatus::kFailed;
  out->count = 0;
  if (name == nullptr) return ResolveStatus::kFailed;
  return internal::OsResolveHostName(name, out);
}

WeekdayHour CurrentLocalWeekdayHour() { return internal::OsLocalWeekdayHour(); }

namespace internal {

void SetRegistryError(std::string text) { t_registryError = std::move(text); }
void ClearRegistryError() { t_registryError.clear(); }
const char* RegistryErrorText() { return t_registryError.c_str(); }

RegStatus Fail(RegStatus status, std::string text) {
  SetRegistryError(std::move(text));
  return status;
}

}  // namespace internal
}  // namespace platform
