// availability.h -- whether hxhost's filter is in force, and what the proxy
// does while it is not (--on-failure).
#ifndef PELLUMIN_HOST_AVAILABILITY_H_
#define PELLUMIN_HOST_AVAILABILITY_H_

#include <atomic>
#include <cstdint>
#include <string>

#include "base/mutex.h"
#include "base/thread_annotations.h"

namespace hxhost {

// What a proxy whose filter cannot be loaded does with each request.
enum class FailureMode {
  kDeny,   // answers 503, saying the filter is unavailable
  kAllow,  // forwards it unfiltered, and counts it
};

// Read by every connection, set at start and by each reload: a failed
// start leaves the filter unavailable until a reload loads it.
class FilterAvailability {
 public:
  explicit FilterAvailability(FailureMode mode) : mode_(mode) {}
  FilterAvailability(const FilterAvailability&) = delete;
  FilterAvailability& operator=(const FilterAvailability&) = delete;

  FailureMode mode() const { return mode_; }
  bool available() const { return available_.load(); }
  void SetAvailable() { available_.store(true); }
  // why: the plug-in's message.
  void SetUnavailable(const std::string& why) EXCLUDES(mutex_);

  // Counts one request answered by the mode.
  void CountAnswered() { answered_.fetch_add(1); }
  std::uint64_t answered() const { return answered_.load(); }

  // One line for the diagnostics: why there is no filter, what every
  // request gets meanwhile, and how many have had it.
  std::string Describe() const EXCLUDES(mutex_);

 private:
  const FailureMode mode_;
  std::atomic<bool> available_{true};
  std::atomic<std::uint64_t> answered_{0};
  mutable base::Mutex mutex_;
  std::string why_ GUARDED_BY(mutex_);
};

}  // namespace hxhost

#endif  // PELLUMIN_HOST_AVAILABILITY_H_
