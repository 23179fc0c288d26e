// outputs.h -- what the plug-in produces for a denied or alerted request:
// the denial page, the access log line and the alert batch, and the send
// loop that answers the client.
#ifndef PELLUMIN_PLUGIN_OUTPUTS_H_
#define PELLUMIN_PLUGIN_OUTPUTS_H_

#include <cstddef>

#include <cstdint>

#include "filter_settings.h"
#include "tarnwick.h"

namespace tarnwick {

using settings::kDenialBodySize;

// --- Denial page --------------------------------------------------------

// Bytes of the page around its body.
constexpr std::size_t kDenialPageFixedLength = 140;
// Room for a page with the longest body the filter can hold (4095
// characters), so that no body is ever cut: a body cut short could end
// inside a tag and break the page.
constexpr std::size_t kDenialPageSize = kDenialPageFixedLength + kDenialBodySize;

// Formats the page with body (at most kDenialBodySize - 1 characters are
// taken) into out, which has room for kDenialPageSize bytes. Returns the
// length without the NUL.
std::size_t FormatDenialPage(const char* body, char* out);

// --- Access log line ----------------------------------------------------

// Writes "~Pellumin Plugin: Access denied to URL: <keyText> for client:
// <client>" into out (capacity bytes, including the NUL). client is read
// for at most clientRoom bytes, in case it is not terminated. A line that
// does not fit is cut and always terminated. Returns its length.
std::size_t WriteAccessLogLine(char* out, std::size_t capacity, const char* keyText,
                               const char* client, std::size_t clientRoom);

// --- Alert batch --------------------------------------------------------

// "Folowing is the list of Clients and URL's that were accesed:\r\n\r\n"
extern const char kAlertBatchHeader[];
constexpr std::size_t kAlertBatchHeaderLength = 64;

constexpr std::size_t kAlertBatchSize = 32000;

// The alerted entries collected for delivery: the text (the header, then
// the entries without separators), how many there are, and how many make
// the batch go out.
struct AlertBatch {
  char text[kAlertBatchSize] = {};
  std::int32_t count = 0;
  std::int32_t threshold = 0;
};

// The delivery hook: answers 1 when the batch was delivered, and the batch
// is then emptied. The filter hands each alert entry to its mail sender
// (mail/alert_mailer.h) as well, which spools and sends them; so this hook
// only answers 1, and the batch never holds more than one threshold's
// worth. Tests pass their own hook to AddAlertEntry to see each batch.
int DeliverAlertBatch();

using DeliveryHook = int (*)();

// Batch to the header alone, count 0.
void ResetAlertBatch(AlertBatch& batch);

// Adds one entry and offers the batch for delivery when the count reaches
// the threshold. An entry that no longer fits behind the held entries
// makes the held batch go out first; an entry still too long for the room
// left (a batch whose delivery failed, or an entry longer than a whole
// batch) is cut to that room. Each entry is counted exactly once.
void AddAlertEntry(AlertBatch& batch, const char* entry, DeliveryHook deliver);

// --- Sending ------------------------------------------------------------

constexpr int kSendFailed = -11;

// Sends length bytes on the connection's socket until all are sent or the
// peer stops accepting (1; bytesSent grows by what was sent), or a send
// fails (-11; bytesSent unchanged).
int SendToClient(HostConnection* connection, const char* bytes, int length);

}  // namespace tarnwick

#endif  // PELLUMIN_PLUGIN_OUTPUTS_H_
