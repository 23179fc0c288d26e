// availability.cpp -- the filter's availability and the failure mode.
#include "availability.h"

namespace hxhost {

void FilterAvailability::SetUnavailable(const std::string& why) {
  {
    base::MutexLock lock(&mutex_);
    why_ = why;
  }
  available_.store(false);
}

std::string FilterAvailability::Describe() const {
  std::string why;
  {
    base::MutexLock lock(&mutex_);
    why = why_;
  }
  const std::string count = std::to_string(answered());
  if (mode_ == FailureMode::kAllow) {
    return "WARNING: the filter is unavailable (" + why +
           "); every request PASSES UNFILTERED (--on-failure allow), " + count +
           " so far; trying again every 30 seconds and on SIGHUP";
  }
  return "the filter is unavailable (" + why +
         "); every request is answered 503 (--on-failure deny), " + count +
         " so far; trying again every 30 seconds and on SIGHUP";
}

}  // namespace hxhost
