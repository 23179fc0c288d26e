// hxhost's command line: accepted forms, defaults and clear refusals.
#include "options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hxhost {
namespace {

TEST(OptionsTest, AcceptedCommandLines) {
  HostOptions o;
  std::string error;
  ASSERT_TRUE(ParseOptions({"--plugin", "p.so", "--key", "SOFTWARE\\X", "--listen", "127.0.0.1:8080",
                            "--log", "a.log", "--upstream-timeout", "5", "--max-connections=10",
                            "--allow-unfiltered", "--resolve", "*=127.0.0.1", "--client-timeout=7"},
                           &o, &error))
      << error;
  EXPECT_EQ(o.pluginPath, "p.so");
  EXPECT_EQ(o.keyPath, "SOFTWARE\\X");
  EXPECT_EQ(o.proxy.listenAddress, "127.0.0.1");
  EXPECT_EQ(o.proxy.listenPort, 8080);
  EXPECT_EQ(o.logPath, "a.log");
  EXPECT_EQ(o.proxy.upstreamTimeoutMs, 5000);
  EXPECT_EQ(o.proxy.clientIdleTimeoutMs, 7000);
  EXPECT_EQ(o.proxy.maxConnections, 10);
  EXPECT_TRUE(o.allowUnfiltered);
  ASSERT_EQ(o.proxy.hostMap.size(), 1u);
  EXPECT_EQ(o.proxy.hostMap[0].first, "*");
  EXPECT_EQ(o.proxy.hostMap[0].second, "127.0.0.1");
  EXPECT_FALSE(o.configMode);

  ASSERT_TRUE(ParseOptions({"--plugin=p.so"}, &o, &error));
  EXPECT_EQ(o.keyPath, "SOFTWARE\\Pellumin\\Filter");
  EXPECT_EQ(o.proxy.listenAddress, "127.0.0.1");
  EXPECT_EQ(o.proxy.listenPort, 3128);

  ASSERT_TRUE(ParseOptions({"--plugin", "p.so", "--config", "SOFTWARE\\Y"}, &o, &error));
  EXPECT_TRUE(o.configMode);
  EXPECT_EQ(o.configKey, "SOFTWARE\\Y");

  ASSERT_TRUE(ParseOptions({"--plugin", "p.so", "--listen", "[::1]:0"}, &o, &error)) << error;
  EXPECT_EQ(o.proxy.listenAddress, "::1");
  EXPECT_EQ(o.proxy.listenPort, 0);

  ASSERT_TRUE(ParseOptions({"--plugin", "p.so", "--allow", "192.168.1.0/24", "--allow=2001:db8::/32",
                            "--allow", "10.0.0.7"},
                           &o, &error))
      << error;
  ASSERT_EQ(o.proxy.allowedClients.size(), 3u);
  EXPECT_EQ(o.proxy.allowedClients[0].prefixBits, 24);
  EXPECT_TRUE(o.proxy.allowedClients[1].network.v6);
  EXPECT_EQ(o.proxy.allowedClients[2].prefixBits, 32);

  // The failure mode: deny by default; --allow-unfiltered is the older
  // spelling of allow.
  struct FailureCase {
    std::vector<std::string> args;
    FailureMode mode;
  } failureCases[] = {
      {{"--plugin", "p.so"}, FailureMode::kDeny},
      {{"--plugin", "p.so", "--on-failure", "allow"}, FailureMode::kAllow},
      {{"--plugin", "p.so", "--on-failure=deny"}, FailureMode::kDeny},
      {{"--plugin", "p.so", "--on-failure=deny", "--allow-unfiltered"}, FailureMode::kAllow},
  };
  for (const FailureCase& c : failureCases) {
    ASSERT_TRUE(ParseOptions(c.args, &o, &error)) << error;
    EXPECT_EQ(o.onFailure, c.mode) << c.args.back();
  }
  EXPECT_FALSE(ParseOptions({"--plugin", "p.so", "--on-failure", "exit"}, &o, &error));
  EXPECT_EQ(error, "--on-failure must be deny or allow, not 'exit'");

  ASSERT_TRUE(ParseOptions({"--help"}, &o, &error));
  EXPECT_TRUE(o.help);

  // A value is taken as it stands, even one that looks like an option; the
  // inline form splits at the first '='; the last of a repeated option wins.
  ASSERT_TRUE(ParseOptions({"--plugin", "--key", "--resolve=a=b=c", "--log", "x", "--log=y"}, &o,
                           &error))
      << error;
  EXPECT_EQ(o.pluginPath, "--key");
  ASSERT_EQ(o.proxy.hostMap.size(), 1u);
  EXPECT_EQ(o.proxy.hostMap[0].first, "a");
  EXPECT_EQ(o.proxy.hostMap[0].second, "b=c");
  EXPECT_EQ(o.logPath, "y");

  // --help needs no plug-in, wherever it stands.
  ASSERT_TRUE(ParseOptions({"--key", "K", "-h"}, &o, &error));
  EXPECT_TRUE(o.help);
}

TEST(OptionsTest, RefusedCommandLines) {
  struct Case {
    std::vector<std::string> args;
    std::string mentions;
  } cases[] = {
      {{}, "--plugin"},
      {{"--plugin"}, "--plugin needs"},
      {{"--plugin", "p", "--bogus"}, "--bogus"},
      {{"--plugin", "p", "stray"}, "stray"},
      {{"--plugin", "p", "--listen", "127.0.0.1"}, "--listen"},
      {{"--plugin", "p", "--listen", "127.0.0.1:99999"}, "--listen"},
      {{"--plugin", "p", "--upstream-timeout", "0"}, "--upstream-timeout"},
      {{"--plugin", "p", "--upstream-timeout", "2s"}, "--upstream-timeout"},
      {{"--plugin", "p", "--max-connections", "-1"}, "--max-connections"},
      {{"--plugin", "p", "--resolve", "a.test"}, "--resolve"},
      {{"--plugin", "p", "--allow-unfiltered=yes"}, "takes no value"},
      {{"--plugin", "p", "--config", "K", "--listen", "127.0.0.1:1"}, "--config"},
      {{"--plugin", "p", "--allow"}, "--allow needs"},
      {{"--plugin", "p", "--allow", "lan"}, "--allow"},
      {{"--plugin", "p", "--allow", "10.0.0.0/40"}, "prefix"},
      {{"--plugin", "p", "--config", "K", "--allow", "10.0.0.0/8"}, "--config"},
      {{"--plugin", "p", "--help=1"}, "--help takes no value"},
      {{"--plugin", "p", "-h=1"}, "unknown argument '-h=1'"},
      {{"--plugin", "p", "--"}, "unknown argument '--'"},
      {{"--plugin", "p", "--key"}, "--key needs a key path"},
      {{"--plugin", "p", "--client-timeout=86401"}, "--client-timeout needs whole seconds"},
      {{"--plugin", "p", "--upstream-timeout", "1234567890"}, "--upstream-timeout needs"},
      {{"--plugin", "p", "--max-connections", "100001"}, "--max-connections needs a number"},
      {{"--plugin", "p", "--config", "K", "--log", "a.log"}, "--config"},
      {{"--plugin", "p", "--config", "K", "--allow-unfiltered"}, "--config"},
  };
  for (const Case& c : cases) {
    HostOptions o;
    std::string error;
    EXPECT_FALSE(ParseOptions(c.args, &o, &error)) << ::testing::PrintToString(c.args);
    EXPECT_NE(error.find(c.mentions), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace hxhost
