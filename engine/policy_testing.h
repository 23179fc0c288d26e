// policy_testing.h -- small helpers shared by the tests of the policy side:
// owning handles for services and sets, an environment with a fixed clock,
// and allocations made to fail.
#ifndef PELLUMIN_ENGINE_POLICY_TESTING_H_
#define PELLUMIN_ENGINE_POLICY_TESTING_H_

#include <atomic>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "corvane.h"
#include "env.h"
#include "policy.h"
#include "service_env.h"

namespace corvane {
namespace testkit {

struct ServiceDeleter {
  void operator()(QxService* service) const { QX_FreeService(service); }
};
using ServicePtr = std::unique_ptr<QxService, ServiceDeleter>;

struct TypesDeleter {
  void operator()(QxTypes* set) const { QX_FreeTypes(set); }
};
using TypesPtr = std::unique_ptr<QxTypes, TypesDeleter>;

inline ServicePtr NewService() { return ServicePtr(QX_Init()); }
// A service whose clock and resolver are env's.
inline ServicePtr NewService(platform::Env* env) { return ServicePtr(NewServiceWithEnv(env)); }

// A set holding the given category and control numbers.
inline TypesPtr NewSet(std::initializer_list<int> categories = {},
                       std::initializer_list<int> controls = {}) {
  TypesPtr set(QX_AllocateTypes());
  for (int category : categories) QX_SetThisCategory(set.get(), category);
  for (int control : controls) QX_SetThisControl(set.get(), control);
  return set;
}

// The default environment, except that files are never mapped: every list
// is read into an array, as where mapping is not to be had.
class NoMappingEnv : public platform::EnvWrapper {
 public:
  NoMappingEnv() : EnvWrapper(platform::Env::Default()) {}
  bool MapFileReadOnly(const char*, std::size_t, platform::FileMapping*) override { return false; }
};

// An environment whose clock stands at one weekday and hour, which the test
// may move (also while services read it from other threads); everything
// else is the default environment's. Hand it to NewService(&clock).
class FixedClock : public platform::EnvWrapper {
 public:
  FixedClock(int weekday, int hour) : EnvWrapper(platform::Env::Default()) { Set(weekday, hour); }

  void Set(int weekday, int hour) {
    weekday_.store(weekday, std::memory_order_relaxed);
    hour_.store(hour, std::memory_order_relaxed);
  }
  platform::WeekdayHour LocalWeekdayHour() override {
    return platform::WeekdayHour{weekday_.load(std::memory_order_relaxed),
                                 hour_.load(std::memory_order_relaxed)};
  }

 private:
  std::atomic<int> weekday_{0};
  std::atomic<int> hour_{0};
};

// Makes every allocation of the policy side fail, as if memory had run out,
// from construction until End() (or destruction, whichever comes first).
class FailingAllocations {
 public:
  FailingAllocations() : previous_(SetAllocationFailureHookForTesting(&Fail)) {}
  ~FailingAllocations() { End(); }
  FailingAllocations(const FailingAllocations&) = delete;
  FailingAllocations& operator=(const FailingAllocations&) = delete;

  // Restores the allocation hook that was there before.
  void End() {
    if (!active_) return;
    SetAllocationFailureHookForTesting(previous_);
    active_ = false;
  }

 private:
  static bool Fail() { return true; }
  AllocationFailureHook previous_;
  bool active_ = true;
};

// A business-hours table with the given hours of the given weekdays set.
inline void FillHours(unsigned char* table, std::initializer_list<int> weekdays, int fromHour,
                      int toHour) {
  for (int weekday : weekdays) {
    for (int hour = fromHour; hour < toHour; ++hour) table[weekday * 24 + hour] = 1;
  }
}

}  // namespace testkit
}  // namespace corvane

#endif  // PELLUMIN_ENGINE_POLICY_TESTING_H_
