// squid_helper.h -- the filter as a Squid url_rewrite or external ACL
// helper: settings, lists and sets loaded by the plug-in's own loader, a
// verdict for each request line, and the loop that reads Squid's lines and
// answers them.
//
// Reading and answering. Squid writes a request line at a time and waits
// for answers, so the cost per request is mostly system calls and
// wake-ups, not the lookup (about a microsecond). The loop reads whatever
// bytes are waiting in one call, answers every complete line they hold, in
// order, and writes those answers in one call: two system calls per read,
// however many lines it held, and no other wake-up. Answers carry their
// request's channel-ID when it has one (Squid then may take them in any
// order; in order is one of them).
//
// Threads. Only when one read holds many lines (the helper is behind: a
// stream, or Squid flooding it) are they cut into pieces at line ends and
// answered by worker threads beside the reading thread, one worker woken
// per piece; the answers are still joined in order and written in one
// call. The filter is read under the shared side of a reader/writer lock,
// taken once per read or piece; a reload builds the new filter without the
// lock and takes it exclusively only to exchange the two. clang's
// -Wthread-safety checks the locks (base/mutex.h).
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

// What a helper whose filter cannot be loaded answers, until it loads.
enum class FailureMode {
  kDeny,   // every request denied, with "unavailable" as its categories
  kAllow,  // every request passed, and counted
};

struct HelperOptions {
  std::string keyPath = "SOFTWARE\\Pellumin\\Filter";
  std::string redirect;  // block page template (%u, %a, %c, %%)
  std::string logPath;   // access log lines of alerted requests; empty: none
  ChannelMode channelMode = ChannelMode::kAuto;
  Protocol protocol = Protocol::kRewrite;
  FailureMode onFailure = FailureMode::kDeny;
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
  std::uint64_t reads = 0;   // read calls that brought bytes
  std::uint64_t writes = 0;  // write calls of answers (one per read that completed a line)
  // Answered by the failure mode, without a filter (denied ones are also
  // counted in denied).
  std::uint64_t unavailable = 0;
};

// Where Serve reads Squid's bytes and writes the answers.
class RequestChannel {
 public:
  virtual ~RequestChannel() = default;
  // Reads at least one byte, whatever is waiting up to size, waiting for
  // it; 0 at the end of the input (or on a read error).
  virtual std::size_t Read(char* buffer, std::size_t size) = 0;
  // Writes all of it; false when the answers can no longer be delivered.
  virtual bool Write(const char* data, std::size_t size) = 0;
};

// Over file descriptors (Squid's pipe or socket): read(2) and write(2),
// again after a signal, a short write continued.
class DescriptorChannel : public RequestChannel {
 public:
  DescriptorChannel(int in, int out) : in_(in), out_(out) {}
  std::size_t Read(char* buffer, std::size_t size) override;
  bool Write(const char* data, std::size_t size) override;

 private:
  int in_;
  int out_;
};

// Over C++ streams: a read takes up to size bytes (all that is left of a
// string stream at once), a write is flushed.
class StreamChannel : public RequestChannel {
 public:
  StreamChannel(std::istream* in, std::ostream* out) : in_(in), out_(out) {}
  std::size_t Read(char* buffer, std::size_t size) override;
  bool Write(const char* data, std::size_t size) override;

 private:
  std::istream* in_;
  std::ostream* out_;
};

// The closing line's counts: "N requests (D denied, A alerted, B answered
// BH)", and how many were answered without a filter when there were any.
std::string DescribeCounts(const ServeCounts& counts);

// What the filter said of one request: a CONNECT with a server name of its
// own is judged by both names, and denied when either is.
struct Judgement {
  bool deny = false;
  bool alert = false;
  std::uint32_t deniedCategories = 0;  // the deny set's categories that matched
};
Judgement CombineJudgements(const Judgement& a, const Judgement& b);

class FilterHelper {
 public:
  explicit FilterHelper(HelperOptions options);
  // Makes the alert mail sender's last send before it goes.
  ~FilterHelper();
  FilterHelper(const FilterHelper&) = delete;
  FilterHelper& operator=(const FilterHelper&) = delete;

  // Opens the access log and loads the filter. False with *message (the
  // plug-in's own text, or why the log cannot be opened); then nothing is
  // in force, every request is answered by the failure mode (onFailure),
  // and Reload tries again.
  bool Start(std::string* message) EXCLUDES(reloadLock_, gate_, filterLock_);

  // Reopens the access log and builds the filter again from the same key
  // path. True when the new filter is in force. When it does not load, the
  // one in force stays and *message says why. A log that cannot be
  // reopened keeps the old file; *message says so too. While no filter has
  // been loaded yet, the log must open too for the filter to come in force.
  bool Reload(std::string* message) EXCLUDES(reloadLock_, gate_, filterLock_);

  // What is in force, as hxhost says it (DescribeFilter).
  std::vector<std::string> InForce() EXCLUDES(gate_, filterLock_);

  // Appends the answer to one request line to out. Safe from any thread.
  void Answer(std::string_view line, std::string* out) EXCLUDES(gate_, filterLock_);

  // Reads request lines from channel until its input ends and writes their
  // answers (those of one read in one write). A last line without its line
  // end is answered too. Returns when every answer has been written, or
  // when the answers can no longer be written.
  ServeCounts Serve(RequestChannel* channel) EXCLUDES(gate_, filterLock_);
  ServeCounts Serve(std::istream& in, std::ostream& out) EXCLUDES(gate_, filterLock_);

 private:
  class AnswerPool;

  // The per-line step: one request line (no line end, no NUL, not too
  // long), its answer appended to out.
  void AnswerLocked(std::string_view line, std::string* out, ServeCounts* counts)
      REQUIRES_SHARED(filterLock_);
  // Any line as read: BH for one that is too long or holds a NUL, else the
  // per-line step.
  void AnswerReadLine(std::string_view line, std::string* out, ServeCounts* counts)
      REQUIRES_SHARED(filterLock_);
  // Every line of [begin, end), which ends with a line end, under one lock.
  void AnswerLines(const char* begin, const char* end, std::string* out, ServeCounts* counts)
      EXCLUDES(gate_, filterLock_);
  // The verdict on one parsed request (logging it when it is alerted).
  Judgement Judge(const RequestLine& request) REQUIRES_SHARED(filterLock_);
  Judgement JudgeUrl(const RequestLine& request, const char* url) REQUIRES_SHARED(filterLock_);
  // The answer while no filter is loaded.
  void AnswerUnavailable(const RequestLine& request, std::string* out, ServeCounts* counts);
  bool OpenLog(std::string* message) REQUIRES(reloadLock_);

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
