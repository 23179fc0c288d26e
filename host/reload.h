// reload.h -- what hxhost says about the filter in force, and picking up
// saved settings while it runs (SIGHUP on POSIX).
#ifndef PELLUMIN_HOST_RELOAD_H_
#define PELLUMIN_HOST_RELOAD_H_

#include <atomic>
#include <string>
#include <thread>

#include "availability.h"
#include "log.h"
#include "plugin_host.h"

namespace hxhost {

// One diagnostics line each for the denied and the alerted categories (by
// name) and the control list with its record count, as stored below
// keyPath; or one line saying why that cannot be told.
void LogFilterInForce(const std::string& keyPath, LineLog* diagnostics);

// What a reload works on; all must outlive the reloader.
struct ReloadTargets {
  PluginHost* plugin;
  std::string keyPath;
  LineLog* accessLog;
  std::string accessLogPath;  // empty: the access log is standard error
  LineLog* diagnostics;
  // Set available when the filter loads; null: not tracked.
  FilterAvailability* availability = nullptr;
  LineLog* squidLog = nullptr;  // --access-log, reopened too
  std::string squidLogPath;     // empty: none
};

// Reopens the access log file (for log rotation: a file moved away is
// closed and a new one started), then calls HXInit again with the same key
// path. Requests already past the filter finish as they were decided; new
// ones wait for the exchange only. A failed re-initialisation keeps the
// filter in force (the plug-in keeps it) and a log file that cannot be
// reopened keeps the old one; both say why. Returns true when both went.
bool ReloadSettings(const ReloadTargets& targets);

// Runs ReloadSettings on each reload request (platform::TakeReloadRequest)
// in a thread of its own, until stopped. While the filter is unavailable it
// also tries every 30 seconds and says so in the diagnostics every minute.
class Reloader {
 public:
  explicit Reloader(ReloadTargets targets);
  ~Reloader();
  Reloader(const Reloader&) = delete;
  Reloader& operator=(const Reloader&) = delete;

 private:
  ReloadTargets targets_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace hxhost

#endif  // PELLUMIN_HOST_RELOAD_H_
