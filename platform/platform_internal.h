// platform_internal.h -- what the OS-specific files supply to the common
// ones inside the platform layer. Not for use outside platform/.
#ifndef PELLUMIN_PLATFORM_PLATFORM_INTERNAL_H_
#define PELLUMIN_PLATFORM_PLATFORM_INTERNAL_H_

#include <memory>
#include <string>

#include "env.h"
#include "platform.h"

namespace platform {
namespace internal {

// The real resolver and clock, behind the argument checks of
// ResolveHostName and CurrentLocalWeekdayHour.
ResolveStatus OsResolveHostName(const char* name, HostAddressList* out);
WeekdayHour OsLocalWeekdayHour();

// The calling thread's registry error text (LastRegistryError and every
// Registry's LastError): one text per thread, for whichever root it used
// last.
void SetRegistryError(std::string text);
void ClearRegistryError();
const char* RegistryErrorText();
// Sets the calling thread's error text and returns status.
RegStatus Fail(RegStatus status, std::string text);

// The registry root of the default environment: HKEY_LOCAL_MACHINE on
// Windows, on POSIX the REGEDIT4 file DefaultRegistryFile names at each
// open.
std::unique_ptr<Registry> NewDefaultRegistry();

#if !defined(_WIN32)
// TARNWICK_HKLM, else $XDG_CONFIG_HOME/tarnwick/hklm.reg, else
// ~/.config/tarnwick/hklm.reg; *named tells whether TARNWICK_HKLM gave it.
// False when there is no variable and no home folder.
bool DefaultRegistryFile(std::string* file, bool* named);
#endif

}  // namespace internal
}  // namespace platform

#endif  // PELLUMIN_PLATFORM_PLATFORM_INTERNAL_H_
