// The helper as Squid drives it: request lines in, answer lines out, with
// the plug-in's settings and control list, while the filter is reloaded.
#include "squid_helper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "helper_test_fixture.h"

namespace tarnwick_squid {
namespace {

using tarnwick::testkit::Dword;
using tarnwick::testkit::FilterOptions;
using tarnwick::testkit::Registry;
using tarnwick::testkit::Text;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Serve(FilterHelper* helper, const std::string& input, ServeCounts* counts = nullptr) {
  std::istringstream in(input);
  std::ostringstream out;
  ServeCounts got = helper->Serve(in, out);
  if (counts != nullptr) *counts = got;
  return out.str();
}

using SquidHelperTest = HelperTestBase;

TEST_F(SquidHelperTest, EveryLineGetsItsAnswerUnderItsOwnChannel) {
  FilterHelper helper(options_);
  std::string message;
  ASSERT_TRUE(helper.Start(&message)) << message;
  EXPECT_EQ(message, "Pellumin Plugin V1.0 Initialized Correctly!");

  const std::string longLine = "77 http://neither.example/" + std::string(300, 'x');
  const std::string input =
      "900001 http://both.example/a 10.0.0.1/- - GET myip=127.0.0.1 myport=3128\n"
      "5 http://neither.example/ 10.0.0.2/-\n"
      "31 http://alertonly.example/x 10.0.0.3/- - GET\n"
      "4000000000 denyonly.example:443 10.0.0.4/- - CONNECT\n"
      "6 unlisted.example:443 10.0.0.4/- - CONNECT\n"
      "12 garbage\n"
      "8 http://unlisted.example/?q=1\r\n" +
      longLine + "\n" +
      "13 http://both.example/" + std::string(1, '\0') + "x\n"
      "14\n";
  ServeCounts counts;
  const std::string output = Serve(&helper, input, &counts);
  std::map<std::string, std::string> byChannel;
  for (const std::string& line : Lines(output)) {
    const std::size_t space = line.find(' ');
    ASSERT_NE(space, std::string::npos) << line;
    EXPECT_TRUE(byChannel.emplace(line.substr(0, space), line.substr(space + 1)).second)
        << "two answers for " << line;
  }
  const std::map<std::string, std::string> expected = {
      {"900001",
       "OK status=302 url=\"http://block.example/?u=http%3A%2F%2Fboth.example%2Fa&c=Sex&a=10.0.0.1\""},
      {"5", "ERR"},
      {"31", "ERR"},
      {"4000000000",
       "OK status=302 url=\"http://block.example/?u=denyonly.example%3A443&c=Drugs&a=10.0.0.4\""},
      {"6", "ERR"},
      {"12", "BH message=\"the URL is neither scheme://host/... nor a CONNECT host:port\""},
      {"8", "ERR"},
      {"77", "BH message=\"the request line is longer than 256 bytes\""},
      {"13", "BH message=\"the request line holds a NUL byte\""},
      {"14", "BH message=\"the line holds no URL\""},
  };
  EXPECT_EQ(byChannel, expected);
  EXPECT_EQ(counts.lines, 10u);
  EXPECT_EQ(counts.denied, 2u);
  EXPECT_EQ(counts.alerted, 2u);
  EXPECT_EQ(counts.broken, 4u);

  // The plug-in's own log line, with the client Squid named.
  std::ifstream log(options_.logPath);
  std::stringstream text;
  text << log.rdbuf();
  std::vector<std::string> logLines = Lines(text.str());
  ASSERT_EQ(logLines.size(), 2u) << text.str();
  std::sort(logLines.begin(), logLines.end(), [](const std::string& a, const std::string& b) {
    return a.substr(21) < b.substr(21);
  });
  EXPECT_EQ(logLines[0].substr(21), "~Pellumin Plugin: Access denied to URL: ALERTONLY.EXAMPLE for client: 10.0.0.3");
  EXPECT_EQ(logLines[1].substr(21), "~Pellumin Plugin: Access denied to URL: BOTH.EXAMPLE for client: 10.0.0.1");
}

TEST_F(SquidHelperTest, LinesWithoutChannelAreAnsweredInOrder) {
  options_.channelMode = ChannelMode::kOff;
  FilterHelper helper(options_);
  std::string message;
  ASSERT_TRUE(helper.Start(&message)) << message;
  std::string input;
  std::string expected;
  for (int i = 0; i < 300; ++i) {
    if (i % 3 == 0) {
      input += "http://denyonly.example/" + std::to_string(i) + " 10.1.1.1/-\n";
      expected += "OK status=302 url=\"http://block.example/?u=http%3A%2F%2Fdenyonly.example%2F" +
                  std::to_string(i) + "&c=Drugs&a=10.1.1.1\"\n";
    } else {
      input += "http://neither.example/" + std::to_string(i) + "\n";
      expected += "ERR\n";
    }
  }
  input += "12 http://denyonly.example/";  // a last line without its line end
  expected += "BH message=\"the URL is neither scheme://host/... nor a CONNECT host:port\"\n";
  EXPECT_EQ(Serve(&helper, input), expected);
}

// Lines that cannot be read whole (too long, or holding a NUL) keep their
// place among the lines without a channel-ID, whatever the channel mode,
// and the last one is answered even without its line end.
TEST_F(SquidHelperTest, UnreadableLinesWithoutChannelKeepTheirPlace) {
  const std::string tail(300, 'x');
  const std::string nul(1, '\0');
  const std::string tooLong = "BH message=\"the request line is longer than 256 bytes\"\n";
  const std::string holdsNul = "BH message=\"the request line holds a NUL byte\"\n";
  const std::string denied =
      "OK status=302 url=\"http://block.example/?u=http%3A%2F%2Fdenyonly.example%2Fb&c=Drugs&a=10.1.1.1\"\n";
  struct Case {
    const char* name;
    ChannelMode mode;
    std::string input;
    std::string expected;
  };
  const Case cases[] = {
      {"auto", ChannelMode::kAuto,
       "http://neither.example/a\n"
       "http://neither.example/" + tail + "\n"
       "http://denyonly.example/" + nul + "x\n"
       "http://denyonly.example/b 10.1.1.1/-\n"
       "http://neither.example/" + tail,
       "ERR\n" + tooLong + holdsNul + denied + tooLong},
      {"off, with what looks like channel-IDs", ChannelMode::kOff,
       "7 http://neither.example/" + tail + "\n"
       "8 http://neither.example/" + nul + "\n"
       "http://denyonly.example/b 10.1.1.1/-",
       tooLong + holdsNul + denied},
      {"nothing after a long line's line end", ChannelMode::kAuto, "http://neither.example/" + tail + "\n",
       tooLong},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    options_.channelMode = c.mode;
    FilterHelper helper(options_);
    std::string message;
    ASSERT_TRUE(helper.Start(&message)) << message;
    EXPECT_EQ(Serve(&helper, c.input), c.expected);
  }
}

// A filter that cannot be loaded at start: every request is answered by the
// failure mode, in either protocol, until a reload finds the list again.
TEST_F(SquidHelperTest, WithoutAFilterEachFailureModeAnswersUntilTheListIsBack) {
  struct Case {
    const char* name;
    Protocol protocol;
    FailureMode mode;
    const char* line;
    std::string unavailable;  // the answer without a filter
    std::string filtered;     // the answer once the filter is loaded
  };
  const Case cases[] = {
      {"rewrite, deny", Protocol::kRewrite, FailureMode::kDeny, "1 http://neither.example/ 10.0.0.1/-",
       "1 OK status=302 url=\"http://block.example/?u=http%3A%2F%2Fneither.example%2F&c=unavailable&a=10.0.0.1\"\n",
       "1 ERR\n"},
      {"rewrite, allow", Protocol::kRewrite, FailureMode::kAllow, "2 http://denyonly.example/ 10.0.0.1/-",
       "2 ERR\n",
       "2 OK status=302 url=\"http://block.example/?u=http%3A%2F%2Fdenyonly.example%2F&c=Drugs&a=10.0.0.1\"\n"},
      {"rewrite, deny, a CONNECT", Protocol::kRewrite, FailureMode::kDeny, "3 neither.example:443",
       "3 OK status=302 url=\"http://block.example/?u=neither.example%3A443&c=unavailable&a=\"\n", "3 ERR\n"},
      {"acl, deny", Protocol::kAcl, FailureMode::kDeny, "4 http://neither.example/ 10.0.0.1 -",
       "4 OK message=\"the filter is unavailable\" log=\"unavailable\"\n", "4 ERR\n"},
      {"acl, allow", Protocol::kAcl, FailureMode::kAllow, "5 denyonly.example:443 10.0.0.1 -",
       "5 ERR\n", "5 OK message=\"the filter denies this site (Drugs)\" log=\"Drugs\"\n"},
      {"without channel-ID", Protocol::kAcl, FailureMode::kDeny, "http://both.example/ 10.0.0.1 -",
       "OK message=\"the filter is unavailable\" log=\"unavailable\"\n",
       "OK message=\"the filter denies this site (Sex)\" log=\"Sex\"\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Registry::Get().Import({{filter_.keyPath, {Text("ControlFile", dir_.File("gone.lst"))}}});
    options_.protocol = c.protocol;
    options_.onFailure = c.mode;
    FilterHelper helper(options_);
    std::string message;
    EXPECT_FALSE(helper.Start(&message));
    EXPECT_EQ(message, "Pellumin Error: " + dir_.File("gone.lst") + " could not be loaded correctly.");
    ServeCounts counts;
    const std::string line = std::string(c.line) + "\n";
    EXPECT_EQ(Serve(&helper, line + line, &counts), c.unavailable + c.unavailable);
    EXPECT_EQ(counts.unavailable, 2u);
    EXPECT_EQ(counts.denied, c.mode == FailureMode::kDeny ? 2u : 0u);
    EXPECT_NE(DescribeCounts(counts).find("2 while the filter was unavailable"), std::string::npos)
        << DescribeCounts(counts);
    // Still missing: the reload fails and the mode goes on.
    EXPECT_FALSE(helper.Reload(&message));
    EXPECT_EQ(Serve(&helper, line), c.unavailable);

    Registry::Get().Import({{filter_.keyPath, {Text("ControlFile", filter_.controlFile)}}});
    ASSERT_TRUE(helper.Reload(&message)) << message;
    EXPECT_EQ(Serve(&helper, line, &counts), c.filtered);
    EXPECT_EQ(counts.unavailable, 0u);
  }
}

// An access log that cannot be opened at start keeps the filter out of
// force (alerted requests would go unlogged) until a reload can open it.
TEST_F(SquidHelperTest, AccessLogThatCannotBeOpenedKeepsTheFilterOutUntilItCan) {
  options_.logPath = dir_.File("later/access.log");
  FilterHelper helper(options_);
  std::string message;
  EXPECT_FALSE(helper.Start(&message));
  EXPECT_NE(message.find("cannot open the access log"), std::string::npos) << message;
  EXPECT_FALSE(helper.Reload(&message));
  EXPECT_NE(message.find("cannot open the access log"), std::string::npos) << message;
  EXPECT_EQ(helper.InForce()[0], "no filter is loaded");
  EXPECT_EQ(Serve(&helper, "1 http://alertonly.example/ 10.0.0.9/-\n"),
            "1 OK status=302 url=\"http://block.example/?u=http%3A%2F%2Falertonly.example%2F&c=unavailable&a=10.0.0.9\"\n");

  std::filesystem::create_directories(dir_.path() / "later");
  ASSERT_TRUE(helper.Reload(&message)) << message;
  EXPECT_EQ(Serve(&helper, "2 http://alertonly.example/ 10.0.0.9/-\n"), "2 ERR\n");
  std::ifstream log(options_.logPath);
  std::stringstream text;
  text << log.rdbuf();
  EXPECT_NE(text.str().find("ALERTONLY.EXAMPLE for client: 10.0.0.9"), std::string::npos) << text.str();
}

// A CONNECT is judged by its TLS server name too, in both protocols, and
// the two protocols give the same verdict on the same request.
TEST_F(SquidHelperTest, ServerNameJudgesTheTunnelInBothProtocols) {
  struct Case {
    const char* target;  // the CONNECT target or URL
    const char* sni;     // "-" for none
    const char* denied;  // the denied categories, "" when it passes
  } cases[] = {
      {"192.0.2.7:443", "denyonly.example", "Drugs"},
      {"192.0.2.7:443", "neither.example", ""},
      {"192.0.2.7:443", "-", ""},
      {"denyonly.example:443", "-", "Drugs"},
      {"denyonly.example:443", "DenyOnly.Example", "Drugs"},
      // A name and a server name of its own: denied when either is.
      {"neither.example:443", "denyonly.example", "Drugs"},
      {"denyonly.example:443", "neither.example", "Drugs"},
      {"both.example:443", "denyonly.example", "Drugs,Sex"},
      // Not a host name: judged by the CONNECT host alone.
      {"192.0.2.7:443", "denyonly.example/x", ""},
      // A request with a URL is judged by its URL.
      {"http://neither.example/", "denyonly.example", ""},
  };
  options_.logPath.clear();
  HelperOptions aclOptions = options_;
  aclOptions.protocol = Protocol::kAcl;
  FilterHelper rewrite(options_);
  FilterHelper acl(aclOptions);
  std::string message;
  ASSERT_TRUE(rewrite.Start(&message)) << message;
  ASSERT_TRUE(acl.Start(&message)) << message;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.target) + " sni=" + c.sni);
    const std::string denied = c.denied;
    std::string answer;
    rewrite.Answer(std::string("7 ") + c.target + " 10.0.0.1/- - CONNECT sni=" + c.sni, &answer);
    if (denied.empty()) {
      EXPECT_EQ(answer, "7 ERR\n");
    } else {
      EXPECT_EQ(answer.rfind("7 OK status=302 url=", 0), 0u) << answer;
      EXPECT_NE(answer.find("&c=" + EscapeForUrl(denied) + "&"), std::string::npos) << answer;
    }
    answer.clear();
    acl.Answer(std::string("8 ") + c.target + " 10.0.0.1 " + c.sni, &answer);
    EXPECT_EQ(answer, denied.empty() ? std::string("8 ERR\n")
                                     : "8 OK message=\"the filter denies this site (" + denied +
                                           ")\" log=\"" + denied + "\"\n");
  }
}

TEST_F(SquidHelperTest, ReloadTakesNewSettingsAndKeepsTheOldWhenTheyFail) {
  FilterHelper helper(options_);
  std::string message;
  ASSERT_TRUE(helper.Start(&message)) << message;
  std::string answer;
  helper.Answer("1 http://neither.example/", &answer);
  EXPECT_EQ(answer, "1 ERR\n");

  Registry::Get().Import({{filter_.keyPath, {Text("ControlFile", dir_.File("gone.lst"))}},
                          {filter_.keyPath + "\\Deny", {Dword("SportsState", 1)}}});
  EXPECT_FALSE(helper.Reload(&message));
  EXPECT_EQ(message, "Pellumin Error: " + dir_.File("gone.lst") + " could not be loaded correctly.");
  answer.clear();
  helper.Answer("2 http://denyonly.example/", &answer);
  helper.Answer("3 http://neither.example/", &answer);
  EXPECT_EQ(answer,
            "2 OK status=302 url=\"http://block.example/?u=http%3A%2F%2Fdenyonly.example%2F&c=Drugs&a=\"\n"
            "3 ERR\n");

  Registry::Get().Import({{filter_.keyPath, {Text("ControlFile", filter_.controlFile)}}});
  ASSERT_TRUE(helper.Reload(&message)) << message;
  answer.clear();
  helper.Answer("4 http://neither.example/", &answer);
  EXPECT_EQ(answer.rfind("4 OK status=302", 0), 0u) << answer;
  EXPECT_EQ(helper.InForce()[0], "denied categories: Drugs, Sex, Sports");

  // A settings file moved away would give empty sets over the same list.
  const std::unique_ptr<platform::Registry> movedAway =
      platform::NewFileRegistry(dir_.File("moved-away.reg"));
  env_.set_registry(movedAway.get());
  const bool reloaded = helper.Reload(&message);
  env_.set_registry(Registry::Get().env()->registry());
  EXPECT_FALSE(reloaded);
  EXPECT_NE(message.find(dir_.File("moved-away.reg") + ": no key"), std::string::npos) << message;
  answer.clear();
  helper.Answer("5 http://neither.example/", &answer);
  EXPECT_EQ(answer.rfind("5 OK status=302", 0), 0u) << answer;
}

// Many requests through the pool while the filter is rebuilt again and
// again: none lost, none doubled, each the answer a lone request gets.
// Under ThreadSanitizer this also checks the locking.
TEST_F(SquidHelperTest, ReloadsUnderLoadLoseNoRequest) {
  FilterHelper helper(options_);
  std::string message;
  ASSERT_TRUE(helper.Start(&message)) << message;
  constexpr int kRequests = 20000;
  std::string input;
  for (int i = 0; i < kRequests; ++i) {
    static const char* const kUrls[] = {" http://neither.example/q\n",
                                        " http://denyonly.example/p\n",
                                        " http://alertonly.example/r 10.2.2.2/-\n"};
    input += std::to_string(1000000 + i) + kUrls[i % 3];
  }
  ReloadLoop reloads(&helper);
  const std::string output = Serve(&helper, input);
  const int reloadCount = reloads.Stop();
  std::vector<int> seen(kRequests, 0);
  int wrong = 0;
  for (const std::string& line : Lines(output)) {
    const int i = std::stoi(line.substr(0, line.find(' '))) - 1000000;
    ASSERT_GE(i, 0);
    ASSERT_LT(i, kRequests);
    ++seen[i];
    const bool redirected = line.find(" OK status=302 ") != std::string::npos;
    if (redirected != (i % 3 == 1)) ++wrong;
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), kRequests);
  EXPECT_GT(reloadCount, 0);
  // One access log line per alerted request, reopened or not.
  std::ifstream log(options_.logPath);
  std::stringstream text;
  text << log.rdbuf();
  EXPECT_EQ(static_cast<int>(Lines(text.str()).size()), kRequests / 3);  // i % 3 == 2
}

}  // namespace
}  // namespace tarnwick_squid
