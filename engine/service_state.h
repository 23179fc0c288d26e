// service_state.h -- what the service keeps beyond the fields that
// corvane.h shows: the search index of each list and the options that only
// the engine reads.
//
// QX_Init (or NewServiceWithEnv) allocates a ServiceState, whose first
// member is the QxService that callers see; the record they see keeps its
// layout, and the rest lies beyond it. A service is therefore made only
// there.
#ifndef PELLUMIN_ENGINE_SERVICE_STATE_H_
#define PELLUMIN_ENGINE_SERVICE_STATE_H_

#include <type_traits>

#include "corvane.h"
#include "env.h"
#include "file_mapping.h"
#include "list_index.h"

namespace corvane {

struct ServiceState {
  QxService service;        // first: a QxService* is a ServiceState*
  ListIndex controlIndex;   // describes controlRecords
  // The file the control list is mapped from, when it is: controlRecords
  // then points into it (read-only) instead of to an array of its own.
  platform::FileMapping controlMapping;
  // The shared block the control index lies in, when it was taken from one
  // (a list of kSharedIndexMinRecords and more): the index's arrays then
  // point into it and are not freed.
  platform::FileMapping controlIndexMapping;
  ListIndex siteIndex;      // describes siteRecords
  bool parentDomains;       // QX_SetParentDomainOption
  platform::Env* env;       // the clock and the resolver; never null
};

static_assert(std::is_standard_layout<ServiceState>::value,
              "the service record must open the state");

// The state of a validated service.
inline ServiceState* StateOf(QxService* service) {
  return reinterpret_cast<ServiceState*>(service);
}
inline const ServiceState* StateOf(const QxService* service) {
  return reinterpret_cast<const ServiceState*>(service);
}

}  // namespace corvane

#endif  // PELLUMIN_ENGINE_SERVICE_STATE_H_
