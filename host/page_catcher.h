// page_catcher.h -- catching what the filter sends on the client socket,
// for an answer hxhost must send otherwise (a denied tunnel gets 403).
#ifndef PELLUMIN_HOST_PAGE_CATCHER_H_
#define PELLUMIN_HOST_PAGE_CATCHER_H_

#include <functional>
#include <string>
#include <vector>

#include "base/mutex.h"
#include "net.h"

namespace hxhost {

// Each call catches on a loopback socket pair of its own, so that one
// connection's catch never waits for another's filter call or page: a call
// takes a pair from the idle ones (or makes one) and gives it back after,
// and a busy tunnel proxy does not make and close a pair per CONNECT. After
// each call hxhost sends a marker of this run's own on the same stream; what
// comes before it is what the filter wrote. The page is read only after the
// call, so it must fit the pair's socket buffers (a denial page is a few
// KiB; they hold 64 KiB and more).
class PageCatcher {
 public:
  PageCatcher();
  PageCatcher(const PageCatcher&) = delete;
  PageCatcher& operator=(const PageCatcher&) = delete;

  // Runs call with the socket to hand the filter, and returns in *page what
  // the call sent on it. When no pair can be made, call gets
  // platform::kNoSocket (what it sends goes nowhere), *error says why and
  // the result is false. Safe to call from many threads at once.
  bool Catch(const std::function<void(platform::SocketHandle)>& call, std::string* page,
             std::string* error) EXCLUDES(mutex_);

  // Pairs kept for later calls; more are made while calls overlap, and
  // closed when they come back beyond this many.
  static constexpr size_t kMaxIdlePairs = 16;

  // Pairs idle now (for tests).
  size_t IdlePairs() EXCLUDES(mutex_);

 private:
  struct Pair {
    platform::Socket writer;
    platform::Socket reader;
  };
  bool TakePair(Pair* pair, std::string* error) EXCLUDES(mutex_);
  void GiveBack(Pair pair) EXCLUDES(mutex_);
  bool ReadPage(const Pair& pair, std::string* page, bool* clean, std::string* error) const;

  const std::string marker_;  // ends each page; set once, read by every call
  base::Mutex mutex_;         // held only to take or give back a pair
  std::vector<Pair> idle_ GUARDED_BY(mutex_);
};

}  // namespace hxhost

#endif  // PELLUMIN_HOST_PAGE_CATCHER_H_
