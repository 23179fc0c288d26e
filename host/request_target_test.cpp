// Canonical request targets: every spelling of a site filters and fetches
// as that site, or is refused.
#include "request_target.h"

#include <gtest/gtest.h>

#include <string>

namespace hxhost {
namespace {

TEST(RequestTargetTest, AbsoluteTargetsBecomeOneUrl) {
  struct Case {
    const char* target;
    const char* url;  // what the filter sees
    const char* host;  // what is connected to
    int port;
    const char* path;  // what the origin is asked for
  } cases[] = {
      {"http://casino.example.com/poker", "http://casino.example.com/poker", "casino.example.com", 80,
       "/poker"},
      {"http://u@casino.example.com/poker", "http://casino.example.com/poker", "casino.example.com",
       80, "/poker"},
      {"http://u:p@x@casino.example.com/poker", "http://casino.example.com/poker",
       "casino.example.com", 80, "/poker"},
      {"http://casino.example.com#x", "http://casino.example.com/", "casino.example.com", 80, "/"},
      {"http://casino.example.com/a?q=1#frag", "http://casino.example.com/a?q=1",
       "casino.example.com", 80, "/a?q=1"},
      {"http://casino.example.com?q", "http://casino.example.com/?q", "casino.example.com", 80,
       "/?q"},
      {"HTTP://Casino.Example.COM.:8080/Poker", "http://casino.example.com:8080/Poker",
       "casino.example.com", 8080, "/Poker"},
      {"http://casino.example.com:80/", "http://casino.example.com/", "casino.example.com", 80, "/"},
      {"http://casino.example.com:/", "http://casino.example.com/", "casino.example.com", 80, "/"},
      {"http://%63asino.example.com/%70oker", "http://casino.example.com/poker",
       "casino.example.com", 80, "/poker"},
      {"http://h/a/./b/../c/%2e%2E/poker", "http://h/a/poker", "h", 80, "/a/poker"},
      {"http://h/../../poker", "http://h/poker", "h", 80, "/poker"},
      {"http://h/a/..", "http://h/", "h", 80, "/"},
      {"http://h//games/", "http://h//games/", "h", 80, "//games/"},
      {"http://h/a%2Fb%20c?x=%2e", "http://h/a%2Fb%20c?x=%2e", "h", 80, "/a%2Fb%20c?x=%2e"},
      {"http://192.0.2.10/", "http://192.0.2.10/", "192.0.2.10", 80, "/"},
      {"http://[2001:DB8:0::1]:8080/x", "http://[2001:db8::1]:8080/x", "2001:db8::1", 8080, "/x"},
      {"http://[::1]/", "http://[::1]/", "::1", 80, "/"},
      {"http://[::ffff:192.0.2.10]/", "http://192.0.2.10/", "192.0.2.10", 80, "/"},
      {"http://123.example.com/", "http://123.example.com/", "123.example.com", 80, "/"},
  };
  for (const Case& c : cases) {
    RequestTarget t;
    std::string error;
    ASSERT_EQ(CanonicalRequestTarget(c.target, &t, &error), TargetStatus::kOk)
        << c.target << ": " << error;
    EXPECT_EQ(t.url, c.url) << c.target;
    EXPECT_EQ(t.host, c.host) << c.target;
    EXPECT_EQ(t.port, c.port) << c.target;
    EXPECT_EQ(t.path, c.path) << c.target;
  }
}

TEST(RequestTargetTest, HostsThatCannotBeSpelledOneWayAreRefused) {
  struct Case {
    const char* target;
    TargetStatus status;
  } cases[] = {
      {"http://[casino.example.com]/poker", TargetStatus::kBad},
      {"http://3221225994/", TargetStatus::kBad},
      {"http://192.0.2.010/", TargetStatus::kBad},
      {"http://0x7f.0.0.1/", TargetStatus::kBad},
      {"http://127.1/", TargetStatus::kBad},
      {"http://1.2.3.4.5/", TargetStatus::kBad},
      {"http://example.0x10/", TargetStatus::kBad},
      {"http://[::1/", TargetStatus::kBad},
      {"http://[fe80::1%25eth0]/", TargetStatus::kBad},
      {"http://casino%2eexample.com%2F/", TargetStatus::kBad},
      {"http://casino.example.com\\poker/", TargetStatus::kBad},
      {"http://a..b/", TargetStatus::kBad},
      {"http://u@/", TargetStatus::kBad},
      {"http:///x", TargetStatus::kBad},
      {"http://h:99999/", TargetStatus::kBad},
      {"http://h:0/", TargetStatus::kBad},
      {"http://h:8o/", TargetStatus::kBad},
      {"http://h:1:2/", TargetStatus::kBad},
      {"/poker", TargetStatus::kNotAbsolute},
      {"ftp://h/", TargetStatus::kUnsupportedScheme},
      {"https://h/", TargetStatus::kUnsupportedScheme},
  };
  for (const Case& c : cases) {
    RequestTarget t;
    std::string error;
    EXPECT_EQ(CanonicalRequestTarget(c.target, &t, &error), c.status) << c.target;
    EXPECT_FALSE(error.empty()) << c.target;
  }
  RequestTarget t;
  std::string error;
  EXPECT_EQ(CanonicalRequestTarget("http://" + std::string(254, 'a') + "/", &t, &error),
            TargetStatus::kBad);
}

TEST(RequestTargetTest, ConnectTargets) {
  struct Case {
    const char* target;
    const char* url;  // null: refused
    const char* host;
    int port;
  } cases[] = {
      {"casino.example.com:443", "https://casino.example.com/", "casino.example.com", 443},
      {"Casino.Example.com.:8443", "https://casino.example.com:8443/", "casino.example.com", 8443},
      {"[2001:db8::1]:443", "https://[2001:db8::1]/", "2001:db8::1", 443},
      {"192.0.2.1:443", "https://192.0.2.1/", "192.0.2.1", 443},
      {"[casino.example.com]:443", nullptr, nullptr, 0},
      {"3221225994:443", nullptr, nullptr, 0},
      {"192.0.2.010:443", nullptr, nullptr, 0},
      {"u@casino.example.com:443", nullptr, nullptr, 0},
      {"casino.example.com", nullptr, nullptr, 0},
      {"casino.example.com:", nullptr, nullptr, 0},
      {"::1:443", nullptr, nullptr, 0},
      {"casino.example.com:443/x", nullptr, nullptr, 0},
  };
  for (const Case& c : cases) {
    RequestTarget t;
    std::string error;
    bool ok = CanonicalConnectTarget(c.target, &t, &error);
    EXPECT_EQ(ok, c.url != nullptr) << c.target << ": " << error;
    if (ok && c.url) {
      EXPECT_EQ(t.url, c.url) << c.target;
      EXPECT_EQ(t.host, c.host) << c.target;
      EXPECT_EQ(t.port, c.port) << c.target;
    }
  }
}

}  // namespace
}  // namespace hxhost
