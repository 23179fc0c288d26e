// The parts of the socket layer that both OSes share: status texts, the
// owners' move operations, numeric addresses and their text, and the stop
// flag the OS's stop handler sets.
#include "net.h"
#include "net_internal.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <atomic>
#include <string>

namespace platform {

namespace {

std::atomic<bool> g_stop_requested{false};
std::atomic<bool> g_reload_requested{false};

}  // namespace

namespace internal {

NetStatus NumericSocketAddress(const std::string& address, uint16_t port, sockaddr_storage* storage,
                               int* length, std::string* error) {
  *storage = sockaddr_storage{};
  *length = 0;
  auto* in = reinterpret_cast<sockaddr_in*>(storage);
  auto* in6 = reinterpret_cast<sockaddr_in6*>(storage);
  if (inet_pton(AF_INET, address.c_str(), &in->sin_addr) == 1) {
    in->sin_family = AF_INET;
    in->sin_port = htons(port);
    *length = sizeof *in;
  } else if (inet_pton(AF_INET6, address.c_str(), &in6->sin6_addr) == 1) {
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(port);
    *length = sizeof *in6;
  } else {
    if (error) *error = "not a numeric IP address: " + address;
    return NetStatus::kInvalid;
  }
  return NetStatus::kOk;
}

std::string SocketAddressText(const sockaddr* address) {
  char host[INET6_ADDRSTRLEN] = "";
  if (address->sa_family == AF_INET) {
    auto* in = reinterpret_cast<const sockaddr_in*>(address);
    inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(in->sin_port));
  }
  if (address->sa_family == AF_INET6) {
    auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
    inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
    return "[" + std::string(host) + "]:" + std::to_string(ntohs(in6->sin6_port));
  }
  return "unknown";
}

uint16_t SocketAddressPort(const sockaddr* address) {
  if (address->sa_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(address)->sin_port);
  if (address->sa_family == AF_INET6) {
    return ntohs(reinterpret_cast<const sockaddr_in6*>(address)->sin6_port);
  }
  return 0;
}

void RequestStop() { g_stop_requested.store(true); }

}  // namespace internal

const char* NetStatusText(NetStatus status) {
  switch (status) {
    case NetStatus::kOk: return "ok";
    case NetStatus::kTimeout: return "timed out";
    case NetStatus::kClosed: return "connection closed";
    case NetStatus::kAddressInUse: return "address in use";
    case NetStatus::kRefused: return "connection refused";
    case NetStatus::kUnreachable: return "host unreachable";
    case NetStatus::kInvalid: return "invalid argument";
    case NetStatus::kError: return "socket error";
    case NetStatus::kWoken: return "stopped";
  }
  return "socket error";
}

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.Release();
  }
  return *this;
}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
  if (this != &other) {
    Unload();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

bool StopRequested() { return g_stop_requested.load(); }

void SetStopRequestedForTesting(bool requested) { g_stop_requested.store(requested); }

bool TakeReloadRequest() { return g_reload_requested.exchange(false); }

void RequestReload() { g_reload_requested.store(true); }

NetStatus SendAll(const Socket& socket, const void* data, size_t size, int timeout_ms,
                  const Waker* waker) {
  return internal::SendAllBounded(socket, data, size, timeout_ms, false, waker);
}

NetStatus SendAllWithin(const Socket& socket, const void* data, size_t size, int timeout_ms,
                        const Waker* waker) {
  return internal::SendAllBounded(socket, data, size, timeout_ms < 0 ? 0 : timeout_ms, true,
                                  waker);
}

}  // namespace platform
