// net_internal.h -- what the socket code of both OSes shares inside the
// platform layer (common_net.cpp), and what each OS file hands back to it.
// Not for use outside platform/.
#ifndef PELLUMIN_PLATFORM_NET_INTERNAL_H_
#define PELLUMIN_PLATFORM_NET_INTERNAL_H_

#include <chrono>
#include <cstdint>
#include <string>

#include "net.h"

struct sockaddr;
struct sockaddr_storage;

namespace platform {
namespace internal {

// Fills storage with a numeric IPv4 or IPv6 address ("127.0.0.1", "::1") and
// a port, and *length with the size of the address it holds. kInvalid, with
// the text in *error, when the address is no numeric IP address.
NetStatus NumericSocketAddress(const std::string& address, uint16_t port, sockaddr_storage* storage,
                               int* length, std::string* error);

// An address as "IP:port" ("[IPv6]:port" for IPv6), or "unknown".
std::string SocketAddressText(const sockaddr* address);

// The port of an IPv4 or IPv6 address, or 0.
uint16_t SocketAddressPort(const sockaddr* address);

// Whether a wait given this waker (which may be null) must end at once.
inline bool IsWoken(const Waker* waker) { return waker && waker->woken(); }

// How long each wait of a send may take: timeout_ms every time, or (whole)
// what is left of timeout_ms since the send began.
class SendWaits {
 public:
  SendWaits(int timeout_ms, bool whole)
      : timeout_ms_(timeout_ms),
        whole_(whole),
        deadline_(std::chrono::steady_clock::now() +
                  std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms)) {}
  int NextMs() const {
    if (!whole_) return timeout_ms_;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline_ - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
  }

 private:
  int timeout_ms_;
  bool whole_;
  std::chrono::steady_clock::time_point deadline_;
};

// SendAll (whole: false) and SendAllWithin (true), one for each OS.
NetStatus SendAllBounded(const Socket& socket, const void* data, size_t size, int timeout_ms,
                         bool whole, const Waker* waker);

// Sets the flag StopRequested reports; what the OS's stop handler calls. Safe
// in a signal handler (a lock-free atomic store).
void RequestStop();

}  // namespace internal
}  // namespace platform

#endif  // PELLUMIN_PLATFORM_NET_INTERNAL_H_
