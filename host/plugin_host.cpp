// plugin_host.cpp -- binding and calling the plug-in's entry points.
#include "plugin_host.h"

#include <cstring>
#include <vector>

namespace hxhost {

namespace {

// A __stdcall export is plain "HXInit" when the plug-in has a .def file, but
// a build without one decorates it ("_HXInit@4"); accept both.
// *why receives the loader's text for the plain name when none is found.
void* FindEntryPoint(const platform::SharedLibrary& library, const char* name, int arg_bytes,
                     std::string* why) {
  if (void* p = library.Symbol(name, why)) return p;
#if defined(_WIN32)
  std::string decorated = std::string(name) + "@" + std::to_string(arg_bytes);
  if (void* p = library.Symbol(decorated.c_str())) return p;
  if (void* p = library.Symbol(("_" + decorated).c_str())) return p;
#endif
  return nullptr;
}

}  // namespace

PluginHost::~PluginHost() { UnInit(); }

bool PluginHost::Load(const std::string& path, bool require_filter, std::string* error) {
  std::string why;
  if (!library_.Load(path, &why)) {
    *error = "cannot load plug-in " + path + ": " + why;
    return false;
  }
  std::string why_init, why_proc, why_uninit, why_config;
  init_ = reinterpret_cast<InitFn>(FindEntryPoint(library_, "HXInit", 4, &why_init));
  proc_url_ = reinterpret_cast<ProcUrlFn>(FindEntryPoint(library_, "HXProcURL", 8, &why_proc));
  uninit_ = reinterpret_cast<UnInitFn>(FindEntryPoint(library_, "HXUnInit", 4, &why_uninit));
  config_ = reinterpret_cast<ConfigFn>(FindEntryPoint(library_, "HXConfig", 4, &why_config));
  config_missing_reason_ = config_ ? "" : why_config;
  if (!require_filter) return true;
  // Each missing entry point with the loader's reason: "HXInit (reason)".
  std::string missing;
  auto note = [&missing](bool found, const char* name, const std::string& why) {
    if (found) return;
    if (!missing.empty()) missing += ", ";
    missing += std::string(name) + " (" + why + ")";
  };
  note(init_ != nullptr, "HXInit", why_init);
  note(proc_url_ != nullptr, "HXProcURL", why_proc);
  note(uninit_ != nullptr, "HXUnInit", why_uninit);
  if (missing.empty()) return true;
  *error = "plug-in " + path + " lacks the entry point " + missing;
  init_ = nullptr;
  proc_url_ = nullptr;
  uninit_ = nullptr;
  config_ = nullptr;
  library_.Unload();
  return false;
}

int PluginHost::Init(const std::string& key_path, std::string* message) {
  std::vector<char> buffer(TARNWICK_MESSAGE_BUFFER_SIZE, '\0');
  if (!init_ || key_path.size() >= buffer.size()) {
    *message = init_ ? "configuration key path longer than " +
                           std::to_string(buffer.size() - 1) + " characters"
                     : "plug-in not loaded";
    return -1;
  }
  std::memcpy(buffer.data(), key_path.data(), key_path.size());
  std::lock_guard<std::mutex> lock(mutex_);
  int rc = init_(buffer.data());
  buffer.back() = '\0';
  *message = buffer.data();
  // HXUnInit releases what HXInit made, also after a failed HXInit.
  initialised_ = true;
  return rc;
}

bool PluginHost::Config(const std::string& key_path) {
  std::vector<char> buffer(TARNWICK_MESSAGE_BUFFER_SIZE, '\0');
  if (!config_ || key_path.size() >= buffer.size()) return false;
  std::memcpy(buffer.data(), key_path.data(), key_path.size());
  std::lock_guard<std::mutex> lock(mutex_);
  config_(buffer.data());
  return true;
}

bool PluginHost::ProcessUrl(HostConnection* connection, char* url) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!proc_url_) return true;
  int rc = proc_url_(connection, url);
  url[TARNWICK_URL_BUFFER_SIZE - 1] = '\0';
  return rc != 0;
}

void PluginHost::UnInit() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (initialised_ && uninit_) uninit_(0);
  initialised_ = false;
}

}  // namespace hxhost
