// Tests of business hours in the request filter: the "Hours" list denies
// while the local clock is in the stored hours, the period is judged per
// request, and a "BusinessHours" text that does not parse fails HXInit and
// keeps a filter in force.
#include <atomic>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filter.h"
#include "filter_loader.h"
#include "tarnwick.h"
#include "testing/host_fixture.h"
#include "testing/plugin_setup.h"
#include "testing/registry_env.h"

namespace tarnwick {
namespace {

using testkit::ClientPair;
using testkit::Dword;
using testkit::FilterOptions;
using testkit::Registry;
using testkit::StandardFilter;
using testkit::Text;

// The test program's settings file with a clock the test sets.
class FixedClockEnv final : public platform::EnvWrapper {
 public:
  explicit FixedClockEnv(platform::Env* target) : EnvWrapper(target) {}
  void Set(int weekday, int hour) { now_ = weekday * 24 + hour; }
  platform::WeekdayHour LocalWeekdayHour() override {
    const int now = now_.load();
    return {now / 24, now % 24};
  }

 private:
  std::atomic<int> now_{0};
};

enum Day { kSun, kMon, kTue, kWed, kThu, kFri, kSat };

class BusinessHoursTest : public ::testing::Test {
 protected:
  // The standard filter (Deny: Sex, Drugs; Alert: Sex, Chat) with an
  // "Hours" list of Chat and Sports and the main-key lines given.
  void WriteFilter(const std::vector<std::string>& mainValues) {
    testkit::WriteStandardFilter(&filter_, FilterOptions(mainValues));
    Registry::Get().Import({{filter_.keyPath + "\\Hours",
                             {Dword("ChatState", 1), Dword("SportsState", 1), Dword("SexState", 0)}}});
  }
  // ProcessUrl's result, with the URL buffer as it was left.
  int Filter(const std::string& url, std::string* left) {
    ClientPair pair;
    std::vector<char> buffer(TARNWICK_URL_BUFFER_SIZE, '\0');
    url.copy(buffer.data(), url.size());
    const int result = plugin_.ProcessUrl(pair.host(), buffer.data());
    *left = buffer.data();
    return result;
  }

  testkit::RegistryEnv registryEnv_{Registry::Get().env()->registry()};
  FixedClockEnv clock_{&registryEnv_};
  tarnwick::Filter plugin_{&clock_};
  StandardFilter filter_;
};

TEST_F(BusinessHoursTest, HoursListDeniesOnlyDuringTheStoredHours) {
  WriteFilter({Text("BusinessHours", "Mon-Fri 08-12,13-17")});
  std::string message;
  ASSERT_EQ(testkit::RunInit(plugin_, filter_.keyPath, &message), 1) << message;

  const std::string logged = "~Pellumin Plugin: Access denied to URL: ";
  struct Case {
    int weekday, hour;
    const char* url;
    int result;        // 0 denied
    bool logLine;      // the URL buffer holds the access log line
  } cases[] = {
      // Sports is in the Hours list only.
      {kMon, 9, "http://neither.example/", 0, false},
      {kMon, 12, "http://neither.example/", 1, false},
      {kMon, 16, "http://neither.example/", 0, false},
      {kMon, 17, "http://neither.example/", 1, false},
      {kSat, 10, "http://neither.example/", 1, false},
      {kSun, 9, "http://neither.example/", 1, false},
      // Drugs is in the Deny set: denied at every hour.
      {kMon, 9, "http://denyonly.example/", 0, false},
      {kMon, 12, "http://denyonly.example/", 0, false},
      {kSat, 3, "http://denyonly.example/", 0, false},
      // Chat is alerted and in the Hours list: logged always, denied in hours.
      {kMon, 9, "http://alertonly.example/", 0, true},
      {kTue, 20, "http://alertonly.example/", 1, true},
      // Not in the list: passes, untouched, whatever the hour.
      {kWed, 10, "http://unlisted.example/", 1, false},
  };
  // One filter for every case: the hour is read per request, no reload.
  for (const Case& c : cases) {
    clock_.Set(c.weekday, c.hour);
    std::string left;
    EXPECT_EQ(Filter(c.url, &left), c.result) << c.url << " at " << c.weekday << ":" << c.hour;
    EXPECT_EQ(left.rfind(logged, 0) == 0, c.logLine) << c.url << ": " << left;
    if (!c.logLine) {
      EXPECT_EQ(left, c.url);
    }
  }
}

TEST_F(BusinessHoursTest, WithoutTheValueTheHoursListIsNotApplied) {
  WriteFilter({});
  std::string message;
  ASSERT_EQ(testkit::RunInit(plugin_, filter_.keyPath, &message), 1) << message;
  for (int hour : {0, 9, 15, 23}) {
    clock_.Set(kMon, hour);
    std::string left;
    EXPECT_EQ(Filter("http://neither.example/", &left), 1) << hour;
    EXPECT_EQ(Filter("http://denyonly.example/", &left), 0) << hour;
  }
  EXPECT_EQ(plugin_.values().hoursEnabled, 0);
}

TEST_F(BusinessHoursTest, AnEmptyValueHasNoBusinessHour) {
  // Stored but holding no group: hours are on and none is a business hour.
  WriteFilter({Text("BusinessHours", "")});
  std::string message;
  ASSERT_EQ(testkit::RunInit(plugin_, filter_.keyPath, &message), 1) << message;
  clock_.Set(kMon, 10);
  std::string left;
  EXPECT_EQ(Filter("http://neither.example/", &left), 1);
  EXPECT_EQ(plugin_.values().hoursEnabled, 1);
}

TEST_F(BusinessHoursTest, ValueThatDoesNotParseFailsInitAndAReloadKeepsTheFilter) {
  struct Case {
    const char* text;
    const char* why;  // part of the message
  } cases[] = {
      {"Mon-Fry 08-17", "unknown day or day range \"Mon-Fry\""},
      {"Mon-Fri 17-08", "not \"17-08\""},
      {"Mon-Fri", "needs days and hours"},
      {"Mon-Fri 08-25", "not \"08-25\""},
  };
  for (const Case& c : cases) {
    tarnwick::Filter fresh(&clock_);
    WriteFilter({Text("BusinessHours", c.text)});
    std::string message;
    EXPECT_EQ(testkit::RunInit(fresh, filter_.keyPath, &message), 0) << c.text;
    EXPECT_NE(message.find("BusinessHours \"" + std::string(c.text) + "\""), std::string::npos)
        << message;
    EXPECT_NE(message.find(c.why), std::string::npos) << message;
    EXPECT_EQ(message.rfind("Pellumin Error: ", 0), 0u) << message;
    EXPECT_FALSE(fresh.loaded());
  }

  // In force with good hours, then a reload with a bad value: the old
  // filter and its hours stay.
  WriteFilter({Text("BusinessHours", "Mon 09-10")});
  std::string message;
  ASSERT_EQ(testkit::RunInit(plugin_, filter_.keyPath, &message), 1) << message;
  Registry::Get().Import({{filter_.keyPath, {Text("BusinessHours", "Mon 9-")}}});
  EXPECT_EQ(testkit::RunInit(plugin_, filter_.keyPath, &message), 0);
  clock_.Set(kMon, 9);
  std::string left;
  EXPECT_EQ(Filter("http://neither.example/", &left), 0) << "the hours in force went";
  clock_.Set(kMon, 10);
  EXPECT_EQ(Filter("http://neither.example/", &left), 1);
}

TEST_F(BusinessHoursTest, InForceLinesNameTheHoursAndTheirCategories) {
  WriteFilter({Text("BusinessHours", "Mon-Fri 08-12,13-17; Sat 09-12")});
  settings::RegistryStore store(registryEnv_.registry());
  std::vector<std::string> lines;
  std::string error;
  ASSERT_TRUE(settings::DescribeStoredFilter(store, filter_.keyPath.c_str(), &lines, &error)) << error;
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3],
            "business hours (local time): Mon-Fri 08-12,13-17; Sat 09-12; denied during them: "
            "Chat, Sports");

  LoadedFilter loaded = DefaultLoadedFilter();
  char message[TARNWICK_MESSAGE_BUFFER_SIZE];
  ASSERT_EQ(LoadFilter(store, filter_.keyPath.c_str(), &loaded, message, sizeof message), 1) << message;
  EXPECT_EQ(DescribeFilter(loaded.denySet, loaded.alertSet, loaded.controlFilePath,
                           loaded.service->controlCount, loaded.businessHours, loaded.hoursSet),
            lines);
  // The engine's own table and switch hold the same hours.
  EXPECT_NE(loaded.service->options & QX_OPTION_HOURS_ENABLED, 0u);
  EXPECT_NE(loaded.service->businessHours[kSat * 24 + 9], 0);
  EXPECT_EQ(loaded.service->businessHours[kSat * 24 + 12], 0);
  ReleaseFilter(&loaded);
}

}  // namespace
}  // namespace tarnwick
