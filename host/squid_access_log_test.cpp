// Squid's native access.log line: fields, codes, and what must not split a
// line into more fields.
#include "squid_access_log.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

namespace hxhost {
namespace {

std::vector<std::string> Fields(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> fields;
  for (std::string field; in >> field;) fields.push_back(field);
  return fields;
}

TEST(SquidAccessLogTest, Lines) {
  struct Case {
    const char* name;
    AccessLogEntry entry;
    const char* line;
  };
  const Case cases[] = {
      {"forwarded",
       {1733918400123, 45, "192.0.2.7", "TCP_MISS", 200, 5120, "GET", "http://example.com/a",
        "HIER_DIRECT/example.com", "text/html"},
       "1733918400.123     45 192.0.2.7 TCP_MISS/200 5120 GET http://example.com/a - "
       "HIER_DIRECT/example.com text/html"},
      {"denied",
       {1733918400005, 0, "::1", "TCP_DENIED", 403, 312, "GET", "http://casino.example.com/",
        "", "text/html"},
       "1733918400.005      0 ::1 TCP_DENIED/403 312 GET http://casino.example.com/ - "
       "HIER_NONE/- text/html"},
      {"tunnel",
       {1733918401999, 1200000, "10.0.0.1", "TCP_TUNNEL", 200, 99, "CONNECT",
        "example.com:443", "HIER_DIRECT/example.com", ""},
       "1733918401.999 1200000 10.0.0.1 TCP_TUNNEL/200 99 CONNECT example.com:443 - "
       "HIER_DIRECT/example.com -"},
      {"refused before a status",
       {1733918400000, 3, "10.0.0.1", "", 0, 0, "GET", "/relative", "", ""},
       "1733918400.000      3 10.0.0.1 NONE/000 0 GET /relative - HIER_NONE/- -"},
      {"blanks and percent in fields",
       {1733918400000, 1, "10.0.0.1", "TCP_MISS", 200, 1, "GET", "http://e.com/a b%\t",
        "HIER_DIRECT/e.com", "text/html; charset=utf-8"},
       "1733918400.000      1 10.0.0.1 TCP_MISS/200 1 GET http://e.com/a%20b%25%09 - "
       "HIER_DIRECT/e.com text/html;%20charset=utf-8"},
  };
  for (const Case& c : cases) {
    const std::string line = FormatSquidAccessLine(c.entry);
    EXPECT_EQ(line, c.line) << c.name;
    EXPECT_EQ(Fields(line).size(), 10u) << c.name;
  }
}

TEST(SquidAccessLogTest, AddressWithoutPort) {
  const std::pair<const char*, const char*> cases[] = {
      {"127.0.0.1:38934", "127.0.0.1"}, {"[::1]:4000", "::1"},
      {"[2001:db8::1]:80", "2001:db8::1"}, {"::1", "::1"}, {"192.0.2.1", "192.0.2.1"},
  };
  for (const auto& c : cases) EXPECT_EQ(AddressWithoutPort(c.first), c.second) << c.first;
}

TEST(SquidAccessLogTest, ResponseStatusAtStart) {
  const std::pair<const char*, int> cases[] = {
      {"HTTP/1.1 200 OK\r\n", 200}, {"HTTP/1.0 403 Forbidden\r\n", 403},
      {"HTTP/1.1 100 Continue\r\n\r\n", 100}, {"HTTP/1.1 20", 0}, {"<html>HTTP/1.1 200", 0},
      {"HTTP/1.1 2x0 Odd\r\n", 0}, {"", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ResponseStatusAtStart(c.first), c.second) << c.first;
}

}  // namespace
}  // namespace hxhost
