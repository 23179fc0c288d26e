// platform_internal.h -- what the OS-specific files supply to the common
// ones inside the platform layer. Not for use outside platform/.
#ifndef PELLUMIN_PLATFORM_PLATFORM_INTERNAL_H_
#define PELLUMIN_PLATFORM_PLATFORM_INTERNAL_H_

#include <string>

#include "platform.h"

namespace platform {
namespace internal {

// The real resolver and clock, which the test hooks stand in for.
ResolveStatus OsResolveHostName(const char* name, HostAddressList* out);
WeekdayHour OsLocalWeekdayHour();

// The calling thread's registry error text (LastRegistryError).
void SetRegistryError(std::string text);
void ClearRegistryError();

}  // namespace internal
}  // namespace platform

#endif  // PELLUMIN_PLATFORM_PLATFORM_INTERNAL_H_
