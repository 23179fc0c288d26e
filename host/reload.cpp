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

}  // namespace

void LogFilterInForce(const std::string& key_path, LineLog* diagnostics) {
  std::vector<std::string> lines;
  std::string error;
  settings::RegistryStore store(platform::Env::Default()->registry());
  if (!settings::DescribeStoredFilter(store, key_path.c_str(), &lines, &error)) {
    diagnostics->Write("hxhost: cannot tell what is in force: " + error);
    return;
  }
  for (const std::string& line : lines) diagnostics->Write("hxhost: in force: " + line);
}

bool ReloadSettings(const ReloadTargets& targets) {
  bool ok = true;
  targets.diagnostics->Write("hxhost: reloading the settings below " + targets.key_path);
  if (!targets.access_log_path.empty()) {
    std::string error;
    if (targets.access_log->OpenFile(targets.access_log_path, &error)) {
      targets.diagnostics->Write("hxhost: access log reopened: " + targets.access_log_path);
    } else {
      targets.diagnostics->Write("hxhost: cannot reopen the access log " +
                                 targets.access_log_path + " (" + error +
                                 "); logging goes on to the file open before");
      ok = false;
    }
  }
  std::string message;
  const int ready = targets.plugin->Init(targets.key_path, &message);
  if (ready == 1) {
    targets.diagnostics->Write("hxhost: plug-in: " + message);
    LogFilterInForce(targets.key_path, targets.diagnostics);
    return ok;
  }
  targets.diagnostics->Write("hxhost: reload failed, the filter in force stays: " + message);
  return false;
}

Reloader::Reloader(ReloadTargets targets) : targets_(std::move(targets)) {
  platform::InstallReloadHandler();
  thread_ = std::thread([this] {
    while (!stop_.load()) {
      if (platform::TakeReloadRequest()) {
        ReloadSettings(targets_);
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
