// entry_points.cpp -- HXInit, HXProcURL and HXUnInit: the one Filter of the
// process, over the operating system's environment. This is the only place
// with process-wide state; everything else is the Filter's (filter.h).
#include <cstddef>

#include "entry_points.h"
#include "env.h"
#include "filter.h"
#include "tarnwick.h"

static_assert(offsetof(HostConnection, clientSocket) == 1800, "clientSocket lives at 0x708");
static_assert(offsetof(HostConnection, clientAddress) == 1828, "clientAddress lives at 0x724");
static_assert(offsetof(HostConnection, bytesSent) == 2396, "bytesSent lives at 0x95C");
static_assert(sizeof(HostConnection::clientSocket) == 4 && sizeof(HostConnection::bytesSent) == 4,
              "the host's socket and byte count are 32-bit");

namespace {

// Made at the first call and never destroyed, so that it outlives every
// static a host's last call may still run beside.
tarnwick::Filter& ProcessFilter() {
  static tarnwick::Filter* const filter = new tarnwick::Filter(platform::Env::Default());
  return *filter;
}

}  // namespace

extern "C" int HX_CALL HXInit(char* message) { return ProcessFilter().Init(message); }

extern "C" int HX_CALL HXProcURL(HostConnection* connection, char* url) {
  return ProcessFilter().ProcessUrl(connection, url);
}

extern "C" int HX_CALL HXUnInit(int /*unused*/) { return ProcessFilter().UnInit(); }
