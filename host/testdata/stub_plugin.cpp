// A stand-in filter plug-in for hxhost's tests. It has the real entry points
// and acts on words in the URL:
//   "deny"   sends a fixed page on the client socket and returns 0;
//   "alert"  leaves a "~" log line (with the client text and the running
//            byte count) in the URL buffer and returns 1;
//   else     returns 1.
// HXInit fails when the key path contains "fail". StubStats reports how it
// was called, so that tests can see that calls never overlapped.
//
// Built twice more for the loader's messages: with STUB_INIT_ONLY it exports
// HXInit alone; with STUB_IMPORTS_ABSENT_DLL (Windows) it also imports a
// function from pellumin_absent.dll, which exists nowhere.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform.h"
#include "tarnwick.h"

namespace {

std::atomic<int> g_init_calls{0};
std::atomic<int> g_uninit_calls{0};
std::atomic<int> g_proc_calls{0};
std::atomic<int> g_in_proc{0};
std::atomic<int> g_max_in_proc{0};

const char kDenialPage[] =
    "HTTP/1.0 200 OK\r\nServer: Stub\r\nContent-type: text/html\r\n\r\n"
    "<HTML><BODY>stub denied</BODY></HTML>\r\n";

}  // namespace

extern "C" {

struct StubStatsRecord {
  int initCalls;
  int uninitCalls;
  int procCalls;
  int maxConcurrentProc;
};

#if defined(_WIN32)
#define STUB_EXPORT __declspec(dllexport)
#else
#define STUB_EXPORT __attribute__((visibility("default")))
#endif

STUB_EXPORT int HX_CALL HXInit(char* message) {
  g_init_calls.fetch_add(1);
  bool fail = std::strstr(message, "fail") != nullptr;
  std::snprintf(message, TARNWICK_MESSAGE_BUFFER_SIZE, "%s",
                fail ? "Stub Error: told to fail" : "Stub plug-in ready");
  return fail ? 0 : 1;
}

#ifndef STUB_INIT_ONLY

STUB_EXPORT int HX_CALL HXProcURL(HostConnection* connection, char* url) {
  g_proc_calls.fetch_add(1);
  int now = g_in_proc.fetch_add(1) + 1;
  int seen = g_max_in_proc.load();
  while (now > seen && !g_max_in_proc.compare_exchange_weak(seen, now)) {
  }
  int result = 1;
  if (std::strstr(url, "alert")) {
    char line[TARNWICK_URL_BUFFER_SIZE];
    std::snprintf(line, sizeof line, "~stub alert: %.1500s client=%.400s sent=%d", url,
                  connection->clientAddress, static_cast<int>(connection->bytesSent));
    std::memcpy(url, line, sizeof line);
  }
  if (std::strstr(url, "deny")) {
    int length = static_cast<int>(sizeof kDenialPage - 1);
    int sent = 0;
    while (sent < length) {
      int n = platform::SendOnSocket(connection->clientSocket, kDenialPage + sent, length - sent);
      if (n <= 0) break;
      sent += n;
    }
    connection->bytesSent += sent;
    result = 0;
  }
  g_in_proc.fetch_sub(1);
  return result;
}

#ifdef STUB_IMPORTS_ABSENT_DLL
__declspec(dllimport) int PelluminAbsentFunction(void);
#endif

STUB_EXPORT int HX_CALL HXUnInit(int) {
  g_uninit_calls.fetch_add(1);
#ifdef STUB_IMPORTS_ABSENT_DLL
  return PelluminAbsentFunction();
#else
  return 1;
#endif
}

#endif  // STUB_INIT_ONLY

STUB_EXPORT void StubStats(StubStatsRecord* out) {
  out->initCalls = g_init_calls.load();
  out->uninitCalls = g_uninit_calls.load();
  out->procCalls = g_proc_calls.load();
  out->maxConcurrentProc = g_max_in_proc.load();
}

}  // extern "C"
