// squid_helper.cpp -- verdicts for Squid's request lines, the worker pool
// and the reading loop.
#include "squid_helper.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <limits>
#include <thread>
#include <utility>

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
std::string DeniedCategoryNames(std::uint32_t categories, const QxTypes* denySet) {
  QxTypes denied = {{'Q', 'X', 'T', 'P'}, 0, categories & (denySet ? denySet->categories : 0)};
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

}  // namespace

// The reader/writer lock lets readers in while others read, so under a
// steady load a writer could wait for ever; the gate holds new readers
// back while a writer waits.
std::shared_lock<std::shared_mutex> FilterHelper::ReadLock() {
  std::lock_guard<std::mutex> gate(gate_);
  return std::shared_lock<std::shared_mutex>(filterLock_);
}

std::unique_lock<std::shared_mutex> FilterHelper::WriteLock() {
  std::lock_guard<std::mutex> gate(gate_);
  return std::unique_lock<std::shared_mutex>(filterLock_);
}

FilterHelper::FilterHelper(HelperOptions options) : options_(std::move(options)) {
  if (options_.threads < 1) options_.threads = 1;
  if (options_.maxLineLength < 16) options_.maxLineLength = 16;
}

FilterHelper::~FilterHelper() {
  if (loaded_) tarnwick::ReleaseFilter(&filter_);
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
  std::lock_guard<std::mutex> reload(reloadLock_);
  if (!OpenLog(message)) return false;
  // Set before any request is served and never changed: workers read it
  // without a lock.
  logging_ = !options_.logPath.empty();
  LoadedFilter next = tarnwick::DefaultLoadedFilter();
  char text[TARNWICK_MESSAGE_BUFFER_SIZE];
  settings::RegistryStore store(options_.env->registry());
  const int ready = tarnwick::LoadFilter(store, options_.keyPath.c_str(), &next, text, sizeof text);
  *message = text;
  if (ready != 1) return false;
  auto lock = WriteLock();
  filter_ = next;
  loaded_ = true;
  return true;
}

bool FilterHelper::Reload(std::string* message) {
  std::lock_guard<std::mutex> reload(reloadLock_);
  std::string logProblem;
  const bool logOk = OpenLog(&logProblem);
  // A value missing from the store leaves the text the filter had, as a
  // second HXInit does.
  LoadedFilter next = tarnwick::DefaultLoadedFilter();
  {
    auto lock = ReadLock();
    if (loaded_) {
      static_cast<settings::FilterSettings&>(next) = settings::DefaultSwitchesWithTexts(filter_);
    }
  }
  char text[TARNWICK_MESSAGE_BUFFER_SIZE];
  // loaded_ changes only under the reload lock, which this holds.
  settings::RegistryStore store(options_.env->registry());
  const int ready =
      tarnwick::LoadFilter(store, options_.keyPath.c_str(), &next, text, sizeof text, loaded_);
  *message = text;
  if (!logOk) *message += "; but " + logProblem + " (logging goes on to the file open before)";
  if (ready != 1) return false;
  LoadedFilter old;
  {
    auto lock = WriteLock();
    old = filter_;
    filter_ = next;
    loaded_ = true;
  }
  tarnwick::ReleaseFilter(&old);
  return true;
}

std::vector<std::string> FilterHelper::InForce() {
  auto lock = ReadLock();
  if (!loaded_) return {"no filter is loaded"};
  return tarnwick::DescribeFilter(filter_.denySet, filter_.alertSet, filter_.controlFilePath,
                                  filter_.service->controlCount);
}

void FilterHelper::Answer(std::string_view line, std::string* out) {
  ServeCounts counts;
  auto lock = ReadLock();
  AnswerLocked(line, out, &counts);
}

// The caller holds the filter lock (shared).
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
      tarnwick::ClassifyUrl(filter_.service, filter_.alertSet, filter_.denySet, url.c_str(), keyText);
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
  }
  if (!verdict.deny) {
    AppendPass(out, request);
    return;
  }
  ++counts->denied;
  AppendRedirect(out, request,
                 ExpandRedirect(options_.redirect, request.url, request.client,
                                DeniedCategoryNames(verdict.categories, filter_.denySet)));
}

ServeCounts FilterHelper::Serve(std::istream& in, std::ostream& out) {
  std::mutex outLock;
  auto writeOut = [&](const std::string& text) {
    if (text.empty()) return;
    std::lock_guard<std::mutex> lock(outLock);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
  };

  // The pool: batches of lines with channel-IDs.
  std::mutex queueLock;
  std::condition_variable queueChanged;
  std::deque<std::vector<std::string>> queue;
  bool ending = false;
  ServeCounts total;
  std::vector<std::thread> workers;
  for (int i = 0; i < options_.threads; ++i) {
    workers.emplace_back([&] {
      ServeCounts counts;
      std::string answers;
      for (;;) {
        std::vector<std::string> batch;
        {
          std::unique_lock<std::mutex> lock(queueLock);
          queueChanged.wait(lock, [&] { return ending || !queue.empty(); });
          if (queue.empty()) break;
          batch = std::move(queue.front());
          queue.pop_front();
        }
        queueChanged.notify_all();
        answers.clear();
        {
          auto lock = ReadLock();
          for (const std::string& line : batch) AnswerLocked(line, &answers, &counts);
        }
        writeOut(answers);
      }
      std::lock_guard<std::mutex> lock(queueLock);
      MergeCounts(&total, counts);
    });
  }
  auto hand = [&](std::vector<std::string>* batch) {
    if (batch->empty()) return;
    std::unique_lock<std::mutex> lock(queueLock);
    queueChanged.wait(lock, [&] { return queue.size() < kQueuedBatches; });
    queue.push_back(std::move(*batch));
    batch->clear();
    lock.unlock();
    queueChanged.notify_all();
  };

  // Lines are read into a bounded buffer: a longer line is answered BH from
  // what fits (its channel-ID included) and the rest of it skipped.
  std::vector<char> buffer(options_.maxLineLength + 1);
  std::vector<std::string> batch;
  std::string inOrder;  // answers to lines without channel-ID, in order
  ServeCounts readerCounts;
  for (;;) {
    in.getline(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    const std::size_t got = static_cast<std::size_t>(in.gcount());
    bool tooLong = false;
    if (in.fail() && !in.eof()) {
      // getline stored buffer.size() - 1 characters and found no line end.
      in.clear();
      in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
      tooLong = true;
    } else if (got == 0 && in.eof()) {
      break;
    }
    std::size_t length = std::strlen(buffer.data());
    // A NUL inside a line cuts it there: the rest cannot be a URL.
    const bool hasNul = !tooLong && got > 0 && length + (in.eof() ? 0 : 1) < got;
    std::string_view line(buffer.data(), length);
    if (tooLong || hasNul) {
      RequestLine request = ParseRequestLine(line, options_.channelMode);
      request.fault = nullptr;
      ++readerCounts.lines;
      ++readerCounts.broken;
      std::string answer;
      AppendBrokenHelper(&answer, request,
                         tooLong ? "the request line is longer than " +
                                       std::to_string(options_.maxLineLength) + " bytes"
                                 : std::string("the request line holds a NUL byte"));
      if (request.hasChannel) {
        writeOut(answer);
      } else {
        inOrder += answer;
      }
    } else if (TakesChannel(line, options_.channelMode)) {
      batch.emplace_back(line);
      if (batch.size() >= kBatchLines) hand(&batch);
    } else {
      auto lock = ReadLock();
      AnswerLocked(line, &inOrder, &readerCounts);
    }
    // Nothing more waiting: everything read so far is answered now.
    const bool more = !in.eof() && in.rdbuf()->in_avail() > 0;
    if (!more || inOrder.size() >= kOutputFlushBytes) {
      hand(&batch);
      writeOut(inOrder);
      inOrder.clear();
    }
    if (in.eof()) break;
  }
  hand(&batch);
  writeOut(inOrder);
  {
    std::lock_guard<std::mutex> lock(queueLock);
    ending = true;
  }
  queueChanged.notify_all();
  for (std::thread& worker : workers) worker.join();
  MergeCounts(&total, readerCounts);
  return total;
}

}  // namespace tarnwick_squid
