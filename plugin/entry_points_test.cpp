// Tests of HXInit, HXProcURL and HXUnInit, driven as a host drives them:
// settings written by hand in REGEDIT4 form, a compiled control list, and
// the denial page read from the client's end of a real socket pair.
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "entry_points.h"
#include "filter.h"
#include "outputs.h"
#include "tarnwick.h"
#include "testing/host_fixture.h"
#include "testing/plugin_setup.h"

namespace tarnwick {
namespace {

using testkit::ClientPair;
using testkit::Dword;
using testkit::ExpectedPage;
using testkit::FilterOptions;
using testkit::HexText;
using testkit::Registry;
using testkit::StandardFilter;
using testkit::TempDir;
using testkit::Text;
using testkit::WriteStandardFilter;

// Each test runs a filter of its own over the test program's settings
// file, as the entry points run the process's one.
class EntryPointTest : public ::testing::Test {
 protected:
  void TearDown() override { filter_.UnInit(); }

  int RunInit(const std::string& path, std::string* message) {
    return testkit::RunInit(filter_, path, message);
  }
  // Runs ProcessUrl on url in a buffer of exactly the host's size.
  int Process(ClientPair& pair, const std::string& url, std::string* after) {
    std::vector<char> buffer(TARNWICK_URL_BUFFER_SIZE, '\0');
    std::memcpy(buffer.data(), url.c_str(), url.size() + 1);
    const int result = filter_.ProcessUrl(pair.host(), buffer.data());
    after->assign(buffer.data());
    return result;
  }

  Filter filter_{Registry::Get().env()};
};

std::string LogLine(const std::string& key, const std::string& client) {
  return "~Pellumin Plugin: Access denied to URL: " + key + " for client: " + client;
}

TEST_F(EntryPointTest, InitReportsEachOutcomeOfLoadingTheControlList) {
  TempDir dir;
  const std::string missing = dir.File("no-such-list");
  const std::string empty = dir.Write("empty.lst", "");
  std::string truncated = testkit::ControlListBytes({{"A.EXAMPLE", {1}}, {"B.EXAMPLE", {2}}});
  truncated.resize(4 + 24 + 10);
  const std::string cut = dir.Write("cut.lst", truncated);
  std::string unordered = testkit::ControlListBytes({{"A.EXAMPLE", {1}}, {"B.EXAMPLE", {2}}});
  std::swap_ranges(unordered.begin() + 4, unordered.begin() + 28, unordered.begin() + 28);
  const std::string swapped = dir.Write("swapped.lst", unordered);
  const std::string good = dir.Write("good.lst", testkit::ControlListBytes({{"A.EXAMPLE", {1}}}));

  struct Case {
    std::string controlFile;
    int result;
    std::string message;
  } cases[] = {
      {missing, 0, "Pellumin Error: " + missing + " could not be loaded correctly."},
      {empty, 0, "Pellumin Error: " + empty + " was not found."},
      {cut, 0, "Pellumin Error: " + cut + " was Truncated, its a bad file."},
      {swapped, 0, "Pellumin Error: " + swapped + " could not be loaded correctly."},
      {good, 1, "Pellumin Plugin V1.0 Initialized Correctly!"},
  };
  for (const Case& c : cases) {
    const std::string key = Registry::Get().FreshKeyPath("Init");
    Registry::Get().Import({{key, {Text("ControlFile", c.controlFile)}}});
    std::string message;
    EXPECT_EQ(RunInit(key, &message), c.result) << c.controlFile;
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(filter_.UnInit(), 1);
  }
}

TEST_F(EntryPointTest, MissingMainKeyFallsBackToSiteTxtInTheWorkingDirectory) {
  if (std::filesystem::exists("site.txt")) GTEST_SKIP() << "site.txt exists here";
  // A fresh filter holds the defaults.
  std::string message;
  EXPECT_EQ(RunInit(Registry::Get().FreshKeyPath("Absent"), &message), 0);
  EXPECT_EQ(message, "Pellumin Error: site.txt could not be loaded correctly.");
  EXPECT_EQ(filter_.values().logEnabled, 1);
  EXPECT_EQ(filter_.values().mailEnabled, 0);
}

TEST_F(EntryPointTest, LoadFailureTextNamesSupportForHandleFaults) {
  for (int rc : {QX_ERR_NULL_HANDLE, QX_ERR_BAD_HANDLE}) {
    EXPECT_NE(std::strstr(LoadFailureText(rc), "support@pellumin.example"), nullptr) << rc;
  }
  EXPECT_NE(std::string(LoadFailureText(QX_ERR_NULL_HANDLE)), LoadFailureText(QX_ERR_BAD_HANDLE));
  EXPECT_STREQ(LoadFailureText(QX_ERR_NO_MEMORY), "could not be loaded correctly.");
}

TEST_F(EntryPointTest, UnterminatedKeyPathFailsWithoutReadingOrWritingPastTheBuffer) {
  std::vector<char> buffer(TARNWICK_MESSAGE_BUFFER_SIZE, 'K');
  EXPECT_EQ(HXInit(buffer.data()), 0);
  EXPECT_STREQ(buffer.data(),
               "Pellumin Error: The configuration key path is not terminated within 1024 bytes.");
}

TEST_F(EntryPointTest, FiltersEachKindOfRequest) {
  StandardFilter filter;
  WriteStandardFilter(&filter, FilterOptions({Dword("Log", 1), Dword("Mail", 0), Text("ErrorMsg", "<p>No</p>")}));
  std::string message;
  ASSERT_EQ(RunInit(filter.keyPath, &message), 1) << message;

  struct Case {
    std::string url;
    int result;
    std::string urlAfter;
    bool page;
  } cases[] = {
      {"http://unlisted.example/x", 1, "http://unlisted.example/x", false},
      {"http://alertonly.example/a/b", 1, LogLine("ALERTONLY.EXAMPLE", "10.1.2.3"), false},
      {"http://both.example/", 0, LogLine("BOTH.EXAMPLE", "10.1.2.3"), true},
      {"http://denyonly.example", 0, "http://denyonly.example", true},
      {"http://neither.example/", 1, "http://neither.example/", false},
      // Hosts below a listed domain, through the parent-domain lookup.
      {"http://www.denyonly.example/a", 0, "http://www.denyonly.example/a", true},
      {"http://a.b.both.example/", 0, LogLine("BOTH.EXAMPLE", "10.1.2.3"), true},
      {"no url at all", 1, "no url at all", false},
  };
  for (const Case& c : cases) {
    ClientPair pair;
    pair.host()->bytesSent = 7;
    std::string after;
    EXPECT_EQ(Process(pair, c.url, &after), c.result) << c.url;
    EXPECT_EQ(after, c.urlAfter);
    const std::string page = c.page ? ExpectedPage("<p>No</p>") : "";
    EXPECT_EQ(pair.host()->bytesSent, 7 + static_cast<int>(page.size())) << c.url;
    EXPECT_EQ(pair.CloseAndReadAll(), page) << c.url;
  }
}

TEST_F(EntryPointTest, SwitchesDecideLogLineAndAlertEntry) {
  struct Case {
    std::vector<std::string> values;
    bool logLine;
    int mailEnabled;
  } cases[] = {
      {{Dword("Log", 0), Dword("Mail", 0), Text("ErrorMsg", "")}, false, 0},
      {{Dword("Log", 1), Dword("Mail", 1), Text("ErrorMsg", "")}, true, 1},
      {{Text("ErrorMsg", "")}, true, -1},  // missing values read as -1, which is on
  };
  for (const Case& c : cases) {
    StandardFilter filter;
    WriteStandardFilter(&filter, FilterOptions(c.values));
    std::string message;
    ASSERT_EQ(RunInit(filter.keyPath, &message), 1) << message;
    EXPECT_EQ(filter_.values().mailEnabled, c.mailEnabled);
    ClientPair pair("client");
    std::string after;
    EXPECT_EQ(Process(pair, "http://both.example/", &after), 0);
    EXPECT_EQ(after, c.logLine ? LogLine("BOTH.EXAMPLE", "client") : "http://both.example/");
    // Delivery succeeds at once, so the batch is back to its header.
    EXPECT_EQ(filter_.alertBatch(), kAlertBatchHeader);
    EXPECT_EQ(filter_.alertCount(), 0);
    EXPECT_EQ(pair.CloseAndReadAll(), ExpectedPage(""));
    filter_.UnInit();
  }
}

TEST_F(EntryPointTest, FailedSendStillAnswersTheRequest) {
  StandardFilter filter;
  WriteStandardFilter(&filter);
  std::string message;
  ASSERT_EQ(RunInit(filter.keyPath, &message), 1) << message;
  ClientPair closed;
  ClientPair invalid;
  closed.ClosePluginEnd();
  invalid.host()->clientSocket = 0xFFFFFFFFu;
  for (ClientPair* pair : {&closed, &invalid}) {
    pair->host()->bytesSent = 42;
    std::string after;
    EXPECT_EQ(Process(*pair, "http://denyonly.example/", &after), 0);
    EXPECT_EQ(pair->host()->bytesSent, 42);
  }
}

TEST_F(EntryPointTest, EveryRequestPassesAfterAFailedInit) {
  TempDir dir;
  const std::string key = Registry::Get().FreshKeyPath("Failed");
  Registry::Get().Import({{key, {Text("ControlFile", dir.File("absent"))}}});
  std::string message;
  ASSERT_EQ(RunInit(key, &message), 0);
  ClientPair pair;
  std::string after;
  EXPECT_EQ(Process(pair, "http://both.example/", &after), 1);
  EXPECT_EQ(after, "http://both.example/");
  EXPECT_EQ(filter_.UnInit(), 1);
  EXPECT_EQ(filter_.UnInit(), 1);  // releases nothing twice
  EXPECT_EQ(pair.CloseAndReadAll(), "");
}

// The body and control file fields keep their earlier values when a value
// is too long for them, and the longest body that fits is sent whole.
TEST_F(EntryPointTest, OverlongValuesKeepTheFieldsAndTheLongestBodyIsSentWhole) {
  StandardFilter first;
  WriteStandardFilter(&first, FilterOptions({Text("ErrorMsg", "<p>first</p>")}));
  std::string message;
  ASSERT_EQ(RunInit(first.keyPath, &message), 1) << message;

  const std::string longest(kDenialBodySize - 1, 'b');
  struct Case {
    std::vector<std::string> values;
    std::string body;
  } cases[] = {
      // Too long by one: the read fails and the earlier body stays.
      {{Text("ErrorMsg", std::string(kDenialBodySize, 'x')),
        Text("ControlFile", std::string(settings::kControlFilePathSize, 'p'))},
       "<p>first</p>"},
      {{HexText("ErrorMsg", "a\r\nb")}, "a\r\nb"},
      {{Text("ErrorMsg", longest)}, longest},
  };
  for (const Case& c : cases) {
    StandardFilter filter;
    // No ControlFile of its own unless the case writes one: the earlier
    // path must still be in force.
    FilterOptions options{c.values, true};
    WriteStandardFilter(&filter, options);
    ASSERT_EQ(RunInit(filter.keyPath, &message), 1) << message;
    EXPECT_STREQ(filter_.values().controlFilePath, first.controlFile.c_str());
    ClientPair pair;
    std::string after;
    EXPECT_EQ(Process(pair, "http://denyonly.example/", &after), 0);
    const std::string page = pair.CloseAndReadAll();
    EXPECT_EQ(page, ExpectedPage(c.body));
    EXPECT_EQ(page.size(), kDenialPageFixedLength + c.body.size());
  }
}

// A key path longer than 249 characters still finds its own subkeys, never
// a key whose path is a cut of the joined one.
TEST_F(EntryPointTest, LongKeyPathOpensItsOwnSubkeys) {
  std::string path = Registry::Get().FreshKeyPath("Long");
  while (path.size() < 300) path += "\\Component";
  const std::string joined = path + "\\Deny";
  const std::string cut = joined.substr(0, 255);
  StandardFilter filter;
  WriteStandardFilter(&filter, FilterOptions({Text("ErrorMsg", "")}, false, path));
  // A decoy at the cut path denies "Chat".
  Registry::Get().Import({{cut.substr(0, cut.rfind('\\') + 1) + "Decoy", {}},
                          {cut.back() == '\\' ? cut + "X" : cut, {Dword("ChatState", 1)}}});
  std::string message;
  ASSERT_EQ(RunInit(path, &message), 1) << message;
  ClientPair pair;
  std::string after;
  EXPECT_EQ(Process(pair, "http://denyonly.example/", &after), 0);
  EXPECT_EQ(Process(pair, "http://alertonly.example/", &after), 1);
  EXPECT_EQ(pair.CloseAndReadAll(), ExpectedPage(""));
}

// The client text is read only within its room, even when the host left it
// unterminated, and the log line stays inside the URL buffer.
TEST_F(EntryPointTest, LogLineStaysWithinTheHostsBuffers) {
  StandardFilter filter;
  WriteStandardFilter(&filter, FilterOptions({Dword("Log", 1), Dword("Mail", 1)}));
  std::string message;
  ASSERT_EQ(RunInit(filter.keyPath, &message), 1) << message;
  ClientPair pair;
  HostConnection* host = pair.host();
  std::memset(host->clientAddress, 'c', TARNWICK_CLIENT_ADDRESS_SIZE);
  std::memset(&host->bytesSent, 'A', sizeof(HostConnection) - offsetof(HostConnection, bytesSent));
  std::string after;
  EXPECT_EQ(Process(pair, "http://alertonly.example/", &after), 1);
  EXPECT_EQ(after, LogLine("ALERTONLY.EXAMPLE", std::string(TARNWICK_CLIENT_ADDRESS_SIZE, 'c')));
  EXPECT_LT(after.size(), static_cast<std::size_t>(TARNWICK_URL_BUFFER_SIZE));
}

// What a host sees: the library exports exactly the four entry points, and
// they work when called through it (HXConfig, which opens a window or a
// terminal screen, is called by the configuration interface's own tests).
TEST_F(EntryPointTest, LibraryExportsOnlyTheEntryPoints) {
  platform::SharedLibrary library;
  std::string error;
  ASSERT_TRUE(library.Load(TARNWICK_LIBRARY_PATH, &error)) << error;
  for (const char* name : {"HXConfig", "HXInit", "HXProcURL", "HXUnInit"}) {
    EXPECT_NE(library.Symbol(name), nullptr) << name;
  }
  EXPECT_EQ(library.Symbol("_ZN8tarnwick17DeliverAlertBatchEv"), nullptr);

  using InitFunction = int(HX_CALL*)(char*);
  using UnInitFunction = int(HX_CALL*)(int);
  auto init = reinterpret_cast<InitFunction>(library.Symbol("HXInit"));
  auto unInit = reinterpret_cast<UnInitFunction>(library.Symbol("HXUnInit"));
  ASSERT_NE(init, nullptr);
  StandardFilter filter;
  WriteStandardFilter(&filter);
  std::vector<char> buffer(TARNWICK_MESSAGE_BUFFER_SIZE, '\0');
  std::memcpy(buffer.data(), filter.keyPath.c_str(), filter.keyPath.size() + 1);
  EXPECT_EQ(init(buffer.data()), 1);
  EXPECT_STREQ(buffer.data(), "Pellumin Plugin V1.0 Initialized Correctly!");
  using ProcFunction = int(HX_CALL*)(HostConnection*, char*);
  auto proc = reinterpret_cast<ProcFunction>(library.Symbol("HXProcURL"));
  ASSERT_NE(proc, nullptr);
  for (const auto& [url, result] : {std::pair<std::string, int>{"http://denyonly.example/", 0},
                                    std::pair<std::string, int>{"http://neither.example/", 1}}) {
    ClientPair pair;
    std::vector<char> urlBuffer(TARNWICK_URL_BUFFER_SIZE, '\0');
    std::memcpy(urlBuffer.data(), url.c_str(), url.size() + 1);
    EXPECT_EQ(proc(pair.host(), urlBuffer.data()), result) << url;
  }
  EXPECT_EQ(unInit(0), 1);
}

}  // namespace
}  // namespace tarnwick
