// page_catcher.h -- catching what the filter sends on the client socket,
// for an answer hxhost must send otherwise (a denied tunnel gets 403).
#ifndef PELLUMIN_HOST_PAGE_CATCHER_H_
#define PELLUMIN_HOST_PAGE_CATCHER_H_

#include <functional>
#include <mutex>
#include <string>

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
             std::string* error);

 private:
  bool Open(std::string* error);

  std::mutex mutex_;
  platform::Socket writer_;
  platform::Socket reader_;
  std::string marker_;
};

}  // namespace hxhost

#endif  // PELLUMIN_HOST_PAGE_CATCHER_H_
