// resolve.h -- host name resolution as categorisation and the site list
// update both need it: the same attempts, the same failures.
#ifndef PELLUMIN_ENGINE_RESOLVE_H_
#define PELLUMIN_ENGINE_RESOLVE_H_

#include "corvane.h"
#include "platform.h"

namespace corvane {

// Resolves host with up to service->resolveTries attempts. A temporary
// failure ("try again") leads to the next attempt; any other failure ends
// the loop at once. Returns QX_OK with the addresses (possibly none) in
// *addresses, or QX_ERR_RESOLVE when no attempt succeeded (also when
// resolveTries is 0 or less). The caller decides whether resolution applies.
int ResolveForLookup(const QxService* service, const char* host,
                     platform::HostAddressList* addresses);

}  // namespace corvane

#endif  // PELLUMIN_ENGINE_RESOLVE_H_
