// Win32 implementation of the resolver, the clock, sending and file
// replacement. The caller (the host) has started Winsock.
#include <winsock2.h>
#include <windows.h>
#undef ReplaceFile

#include <cstring>
#include <string>

#include "platform.h"
#include "platform_internal.h"

namespace platform {
namespace internal {

ResolveStatus OsResolveHostName(const char* name, HostAddressList* out) {
  hostent* host = gethostbyname(name);
  if (host == nullptr)
    return WSAGetLastError() == WSATRY_AGAIN ? ResolveStatus::kTryAgain : ResolveStatus::kFailed;
  if (host->h_addrtype != AF_INET || host->h_addr_list == nullptr) return ResolveStatus::kOk;
  for (int i = 0; host->h_addr_list[i] != nullptr && out->count < kMaxHostAddresses; ++i) {
    in_addr address;
    std::memcpy(&address, host->h_addr_list[i], sizeof address);
    const char* dotted = inet_ntoa(address);
    if (dotted == nullptr) continue;
    std::strncpy(out->dotted[out->count], dotted, sizeof out->dotted[0] - 1);
    out->dotted[out->count][sizeof out->dotted[0] - 1] = '\0';
    ++out->count;
  }
  return ResolveStatus::kOk;
}

WeekdayHour OsLocalWeekdayHour() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return WeekdayHour{now.wDayOfWeek, now.wHour};
}

}  // namespace internal

int SendOnSocket(SocketHandle socket, const void* data, int length) {
  if (length < 0 || (data == nullptr && length > 0)) return -1;
  int n = send(static_cast<SOCKET>(socket), static_cast<const char*>(data), length, 0);
  return n == SOCKET_ERROR ? -1 : n;
}

bool ReplaceFile(const char* from, const char* to) {
  if (from == nullptr || to == nullptr) return false;
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

std::string DataFolder() {
  char base[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA("ProgramData", base, sizeof base);
  if (length == 0 || length >= sizeof base) return std::string();
  const std::string folder = std::string(base) + "\\Pellumin";
  if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    return std::string();
  }
  return folder;
}

bool StandardStreamsAreTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0 &&
         GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

// A console program's Ctrl-C handlers are the host's alone; no terminal
// library here takes them over.
SavedSignalHandlers* SaveSignalHandlers() { return nullptr; }
void RestoreSignalHandlers(SavedSignalHandlers*) {}

bool ModuleFileName(const void* address, char* path, std::size_t size) {
  if (size == 0) return false;
  path[0] = '\0';
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCSTR>(address), &module)) {
    return false;
  }
  const DWORD n = GetModuleFileNameA(module, path, static_cast<DWORD>(size));
  path[size - 1] = '\0';
  return n > 0;
}

}  // namespace platform
