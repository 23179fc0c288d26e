// Tests of the restriction sets, the business-hours table and the choice of
// the set by the clock.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "corvane.h"
#include "policy.h"
#include "policy_testing.h"

namespace corvane {
namespace {

using testing::CategoryBit;
using testing::ControlBit;
using testing::FailingAllocations;
using testing::FixedClock;
using testing::NewService;
using testing::NewSet;

TEST(RestrictionsTest, AddsAndRemovesAccumulate) {
  struct Step {
    std::vector<int> categories;
    std::vector<int> controls;
    int mode;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    std::uint32_t categories;
    std::uint32_t controls;
  };
  const Case cases[] = {
      {"first add", {{{5}, {3}, 1}}, CategoryBit(5), ControlBit(3)},
      {"add then remove", {{{1, 2}, {}, 1}, {{2}, {}, 2}}, CategoryBit(1), 0},
      {"remove from nothing", {{{4}, {8}, 2}}, 0, 0},
      {"modes 0 and 3 change nothing", {{{6}, {16}, 1}, {{6}, {16}, 0}, {{7}, {}, 3}},
       CategoryBit(6), ControlBit(16)},
      {"controls and categories apart", {{{9}, {1, 5}, 1}, {{}, {1}, 2}}, CategoryBit(9),
       ControlBit(5)},
  };
  using Operation = int (*)(QxService*, QxTypes*, int);
  struct Which {
    Operation operation;
    QxTypes* QxService::*slot;
    QxTypes* QxService::*other;
  };
  const Which which[] = {
      {&QX_Env_RegularRestrictions, &QxService::regularRestrictions,
       &QxService::nonBusinessRestrictions},
      {&QX_Env_NonBusinessRestrictions, &QxService::nonBusinessRestrictions,
       &QxService::regularRestrictions},
  };
  for (const Which& w : which) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      auto service = NewService();
      for (const Step& step : c.steps) {
        auto set = NewSet();
        for (int category : step.categories) QX_SetThisCategory(set.get(), category);
        for (int control : step.controls) QX_SetThisControl(set.get(), control);
        ASSERT_EQ(QX_OK, w.operation(service.get(), set.get(), step.mode));
        // The given set is only read.
        EXPECT_EQ(0, std::memcmp(set->magic, "QXTP", 4));
      }
      const QxTypes* held = service.get()->*w.slot;
      ASSERT_NE(nullptr, held);
      EXPECT_EQ(0, std::memcmp(held->magic, "QXTP", 4));
      EXPECT_EQ(c.categories, held->categories);
      EXPECT_EQ(c.controls, held->controls);
      EXPECT_EQ(nullptr, service.get()->*w.other);
    }
  }
}

TEST(RestrictionsTest, RemovingEverythingEmptiesTheSet) {
  auto service = NewService();
  auto all = NewSet();
  QX_SetAllCategory(all.get());
  QX_SetAllControl(all.get());
  ASSERT_EQ(QX_OK, QX_Env_RegularRestrictions(service.get(), all.get(), 1));
  // The service's own set given as the change removes itself.
  ASSERT_EQ(QX_OK, QX_Env_RegularRestrictions(service.get(), service->regularRestrictions, 2));
  EXPECT_EQ(0u, service->regularRestrictions->categories);
  EXPECT_EQ(0u, service->regularRestrictions->controls);
}

TEST(RestrictionsTest, HandlesAreCheckedServiceFirst) {
  auto service = NewService();
  auto set = NewSet({1});
  QxTypes* asSet = reinterpret_cast<QxTypes*>(service.get());
  QxService* asService = reinterpret_cast<QxService*>(set.get());
  for (auto operation : {&QX_Env_RegularRestrictions, &QX_Env_NonBusinessRestrictions}) {
    EXPECT_EQ(QX_ERR_NULL_HANDLE, operation(nullptr, set.get(), 1));
    EXPECT_EQ(QX_ERR_BAD_HANDLE, operation(asService, set.get(), 1));
    EXPECT_EQ(QX_ERR_NULL_HANDLE, operation(nullptr, nullptr, 1));
    EXPECT_EQ(QX_ERR_NULL_HANDLE, operation(service.get(), nullptr, 1));
    EXPECT_EQ(QX_ERR_BAD_HANDLE, operation(service.get(), asSet, 1));
  }
  EXPECT_EQ(nullptr, service->regularRestrictions);
  EXPECT_EQ(nullptr, service->nonBusinessRestrictions);
}

TEST(RestrictionsTest, OutOfMemoryOnFirstUseLeavesNoSetAndMayBeRetried) {
  auto service = NewService();
  auto set = NewSet({3});
  FailingAllocations failing;
  const int failed = QX_Env_NonBusinessRestrictions(service.get(), set.get(), 1);
  failing.End();
  EXPECT_EQ(QX_ERR_NO_MEMORY, failed);
  EXPECT_EQ(nullptr, service->nonBusinessRestrictions);
  ASSERT_EQ(QX_OK, QX_Env_NonBusinessRestrictions(service.get(), set.get(), 1));
  EXPECT_EQ(CategoryBit(3), service->nonBusinessRestrictions->categories);
}

TEST(BusinessHoursTest, TableAndSwitch) {
  auto service = NewService();
  unsigned char table[QX_HOURS_SIZE] = {};
  table[1 * 24 + 9] = 1;
  table[6 * 24 + 23] = 7;
  ASSERT_EQ(QX_OK, QX_Env_BusinessHours(service.get(), table));
  EXPECT_EQ(QX_OPTION_HOURS_ENABLED, service->options & QX_OPTION_HOURS_ENABLED);
  EXPECT_EQ(0, std::memcmp(table, service->businessHours, QX_HOURS_SIZE));

  ASSERT_EQ(QX_OK, QX_SetIPOption(service.get(), 2));
  ASSERT_EQ(QX_OK, QX_Env_BusinessHours(service.get(), nullptr));
  EXPECT_EQ(0u, service->options & QX_OPTION_HOURS_ENABLED);
  EXPECT_EQ(static_cast<std::uint32_t>(QX_OPTION_RESOLVE_HOSTS), service->options);

  auto set = NewSet();
  EXPECT_EQ(QX_ERR_NULL_HANDLE, QX_Env_BusinessHours(nullptr, table));
  EXPECT_EQ(QX_ERR_BAD_HANDLE, QX_Env_BusinessHours(reinterpret_cast<QxService*>(set.get()), table));
}

TEST(BusinessHoursTest, PeriodTestReadsTheTableAtTheClocksHour) {
  struct Case {
    bool enabled;
    int weekday;
    int hour;
    int expected;
  };
  // Table: Monday to Friday 09:00-16:59, Sunday 00:00.
  unsigned char table[QX_HOURS_SIZE] = {};
  testing::FillHours(table, {1, 2, 3, 4, 5}, 9, 17);
  table[0] = 1;
  const Case cases[] = {
      {false, 0, 3, 1},  {false, 6, 23, 1},  // off: always business hours
      {true, 1, 9, 1},   {true, 1, 8, 0},    {true, 5, 16, 1}, {true, 5, 17, 0},
      {true, 6, 12, 0},  {true, 0, 0, 1},    {true, 0, 1, 0},  {true, 3, 23, 0},
      {true, 7, 9, 0},   {true, 1, 24, 0},   {true, -1, 9, 0},  // a broken clock
  };
  FixedClock clock(0, 0);
  for (const Case& c : cases) {
    auto service = NewService(&clock);
    if (c.enabled) {
      ASSERT_EQ(QX_OK, QX_Env_BusinessHours(service.get(), table));
    }
    clock.Set(c.weekday, c.hour);
    EXPECT_EQ(c.expected, IsBusinessHours(service.get()))
        << "enabled " << c.enabled << " weekday " << c.weekday << " hour " << c.hour;
  }
}

TEST(BusinessHoursTest, TheCheckUsesTheSetOfThePeriod) {
  // A site record in category 2; the business-hours set denies 2, the other
  // set denies nothing but personal pages.
  FixedClock clock(0, 0);
  auto service = NewService(&clock);
  auto request = NewSet({2});
  ASSERT_EQ(QX_OK, QX_UpdateSiteList(service.get(), "http://shop.example.com/", request.get()));
  auto regular = NewSet({2});
  auto other = NewSet({}, {4});
  ASSERT_EQ(QX_OK, QX_Env_RegularRestrictions(service.get(), regular.get(), 1));
  ASSERT_EQ(QX_OK, QX_Env_NonBusinessRestrictions(service.get(), other.get(), 1));

  unsigned char allClosed[QX_HOURS_SIZE] = {};
  unsigned char mondayNine[QX_HOURS_SIZE] = {};
  mondayNine[1 * 24 + 9] = 1;
  struct Case {
    const unsigned char* table;  // null: hours off
    int weekday;
    int hour;
    int expected;
  };
  const Case cases[] = {
      {nullptr, 0, 3, QX_RESTRICTED},        {nullptr, 3, 22, QX_RESTRICTED},
      {allClosed, 1, 9, QX_UNRESTRICTED},    {mondayNine, 1, 9, QX_RESTRICTED},
      {mondayNine, 1, 10, QX_UNRESTRICTED},  {mondayNine, 2, 9, QX_UNRESTRICTED},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(QX_OK, QX_Env_BusinessHours(service.get(), c.table));
    clock.Set(c.weekday, c.hour);
    auto result = NewSet();
    auto reason = NewSet();
    EXPECT_EQ(c.expected, QX_Env_UrlCheck(service.get(), "http://shop.example.com/", nullptr,
                                          nullptr, result.get(), reason.get()))
        << "weekday " << c.weekday << " hour " << c.hour;
  }
}

// Each service reads its own clock: two services whose clocks stand at
// different hours answer from threads at the same time, each for its own
// hour, while one of the clocks is moved back and forth.
TEST(BusinessHoursTest, ServicesWithTheirOwnClocksRunSideBySide) {
  unsigned char table[QX_HOURS_SIZE] = {};
  testing::FillHours(table, {1}, 9, 17);  // Monday 09:00-16:59
  FixedClock open(1, 10);
  FixedClock closed(1, 20);
  auto inHours = NewService(&open);
  auto outOfHours = NewService(&closed);
  ASSERT_EQ(QX_OK, QX_Env_BusinessHours(inHours.get(), table));
  ASSERT_EQ(QX_OK, QX_Env_BusinessHours(outOfHours.get(), table));
  std::atomic<int> wrong{0};
  std::atomic<bool> stop{false};
  std::thread mover([&] {
    // Moves the closed clock between two hours that are both out of hours.
    for (int i = 0; !stop; ++i) closed.Set(1, i % 2 ? 20 : 3);
  });
  std::vector<std::thread> readers;
  for (int t = 0; t < 2; ++t) {
    readers.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        if (IsBusinessHours(inHours.get()) != 1) ++wrong;
        if (IsBusinessHours(outOfHours.get()) != 0) ++wrong;
      }
    });
  }
  for (std::thread& reader : readers) reader.join();
  stop = true;
  mover.join();
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace corvane
