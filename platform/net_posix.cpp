// net_posix.cpp -- sockets, library loading and stop signals on POSIX.
#include "net.h"
#include "net_internal.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace platform {

namespace {

int Fd(SocketHandle h) { return static_cast<int>(h); }

std::string ErrnoText(int err) { return std::strerror(err); }

NetStatus StatusFromErrno(int err) {
  switch (err) {
    case EADDRINUSE: return NetStatus::kAddressInUse;
    case ECONNREFUSED: return NetStatus::kRefused;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case EHOSTDOWN: return NetStatus::kUnreachable;
    case ETIMEDOUT:
    case EAGAIN: return NetStatus::kTimeout;
    case EPIPE:
    case ECONNRESET: return NetStatus::kClosed;
    case EINVAL:
    case EBADF:
    case EADDRNOTAVAIL: return NetStatus::kInvalid;
    default: return NetStatus::kError;
  }
}

// poll() that restarts after a signal, keeping to the overall deadline.
int PollRetry(struct pollfd* fds, nfds_t count, int timeout_ms) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  for (;;) {
    int rc = poll(fds, count, timeout_ms);
    if (rc >= 0 || errno != EINTR) return rc;
    if (timeout_ms >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      timeout_ms = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
  }
}

extern "C" void OnStopSignal(int) { internal::RequestStop(); }
extern "C" void OnReloadSignal(int) { RequestReload(); }

// Fills fds[count] with the waker's handle when there is one; the number of
// entries to poll.
nfds_t AddWaker(pollfd* fds, nfds_t count, const Waker* waker) {
  if (!waker || !waker->valid()) return count;
  fds[count] = pollfd{Fd(waker->wait_handle()), POLLIN, 0};
  return count + 1;
}

bool WokenIn(const pollfd* fds, nfds_t count, const Waker* waker) {
  return waker && waker->valid() && count > 0 && (fds[count - 1].revents & POLLIN) != 0;
}

using internal::IsWoken;

}  // namespace

Waker::~Waker() {
  if (wait_handle_ != kNoSocket) ::close(Fd(wait_handle_));
  if (wake_handle_ != kNoSocket) ::close(Fd(wake_handle_));
}

bool Waker::Open(std::string* error) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    if (error) *error = ErrnoText(errno);
    return false;
  }
  wait_handle_ = static_cast<SocketHandle>(fds[0]);
  wake_handle_ = static_cast<SocketHandle>(fds[1]);
  return true;
}

void Waker::Wake() {
  if (woken_.exchange(true, std::memory_order_acq_rel)) return;
  // One byte that nobody reads keeps the pipe readable for good.
  if (wake_handle_ != kNoSocket) {
    ssize_t n;
    do {
      n = ::write(Fd(wake_handle_), "w", 1);
    } while (n < 0 && errno == EINTR);
  }
}

void Socket::Close() {
  if (handle_ != kNoSocket) {
    ::close(Fd(handle_));
    handle_ = kNoSocket;
  }
}

bool StartSocketLibrary(std::string* error) {
  // A client that goes away must not kill the process through SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
  return true;
}

NetStatus ListenTcp(const std::string& address, uint16_t port, Socket* out, std::string* error) {
  sockaddr_storage storage;
  int length = 0;
  NetStatus parsed = internal::NumericSocketAddress(address, port, &storage, &length, error);
  if (parsed != NetStatus::kOk) return parsed;
  Socket s(static_cast<SocketHandle>(socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0)));
  if (Fd(s.handle()) < 0) {
    s.Release();
    int err = errno;
    if (error) *error = ErrnoText(err);
    return StatusFromErrno(err);
  }
  int on = 1;
  setsockopt(Fd(s.handle()), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(Fd(s.handle()), reinterpret_cast<sockaddr*>(&storage), static_cast<socklen_t>(length)) != 0 ||
      listen(Fd(s.handle()), SOMAXCONN) != 0) {
    int err = errno;
    if (error) *error = ErrnoText(err);
    return StatusFromErrno(err);
  }
  *out = std::move(s);
  return NetStatus::kOk;
}

uint16_t LocalPort(const Socket& socket) {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  if (getsockname(Fd(socket.handle()), reinterpret_cast<sockaddr*>(&storage), &length) != 0) return 0;
  return internal::SocketAddressPort(reinterpret_cast<sockaddr*>(&storage));
}

NetStatus AcceptTcp(const Socket& listener, int timeout_ms, Socket* out, std::string* peer) {
  SocketHandle h = listener.handle();
  int ready = WaitReadable(&h, 1, timeout_ms);
  if (ready == -1) return NetStatus::kTimeout;
  if (ready < 0) return NetStatus::kError;
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  int fd = accept4(Fd(h), reinterpret_cast<sockaddr*>(&storage), &length, SOCK_CLOEXEC);
  if (fd < 0) {
    // The client may have gone between the wait and the accept.
    if (errno == EAGAIN || errno == ECONNABORTED || errno == EINTR) return NetStatus::kTimeout;
    return StatusFromErrno(errno);
  }
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  *out = Socket(static_cast<SocketHandle>(fd));
  if (peer) *peer = internal::SocketAddressText(reinterpret_cast<sockaddr*>(&storage));
  return NetStatus::kOk;
}

NetStatus ConnectTcp(const std::string& host, uint16_t port, int timeout_ms, Socket* out,
                     std::string* error, const Waker* waker) {
  if (IsWoken(waker)) return NetStatus::kWoken;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
  if (rc != 0) {
    if (error) *error = std::string("cannot resolve ") + host + ": " + gai_strerror(rc);
    return NetStatus::kUnreachable;
  }
  NetStatus last = NetStatus::kUnreachable;
  std::string last_error = "no address for " + host;
  for (addrinfo* ai = list; ai; ai = ai->ai_next) {
    int fd = socket(ai->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
      last = StatusFromErrno(errno);
      last_error = ErrnoText(errno);
      continue;
    }
    Socket s(static_cast<SocketHandle>(fd));
    int err = 0;
    if (connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
      err = errno;
      if (err == EINPROGRESS) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p[2] = {{fd, POLLOUT, 0}, {}};
        nfds_t count = AddWaker(p, 1, waker);
        int ready = PollRetry(p, count, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (ready > 0 && WokenIn(p, count, waker)) {
          freeaddrinfo(list);
          return NetStatus::kWoken;
        }
        if (ready == 0) {
          last = NetStatus::kTimeout;
          last_error = "connect timed out";
          break;  // the time is used up; no point trying further addresses
        }
        socklen_t len = sizeof err;
        if (ready < 0) err = errno;
        else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
      }
    }
    if (err != 0) {
      last = StatusFromErrno(err);
      if (last == NetStatus::kInvalid) last = NetStatus::kUnreachable;
      last_error = ErrnoText(err);
      continue;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    freeaddrinfo(list);
    *out = std::move(s);
    return NetStatus::kOk;
  }
  freeaddrinfo(list);
  if (error) *error = last_error;
  return last;
}

NetStatus Receive(const Socket& socket, void* data, size_t size, int timeout_ms, size_t* received,
                  const Waker* waker) {
  *received = 0;
  if (timeout_ms >= 0 || waker) {
    SocketHandle h = socket.handle();
    int ready = WaitReadable(&h, 1, timeout_ms, waker);
    if (ready == -1) return NetStatus::kTimeout;
    if (ready == -3) return NetStatus::kWoken;
    if (ready < 0) return NetStatus::kError;
  }
  for (;;) {
    ssize_t n = recv(Fd(socket.handle()), data, size, 0);
    if (n > 0) {
      *received = static_cast<size_t>(n);
      return NetStatus::kOk;
    }
    if (n == 0) return NetStatus::kClosed;
    if (errno == EINTR) continue;
    if (errno == ECONNRESET) return NetStatus::kClosed;
    return StatusFromErrno(errno);
  }
}

NetStatus internal::SendAllBounded(const Socket& socket, const void* data, size_t size, int timeout_ms,
                         bool whole, const Waker* waker) {
  const SendWaits waits(timeout_ms, whole);
  const char* p = static_cast<const char*>(data);
  const bool wait_first = timeout_ms >= 0 || waker;
  while (size > 0) {
    if (IsWoken(waker)) return NetStatus::kWoken;
    if (wait_first) {
      pollfd pfd[2] = {{Fd(socket.handle()), POLLOUT, 0}, {}};
      nfds_t count = AddWaker(pfd, 1, waker);
      int ready = PollRetry(pfd, count, waits.NextMs());
      if (ready == 0) return NetStatus::kTimeout;
      if (ready < 0) return NetStatus::kError;
      if (WokenIn(pfd, count, waker)) return NetStatus::kWoken;
    }
    // Non-blocking here, so that a send never waits past the poll above.
    ssize_t n = send(Fd(socket.handle()), p, size, MSG_NOSIGNAL | (wait_first ? MSG_DONTWAIT : 0));
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return StatusFromErrno(errno) == NetStatus::kTimeout ? NetStatus::kError : StatusFromErrno(errno);
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return NetStatus::kOk;
}

void ShutdownWrite(const Socket& socket) { shutdown(Fd(socket.handle()), SHUT_WR); }

void ShutdownBoth(SocketHandle socket) { shutdown(Fd(socket), SHUT_RDWR); }

int WaitReadable(const SocketHandle* sockets, int count, int timeout_ms, const Waker* waker) {
  constexpr int kMax = 16;
  if (count <= 0 || count > kMax) return -2;
  if (IsWoken(waker)) return -3;
  pollfd fds[kMax + 1];
  for (int i = 0; i < count; ++i) fds[i] = pollfd{Fd(sockets[i]), POLLIN, 0};
  nfds_t polled = AddWaker(fds, static_cast<nfds_t>(count), waker);
  int rc = PollRetry(fds, polled, timeout_ms);
  if (rc == 0) return -1;
  if (rc < 0) return -2;
  if (WokenIn(fds, polled, waker)) return -3;
  for (int i = 0; i < count; ++i) {
    if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) return i;
    if (fds[i].revents & POLLNVAL) return -2;
  }
  return -1;
}

bool SharedLibrary::Load(const std::string& path, std::string* error) {
  Unload();
  // A bare name would be searched on the library path; a plug-in is named by
  // its file, so make a relative name relative to the working directory.
  std::string name = path.find('/') == std::string::npos ? "./" + path : path;
  handle_ = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* text = dlerror();
    if (error) *error = text ? text : "cannot load " + path;
    return false;
  }
  return true;
}

void* SharedLibrary::Symbol(const char* name, std::string* error) const {
  if (!handle_) {
    if (error) *error = "no library loaded";
    return nullptr;
  }
  dlerror();  // clear an earlier text
  void* address = dlsym(handle_, name);
  if (!address && error) {
    const char* text = dlerror();
    *error = text ? text : std::string("no symbol ") + name;
  }
  return address;
}

void SharedLibrary::Unload() {
  if (handle_) {
    dlclose(handle_);
    handle_ = nullptr;
  }
}

void InstallStopHandler() {
  struct sigaction action{};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: let a blocked call see EINTR
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void InstallReloadHandler() {
  struct sigaction action{};
  action.sa_handler = OnReloadSignal;
  sigemptyset(&action.sa_mask);
  // Blocked calls go on: a reload must not look like an error to a read.
  action.sa_flags = SA_RESTART;
  sigaction(SIGHUP, &action, nullptr);
}

std::string LocalHostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return std::string();
  return name;
}

}  // namespace platform
