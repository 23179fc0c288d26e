// filter_state.h -- the plug-in's run-time state, one process-wide instance.
#ifndef PELLUMIN_PLUGIN_FILTER_STATE_H_
#define PELLUMIN_PLUGIN_FILTER_STATE_H_

#include <cstddef>
#include <cstdint>

#include "corvane.h"
#include "filter_settings.h"

namespace tarnwick {

using settings::kControlFilePathSize;
using settings::kDenialBodySize;
constexpr std::size_t kAlertBatchSize = 32000;

// The fields in the order the plug-in has always kept them. urlSet and
// scratchSet are allocated by HXInit and released by HXUnInit like the
// others, but HXProcURL works on sets of its own call (see tarnwick.h,
// Threads), so that concurrent requests share nothing but read-only state.
struct FilterState {
  QxService* service;
  QxTypes* denySet;
  QxTypes* alertSet;
  QxTypes* urlSet;
  QxTypes* scratchSet;
  std::int32_t logEnabled;
  std::int32_t mailEnabled;
  char controlFilePath[kControlFilePathSize];
  char denialBody[kDenialBodySize];
  char alertBatch[kAlertBatchSize];
  std::int32_t alertCount;
  std::int32_t alertThreshold;
};

// The instance, with the values it holds when the plug-in is loaded.
FilterState& GlobalFilterState();

}  // namespace tarnwick

#endif  // PELLUMIN_PLUGIN_FILTER_STATE_H_
