// Request lines as Squid sends them, and the answers' exact bytes.
#include "helper_protocol.h"

#include <gtest/gtest.h>

#include <string>

namespace tarnwick_squid {
namespace {

TEST(HelperProtocolTest, RequestLinesAreSplitAsSquidWritesThem) {
  struct Case {
    const char* line;
    ChannelMode mode;
    bool hasChannel;
    const char* channel;
    const char* url;
    const char* client;
    bool connect;
    bool fault;
  } cases[] = {
      {"17 http://a.example/x 10.0.0.1/- - GET myip=127.0.0.1 myport=3128", ChannelMode::kAuto,
       true, "17", "http://a.example/x", "10.0.0.1", false, false},
      {"http://a.example/ 10.0.0.1/host.lan", ChannelMode::kAuto, false, "", "http://a.example/",
       "10.0.0.1", false, false},
      {"4294967299 a.example:443 ::1/- - CONNECT", ChannelMode::kAuto, true, "4294967299",
       "a.example:443", "::1", true, false},
      {"5 [2001:db8::1]:8443", ChannelMode::kAuto, true, "5", "[2001:db8::1]:8443", "", true, false},
      {"x7 http://a.example/", ChannelMode::kOn, true, "x7", "http://a.example/", "", false, false},
      {"7 http://a.example/", ChannelMode::kOff, false, "", "", "", false, true},
      {"http://a.example/\r", ChannelMode::kAuto, false, "", "http://a.example/", "", false, false},
      {"3 ftp://files.example/pub", ChannelMode::kAuto, true, "3", "ftp://files.example/pub", "",
       false, false},
      // Garbage keeps its channel-ID, so that the BH answer finds its request.
      {"9 garbage here", ChannelMode::kAuto, true, "9", "garbage", "", false, true},
      {"9", ChannelMode::kAuto, true, "9", "", "", false, true},
      {"12 ", ChannelMode::kAuto, true, "12", "", "", false, true},
      {"", ChannelMode::kAuto, false, "", "", "", false, true},
      {"8 a.example:99999999", ChannelMode::kAuto, true, "8", "a.example:99999999", "", false, true},
      {"8 ://nohost", ChannelMode::kAuto, true, "8", "://nohost", "", false, true},
  };
  for (const Case& c : cases) {
    const RequestLine r = ParseRequestLine(c.line, c.mode);
    EXPECT_EQ(r.hasChannel, c.hasChannel) << c.line;
    EXPECT_EQ(r.channel, c.channel) << c.line;
    EXPECT_EQ(r.fault != nullptr, c.fault) << c.line;
    if (c.fault) continue;
    EXPECT_EQ(r.url, c.url) << c.line;
    EXPECT_EQ(r.client, c.client) << c.line;
    EXPECT_EQ(r.connect, c.connect) << c.line;
  }
}

TEST(HelperProtocolTest, AnswersEchoTheChannelAndQuoteTheirValues) {
  const RequestLine withChannel = ParseRequestLine("42 a.example:443", ChannelMode::kAuto);
  const RequestLine without = ParseRequestLine("http://a.example/", ChannelMode::kAuto);
  EXPECT_EQ(FilterUrl(withChannel), "https://a.example:443/");
  EXPECT_EQ(FilterUrl(without), "http://a.example/");

  std::string out;
  AppendPass(&out, withChannel);
  AppendPass(&out, without);
  AppendRedirect(&out, withChannel, "http://block.example/?u=a\"b\\c");
  AppendBrokenHelper(&out, without, "bad\nline");
  EXPECT_EQ(out,
            "42 ERR\n"
            "ERR\n"
            "42 OK status=302 url=\"http://block.example/?u=a\\\"b\\\\c\"\n"
            "BH message=\"bad?line\"\n");

  // With --channel-id on the first word is the ID, whatever it holds; a
  // control byte in it must not break the answer line (found by fuzzing).
  struct Case {
    const char* line;
    const char* answer;
  } cases[] = {
      {"id\x02 http://a.example/", "id? ERR\n"},
      {"\x1b[2J http://a.example/", "?[2J ERR\n"},
      {"a\rb\x7f http://a.example/", "a?b? ERR\n"},
      {"\x0b\x0c", "?? BH message=\"the line holds no URL\"\n"},
  };
  for (const Case& c : cases) {
    const RequestLine request = ParseRequestLine(c.line, ChannelMode::kOn);
    std::string answer;
    if (request.fault != nullptr) {
      AppendBrokenHelper(&answer, request, request.fault);
    } else {
      AppendPass(&answer, request);
    }
    EXPECT_EQ(answer, c.answer) << c.line;
  }
}

// Squid passes the path on as the client wrote it, and origins resolve dot
// segments and never see a fragment: the filter reads the URL the same way.
TEST(HelperProtocolTest, FilterUrlIsWhatTheOriginReads) {
  struct Case {
    const char* line;
    const char* url;
  } cases[] = {
      {"1 http://h.example/x/../games/index.html", "http://h.example/games/index.html"},
      {"1 http://h.example/%2e%2E/games/", "http://h.example/games/"},
      {"1 http://h.example/a/.%2e/./games", "http://h.example/games"},
      {"1 http://h.example/a/b/..", "http://h.example/a/"},
      {"1 http://h.example/../../games?x=/../y", "http://h.example/games?x=/../y"},
      {"1 http://h.example/games#x", "http://h.example/games"},
      {"1 http://h.example/games?q=1#x/../y", "http://h.example/games?q=1"},
      {"1 http://h.example/#@other.example/", "http://h.example/"},
      {"1 http://h.example#x", "http://h.example"},
      // Not dot segments, or not in the path: left as written.
      {"1 http://h.example//games/.x/..y/...", "http://h.example//games/.x/..y/..."},
      {"1 http://h.example/a%2Fb/%2e%2f", "http://h.example/a%2Fb/%2e%2f"},
      {"1 http://h.example?x=/../y", "http://h.example?x=/../y"},
      {"1 http://u:p@h.example:8080/a", "http://u:p@h.example:8080/a"},
      {"1 h.example:443", "https://h.example:443/"},
  };
  for (const Case& c : cases) {
    const RequestLine request = ParseRequestLine(c.line, ChannelMode::kAuto);
    ASSERT_EQ(request.fault, nullptr) << c.line;
    EXPECT_EQ(FilterUrl(request), c.url) << c.line;
    std::string appended = "kept ";
    AppendFilterUrl(request, &appended);
    EXPECT_EQ(appended, std::string("kept ") + c.url) << c.line;
  }
}

TEST(HelperProtocolTest, RedirectTemplateTakesEscapedValues) {
  EXPECT_EQ(EscapeForUrl("http://a.example/x y?q=1&r=~"), "http%3A%2F%2Fa.example%2Fx%20y%3Fq%3D1%26r%3D~");
  struct Case {
    const char* redirect;
    const char* expanded;
  } cases[] = {
      {"http://block.example/?url=%u&client=%a&cat=%c",
       "http://block.example/?url=http%3A%2F%2Fbad.example%2F%22&client=10.0.0.1&cat=Drugs%2CSex"},
      {"http://block.example/100%%", "http://block.example/100%"},
      {"http://block.example/%x%", "http://block.example/%x%"},
      {"http://block.example/", "http://block.example/"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExpandRedirect(c.redirect, "http://bad.example/\"", "10.0.0.1", "Drugs,Sex"),
              c.expanded)
        << c.redirect;
  }
}


// External ACL lines: "%URI %>a %ssl::>sni", "-" for what Squid does not
// have, each value URL-escaped by Squid.
TEST(HelperProtocolTest, AclLinesAreSplitAndUnescaped) {
  struct Case {
    const char* line;
    ChannelMode mode;
    const char* channel;  // null: none
    const char* url;
    const char* client;
    const char* sni;
    bool connect;
    const char* fault;  // null: the line reads
  } cases[] = {
      {"0 http://a.example/x 10.0.0.1 -", ChannelMode::kAuto, "0", "http://a.example/x", "10.0.0.1",
       "", false, nullptr},
      {"12 192.0.2.7:443 ::1 www.b.example", ChannelMode::kAuto, "12", "192.0.2.7:443", "::1",
       "www.b.example", true, nullptr},
      {"a.example:443 - -", ChannelMode::kAuto, nullptr, "a.example:443", "", "", true, nullptr},
      {"http://a.example/", ChannelMode::kAuto, nullptr, "http://a.example/", "", "", false, nullptr},
      // What Squid escapes is unescaped, giving the URL a url_rewrite line
      // carries; what the client escaped ("%2e", "%25", "%2F") stays.
      {"3 http://a.example/%2e%2e/%7E%22%5B%C3%A9%25%2F?x=%22%23frag 10.0.0.1", ChannelMode::kAuto,
       "3", "http://a.example/%2e%2e/~\"[\xc3\xa9%25%2F?x=\"#frag", "10.0.0.1", "", false, nullptr},
      {"3 http://a.example/100%zz -", ChannelMode::kAuto, "3", "http://a.example/100%zz", "", "",
       false, nullptr},
      {"3 http://a.example/%0d%0aX -", ChannelMode::kAuto, "3", "", "", "", false,
       "a value holds a control character"},
      {"4 - 10.0.0.1", ChannelMode::kAuto, "4", "", "", "", false,
       "the URL is neither scheme://host/... nor a CONNECT host:port"},
      {"5", ChannelMode::kAuto, "5", "", "", "", false, "the line holds no URL"},
      {"7 http://a.example/ 10.0.0.1 -\r", ChannelMode::kOff, nullptr, "", "", "", false,
       "the URL is neither scheme://host/... nor a CONNECT host:port"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::string decoded = "left over";
    const RequestLine r = ParseAclRequestLine(c.line, c.mode, &decoded);
    EXPECT_EQ(r.hasChannel, c.channel != nullptr);
    if (c.channel != nullptr) {
      EXPECT_EQ(r.channel, c.channel);
    }
    if (c.fault != nullptr) {
      ASSERT_NE(r.fault, nullptr);
      EXPECT_STREQ(r.fault, c.fault);
      continue;
    }
    ASSERT_EQ(r.fault, nullptr) << r.fault;
    EXPECT_EQ(r.url, c.url);
    EXPECT_EQ(r.client, c.client);
    EXPECT_EQ(r.sni, c.sni);
    EXPECT_EQ(r.connect, c.connect);
  }

  std::string out;
  const RequestLine request = ParseAclRequestLine("9 a.example:443 - -", ChannelMode::kAuto, &out);
  std::string answer;
  AppendAclMatch(&answer, request, "the filter denies \"this\"\n", "Drugs,Sex");
  EXPECT_EQ(answer, "9 OK message=\"the filter denies \\\"this\\\"?\" log=\"Drugs,Sex\"\n");
}

// Which second name a CONNECT is judged by.
TEST(HelperProtocolTest, ServerNameJudgedWhenItDiffersFromTheConnectHost) {
  struct Case {
    const char* line;
    const char* judged;     // the second name, "" for none
    const char* secondUrl;  // its URL
  } cases[] = {
      {"1 192.0.2.7:443 10.0.0.1/- - CONNECT sni=www.b.example", "www.b.example",
       "https://www.b.example:443/"},
      {"1 [2001:db8::7]:8443 10.0.0.1/- - CONNECT sni=b.example", "b.example",
       "https://b.example:8443/"},
      {"1 a.example:443 10.0.0.1/- - CONNECT sni=b.example", "b.example", "https://b.example:443/"},
      {"1 A.Example:443 10.0.0.1/- - CONNECT sni=a.EXAMPLE", "", ""},
      {"1 192.0.2.7:443 10.0.0.1/- - CONNECT sni=-", "", ""},
      {"1 192.0.2.7:443 10.0.0.1/- - CONNECT sni=", "", ""},
      {"1 192.0.2.7:443 10.0.0.1/- - CONNECT", "", ""},
      // Not a host name: it could not make a URL of one host.
      {"1 192.0.2.7:443 10.0.0.1/- - CONNECT sni=b.example/x", "", ""},
      {"1 192.0.2.7:443 10.0.0.1/- - CONNECT sni=b.example:80", "", ""},
      // Only a CONNECT has its tunnel's server name.
      {"1 http://192.0.2.7/ 10.0.0.1/- - GET sni=b.example", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const RequestLine request = ParseRequestLine(c.line, ChannelMode::kAuto);
    ASSERT_EQ(request.fault, nullptr);
    const std::string_view name = ServerNameToJudge(request);
    EXPECT_EQ(name, c.judged);
    if (name.empty()) continue;
    std::string url;
    AppendServerNameUrl(request, name, &url);
    EXPECT_EQ(url, c.secondUrl);
  }
  // The same rule for an ACL line's third value.
  std::string decoded;
  const RequestLine acl = ParseAclRequestLine("192.0.2.7:443 - b.example", ChannelMode::kAuto, &decoded);
  EXPECT_EQ(ServerNameToJudge(acl), "b.example");
}

}  // namespace
}  // namespace tarnwick_squid
