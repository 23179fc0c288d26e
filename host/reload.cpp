// reload.cpp -- the filter in force, and reloading it.
#include "reload.h"

#include <chrono>
#include <vector>

#include "env.h"
#include "in_force.h"
#include "net.h"

namespace hxhost {

namespace {

// How often the reload thread looks for a request; a signal handler can do
// no more than set a flag.
constexpr std::chrono::milliseconds kReloadPoll{50};
// While the filter is unavailable: how often to load again, and to say so.
constexpr std::chrono::seconds kRetryInterval{30};
constexpr std::chrono::seconds kNoteInterval{60};

// Reopens a log file (empty path: none), for rotation; saying so, or why not.
bool ReopenLog(LineLog* log, const std::string& path, LineLog* diagnostics) {
  if (path.empty()) return true;
  std::string error;
  if (log->OpenFile(path, &error)) {
    diagnostics->Write("hxhost: access log reopened: " + path);
    return true;
  }
  diagnostics->Write("hxhost: cannot reopen the access log " + path + " (" + error +
                     "); logging goes on to the file open before");
  return false;
}

}  // namespace

void LogFilterInForce(const std::string& keyPath, LineLog* diagnostics) {
  std::vector<std::string> lines;
  std::string error;
  settings::RegistryStore store(platform::Env::Default()->registry());
  if (!settings::DescribeStoredFilter(store, keyPath.c_str(), &lines, &error)) {
    diagnostics->Write("hxhost: cannot tell what is in force: " + error);
    return;
  }
  for (const std::string& line : lines) diagnostics->Write("hxhost: in force: " + line);
}

bool ReloadSettings(const ReloadTargets& targets) {
  bool ok = true;
  targets.diagnostics->Write("hxhost: reloading the settings below " + targets.keyPath);
  if (!ReopenLog(targets.accessLog, targets.accessLogPath, targets.diagnostics)) ok = false;
  if (targets.squidLog != nullptr &&
      !ReopenLog(targets.squidLog, targets.squidLogPath, targets.diagnostics)) {
    ok = false;
  }
  std::string message;
  const int ready = targets.plugin->Init(targets.keyPath, &message);
  FilterAvailability* availability = targets.availability;
  if (ready == 1) {
    targets.diagnostics->Write("hxhost: plug-in: " + message);
    LogFilterInForce(targets.keyPath, targets.diagnostics);
    if (availability != nullptr && !availability->available()) {
      availability->SetAvailable();
      targets.diagnostics->Write("hxhost: the filter is loaded; filtering resumes");
    }
    return ok;
  }
  if (availability != nullptr && !availability->available()) {
    availability->SetUnavailable(message);
    targets.diagnostics->Write("hxhost: " + availability->Describe());
    return false;
  }
  targets.diagnostics->Write("hxhost: reload failed, the filter in force stays: " + message);
  return false;
}

Reloader::Reloader(ReloadTargets targets) : targets_(std::move(targets)) {
  platform::InstallReloadHandler();
  thread_ = std::thread([this] {
    using Clock = std::chrono::steady_clock;
    Clock::time_point nextTry = Clock::now() + kRetryInterval;
    Clock::time_point nextNote = Clock::now() + kNoteInterval;
    while (!stop_.load()) {
      const FilterAvailability* availability = targets_.availability;
      const bool unavailable = availability != nullptr && !availability->available();
      const Clock::time_point now = Clock::now();
      if (unavailable && now >= nextNote) {
        targets_.diagnostics->Write("hxhost: " + availability->Describe());
        nextNote = now + kNoteInterval;
      }
      if (platform::TakeReloadRequest() || (unavailable && now >= nextTry)) {
        ReloadSettings(targets_);
        nextTry = Clock::now() + kRetryInterval;
      } else {
        std::this_thread::sleep_for(kReloadPoll);
      }
    }
  });
}

Reloader::~Reloader() {
  stop_.store(true);
  thread_.join();
}

}  // namespace hxhost
