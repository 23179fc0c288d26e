// hxhost -- the reference proxy host for the filter plug-in.
#include <cstdio>
#include <string>
#include <vector>

#include "client_access.h"
#include "log.h"
#include "net.h"
#include "options.h"
#include "pellumin_version.h"
#include "plugin_host.h"
#include "proxy_server.h"
#include "reload.h"

namespace {

int Fail(const std::string& message) {
  std::fprintf(stderr, "hxhost: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (pellumin::AnswerVersion(argc, argv, "hxhost")) return 0;
  using namespace hxhost;
  std::vector<std::string> args(argv + 1, argv + argc);
  HostOptions options;
  std::string error;
  if (!ParseOptions(args, &options, &error)) {
    std::fprintf(stderr, "hxhost: %s\n%s", error.c_str(), UsageText());
    return 2;
  }
  if (options.help) {
    std::fputs(UsageText(), stdout);
    return 0;
  }

  PluginHost plugin;
  if (!plugin.Load(options.pluginPath, !options.configMode, &error)) return Fail(error);
  if (options.configMode) {
    if (!plugin.hasConfig()) {
      return Fail("the plug-in " + options.pluginPath +
                  " has no configuration interface (it does not export HXConfig: " +
                  plugin.configMissingReason() + ")");
    }
    if (!plugin.Config(options.configKey)) return Fail("configuration key path too long");
    return 0;
  }

  LineLog accessLog;
  LineLog diagnostics;
  if (!options.logPath.empty() && !accessLog.OpenFile(options.logPath, &error)) {
    return Fail("cannot open log file " + options.logPath + ": " + error);
  }
  LineLog squidLog;
  if (!options.squidLogPath.empty() && !squidLog.OpenFile(options.squidLogPath, &error)) {
    return Fail("cannot open access log " + options.squidLogPath + ": " + error);
  }
  if (!platform::StartSocketLibrary(&error)) return Fail(error);
  // Before HXInit, so that a stop request during a slow start is not lost.
  platform::InstallStopHandler();

  std::string message;
  int ready = plugin.Init(options.keyPath, &message);
  if (ready < 0) return Fail(message);
  std::fprintf(stderr, "hxhost: plug-in: %s\n", message.c_str());
  if (ready == 1) LogFilterInForce(options.keyPath, &diagnostics);
  FilterAvailability availability(options.onFailure);
  if (ready == 0) {
    // Exiting would take the proxy down for one bad list; the failure mode
    // says what clients get until a reload loads the filter.
    availability.SetUnavailable(message);
    diagnostics.Write("hxhost: " + availability.Describe());
  }
  options.proxy.availability = &availability;

  ProxyServer server(options.proxy, &plugin, &accessLog, &diagnostics);
  if (!options.squidLogPath.empty()) server.SetSquidAccessLog(&squidLog);
  platform::NetStatus status = server.Listen(&error);
  if (status != platform::NetStatus::kOk) {
    plugin.UnInit();
    std::string where = options.proxy.listenAddress + ":" + std::to_string(options.proxy.listenPort);
    if (status == platform::NetStatus::kAddressInUse) {
      return Fail("cannot listen on " + where + ": address in use (is another proxy running?)");
    }
    return Fail("cannot listen on " + where + ": " + error);
  }
  std::fprintf(stderr, "hxhost: listening on %s:%u\n", options.proxy.listenAddress.c_str(),
               static_cast<unsigned>(server.port()));
  const auto& allowed = options.proxy.allowedClients;
  std::fprintf(stderr, "hxhost: serving clients from %s%s\n",
               DescribeRanges(allowed.empty() ? LoopbackRanges() : allowed).c_str(),
               allowed.empty() ? " (loopback only; see --allow)" : "");
  std::fflush(stderr);
  {
    // SIGHUP: the same key path again, and the access log file reopened.
    Reloader reloader({&plugin, options.keyPath, &accessLog, options.logPath, &diagnostics,
                       &availability, &squidLog, options.squidLogPath});
    server.Run();
  }
  std::fprintf(stderr, "hxhost: stopping\n");
  plugin.UnInit();
  return 0;
}
