// entry_points.cpp -- HXInit, HXProcURL and HXUnInit.
//
// Locking: one reader/writer lock guards the engine handles and the
// settings in FilterState. HXInit and HXUnInit hold it exclusively;
// HXProcURL holds it shared only while it categorises, tests the sets and
// copies what it needs (switches, denial page). The log line, the alert
// entry and the send happen after it is released, so a slow client never
// holds up another request or a re-initialisation. The alert batch has a
// mutex of its own. Lock order: state lock, then alert lock.
#include <cstddef>
#include <cstring>
#include <mutex>
#include <shared_mutex>

#include "corvane.h"
#include "defaults.h"
#include "entry_points.h"
#include "filter_state.h"
#include "outputs.h"
#include "settings_store.h"
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
  state.logEnabled = kFilterDefaults.log;
  state.mailEnabled = kFilterDefaults.mail;
  std::strcpy(state.controlFilePath, kFilterDefaults.controlFile);
  std::strcpy(state.denialBody, kFilterDefaults.denialBody);
  return state;
}();

std::shared_mutex g_stateLock;
std::mutex g_alertLock;

const char kInitFailedMessage[] = "Pellumin Error: Could not Initialize Pellumin.";
const char kTypesFailedMessage[] = "Pellumin Error: Couldn't allocate memory for Types.";
const char kReadyMessage[] = "Pellumin Plugin V1.0 Initialized Correctly!";
const char kPathTooLongMessage[] =
    "Pellumin Error: The configuration key path is not terminated within 1024 bytes.";

void WriteMessage(char* message, const char* first, const char* second = "",
                  const char* third = "", const char* fourth = "") {
  std::size_t used = 0;
  for (const char* part : {first, second, third, fourth}) {
    std::size_t length = std::strlen(part);
    if (length > TARNWICK_MESSAGE_BUFFER_SIZE - 1 - used) length = TARNWICK_MESSAGE_BUFFER_SIZE - 1 - used;
    std::memmove(message + used, part, length);
    used += length;
  }
  message[used] = '\0';
}

// Releases whatever a previous HXInit left, so that calling HXInit again
// (to pick up changed settings) neither leaks nor keeps stale sets. Handles
// that are none are passed too; the engine refuses them.
void ReleaseHandles(FilterState& state) {
  QX_FreeTypes(state.denySet);
  QX_FreeTypes(state.alertSet);
  QX_FreeTypes(state.urlSet);
  QX_FreeTypes(state.scratchSet);
  QX_FreeService(state.service);
  state.denySet = state.alertSet = state.urlSet = state.scratchSet = nullptr;
  state.service = nullptr;
}

// key path + "\" + subkey. The buffer holds the longest path a message
// buffer can carry, so no path is ever cut.
void JoinListPath(const char* path, const char* subkey,
                  char (&out)[TARNWICK_MESSAGE_BUFFER_SIZE + 8]) {
  const std::size_t pathLength = std::strlen(path);
  std::memcpy(out, path, pathLength);
  out[pathLength] = '\\';
  std::strcpy(out + pathLength + 1, subkey);
}

constexpr QxTypes kEmptySet = {{'Q', 'X', 'T', 'P'}, 0, 0};

}  // namespace

FilterState& GlobalFilterState() { return g_state; }

#define PELLUMIN_SUPPORT_SENTENCE \
  " Please notify Pellumin support at support@pellumin.example."

const char* LoadFailureText(int rc) {
  if (rc == QX_ERR_NULL_HANDLE) {
    return "could not be loaded because the engine was given a null handle." PELLUMIN_SUPPORT_SENTENCE;
  }
  if (rc == QX_ERR_BAD_HANDLE) {
    return "could not be loaded because the engine was given an invalid handle." PELLUMIN_SUPPORT_SENTENCE;
  }
  if (rc == QX_ERR_READ_HEADER) return "was not found.";
  if (rc == QX_ERR_READ_RECORD) return "was Truncated, its a bad file.";
  return "could not be loaded correctly.";
}

}  // namespace tarnwick

using tarnwick::g_alertLock;
using tarnwick::g_state;
using tarnwick::g_stateLock;

extern "C" int HX_CALL HXInit(char* message) {
  using namespace tarnwick;
  if (message == nullptr) return 0;

  // The path is read only as far as the host's buffer goes.
  std::size_t pathLength = 0;
  while (pathLength < TARNWICK_MESSAGE_BUFFER_SIZE && message[pathLength] != '\0') ++pathLength;
  char path[TARNWICK_MESSAGE_BUFFER_SIZE];
  const bool pathTerminated = pathLength < TARNWICK_MESSAGE_BUFFER_SIZE;
  if (pathTerminated) std::memcpy(path, message, pathLength + 1);

  std::unique_lock<std::shared_mutex> stateLock(g_stateLock);
  ReleaseHandles(g_state);
  g_state.mailEnabled = 0;
  g_state.logEnabled = 1;
  {
    std::lock_guard<std::mutex> alertLock(g_alertLock);
    g_state.alertThreshold = 0;
    ResetAlertBatch(g_state);
  }
  if (!pathTerminated) {
    WriteMessage(message, kPathTooLongMessage);
    return 0;
  }

  if (SettingsKey key = OpenPluginKey(path, KeyAccess::kRead)) {
    g_state.logEnabled = ReadDwordValue(key, kLogValue);
    g_state.mailEnabled = ReadDwordValue(key, kMailValue);
    ReadStringValue(key, kControlFileValue, g_state.controlFilePath, kControlFilePathSize);
    ReadStringValue(key, kErrorMsgValue, g_state.denialBody, kDenialBodySize);
    CloseSettingsKey(key);
  }

  g_state.service = QX_Init();
  if (g_state.service == nullptr) {
    WriteMessage(message, kInitFailedMessage);
    return 0;
  }
  // A listed domain covers every host below it, as administrators expect of
  // a URL filter, whatever its last label.
  QX_SetParentDomainOption(g_state.service, 1);

  const int rc = QX_LoadControlList(g_state.service, nullptr, g_state.controlFilePath);
  if (rc != QX_OK) {
    WriteMessage(message, "Pellumin Error: ", g_state.controlFilePath, " ", LoadFailureText(rc));
    QX_FreeService(g_state.service);
    g_state.service = nullptr;
    return 0;
  }

  g_state.denySet = QX_AllocateTypes();
  g_state.alertSet = QX_AllocateTypes();
  g_state.urlSet = QX_AllocateTypes();
  g_state.scratchSet = QX_AllocateTypes();
  if (g_state.denySet == nullptr || g_state.alertSet == nullptr || g_state.urlSet == nullptr ||
      g_state.scratchSet == nullptr) {
    WriteMessage(message, kTypesFailedMessage);
    QX_FreeService(g_state.service);
    g_state.service = nullptr;
    return 0;
  }

  char listPath[TARNWICK_MESSAGE_BUFFER_SIZE + 8];
  JoinListPath(path, kDenySubkey, listPath);
  LoadCategorySet(listPath, g_state.denySet);
  JoinListPath(path, kAlertSubkey, listPath);
  LoadCategorySet(listPath, g_state.alertSet);

  WriteMessage(message, kReadyMessage);
  return 1;
}

extern "C" int HX_CALL HXProcURL(HostConnection* connection, char* url) {
  using namespace tarnwick;
  if (connection == nullptr || url == nullptr) return 1;

  // Everything a request works on lives in this frame: its own result and
  // scratch sets (marked as engine sets, so the engine checks them as its
  // own), the key text, and the page. Nothing is allocated.
  QxTypes urlSet = kEmptySet;
  QxTypes scratchSet = kEmptySet;
  // The engine writes at most limit + 1 bytes; one more keeps a cut key
  // text (result 13) terminated.
  char keyText[QX_KEY_TEXT_SIZE + 1];
  char page[kDenialPageSize];
  std::size_t pageLength = 0;
  bool alert = false;
  bool deny = false;
  std::int32_t logEnabled = 0;
  std::int32_t mailEnabled = 0;
  {
    std::shared_lock<std::shared_mutex> stateLock(g_stateLock);
    const int rc = QX_CategorizeUrl(g_state.service, url, &urlSet, keyText, QX_KEY_TEXT_SIZE);
    if (rc != QX_CATEGORIZED && rc != QX_CATEGORIZED_TRUNCATED) return 1;
    keyText[QX_KEY_TEXT_SIZE] = '\0';
    alert = QX_CategoryAndCategory(&urlSet, g_state.alertSet, &scratchSet) == QX_YES;
    deny = QX_CategoryAndCategory(&urlSet, g_state.denySet, &scratchSet) == QX_YES;
    logEnabled = g_state.logEnabled;
    mailEnabled = g_state.mailEnabled;
    if (deny) pageLength = FormatDenialPage(g_state.denialBody, page);
  }

  if (alert) {
    if (logEnabled != 0) {
      WriteAccessLogLine(url, TARNWICK_URL_BUFFER_SIZE, keyText, connection->clientAddress,
                         TARNWICK_CLIENT_ADDRESS_SIZE);
    }
    if (mailEnabled != 0) {
      std::lock_guard<std::mutex> alertLock(g_alertLock);
      AddAlertEntry(g_state, url, &DeliverAlertBatch);
    }
  }

  if (!deny) return 1;
  SendToClient(connection, page, static_cast<int>(pageLength));
  return 0;
}

extern "C" int HX_CALL HXUnInit(int /*unused*/) {
  using namespace tarnwick;
  std::unique_lock<std::shared_mutex> stateLock(g_stateLock);
  {
    std::lock_guard<std::mutex> alertLock(g_alertLock);
    if (g_state.mailEnabled != 0 && g_state.alertThreshold > 0) DeliverAlertBatch();
  }
  ReleaseHandles(g_state);
  return 1;
}
