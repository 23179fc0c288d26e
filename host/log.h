// log.h -- a line log shared by all connection threads.
#ifndef PELLUMIN_HOST_LOG_H_
#define PELLUMIN_HOST_LOG_H_

#include <cstdio>
#include <string>
#include <string_view>

#include "base/mutex.h"

namespace hxhost {

// Writes whole lines, each prefixed with a UTC timestamp
// ("2024-05-01T12:00:00Z "), one writer at a time. Control characters in a
// line are shown as '?', so that one request always gives one line.
class LineLog {
 public:
  // Logs to stderr.
  LineLog();
  ~LineLog();
  LineLog(const LineLog&) = delete;
  LineLog& operator=(const LineLog&) = delete;

  // Appends to the file from now on; false with the reason when it cannot
  // be opened.
  bool OpenFile(const std::string& path, std::string* error) EXCLUDES(mutex_);
  void Write(std::string_view line) EXCLUDES(mutex_);
  // The line as it is, without the timestamp (a format with its own).
  void WriteUnstamped(std::string_view line) EXCLUDES(mutex_);

  // The line as Write puts it, for a given time (seconds since 1970).
  static std::string Format(long long unixSeconds, std::string_view line);

 private:
  base::Mutex mutex_;
  std::FILE* file_ GUARDED_BY(mutex_);
  bool owned_ GUARDED_BY(mutex_) = false;
};

}  // namespace hxhost

#endif  // PELLUMIN_HOST_LOG_H_
