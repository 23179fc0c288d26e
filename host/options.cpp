// options.cpp -- parsing hxhost's command line.
#include "options.h"

#include "base/args.h"
#include "http.h"

namespace hxhost {

const char* UsageText() {
  return "Usage: hxhost --plugin PATH [options]\n"
         "       hxhost --plugin PATH --config KEY\n"
         "\n"
         "A forward HTTP/1.1 proxy that asks a filter plug-in about every request.\n"
         "\n"
         "Options:\n"
         "  --plugin PATH            the plug-in library to load (required)\n"
         "  --key KEY                configuration key path below HKEY_LOCAL_MACHINE\n"
         "                           (default SOFTWARE\\Pellumin\\Filter)\n"
         "  --listen ADDR:PORT       where to accept clients (default 127.0.0.1:3128)\n"
         "  --allow RANGE            serve clients from RANGE, an address or ADDRESS/BITS,\n"
         "                           IPv4 or IPv6 (192.168.1.0/24, 2001:db8::/32);\n"
         "                           repeatable. Without it only loopback clients\n"
         "                           (127.0.0.0/8, ::1) are served; with it only the\n"
         "                           ranges given (add 127.0.0.1 to keep loopback).\n"
         "                           Others get 403 and a line in the access log.\n"
         "  --log FILE               append access log lines to FILE (default: stderr)\n"
         "  --access-log FILE        append one line per request to FILE in Squid's native\n"
         "                           access.log format (a denied one as TCP_DENIED/403),\n"
         "                           for the report tools made for Squid's logs\n"
         "  --upstream-timeout SECS  connect and answer timeout for origins (default 30)\n"
         "  --client-timeout SECS    idle time before a silent client is dropped (default 60)\n"
         "  --max-connections N      clients served at once (default 256)\n"
         "  --resolve NAME=ADDRESS   connect to ADDRESS for origin host NAME (\"*\": every\n"
         "                           host); repeatable; for demos and tests\n"
         "  --on-failure MODE        while the plug-in cannot initialise (a missing list,\n"
         "                           settings that do not parse): deny (default) answers\n"
         "                           every request 503, saying the filter is unavailable;\n"
         "                           allow forwards every request unfiltered, counted.\n"
         "                           Either way hxhost says why every minute and tries\n"
         "                           again every 30 seconds and on SIGHUP\n"
         "  --allow-unfiltered       the same as --on-failure allow\n"
         "  --config KEY             open the plug-in's settings for KEY, then exit\n"
         "  --help                   show this text\n"
         "  --version                show the version\n"
         "\n"
         "hxhost filters and fetches one canonical URL: user-info and fragments are\n"
         "dropped, and a host it cannot spell one way only (a numeric host other than\n"
         "four dotted decimal numbers, brackets around a name) gets 400.\n"
         "A denied CONNECT is answered 403 Forbidden with the filter's page.\n"
         "\n"
         "SIGHUP re-reads the settings (HXInit again with the same key) and reopens\n"
         "the --log and --access-log files; a reload that fails keeps the filter in\n"
         "force.\n"
         "\n"
         "Exit status: 0 after a clean stop (SIGINT, SIGTERM or Ctrl-C), 1 on a\n"
         "failure, 2 on bad arguments.\n";
}

bool ParseListenAddress(const std::string& text, std::string* address, uint16_t* port,
                        std::string* error) {
  std::string why;
  // Port 0 asks for any free port; the chosen one is printed at start.
  bool anyPort = text.size() > 2 && text.compare(text.size() - 2, 2, ":0") == 0;
  std::string checked = anyPort ? text.substr(0, text.size() - 1) + "1" : text;
  if (!SplitHostPort(checked, address, port, &why)) {
    *error = "bad --listen value '" + text + "': " + why;
    return false;
  }
  if (anyPort) *port = 0;
  return true;
}

namespace {

// What the options read so far leave behind beyond HostOptions itself.
struct ParseState {
  HostOptions* out;
  bool listenGiven = false;
};

bool ParseSeconds(const char* name, const std::string& value, int* milliseconds,
                  std::string* error) {
  long seconds = 0;
  if (!base::ParseDecimalInRange(value, 1, 86400, &seconds)) {
    *error = std::string(name) + " needs whole seconds from 1 to 86400, not '" + value + "'";
    return false;
  }
  *milliseconds = static_cast<int>(seconds * 1000);
  return true;
}

bool ApplyConfig(const std::string& value, ParseState* state, std::string*) {
  state->out->configKey = value;
  state->out->configMode = true;
  return true;
}

bool ApplyListen(const std::string& value, ParseState* state, std::string* error) {
  ProxyOptions& proxy = state->out->proxy;
  if (!ParseListenAddress(value, &proxy.listenAddress, &proxy.listenPort, error)) return false;
  state->listenGiven = true;
  return true;
}

bool ApplyUpstreamTimeout(const std::string& value, ParseState* state, std::string* error) {
  return ParseSeconds("--upstream-timeout", value, &state->out->proxy.upstreamTimeoutMs, error);
}

bool ApplyClientTimeout(const std::string& value, ParseState* state, std::string* error) {
  return ParseSeconds("--client-timeout", value, &state->out->proxy.clientIdleTimeoutMs, error);
}

bool ApplyOnFailure(const std::string& value, ParseState* state, std::string* error) {
  if (value == "deny" || value == "allow") {
    state->out->onFailure = value == "allow" ? FailureMode::kAllow : FailureMode::kDeny;
    return true;
  }
  *error = "--on-failure must be deny or allow, not '" + value + "'";
  return false;
}

bool ApplyResolve(const std::string& value, ParseState* state, std::string* error) {
  const size_t sep = value.find('=');
  if (sep == 0 || sep == std::string::npos || sep + 1 == value.size()) {
    *error = "--resolve needs NAME=ADDRESS, not '" + value + "'";
    return false;
  }
  state->out->proxy.hostMap.emplace_back(value.substr(0, sep), value.substr(sep + 1));
  return true;
}

bool ApplyAllow(const std::string& value, ParseState* state, std::string* error) {
  AddressRange range;
  std::string why;
  if (!ParseAddressRange(value, &range, &why)) {
    *error = "bad --allow value '" + value + "': " + why;
    return false;
  }
  state->out->proxy.allowedClients.push_back(range);
  return true;
}

bool ApplyMaxConnections(const std::string& value, ParseState* state, std::string* error) {
  long count = 0;
  if (!base::ParseDecimalInRange(value, 1, 100000, &count)) {
    *error = "--max-connections needs a number from 1 to 100000, not '" + value + "'";
    return false;
  }
  state->out->proxy.maxConnections = static_cast<int>(count);
  return true;
}

// An option that takes a value ("--name VALUE" or "--name=VALUE"): what the
// value is, for "NAME needs WHAT", and the text it is stored in as given, or
// the function that checks and stores it.
struct ValueOption {
  const char* name;
  const char* needs;
  std::string HostOptions::*text;
  bool (*apply)(const std::string& value, ParseState* state, std::string* error);
};

const ValueOption kValueOptions[] = {
    {"--plugin", "a path", &HostOptions::pluginPath, nullptr},
    {"--key", "a key path", &HostOptions::keyPath, nullptr},
    {"--config", "a key path", nullptr, ApplyConfig},
    {"--log", "a file name", &HostOptions::logPath, nullptr},
    {"--access-log", "a file name", &HostOptions::squidLogPath, nullptr},
    {"--listen", "ADDR:PORT", nullptr, ApplyListen},
    {"--upstream-timeout", "a number of seconds", nullptr, ApplyUpstreamTimeout},
    {"--client-timeout", "a number of seconds", nullptr, ApplyClientTimeout},
    {"--resolve", "NAME=ADDRESS", nullptr, ApplyResolve},
    {"--allow", "an address range", nullptr, ApplyAllow},
    {"--max-connections", "a number", nullptr, ApplyMaxConnections},
    {"--on-failure", "deny or allow", nullptr, ApplyOnFailure},
};

// The switch an option without a value turns on; null for any other name.
bool* FindFlag(const std::string& name, HostOptions* out) {
  if (name == "--help" || name == "-h") return &out->help;
  if (name == "--allow-unfiltered") return &out->allowUnfiltered;
  return nullptr;
}

// Reads the argument under the cursor, and its value if it takes one.
bool ReadOption(base::ArgCursor* args, ParseState* state, std::string* error) {
  const std::string name = args->Name();
  if (bool* flag = FindFlag(name, state->out)) {
    if (!args->RefuseValue(error)) return false;
    *flag = true;
    return true;
  }
  for (const ValueOption& option : kValueOptions) {
    if (name != option.name) continue;
    std::string value;
    if (!args->TakeValue(&value, error, option.needs)) return false;
    if (option.text == nullptr) return option.apply(value, state, error);
    state->out->*option.text = value;
    return true;
  }
  *error = "unknown argument '" + args->Arg() + "'";
  return false;
}

// What the options given ask for together: a plug-in, and with --config
// nothing that only serving requests would use.
bool CheckCombination(const ParseState& state, std::string* error) {
  const HostOptions& out = *state.out;
  if (out.help) return true;
  if (out.pluginPath.empty()) {
    *error = "--plugin PATH is required";
    return false;
  }
  if (out.configMode && (state.listenGiven || !out.logPath.empty() ||
                          !out.squidLogPath.empty() || out.allowUnfiltered ||
                          !out.proxy.allowedClients.empty())) {
    *error = "--config does not serve requests; it takes only --plugin";
    return false;
  }
  return true;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, HostOptions* out, std::string* error) {
  *out = HostOptions();
  ParseState state{out};
  base::ArgCursor cursor(args);
  while (cursor.Next()) {
    if (!ReadOption(&cursor, &state, error)) return false;
  }
  if (out->allowUnfiltered) out->onFailure = FailureMode::kAllow;
  return CheckCombination(state, error);
}

}  // namespace hxhost
