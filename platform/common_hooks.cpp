// The parts of the layer that both OSes share: the test hooks in front of
// the resolver and the clock, and the registry's error text.
#include <atomic>
#include <string>
#include <utility>

#include "platform.h"
#include "platform_internal.h"

namespace platform {
namespace {

std::atomic<ResolveHook> g_resolveHook{nullptr};
std::atomic<ClockHook> g_clockHook{nullptr};

thread_local std::string t_registryError;

}  // namespace

ResolveStatus ResolveHostName(const char* name, HostAddressList* out) {
  if (out == nullptr) return ResolveStatus::kFailed;
  out->count = 0;
  if (name == nullptr) return ResolveStatus::kFailed;
  if (ResolveHook hook = g_resolveHook.load(std::memory_order_acquire)) {
    ResolveStatus status = hook(name, out);
    // A test double must not hand the engine a count it cannot walk.
    if (out->count < 0) out->count = 0;
    if (out->count > kMaxHostAddresses) out->count = kMaxHostAddresses;
    return status;
  }
  return internal::OsResolveHostName(name, out);
}

WeekdayHour CurrentLocalWeekdayHour() {
  if (ClockHook hook = g_clockHook.load(std::memory_order_acquire)) return hook();
  return internal::OsLocalWeekdayHour();
}

ResolveHook SetResolveHookForTesting(ResolveHook hook) {
  return g_resolveHook.exchange(hook, std::memory_order_acq_rel);
}

ClockHook SetClockHookForTesting(ClockHook hook) {
  return g_clockHook.exchange(hook, std::memory_order_acq_rel);
}

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
