// Tests of the filter loader as its two kinds of caller use it: HXInit
// (re-initialisation that fails, a settings file that does not parse) and
// a host that builds its own filter and describes what is in force.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "env.h"
#include "filter_loader.h"
#include "filter.h"
#include "tarnwick.h"
#include "testing/host_fixture.h"
#include "testing/plugin_setup.h"

namespace tarnwick {
namespace {

using testkit::ClientPair;
using testkit::Dword;
using testkit::FilterOptions;
using testkit::Registry;
using testkit::RegistryEnv;
using testkit::StandardFilter;
using testkit::TempDir;
using testkit::Text;

class FilterLoaderTest : public ::testing::Test {
 protected:
  int RunInit(const std::string& path, std::string* message) {
    return testkit::RunInit(filter_, path, message);
  }
  int FilterUrl(const std::string& url) { return testkit::FilterUrl(filter_, url); }
  bool DescribeStoredFilter(const char* keyPath, std::vector<std::string>* lines,
                            std::string* error) {
    settings::RegistryStore store(env_.registry());
    return settings::DescribeStoredFilter(store, keyPath, lines, error);
  }
  // The test program's settings file, which a test may swap for another.
  RegistryEnv env_{Registry::Get().env()->registry()};
  Filter filter_{&env_};
};

// A reload that fails keeps the filter in force; one that succeeds
// replaces it, lists and switches alike.
TEST_F(FilterLoaderTest, FailedReinitialisationKeepsTheFilterInForce) {
  StandardFilter filter;
  testkit::WriteStandardFilter(&filter);
  std::string message;
  ASSERT_EQ(RunInit(filter.keyPath, &message), 1) << message;
  ASSERT_EQ(FilterUrl("http://denyonly.example/"), 0);

  TempDir dir;
  const std::string absent = dir.File("absent.lst");
  Registry::Get().Import({{filter.keyPath, {Text("ControlFile", absent)}}});
  EXPECT_EQ(RunInit(filter.keyPath, &message), 0);
  EXPECT_EQ(message, "Pellumin Error: " + absent + " could not be loaded correctly.");
  EXPECT_EQ(FilterUrl("http://denyonly.example/"), 0) << "the old deny set went";
  EXPECT_STREQ(filter_.values().controlFilePath, filter.controlFile.c_str());

  // Back to the good list, with Drugs no longer denied and Sports denied.
  Registry::Get().Import({{filter.keyPath, {Text("ControlFile", filter.controlFile)}},
                          {filter.keyPath + "\\Deny", {Dword("DrugsState", 0),
                                                       Dword("SportsState", 1)}}});
  ASSERT_EQ(RunInit(filter.keyPath, &message), 1) << message;
  EXPECT_EQ(FilterUrl("http://denyonly.example/"), 1);
  EXPECT_EQ(FilterUrl("http://neither.example/"), 0);
}

// Settings that are gone (a key removed, a settings file moved away or
// emptied) would re-initialise to empty deny and alert sets over the same
// list, and everything would pass: such a re-initialisation fails instead.
TEST_F(FilterLoaderTest, ReinitialisationWithoutItsKeyKeepsTheFilterInForce) {
  StandardFilter filter;
  testkit::WriteStandardFilter(&filter);
  std::string message;
  ASSERT_EQ(RunInit(filter.keyPath, &message), 1) << message;

  const std::string gone = Registry::Get().FreshKeyPath("Gone");
  EXPECT_EQ(RunInit(gone, &message), 0);
  EXPECT_EQ(message.rfind("Pellumin Error: the settings cannot be read: ", 0), 0u) << message;
  EXPECT_NE(message.find("no key HKEY_LOCAL_MACHINE\\" + gone), std::string::npos) << message;
  EXPECT_EQ(FilterUrl("http://denyonly.example/"), 0) << "the deny set went";

#if !defined(_WIN32)
  TempDir dir;
  for (const std::string& store : {dir.File("moved-away.reg"), dir.Write("emptied.reg", "")}) {
    const std::unique_ptr<platform::Registry> other = platform::NewFileRegistry(store);
    env_.set_registry(other.get());
    const int result = RunInit(filter.keyPath, &message);
    env_.set_registry(Registry::Get().env()->registry());
    EXPECT_EQ(result, 0) << store;
    EXPECT_NE(message.find(store), std::string::npos) << message;
    EXPECT_EQ(FilterUrl("http://denyonly.example/"), 0) << store;
  }
#endif

  // A first HXInit without its key keeps its meaning: the defaults, and
  // whatever list file they name.
  filter_.UnInit();
  RunInit(gone, &message);
  EXPECT_EQ(message.find("the settings cannot be read"), std::string::npos) << message;
}

#if !defined(_WIN32)
// The settings file stands for the registry on POSIX; one that does not
// parse must not make the filter run on defaults.
TEST_F(FilterLoaderTest, MalformedSettingsFileIsNamedWithLineAndFault) {
  TempDir dir;
  const std::string file = dir.Write("hklm.reg",
                                     "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bad]\r\n"
                                     "\"Log\"=dword:1\r\n\"ControlFile\"=\"unterminated\r\n");
  const std::unique_ptr<platform::Registry> malformed = platform::NewFileRegistry(file);
  env_.set_registry(malformed.get());
  std::string message;
  const int result = RunInit("SOFTWARE\\Bad", &message);
  std::vector<std::string> lines;
  std::string error;
  const bool described = DescribeStoredFilter("SOFTWARE\\Bad", &lines, &error);
  env_.set_registry(Registry::Get().env()->registry());

  EXPECT_EQ(result, 0);
  EXPECT_EQ(message.rfind("Pellumin Error: the settings cannot be read: " + file + ": line ", 0),
            0u)
      << message;
  EXPECT_NE(message.find("line 5"), std::string::npos) << message;
  EXPECT_EQ(FilterUrl("http://both.example/"), 1);
  EXPECT_FALSE(described);
  EXPECT_NE(error.find(file + ": line 5"), std::string::npos) << error;
}
#endif

// A host with its own filter loads it through the same function and gets
// the same sets and verdicts as HXInit.
TEST_F(FilterLoaderTest, LoadFilterBuildsWhatHXInitBuilds) {
  StandardFilter filter;
  testkit::WriteStandardFilter(&filter, FilterOptions({Dword("Log", 0), Dword("Mail", 1)}));
  settings::RegistryStore store(env_.registry());
  LoadedFilter loaded = DefaultLoadedFilter();
  char message[TARNWICK_MESSAGE_BUFFER_SIZE];
  ASSERT_EQ(LoadFilter(store, filter.keyPath.c_str(), &loaded, message, sizeof message), 1) << message;
  EXPECT_STREQ(message, "Pellumin Plugin V1.0 Initialized Correctly!");
  EXPECT_EQ(loaded.logEnabled, 0);
  EXPECT_EQ(loaded.mailEnabled, 1);
  EXPECT_EQ(loaded.service->controlCount, 4);

  struct Case {
    const char* url;
    bool categorized, alert, deny;
  } cases[] = {
      {"http://both.example/a", true, true, true},
      {"http://denyonly.example/", true, false, true},
      {"http://alertonly.example/", true, true, false},
      {"http://neither.example/", true, false, false},
      {"http://unlisted.example/", false, false, false},
      {"not a url", false, false, false},
  };
  for (const Case& c : cases) {
    char keyText[QX_KEY_TEXT_SIZE + 1];
    UrlVerdict verdict = ClassifyUrl(loaded, &env_, c.url, keyText);
    EXPECT_EQ(verdict.categorized, c.categorized) << c.url;
    EXPECT_EQ(verdict.alert, c.alert) << c.url;
    EXPECT_EQ(verdict.deny, c.deny) << c.url;
  }
  ReleaseFilter(&loaded);
  EXPECT_EQ(loaded.service, nullptr);

  // A list that does not load: the plug-in's message, and nothing held.
  TempDir dir;
  Registry::Get().Import({{filter.keyPath, {Text("ControlFile", dir.File("gone"))}}});
  loaded = DefaultLoadedFilter();
  EXPECT_EQ(LoadFilter(store, filter.keyPath.c_str(), &loaded, message, 40), 0);
  EXPECT_EQ(std::strlen(message), 39u) << "cut to the room given";
  EXPECT_EQ(loaded.service, nullptr);
  EXPECT_EQ(loaded.denySet, nullptr);
}

TEST_F(FilterLoaderTest, DescriptionNamesCategoriesAndCountsRecords) {
  StandardFilter filter;
  testkit::WriteStandardFilter(&filter);
  std::vector<std::string> lines;
  std::string error;
  ASSERT_TRUE(DescribeStoredFilter(filter.keyPath.c_str(), &lines, &error)) << error;
  // Deny: Sex and Drugs at 1, Chat 0, Sports 2 (not exactly 1); Alert: Sex,
  // Chat, Sports all bits (not 1). Names come in table order.
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "denied categories: Drugs, Sex",
                       "alerted categories: Chat, Sex",
                       "control list: " + filter.controlFile + " (4 records)"}));

  TempDir dir;
  const std::string empty = dir.Write("empty.lst", std::string(4, '\0'));
  const std::string key = Registry::Get().FreshKeyPath("Describe");
  Registry::Get().Import({{key, {Text("ControlFile", empty)}}});
  ASSERT_TRUE(DescribeStoredFilter(key.c_str(), &lines, &error)) << error;
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "denied categories: none", "alerted categories: none",
                       "control list: " + empty + " (0 records: nothing will match)"}));

  Registry::Get().Import({{key, {Text("ControlFile", dir.File("missing.lst"))}}});
  EXPECT_FALSE(DescribeStoredFilter(key.c_str(), &lines, &error));
  EXPECT_NE(error.find("missing.lst cannot be opened"), std::string::npos) << error;
}

}  // namespace
}  // namespace tarnwick
