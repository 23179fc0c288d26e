// proxy_server.h -- a multi-threaded HTTP/1.1 forward proxy that asks a URL
// filter before it forwards each request.
#ifndef PELLUMIN_HOST_PROXY_SERVER_H_
#define PELLUMIN_HOST_PROXY_SERVER_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "address.h"
#include "availability.h"
#include "base/mutex.h"
#include "log.h"
#include "net.h"
#include "page_catcher.h"
#include "plugin_host.h"
#include "squid_access_log.h"

namespace hxhost {

struct ProxyOptions {
  std::string listenAddress = "127.0.0.1";
  uint16_t listenPort = 3128;   // 0 picks a free port
  int upstreamTimeoutMs = 30000;  // connect, and each wait for the origin
  int clientIdleTimeoutMs = 60000;  // a keep-alive client that sends nothing
  int maxConnections = 256;
  int shutdownGraceMs = 3000;  // for running requests when stopping
  // Origin host names to connect to at another address (name, address);
  // the name "*" stands for every host. For demos and tests that must stay
  // on one machine; the request itself is not changed.
  std::vector<std::pair<std::string, std::string>> hostMap;
  // The clients served; empty: loopback only. Others get 403.
  std::vector<AddressRange> allowedClients;
  // Whether the filter is in force and what to do while it is not; null:
  // always in force. Must outlive the server.
  FilterAvailability* availability = nullptr;
};

// The address hxhost connects to for an origin host.
std::string MapUpstreamHost(const ProxyOptions& options, const std::string& host);

class ProxyServer {
 public:
  // filter, accessLog and diagnostics must outlive the server.
  ProxyServer(const ProxyOptions& options, UrlFilter* filter, LineLog* accessLog,
              LineLog* diagnostics);
  ~ProxyServer();
  ProxyServer(const ProxyServer&) = delete;
  ProxyServer& operator=(const ProxyServer&) = delete;

  // Binds the listening socket (and makes the waker a stop uses).
  platform::NetStatus Listen(std::string* error);
  uint16_t port() const { return port_; }

  // Accepts and serves until Stop() or a console stop request; then stops
  // accepting, gives running requests the grace time, closes what is left
  // and returns when every connection thread has ended.
  void Run();
  void Stop() { stop_.store(true); }

  // Every request also gets a line in Squid's native format in log, which
  // must outlive the server. Before Run().
  void SetSquidAccessLog(LineLog* log) { squidLog_ = log; }

  // Connections being served now.
  int activeConnections() const { return active_.load(); }
  // Connections closed because the client sent its body or took its answer
  // too slowly (--client-timeout as a whole, not per wait).
  std::uint64_t slowClientsClosed() const { return slowClientsClosed_.load(); }

 private:
  struct Worker {
    std::thread thread;
    std::atomic<bool> done{false};
  };
  class Connection;

  bool Stopping() const { return stop_.load() || platform::StopRequested(); }
  void ReapWorkers(bool all);
  void RefuseOverLimit(platform::Socket client, const std::string& peer);
  // Connections waiting for a request (the first, or the next on a kept-alive
  // connection) are idle; at the connection limit the one idle longest is
  // closed to make room (false when none is idle).
  void MarkIdle(Connection* connection, bool idle) EXCLUDES(idleMutex_);
  bool EvictIdle() EXCLUDES(idleMutex_);

  // Sockets that a stop shuts down, and the waker that ends their threads'
  // waits (shutdown alone does not, under Wine).
  void Track(platform::SocketHandle socket) EXCLUDES(trackedMutex_);
  void Untrack(platform::SocketHandle socket) EXCLUDES(trackedMutex_);
  void ShutdownTracked() EXCLUDES(trackedMutex_);

  ProxyOptions options_;
  UrlFilter* filter_;
  LineLog* accessLog_;
  LineLog* diagnostics_;
  LineLog* squidLog_ = nullptr;
  platform::Socket listener_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> draining_{false};
  std::atomic<int> active_{0};
  std::atomic<int> evicting_{0};  // closed to make room, not ended yet
  std::atomic<std::uint64_t> slowClientsClosed_{0};
  base::Mutex idleMutex_;
  std::map<Connection*, std::chrono::steady_clock::time_point> idle_ GUARDED_BY(idleMutex_);
  std::list<std::unique_ptr<Worker>> workers_;
  base::Mutex trackedMutex_;
  std::set<platform::SocketHandle> tracked_ GUARDED_BY(trackedMutex_);
  platform::Waker stopWaker_;
  PageCatcher tunnelPages_;  // the filter's answers to CONNECTs
};

}  // namespace hxhost

#endif  // PELLUMIN_HOST_PROXY_SERVER_H_
