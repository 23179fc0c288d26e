// proxy_server.cpp -- accepting clients, filtering and relaying requests.
#include "proxy_server.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>
#include <utility>

#include "base/ascii.h"
#include "client_access.h"
#include "http.h"
#include "request_target.h"

namespace hxhost {

using platform::NetStatus;
using platform::Socket;

namespace {

constexpr size_t kMaxHeadBytes = 64 * 1024;
constexpr size_t kIoChunk = 16 * 1024;
constexpr int kAcceptSliceMs = 200;     // how often the accept loop looks at the stop flag
constexpr int kIdleSliceMs = 200;       // the same for an idle keep-alive client
constexpr int kLingerMs = 2000;         // reading what a client still sends after we close
constexpr size_t kLingerBytes = 1 << 20;
// A slow client's allowance of waiting is given back as each this many
// bytes of its body or its answer go through: a total time for a short
// transfer, and a least rate for a long one, which a whole-transfer limit
// would cut off however well it went.
constexpr size_t kProgressBytes = 16 * 1024;

std::string HtmlEscape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

// The error page hxhost itself sends: a short HTML body, then close.
std::string ErrorResponse(int status, const char* reason, std::string_view detail) {
  std::string title = std::to_string(status) + " " + reason;
  std::string body = "<html><head><title>" + title + "</title></head><body><h1>" + title +
                     "</h1><p>" + HtmlEscape(detail) + "</p><hr><address>hxhost</address>" +
                     "</body></html>\r\n";
  return "HTTP/1.1 " + title + "\r\nContent-Type: text/html\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

enum class ReadHeadResult { kOk, kIdleEnd, kClosed, kTimeout, kTooLarge, kError };

}  // namespace

std::string MapUpstreamHost(const ProxyOptions& options, const std::string& host) {
  for (const auto& entry : options.hostMap) {
    if (entry.first == "*") return entry.second;
    if (base::EqualsAsciiNoCase(entry.first, host)) return entry.second;
  }
  return host;
}

// The time a client may keep a transfer waiting: what is spent waiting for
// it (for bytes of its body, or for room for its answer) adds up over the
// waits, and is given back whole as each kProgressBytes go through.
class SlowClientBudget {
 public:
  using Clock = std::chrono::steady_clock;
  explicit SlowClientBudget(int timeoutMs) : timeoutMs_(timeoutMs), leftMs_(timeoutMs) {}
  int leftMs() const { return leftMs_ > 0 ? static_cast<int>(leftMs_) : 0; }
  bool spent() const { return leftMs_ <= 0; }
  void Used(Clock::duration waited, size_t bytes) {
    leftMs_ -= std::chrono::duration_cast<std::chrono::milliseconds>(waited).count();
    moved_ += bytes;
    if (moved_ >= kProgressBytes && leftMs_ > 0) Reset();
  }
  void Reset() {
    leftMs_ = timeoutMs_;
    moved_ = 0;
  }

 private:
  const int timeoutMs_;
  long long leftMs_;
  size_t moved_ = 0;
};

// One client connection, served on its own thread.
class ProxyServer::Connection {
 public:
  Connection(ProxyServer* server, Socket client, const std::string& peer)
      : server_(server),
        client_(std::move(client)),
        peer_(peer),
        sendBudget_(server->options_.clientIdleTimeoutMs),
        bodyBudget_(server->options_.clientIdleTimeoutMs) {
    std::memset(&record_, 0, sizeof record_);
    record_.clientSocket = static_cast<uint32_t>(client_.handle());
    std::strncpy(record_.clientAddress, peer.c_str(), sizeof record_.clientAddress - 1);
    server_->Track(client_.handle());
  }

  ~Connection() {
    server_->Untrack(client_.handle());
  }

  void Serve();

 private:
  // Every wait of the connection also ends when the server stops.
  const platform::Waker* waker() const { return &server_->stopWaker_; }
  // Reads one head from socket into *head, keeping surplus bytes in buffer.
  // With idleWait, the wait for the first byte also ends (kIdleEnd) when
  // the server drains or the client stays silent for the idle time.
  ReadHeadResult ReadHead(const Socket& socket, std::string* buffer, int timeoutMs, bool idleWait,
                          std::string* head);
  // Returns whether the connection may carry another request.
  bool HandleRequest(const RequestHead& request);
  // The steps of HandleRequest. Each returns false when the request ends
  // there (and the connection with it), the client answered where it should
  // be. AdmitRequest: the canonical target, the body's framing and the
  // filter's verdict.
  bool AdmitRequest(const RequestHead& request, RequestTarget* url, BodyFraming* requestBody);
  // Sends the head (and a 100 Continue the client waits for) and the body.
  bool ForwardRequest(const RequestHead& request, const RequestTarget& url,
                      const BodyFraming& requestBody, const Socket& upstream);
  // Reads up to the origin's final answer, passing interim ones on.
  bool ReadFinalResponse(const RequestHead& request, const RequestTarget& url,
                         const Socket& upstream, std::string* upstreamBuffer,
                         ResponseHead* response);
  // Sends the answer on; returns whether the connection may carry another
  // request.
  bool RelayResponse(const RequestHead& request, const RequestTarget& url,
                     const ResponseHead& response, const Socket& upstream,
                     std::string* upstreamBuffer);
  void HandleConnect(const RequestHead& request);
  // True when no filter is in force, the request then settled by the
  // failure mode: *goOn says whether it is forwarded (allow) or has been
  // answered 503 (deny).
  bool SettledWithoutFilter(bool* goOn);
  // Runs the URL through the filter; false when the filter answered the
  // client and the request must not be forwarded.
  bool Filter(const std::string& url);
  // The same for a tunnel, whose client must not get the filter's page as
  // the first bytes of its TLS stream: a denial reaches it as 403.
  bool FilterTunnel(const std::string& url);
  // The request's target made canonical (see request_target.h); on failure
  // answers the client and returns false.
  bool CanonicalTarget(const RequestHead& request, RequestTarget* target);
  // Answers a client outside the allowed ranges with 403, and logs it.
  void RefuseClient();
  bool SendToClient(std::string_view data);
  void SendError(int status, const char* reason, std::string_view detail) {
    SendToClient(ErrorResponse(status, reason, detail));
  }
  // Connects to host:port (or where the options map the host) within the
  // upstream timeout. On failure answers the client 504 (timed out) or 502,
  // naming target, and returns false.
  bool ConnectUpstream(const std::string& host, uint16_t port, const std::string& target,
                       Socket* upstream);

  // Tracks an upstream socket for as long as it lives; declared after the
  // socket, so that it untracks before the socket closes.
  class Tracked {
   public:
    Tracked(ProxyServer* server, platform::SocketHandle handle) : server_(server), handle_(handle) {
      server_->Track(handle_);
    }
    ~Tracked() { server_->Untrack(handle_); }
    Tracked(const Tracked&) = delete;
    Tracked& operator=(const Tracked&) = delete;

   private:
    ProxyServer* server_;
    platform::SocketHandle handle_;
  };
  // Copies one body from (from, buffer) to to. Returns false on any failure;
  // a chunked body that could not be read leaves its reason in bodyError_.
  bool RelayBody(const Socket& from, std::string* buffer, const Socket& to, const BodyFraming& framing,
                 bool decodeChunked, int readTimeoutMs, bool toClient);
  bool Write(const Socket& to, bool toClient, std::string_view data);
  void LingeringClose();

  ProxyServer* server_;
  Socket client_;
  std::string peer_;
  std::string clientBuffer_;  // read from the client, not used yet
  std::string bodyError_;     // why a chunked body was refused
  bool bodyCut_ = false;      // the client ended its stream inside its body
  // Set when a budget ran out: the client was too slow with its body or its
  // answer, and the connection is closed and counted.
  bool slowClient_ = false;
  SlowClientBudget sendBudget_;  // for everything sent to the client
  SlowClientBudget bodyBudget_;  // for the request body it sends
  bool sentSinceIdle_ = false;  // an answer went out after the last idle wait
  HostConnection record_;
  // The request being served, for the Squid-format access log.
  void BeginAccess(const RequestHead& request);
  void EndAccess();
  AccessLogEntry access_;
  std::chrono::steady_clock::time_point accessStart_;
  int32_t accessBytesBefore_ = 0;

 public:
  // Set (under the server's idle lock) when the server closes this idle
  // connection to make room for a new client.
  std::atomic<bool> evicted_{false};
  platform::SocketHandle clientHandle() const { return client_.handle(); }
};

ReadHeadResult ProxyServer::Connection::ReadHead(const Socket& socket, std::string* buffer,
                                                 int timeoutMs, bool idleWait,
                                                 std::string* head) {
  using Clock = std::chrono::steady_clock;
  int idleMs = 0;
  size_t scanned = 0;  // no head ends before this offset
  // A client's head must be complete within the timeout of its first byte:
  // a client that sends a byte now and then must not keep its slot for as
  // long as it likes. The origin's answer has the timeout for each piece.
  bool wholeHeadDeadline = idleWait;
  Clock::time_point deadline;
  bool deadlineSet = false;
  char chunk[kIoChunk];
  for (;;) {
    size_t end = FindHeadEnd(*buffer, scanned);
    if (end != std::string::npos) {
      if (end > kMaxHeadBytes) return ReadHeadResult::kTooLarge;
      head->assign(*buffer, 0, end);
      buffer->erase(0, end);
      return ReadHeadResult::kOk;
    }
    if (buffer->size() > kMaxHeadBytes) return ReadHeadResult::kTooLarge;
    scanned = buffer->size() > 3 ? buffer->size() - 3 : 0;
    bool waitingIdle = idleWait && buffer->empty();
    if (waitingIdle) {
      if (server_->draining_.load() || evicted_.load() || idleMs >= timeoutMs) {
        return ReadHeadResult::kIdleEnd;
      }
    } else if (wholeHeadDeadline && !deadlineSet) {
      deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
      deadlineSet = true;
    }
    int waitMs = waitingIdle ? kIdleSliceMs : timeoutMs;
    if (deadlineSet) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return ReadHeadResult::kTimeout;
      waitMs = static_cast<int>(left.count());
    }
    // Only a connection waiting for a new request may be closed to make
    // room for another client.
    if (waitingIdle) {
      sentSinceIdle_ = false;
      server_->MarkIdle(this, true);
    }
    size_t n = 0;
    NetStatus status = platform::Receive(socket, chunk, sizeof chunk, waitMs, &n, waker());
    if (waitingIdle) server_->MarkIdle(this, false);
    if (status == NetStatus::kTimeout) {
      if (waitingIdle) {
        idleMs += kIdleSliceMs;
        continue;
      }
      if (deadlineSet) continue;  // the deadline check above answers
      return ReadHeadResult::kTimeout;
    }
    if (status == NetStatus::kClosed) {
      return buffer->empty() ? ReadHeadResult::kIdleEnd : ReadHeadResult::kClosed;
    }
    if (status != NetStatus::kOk) {
      return buffer->empty() && evicted_.load() ? ReadHeadResult::kIdleEnd
                                                : ReadHeadResult::kError;
    }
    buffer->append(chunk, n);
  }
}

bool ProxyServer::Connection::Write(const Socket& to, bool toClient, std::string_view data) {
  if (data.empty()) return true;
  if (toClient) return SendToClient(data);
  return platform::SendAll(to, data.data(), data.size(), server_->options_.upstreamTimeoutMs,
                           waker()) == NetStatus::kOk;
}

bool ProxyServer::Connection::SendToClient(std::string_view data) {
  if (sendBudget_.spent()) {
    slowClient_ = true;
    return false;
  }
  const auto started = SlowClientBudget::Clock::now();
  NetStatus status = platform::SendAllWithin(client_, data.data(), data.size(),
                                             sendBudget_.leftMs(), waker());
  sendBudget_.Used(SlowClientBudget::Clock::now() - started,
                   status == NetStatus::kOk ? data.size() : 0);
  if (status == NetStatus::kTimeout) slowClient_ = true;
  if (status != NetStatus::kOk) return false;
  sentSinceIdle_ = true;
  if (access_.status == 0) {
    const int sent = ResponseStatusAtStart(data);
    if (sent >= 200) access_.status = sent;
  }
  // bytesSent is the plug-in's 32-bit count; it stops at the largest value
  // rather than wrapping to a negative one.
  long long total = static_cast<long long>(record_.bytesSent) + static_cast<long long>(data.size());
  record_.bytesSent = total > INT32_MAX ? INT32_MAX : static_cast<int32_t>(total);
  return true;
}

bool ProxyServer::Connection::ConnectUpstream(const std::string& host, uint16_t port,
                                              const std::string& target, Socket* upstream) {
  const ProxyOptions& options = server_->options_;
  std::string error;
  NetStatus status = platform::ConnectTcp(MapUpstreamHost(options, host), port,
                                          options.upstreamTimeoutMs, upstream, &error,
                                          waker());
  if (status == NetStatus::kTimeout) {
    SendError(504, "Gateway Timeout", "No answer from " + target + " in time.");
    return false;
  }
  if (status != NetStatus::kOk) {
    SendError(502, "Bad Gateway", "Cannot connect to " + target + ": " + error + ".");
    return false;
  }
  access_.hierarchy = "HIER_DIRECT/" + MapUpstreamHost(options, host);
  return true;
}

bool ProxyServer::Connection::RelayBody(const Socket& from, std::string* buffer, const Socket& to,
                                        const BodyFraming& framing, bool decodeChunked,
                                        int readTimeoutMs, bool toClient) {
  if (framing.kind == BodyKind::kNone) return true;
  // What clients send is read strictly; origins may end chunk lines with a
  // bare LF.
  ChunkedDecoder decoder(/*strict=*/!toClient);
  uint64_t remaining = framing.length;
  char chunk[kIoChunk];
  for (;;) {
    // Use what is buffered first.
    if (!buffer->empty()) {
      switch (framing.kind) {
        case BodyKind::kLength: {
          size_t take = buffer->size() < remaining ? buffer->size() : static_cast<size_t>(remaining);
          if (!Write(to, toClient, std::string_view(*buffer).substr(0, take))) return false;
          buffer->erase(0, take);
          remaining -= take;
          if (remaining == 0) return true;
          break;
        }
        case BodyKind::kChunked: {
          // Only the payload goes on, framed anew: what the next parser
          // reads is exactly what this decoder read.
          std::string payload;
          size_t used = decoder.Feed(buffer->data(), buffer->size(), &payload);
          if (decoder.failed()) {
            bodyError_ = decoder.error();
            return false;
          }
          if (!Write(to, toClient, decodeChunked ? payload : EncodeChunk(payload))) return false;
          buffer->erase(0, used);
          if (decoder.done()) return decodeChunked || Write(to, toClient, kLastChunk);
          break;
        }
        case BodyKind::kUntilClose:
          if (!Write(to, toClient, *buffer)) return false;
          buffer->clear();
          break;
        case BodyKind::kNone:
          return true;
      }
    }
    size_t n = 0;
    // The client's body is limited as a whole (bodyBudget_), the origin's
    // answer per wait.
    const bool fromClient = !toClient;
    if (fromClient && bodyBudget_.spent()) {
      slowClient_ = true;
      return false;
    }
    const int waitMs = fromClient ? std::min(readTimeoutMs, bodyBudget_.leftMs()) : readTimeoutMs;
    const auto started = SlowClientBudget::Clock::now();
    NetStatus status = platform::Receive(from, chunk, sizeof chunk, waitMs, &n, waker());
    if (fromClient) {
      bodyBudget_.Used(SlowClientBudget::Clock::now() - started, status == NetStatus::kOk ? n : 0);
      if (status == NetStatus::kTimeout) slowClient_ = true;
      if (status == NetStatus::kClosed) bodyCut_ = true;
    }
    if (status == NetStatus::kClosed && framing.kind == BodyKind::kUntilClose) return true;
    if (status != NetStatus::kOk) return false;
    buffer->append(chunk, n);
  }
}

void ProxyServer::Connection::LingeringClose() {
  // Closing with unread input makes the OS reset the connection, and the
  // client may then lose the response it has not read yet. So stop sending,
  // read and drop what still comes for a short while, and only then close.
  platform::ShutdownWrite(client_);
  char chunk[kIoChunk];
  size_t total = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLingerMs);
  while (total < kLingerBytes) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    size_t n = 0;
    if (platform::Receive(client_, chunk, sizeof chunk, static_cast<int>(left.count()), &n,
                          waker()) != NetStatus::kOk) {
      break;
    }
    total += n;
  }
}

bool ProxyServer::Connection::Filter(const std::string& url) {
  char buffer[TARNWICK_URL_BUFFER_SIZE];
  std::memset(buffer, 0, sizeof buffer);
  std::memcpy(buffer, url.data(), url.size());  // the caller checked the length
  bool goOn = server_->filter_->ProcessUrl(&record_, buffer);
  buffer[sizeof buffer - 1] = '\0';
  if (buffer[0] == '~') server_->accessLog_->Write(buffer);
  if (!goOn) {
    // Squid's own code and status for a request its access rules refuse.
    access_.result = "TCP_DENIED";
    access_.status = 403;
    access_.contentType = "text/html";
  }
  return goOn;
}

bool ProxyServer::Connection::SettledWithoutFilter(bool* goOn) {
  FilterAvailability* availability = server_->options_.availability;
  if (availability == nullptr || availability->available()) return false;
  availability->CountAnswered();
  *goOn = availability->mode() == FailureMode::kAllow;
  if (!*goOn) {
    SendError(503, "Service Unavailable",
              "The URL filter is unavailable (its settings or lists could not be loaded), so "
              "this proxy serves no request until it is loaded again.");
  }
  return true;
}

bool ProxyServer::Connection::CanonicalTarget(const RequestHead& request, RequestTarget* target) {
  std::string error;
  if (request.method == "CONNECT") {
    if (!CanonicalConnectTarget(request.target, target, &error)) {
      SendError(400, "Bad Request", "CONNECT needs host:port (" + error + ").");
      return false;
    }
  } else {
    switch (CanonicalRequestTarget(request.target, target, &error)) {
      case TargetStatus::kOk:
        break;
      case TargetStatus::kNotAbsolute:
        SendError(400, "Bad Request",
                  "This is a proxy: requests must name an absolute http:// URL.");
        return false;
      case TargetStatus::kUnsupportedScheme:
        SendError(501, "Not Implemented", "Cannot forward this URL: " + error + ".");
        return false;
      case TargetStatus::kBad:
        SendError(400, "Bad Request", "Cannot forward this URL: " + error + ".");
        return false;
    }
  }
  if (target->url.size() >= TARNWICK_URL_BUFFER_SIZE) {
    SendError(414, "URI Too Long",
              "The URL is longer than " + std::to_string(TARNWICK_URL_BUFFER_SIZE - 1) +
                  " characters.");
    return false;
  }
  return true;
}

bool ProxyServer::Connection::FilterTunnel(const std::string& url) {
  // The filter answers on the socket in the connection record. For a
  // tunnel that socket is the catcher's, so that a denial page can be sent
  // on as a 403 instead of into the tunnel.
  const uint32_t clientSocket = record_.clientSocket;
  const int32_t bytesSent = record_.bytesSent;
  bool goOn = true;
  std::string page, error;
  bool caught = server_->tunnelPages_.Catch(
      [&](platform::SocketHandle socket) {
        record_.clientSocket = static_cast<uint32_t>(socket);
        goOn = Filter(url);
      },
      &page, &error);
  record_.clientSocket = clientSocket;
  record_.bytesSent = bytesSent;  // counted again below, when it reaches the client
  if (!caught) {
    server_->diagnostics_->Write("hxhost: the filter's answer to CONNECT " + url +
                                 " was not caught: " + error);
  }
  if (goOn) return true;
  if (page.empty()) {
    SendError(403, "Forbidden", "The filter does not allow a tunnel to this site.");
  } else {
    SendToClient(ForbiddenTunnelResponse(page));
  }
  return false;
}

void ProxyServer::Connection::RefuseClient() {
  server_->accessLog_->Write("hxhost: refused client " + peer_ +
                              ": not in the allowed address ranges (--allow); answered 403");
  SendError(403, "Forbidden", "This proxy does not serve clients from your address.");
}

void ProxyServer::Connection::Serve() {
  if (!ClientAllowed(server_->options_.allowedClients, peer_)) {
    RefuseClient();
    LingeringClose();
    return;
  }
  bool keepAlive = true;
  while (keepAlive) {
    std::string head;
    ReadHeadResult result =
        ReadHead(client_, &clientBuffer_, server_->options_.clientIdleTimeoutMs, true, &head);
    if (result == ReadHeadResult::kTooLarge) {
      if (clientBuffer_.find('\n') == std::string::npos) {
        SendError(414, "URI Too Long", "The request line is too long.");
      } else {
        SendError(431, "Request Header Fields Too Large", "The request head is too large.");
      }
      break;
    }
    if (result == ReadHeadResult::kTimeout) {
      SendError(408, "Request Timeout", "The request was not completed in time.");
      break;
    }
    if (result != ReadHeadResult::kOk) break;
    sendBudget_.Reset();
    bodyBudget_.Reset();
    if (HeaderLineCount(head) > kMaxHeaderFields) {
      SendError(431, "Request Header Fields Too Large",
                "More than " + std::to_string(kMaxHeaderFields) + " header fields.");
      break;
    }
    RequestHead request;
    std::string error;
    if (!ParseRequestHead(head, &request, &error)) {
      SendError(400, "Bad Request", "Malformed request: " + error + ".");
      break;
    }
    BeginAccess(request);
    if (request.method == "CONNECT") {
      HandleConnect(request);
      EndAccess();
      break;
    }
    keepAlive = HandleRequest(request);
    EndAccess();
  }
  // A connection closed to make room was waiting for a request: no answer
  // of ours is in flight to protect from a reset, and the slot is wanted now.
  if (slowClient_) {
    server_->slowClientsClosed_.fetch_add(1);
    server_->diagnostics_->Write("hxhost: closed " + peer_ +
                                 ": it sent its request body or took its answer too slowly "
                                 "(--client-timeout)");
    return;  // no lingering: the slot is what it was keeping from others
  }
  if (!evicted_.load() || sentSinceIdle_) LingeringClose();
}

void ProxyServer::Connection::BeginAccess(const RequestHead& request) {
  access_ = AccessLogEntry();
  access_.startMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
  access_.client = AddressWithoutPort(peer_);
  access_.method = request.method;
  access_.url = request.target;
  accessStart_ = std::chrono::steady_clock::now();
  accessBytesBefore_ = record_.bytesSent;
}

void ProxyServer::Connection::EndAccess() {
  if (server_->squidLog_ == nullptr) return;
  access_.elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - accessStart_)
                          .count();
  access_.bytes = static_cast<uint64_t>(record_.bytesSent - accessBytesBefore_);
  // An answer that came from the origin (or its failure) is a miss: hxhost
  // keeps no cache.
  if (access_.result.empty() && (!access_.hierarchy.empty() || access_.status >= 500)) {
    access_.result = "TCP_MISS";
  }
  server_->squidLog_->WriteUnstamped(FormatSquidAccessLine(access_));
}

bool ProxyServer::Connection::HandleRequest(const RequestHead& request) {
  RequestTarget url;
  BodyFraming requestBody;
  if (!AdmitRequest(request, &url, &requestBody)) return false;

  Socket upstream;
  if (!ConnectUpstream(url.host, url.port, url.authority, &upstream)) return false;
  Tracked tracked(server_, upstream.handle());

  if (!ForwardRequest(request, url, requestBody, upstream)) return false;
  std::string upstreamBuffer;
  ResponseHead response;
  if (!ReadFinalResponse(request, url, upstream, &upstreamBuffer, &response)) return false;
  return RelayResponse(request, url, response, upstream, &upstreamBuffer);
}

bool ProxyServer::Connection::AdmitRequest(const RequestHead& request, RequestTarget* url,
                                           BodyFraming* requestBody) {
  if (!CanonicalTarget(request, url)) return false;
  std::string error;
  if (!RequestFraming(request, requestBody, &error)) {
    SendError(400, "Bad Request", "Cannot tell the length of the request body: " + error + ".");
    return false;
  }
  bool goOn = true;
  if (SettledWithoutFilter(&goOn)) return goOn;
  return Filter(url->url);  // false: the filter has answered the client
}

namespace {

// The origin gets origin form, its own Host, and one request per
// connection.
RequestHead OriginRequestHead(const RequestHead& request, const RequestTarget& url) {
  RequestHead forward;
  forward.method = request.method;
  forward.target = url.path;
  forward.version = "HTTP/1.1";
  forward.headers = request.headers;
  RemoveHopByHopHeaders(&forward.headers);
  RemoveHeader(&forward.headers, "Host");
  RemoveHeader(&forward.headers, "Expect");
  forward.headers.insert(forward.headers.begin(), Header{"Host", url.authority});
  forward.headers.push_back(Header{"Connection", "close"});
  return forward;
}

}  // namespace

bool ProxyServer::Connection::ForwardRequest(const RequestHead& request, const RequestTarget& url,
                                             const BodyFraming& requestBody,
                                             const Socket& upstream) {
  // The client waits for a go-ahead before it sends its body; give it here,
  // now that the origin is reachable.
  const bool expectsContinue = HeaderHasToken(request.headers, "Expect", "100-continue");
  if (expectsContinue && requestBody.kind != BodyKind::kNone && request.version == "HTTP/1.1") {
    if (!SendToClient("HTTP/1.1 100 Continue\r\n\r\n")) return false;
  }
  if (Write(upstream, false, SerializeRequestHead(OriginRequestHead(request, url))) &&
      RelayBody(client_, &clientBuffer_, upstream, requestBody, false,
                server_->options_.clientIdleTimeoutMs, false)) {
    return true;
  }
  if (!bodyError_.empty()) {
    // The origin has a cut body and a closing connection: it cannot
    // take the part it got for a whole request.
    SendError(400, "Bad Request", "Malformed chunked body: " + bodyError_ + ".");
  } else if (bodyCut_) {
    // The client's fault, not the origin's: 502 would blame the origin.
    SendError(400, "Bad Request", "The request body ended before all of it was sent.");
  } else if (slowClient_) {
    SendError(408, "Request Timeout", "The request body did not arrive in time.");
  } else {
    SendError(502, "Bad Gateway", "The request could not be passed on to " + url.authority + ".");
  }
  return false;
}

bool ProxyServer::Connection::ReadFinalResponse(const RequestHead& request,
                                                const RequestTarget& url, const Socket& upstream,
                                                std::string* upstreamBuffer,
                                                ResponseHead* response) {
  for (;;) {
    std::string head;
    ReadHeadResult result =
        ReadHead(upstream, upstreamBuffer, server_->options_.upstreamTimeoutMs, false, &head);
    if (result == ReadHeadResult::kTimeout) {
      SendError(504, "Gateway Timeout", url.authority + " did not answer in time.");
      return false;
    }
    if (result != ReadHeadResult::kOk) {
      SendError(502, "Bad Gateway", url.authority + " closed the connection without an answer.");
      return false;
    }
    std::string error;
    if (!ParseResponseHead(head, response, &error) || response->status == 101) {
      SendError(502, "Bad Gateway", "Malformed answer from " + url.authority + ".");
      return false;
    }
    if (response->status >= 200) return true;
    // Interim answers go on to HTTP/1.1 clients only.
    if (request.version == "HTTP/1.1" && !SendToClient(head)) return false;
  }
}

bool ProxyServer::Connection::RelayResponse(const RequestHead& request, const RequestTarget& url,
                                            const ResponseHead& response, const Socket& upstream,
                                            std::string* upstreamBuffer) {
  BodyFraming responseBody;
  std::string error;
  if (!ResponseFraming(response, request.method, &responseBody, &error)) {
    SendError(502, "Bad Gateway", "Malformed answer from " + url.authority + ": " + error + ".");
    return false;
  }
  bool keepAlive = ClientWantsKeepAlive(request);
  bool decodeChunked = false;
  ResponseHead reply = response;
  reply.version = "HTTP/1.1";
  RemoveHopByHopHeaders(&reply.headers);
  if (responseBody.kind == BodyKind::kChunked) {
    RemoveHeader(&reply.headers, "Content-Length");
    if (request.version != "HTTP/1.1") {
      // An HTTP/1.0 client cannot read chunks: send the plain body and let
      // the end of the connection mark its end.
      RemoveHeader(&reply.headers, "Transfer-Encoding");
      decodeChunked = true;
      keepAlive = false;
    }
  } else if (responseBody.kind == BodyKind::kUntilClose) {
    keepAlive = false;
  }
  reply.headers.push_back(Header{"Connection", keepAlive ? "keep-alive" : "close"});
  for (const Header& header : reply.headers) {
    if (base::EqualsAsciiNoCase(header.name, "Content-Type")) access_.contentType = header.value;
  }
  if (!SendToClient(SerializeResponseHead(reply))) return false;
  if (!RelayBody(upstream, upstreamBuffer, client_, responseBody, decodeChunked,
                 server_->options_.upstreamTimeoutMs, true)) {
    // Part of the answer has gone out; closing is the only honest signal left.
    return false;
  }
  return keepAlive;
}

void ProxyServer::Connection::HandleConnect(const RequestHead& request) {
  const ProxyOptions& options = server_->options_;
  RequestTarget target;
  if (!CanonicalTarget(request, &target)) return;
  bool goOn = true;
  if (SettledWithoutFilter(&goOn) ? !goOn : !FilterTunnel(target.url)) return;

  Socket upstream;
  if (!ConnectUpstream(target.host, target.port, target.authority, &upstream)) return;
  Tracked tracked(server_, upstream.handle());

  access_.result = "TCP_TUNNEL";
  if (!SendToClient("HTTP/1.1 200 Connection established\r\n\r\n")) return;
  // Bytes the client sent right behind its request belong to the tunnel.
  if (!clientBuffer_.empty()) {
    if (!Write(upstream, false, clientBuffer_)) return;
    clientBuffer_.clear();
  }
  // Relay both ways. When one side ends its stream, pass the end on and keep
  // relaying the other way until it ends too (or stays silent too long).
  bool clientOpen = true, upstreamOpen = true;
  char chunk[kIoChunk];
  while (clientOpen || upstreamOpen) {
    platform::SocketHandle handles[2];
    bool fromClient[2];
    int count = 0;
    if (clientOpen) {
      handles[count] = client_.handle();
      fromClient[count++] = true;
    }
    if (upstreamOpen) {
      handles[count] = upstream.handle();
      fromClient[count++] = false;
    }
    int ready = platform::WaitReadable(handles, count, options.clientIdleTimeoutMs,
                                       waker());
    if (ready < 0) break;
    const Socket& from = fromClient[ready] ? client_ : upstream;
    const Socket& to = fromClient[ready] ? upstream : client_;
    size_t n = 0;
    NetStatus status = platform::Receive(from, chunk, sizeof chunk, 0, &n, waker());
    if (status == NetStatus::kTimeout) continue;
    if (status != NetStatus::kOk) {
      if (status != NetStatus::kClosed) break;
      platform::ShutdownWrite(to);
      (fromClient[ready] ? clientOpen : upstreamOpen) = false;
      continue;
    }
    if (!Write(to, !fromClient[ready], std::string_view(chunk, n))) break;
  }
}

ProxyServer::ProxyServer(const ProxyOptions& options, UrlFilter* filter, LineLog* accessLog,
                         LineLog* diagnostics)
    : options_(options), filter_(filter), accessLog_(accessLog), diagnostics_(diagnostics) {}

ProxyServer::~ProxyServer() {
  Stop();
  draining_.store(true);
  ShutdownTracked();
  ReapWorkers(true);
}

NetStatus ProxyServer::Listen(std::string* error) {
  if (!stopWaker_.valid() && !stopWaker_.Open(error)) return NetStatus::kError;
  NetStatus status =
      platform::ListenTcp(options_.listenAddress, options_.listenPort, &listener_, error);
  if (status == NetStatus::kOk) port_ = platform::LocalPort(listener_);
  return status;
}

void ProxyServer::Track(platform::SocketHandle socket) {
  base::MutexLock lock(&trackedMutex_);
  tracked_.insert(socket);
}

void ProxyServer::Untrack(platform::SocketHandle socket) {
  base::MutexLock lock(&trackedMutex_);
  tracked_.erase(socket);
}

void ProxyServer::ShutdownTracked() {
  // The waker ends every wait of the connection threads, on every OS; the
  // shutdown also tells each peer that the connection is over.
  stopWaker_.Wake();
  // Under the lock: a tracked socket is still open (owners untrack before
  // they close), so no handle here can have been reused by now.
  base::MutexLock lock(&trackedMutex_);
  for (platform::SocketHandle s : tracked_) platform::ShutdownBoth(s);
}

void ProxyServer::ReapWorkers(bool all) {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (all || (*it)->done.load()) {
      (*it)->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

void ProxyServer::MarkIdle(Connection* connection, bool idle) {
  base::MutexLock lock(&idleMutex_);
  if (idle) {
    if (!connection->evicted_.load()) idle_.emplace(connection, std::chrono::steady_clock::now());
  } else {
    idle_.erase(connection);
  }
}

bool ProxyServer::EvictIdle() {
  // The connection that has waited longest for a request is closed: HTTP
  // lets a server close an idle connection at any time, and a client that
  // opens connections and sends nothing must not lock others out.
  base::MutexLock lock(&idleMutex_);
  if (idle_.empty()) return false;
  auto oldest = idle_.begin();
  for (auto it = idle_.begin(); it != idle_.end(); ++it) {
    if (it->second < oldest->second) oldest = it;
  }
  Connection* connection = oldest->first;
  idle_.erase(oldest);
  connection->evicted_.store(true);
  evicting_.fetch_add(1);
  // Still open: the connection leaves the idle set before it can close.
  // The shutdown ends its wait at once; the flag, within one idle slice
  // where a shutdown does not wake a waiting thread (Wine).
  platform::ShutdownBoth(connection->clientHandle());
  return true;
}

void ProxyServer::RefuseOverLimit(Socket client, const std::string& peer) {
  diagnostics_->Write("hxhost: connection limit of " + std::to_string(options_.maxConnections) +
                      " reached; refusing " + peer);
  std::string page = ErrorResponse(503, "Service Unavailable",
                                   "Too many connections; try again shortly.");
  // A short wait only: the accept loop must not stall on one client.
  platform::SendAll(client, page.data(), page.size(), 1000);
  platform::ShutdownWrite(client);
}

void ProxyServer::Run() {
  if (!listener_.valid()) return;
  while (!Stopping()) {
    Socket client;
    std::string peer;
    NetStatus status = platform::AcceptTcp(listener_, kAcceptSliceMs, &client, &peer);
    ReapWorkers(false);
    if (status == NetStatus::kTimeout) continue;
    if (status != NetStatus::kOk) {
      diagnostics_->Write(std::string("hxhost: accept failed: ") + platform::NetStatusText(status));
      continue;
    }
    if (active_.load() - evicting_.load() >= options_.maxConnections && !EvictIdle()) {
      RefuseOverLimit(std::move(client), peer);
      continue;
    }
    active_.fetch_add(1);
    auto worker = std::make_unique<Worker>();
    Worker* w = worker.get();
    auto connection = std::make_shared<Connection>(this, std::move(client), peer);
    try {
      w->thread = std::thread([this, w, connection]() mutable {
        connection->Serve();
        bool evicted = connection->evicted_.load();
        connection.reset();  // untracks and closes before the count drops
        if (evicted) evicting_.fetch_sub(1);
        active_.fetch_sub(1);
        w->done.store(true);
      });
    } catch (const std::system_error& e) {
      active_.fetch_sub(1);
      diagnostics_->Write(std::string("hxhost: cannot start a connection thread: ") + e.what());
      continue;
    }
    workers_.push_back(std::move(worker));
  }

  // Stop accepting, let running requests finish, then close what is left.
  listener_.Close();
  draining_.store(true);
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::milliseconds(options_.shutdownGraceMs);
  while (active_.load() > 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ReapWorkers(false);
  }
  ShutdownTracked();
  ReapWorkers(true);
}

}  // namespace hxhost
