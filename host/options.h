// options.h -- hxhost's command line.
#ifndef PELLUMIN_HOST_OPTIONS_H_
#define PELLUMIN_HOST_OPTIONS_H_

#include <string>
#include <vector>

#include "proxy_server.h"

namespace hxhost {

struct HostOptions {
  std::string pluginPath;
  std::string keyPath = "SOFTWARE\\Pellumin\\Filter";
  std::string configKey;  // --config: open the settings, then exit
  bool configMode = false;
  std::string logPath;    // empty: standard error
  std::string squidLogPath;  // --access-log: Squid's native format; empty: none
  bool allowUnfiltered = false;  // the older spelling of --on-failure allow
  // What to do while the filter cannot be loaded.
  FailureMode onFailure = FailureMode::kDeny;
  bool help = false;
  ProxyOptions proxy;
};

// Parses argv[1..]; "--name value" and "--name=value" both work. On a
// bad argument returns false with a one-line reason.
bool ParseOptions(const std::vector<std::string>& args, HostOptions* out, std::string* error);

// "127.0.0.1:3128", "[::1]:3128"; the address must be numeric.
bool ParseListenAddress(const std::string& text, std::string* address, uint16_t* port,
                        std::string* error);

const char* UsageText();

}  // namespace hxhost

#endif  // PELLUMIN_HOST_OPTIONS_H_
