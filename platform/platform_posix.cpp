// POSIX implementation of the resolver, the clock, sending and file
// replacement. The registry file lives in registry_posix.cpp.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform.h"
#include "platform_internal.h"

namespace platform {
namespace internal {

ResolveStatus OsResolveHostName(const char* name, HostAddressList* out) {
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  // One socket type, so that each address comes once (getaddrinfo otherwise
  // repeats it for stream, datagram and raw sockets).
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  int rc = getaddrinfo(name, nullptr, &hints, &result);
  if (rc == EAI_AGAIN) return ResolveStatus::kTryAgain;
  if (rc != 0) return ResolveStatus::kFailed;
  for (addrinfo* ai = result; ai != nullptr && out->count < kMaxHostAddresses; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET || ai->ai_addr == nullptr) continue;
    const sockaddr_in* sin = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
    // inet_ntop writes IPv4 exactly as inet_ntoa does: four decimal numbers
    // without leading zeros.
    if (inet_ntop(AF_INET, &sin->sin_addr, out->dotted[out->count], sizeof out->dotted[0]) !=
        nullptr)
      ++out->count;
  }
  freeaddrinfo(result);
  return ResolveStatus::kOk;
}

WeekdayHour OsLocalWeekdayHour() {
  time_t now = time(nullptr);
  struct tm local;
  if (localtime_r(&now, &local) == nullptr) return WeekdayHour{0, 0};
  return WeekdayHour{local.tm_wday, local.tm_hour};
}

}  // namespace internal

int SendOnSocket(SocketHandle socket, const void* data, int length) {
  if (length < 0 || (data == nullptr && length > 0)) return -1;
  int flags = 0;
#ifdef MSG_NOSIGNAL
  // A peer that has gone away must give an error, not SIGPIPE, which would
  // end the whole proxy.
  flags |= MSG_NOSIGNAL;
#endif
  for (;;) {
    ssize_t n = send(static_cast<int>(socket), data, static_cast<size_t>(length), flags);
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? -1 : static_cast<int>(n);
  }
}

namespace {

bool SyncPath(const char* path, int openFlags) {
  int fd = open(path, openFlags | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = fsync(fd) == 0 || errno == EINVAL;  // some file systems cannot sync folders
  close(fd);
  return ok;
}

std::string FolderOf(const char* path) {
  std::string p(path);
  std::size_t slash = p.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return p.substr(0, slash);
}

}  // namespace

std::string DataFolder() {
  std::string file;
  bool named = false;
  if (!internal::DefaultRegistryFile(&file, &named)) return std::string();
  const std::string folder = FolderOf(file.c_str());
  // The settings file's folder may not exist before the first save.
  if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) return std::string();
  return folder;
}

bool ReplaceFile(const char* from, const char* to) {
  if (from == nullptr || to == nullptr) return false;
  // The data must be on disk before the name points at it, or a crash could
  // leave an empty file under the old name.
  if (!SyncPath(from, O_RDONLY)) return false;
  if (rename(from, to) != 0) return false;
  // And the rename itself must reach the disk.
  SyncPath(FolderOf(to).c_str(), O_RDONLY | O_DIRECTORY);
  return true;
}

bool StandardStreamsAreTerminal() { return isatty(STDIN_FILENO) == 1 && isatty(STDOUT_FILENO) == 1; }

namespace {
const int kTerminalSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGTSTP, SIGWINCH};
constexpr std::size_t kTerminalSignalCount = sizeof(kTerminalSignals) / sizeof(kTerminalSignals[0]);
}  // namespace

struct SavedSignalHandlers {
  struct sigaction actions[kTerminalSignalCount];
  bool saved[kTerminalSignalCount];
};

SavedSignalHandlers* SaveSignalHandlers() {
  auto* s = new SavedSignalHandlers();
  for (std::size_t i = 0; i < kTerminalSignalCount; ++i) {
    s->saved[i] = sigaction(kTerminalSignals[i], nullptr, &s->actions[i]) == 0;
  }
  return s;
}

void RestoreSignalHandlers(SavedSignalHandlers* saved) {
  if (saved == nullptr) return;
  for (std::size_t i = 0; i < kTerminalSignalCount; ++i) {
    if (saved->saved[i]) sigaction(kTerminalSignals[i], &saved->actions[i], nullptr);
  }
  delete saved;
}

bool ModuleFileName(const void* address, char* path, std::size_t size) {
  if (size == 0) return false;
  path[0] = '\0';
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return false;
  std::strncpy(path, info.dli_fname, size - 1);
  path[size - 1] = '\0';
  return true;
}

std::FILE* TakeStandardOutput() {
  std::fflush(stdout);
  const int kept = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (kept < 0) return nullptr;
  std::FILE* stream = fdopen(kept, "w");
  if (stream == nullptr || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    const int error = errno;
    if (stream != nullptr) {
      std::fclose(stream);
    } else {
      close(kept);
    }
    errno = error;
    return nullptr;
  }
  return stream;
}

}  // namespace platform
