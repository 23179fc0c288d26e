// squid_helper.cpp -- verdicts for Squid's request lines, the worker pool
// and the reading loop.
#include "squid_helper.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <thread>
#include <utility>

#include "base/mutex.h"
#include "outputs.h"
#include "tarnwick.h"

namespace tarnwick_squid {

namespace {

using tarnwick::LoadedFilter;

// Lines handed to a worker at once: enough to make the hand-over cheap
// when Squid sends many requests together, few enough to spread them.
constexpr std::size_t kBatchLines = 64;
// Batches waiting for a worker before the reader waits too.
constexpr std::size_t kQueuedBatches = 64;
// Answers held back while more input is already waiting.
constexpr std::size_t kOutputFlushBytes = 64 * 1024;

// The denied categories of a verdict, by table name, comma-separated.
std::string DeniedCategoryNames(std::uint32_t deniedCategories) {
  QxTypes denied = {{'Q', 'X', 'T', 'P'}, 0, deniedCategories};
  std::string names;
  for (const std::string& name : tarnwick::CategoryNames(&denied)) {
    if (!names.empty()) names += ",";
    names += name;
  }
  return names;
}

// Whether a line is answered by the pool (it has a channel-ID, so its
// answer may go out of order) or in order by the reader.
bool TakesChannel(std::string_view line, ChannelMode mode) {
  if (mode != ChannelMode::kAuto) return mode == ChannelMode::kOn;
  std::size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  const std::size_t start = i;
  while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
  return i > start && i < line.size() && (line[i] == ' ' || line[i] == '\t');
}

void MergeCounts(ServeCounts* into, const ServeCounts& from) {
  into->lines += from.lines;
  into->denied += from.denied;
  into->alerted += from.alerted;
  into->broken += from.broken;
}

// The reader/writer lock lets readers in while others read, so under a
// steady load a writer could wait for ever. Readers and writers both pass
// through the gate first; a writer keeps it while it waits, which holds new
// readers back.
class SCOPED_CAPABILITY GatedReaderLock {
 public:
  GatedReaderLock(base::Mutex* gate, base::SharedMutex* mutex) ACQUIRE_SHARED(mutex) EXCLUDES(gate)
      : mutex_(mutex) {
    base::MutexLock pass(gate);
    mutex->LockShared();
  }
  ~GatedReaderLock() RELEASE() { mutex_->UnlockShared(); }
  GatedReaderLock(const GatedReaderLock&) = delete;
  GatedReaderLock& operator=(const GatedReaderLock&) = delete;

 private:
  base::SharedMutex* const mutex_;
};

class SCOPED_CAPABILITY GatedWriterLock {
 public:
  GatedWriterLock(base::Mutex* gate, base::SharedMutex* mutex) ACQUIRE(mutex) EXCLUDES(gate)
      : mutex_(mutex) {
    base::MutexLock pass(gate);
    mutex->Lock();
  }
  ~GatedWriterLock() RELEASE() { mutex_->Unlock(); }
  GatedWriterLock(const GatedWriterLock&) = delete;
  GatedWriterLock& operator=(const GatedWriterLock&) = delete;

 private:
  base::SharedMutex* const mutex_;
};

// How a line read from Squid falls short of a request line.
enum class LineFault { kNone, kTooLong, kHoldsNul };

// Reads the next line into *buffer, NUL-terminated, and points *line at its
// text up to the first NUL. A line longer than the buffer is cut to what
// fits and the rest of it skipped. False at the end of input when nothing
// more was read.
bool ReadLine(std::istream& in, std::vector<char>* buffer, std::string_view* line, LineFault* fault) {
  in.getline(buffer->data(), static_cast<std::streamsize>(buffer->size()));
  const std::size_t got = static_cast<std::size_t>(in.gcount());
  bool tooLong = false;
  if (in.fail() && !in.eof()) {
    // getline stored buffer->size() - 1 characters and found no line end.
    in.clear();
    in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    tooLong = true;
  } else if (got == 0 && in.eof()) {
    return false;
  }
  const std::size_t length = std::strlen(buffer->data());
  // A NUL inside a line cuts it there: the rest cannot be a URL.
  const bool hasNul = !tooLong && got > 0 && length + (in.eof() ? 0 : 1) < got;
  *line = std::string_view(buffer->data(), length);
  *fault = tooLong ? LineFault::kTooLong : hasNul ? LineFault::kHoldsNul : LineFault::kNone;
  return true;
}

}  // namespace

// Where the answers go: each text whole, flushed at once, so that answers
// written from several threads never interleave.
class FilterHelper::AnswerWriter {
 public:
  explicit AnswerWriter(std::ostream* out) : out_(out) {}

  void Write(const std::string& text) EXCLUDES(lock_) {
    if (text.empty()) return;
    base::MutexLock lock(&lock_);
    out_->write(text.data(), static_cast<std::streamsize>(text.size()));
    out_->flush();
  }

 private:
  base::Mutex lock_;
  std::ostream* const out_ PT_GUARDED_BY(lock_);
};

// The pool's work: batches of lines with channel-IDs, at most
// kQueuedBatches of them waiting, so that a reader ahead of the workers
// waits too.
class FilterHelper::BatchQueue {
 public:
  // Moves *batch in, leaving it empty; an empty batch adds nothing.
  void Push(std::vector<std::string>* batch) EXCLUDES(lock_) {
    if (batch->empty()) return;
    {
      base::MutexLock lock(&lock_);
      while (batches_.size() >= kQueuedBatches) changed_.Wait();
      batches_.push_back(std::move(*batch));
      batch->clear();
    }
    changed_.SignalAll();
  }

  // Takes the oldest batch, waiting for one. False when End has been called
  // and every batch is taken.
  bool Pop(std::vector<std::string>* batch) EXCLUDES(lock_) {
    {
      base::MutexLock lock(&lock_);
      while (!ending_ && batches_.empty()) changed_.Wait();
      if (batches_.empty()) return false;
      *batch = std::move(batches_.front());
      batches_.pop_front();
    }
    changed_.SignalAll();
    return true;
  }

  // No more batches will come.
  void End() EXCLUDES(lock_) {
    {
      base::MutexLock lock(&lock_);
      ending_ = true;
    }
    changed_.SignalAll();
  }

 private:
  base::Mutex lock_;
  base::CondVar changed_{&lock_};
  std::deque<std::vector<std::string>> batches_ GUARDED_BY(lock_);
  bool ending_ GUARDED_BY(lock_) = false;
};

// What the reader holds until it hands it on: lines with channel-IDs not
// yet given to the pool, and the answers to lines without, in their order.
struct FilterHelper::Pending {
  std::vector<std::string> batch;
  std::string inOrder;
  ServeCounts counts;

  void HandOn(BatchQueue* queue, AnswerWriter* writer) {
    queue->Push(&batch);
    writer->Write(inOrder);
    inOrder.clear();
  }
};

FilterHelper::FilterHelper(HelperOptions options) : options_(std::move(options)) {
  if (options_.threads < 1) options_.threads = 1;
  if (options_.maxLineLength < 16) options_.maxLineLength = 16;
}

FilterHelper::~FilterHelper() {
  {
    base::MutexLock mail(&mailLock_);
    if (mailer_ != nullptr) mailer_->Stop(10000);
    mailer_.reset();
  }
  if (loaded_) tarnwick::ReleaseFilter(&filter_);
}

void FilterHelper::SetUpMail(settings::Store& store, bool mailEnabled) {
  base::MutexLock mail(&mailLock_);
  try {
    tarnwick::ReplaceAlertMailer(store, options_.keyPath.c_str(), mailEnabled, &mailer_);
  } catch (const std::exception&) {
    // Short of memory: the filter is in force; the sender it had goes on.
  }
}

bool FilterHelper::OpenLog(std::string* message) {
  if (options_.logPath.empty()) return true;
  std::string error;
  if (!accessLog_.OpenFile(options_.logPath, &error)) {
    *message = "cannot open the access log " + options_.logPath + ": " + error;
    return false;
  }
  return true;
}

bool FilterHelper::Start(std::string* message) {
  base::MutexLock reload(&reloadLock_);
  if (!OpenLog(message)) return false;
  {
    GatedWriterLock lock(&gate_, &filterLock_);
    logging_ = !options_.logPath.empty();
  }
  LoadedFilter next = tarnwick::DefaultLoadedFilter();
  char text[TARNWICK_MESSAGE_BUFFER_SIZE];
  settings::RegistryStore store(options_.env->registry());
  const int ready = tarnwick::LoadFilter(store, options_.keyPath.c_str(), &next, text, sizeof text);
  *message = text;
  if (ready != 1) return false;
  {
    GatedWriterLock lock(&gate_, &filterLock_);
    filter_ = next;
    loaded_ = true;
  }
  SetUpMail(store, next.mailEnabled != 0);
  return true;
}

bool FilterHelper::Reload(std::string* message) {
  base::MutexLock reload(&reloadLock_);
  std::string logProblem;
  const bool logOk = OpenLog(&logProblem);
  // A value missing from the store leaves the text the filter had, as a
  // second HXInit does.
  LoadedFilter next = tarnwick::DefaultLoadedFilter();
  bool wasLoaded;  // still right after the lock: loaded_ changes only under reloadLock_
  {
    GatedReaderLock lock(&gate_, &filterLock_);
    wasLoaded = loaded_;
    if (loaded_) {
      static_cast<settings::FilterSettings&>(next) = settings::DefaultSwitchesWithTexts(filter_);
    }
  }
  char text[TARNWICK_MESSAGE_BUFFER_SIZE];
  settings::RegistryStore store(options_.env->registry());
  const int ready =
      tarnwick::LoadFilter(store, options_.keyPath.c_str(), &next, text, sizeof text, wasLoaded);
  *message = text;
  if (!logOk) *message += "; but " + logProblem + " (logging goes on to the file open before)";
  if (ready != 1) return false;
  LoadedFilter old;
  {
    GatedWriterLock lock(&gate_, &filterLock_);
    old = filter_;
    filter_ = next;
    loaded_ = true;
  }
  tarnwick::ReleaseFilter(&old);
  SetUpMail(store, next.mailEnabled != 0);
  return true;
}

std::vector<std::string> FilterHelper::InForce() {
  GatedReaderLock lock(&gate_, &filterLock_);
  if (!loaded_) return {"no filter is loaded"};
  return tarnwick::DescribeFilter(filter_.denySet, filter_.alertSet, filter_.controlFilePath,
                                  filter_.service->controlCount,
                                  filter_.hoursEnabled != 0 ? filter_.businessHours : nullptr,
                                  filter_.hoursSet);
}

void FilterHelper::Answer(std::string_view line, std::string* out) {
  ServeCounts counts;
  GatedReaderLock lock(&gate_, &filterLock_);
  AnswerLocked(line, out, &counts);
}

void FilterHelper::AnswerLocked(std::string_view line, std::string* out, ServeCounts* counts) {
  ++counts->lines;
  const RequestLine request = ParseRequestLine(line, options_.channelMode);
  if (request.fault != nullptr) {
    ++counts->broken;
    AppendBrokenHelper(out, request, request.fault);
    return;
  }
  if (!loaded_) {
    // Never pass a request unfiltered for want of a filter.
    ++counts->broken;
    AppendBrokenHelper(out, request, "no filter is loaded");
    return;
  }
  // The engine takes a terminated text; one buffer per thread, so that a
  // request allocates nothing once the buffer has grown to fit.
  thread_local std::string url;
  url.clear();
  AppendFilterUrl(request, &url);
  char keyText[QX_KEY_TEXT_SIZE + 1];
  const tarnwick::UrlVerdict verdict =
      tarnwick::ClassifyUrl(filter_, options_.env, url.c_str(), keyText);
  if (verdict.alert) {
    ++counts->alerted;
    if (logging_ && filter_.logEnabled != 0) {
      // The plug-in's own access log line, with Squid's client address.
      char client[TARNWICK_CLIENT_ADDRESS_SIZE] = {};
      std::memcpy(client, request.client.data(),
                  std::min(request.client.size(), sizeof client - 1));
      char logLine[TARNWICK_URL_BUFFER_SIZE];
      tarnwick::WriteAccessLogLine(logLine, sizeof logLine, keyText, client, sizeof client);
      accessLog_.Write(logLine);
    }
    if (filter_.mailEnabled != 0) {
      // The entry the plug-in collects: its log line when logging is on,
      // else the URL.
      char entry[TARNWICK_URL_BUFFER_SIZE];
      if (filter_.logEnabled != 0) {
        char client[TARNWICK_CLIENT_ADDRESS_SIZE] = {};
        std::memcpy(client, request.client.data(), std::min(request.client.size(), sizeof client - 1));
        tarnwick::WriteAccessLogLine(entry, sizeof entry, keyText, client, sizeof client);
      } else {
        std::snprintf(entry, sizeof entry, "%s", url.c_str());
      }
      base::MutexLock mail(&mailLock_);
      if (mailer_ != nullptr) mailer_->Add(entry);
    }
  }
  if (!verdict.deny) {
    AppendPass(out, request);
    return;
  }
  ++counts->denied;
  AppendRedirect(out, request,
                 ExpandRedirect(options_.redirect, request.url, request.client,
                                DeniedCategoryNames(verdict.deniedCategories)));
}

// Lines with channel-IDs go to the pool in batches and their answers out as
// each batch is done; the reader answers the others itself, in order.
ServeCounts FilterHelper::Serve(std::istream& in, std::ostream& out) {
  AnswerWriter writer(&out);
  BatchQueue queue;
  std::vector<ServeCounts> workerCounts(static_cast<std::size_t>(options_.threads));
  std::vector<std::thread> workers;
  for (ServeCounts& counts : workerCounts) {
    workers.emplace_back([this, &queue, &writer, &counts] { RunWorker(&queue, &writer, &counts); });
  }
  ServeCounts total = ReadRequests(in, &queue, &writer);
  queue.End();
  for (std::thread& worker : workers) worker.join();
  for (const ServeCounts& counts : workerCounts) MergeCounts(&total, counts);
  return total;
}

// Answers batches until the queue ends; *counts is written once, at the end.
void FilterHelper::RunWorker(BatchQueue* queue, AnswerWriter* writer, ServeCounts* counts) {
  ServeCounts mine;
  std::vector<std::string> batch;
  std::string answers;
  while (queue->Pop(&batch)) {
    answers.clear();
    {
      GatedReaderLock lock(&gate_, &filterLock_);
      for (const std::string& line : batch) AnswerLocked(line, &answers, &mine);
    }
    writer->Write(answers);
  }
  *counts = mine;
}

// Reads lines until the input ends. Whenever no more input is waiting,
// everything read so far is answered or handed to the pool, so that Squid
// never waits for an answer while the helper waits for input.
ServeCounts FilterHelper::ReadRequests(std::istream& in, BatchQueue* queue, AnswerWriter* writer) {
  // Lines are read into a bounded buffer: a longer line is answered BH from
  // what fits (its channel-ID included) and the rest of it skipped.
  std::vector<char> buffer(options_.maxLineLength + 1);
  Pending pending;
  for (;;) {
    std::string_view line;
    LineFault fault = LineFault::kNone;
    if (!ReadLine(in, &buffer, &line, &fault)) break;
    if (fault == LineFault::kTooLong) {
      AnswerUnreadable(line,
                       "the request line is longer than " +
                           std::to_string(options_.maxLineLength) + " bytes",
                       &pending, writer);
    } else if (fault == LineFault::kHoldsNul) {
      AnswerUnreadable(line, "the request line holds a NUL byte", &pending, writer);
    } else if (TakesChannel(line, options_.channelMode)) {
      pending.batch.emplace_back(line);
      if (pending.batch.size() >= kBatchLines) queue->Push(&pending.batch);
    } else {
      GatedReaderLock lock(&gate_, &filterLock_);
      AnswerLocked(line, &pending.inOrder, &pending.counts);
    }
    const bool more = !in.eof() && in.rdbuf()->in_avail() > 0;
    if (!more || pending.inOrder.size() >= kOutputFlushBytes) pending.HandOn(queue, writer);
    if (in.eof()) break;
  }
  pending.HandOn(queue, writer);
  return pending.counts;
}

// Answers BH a line that was cut (too long, or at a NUL), under its
// channel-ID when what was read of it starts with one.
void FilterHelper::AnswerUnreadable(std::string_view line, const std::string& why,
                                    Pending* pending, AnswerWriter* writer) {
  RequestLine request = ParseRequestLine(line, options_.channelMode);
  request.fault = nullptr;
  ++pending->counts.lines;
  ++pending->counts.broken;
  std::string answer;
  AppendBrokenHelper(&answer, request, why);
  if (request.hasChannel) {
    writer->Write(answer);
  } else {
    pending->inOrder += answer;
  }
}

}  // namespace tarnwick_squid
