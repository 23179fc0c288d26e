// squid_helper.h -- the filter as a Squid url_rewrite helper: settings,
// lists and sets loaded by the plug-in's own loader, a verdict for each
// request line, and the loop that reads Squid's lines and answers them.
//
// Threads. Lines with a channel-ID are answered by a small pool of worker
// threads, in batches, in whatever order they finish; the filter is read
// under the shared side of a reader/writer lock, so any number of lookups
// run at once. A reload builds the new filter without the lock and takes
// it exclusively only to exchange the two. Lines without a channel-ID
// (Squid without concurrency) are answered in order, by the reading
// thread itself. clang's -Wthread-safety checks the locks (base/mutex.h).
#ifndef PELLUMIN_SQUID_SQUID_HELPER_H_
#define PELLUMIN_SQUID_SQUID_HELPER_H_

#include <cstddef>
#include <cstdint>
#include <istream>
#include <ostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "env.h"
#include "filter.h"
#include "filter_loader.h"
#include "helper_protocol.h"
#include "log.h"

namespace tarnwick_squid {

struct HelperOptions {
  std::string keyPath = "SOFTWARE\\Pellumin\\Filter";
  std::string redirect;  // block page template (%u, %a, %c, %%)
  std::string logPath;   // access log lines of alerted requests; empty: none
  ChannelMode channelMode = ChannelMode::kAuto;
  int threads = 4;
  std::size_t maxLineLength = 65536;  // longer lines are answered BH
  // Where the settings are read (its registry), at each Start and Reload.
  platform::Env* env = platform::Env::Default();
};

// What Serve did, for the closing line on standard error.
struct ServeCounts {
  std::uint64_t lines = 0;
  std::uint64_t denied = 0;
  std::uint64_t alerted = 0;
  std::uint64_t broken = 0;  // answered BH
};

class FilterHelper {
 public:
  explicit FilterHelper(HelperOptions options);
  // Makes the alert mail sender's last send before it goes.
  ~FilterHelper();
  FilterHelper(const FilterHelper&) = delete;
  FilterHelper& operator=(const FilterHelper&) = delete;

  // Opens the access log and loads the filter. False with *message (the
  // plug-in's own text, or why the log cannot be opened); then nothing is
  // in force and Serve must not be called.
  bool Start(std::string* message) EXCLUDES(reloadLock_, gate_, filterLock_);

  // Reopens the access log and builds the filter again from the same key
  // path. True when the new filter is in force. When it does not load, the
  // one in force stays and *message says why. A log that cannot be
  // reopened keeps the old file; *message says so too.
  bool Reload(std::string* message) EXCLUDES(reloadLock_, gate_, filterLock_);

  // What is in force, as hxhost says it (DescribeFilter).
  std::vector<std::string> InForce() EXCLUDES(gate_, filterLock_);

  // Appends the answer to one request line to out. Safe from any thread.
  void Answer(std::string_view line, std::string* out) EXCLUDES(gate_, filterLock_);

  // Reads request lines from in until it ends and writes each answer to
  // out (one whole line at a time, flushed whenever no more input is
  // waiting). Returns when every answer has been written.
  ServeCounts Serve(std::istream& in, std::ostream& out) EXCLUDES(gate_, filterLock_);

 private:
  class AnswerWriter;
  class BatchQueue;
  struct Pending;

  void AnswerLocked(std::string_view line, std::string* out, ServeCounts* counts)
      REQUIRES_SHARED(filterLock_);
  bool OpenLog(std::string* message) REQUIRES(reloadLock_);

  // The steps of Serve: a worker of the pool, the reading loop,
  // and a line that cannot be read whole.
  void RunWorker(BatchQueue* queue, AnswerWriter* writer, ServeCounts* counts)
      EXCLUDES(gate_, filterLock_);
  ServeCounts ReadRequests(std::istream& in, BatchQueue* queue, AnswerWriter* writer)
      EXCLUDES(gate_, filterLock_);
  void AnswerUnreadable(std::string_view line, const std::string& why, Pending* pending,
                        AnswerWriter* writer);

  HelperOptions options_;
  // Holds new readers back while a writer waits for filterLock_ (see
  // GatedReaderLock in the .cpp).
  base::Mutex gate_;
  base::SharedMutex filterLock_;
  tarnwick::LoadedFilter filter_ GUARDED_BY(filterLock_);
  bool loaded_ GUARDED_BY(filterLock_) = false;
  // Whether alerted requests are logged: set by Start, before any request
  // is served.
  bool logging_ GUARDED_BY(filterLock_) = false;
  // One Start or Reload at a time: loaded_ changes only while it is held,
  // so a reload may act on what it read of loaded_ after letting go of the
  // filter lock.
  base::Mutex reloadLock_;
  hxhost::LineLog accessLog_;  // locks itself; reopened under reloadLock_
  // The alert mail sender ("Mail" subkey), set up by Start and Reload; its
  // last send (at most 10 s) is made when the helper ends.
  base::Mutex mailLock_ ACQUIRED_AFTER(filterLock_);
  std::unique_ptr<mail::AlertMailer> mailer_ GUARDED_BY(mailLock_);
  void SetUpMail(settings::Store& store, bool mailEnabled) REQUIRES(reloadLock_) EXCLUDES(mailLock_);
};

}  // namespace tarnwick_squid

#endif  // PELLUMIN_SQUID_SQUID_HELPER_H_
