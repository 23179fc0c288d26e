// entry_points.cpp -- HXInit, HXProcURL and HXUnInit.
//
// Locking: one reader/writer lock guards the engine handles and the
// settings in FilterState. HXInit builds the new filter (filter_loader.h)
// without it and holds it exclusively only to exchange the old one for
// the new; HXUnInit holds it exclusively to take the handles out. An init
// mutex keeps HXInit and HXUnInit one at a time. HXProcURL holds it shared only while it categorises, tests the sets and
// copies what it needs (switches, denial page). The log line, the alert
// entry and the send happen after it is released, so a slow client never
// holds up another request or a re-initialisation. The alert batch has a
// mutex of its own. Lock order: init lock, state lock,
// alert lock.
#include <cstddef>
#include <cstring>
#include <mutex>
#include <new>
#include <shared_mutex>

#include "corvane.h"
#include "defaults.h"
#include "entry_points.h"
#include "filter_loader.h"
#include "filter_state.h"
#include "outputs.h"
#include "tarnwick.h"

static_assert(offsetof(HostConnection, clientSocket) == 1800, "clientSocket lives at 0x708");
static_assert(offsetof(HostConnection, clientAddress) == 1828, "clientAddress lives at 0x724");
static_assert(offsetof(HostConnection, bytesSent) == 2396, "bytesSent lives at 0x95C");
static_assert(sizeof(HostConnection::clientSocket) == 4 && sizeof(HostConnection::bytesSent) == 4,
              "the host's socket and byte count are 32-bit");

namespace tarnwick {

namespace {

FilterState g_state = [] {
  FilterState state{};
  state.logEnabled = settings::kFilterDefaults.log;
  state.mailEnabled = settings::kFilterDefaults.mail;
  std::strcpy(state.controlFilePath, settings::kFilterDefaults.controlFile);
  std::strcpy(state.denialBody, settings::kFilterDefaults.denialBody);
  return state;
}();

std::shared_mutex g_stateLock;
std::mutex g_alertLock;

std::mutex g_initLock;  // one HXInit or HXUnInit at a time

const char kPathTooLongMessage[] =
    "Pellumin Error: The configuration key path is not terminated within 1024 bytes.";

// Moves the loaded handles, switches and texts into the state (the caller
// holds the state lock exclusively) and hands back what it held before.
LoadedFilter TakeOver(FilterState& state, const LoadedFilter& next) {
  LoadedFilter old;
  old.service = state.service;
  old.denySet = state.denySet;
  old.alertSet = state.alertSet;
  old.urlSet = state.urlSet;
  old.scratchSet = state.scratchSet;
  state.service = next.service;
  state.denySet = next.denySet;
  state.alertSet = next.alertSet;
  state.urlSet = next.urlSet;
  state.scratchSet = next.scratchSet;
  state.logEnabled = next.logEnabled;
  state.mailEnabled = next.mailEnabled;
  std::memcpy(state.controlFilePath, next.controlFilePath, kControlFilePathSize);
  std::memcpy(state.denialBody, next.denialBody, kDenialBodySize);
  return old;
}

}  // namespace

FilterState& GlobalFilterState() { return g_state; }

}  // namespace tarnwick

using tarnwick::g_alertLock;
using tarnwick::g_initLock;
using tarnwick::g_state;
using tarnwick::g_stateLock;

namespace tarnwick {
namespace {

int InitFilter(char* message) {

  // The path is read only as far as the host's buffer goes.
  std::size_t pathLength = 0;
  while (pathLength < TARNWICK_MESSAGE_BUFFER_SIZE && message[pathLength] != '\0') ++pathLength;
  char path[TARNWICK_MESSAGE_BUFFER_SIZE];
  const bool pathTerminated = pathLength < TARNWICK_MESSAGE_BUFFER_SIZE;
  if (pathTerminated) std::memcpy(path, message, pathLength + 1);

  // The new filter is built while requests go on under the one in force;
  // only the exchange holds them back. Only HXInit and HXUnInit write the
  // texts, and they hold the init lock, so reading them here is safe.
  std::lock_guard<std::mutex> initLock(g_initLock);
  LoadedFilter next;
  next.logEnabled = 1;
  next.mailEnabled = 0;
  std::memcpy(next.controlFilePath, g_state.controlFilePath, kControlFilePathSize);
  std::memcpy(next.denialBody, g_state.denialBody, kDenialBodySize);
  int ready = 0;
  if (pathTerminated) {
    // Only HXInit and HXUnInit change the service, under the init lock.
    ready = LoadFilter(path, &next, message, TARNWICK_MESSAGE_BUFFER_SIZE,
                       g_state.service != nullptr);
  } else {
    WriteMessage(message, TARNWICK_MESSAGE_BUFFER_SIZE, kPathTooLongMessage);
  }

  LoadedFilter old;
  {
    std::unique_lock<std::shared_mutex> stateLock(g_stateLock);
    // A re-initialisation that fails leaves the filter in force as it was:
    // a host that reloads changed settings must not end up filtering
    // nothing because of a typing error. The message says what failed.
    if (ready == 0 && g_state.service != nullptr) return 0;
    old = TakeOver(g_state, next);
    std::lock_guard<std::mutex> alertLock(g_alertLock);
    g_state.alertThreshold = 0;
    ResetAlertBatch(g_state);
  }
  ReleaseFilter(&old);
  return ready;
}

}  // namespace
}  // namespace tarnwick

extern "C" int HX_CALL HXInit(char* message) {
  using namespace tarnwick;
  if (message == nullptr) return 0;
  try {
    return InitFilter(message);
  } catch (const std::bad_alloc&) {
    // LoadFilter hands back nothing half built when memory runs out; this
    // keeps anything else that runs short from escaping to the host, and
    // leaves the filter in force as it was.
    WriteMessage(message, TARNWICK_MESSAGE_BUFFER_SIZE, kInitFailedMessage);
    return 0;
  }
}

extern "C" int HX_CALL HXProcURL(HostConnection* connection, char* url) {
  using namespace tarnwick;
  if (connection == nullptr || url == nullptr) return 1;

  // Everything a request works on lives in this frame: the key text and
  // the page (the verdict's sets are ClassifyUrl's own). The engine writes
  // at most limit + 1 bytes; one more keeps a cut key text terminated.
  char keyText[QX_KEY_TEXT_SIZE + 1];
  char page[kDenialPageSize];
  std::size_t pageLength = 0;
  UrlVerdict verdict;
  std::int32_t logEnabled = 0;
  std::int32_t mailEnabled = 0;
  {
    std::shared_lock<std::shared_mutex> stateLock(g_stateLock);
    verdict = ClassifyUrl(g_state.service, g_state.alertSet, g_state.denySet, url, keyText);
    if (!verdict.categorized) return 1;
    logEnabled = g_state.logEnabled;
    mailEnabled = g_state.mailEnabled;
    if (verdict.deny) pageLength = FormatDenialPage(g_state.denialBody, page);
  }

  if (verdict.alert) {
    if (logEnabled != 0) {
      WriteAccessLogLine(url, TARNWICK_URL_BUFFER_SIZE, keyText, connection->clientAddress,
                         TARNWICK_CLIENT_ADDRESS_SIZE);
    }
    if (mailEnabled != 0) {
      std::lock_guard<std::mutex> alertLock(g_alertLock);
      AddAlertEntry(g_state, url, &DeliverAlertBatch);
    }
  }

  if (!verdict.deny) return 1;
  SendToClient(connection, page, static_cast<int>(pageLength));
  return 0;
}

extern "C" int HX_CALL HXUnInit(int /*unused*/) {
  using namespace tarnwick;
  std::lock_guard<std::mutex> initLock(g_initLock);
  LoadedFilter old;
  {
    std::unique_lock<std::shared_mutex> stateLock(g_stateLock);
    {
      std::lock_guard<std::mutex> alertLock(g_alertLock);
      if (g_state.mailEnabled != 0 && g_state.alertThreshold > 0) DeliverAlertBatch();
    }
    old.service = g_state.service;
    old.denySet = g_state.denySet;
    old.alertSet = g_state.alertSet;
    old.urlSet = g_state.urlSet;
    old.scratchSet = g_state.scratchSet;
    g_state.service = nullptr;
    g_state.denySet = g_state.alertSet = g_state.urlSet = g_state.scratchSet = nullptr;
  }
  ReleaseFilter(&old);
  return 1;
}
