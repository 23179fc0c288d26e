// squid_access_log.h -- one request as a line of Squid's native access.log,
// so that the report tools made for Squid's logs read hxhost's.
#ifndef PELLUMIN_HOST_SQUID_ACCESS_LOG_H_
#define PELLUMIN_HOST_SQUID_ACCESS_LOG_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace hxhost {

struct AccessLogEntry {
  long long startMs = 0;    // when the request head was read, ms since 1970
  long long elapsedMs = 0;
  std::string client;       // the client's address, without its port
  std::string result;       // TCP_MISS, TCP_DENIED, TCP_TUNNEL; empty: NONE
  int status = 0;           // the status sent to the client; 0: none
  uint64_t bytes = 0;       // sent to the client, head and body
  std::string method;
  std::string url;
  std::string hierarchy;    // HIER_DIRECT/HOST; empty: HIER_NONE/-
  std::string contentType;  // empty: "-"
};

// "time.ms elapsed client result/status bytes method URL - hierarchy type",
// without a newline. Fields never hold blanks or control characters (they
// are percent-encoded), so that each line splits into the same ten fields.
std::string FormatSquidAccessLine(const AccessLogEntry& entry);

// The address of "ADDR:PORT" or "[ADDR]:PORT".
std::string AddressWithoutPort(std::string_view peer);

// The status of an HTTP response head at the start of data, or 0.
int ResponseStatusAtStart(std::string_view data);

}  // namespace hxhost

#endif  // PELLUMIN_HOST_SQUID_ACCESS_LOG_H_
