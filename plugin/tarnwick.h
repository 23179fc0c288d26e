/*
 * tarnwick.h -- the host interface of Tarnwick, the proxy filter plug-in.
 *
 * A host proxy server loads the plug-in and calls, in this order:
 *   HXInit     once after loading, with the configuration key path;
 *   HXProcURL  once for every client request;
 *   HXConfig   whenever the administrator opens the filter's settings;
 *   HXUnInit   once before unloading.
 * On Windows the entry points use __stdcall and are exported undecorated
 * with the ordinals 1 HXConfig, 2 HXInit, 3 HXProcURL, 4 HXUnInit.
 *
 * Buffers the host hands over (the plug-in never writes past these sizes):
 *   - the message buffer of HXInit: at least TARNWICK_MESSAGE_BUFFER_SIZE
 *     bytes;
 *   - the URL buffer of HXProcURL: at least TARNWICK_URL_BUFFER_SIZE bytes.
 * Messages and log lines that would not fit are cut and always terminated
 * (none does with the sizes the store allows). The client text is read for
 * at most TARNWICK_CLIENT_ADDRESS_SIZE bytes, terminated or not.
 *
 * Threads. A host may call HXProcURL from any number of threads at once,
 * each with its own connection record and URL buffer. Every call works on
 * result sets, key text and denial page of its own; the shared settings
 * and engine service are only read, under the shared side of a
 * reader/writer lock that is held for the categorisation and set tests
 * alone, never while the denial page is being sent, so one slow client
 * does not hold up the others. The alert batch is guarded by a mutex of
 * its own. HXInit and HXUnInit take the lock exclusively: they wait for
 * the categorisations in progress and hold new ones back until they are
 * done, so they may be called while requests are being filtered (a
 * request that arrives after HXUnInit simply passes). The host must not
 * unload the plug-in while any call is still running.
 */
#ifndef PELLUMIN_PLUGIN_TARNWICK_H_
#define PELLUMIN_PLUGIN_TARNWICK_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define HX_CALL __stdcall
#else
#define HX_CALL
#endif

#define TARNWICK_MESSAGE_BUFFER_SIZE 1024
#define TARNWICK_URL_BUFFER_SIZE 2048

/* The host's record of one client connection. The plug-in reads and writes
 * only the three named fields, at fixed byte offsets; the rest belongs to
 * the host. */
#define TARNWICK_CLIENT_ADDRESS_SIZE 568 /* room from offset 1828 to 2396 */

typedef struct HostConnection {
  uint8_t hostPrivate0[1800];
  uint32_t clientSocket;   /* offset 1800: the socket connected to the client */
  uint8_t hostPrivate1[24];
  char clientAddress[TARNWICK_CLIENT_ADDRESS_SIZE]; /* offset 1828: NUL-terminated client text */
  int32_t bytesSent;       /* offset 2396: bytes sent to the client */
  uint8_t hostPrivate2[100];
} HostConnection;

/* Reads the settings below HKEY_LOCAL_MACHINE\<message>, loads the control
 * list and the deny and alert sets. message holds the key path on entry and
 * a one-line status on return. Returns 1 when ready, 0 otherwise. */
int HX_CALL HXInit(char* message);

/* Filters one request. url holds the requested URL; it may be replaced by
 * an access log line (which begins with "~"). Returns 1 when the host goes
 * on with the request, 0 when the plug-in has answered the client with the
 * denial page. */
int HX_CALL HXProcURL(HostConnection* connection, char* url);

/* Opens the filter's settings for the administrator and returns when they
 * are closed. keyPath is the configuration key path below
 * HKEY_LOCAL_MACHINE, the same the host hands to HXInit; null is taken as
 * the empty path. The call replaces the configuration interface's copy of
 * the path (kept until the next call), builds the settings sheet, whose
 * pages read the store at once, and runs it modally on the calling thread:
 * on Windows a property sheet without owner window ("General", "Deny",
 * "Alert", "Busines Hours"; OK, Cancel, Apply), on Linux a sheet in the
 * terminal where the build has one. OK saves every page that was shown;
 * Cancel and the close box save nothing. The running filter sees the saved settings at its next
 * HXInit. Returns 0 in every case, whether the user confirmed or
 * cancelled. On Linux, when standard input or output is not a terminal
 * (or the build has no terminal sheet), it prints one line on standard
 * error and returns 0 at once.
 * Must not be entered from two threads at once, nor again while a sheet is
 * open. */
int HX_CALL HXConfig(const char* keyPath);

/* Releases everything HXInit made. Always returns 1. */
int HX_CALL HXUnInit(int unused);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* PELLUMIN_PLUGIN_TARNWICK_H_ */
