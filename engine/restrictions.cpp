// restrictions.cpp -- the service's two restriction sets (business hours and
// other hours), the weekly business-hours table, and the period test that
// picks between them.
#include <cstdint>
#include <cstring>

#include "corvane.h"
#include "handles.h"
#include "platform.h"
#include "policy.h"
#include "service_state.h"

namespace corvane {

namespace {

constexpr int kAddMode = 1;
constexpr int kRemoveMode = 2;

int ChangeRestrictions(QxService* service, QxTypes* QxService::*slot, QxTypes* change, int mode) {
  int status = ValidateService(service);
  if (status != QX_OK) return status;
  status = ValidateTypes(change);
  if (status != QX_OK) return status;

  QxTypes*& target = service->*slot;
  if (target == nullptr) {
    // Created empty on first use, whatever the mode; released by
    // QX_FreeService with std::free like every set.
    auto* created = static_cast<QxTypes*>(PolicyCalloc(1, sizeof(QxTypes)));
    if (created == nullptr) return QX_ERR_NO_MEMORY;
    std::memcpy(created->magic, kTypesMagic, sizeof(created->magic));
    target = created;
  }

  // Read the change first: the caller may pass the service's own set.
  const std::uint32_t controls = change->controls;
  const std::uint32_t categories = change->categories;
  if (mode == kAddMode) {
    target->controls |= controls;
    target->categories |= categories;
  } else if (mode == kRemoveMode) {
    target->controls &= ~controls;
    target->categories &= ~categories;
  }
  return QX_OK;
}

}  // namespace

int IsBusinessHours(const QxService* service) {
  if (!(service->options & QX_OPTION_HOURS_ENABLED)) return 1;
  const platform::WeekdayHour now = StateOf(service)->env->LocalWeekdayHour();
  // A clock that reports no valid time has no business hour in the table.
  if (now.weekday < 0 || now.weekday > 6 || now.hour < 0 || now.hour > 23) return 0;
  return service->businessHours[now.weekday * 24 + now.hour] != 0 ? 1 : 0;
}

}  // namespace corvane

extern "C" {

int QX_CALL QX_Env_RegularRestrictions(QxService* service, QxTypes* set, int mode) {
  return corvane::ChangeRestrictions(service, &QxService::regularRestrictions, set, mode);
}

int QX_CALL QX_Env_NonBusinessRestrictions(QxService* service, QxTypes* set, int mode) {
  return corvane::ChangeRestrictions(service, &QxService::nonBusinessRestrictions, set, mode);
}

int QX_CALL QX_Env_BusinessHours(QxService* service, const unsigned char* hours) {
  const int status = corvane::ValidateService(service);
  if (status != QX_OK) return status;
  if (hours == nullptr) {
    service->options &= ~static_cast<std::uint32_t>(QX_OPTION_HOURS_ENABLED);
    return QX_OK;
  }
  std::memcpy(service->businessHours, hours, sizeof(service->businessHours));
  service->options |= QX_OPTION_HOURS_ENABLED;
  return QX_OK;
}

}  // extern "C"
