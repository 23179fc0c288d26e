// plugin_host.h -- loads a filter plug-in by path and calls its entry
// points, one call at a time.
#ifndef PELLUMIN_HOST_PLUGIN_HOST_H_
#define PELLUMIN_HOST_PLUGIN_HOST_H_

#include <string>

#include "base/mutex.h"
#include "net.h"
#include "tarnwick.h"

namespace hxhost {

// What the proxy asks before it forwards a request.
class UrlFilter {
 public:
  virtual ~UrlFilter() = default;
  // url is a TARNWICK_URL_BUFFER_SIZE-byte buffer holding the URL; the filter
  // may replace it with an access log line that begins with "~". Returns
  // true to go on with the request, false when the filter has answered the
  // client itself.
  virtual bool ProcessUrl(HostConnection* connection, char* url) = 0;
};

class PluginHost : public UrlFilter {
 public:
  PluginHost() = default;
  ~PluginHost() override;
  PluginHost(const PluginHost&) = delete;
  PluginHost& operator=(const PluginHost&) = delete;

  // Loads the library and binds its entry points. With requireFilter, a
  // plug-in without HXInit, HXProcURL or HXUnInit is refused. Every failure
  // names the library, each missing entry point, and the OS's reason.
  bool Load(const std::string& path, bool requireFilter, std::string* error);

  bool hasConfig() const { return config_ != nullptr; }
  // Without HXConfig: the loader's reason for not finding it.
  const std::string& configMissingReason() const { return configMissingReason_; }

  // Calls HXInit with the key path in a message buffer of
  // TARNWICK_MESSAGE_BUFFER_SIZE bytes; *message receives the plug-in's
  // status line. Returns HXInit's result, or -1 when the key path does not
  // fit the buffer (HXInit is then not called).
  int Init(const std::string& keyPath, std::string* message) EXCLUDES(mutex_);

  // Calls HXConfig with the key path; false when the plug-in has none or the
  // path does not fit.
  bool Config(const std::string& keyPath) EXCLUDES(mutex_);

  // Calls HXProcURL; the plug-in keeps process-wide state, so calls are
  // serialised here.
  bool ProcessUrl(HostConnection* connection, char* url) override EXCLUDES(mutex_);

  // Calls HXUnInit once, after a successful Load and Init; later calls do
  // nothing.
  void UnInit() EXCLUDES(mutex_);

 private:
  using InitFn = int(HX_CALL*)(char*);
  using ProcUrlFn = int(HX_CALL*)(HostConnection*, char*);
  using UnInitFn = int(HX_CALL*)(int);
  using ConfigFn = int(HX_CALL*)(char*);

  platform::SharedLibrary library_;
  InitFn init_ = nullptr;
  ProcUrlFn procUrl_ = nullptr;
  UnInitFn uninit_ = nullptr;
  ConfigFn config_ = nullptr;
  std::string configMissingReason_;
  // Held for every call into the plug-in.
  base::Mutex mutex_;
  bool initialised_ GUARDED_BY(mutex_) = false;
};

}  // namespace hxhost

#endif  // PELLUMIN_HOST_PLUGIN_HOST_H_
