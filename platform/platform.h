// platform.h -- what the rest of Pellumin needs from the operating system.
//
// One interface, two implementations: platform_win32.cpp and
// platform_posix.cpp. Nothing outside platform/ includes <windows.h> or POSIX
// headers (the configuration interface's Win32 code excepted). OS errors are
// turned into this layer's own values here.
#ifndef PELLUMIN_PLATFORM_PLATFORM_H_
#define PELLUMIN_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <cstdio>

namespace platform {

// ---------------------------------------------------------------------------
// Name resolution, with the contract of gethostbyname: addresses in resolver
// order, each as dotted text the way inet_ntoa writes it ("10.0.0.1").
// ---------------------------------------------------------------------------

constexpr int kMaxHostAddresses = 32;

struct HostAddressList {
  int count = 0;
  char dotted[kMaxHostAddresses][16];  // "255.255.255.255" and a NUL
};

enum class ResolveStatus {
  kOk,        // out holds count (possibly 0) addresses
  kTryAgain,  // a temporary failure; another attempt may succeed
  kFailed,    // any other failure
};

// The operating system's resolver. Code that may be tested without the
// network asks its Env (env.h) instead.
ResolveStatus ResolveHostName(const char* name, HostAddressList* out);

// ---------------------------------------------------------------------------
// Local calendar time: weekday 0 = Sunday to 6, hour 0 to 23.
// ---------------------------------------------------------------------------

struct WeekdayHour {
  int weekday;
  int hour;
};

// The operating system's clock; code whose tests fix the time asks its Env.
WeekdayHour CurrentLocalWeekdayHour();

// ---------------------------------------------------------------------------
// Sockets: send on a socket the host owns (a Winsock SOCKET on Windows, a
// file descriptor elsewhere). Returns the bytes sent, 0 when the peer stopped
// accepting, or a negative value on error. Never raises SIGPIPE.
// ---------------------------------------------------------------------------

using SocketHandle = std::uintptr_t;
int SendOnSocket(SocketHandle socket, const void* data, int length);

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

// Moves from over to, replacing to if it exists, atomically where the OS
// allows, and makes the move durable (POSIX: the file and its folder are
// synced; Windows: MOVEFILE_WRITE_THROUGH). Returns true on success.
// <windows.h> defines ReplaceFile as a macro: a file that includes both
// must include <windows.h> first and #undef ReplaceFile.
bool ReplaceFile(const char* from, const char* to);

// The folder for the program's own data files (the alert mail spool), made
// if missing: on POSIX the folder of the settings file (TARNWICK_HKLM, else
// the default one), on Windows %ProgramData%\Pellumin. "" when there is
// none.
std::string DataFolder();

#if !defined(_WIN32)
// Takes standard output for one writer, for a program whose standard
// output is a protocol (a Squid helper): returns a stream on it, and points
// descriptor 1 (so stdout and std::cout too) at standard error, so that
// what other code prints cannot end up among the protocol's lines. Null,
// with errno set, when it cannot; standard output is then as it was.
std::FILE* TakeStandardOutput();
#endif

// ---------------------------------------------------------------------------
// Terminal
// ---------------------------------------------------------------------------

// True when standard input and standard output are both a terminal (a
// console on Windows), so that an interactive screen can be shown.
bool StandardStreamsAreTerminal();

// The handlers of the signals a terminal library takes over while it runs
// (SIGINT, SIGQUIT, SIGTERM, SIGTSTP, SIGWINCH), saved before it starts and
// put back after it has ended, so that the host is left with its own.
// RestoreSignalHandlers frees what SaveSignalHandlers returned (null on
// Windows, where there is nothing to keep).
struct SavedSignalHandlers;
SavedSignalHandlers* SaveSignalHandlers();
void RestoreSignalHandlers(SavedSignalHandlers* saved);

// The file name of the loaded module (DLL, shared library or program) that
// holds address, cut to fit size bytes with its NUL; false (and "") when it
// cannot be told. Message boxes are captioned with it.
bool ModuleFileName(const void* address, char* path, std::size_t size);

// ---------------------------------------------------------------------------
// Registry: the subset the settings store uses, below HKEY_LOCAL_MACHINE,
// as C-style handles on the default environment's registry root
// (Env::Default()->registry(), env.h, which also enumerates and deletes).
// Windows: the real registry. POSIX: a REGEDIT4 text file named by the
// environment variable TARNWICK_HKLM (default $XDG_CONFIG_HOME/tarnwick/
// hklm.reg, else ~/.config/tarnwick/hklm.reg). Key paths are relative to
// HKEY_LOCAL_MACHINE, separated by "\", and compare without regard to case.
// ---------------------------------------------------------------------------

enum class RegStatus {
  kOk = 0,
  kNotFound,      // no such key or value
  kAccessDenied,
  kMoreData,      // the value is larger than the caller's buffer
  kBadFormat,     // the store cannot be read (malformed file)
  kIoError,       // the store cannot be written
  kInvalid,       // a bad argument
};

enum class RegAccess { kRead, kSetValue, kAll };

constexpr std::uint32_t kRegSz = 1;     // REG_SZ
constexpr std::uint32_t kRegDword = 4;  // REG_DWORD

struct RegKey;  // an open key; close with CloseRegistryKey

RegStatus OpenRegistryKey(const char* path, RegAccess access, RegKey** key);
// Creates the key (and its parents) if missing, as a non-volatile key with
// the given class string, and opens it with full access.
RegStatus CreateRegistryKey(const char* path, const char* className, RegKey** key);
// Reads a value. On entry *size is the room in data; on return the value's
// stored size (also on kMoreData). data may be null to ask for the size.
RegStatus QueryRegistryValue(RegKey* key, const char* name, std::uint32_t* type, void* data,
                             std::uint32_t* size);
RegStatus SetRegistryValue(RegKey* key, const char* name, std::uint32_t type, const void* data,
                           std::uint32_t size);
RegStatus CloseRegistryKey(RegKey* key);

// Why the calling thread's last registry operation failed, in words (for a
// malformed POSIX file: the file and "line N: what is wrong"); "" after a
// success. Valid until the thread's next registry call.
const char* LastRegistryError();

}  // namespace platform

#endif  // PELLUMIN_PLATFORM_PLATFORM_H_
