// plugin_host.cpp -- binding and calling the plug-in's entry points.
#include "plugin_host.h"

#include <cstring>
#include <vector>

namespace hxhost {

namespace {

// A __stdcall export is plain "HXInit" when the plug-in has a .def file, but
// a build without one decorates it ("_HXInit@4"); accept both.
// *why receives the loader's text for the plain name when none is found.
void* FindEntryPoint(const platform::SharedLibrary& library, const char* name, int argBytes,
                     std::string* why) {
  if (void* p = library.Symbol(name, why)) return p;
#if defined(_WIN32)
  std::string decorated = std::string(name) + "@" + std::to_string(argBytes);
  if (void* p = library.Symbol(decorated.c_str())) return p;
  if (void* p = library.Symbol(("_" + decorated).c_str())) return p;
#endif
  return nullptr;
}

}  // namespace

PluginHost::~PluginHost() { UnInit(); }

bool PluginHost::Load(const std::string& path, bool requireFilter, std::string* error) {
  std::string why;
  if (!library_.Load(path, &why)) {
    *error = "cannot load plug-in " + path + ": " + why;
    return false;
  }
  std::string whyInit, whyProc, whyUninit, whyConfig;
  init_ = reinterpret_cast<InitFn>(FindEntryPoint(library_, "HXInit", 4, &whyInit));
  procUrl_ = reinterpret_cast<ProcUrlFn>(FindEntryPoint(library_, "HXProcURL", 8, &whyProc));
  uninit_ = reinterpret_cast<UnInitFn>(FindEntryPoint(library_, "HXUnInit", 4, &whyUninit));
  config_ = reinterpret_cast<ConfigFn>(FindEntryPoint(library_, "HXConfig", 4, &whyConfig));
  configMissingReason_ = config_ ? "" : whyConfig;
  if (!requireFilter) return true;
  // Each missing entry point with the loader's reason: "HXInit (reason)".
  std::string missing;
  auto note = [&missing](bool found, const char* name, const std::string& why) {
    if (found) return;
    if (!missing.empty()) missing += ", ";
    missing += std::string(name) + " (" + why + ")";
  };
  note(init_ != nullptr, "HXInit", whyInit);
  note(procUrl_ != nullptr, "HXProcURL", whyProc);
  note(uninit_ != nullptr, "HXUnInit", whyUninit);
  if (missing.empty()) return true;
  *error = "plug-in " + path + " lacks the entry point " + missing;
  init_ = nullptr;
  procUrl_ = nullptr;
  uninit_ = nullptr;
  config_ = nullptr;
  library_.Unload();
  return false;
}

int PluginHost::Init(const std::string& keyPath, std::string* message) {
  std::vector<char> buffer(TARNWICK_MESSAGE_BUFFER_SIZE, '\0');
  if (!init_ || keyPath.size() >= buffer.size()) {
    *message = init_ ? "configuration key path longer than " +
                           std::to_string(buffer.size() - 1) + " characters"
                     : "plug-in not loaded";
    return -1;
  }
  std::memcpy(buffer.data(), keyPath.data(), keyPath.size());
  base::MutexLock lock(&mutex_);
  int rc = init_(buffer.data());
  buffer.back() = '\0';
  *message = buffer.data();
  // HXUnInit releases what HXInit made, also after a failed HXInit.
  initialised_ = true;
  return rc;
}

bool PluginHost::Config(const std::string& keyPath) {
  std::vector<char> buffer(TARNWICK_MESSAGE_BUFFER_SIZE, '\0');
  if (!config_ || keyPath.size() >= buffer.size()) return false;
  std::memcpy(buffer.data(), keyPath.data(), keyPath.size());
  base::MutexLock lock(&mutex_);
  config_(buffer.data());
  return true;
}

bool PluginHost::ProcessUrl(HostConnection* connection, char* url) {
  base::MutexLock lock(&mutex_);
  if (!procUrl_) return true;
  int rc = procUrl_(connection, url);
  url[TARNWICK_URL_BUFFER_SIZE - 1] = '\0';
  return rc != 0;
}

void PluginHost::UnInit() {
  base::MutexLock lock(&mutex_);
  if (initialised_ && uninit_) uninit_(0);
  initialised_ = false;
}

}  // namespace hxhost
