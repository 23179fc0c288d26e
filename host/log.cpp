// log.cpp -- the timestamped, thread-safe line log.
#include "log.h"

#include <cerrno>
#include <cstring>
#include <ctime>

namespace hxhost {

namespace {

// Civil date from days since 1970-01-01 (Howard Hinnant's algorithm), so that
// no non-thread-safe gmtime is needed.
void CivilFromDays(long long z, int* year, unsigned* month, unsigned* day) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long y = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *day = doy - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(y + (*month <= 2));
}

}  // namespace

LineLog::LineLog() : file_(stderr) {}

LineLog::~LineLog() {
  if (owned_) std::fclose(file_);
}

bool LineLog::OpenFile(const std::string& path, std::string* error) {
  std::FILE* f = std::fopen(path.c_str(), "a");
  if (!f) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  base::MutexLock lock(&mutex_);
  if (owned_) std::fclose(file_);
  file_ = f;
  owned_ = true;
  return true;
}

std::string LineLog::Format(long long unixSeconds, std::string_view line) {
  long long days = unixSeconds / 86400;
  long long secs = unixSeconds % 86400;
  if (secs < 0) {
    secs += 86400;
    --days;
  }
  int year;
  unsigned month, day;
  CivilFromDays(days, &year, &month, &day);
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%04d-%02u-%02uT%02d:%02d:%02dZ ", year, month, day,
                static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
                static_cast<int>(secs % 60));
  std::string text(stamp);
  text.reserve(text.size() + line.size() + 1);
  for (char c : line) {
    unsigned char u = static_cast<unsigned char>(c);
    text.push_back(u < 0x20 || u == 0x7f ? '?' : c);
  }
  text.push_back('\n');
  return text;
}

void LineLog::Write(std::string_view line) {
  std::string text = Format(static_cast<long long>(std::time(nullptr)), line);
  base::MutexLock lock(&mutex_);
  std::fwrite(text.data(), 1, text.size(), file_);
  std::fflush(file_);
}

void LineLog::WriteUnstamped(std::string_view line) {
  std::string text(line);
  text.push_back('\n');
  base::MutexLock lock(&mutex_);
  std::fwrite(text.data(), 1, text.size(), file_);
  std::fflush(file_);
}

}  // namespace hxhost
