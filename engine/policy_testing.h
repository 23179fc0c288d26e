// policy_testing.h -- small helpers shared by the tests of the policy side:
// owning handles for services and sets, a fixed clock, allocations made to
// fail, and a resolver that answers from a table.
#ifndef PELLUMIN_ENGINE_POLICY_TESTING_H_
#define PELLUMIN_ENGINE_POLICY_TESTING_H_

#include <cstring>
#include <initializer_list>
#include <memory>

#include "corvane.h"
#include "platform.h"
#include "policy.h"

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

// A set holding the given category and control numbers.
inline TypesPtr NewSet(std::initializer_list<int> categories = {},
                       std::initializer_list<int> controls = {}) {
  TypesPtr set(QX_AllocateTypes());
  for (int category : categories) QX_SetThisCategory(set.get(), category);
  for (int control : controls) QX_SetThisControl(set.get(), control);
  return set;
}

// Fixes the engine's clock at one weekday and hour while it lives.
class FixedClock {
 public:
  FixedClock(int weekday, int hour) {
    now_ = {weekday, hour};
    previous_ = platform::SetClockHookForTesting(&Now);
  }
  ~FixedClock() { platform::SetClockHookForTesting(previous_); }
  FixedClock(const FixedClock&) = delete;
  FixedClock& operator=(const FixedClock&) = delete;

  static void Set(int weekday, int hour) { now_ = {weekday, hour}; }

 private:
  static platform::WeekdayHour Now() { return now_; }
  static inline platform::WeekdayHour now_{0, 0};
  platform::ClockHook previous_;
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
