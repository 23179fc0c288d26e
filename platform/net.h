// net.h -- the small slice of the OS a proxy host needs: TCP sockets, a
// readiness wait, loading a shared library, and a stop request from the
// console (SIGINT/SIGTERM, or Ctrl-C on Windows).
//
// Implemented in net_posix.cpp and net_win32.cpp, with what both share in
// common_net.cpp. The host starts the socket library once
// (StartSocketLibrary); the plug-in and the engine never do.
#ifndef PELLUMIN_PLATFORM_NET_H_
#define PELLUMIN_PLATFORM_NET_H_

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

// Resolves host (a name or a numeric address) and connects, trying each
// address in turn, giving up after timeout_ms in all.
NetStatus ConnectTcp(const std::string& host, uint16_t port, int timeout_ms, Socket* out,
                     std::string* error);

// Receives up to size bytes, waiting at most timeout_ms (-1: for ever).
// kOk with *received > 0, kClosed at the end of the stream, kTimeout, kError.
NetStatus Receive(const Socket& socket, void* data, size_t size, int timeout_ms, size_t* received);

// Sends all size bytes, each wait for room bounded by timeout_ms (-1: for
// ever). kOk when everything went; otherwise kTimeout, kClosed or kError.
NetStatus SendAll(const Socket& socket, const void* data, size_t size, int timeout_ms);

// Stops sending (the peer sees the end of the stream) but keeps receiving.
void ShutdownWrite(const Socket& socket);
// Stops both directions; wakes a thread blocked on the socket.
void ShutdownBoth(SocketHandle socket);

// Waits up to timeout_ms until one of count sockets is readable (data, end of
// stream or an error). Returns the index of the first readable one, -1 on
// timeout, -2 on error.
int WaitReadable(const SocketHandle* sockets, int count, int timeout_ms);

// A shared library loaded by path, released when destroyed.
class SharedLibrary {
 public:
  SharedLibrary() = default;
  SharedLibrary(SharedLibrary&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  SharedLibrary& operator=(SharedLibrary&& other) noexcept;
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;
  ~SharedLibrary() { Unload(); }

  // Loads the library; on failure returns false with the loader's own text.
  bool Load(const std::string& path, std::string* error);
  // The address of an exported symbol, or null.
  void* Symbol(const char* name) const;
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

}  // namespace platform

#endif  // PELLUMIN_PLATFORM_NET_H_
