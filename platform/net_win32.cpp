// net_win32.cpp -- sockets (Winsock 2), library loading and console stop
// requests on Windows.
#include "net.h"
#include "net_internal.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <chrono>
#include <cstring>

namespace platform {

namespace {

SOCKET Sock(SocketHandle h) { return static_cast<SOCKET>(h); }

std::string SystemText(DWORD code) {
  char buffer[512] = "";
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                           0, buffer, sizeof buffer, nullptr);
  while (n > 0 && (buffer[n - 1] == '\n' || buffer[n - 1] == '\r' || buffer[n - 1] == ' ')) --n;
  std::string text(buffer, n);
  if (text.empty()) text = "error " + std::to_string(code);
  return text;
}

NetStatus StatusFromWsa(int err) {
  switch (err) {
    case WSAEADDRINUSE:
    case WSAEACCES: return NetStatus::kAddressInUse;
    case WSAECONNREFUSED: return NetStatus::kRefused;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
    case WSAEHOSTDOWN: return NetStatus::kUnreachable;
    case WSAETIMEDOUT:
    case WSAEWOULDBLOCK: return NetStatus::kTimeout;
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAESHUTDOWN: return NetStatus::kClosed;
    case WSAEINVAL:
    case WSAENOTSOCK:
    case WSAEADDRNOTAVAIL: return NetStatus::kInvalid;
    default: return NetStatus::kError;
  }
}

// select()'s time limit for timeout_ms: tv filled in, or null (-1: for ever).
timeval* SelectTimeout(int timeout_ms, timeval* tv) {
  if (timeout_ms < 0) return nullptr;
  tv->tv_sec = timeout_ms / 1000;
  tv->tv_usec = (timeout_ms % 1000) * 1000;
  return tv;
}

using internal::IsWoken;

// select() on the given sets and, for reading, on the waker's socket: the
// count of ready sockets, 0 on timeout, -1 on error, -3 when woken.
int SelectWithWaker(fd_set* readable, fd_set* writable, fd_set* except, int timeout_ms,
                    const Waker* waker) {
  if (IsWoken(waker)) return -3;
  const bool with_waker = waker && waker->valid();
  if (with_waker) FD_SET(Sock(waker->wait_handle()), readable);
  timeval tv{};
  int rc = select(0, readable, writable, except, SelectTimeout(timeout_ms, &tv));
  if (rc == SOCKET_ERROR) return -1;
  if (with_waker && rc > 0 && FD_ISSET(Sock(waker->wait_handle()), readable)) return -3;
  return rc;
}

// select() on one socket for reading or writing (and on the waker); 1 ready,
// 0 timeout, -1 error, -3 woken. Only a connect (which passes failed) also
// asks for the exception set: Wine 8's wineserver, given the same socket in
// two sets of many concurrent selects, corrupted its heap or failed an
// assertion in its poll code within minutes, and every Wine process of the
// prefix then hung.
int WaitOne(SOCKET s, bool for_write, int timeout_ms, bool* failed = nullptr,
            const Waker* waker = nullptr) {
  fd_set readable, writable, except;
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  FD_ZERO(&except);
  FD_SET(s, for_write ? &writable : &readable);
  if (failed) FD_SET(s, &except);
  int rc = SelectWithWaker(&readable, for_write ? &writable : nullptr, failed ? &except : nullptr,
                           timeout_ms, waker);
  if (rc <= 0) return rc;
  // A failed non-blocking connect is reported in the exception set.
  if (failed) *failed = FD_ISSET(s, &except) != 0;
  return 1;
}

void SetBlocking(SOCKET s, bool blocking) {
  u_long mode = blocking ? 0 : 1;
  ioctlsocket(s, FIONBIO, &mode);
}

BOOL WINAPI OnConsoleControl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      internal::RequestStop();
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

Waker::~Waker() {
  if (wait_handle_ != kNoSocket) closesocket(Sock(wait_handle_));
}

bool Waker::Open(std::string* error) {
  // A UDP socket on loopback, connected to its own address: a datagram sent
  // to itself makes it readable, and nobody reads it.
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) {
    if (error) *error = SystemText(static_cast<DWORD>(WSAGetLastError()));
    return false;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == SOCKET_ERROR ||
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == SOCKET_ERROR ||
      connect(s, reinterpret_cast<sockaddr*>(&address), length) == SOCKET_ERROR) {
    if (error) *error = SystemText(static_cast<DWORD>(WSAGetLastError()));
    closesocket(s);
    return false;
  }
  SetBlocking(s, false);
  wait_handle_ = static_cast<SocketHandle>(s);
  return true;
}

void Waker::Wake() {
  if (woken_.exchange(true, std::memory_order_acq_rel)) return;
  if (wait_handle_ != kNoSocket) send(Sock(wait_handle_), "w", 1, 0);
}

void Socket::Close() {
  if (handle_ != kNoSocket) {
    closesocket(Sock(handle_));
    handle_ = kNoSocket;
  }
}

bool StartSocketLibrary(std::string* error) {
  WSADATA data;
  int rc = WSAStartup(MAKEWORD(2, 2), &data);
  if (rc != 0) {
    if (error) *error = "WSAStartup failed: " + SystemText(static_cast<DWORD>(rc));
    return false;
  }
  return true;
}

NetStatus ListenTcp(const std::string& address, uint16_t port, Socket* out, std::string* error) {
  sockaddr_storage storage;
  int length = 0;
  NetStatus parsed = internal::NumericSocketAddress(address, port, &storage, &length, error);
  if (parsed != NetStatus::kOk) return parsed;
  SOCKET raw = socket(storage.ss_family, SOCK_STREAM, IPPROTO_TCP);
  if (raw == INVALID_SOCKET) {
    int err = WSAGetLastError();
    if (error) *error = SystemText(static_cast<DWORD>(err));
    return StatusFromWsa(err);
  }
  Socket s(static_cast<SocketHandle>(raw));
  // Windows lets SO_REUSEADDR steal a live port; exclusive use is what makes
  // "address in use" reliable there.
  BOOL on = TRUE;
  setsockopt(raw, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
  if (bind(raw, reinterpret_cast<sockaddr*>(&storage), length) == SOCKET_ERROR ||
      listen(raw, SOMAXCONN) == SOCKET_ERROR) {
    int err = WSAGetLastError();
    if (error) *error = SystemText(static_cast<DWORD>(err));
    return StatusFromWsa(err);
  }
  *out = std::move(s);
  return NetStatus::kOk;
}

uint16_t LocalPort(const Socket& socket) {
  sockaddr_storage storage{};
  int length = sizeof storage;
  if (getsockname(Sock(socket.handle()), reinterpret_cast<sockaddr*>(&storage), &length) != 0) return 0;
  return internal::SocketAddressPort(reinterpret_cast<sockaddr*>(&storage));
}

NetStatus AcceptTcp(const Socket& listener, int timeout_ms, Socket* out, std::string* peer) {
  int ready = WaitOne(Sock(listener.handle()), false, timeout_ms);
  if (ready == 0) return NetStatus::kTimeout;
  if (ready < 0) return StatusFromWsa(WSAGetLastError());
  sockaddr_storage storage{};
  int length = sizeof storage;
  SOCKET s = accept(Sock(listener.handle()), reinterpret_cast<sockaddr*>(&storage), &length);
  if (s == INVALID_SOCKET) {
    int err = WSAGetLastError();
    if (err == WSAEWOULDBLOCK || err == WSAECONNRESET || err == WSAEINTR) return NetStatus::kTimeout;
    return StatusFromWsa(err);
  }
  BOOL on = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  *out = Socket(static_cast<SocketHandle>(s));
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
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* list = nullptr;
  int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
  if (rc != 0) {
    if (error) *error = "cannot resolve " + host + ": " + SystemText(static_cast<DWORD>(rc));
    return NetStatus::kUnreachable;
  }
  NetStatus last = NetStatus::kUnreachable;
  std::string last_error = "no address for " + host;
  for (addrinfo* ai = list; ai; ai = ai->ai_next) {
    SOCKET raw = socket(ai->ai_family, SOCK_STREAM, IPPROTO_TCP);
    if (raw == INVALID_SOCKET) {
      int err = WSAGetLastError();
      last = StatusFromWsa(err);
      last_error = SystemText(static_cast<DWORD>(err));
      continue;
    }
    Socket s(static_cast<SocketHandle>(raw));
    SetBlocking(raw, false);
    int err = 0;
    if (connect(raw, ai->ai_addr, static_cast<int>(ai->ai_addrlen)) == SOCKET_ERROR) {
      err = WSAGetLastError();
      if (err == WSAEWOULDBLOCK) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        bool failed = false;
        int ready =
            WaitOne(raw, true, left.count() > 0 ? static_cast<int>(left.count()) : 0, &failed, waker);
        if (ready == -3) {
          freeaddrinfo(list);
          return NetStatus::kWoken;
        }
        if (ready == 0) {
          last = NetStatus::kTimeout;
          last_error = "connect timed out";
          break;
        }
        err = 0;
        if (ready < 0) {
          err = WSAGetLastError();
        } else if (failed) {
          int len = sizeof err;
          getsockopt(raw, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len);
          if (err == 0) err = WSAECONNREFUSED;
        }
      }
    }
    if (err != 0) {
      last = StatusFromWsa(err);
      if (last == NetStatus::kInvalid) last = NetStatus::kUnreachable;
      last_error = SystemText(static_cast<DWORD>(err));
      continue;
    }
    SetBlocking(raw, true);
    BOOL on = TRUE;
    setsockopt(raw, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
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
    int ready = WaitOne(Sock(socket.handle()), false, timeout_ms, nullptr, waker);
    if (ready == 0) return NetStatus::kTimeout;
    if (ready == -3) return NetStatus::kWoken;
    if (ready < 0) return StatusFromWsa(WSAGetLastError());
  }
  int want = size > 0x7fffffff ? 0x7fffffff : static_cast<int>(size);
  int n = recv(Sock(socket.handle()), static_cast<char*>(data), want, 0);
  if (n > 0) {
    *received = static_cast<size_t>(n);
    return NetStatus::kOk;
  }
  if (n == 0) return NetStatus::kClosed;
  NetStatus status = StatusFromWsa(WSAGetLastError());
  return status == NetStatus::kTimeout ? NetStatus::kError : status;
}

NetStatus internal::SendAllBounded(const Socket& socket, const void* data, size_t size, int timeout_ms,
                         bool whole, const Waker* waker) {
  const SendWaits waits(timeout_ms, whole);
  const char* p = static_cast<const char*>(data);
  SOCKET s = Sock(socket.handle());
  while (size > 0) {
    if (timeout_ms >= 0 || waker) {
      int ready = WaitOne(s, true, waits.NextMs(), nullptr, waker);
      if (ready == 0) return NetStatus::kTimeout;
      if (ready == -3) return NetStatus::kWoken;
      if (ready < 0) return StatusFromWsa(WSAGetLastError());
    }
    // select() said there is room, so a blocking send of what fits returns
    // at once; keep each piece small so that it does fit.
    int piece = size > 16384 ? 16384 : static_cast<int>(size);
    int n = send(s, p, piece, 0);
    if (n == SOCKET_ERROR) {
      NetStatus status = StatusFromWsa(WSAGetLastError());
      return status == NetStatus::kTimeout ? NetStatus::kError : status;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return NetStatus::kOk;
}

void ShutdownWrite(const Socket& socket) { shutdown(Sock(socket.handle()), SD_SEND); }

void ShutdownBoth(SocketHandle socket) { shutdown(Sock(socket), SD_BOTH); }

int WaitReadable(const SocketHandle* sockets, int count, int timeout_ms, const Waker* waker) {
  if (count <= 0 || count > 16) return -2;
  fd_set set;
  FD_ZERO(&set);
  for (int i = 0; i < count; ++i) FD_SET(Sock(sockets[i]), &set);
  int rc = SelectWithWaker(&set, nullptr, nullptr, timeout_ms, waker);
  if (rc == -3) return -3;
  if (rc < 0) return -2;
  if (rc == 0) return -1;
  for (int i = 0; i < count; ++i) {
    if (FD_ISSET(Sock(sockets[i]), &set)) return i;
  }
  return -1;
}

namespace {

// The DLLs that the library at path imports and that the loader cannot find
// (beside it, or on the search path), as "a.dll, b.dll"; empty when all are
// there or the file cannot be read. ERROR_MOD_NOT_FOUND alone does not say
// whether the library itself or one of its imports is missing.
std::string MissingImports(const std::string& path) {
  HMODULE image = LoadLibraryExA(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  if (!image) return "";
  std::string folder = path;
  size_t slash = folder.find_last_of("\\/");
  folder = slash == std::string::npos ? "." : folder.substr(0, slash);
  std::string missing;
  const auto* base = reinterpret_cast<const unsigned char*>(image);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (dos->e_magic == IMAGE_DOS_SIGNATURE && nt->Signature == IMAGE_NT_SIGNATURE &&
      directory.VirtualAddress != 0) {
    const auto* entry =
        reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
    for (; entry->Name != 0; ++entry) {
      const char* name = reinterpret_cast<const char*>(base + entry->Name);
      char found[MAX_PATH];
      if (GetModuleHandleA(name) ||
          SearchPathA(folder.c_str(), name, nullptr, MAX_PATH, found, nullptr) ||
          SearchPathA(nullptr, name, nullptr, MAX_PATH, found, nullptr)) {
        continue;
      }
      if (!missing.empty()) missing += ", ";
      missing += name;
    }
  }
  FreeLibrary(image);
  return missing;
}

}  // namespace

bool SharedLibrary::Load(const std::string& path, std::string* error) {
  Unload();
  HMODULE module = LoadLibraryA(path.c_str());
  if (!module) {
    DWORD code = GetLastError();
    if (error) {
      *error = SystemText(code);
      if (code == ERROR_MOD_NOT_FOUND) {
        std::string missing = MissingImports(path);
        if (!missing.empty()) *error += " (it imports " + missing + ", not found)";
      }
    }
    return false;
  }
  handle_ = reinterpret_cast<void*>(module);
  return true;
}

void* SharedLibrary::Symbol(const char* name, std::string* error) const {
  if (!handle_) {
    if (error) *error = "no library loaded";
    return nullptr;
  }
  void* address = reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
  if (!address && error) *error = SystemText(GetLastError());
  return address;
}

void SharedLibrary::Unload() {
  if (handle_) {
    FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
  }
}

void InstallStopHandler() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

// Windows has no reload signal; RequestReload is the only way in.
void InstallReloadHandler() {}

std::string LocalHostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return std::string();
  return name;
}

}  // namespace platform
