// Address text, ranges and the clients they let in.
#include "address.h"

#include <gtest/gtest.h>

#include <string>

#include "client_access.h"

namespace hxhost {
namespace {

TEST(AddressTest, DottedDecimalIsTheOnlyIpv4Form) {
  const char* good[] = {"192.0.2.1", "0.0.0.0", "255.255.255.255", "10.0.0.10"};
  for (const char* text : good) {
    IpAddress a;
    EXPECT_TRUE(ParseDottedDecimal(text, &a)) << text;
    EXPECT_EQ(FormatAddress(a), text);
  }
  // Forms a resolver reads as other addresses, and plain mistakes.
  const char* bad[] = {"192.0.2.010", "3221225994", "127.1", "0x7f.0.0.1", "1.2.3.256",
                       "1.2.3.4.5",   "1.2.3.",     ".1.2.3", "1..2.3",    "01.2.3.4",
                       "1.2.3.4 ",    "",           "1.2.3.0004"};
  for (const char* text : bad) {
    IpAddress a;
    EXPECT_FALSE(ParseDottedDecimal(text, &a)) << text;
  }
}

TEST(AddressTest, Ipv6TextFormsAndTheirCanonicalSpelling) {
  struct Case {
    const char* text;
    const char* canonical;  // null: refused
  } cases[] = {
      {"::1", "::1"},
      {"::", "::"},
      {"2001:DB8:0:0:0:0:0:1", "2001:db8::1"},
      {"2001:0db8::0001", "2001:db8::1"},
      {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},  // the first of two equal runs
      {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},  // one zero group stays
      {"1::", "1::"},
      {"1:2:3:4:5:6:7::", "1:2:3:4:5:6:7:0"},
      {"::ffff:192.0.2.1", "::ffff:c000:201"},
      {"fe80::1%eth0", nullptr},
      {"1:2:3:4:5:6:7:8:9", nullptr},
      {"1::2::3", nullptr},
      {":1", nullptr},
      {"1:", nullptr},
      {"12345::", nullptr},
      {"g::", nullptr},
      {"::1.2.3", nullptr},
      {"casino.example.com", nullptr},
  };
  for (const Case& c : cases) {
    IpAddress a;
    bool ok = ParseIpv6(c.text, &a);
    EXPECT_EQ(ok, c.canonical != nullptr) << c.text;
    if (ok && c.canonical) {
      EXPECT_EQ(FormatAddress(a), c.canonical) << c.text;
    }
  }
}

TEST(AddressTest, RangesHoldTheirAddresses) {
  struct Case {
    const char* range;
    const char* peer;
    bool in;
  } cases[] = {
      {"192.168.1.0/24", "192.168.1.77:5000", true},
      {"192.168.1.0/24", "192.168.2.1:5000", false},
      {"192.168.1.5", "192.168.1.5:1", true},
      {"192.168.1.5", "192.168.1.6:1", false},
      {"10.1.2.3/8", "10.200.0.1:1", true},  // host bits of the range are ignored
      {"0.0.0.0/0", "203.0.113.9:1", true},
      {"192.168.1.0/25", "192.168.1.128:1", false},
      {"192.168.1.0/24", "[::ffff:192.168.1.9]:1", true},  // a dual-stack listener's view
      {"::ffff:192.168.1.0/120", "192.168.1.9:1", true},
      {"2001:db8::/32", "[2001:db8:1::5]:80", true},
      {"2001:db8::/32", "[2001:db9::5]:80", false},
      {"::/0", "192.0.2.1:1", false},  // IPv4 clients need an IPv4 range
      {"::1", "[::1]:1", true},
  };
  for (const Case& c : cases) {
    AddressRange range;
    std::string error;
    ASSERT_TRUE(ParseAddressRange(c.range, &range, &error)) << c.range << ": " << error;
    EXPECT_EQ(ClientAllowed({range}, c.peer), c.in) << c.range << " " << c.peer;
  }
  for (const char* bad : {"192.168.1.0/33", "::/129", "10.0.0.0/", "10.0.0.0/x", "example.com",
                          "10.0.0.010/8", "/8", ""}) {
    AddressRange range;
    std::string error;
    EXPECT_FALSE(ParseAddressRange(bad, &range, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

TEST(AddressTest, WithoutRangesOnlyLoopbackIsServed) {
  EXPECT_TRUE(ClientAllowed({}, "127.0.0.1:40000"));
  EXPECT_TRUE(ClientAllowed({}, "127.8.9.10:40000"));
  EXPECT_TRUE(ClientAllowed({}, "[::1]:40000"));
  EXPECT_TRUE(ClientAllowed({}, "[::ffff:127.0.0.1]:40000"));
  EXPECT_FALSE(ClientAllowed({}, "192.168.1.2:40000"));
  EXPECT_FALSE(ClientAllowed({}, "[2001:db8::1]:40000"));
  EXPECT_FALSE(ClientAllowed({}, "unknown"));
  EXPECT_EQ(DescribeRanges(LoopbackRanges()), "127.0.0.0/8, ::1/128");
  // Ranges given replace the loopback default.
  AddressRange lan;
  std::string error;
  ASSERT_TRUE(ParseAddressRange("192.168.1.0/24", &lan, &error));
  EXPECT_FALSE(ClientAllowed({lan}, "127.0.0.1:40000"));
}

TEST(AddressTest, DeniedTunnelGetsTheFilterPageAs403) {
  const std::string page =
      "HTTP/1.0 200 OK\r\nServer: Kerrowan\r\nContent-type: text/html\r\nContent-Length: 99\r\n"
      "\r\n<HTML>denied</HTML>\r\n\r\n";
  EXPECT_EQ(ForbiddenTunnelResponse(page),
            "HTTP/1.1 403 Forbidden\r\nServer: Kerrowan\r\nContent-type: text/html\r\n"
            "Content-Length: 23\r\nConnection: close\r\n\r\n<HTML>denied</HTML>\r\n\r\n");
  // A page without a head is the body.
  EXPECT_EQ(ForbiddenTunnelResponse("<p>no</p>"),
            "HTTP/1.1 403 Forbidden\r\nContent-Type: text/html\r\nContent-Length: 9\r\n"
            "Connection: close\r\n\r\n<p>no</p>");
}

}  // namespace
}  // namespace hxhost
