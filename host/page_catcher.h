// page_catcher.h -- catching what the filter sends on the client socket,
// for an answer hxhost must send otherwise (a denied tunnel gets 403).
#ifndef PELLUMIN_HOST_PAGE_CATCHER_H_
#define PELLUMIN_HOST_PAGE_CATCHER_H_

#include <functional>
#include <string>

#include "base/mutex.h"
#include "net.h"

namespace hxhost {

// One loopback socket pair serves every call, one call at a time (filter
// calls are serialised anyway), so that a busy tunnel proxy does not make
// and close a pair per CONNECT. After each call hxhost sends a marker of
// this run's own on the same stream; what comes before it is what the
// filter wrote. The page is read only after the call, so it must fit the
// pair's socket buffers (a denial page is a few KiB; they hold 64 KiB and
// more).
class PageCatcher {
 public:
  PageCatcher();
  PageCatcher(const PageCatcher&) = delete;
  PageCatcher& operator=(const PageCatcher&) = delete;

  // Runs call with the socket to hand the filter, and returns in *page what
  // the call sent on it. When no pair can be made, call gets
  // platform::kNoSocket (what it sends goes nowhere), *error says why and
  // the result is false.
  bool Catch(const std::function<void(platform::SocketHandle)>& call, std::string* page,
             std::string* error) EXCLUDES(mutex_);

 private:
  bool Open(std::string* error) REQUIRES(mutex_);

  // One catch at a time: the pair and the marker that ends each page.
  base::Mutex mutex_;
  platform::Socket writer_ GUARDED_BY(mutex_);
  platform::Socket reader_ GUARDED_BY(mutex_);
  std::string marker_ GUARDED_BY(mutex_);
};

}  // namespace hxhost

#endif  // PELLUMIN_HOST_PAGE_CATCHER_H_
