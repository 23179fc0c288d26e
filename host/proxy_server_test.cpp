// End-to-end tests: a client, the proxy with the stub plug-in, and a tiny
// origin server, all on 127.0.0.1 in this process.
#include "proxy_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "http.h"
#include "log.h"
#include "net.h"
#include "page_catcher.h"
#include "plugin_host.h"

#ifdef __linux__
#include <dirent.h>
#endif

namespace hxhost {
namespace {

using platform::NetStatus;
using platform::Socket;

constexpr int kWaitMs = 10000;  // generous bound for every wait in a test

struct StubStatsRecord {
  int initCalls;
  int uninitCalls;
  int procCalls;
  int maxConcurrentProc;
};

StubStatsRecord ReadStubStats() {
  static platform::SharedLibrary* library = [] {
    auto* lib = new platform::SharedLibrary;
    std::string error;
    EXPECT_TRUE(lib->Load(HXHOST_STUB_PLUGIN, &error)) << error;
    return lib;
  }();
  StubStatsRecord stats{};
  auto fn = reinterpret_cast<void (*)(StubStatsRecord*)>(library->Symbol("StubStats"));
  if (fn) fn(&stats);
  return stats;
}

// Reads one head from a socket, keeping surplus bytes in *buffer.
bool ReadHeadFrom(const Socket& s, std::string* buffer, std::string* head) {
  char chunk[4096];
  for (;;) {
    size_t end = FindHeadEnd(*buffer);
    if (end != std::string::npos) {
      *head = buffer->substr(0, end);
      buffer->erase(0, end);
      return true;
    }
    size_t n = 0;
    if (platform::Receive(s, chunk, sizeof chunk, kWaitMs, &n) != NetStatus::kOk) return false;
    buffer->append(chunk, n);
  }
}

// Reads a body framed as described; chunked bodies are decoded.
bool ReadBody(const Socket& s, std::string* buffer, const BodyFraming& framing, std::string* body) {
  char chunk[4096];
  ChunkedDecoder decoder;
  for (;;) {
    if (framing.kind == BodyKind::kNone) return true;
    if (framing.kind == BodyKind::kLength && buffer->size() >= framing.length) {
      *body = buffer->substr(0, framing.length);
      buffer->erase(0, framing.length);
      return true;
    }
    if (framing.kind == BodyKind::kChunked && !buffer->empty()) {
      size_t used = decoder.Feed(buffer->data(), buffer->size(), body);
      buffer->erase(0, used);
      if (decoder.done()) return true;
      if (decoder.failed()) return false;
    }
    size_t n = 0;
    NetStatus st = platform::Receive(s, chunk, sizeof chunk, kWaitMs, &n);
    if (st == NetStatus::kClosed && framing.kind == BodyKind::kUntilClose) {
      *body = *buffer;
      buffer->clear();
      return true;
    }
    if (st != NetStatus::kOk) return false;
    buffer->append(chunk, n);
  }
}

std::string ReadUntilClose(const Socket& s) {
  std::string all;
  char chunk[4096];
  size_t n = 0;
  while (platform::Receive(s, chunk, sizeof chunk, kWaitMs, &n) == NetStatus::kOk) all.append(chunk, n);
  return all;
}

// The origin: one request per connection (the proxy asks for that), an
// answer that echoes what arrived. Paths choose the answer's framing.
class TestOrigin {
 public:
  TestOrigin() {
    std::string error;
    EXPECT_EQ(platform::ListenTcp("127.0.0.1", 0, &listener_, &error), NetStatus::kOk) << error;
    port_ = platform::LocalPort(listener_);
    acceptor_ = std::thread([this] { AcceptLoop(); });
  }
  ~TestOrigin() {
    stop_ = true;
    acceptor_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& t : threads_) t.join();
  }
  uint16_t port() const { return port_; }
  int requests() const { return requests_.load(); }

 private:
  void AcceptLoop() {
    while (!stop_) {
      Socket s;
      if (platform::AcceptTcp(listener_, 50, &s, nullptr) != NetStatus::kOk) continue;
      std::lock_guard<std::mutex> lock(mutex_);
      threads_.emplace_back([this, c = std::make_shared<Socket>(std::move(s))] { Serve(*c); });
    }
  }

  void Serve(const Socket& s) {
    std::string buffer, head, error, body;
    RequestHead request;
    BodyFraming framing;
    if (!ReadHeadFrom(s, &buffer, &head) || !ParseRequestHead(head, &request, &error) ||
        !RequestFraming(request, &framing, &error) || !ReadBody(s, &buffer, framing, &body)) {
      return;
    }
    requests_.fetch_add(1);
    std::string echo = request.method + " " + request.target + " " + request.version + "\n";
    for (const Header& h : request.headers) echo += h.name + ": " + h.value + "\n";
    echo += "body=" + body + "\n";
    std::string reply;
    if (request.target == "/slow") {
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      reply = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nslow";
    } else if (request.target == "/chunked") {
      reply = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
      for (size_t i = 0; i < echo.size(); i += 7) {
        std::string piece = echo.substr(i, 7);
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        reply += size + piece + "\r\n";
      }
      reply += "0\r\n\r\n";
    } else if (request.target == "/close") {
      reply = "HTTP/1.0 200 OK\r\n\r\n" + echo;
    } else {
      reply = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(echo.size()) +
              "\r\nConnection: keep-alive\r\nKeep-Alive: timeout=5\r\n\r\n" + echo;
    }
    platform::SendAll(s, reply.data(), reply.size(), kWaitMs);
    platform::ShutdownWrite(s);
    ReadUntilClose(s);
  }

  Socket listener_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> requests_{0};
  std::thread acceptor_;
  std::mutex mutex_;
  std::vector<std::thread> threads_;
};

// Echoes bytes until the peer ends its stream, then ends its own.
class EchoServer {
 public:
  EchoServer() {
    EXPECT_EQ(platform::ListenTcp("127.0.0.1", 0, &listener_, nullptr), NetStatus::kOk);
    port_ = platform::LocalPort(listener_);
    thread_ = std::thread([this] {
      Socket s;
      if (platform::AcceptTcp(listener_, kWaitMs, &s, nullptr) != NetStatus::kOk) return;
      char chunk[4096];
      size_t n = 0;
      while (platform::Receive(s, chunk, sizeof chunk, kWaitMs, &n) == NetStatus::kOk) {
        platform::SendAll(s, chunk, n, kWaitMs);
      }
    });
  }
  ~EchoServer() { thread_.join(); }
  uint16_t port() const { return port_; }

 private:
  Socket listener_;
  uint16_t port_ = 0;
  std::thread thread_;
};

struct Reply {
  bool ok = false;
  ResponseHead head;
  std::string body;
};

class ProxyTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    ASSERT_TRUE(platform::StartSocketLibrary(&error)) << error;
  }

  void StartProxy(ProxyOptions options = ProxyOptions()) {
    std::string error, message;
    ASSERT_TRUE(plugin_.Load(HXHOST_STUB_PLUGIN, true, &error)) << error;
    ASSERT_EQ(plugin_.Init("SOFTWARE\\Pellumin\\Test", &message), 1);
    EXPECT_EQ(message, "Stub plug-in ready");
    logPath_ = ::testing::TempDir() + "hxhost_proxy_test_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
    std::remove(logPath_.c_str());
    ASSERT_TRUE(accessLog_.OpenFile(logPath_, &error)) << error;
    options.listenAddress = "127.0.0.1";
    options.listenPort = 0;
    server_ = std::make_unique<ProxyServer>(options, &plugin_, &accessLog_, &diagnostics_);
    ASSERT_EQ(server_->Listen(&error), NetStatus::kOk) << error;
    runner_ = std::thread([this] { server_->Run(); });
  }

  void TearDown() override {
    if (server_) {
      server_->Stop();
      runner_.join();
      server_.reset();
    }
    plugin_.UnInit();
    std::remove(logPath_.c_str());
  }

  Socket Connect() {
    Socket s;
    std::string error;
    EXPECT_EQ(platform::ConnectTcp("127.0.0.1", server_->port(), kWaitMs, &s, &error), NetStatus::kOk)
        << error;
    return s;
  }

  // Sends one request and reads its reply on a connection.
  static Reply Exchange(const Socket& s, std::string* buffer, const std::string& request,
                        const std::string& method = "GET") {
    Reply reply;
    std::string head, error;
    BodyFraming framing;
    if (platform::SendAll(s, request.data(), request.size(), kWaitMs) != NetStatus::kOk) return reply;
    do {
      if (!ReadHeadFrom(s, buffer, &head) || !ParseResponseHead(head, &reply.head, &error)) return reply;
    } while (reply.head.status < 200);
    if (!ResponseFraming(reply.head, method, &framing, &error)) return reply;
    reply.ok = ReadBody(s, buffer, framing, &reply.body);
    return reply;
  }

  Reply Fetch(const std::string& request, const std::string& method = "GET") {
    Socket s = Connect();
    std::string buffer;
    return Exchange(s, &buffer, request, method);
  }

  std::string OriginUrl(const std::string& path) {
    return "http://127.0.0.1:" + std::to_string(origin_.port()) + path;
  }

  std::string LogText() {
    std::ifstream in(logPath_);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  TestOrigin origin_;
  PluginHost plugin_;
  LineLog accessLog_;
  LineLog diagnostics_;
  std::string logPath_;
  std::unique_ptr<ProxyServer> server_;
  std::thread runner_;
};

TEST_F(ProxyTest, AllowedRequestIsForwardedInOriginFormWithHeadersAdjusted) {
  ASSERT_NO_FATAL_FAILURE(StartProxy());
  Reply r = Fetch("GET " + OriginUrl("/hello?x=1") +
                  " HTTP/1.1\r\nHost: 127.0.0.1\r\nProxy-Connection: keep-alive\r\n"
                  "Connection: X-Drop\r\nX-Drop: secret\r\nX-Keep: 1\r\n\r\n");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.head.status, 200);
  EXPECT_EQ(r.body.rfind("GET /hello?x=1 HTTP/1.1\n", 0), 0u) << r.body;
  EXPECT_NE(r.body.find("Host: 127.0.0.1:" + std::to_string(origin_.port()) + "\n"), std::string::npos);
  EXPECT_NE(r.body.find("X-Keep: 1\n"), std::string::npos);
  EXPECT_NE(r.body.find("Connection: close\n"), std::string::npos);
  EXPECT_EQ(r.body.find("X-Drop"), std::string::npos);
  EXPECT_EQ(r.body.find("Proxy-Connection"), std::string::npos);
  // The origin's own hop-by-hop fields stay between it and the proxy.
  EXPECT_EQ(FindHeader(r.head.headers, "Keep-Alive"), nullptr);
  EXPECT_EQ(LogText(), "");
}

TEST_F(ProxyTest, AlertedRequestIsLoggedAndForwarded) {
  ASSERT_NO_FATAL_FAILURE(StartProxy());
  std::string url = OriginUrl("/alert/page");
  Reply r = Fetch("GET " + url + " HTTP/1.1\r\nHost: x\r\n\r\n");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.head.status, 200);
  EXPECT_NE(r.body.find("GET /alert/page"), std::string::npos);
  std::string log = LogText();
  EXPECT_NE(log.find("Z ~stub alert: " + url + " client=127.0.0.1:"), std::string::npos) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);
}

TEST_F(ProxyTest, DeniedRequestGetsThePluginsPageAndTheConnectionCloses) {
  ASSERT_NO_FATAL_FAILURE(StartProxy());
  Socket s = Connect();
  std::string request = "GET " + OriginUrl("/deny/this") + " HTTP/1.1\r\nHost: x\r\n\r\n";
  // A second request behind it must not be served either.
  request += "GET " + OriginUrl("/other") + " HTTP/1.1\r\nHost: x\r\n\r\n";
  ASSERT_EQ(platform::SendAll(s, request.data(), request.size(), kWaitMs), NetStatus::kOk);
  std::string all = ReadUntilClose(s);
  EXPECT_EQ(all, "HTTP/1.0 200 OK\r\nServer: Stub\r\nContent-type: text/html\r\n\r\n"
                 "<HTML><BODY>stub denied</BODY></HTML>\r\n");
  EXPECT_EQ(origin_.requests(), 0);
}

TEST_F(ProxyTest, KeepAliveCarriesSeveralRequestsAndCountsBytesSent) {
  ASSERT_NO_FATAL_FAILURE(StartProxy());
  Socket s = Connect();
  std::string buffer;
  std::string host = "Host: 127.0.0.1\r\n";

  Reply get = Exchange(s, &buffer, "GET " + OriginUrl("/one") + " HTTP/1.1\r\n" + host + "\r\n");
  ASSERT_TRUE(get.ok);
  EXPECT_NE(get.body.find("GET /one"), std::string::npos);
  const Header* connection = FindHeader(get.head.headers, "Connection");
  ASSERT_NE(connection, nullptr);
  EXPECT_EQ(connection->value, "keep-alive");

  Reply post = Exchange(s, &buffer, "POST " + OriginUrl("/form") + " HTTP/1.1\r\n" + host +
                                        "Content-Length: 11\r\n\r\nhello=world");
  ASSERT_TRUE(post.ok);
  EXPECT_NE(post.body.find("body=hello=world\n"), std::string::npos) << post.body;

  Reply chunkedPost = Exchange(s, &buffer, "POST " + OriginUrl("/up") + " HTTP/1.1\r\n" + host +
                                                "Transfer-Encoding: chunked\r\n\r\n"
                                                "4\r\nabcd\r\n3\r\nefg\r\n0\r\n\r\n");
  ASSERT_TRUE(chunkedPost.ok);
  EXPECT_NE(chunkedPost.body.find("body=abcdefg\n"), std::string::npos) << chunkedPost.body;

  Reply expect = Exchange(s, &buffer, "PUT " + OriginUrl("/put") + " HTTP/1.1\r\n" + host +
                                          "Expect: 100-continue\r\nContent-Length: 2\r\n\r\nok");
  ASSERT_TRUE(expect.ok);
  EXPECT_NE(expect.body.find("body=ok\n"), std::string::npos);
  EXPECT_EQ(expect.body.find("Expect"), std::string::npos);

  Reply chunkedGet = Exchange(s, &buffer, "GET " + OriginUrl("/chunked") + " HTTP/1.1\r\n" + host + "\r\n");
  ASSERT_TRUE(chunkedGet.ok);
  EXPECT_EQ(chunkedGet.body.rfind("GET /chunked HTTP/1.1\n", 0), 0u);

  Reply head = Exchange(s, &buffer, "HEAD " + OriginUrl("/h") + " HTTP/1.1\r\n" + host + "\r\n", "HEAD");
  ASSERT_TRUE(head.ok);
  EXPECT_EQ(head.head.status, 200);
  EXPECT_TRUE(head.body.empty());

  // The stub writes the connection's running byte count into its log line.
  Reply alert = Exchange(s, &buffer, "GET " + OriginUrl("/alert") + " HTTP/1.1\r\n" + host + "\r\n");
  ASSERT_TRUE(alert.ok);
  std::string log = LogText();
  size_t at = log.find(" sent=");
  ASSERT_NE(at, std::string::npos) << log;
  EXPECT_GT(std::stoi(log.substr(at + 6)), 500);

  // A close-delimited answer ends the connection after it.
  Reply closing = Exchange(s, &buffer, "GET " + OriginUrl("/close") + " HTTP/1.1\r\n" + host + "\r\n");
  ASSERT_TRUE(closing.ok);
  EXPECT_NE(closing.body.find("GET /close"), std::string::npos);
  EXPECT_EQ(ReadUntilClose(s), "");
  EXPECT_EQ(origin_.requests(), 8);
}

TEST_F(ProxyTest, Http10ClientGetsAPlainBodyForAChunkedAnswer) {
  ASSERT_NO_FATAL_FAILURE(StartProxy());
  Socket s = Connect();
  std::string request = "GET " + OriginUrl("/chunked") + " HTTP/1.0\r\n\r\n";
  ASSERT_EQ(platform::SendAll(s, request.data(), request.size(), kWaitMs), NetStatus::kOk);
  std::string all = ReadUntilClose(s);
  size_t end = FindHeadEnd(all);
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(all.find("Transfer-Encoding"), std::string::npos);
  EXPECT_EQ(all.substr(end).rfind("GET /chunked HTTP/1.1\n", 0), 0u) << all;
}

TEST_F(ProxyTest, ConnectTunnelsBothWaysAndPassesTheEnd) {
  EchoServer echo;
  ProxyOptions options;
  options.hostMap = {{"alert.test", "127.0.0.1"}};
  ASSERT_NO_FATAL_FAILURE(StartProxy(options));
  Socket s = Connect();
  std::string target = "alert.test:" + std::to_string(echo.port());
  std::string request = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\nearly ";
  ASSERT_EQ(platform::SendAll(s, request.data(), request.size(), kWaitMs), NetStatus::kOk);
  std::string buffer, head;
  ASSERT_TRUE(ReadHeadFrom(s, &buffer, &head));
  EXPECT_EQ(head, "HTTP/1.1 200 Connection established\r\n\r\n");
  ASSERT_EQ(platform::SendAll(s, "ping", 4, kWaitMs), NetStatus::kOk);
  platform::ShutdownWrite(s);
  EXPECT_EQ(buffer + ReadUntilClose(s), "early ping");
  // The filter saw the tunnel as an https URL.
  EXPECT_NE(LogText().find("~stub alert: https://" + target + "/ client="), std::string::npos);
}

TEST_F(ProxyTest, DeniedConnectIsRefusedWith403AndThePluginsPage) {
  ProxyOptions options;
  options.hostMap = {{"pass.test", "127.0.0.1"}};
  ASSERT_NO_FATAL_FAILURE(StartProxy(options));
  // Denials and a tunnel that passes, in turn: each denial gets its own
  // page, whole, and the tunnel none of it.
  for (int round = 0; round < 3; ++round) {
    Socket s = Connect();
    std::string request = "CONNECT deny.test:443 HTTP/1.1\r\n\r\n";
    ASSERT_EQ(platform::SendAll(s, request.data(), request.size(), kWaitMs), NetStatus::kOk);
    // A client reads this as a refused tunnel, not as the first bytes of TLS.
    EXPECT_EQ(ReadUntilClose(s),
              "HTTP/1.1 403 Forbidden\r\nServer: Stub\r\nContent-type: text/html\r\n"
              "Content-Length: 39\r\nConnection: close\r\n\r\n"
              "<HTML><BODY>stub denied</BODY></HTML>\r\n");

    EchoServer echo;  // one connection each
    Socket t = Connect();
    request = "CONNECT pass.test:" + std::to_string(echo.port()) + " HTTP/1.1\r\n\r\n";
    ASSERT_EQ(platform::SendAll(t, request.data(), request.size(), kWaitMs), NetStatus::kOk);
    std::string buffer, head;
    ASSERT_TRUE(ReadHeadFrom(t, &buffer, &head));
    EXPECT_EQ(head, "HTTP/1.1 200 Connection established\r\n\r\n");
    ASSERT_EQ(platform::SendAll(t, "ping", 4, kWaitMs), NetStatus::kOk);
    platform::ShutdownWrite(t);
    EXPECT_EQ(buffer + ReadUntilClose(t), "ping");
  }
}

// The filter sees the URL that is fetched, whatever spelling the client
// used for it.
// While the filter is unavailable every request is settled by the failure
// mode, the filter never asked; once it is back, the filter decides again.
TEST_F(ProxyTest, FailureModeSettlesEveryRequestUntilTheFilterIsBack) {
  struct Case {
    FailureMode mode;
    const char* path;   // "CONNECT" for a tunnel
    int status;         // what the client gets while unavailable
    int statusAfter;    // and once the filter is in force
    const char* bodyAfter;  // part of what it gets then
  } cases[] = {
      {FailureMode::kDeny, "/hello", 503, 200, "GET /hello"},
      {FailureMode::kDeny, "/deny/this", 503, 200, "stub denied"},
      {FailureMode::kDeny, "CONNECT", 503, 200, ""},
      {FailureMode::kAllow, "/deny/this", 200, 200, "stub denied"},
      {FailureMode::kAllow, "/hello", 200, 200, "GET /hello"},
      {FailureMode::kAllow, "CONNECT", 200, 200, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.mode == FailureMode::kDeny ? "deny " : "allow ") + c.path);
    FilterAvailability availability(c.mode);
    availability.SetUnavailable("the list is gone");
    ProxyOptions options;
    options.availability = &availability;
    options.hostMap = {{"pass.test", "127.0.0.1"}};
    ASSERT_NO_FATAL_FAILURE(StartProxy(options));
    const int procCallsBefore = ReadStubStats().procCalls;
    for (int round = 0; round < 2; ++round) {
      int status = 0;
      std::string body;
      if (std::string(c.path) == "CONNECT") {
        EchoServer echo;
        Socket s = Connect();
        const std::string request =
            "CONNECT pass.test:" + std::to_string(echo.port()) + " HTTP/1.1\r\n\r\n";
        ASSERT_EQ(platform::SendAll(s, request.data(), request.size(), kWaitMs), NetStatus::kOk);
        std::string buffer, head, error;
        ASSERT_TRUE(ReadHeadFrom(s, &buffer, &head));
        ResponseHead response;
        ASSERT_TRUE(ParseResponseHead(head, &response, &error)) << error;
        status = response.status;
        body = buffer + (status == 200 ? "" : ReadUntilClose(s));
        platform::ShutdownWrite(s);
        if (status == 200) ReadUntilClose(s);
      } else {
        const Reply r = Fetch("GET " + OriginUrl(c.path) + " HTTP/1.1\r\nHost: x\r\n\r\n");
        ASSERT_TRUE(r.ok);
        status = r.head.status;
        body = r.body;
      }
      EXPECT_EQ(status, round == 0 ? c.status : c.statusAfter) << body;
      if (round == 1) {
        EXPECT_NE(body.find(c.bodyAfter), std::string::npos) << body;
      }
      if (round == 0 && c.mode == FailureMode::kAllow) {
        EXPECT_EQ(body.find("stub denied"), std::string::npos) << body;
      }
      if (round == 0 && status == 503) {
        EXPECT_NE(body.find("The URL filter is unavailable"), std::string::npos) << body;
      }
      if (round == 0) {
        EXPECT_EQ(ReadStubStats().procCalls, procCallsBefore) << "the filter was asked";
        EXPECT_EQ(availability.answered(), 1u);
        EXPECT_NE(availability.Describe().find("the list is gone"), std::string::npos);
        availability.SetAvailable();
      }
    }
    EXPECT_EQ(availability.answered(), 1u);
    TearDown();
  }
}

TEST_F(ProxyTest, FilterAndOriginSeeOneCanonicalUrl) {
  ProxyOptions options;
  options.hostMap = {{"alert.test", "127.0.0.1"}};
  ASSERT_NO_FATAL_FAILURE(StartProxy(options));
  const std::string port = std::to_string(origin_.port());
  Reply r = Fetch("GET http://u:pw@ALERT.test.:" + port +
                  "/x/../alert/%7Ejoe/%2e/p?q=%2e#frag HTTP/1.1\r\nHost: elsewhere\r\n\r\n");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.head.status, 200);
  EXPECT_EQ(r.body.rfind("GET /alert/~joe/p?q=%2e HTTP/1.1\n", 0), 0u) << r.body;
  EXPECT_NE(r.body.find("Host: alert.test:" + port + "\n"), std::string::npos) << r.body;
  EXPECT_NE(LogText().find("~stub alert: http://alert.test:" + port +
                           "/alert/~joe/p?q=%2e client="),
            std::string::npos)
      << LogText();
}

TEST_F(ProxyTest, ClientsOutsideTheAllowedRangesGet403AndALogLine) {
  ProxyOptions options;
  AddressRange range;
  std::string error;
  ASSERT_TRUE(ParseAddressRange("192.0.2.0/24", &range, &error));
  options.allowedClients = {range};
  ASSERT_NO_FATAL_FAILURE(StartProxy(options));
  const int before = ReadStubStats().procCalls;
  Reply r = Fetch("GET " + OriginUrl("/hello") + " HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.head.status, 403);
  EXPECT_EQ(origin_.requests(), 0);
  EXPECT_EQ(ReadStubStats().procCalls, before);
  EXPECT_NE(LogText().find("hxhost: refused client 127.0.0.1:"), std::string::npos) << LogText();
}

TEST_F(ProxyTest, ProxyAnswersErrorsItself) {
  ProxyOptions options;
  options.upstreamTimeoutMs = 300;
  ASSERT_NO_FATAL_FAILURE(StartProxy(options));
  uint16_t closedPort = 0;
  {
    Socket l;
    ASSERT_EQ(platform::ListenTcp("127.0.0.1", 0, &l, nullptr), NetStatus::kOk);
    closedPort = platform::LocalPort(l);
  }
  const int before = ReadStubStats().procCalls;
  struct Case {
    std::string request;
    int status;
    bool reachesFilter;
  } cases[] = {
      {"GET http://127.0.0.1:" + std::to_string(closedPort) + "/ HTTP/1.1\r\n\r\n", 502, true},
      {"GET " + OriginUrl("/slow") + " HTTP/1.1\r\n\r\n", 504, true},
      {"GET " + OriginUrl("/" + std::string(2100, 'a')) + " HTTP/1.1\r\n\r\n", 414, false},
      {"GET /origin-form HTTP/1.1\r\nHost: a\r\n\r\n", 400, false},
      {"GET ftp://a.test/ HTTP/1.1\r\n\r\n", 501, false},
      {"GET " + OriginUrl("/") + " HTTP/1.1\r\nBad Header: x\r\n\r\n", 400, false},
      {"POST " + OriginUrl("/") + " HTTP/1.1\r\nContent-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n",
       400, false},
      {"CONNECT nowhere HTTP/1.1\r\n\r\n", 400, false},
      // Hosts the resolver would read otherwise than the filter.
      {"GET http://[deny.test]/ HTTP/1.1\r\n\r\n", 400, false},
      {"CONNECT [deny.test]:443 HTTP/1.1\r\n\r\n", 400, false},
      {"GET http://3221225994/ HTTP/1.1\r\n\r\n", 400, false},
      {"GET http://127.000.000.001/deny HTTP/1.1\r\n\r\n", 400, false},
      {"CONNECT 0x7f.1:443 HTTP/1.1\r\n\r\n", 400, false},
      {"GET " + OriginUrl("/") + " HTTP/1.1\r\nX: " + std::string(70000, 'x') + "\r\n\r\n", 431, false},
  };
  int filtered = 0;
  for (const Case& c : cases) {
    Reply r = Fetch(c.request);
    ASSERT_TRUE(r.ok) << c.request.substr(0, 60);
    EXPECT_EQ(r.head.status, c.status) << c.request.substr(0, 60);
    EXPECT_NE(r.body.find("<html>"), std::string::npos);
    const Header* connection = FindHeader(r.head.headers, "Connection");
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(connection->value, "close");
    filtered += c.reachesFilter ? 1 : 0;
  }
  EXPECT_EQ(ReadStubStats().procCalls - before, filtered);
}

TEST_F(ProxyTest, ManyConcurrentClientsAreAllAnsweredAndFilterCallsNeverOverlap) {
  ASSERT_NO_FATAL_FAILURE(StartProxy());
  constexpr int kThreads = 50;
  constexpr int kRequests = 20;
  std::atomic<int> answered{0};
  std::vector<std::thread> clients;
  for (int t = 0; t < kThreads; ++t) {
    clients.emplace_back([&, t] {
      Socket s;
      std::string buffer;
      for (int i = 0; i < kRequests; ++i) {
        // Half the clients keep one connection; the others open one each time.
        if (!s.valid() || t % 2) {
          s = Connect();
          buffer.clear();
        }
        std::string path = "/c" + std::to_string(t) + "/r" + std::to_string(i);
        Reply r = Exchange(s, &buffer, "GET " + OriginUrl(path) + " HTTP/1.1\r\nHost: x\r\n\r\n");
        if (r.ok && r.head.status == 200 && r.body.rfind("GET " + path + " ", 0) == 0) {
          answered.fetch_add(1);
        }
      }
    });
  }
  for (auto& c : clients) c.join();
  EXPECT_EQ(answered.load(), kThreads * kRequests);
  EXPECT_EQ(origin_.requests(), kThreads * kRequests);
  EXPECT_EQ(ReadStubStats().maxConcurrentProc, 1);
}

// An origin for many tunnels at once: each connection echoes what it gets
// until its client ends, on a thread of its own.
class ManyEchoServer {
 public:
  explicit ManyEchoServer(int connections) {
    EXPECT_EQ(platform::ListenTcp("127.0.0.1", 0, &listener_, nullptr), NetStatus::kOk);
    port_ = platform::LocalPort(listener_);
    acceptor_ = std::thread([this, connections] {
      for (int i = 0; i < connections; ++i) {
        Socket s;
        if (platform::AcceptTcp(listener_, kWaitMs, &s, nullptr) != NetStatus::kOk) return;
        echoes_.emplace_back([s = std::move(s)] {
          char chunk[4096];
          size_t n = 0;
          while (platform::Receive(s, chunk, sizeof chunk, kWaitMs, &n) == NetStatus::kOk) {
            platform::SendAll(s, chunk, n, kWaitMs);
          }
        });
      }
    });
  }
  ~ManyEchoServer() {
    acceptor_.join();
    for (std::thread& echo : echoes_) echo.join();
  }
  uint16_t port() const { return port_; }

 private:
  Socket listener_;
  uint16_t port_ = 0;
  std::thread acceptor_;
  std::vector<std::thread> echoes_;  // touched by the acceptor only, until it is joined
};

TEST_F(ProxyTest, FiveHundredConcurrentTunnelsAThirdDeniedAreAllAnswered) {
  // Every CONNECT is sent before any answer is read, so that the proxy
  // holds all of them at once: each denial must come back whole with its
  // own page, and each tunnel that passes must carry its own bytes.
  constexpr int kClients = 25;
  constexpr int kTunnelsEach = 20;
  constexpr int kTunnels = kClients * kTunnelsEach;
  int allowedTunnels = 0;
  for (int i = 0; i < kTunnels; ++i) allowedTunnels += i % 3 != 0;
  ManyEchoServer echo(allowedTunnels);
  ProxyOptions options;
  options.hostMap = {{"pass.test", "127.0.0.1"}};
  options.maxConnections = kTunnels + 50;
  ASSERT_NO_FATAL_FAILURE(StartProxy(options));
  const std::string deniedAnswer =
      "HTTP/1.1 403 Forbidden\r\nServer: Stub\r\nContent-type: text/html\r\n"
      "Content-Length: 39\r\nConnection: close\r\n\r\n"
      "<HTML><BODY>stub denied</BODY></HTML>\r\n";
  std::atomic<int> denied{0}, tunnelled{0}, wrong{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      std::vector<Socket> sockets;
      for (int k = 0; k < kTunnelsEach; ++k) {
        const int n = c * kTunnelsEach + k;
        sockets.push_back(Connect());
        const std::string request =
            n % 3 == 0 ? "CONNECT deny" + std::to_string(n) + ".test:443 HTTP/1.1\r\n\r\n"
                       : "CONNECT pass.test:" + std::to_string(echo.port()) + " HTTP/1.1\r\n\r\n";
        if (platform::SendAll(sockets.back(), request.data(), request.size(), kWaitMs) !=
            NetStatus::kOk) {
          ++wrong;
        }
      }
      for (int k = 0; k < kTunnelsEach; ++k) {
        const int n = c * kTunnelsEach + k;
        const Socket& s = sockets[static_cast<size_t>(k)];
        if (n % 3 == 0) {
          if (ReadUntilClose(s) == deniedAnswer) {
            ++denied;
          } else {
            ++wrong;
          }
          continue;
        }
        std::string buffer, head;
        const std::string ping = "tunnel " + std::to_string(n);
        if (!ReadHeadFrom(s, &buffer, &head) ||
            head != "HTTP/1.1 200 Connection established\r\n\r\n" ||
            platform::SendAll(s, ping.data(), ping.size(), kWaitMs) != NetStatus::kOk) {
          ++wrong;
          continue;
        }
        platform::ShutdownWrite(s);
        if (buffer + ReadUntilClose(s) == ping) {
          ++tunnelled;
        } else {
          ++wrong;
        }
      }
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(denied.load(), kTunnels - allowedTunnels);
  EXPECT_EQ(tunnelled.load(), allowedTunnels);
}

TEST(PageCatcherTest, OverlappingCatchesEachGetTheirOwnPage) {
  // A call that is still running (here: waiting for the others) does not
  // hold up the others' catches, and each page comes back on its own pair.
  std::string error;
  ASSERT_TRUE(platform::StartSocketLibrary(&error)) << error;
  PageCatcher catcher;
  constexpr int kCalls = 24;
  std::atomic<int> inside{0}, good{0}, sawAll{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kCalls; ++i) {
    threads.emplace_back([&, i] {
      std::string page, why;
      const std::string mine = "page of call " + std::to_string(i) + std::string(3000, 'x');
      const bool caught = catcher.Catch(
          [&](platform::SocketHandle socket) {
            platform::SendOnSocket(socket, mine.data(), static_cast<int>(mine.size()));
            ++inside;
            // Every call is inside at once before any returns: with one
            // pair under one lock this would never be reached.
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
            while (inside.load() < kCalls && std::chrono::steady_clock::now() < until) {
              std::this_thread::yield();
            }
            if (inside.load() == kCalls) ++sawAll;
          },
          &page, &why);
      if (caught && page == mine) ++good;
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(sawAll.load(), kCalls);
  EXPECT_EQ(good.load(), kCalls);
  EXPECT_EQ(catcher.IdlePairs(), PageCatcher::kMaxIdlePairs);
  // A later call takes an idle pair and leaves as many idle.
  std::string page, why;
  EXPECT_TRUE(catcher.Catch(
      [](platform::SocketHandle socket) { platform::SendOnSocket(socket, "again", 5); }, &page,
      &why));
  EXPECT_EQ(page, "again");
  EXPECT_EQ(catcher.IdlePairs(), PageCatcher::kMaxIdlePairs);
}

TEST_F(ProxyTest, ConnectionsOverTheLimitAreRefusedWith503) {
  ProxyOptions options;
  options.maxConnections = 2;
  ASSERT_NO_FATAL_FAILURE(StartProxy(options));
  // Both slots are busy with a request under way (an idle connection would
  // be closed to make room instead).
  const std::string line = "GET " + OriginUrl("/a") + " HTTP/1.1\r\n";
  Socket a = Connect();
  Socket b = Connect();
  for (const Socket* s : {&a, &b}) {
    ASSERT_EQ(platform::SendAll(*s, line.data(), line.size(), kWaitMs), NetStatus::kOk);
  }
  for (int i = 0; i < 500 && server_->activeConnections() < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(server_->activeConnections(), 2);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the lines have arrived
  Reply refused = Fetch("GET " + OriginUrl("/") + " HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(refused.ok);
  EXPECT_EQ(refused.head.status, 503);
  // The two admitted connections still work.
  std::string buffer;
  Reply r = Exchange(a, &buffer, "\r\n");
  EXPECT_EQ(r.head.status, 200);
}

// A tunnel waits for either side for the whole idle time; a stop must end it
// after the grace time, not after the idle time (under Wine, shutdown() does
// not wake that wait).
TEST_F(ProxyTest, StopEndsASilentTunnelWithoutWaitingForItsIdleTime) {
  EchoServer echo;
  ProxyOptions options;
  options.hostMap = {{"tunnel.test", "127.0.0.1"}};
  options.clientIdleTimeoutMs = 60000;
  options.shutdownGraceMs = 100;
  ASSERT_NO_FATAL_FAILURE(StartProxy(options));
  Socket s = Connect();
  std::string target = "tunnel.test:" + std::to_string(echo.port());
  std::string request = "CONNECT " + target + " HTTP/1.1\r\n\r\n";
  ASSERT_EQ(platform::SendAll(s, request.data(), request.size(), kWaitMs), NetStatus::kOk);
  std::string buffer, head;
  ASSERT_TRUE(ReadHeadFrom(s, &buffer, &head));
  ASSERT_EQ(head, "HTTP/1.1 200 Connection established\r\n\r\n");

  auto started = std::chrono::steady_clock::now();
  server_->Stop();
  runner_.join();
  auto took = std::chrono::steady_clock::now() - started;
  server_.reset();
  // Not a speed check: half the idle time is far more than a stop needs,
  // and far less than a stop that waits for the idle time takes.
  EXPECT_LT(took, std::chrono::milliseconds(options.clientIdleTimeoutMs / 2));
  EXPECT_EQ(ReadUntilClose(s), "");
}

TEST_F(ProxyTest, StopEndsIdleConnectionsAndUnInitRunsOnce) {
  ASSERT_NO_FATAL_FAILURE(StartProxy());
  Socket idle = Connect();
  std::string buffer;
  ASSERT_TRUE(Exchange(idle, &buffer, "GET " + OriginUrl("/") + " HTTP/1.1\r\n\r\n").ok);
  const int uninitBefore = ReadStubStats().uninitCalls;
  server_->Stop();
  runner_.join();
  server_.reset();
  EXPECT_EQ(ReadUntilClose(idle), "");  // the proxy closed the idle client
  plugin_.UnInit();
  plugin_.UnInit();
  EXPECT_EQ(ReadStubStats().uninitCalls - uninitBefore, 1);
}

TEST(PluginHostTest, LoadFailuresAreExplained) {
  PluginHost host;
  std::string error;
  EXPECT_FALSE(host.Load("no-such-plugin.so", true, &error));
  EXPECT_NE(error.find("cannot load plug-in no-such-plugin.so: "), std::string::npos) << error;
  EXPECT_GT(error.size(), std::string("cannot load plug-in no-such-plugin.so: ").size());

  // A plug-in without two of the entry points: both are named, each with the
  // loader's reason.
  EXPECT_FALSE(host.Load(HXHOST_PARTIAL_PLUGIN, true, &error));
  EXPECT_NE(error.find(std::string("plug-in ") + HXHOST_PARTIAL_PLUGIN + " lacks the entry point "),
            std::string::npos)
      << error;
  EXPECT_EQ(error.find("HXInit"), std::string::npos) << error;
  EXPECT_NE(error.find("HXProcURL ("), std::string::npos) << error;
  EXPECT_NE(error.find("HXUnInit ("), std::string::npos) << error;
  EXPECT_EQ(error.find("()"), std::string::npos) << error;
  // Without requireFilter (hxhost --config), HXInit alone is enough.
  EXPECT_TRUE(host.Load(HXHOST_PARTIAL_PLUGIN, false, &error)) << error;
  EXPECT_FALSE(host.hasConfig());
  EXPECT_FALSE(host.configMissingReason().empty());

#ifdef HXHOST_ORPHAN_PLUGIN
  // The OS says only "module not found"; the message names the DLL.
  EXPECT_FALSE(host.Load(HXHOST_ORPHAN_PLUGIN, true, &error));
  EXPECT_NE(error.find(std::string("cannot load plug-in ") + HXHOST_ORPHAN_PLUGIN), std::string::npos)
      << error;
  EXPECT_NE(error.find("pellumin_absent.dll"), std::string::npos) << error;
#endif

  ASSERT_TRUE(host.Load(HXHOST_STUB_PLUGIN, true, &error)) << error;
  EXPECT_FALSE(host.hasConfig());
  EXPECT_FALSE(host.Config("SOFTWARE\\X"));
  std::string message;
  EXPECT_EQ(host.Init("SOFTWARE\\fail", &message), 0);
  EXPECT_EQ(message, "Stub Error: told to fail");
  EXPECT_EQ(host.Init(std::string(TARNWICK_MESSAGE_BUFFER_SIZE, 'k'), &message), -1);
  EXPECT_NE(message.find("longer than 1023"), std::string::npos);
}

// Hostile clients: idle and slow connections, oversized heads, clients that
// never read. Each is bounded in time, and the proxy's threads and
// descriptors return to what they were.

#ifdef __linux__
int CountEntries(const char* folder) {
  int count = 0;
  if (DIR* dir = opendir(folder)) {
    while (dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
    closedir(dir);
  }
  return count;
}
struct Resources {
  int threads = CountEntries("/proc/self/task");
  int descriptors = CountEntries("/proc/self/fd");
};
#else
struct Resources {
  int threads = 0;
  int descriptors = 0;
};
#endif

// An origin that records the raw bytes of one request (head and chunked
// body) and answers 200 with an empty body.
class RawOrigin {
 public:
  RawOrigin() {
    EXPECT_EQ(platform::ListenTcp("127.0.0.1", 0, &listener_, nullptr), NetStatus::kOk);
    port_ = platform::LocalPort(listener_);
    thread_ = std::thread([this] {
      Socket s;
      if (platform::AcceptTcp(listener_, kWaitMs, &s, nullptr) != NetStatus::kOk) return;
      std::string all;
      char chunk[4096];
      size_t n = 0;
      while (all.find("\r\n0\r\n\r\n") == std::string::npos &&
             platform::Receive(s, chunk, sizeof chunk, 3000, &n) == NetStatus::kOk) {
        all.append(chunk, n);
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        raw_ = all;
      }
      std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
      platform::SendAll(s, reply.data(), reply.size(), kWaitMs);
    });
  }
  ~RawOrigin() { thread_.join(); }
  uint16_t port() const { return port_; }
  std::string body() {
    thread_.join();
    thread_ = std::thread([] {});
    size_t end = FindHeadEnd(raw_);
    return end == std::string::npos ? std::string() : raw_.substr(end);
  }

 private:
  Socket listener_;
  uint16_t port_ = 0;
  std::mutex mutex_;
  std::string raw_;
  std::thread thread_;
};

// An origin that answers one request with a body that has no end in sight,
// sent for as long as it is taken.
class EndlessOrigin {
 public:
  EndlessOrigin() {
    EXPECT_EQ(platform::ListenTcp("127.0.0.1", 0, &listener_, nullptr), NetStatus::kOk);
    port_ = platform::LocalPort(listener_);
    thread_ = std::thread([this] {
      Socket s;
      if (platform::AcceptTcp(listener_, kWaitMs, &s, nullptr) != NetStatus::kOk) return;
      std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 1000000000\r\n\r\n";
      platform::SendAll(s, head.data(), head.size(), kWaitMs);
      const std::string piece(64 * 1024, 'p');
      while (platform::SendAll(s, piece.data(), piece.size(), 5000) == NetStatus::kOk) {
      }
    });
  }
  ~EndlessOrigin() { thread_.join(); }
  uint16_t port() const { return port_; }

 private:
  Socket listener_;
  uint16_t port_ = 0;
  std::thread thread_;
};

class HostileClientTest : public ProxyTest {
 protected:
  // Waits (bounded) until the proxy serves nobody and the process has no
  // more threads or descriptors than when the proxy had just started.
  // heldOpen: sockets of the test's own clients that are still open.
  void ExpectBackToIdle(const Resources& before, int heldOpen = 0) {
    Resources now;
    for (int i = 0; i < 1000; ++i) {
      now = Resources();
      if (server_->activeConnections() == 0 && now.threads <= before.threads &&
          now.descriptors <= before.descriptors + heldOpen) {
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(server_->activeConnections(), 0);
    EXPECT_LE(now.threads, before.threads);
    EXPECT_LE(now.descriptors, before.descriptors + heldOpen);
  }
};

TEST_F(HostileClientTest, IdleConnectionsBeyondTheLimitDoNotLockOthersOut) {
#ifdef _WIN32
  constexpr int kIdle = 40, kLimit = 32;  // Wine's sockets are slow to make
#else
  constexpr int kIdle = 300, kLimit = 256;
#endif
  ProxyOptions options;
  options.maxConnections = kLimit;
  ASSERT_NO_FATAL_FAILURE(StartProxy(options));
  const Resources before;  // the proxy listening, serving nobody
  std::vector<Socket> idle;
  for (int i = 0; i < kIdle; ++i) idle.push_back(Connect());
  for (int i = 0; i < 500 && server_->activeConnections() < kLimit; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // An ordinary request is served at once: the connection idle longest
  // makes room for it.
  auto start = std::chrono::steady_clock::now();
  Reply r = Fetch("GET " + OriginUrl("/ordinary") + " HTTP/1.1\r\nConnection: close\r\n\r\n");
  auto waited = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.head.status, 200);
  EXPECT_LT(waited, std::chrono::seconds(5));
  // Over the limit only while a closed idle connection's thread ends.
  for (int i = 0; i < 200 && server_->activeConnections() > kLimit; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_LE(server_->activeConnections(), kLimit);
  idle.clear();
  ExpectBackToIdle(before);
}

TEST_F(HostileClientTest, SlowClientsGet408WhenTheirHeadIsNotCompleteInTime) {
  ProxyOptions options;
  options.maxConnections = 4;
  options.clientIdleTimeoutMs = 1000;
  ASSERT_NO_FATAL_FAILURE(StartProxy(options));
  const Resources before;  // the proxy listening, serving nobody
  // Each sends a byte every 200 ms: 40 bytes take 8 s, far beyond the 1 s
  // the head may take.
  const std::string request = "GET " + OriginUrl("/slow-client") + " HTTP/1.1\r\nX: y\r\n\r\n";
  std::vector<std::thread> clients;
  std::atomic<int> got408{0}, other{0};
  std::atomic<bool> allStarted{false};
  std::atomic<int> started{0};
  for (int c = 0; c < 4; ++c) {
    clients.emplace_back([&] {
      Socket s = Connect();
      started.fetch_add(1);
      for (size_t i = 0; i < request.size(); ++i) {
        if (platform::SendAll(s, &request[i], 1, kWaitMs) != NetStatus::kOk) break;
        if (platform::WaitReadable(std::vector<platform::SocketHandle>{s.handle()}.data(), 1, 200,
                                   nullptr) == 0) {
          break;  // the proxy has answered
        }
      }
      std::string buffer, head, error;
      ResponseHead reply;
      if (ReadHeadFrom(s, &buffer, &head) && ParseResponseHead(head, &reply, &error) &&
          reply.status == 408) {
        got408.fetch_add(1);
      } else {
        other.fetch_add(1);
      }
    });
  }
  for (int i = 0; i < 500 && server_->activeConnections() < 4; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // While they hold every slot mid-request, a newcomer is refused at once.
  Reply refused = Fetch("GET " + OriginUrl("/") + " HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(refused.ok);
  EXPECT_EQ(refused.head.status, 503);
  for (auto& t : clients) t.join();
  EXPECT_EQ(got408.load(), 4);
  EXPECT_EQ(other.load(), 0);
  Reply served = Fetch("GET " + OriginUrl("/after") + " HTTP/1.1\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(served.head.status, 200);
  ExpectBackToIdle(before);
  (void)allStarted;
  (void)started;
}

TEST_F(HostileClientTest, OversizedHeadsGetA4xxAndAClosedConnection) {
  ASSERT_NO_FATAL_FAILURE(StartProxy());
  const Resources before;  // the proxy listening, serving nobody
  std::string manyFields, bigFields;
  for (int i = 0; i < 10000; ++i) manyFields += "a: b\r\n";
  for (int i = 0; i < 1024; ++i) bigFields += "X-Big" + std::to_string(i) + ": " + std::string(1000, 'v') + "\r\n";
  struct Case {
    const char* name;
    std::string request;
    int status;
  } cases[] = {
      {"100 KB request line", "GET " + OriginUrl("/" + std::string(100 * 1024, 'a')) + " HTTP/1.1\r\n\r\n", 414},
      {"1 MB of headers", "GET " + OriginUrl("/") + " HTTP/1.1\r\n" + bigFields + "\r\n", 431},
      {"10,000 headers", "GET " + OriginUrl("/") + " HTTP/1.1\r\n" + manyFields + "\r\n", 431},
      {"a field too many", "GET " + OriginUrl("/") + " HTTP/1.1\r\n" +
                               manyFields.substr(0, 6 * (kMaxHeaderFields + 1)) + "\r\n", 431},
  };
  for (const Case& c : cases) {
    Socket s = Connect();
    // The proxy stops reading early; the rest of the send may fail.
    std::thread sender([&] { platform::SendAll(s, c.request.data(), c.request.size(), 5000); });
    std::string all = ReadUntilClose(s);  // returns only when the proxy closes
    sender.join();
    ResponseHead reply;
    std::string error;
    size_t end = FindHeadEnd(all);
    ASSERT_NE(end, std::string::npos) << c.name;
    ASSERT_TRUE(ParseResponseHead(all.substr(0, end), &reply, &error)) << c.name;
    EXPECT_EQ(reply.status, c.status) << c.name;
  }
  EXPECT_EQ(origin_.requests(), 0);
  // Exactly the limit still passes.
  Reply ok = Fetch("GET " + OriginUrl("/") + " HTTP/1.1\r\nConnection: close\r\n" +
                   manyFields.substr(0, 6 * (kMaxHeaderFields - 1)) + "\r\n");
  EXPECT_EQ(ok.head.status, 200);
  ExpectBackToIdle(before);
}

TEST_F(HostileClientTest, AClientThatNeverReadsDoesNotHoldAThread) {
  ProxyOptions options;
  options.clientIdleTimeoutMs = 1000;
  EndlessOrigin origin;
  const uint16_t port = origin.port();
  ASSERT_NO_FATAL_FAILURE(StartProxy(options));
  const Resources before;  // the proxy listening, serving nobody
  Socket s = Connect();
  std::string request = "GET http://127.0.0.1:" + std::to_string(port) + "/endless HTTP/1.1\r\n\r\n";
  ASSERT_EQ(platform::SendAll(s, request.data(), request.size(), kWaitMs), NetStatus::kOk);
  // The client reads nothing; the proxy gives up on it after the client
  // timeout, and the connection's thread ends while the client is still
  // connected.
  for (int i = 0; i < 500 && server_->activeConnections() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ExpectBackToIdle(before, /*heldOpen=*/1);
}

// A request body is limited as a whole, not per wait: one that trickles in
// gets 408 and a closed connection, counted, while other clients are
// served; one the client cuts short is the client's fault (400), not the
// origin's (502).
TEST_F(HostileClientTest, BodiesThatTrickleOrEndEarlyAreTheClientsFault) {
  ProxyOptions options;
  options.clientIdleTimeoutMs = 1000;
  ASSERT_NO_FATAL_FAILURE(StartProxy(options));
  struct Case {
    const char* name;
    bool trickle;  // a byte every 200 ms, each wait well within the timeout
    int status;
    std::uint64_t slowClosed;  // the count after the case
  } cases[] = {
      {"cut short", false, 400, 0},
      {"trickling", true, 408, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Socket s = Connect();
    const std::string head = "POST " + OriginUrl("/upload") +
                             " HTTP/1.1\r\nContent-Length: 40\r\n\r\n";
    ASSERT_EQ(platform::SendAll(s, head.data(), head.size(), kWaitMs), NetStatus::kOk);
    if (c.trickle) {
      // 40 bytes would take 8 s; another client is served meanwhile.
      std::thread other([&] {
        const Reply r = Fetch("GET " + OriginUrl("/meanwhile") + " HTTP/1.1\r\nConnection: close\r\n\r\n");
        EXPECT_EQ(r.head.status, 200);
      });
      for (int i = 0; i < 40; ++i) {
        if (platform::SendAll(s, "x", 1, kWaitMs) != NetStatus::kOk) break;
        const platform::SocketHandle handle = s.handle();
        if (platform::WaitReadable(&handle, 1, 200, nullptr) == 0) break;  // answered
      }
      other.join();
    } else {
      ASSERT_EQ(platform::SendAll(s, "only ten b", 10, kWaitMs), NetStatus::kOk);
      platform::ShutdownWrite(s);
    }
    const std::string all = ReadUntilClose(s);
    ResponseHead reply;
    std::string error;
    const size_t end = FindHeadEnd(all);
    ASSERT_NE(end, std::string::npos) << all;
    ASSERT_TRUE(ParseResponseHead(all.substr(0, end), &reply, &error)) << error;
    EXPECT_EQ(reply.status, c.status) << all;
    for (int i = 0; i < 500 && server_->slowClientsClosed() < c.slowClosed; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(server_->slowClientsClosed(), c.slowClosed);
  }
}

// An answer is limited as a whole too: a client that takes a byte now and
// then is closed and counted, and others are served meanwhile.
TEST_F(HostileClientTest, AClientThatReadsItsAnswerByTheByteIsClosedAndCounted) {
  ProxyOptions options;
  options.clientIdleTimeoutMs = 1000;
  EndlessOrigin origin;
  const uint16_t port = origin.port();
  ASSERT_NO_FATAL_FAILURE(StartProxy(options));
  Socket s = Connect();
  const std::string request =
      "GET http://127.0.0.1:" + std::to_string(port) + "/big HTTP/1.1\r\n\r\n";
  ASSERT_EQ(platform::SendAll(s, request.data(), request.size(), kWaitMs), NetStatus::kOk);
  char byte;
  size_t n = 0;
  for (int i = 0; i < 100 && server_->slowClientsClosed() == 0; ++i) {
    if (platform::Receive(s, &byte, 1, kWaitMs, &n) != NetStatus::kOk) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (i == 3) {
      const Reply r = Fetch("GET " + OriginUrl("/meanwhile") + " HTTP/1.1\r\nConnection: close\r\n\r\n");
      EXPECT_EQ(r.head.status, 200);
    }
  }
  EXPECT_EQ(server_->slowClientsClosed(), 1u);
  s.Close();
}

TEST_F(HostileClientTest, ChunkedBodiesAreFramedAnewOrRefused) {
  ASSERT_NO_FATAL_FAILURE(StartProxy());
  const Resources before;  // the proxy listening, serving nobody
  struct Case {
    const char* name;
    std::string body;
    int status;
    std::string payload;  // what the origin's body decodes to
  } cases[] = {
      {"extension and trailer dropped", "3;ext=\"x\"\r\nabc\r\n2\r\nde\r\n0\r\nX-Sum: 1\r\n\r\n", 200,
       "abcde"},
      {"leading zeros", "0003\r\nabc\r\n0\r\n\r\n", 200, "abc"},
      {"bare LF", "3\nabc\n0\n\n", 400, ""},
      {"trailer that is not a field", "3\r\nabc\r\n0\r\nGET /x HTTP/1.1\r\n\r\n", 400, ""},
  };
  for (const Case& c : cases) {
    RawOrigin origin;
    Socket s = Connect();
    std::string request = "POST http://127.0.0.1:" + std::to_string(origin.port()) +
                          "/up HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n" + c.body;
    std::string buffer;
    Reply r = Exchange(s, &buffer, request);
    EXPECT_EQ(r.head.status, c.status) << c.name;
    std::string forwarded = origin.body();
    if (c.status == 200) {
      // Plain chunks of the proxy's own: sizes, data, the last chunk, and
      // nothing else (no extension, no trailer).
      ChunkedDecoder strict;
      std::string payload;
      EXPECT_EQ(strict.Feed(forwarded.data(), forwarded.size(), &payload), forwarded.size()) << c.name;
      EXPECT_TRUE(strict.done()) << c.name << ": " << forwarded;
      EXPECT_EQ(payload, c.payload) << c.name;
      EXPECT_EQ(forwarded.find(';'), std::string::npos) << c.name;
      EXPECT_EQ(forwarded.substr(forwarded.size() - 7), "\r\n0\r\n\r\n") << c.name;
      EXPECT_EQ(forwarded.find("0003"), std::string::npos) << c.name;
    } else {
      // Never a whole body: the origin cannot take a part for a request.
      EXPECT_EQ(forwarded.find("0\r\n\r\n"), std::string::npos) << c.name;
    }
  }
  ExpectBackToIdle(before);
}

}  // namespace
}  // namespace hxhost
