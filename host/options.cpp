// options.cpp -- parsing hxhost's command line.
#include "options.h"

#include "http.h"

namespace hxhost {

namespace {

bool ParsePositive(const std::string& text, long max, long* out) {
  if (text.empty() || text.size() > 9) return false;
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > max) return false;
  *out = value;
  return true;
}

}  // namespace

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
         "  --upstream-timeout SECS  connect and answer timeout for origins (default 30)\n"
         "  --client-timeout SECS    idle time before a silent client is dropped (default 60)\n"
         "  --max-connections N      clients served at once (default 256)\n"
         "  --resolve NAME=ADDRESS   connect to ADDRESS for origin host NAME (\"*\": every\n"
         "                           host); repeatable; for demos and tests\n"
         "  --allow-unfiltered       keep serving when the plug-in fails to initialise\n"
         "  --config KEY             open the plug-in's settings for KEY, then exit\n"
         "  --help                   show this text\n"
         "\n"
         "hxhost filters and fetches one canonical URL: user-info and fragments are\n"
         "dropped, and a host it cannot spell one way only (a numeric host other than\n"
         "four dotted decimal numbers, brackets around a name) gets 400.\n"
         "A denied CONNECT is answered 403 Forbidden with the filter's page.\n"
         "\n"
         "SIGHUP re-reads the settings (HXInit again with the same key) and reopens\n"
         "the --log file; a reload that fails keeps the filter in force.\n"
         "\n"
         "Exit status: 0 after a clean stop (SIGINT, SIGTERM or Ctrl-C), 1 on a\n"
         "failure, 2 on bad arguments.\n";
}

bool ParseListenAddress(const std::string& text, std::string* address, uint16_t* port,
                        std::string* error) {
  std::string why;
  // Port 0 asks for any free port; the chosen one is printed at start.
  bool any_port = text.size() > 2 && text.compare(text.size() - 2, 2, ":0") == 0;
  std::string checked = any_port ? text.substr(0, text.size() - 1) + "1" : text;
  if (!SplitHostPort(checked, address, port, &why)) {
    *error = "bad --listen value '" + text + "': " + why;
    return false;
  }
  if (any_port) *port = 0;
  return true;
}

bool ParseOptions(const std::vector<std::string>& args, HostOptions* out, std::string* error) {
  *out = HostOptions();
  bool listen_given = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool has_inline_value = false;
    size_t eq = name.find('=');
    if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      has_inline_value = true;
    }
    auto take_value = [&](const char* what) -> bool {
      if (has_inline_value) return true;
      if (i + 1 >= args.size()) {
        *error = name + " needs " + what;
        return false;
      }
      value = args[++i];
      return true;
    };
    auto no_value = [&]() -> bool {
      if (has_inline_value) {
        *error = name + " takes no value";
        return false;
      }
      return true;
    };
    if (name == "--help" || name == "-h") {
      if (!no_value()) return false;
      out->help = true;
    } else if (name == "--allow-unfiltered") {
      if (!no_value()) return false;
      out->allow_unfiltered = true;
    } else if (name == "--plugin") {
      if (!take_value("a path")) return false;
      out->plugin_path = value;
    } else if (name == "--key") {
      if (!take_value("a key path")) return false;
      out->key_path = value;
    } else if (name == "--config") {
      if (!take_value("a key path")) return false;
      out->config_key = value;
      out->config_mode = true;
    } else if (name == "--log") {
      if (!take_value("a file name")) return false;
      out->log_path = value;
    } else if (name == "--listen") {
      if (!take_value("ADDR:PORT")) return false;
      if (!ParseListenAddress(value, &out->proxy.listen_address, &out->proxy.listen_port, error)) {
        return false;
      }
      listen_given = true;
    } else if (name == "--upstream-timeout" || name == "--client-timeout") {
      if (!take_value("a number of seconds")) return false;
      long seconds = 0;
      if (!ParsePositive(value, 86400, &seconds)) {
        *error = name + " needs whole seconds from 1 to 86400, not '" + value + "'";
        return false;
      }
      (name == "--upstream-timeout" ? out->proxy.upstream_timeout_ms
                                    : out->proxy.client_idle_timeout_ms) =
          static_cast<int>(seconds * 1000);
    } else if (name == "--resolve") {
      if (!take_value("NAME=ADDRESS")) return false;
      size_t sep = value.find('=');
      if (sep == 0 || sep == std::string::npos || sep + 1 == value.size()) {
        *error = "--resolve needs NAME=ADDRESS, not '" + value + "'";
        return false;
      }
      out->proxy.host_map.emplace_back(value.substr(0, sep), value.substr(sep + 1));
    } else if (name == "--allow") {
      if (!take_value("an address range")) return false;
      AddressRange range;
      std::string why;
      if (!ParseAddressRange(value, &range, &why)) {
        *error = "bad --allow value '" + value + "': " + why;
        return false;
      }
      out->proxy.allowed_clients.push_back(range);
    } else if (name == "--max-connections") {
      if (!take_value("a number")) return false;
      long n = 0;
      if (!ParsePositive(value, 100000, &n)) {
        *error = "--max-connections needs a number from 1 to 100000, not '" + value + "'";
        return false;
      }
      out->proxy.max_connections = static_cast<int>(n);
    } else {
      *error = "unknown argument '" + args[i] + "'";
      return false;
    }
  }
  if (out->help) return true;
  if (out->plugin_path.empty()) {
    *error = "--plugin PATH is required";
    return false;
  }
  if (out->config_mode && (listen_given || !out->log_path.empty() || out->allow_unfiltered ||
                           !out->proxy.allowed_clients.empty())) {
    *error = "--config does not serve requests; it takes only --plugin";
    return false;
  }
  return true;
}

}  // namespace hxhost
