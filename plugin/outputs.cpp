// outputs.cpp -- denial page, access log line, alert batch, send loop.
#include "outputs.h"

#include <climits>
#include <cstdint>
#include <cstring>

#include "platform.h"

namespace tarnwick {

namespace {

const char kPageBeforeBody[] =
    "HTTP/1.0 200 OK\r\n"
    "Server: Kerrowan\r\n"
    "Content-type: text/html\r\n"
    "\r\n"
    "<HTML>\r\n"
    "<HEAD>\r\n"
    "<TITLE>\r\n"
    "Access Restricted\r\n"
    "</TITLE>\r\n"
    "</HEAD>\r\n";
const char kPageAfterBody[] = "\r\n</HTML>\r\n\r\n\r\n";
static_assert(sizeof(kPageBeforeBody) - 1 + sizeof(kPageAfterBody) - 1 == kDenialPageFixedLength,
              "the page around its body is 140 bytes");

const char kLogLinePrefix[] = "~Pellumin Plugin: Access denied to URL: ";
const char kLogLineClient[] = " for client: ";

std::size_t BoundedLength(const char* text, std::size_t limit) {
  std::size_t length = 0;
  while (length < limit && text[length] != '\0') ++length;
  return length;
}

// Appends into a fixed buffer, dropping what does not fit; the buffer always
// keeps room for its NUL.
class BoundedWriter {
 public:
  BoundedWriter(char* out, std::size_t capacity) : out_(out), capacity_(capacity) {}
  void Append(const char* text, std::size_t length) {
    const std::size_t room = capacity_ - 1 - length_;
    if (length > room) length = room;
    std::memcpy(out_ + length_, text, length);
    length_ += length;
  }
  std::size_t Finish() {
    out_[length_] = '\0';
    return length_;
  }

 private:
  char* out_;
  std::size_t capacity_;
  std::size_t length_ = 0;
};

}  // namespace

const char kAlertBatchHeader[] = "Folowing is the list of Clients and URL's that were accesed:\r\n\r\n";
static_assert(sizeof(kAlertBatchHeader) - 1 == kAlertBatchHeaderLength, "the header is 64 characters");

std::size_t FormatDenialPage(const char* body, char* out) {
  BoundedWriter page(out, kDenialPageSize);
  page.Append(kPageBeforeBody, sizeof(kPageBeforeBody) - 1);
  page.Append(body, BoundedLength(body, kDenialBodySize - 1));
  page.Append(kPageAfterBody, sizeof(kPageAfterBody) - 1);
  return page.Finish();
}

std::size_t WriteAccessLogLine(char* out, std::size_t capacity, const char* keyText,
                               const char* client, std::size_t clientRoom) {
  if (capacity == 0) return 0;
  BoundedWriter line(out, capacity);
  line.Append(kLogLinePrefix, sizeof(kLogLinePrefix) - 1);
  line.Append(keyText, std::strlen(keyText));
  line.Append(kLogLineClient, sizeof(kLogLineClient) - 1);
  line.Append(client, BoundedLength(client, clientRoom));
  return line.Finish();
}

int DeliverAlertBatch() { return 1; }

void ResetAlertBatch(AlertBatch& batch) {
  std::memcpy(batch.text, kAlertBatchHeader, sizeof(kAlertBatchHeader));
  batch.count = 0;
}

void AddAlertEntry(AlertBatch& batch, const char* entry, DeliveryHook deliver) {
  std::size_t used = BoundedLength(batch.text, kAlertBatchSize - 1);
  const std::size_t length = std::strlen(entry);
  if (length > kAlertBatchSize - 1 - used && used > kAlertBatchHeaderLength) {
    if (deliver() == 1) {
      ResetAlertBatch(batch);
      used = kAlertBatchHeaderLength;
    }
  }
  ++batch.count;
  const std::size_t room = kAlertBatchSize - 1 - used;
  const std::size_t kept = length < room ? length : room;
  std::memcpy(batch.text + used, entry, kept);
  batch.text[used + kept] = '\0';
  if (batch.count >= batch.threshold && deliver() == 1) ResetAlertBatch(batch);
}

int SendToClient(HostConnection* connection, const char* bytes, int length) {
  const platform::SocketHandle socket = connection->clientSocket;
  int sent = 0;
  int n = platform::SendOnSocket(socket, bytes, length);
  while (n > 0) {
    sent += n;
    if (sent >= length) break;
    n = platform::SendOnSocket(socket, bytes + sent, length - sent);
  }
  if (n < 0) return kSendFailed;
  // The count is the host's signed 32-bit field: a long-lived connection
  // stops at the largest value instead of overflowing.
  const long long total = static_cast<long long>(connection->bytesSent) + sent;
  connection->bytesSent = total > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(total);
  return 1;
}

}  // namespace tarnwick
