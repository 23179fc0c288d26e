// squid_helper.cpp -- verdicts for Squid's request lines, the reading loop
// and the threads that help it when it is behind.
#include "squid_helper.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>

#include "base/mutex.h"
#include "outputs.h"
#include "tarnwick.h"

namespace tarnwick_squid {

namespace {

using tarnwick::LoadedFilter;

// Bytes one read takes at most, beyond a line cut at the end of the read
// before. Squid's pipe holds 64 KiB.
constexpr std::size_t kReadBytes = 64 * 1024;
// The least a worker is given of one read: below this the hand-over (a
// wake-up and a wait, several microseconds) costs more than answering the
// lines (about a microsecond each) on the reading thread. Squid with
// concurrency=100 writes up to about 100 lines (10 KiB) before it waits.
constexpr std::size_t kPieceBytes = 16 * 1024;

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

void MergeCounts(ServeCounts* into, const ServeCounts& from) {
  into->unavailable += from.unavailable;
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

}  // namespace

std::size_t DescriptorChannel::Read(char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t got = ::read(in_, buffer, size);
    if (got >= 0) return static_cast<std::size_t>(got);
    // A signal (SIGHUP asks for a reload) is no end of input.
    if (errno != EINTR) return 0;
  }
}

bool DescriptorChannel::Write(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t put = ::write(out_, data, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

std::size_t StreamChannel::Read(char* buffer, std::size_t size) {
  in_->read(buffer, static_cast<std::streamsize>(size));
  return static_cast<std::size_t>(in_->gcount());
}

bool StreamChannel::Write(const char* data, std::size_t size) {
  out_->write(data, static_cast<std::streamsize>(size));
  out_->flush();
  return out_->good();
}

Judgement CombineJudgements(const Judgement& a, const Judgement& b) {
  Judgement both;
  both.deny = a.deny || b.deny;
  both.alert = a.alert || b.alert;
  both.deniedCategories = a.deniedCategories | b.deniedCategories;
  return both;
}

std::string DescribeCounts(const ServeCounts& counts) {
  std::string text = std::to_string(counts.lines) + " requests (" +
                     std::to_string(counts.denied) + " denied, " +
                     std::to_string(counts.alerted) + " alerted, " +
                     std::to_string(counts.broken) + " answered BH";
  if (counts.unavailable > 0) {
    text += ", " + std::to_string(counts.unavailable) + " while the filter was unavailable";
  }
  return text + ")";
}

// Worker threads that answer pieces of one read beside the reading thread.
// The reader posts the pieces, wakes one worker per piece, answers pieces
// itself until none is left to take, and waits for those the workers took;
// then it joins the answers in the pieces' order.
class FilterHelper::AnswerPool {
 public:
  AnswerPool(FilterHelper* helper, int threads) : helper_(helper) {
    pieces_.resize(static_cast<std::size_t>(std::max(threads, 1)));
    for (int i = 1; i < threads; ++i) workers_.emplace_back([this] { Work(); });
  }
  ~AnswerPool() EXCLUDES(lock_) {
    {
      base::MutexLock lock(&lock_);
      ending_ = true;
    }
    posted_.SignalAll();
    for (std::thread& worker : workers_) worker.join();
  }
  AnswerPool(const AnswerPool&) = delete;
  AnswerPool& operator=(const AnswerPool&) = delete;

  // Answers every line of [begin, end) (which ends with a line end) into
  // out, in order.
  void Answer(const char* begin, const char* end, std::string* out, ServeCounts* counts)
      EXCLUDES(lock_) {
    const std::size_t bytes = static_cast<std::size_t>(end - begin);
    std::size_t count = std::min(pieces_.size(), bytes / kPieceBytes);
    if (count < 2) {
      helper_->AnswerLines(begin, end, out, counts);
      return;
    }
    // Cut at the first line end after each share of the bytes.
    const char* at = begin;
    std::size_t made = 0;
    for (std::size_t i = 0; i < count && at < end; ++i) {
      const char* target = i + 1 == count ? end - 1 : at + std::max<std::size_t>(1, bytes / count) - 1;
      if (target >= end) target = end - 1;
      const char* lineEnd = static_cast<const char*>(std::memchr(target, '\n', end - target));
      Piece& piece = pieces_[made++];
      piece.begin = at;
      piece.end = lineEnd + 1;
      piece.answers.clear();
      piece.counts = ServeCounts();
      at = lineEnd + 1;
    }
    count = made;
    {
      base::MutexLock lock(&lock_);
      pieceCount_ = count;
      nextPiece_ = 1;  // the reader answers the first itself
      finished_ = 0;
    }
    for (std::size_t i = 1; i < count; ++i) posted_.Signal();
    // The reader answers the first piece, then any no worker has taken yet.
    for (std::size_t index = 0; index < count; index = Take()) {
      AnswerPiece(&pieces_[index]);
      base::MutexLock lock(&lock_);
      ++finished_;
    }
    {
      base::MutexLock lock(&lock_);
      while (finished_ < pieceCount_) finishedChanged_.Wait();
      pieceCount_ = 0;
      nextPiece_ = 0;
    }
    for (std::size_t i = 0; i < count; ++i) {
      *out += pieces_[i].answers;
      MergeCounts(counts, pieces_[i].counts);
    }
  }

 private:
  struct Piece {
    const char* begin = nullptr;
    const char* end = nullptr;
    std::string answers;
    ServeCounts counts;
  };

  // The index of a posted piece no one has taken; pieceCount_ when none is
  // left.
  std::size_t Take() EXCLUDES(lock_) {
    base::MutexLock lock(&lock_);
    return nextPiece_ < pieceCount_ ? nextPiece_++ : pieceCount_;
  }

  void AnswerPiece(Piece* piece) {
    helper_->AnswerLines(piece->begin, piece->end, &piece->answers, &piece->counts);
  }

  void Work() EXCLUDES(lock_) {
    for (;;) {
      Piece* piece;
      {
        base::MutexLock lock(&lock_);
        while (!ending_ && nextPiece_ >= pieceCount_) posted_.Wait();
        if (ending_) return;
        piece = &pieces_[nextPiece_++];
      }
      AnswerPiece(piece);
      bool last;
      {
        base::MutexLock lock(&lock_);
        last = ++finished_ == pieceCount_;
      }
      if (last) finishedChanged_.Signal();
    }
  }

  FilterHelper* const helper_;
  // Written by the reader only while no piece is posted; each posted piece
  // is then touched by the one thread that took it.
  std::vector<Piece> pieces_;
  std::vector<std::thread> workers_;
  base::Mutex lock_;
  base::CondVar posted_{&lock_};
  base::CondVar finishedChanged_{&lock_};
  std::size_t pieceCount_ GUARDED_BY(lock_) = 0;
  std::size_t nextPiece_ GUARDED_BY(lock_) = 0;
  std::size_t finished_ GUARDED_BY(lock_) = 0;
  bool ending_ GUARDED_BY(lock_) = false;
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
  if (!wasLoaded && !logOk) {
    // A first filter comes in force with its access log or not at all,
    // as at Start.
    if (ready == 1) {
      tarnwick::ReleaseFilter(&next);
      *message = logProblem;
    } else {
      *message += "; and " + logProblem;
    }
    return false;
  }
  if (!logOk) *message += "; but " + logProblem + " (logging goes on to the file open before)";
  if (ready != 1) return false;
  LoadedFilter old;
  {
    GatedWriterLock lock(&gate_, &filterLock_);
    old = filter_;
    filter_ = next;
    loaded_ = true;
    logging_ = !options_.logPath.empty();
  }
  if (wasLoaded) tarnwick::ReleaseFilter(&old);
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
  // The unescaped values of an ACL line; one buffer per thread, so that a
  // request allocates nothing once it has grown to fit.
  thread_local std::string decoded;
  const RequestLine request = options_.protocol == Protocol::kAcl
                                  ? ParseAclRequestLine(line, options_.channelMode, &decoded)
                                  : ParseRequestLine(line, options_.channelMode);
  if (request.fault != nullptr) {
    ++counts->broken;
    AppendBrokenHelper(out, request, request.fault);
    return;
  }
  if (!loaded_) {
    AnswerUnavailable(request, out, counts);
    return;
  }
  const Judgement verdict = Judge(request);
  if (verdict.alert) ++counts->alerted;
  if (!verdict.deny) {
    AppendPass(out, request);
    return;
  }
  ++counts->denied;
  const std::string categories = DeniedCategoryNames(verdict.deniedCategories);
  if (options_.protocol == Protocol::kAcl) {
    AppendAclMatch(out, request, "the filter denies this site (" + categories + ")", categories);
  } else {
    AppendRedirect(out, request,
                   ExpandRedirect(options_.redirect, request.url, request.client, categories));
  }
}

void FilterHelper::AnswerUnavailable(const RequestLine& request, std::string* out,
                                     ServeCounts* counts) {
  ++counts->unavailable;
  if (options_.onFailure == FailureMode::kAllow) {
    AppendPass(out, request);
    return;
  }
  ++counts->denied;
  if (options_.protocol == Protocol::kAcl) {
    AppendAclMatch(out, request, "the filter is unavailable", "unavailable");
  } else {
    AppendRedirect(out, request,
                   ExpandRedirect(options_.redirect, request.url, request.client, "unavailable"));
  }
}

Judgement FilterHelper::Judge(const RequestLine& request) {
  // The engine takes a terminated text; one buffer per thread, so that a
  // request allocates nothing once the buffer has grown to fit.
  thread_local std::string url;
  url.clear();
  AppendFilterUrl(request, &url);
  Judgement verdict = JudgeUrl(request, url.c_str());
  const std::string_view serverName = ServerNameToJudge(request);
  if (!serverName.empty()) {
    url.clear();
    AppendServerNameUrl(request, serverName, &url);
    verdict = CombineJudgements(verdict, JudgeUrl(request, url.c_str()));
  }
  return verdict;
}

Judgement FilterHelper::JudgeUrl(const RequestLine& request, const char* url) {
  char keyText[QX_KEY_TEXT_SIZE + 1];
  const tarnwick::UrlVerdict verdict = tarnwick::ClassifyUrl(filter_, options_.env, url, keyText);
  if (verdict.alert) {
    // The plug-in's own access log line, with Squid's client address: in
    // the access log, and as the alert mail's entry when mail is on (the
    // URL alone when logging is off, as the plug-in collects it).
    char client[TARNWICK_CLIENT_ADDRESS_SIZE] = {};
    std::memcpy(client, request.client.data(), std::min(request.client.size(), sizeof client - 1));
    char logLine[TARNWICK_URL_BUFFER_SIZE];
    if (filter_.logEnabled != 0) {
      tarnwick::WriteAccessLogLine(logLine, sizeof logLine, keyText, client, sizeof client);
      if (logging_) accessLog_.Write(logLine);
    } else {
      std::snprintf(logLine, sizeof logLine, "%s", url);
    }
    if (filter_.mailEnabled != 0) {
      base::MutexLock mail(&mailLock_);
      if (mailer_ != nullptr) mailer_->Add(logLine);
    }
  }
  Judgement judgement;
  judgement.alert = verdict.alert;
  judgement.deny = verdict.deny;
  judgement.deniedCategories = verdict.deny ? verdict.deniedCategories : 0;
  return judgement;
}

// A line that is too long is answered from its first maxLineLength bytes,
// one holding a NUL from the text before it: BH, under the channel-ID when
// what is read starts with one.
void FilterHelper::AnswerReadLine(std::string_view line, std::string* out, ServeCounts* counts) {
  const bool tooLong = line.size() > options_.maxLineLength;
  if (tooLong) line = line.substr(0, options_.maxLineLength);
  const void* nul = std::memchr(line.data(), '\0', line.size());
  if (!tooLong && nul == nullptr) {
    AnswerLocked(line, out, counts);
    return;
  }
  if (nul != nullptr) line = line.substr(0, static_cast<const char*>(nul) - line.data());
  RequestLine request = ParseRequestLine(line, options_.channelMode);
  ++counts->lines;
  ++counts->broken;
  AppendBrokenHelper(out, request,
                     tooLong ? "the request line is longer than " +
                                   std::to_string(options_.maxLineLength) + " bytes"
                             : std::string("the request line holds a NUL byte"));
}

void FilterHelper::AnswerLines(const char* begin, const char* end, std::string* out,
                               ServeCounts* counts) {
  GatedReaderLock lock(&gate_, &filterLock_);
  while (begin < end) {
    const char* lineEnd = static_cast<const char*>(std::memchr(begin, '\n', end - begin));
    AnswerReadLine(std::string_view(begin, lineEnd - begin), out, counts);
    begin = lineEnd + 1;
  }
}

ServeCounts FilterHelper::Serve(std::istream& in, std::ostream& out) {
  StreamChannel channel(&in, &out);
  return Serve(&channel);
}

// One read, its complete lines answered, their answers written at once; a
// line cut by the end of the read waits at the head of the buffer for the
// rest. A cut line that is already longer than the limit is answered BH at
// once and the rest of it, up to its line end, skipped as it comes.
ServeCounts FilterHelper::Serve(RequestChannel* channel) {
  const std::size_t maxLine = options_.maxLineLength;
  // Room for a cut line of the longest length and one more byte (which
  // makes it too long), and a whole read after it.
  std::vector<char> buffer(maxLine + 1 + kReadBytes);
  std::string answers;
  answers.reserve(kReadBytes * 2);
  AnswerPool pool(this, options_.threads);
  ServeCounts total;
  std::size_t held = 0;   // bytes of a cut line at the head of the buffer
  bool skipping = false;  // inside a line already answered as too long
  for (;;) {
    const std::size_t got = channel->Read(buffer.data() + held, buffer.size() - held);
    if (got == 0) break;
    ++total.reads;
    const char* begin = buffer.data();
    const char* const end = begin + held + got;
    if (skipping) {
      const char* lineEnd = static_cast<const char*>(std::memchr(begin, '\n', end - begin));
      if (lineEnd == nullptr) continue;  // held is 0 while skipping
      begin = lineEnd + 1;
      skipping = false;
    }
    // Only the new bytes can hold the last line end.
    const char* searchFrom = std::max(begin, end - got);
    const char* lastEnd =
        static_cast<const char*>(memrchr(searchFrom, '\n', static_cast<std::size_t>(end - searchFrom)));
    answers.clear();
    const char* rest = begin;
    if (lastEnd != nullptr) {
      pool.Answer(begin, lastEnd + 1, &answers, &total);
      rest = lastEnd + 1;
    }
    held = static_cast<std::size_t>(end - rest);
    if (held > maxLine) {
      {
        GatedReaderLock lock(&gate_, &filterLock_);
        AnswerReadLine(std::string_view(rest, held), &answers, &total);
      }
      held = 0;
      skipping = true;
    }
    if (!answers.empty()) {
      ++total.writes;
      if (!channel->Write(answers.data(), answers.size())) return total;
    }
    std::memmove(buffer.data(), rest, held);
  }
  if (held > 0) {
    // The last line, without its line end.
    answers.clear();
    {
      GatedReaderLock lock(&gate_, &filterLock_);
      AnswerReadLine(std::string_view(buffer.data(), held), &answers, &total);
    }
    ++total.writes;
    channel->Write(answers.data(), answers.size());
  }
  return total;
}

}  // namespace tarnwick_squid
