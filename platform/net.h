// net.h -- the small slice of the OS a proxy host needs: TCP sockets, a
// readiness wait, loading a shared library, and a stop request from the
// console (SIGINT/SIGTERM, or Ctrl-C on Windows).
//
// Implemented in net_posix.cpp and net_win32.cpp, with what both share in
// common_net.cpp. The host starts the socket library once
// (StartSocketLibrary); the plug-in and the engine never do.
#ifndef PELLUMIN_PLATFORM_NET_H_
#define PELLUMIN_PLATFORM_NET_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform.h"  // SocketHandle

namespace platform {

enum class NetStatus {
  kOk,
  kTimeout,       // nothing happened within the time allowed
  kClosed,        // the peer closed its side (or the socket was shut down)
  kAddressInUse,  // listen: another socket holds the address
  kRefused,       // connect: nobody listens there
  kUnreachable,   // connect: no route, or the name does not resolve
  kInvalid,       // a bad argument (address text, port, handle)
  kError,         // any other OS failure; the error text says which
  kWoken,         // the wait's Waker was woken (a stop): nothing was done
};

// Text for a status, for messages ("address in use", "timed out").
const char* NetStatusText(NetStatus status);

constexpr SocketHandle kNoSocket = ~static_cast<SocketHandle>(0);

// Owns one socket; closes it when destroyed. Move-only.
class Socket {
 public:
  Socket() = default;
  explicit Socket(SocketHandle handle) : handle_(handle) {}
  Socket(Socket&& other) noexcept : handle_(other.Release()) {}
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() { Close(); }

  bool valid() const { return handle_ != kNoSocket; }
  SocketHandle handle() const { return handle_; }
  SocketHandle Release() {
    SocketHandle h = handle_;
    handle_ = kNoSocket;
    return h;
  }
  void Close();

 private:
  SocketHandle handle_ = kNoSocket;
};

// Wakes every wait that is given it, in any thread, at once and for good.
// A server gives one to all of its connections' waits and wakes it to stop
// them: shutdown() wakes a thread blocked on a socket on POSIX but not under
// Wine, and closing a socket that another thread still waits on would race
// with the reuse of its handle. Woken, the Waker stays woken; waits that are
// given it then return kWoken (WaitReadable: -3) without waiting.
// POSIX: a pipe that a byte makes readable; Windows: a loopback UDP socket
// connected to itself, since select() takes only sockets there.
class Waker {
 public:
  Waker() = default;
  Waker(const Waker&) = delete;
  Waker& operator=(const Waker&) = delete;
  ~Waker();

  // Makes the handle; false with the OS's text when it cannot. Call once.
  bool Open(std::string* error);
  bool valid() const { return wait_handle_ != kNoSocket; }
  // Safe from any thread, and more than once.
  void Wake();
  bool woken() const { return woken_.load(std::memory_order_acquire); }
  // The handle that becomes readable on Wake (for the OS waits only).
  SocketHandle wait_handle() const { return wait_handle_; }

 private:
  SocketHandle wait_handle_ = kNoSocket;
  SocketHandle wake_handle_ = kNoSocket;  // POSIX: the pipe's write end
  std::atomic<bool> woken_{false};
};

// This machine's host name (gethostname), or "" when it cannot be told.
// On Windows the socket library must be started.
std::string LocalHostName();

// Starts the OS socket library (WSAStartup on Windows; on POSIX it makes a
// write to a closed peer an error instead of SIGPIPE). Call once, before any
// other function here. Returns false with the OS's text on failure.
bool StartSocketLibrary(std::string* error);

// Listens on a numeric IPv4 or IPv6 address ("127.0.0.1", "::1") and port
// (0 picks a free one). Address reuse after a restart is allowed, but two
// live listeners on one port are not: that is kAddressInUse.
NetStatus ListenTcp(const std::string& address, uint16_t port, Socket* out, std::string* error);

// The port a socket is bound to, or 0.
uint16_t LocalPort(const Socket& socket);

// Waits up to timeout_ms (-1: for ever) for a connection. peer receives the
// client's address as "IP:port" ("[IPv6]:port" for IPv6).
NetStatus AcceptTcp(const Socket& listener, int timeout_ms, Socket* out, std::string* peer);

// Each wait below also ends, with kWoken, when its waker (if not null) is
// woken, before or during the wait.

// Resolves host (a name or a numeric address) and connects, trying each
// address in turn, giving up after timeout_ms in all.
NetStatus ConnectTcp(const std::string& host, uint16_t port, int timeout_ms, Socket* out,
                     std::string* error, const Waker* waker = nullptr);

// Receives up to size bytes, waiting at most timeout_ms (-1: for ever).
// kOk with *received > 0, kClosed at the end of the stream, kTimeout, kError,
// kWoken.
NetStatus Receive(const Socket& socket, void* data, size_t size, int timeout_ms, size_t* received,
                  const Waker* waker = nullptr);

// Sends all size bytes, each wait for room bounded by timeout_ms (-1: for
// ever). kOk when everything went; otherwise kTimeout, kClosed, kError or
// kWoken.
NetStatus SendAll(const Socket& socket, const void* data, size_t size, int timeout_ms,
                  const Waker* waker = nullptr);
// The same with timeout_ms (0 or more) bounding the whole send: a peer that
// takes a byte now and then cannot stretch it wait by wait.
NetStatus SendAllWithin(const Socket& socket, const void* data, size_t size, int timeout_ms,
                        const Waker* waker = nullptr);

// Stops sending (the peer sees the end of the stream) but keeps receiving.
void ShutdownWrite(const Socket& socket);
// Stops both directions: the peer sees the end of the stream. On POSIX the
// socket's own waits then end at once, also one that a thread is already
// blocked in; under Wine they do not (not even later ones): end such waits
// with a Waker.
void ShutdownBoth(SocketHandle socket);

// Waits up to timeout_ms until one of count (at most 16) sockets is readable
// (data, end of stream or an error). Returns the index of the first readable
// one, -1 on timeout, -2 on error, -3 when the waker was woken.
int WaitReadable(const SocketHandle* sockets, int count, int timeout_ms,
                 const Waker* waker = nullptr);

// A shared library loaded by path, released when destroyed.
class SharedLibrary {
 public:
  SharedLibrary() = default;
  SharedLibrary(SharedLibrary&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  SharedLibrary& operator=(SharedLibrary&& other) noexcept;
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;
  ~SharedLibrary() { Unload(); }

  // Loads the library; on failure returns false with the loader's own text
  // (on Windows, when a DLL that the library imports is missing, also its
  // name, which the OS's text leaves out).
  bool Load(const std::string& path, std::string* error);
  // The address of an exported symbol, or null, with the loader's text in
  // *error when one is given.
  void* Symbol(const char* name, std::string* error = nullptr) const;
  bool loaded() const { return handle_ != nullptr; }
  void Unload();

 private:
  void* handle_ = nullptr;
};

// Console stop requests: after InstallStopHandler, SIGINT and SIGTERM (on
// Windows Ctrl-C, Ctrl-Break and console close) no longer end the process but
// set a flag that StopRequested reports.
void InstallStopHandler();
bool StopRequested();
// For tests: sets or clears the flag as a signal would.
void SetStopRequestedForTesting(bool requested);

// Reload requests, for a program that re-reads its settings while it runs:
// after InstallReloadHandler, SIGHUP (POSIX; Windows has no such signal)
// no longer ends the process but sets a flag. TakeReloadRequest reports it
// once and clears it; several signals before it is taken count as one.
void InstallReloadHandler();
bool TakeReloadRequest();
// For tests, and for a program that offers reloading by other means: sets
// the flag as the signal would. Safe from any thread.
void RequestReload();

}  // namespace platform

#endif  // PELLUMIN_PLATFORM_NET_H_
