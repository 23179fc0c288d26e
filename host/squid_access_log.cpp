// squid_access_log.cpp -- Squid's native access.log line.
#include "squid_access_log.h"

#include <cstdio>

namespace hxhost {

namespace {

// A field as one word: blanks, controls and '%' percent-encoded; empty as "-".
std::string Field(std::string_view text) {
  if (text.empty()) return "-";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7f || u == '%') {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", u);
      out += escaped;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace

std::string FormatSquidAccessLine(const AccessLogEntry& entry) {
  char head[96];
  std::snprintf(head, sizeof head, "%lld.%03lld %6lld ", entry.startMs / 1000,
                entry.startMs % 1000, entry.elapsedMs);
  char status[48];
  std::snprintf(status, sizeof status, "/%03d %llu ", entry.status,
                static_cast<unsigned long long>(entry.bytes));
  return std::string(head) + Field(entry.client) + ' ' +
         (entry.result.empty() ? std::string("NONE") : Field(entry.result)) + status +
         Field(entry.method) + ' ' + Field(entry.url) + " - " +
         (entry.hierarchy.empty() ? std::string("HIER_NONE/-") : Field(entry.hierarchy)) + ' ' +
         Field(entry.contentType);
}

std::string AddressWithoutPort(std::string_view peer) {
  if (!peer.empty() && peer.front() == '[') {
    const size_t close = peer.find(']');
    return std::string(close == std::string_view::npos ? peer.substr(1) : peer.substr(1, close - 1));
  }
  const size_t colon = peer.rfind(':');
  if (colon == std::string_view::npos || peer.find(':') != colon) return std::string(peer);
  return std::string(peer.substr(0, colon));
}

int ResponseStatusAtStart(std::string_view data) {
  // "HTTP/1.x NNN"
  if (data.size() < 12 || data.substr(0, 5) != "HTTP/" || data[8] != ' ') return 0;
  int status = 0;
  for (size_t i = 9; i < 12; ++i) {
    if (data[i] < '0' || data[i] > '9') return 0;
    status = status * 10 + (data[i] - '0');
  }
  return status;
}

}  // namespace hxhost
