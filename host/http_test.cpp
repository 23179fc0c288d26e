// Table-driven tests of request/response parsing, URL splitting, header
// rewriting, framing and the chunked decoder.
#include "http.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

// Counts allocations, to show how the work of a call grows with its input.
namespace {
std::atomic<long> g_allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
// The replaced operator new takes its memory from malloc.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace hxhost {
namespace {

TEST(HttpHeadTest, FindHeadEnd) {
  struct Case {
    std::string data;
    size_t end;
  } cases[] = {
      {"GET / HTTP/1.1\r\nHost: a\r\n\r\nBODY", 27},
      {"GET / HTTP/1.1\nHost: a\n\nBODY", 24},
      {"GET / HTTP/1.1\r\nHost: a\r\n", std::string::npos},
      {"GET / HTTP/1.1\r\nHost: a\r\n\r", std::string::npos},
      {"", std::string::npos},
  };
  for (const Case& c : cases) EXPECT_EQ(FindHeadEnd(c.data), c.end) << c.data;
}

TEST(HttpHeadTest, RequestLines) {
  struct Case {
    std::string text;
    bool ok;
    std::string method, target, version;
  } cases[] = {
      {"GET http://a.test/x HTTP/1.1\r\n\r\n", true, "GET", "http://a.test/x", "HTTP/1.1"},
      {"\r\nPOST http://a.test/ HTTP/1.0\r\n\r\n", true, "POST", "http://a.test/", "HTTP/1.0"},
      {"CONNECT a.test:443 HTTP/1.1\r\n\r\n", true, "CONNECT", "a.test:443", "HTTP/1.1"},
      {"GET http://a.test/ HTTP/2.0\r\n\r\n", false, "", "", ""},
      {"GET http://a.test/\r\n\r\n", false, "", "", ""},
      {"GET  http://a.test/ HTTP/1.1\r\n\r\n", false, "", "", ""},
      {"GET http://a.test/ x HTTP/1.1\r\n\r\n", false, "", "", ""},
      {"G(T http://a.test/ HTTP/1.1\r\n\r\n", false, "", "", ""},
      {"GET http://a.test/\x01 HTTP/1.1\r\n\r\n", false, "", "", ""},
      {"", false, "", "", ""},
  };
  for (const Case& c : cases) {
    RequestHead head;
    std::string error;
    EXPECT_EQ(ParseRequestHead(c.text, &head, &error), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(head.method, c.method);
      EXPECT_EQ(head.target, c.target);
      EXPECT_EQ(head.version, c.version);
    } else {
      EXPECT_FALSE(error.empty()) << c.text;
    }
  }
}

TEST(HttpHeadTest, HeaderLines) {
  struct Case {
    std::string headers;
    bool ok;
    std::string name, value;
  } cases[] = {
      {"Host: a.test\r\n", true, "Host", "a.test"},
      {"X-Empty:\r\n", true, "X-Empty", ""},
      {"X-Spaces: \t v w \t\r\n", true, "X-Spaces", "v w"},
      {"X-Colon: a:b\r\n", true, "X-Colon", "a:b"},
      {"Host : a.test\r\n", false, "", ""},      // space before the colon
      {"Host: a\r\n folded\r\n", false, "", ""},  // obsolete folding
      {"NoColon\r\n", false, "", ""},
      {": value\r\n", false, "", ""},
      {"X-Bad: a\x01" "b\r\n", false, "", ""},
  };
  for (const Case& c : cases) {
    RequestHead head;
    std::string error;
    std::string text = "GET http://a.test/ HTTP/1.1\r\n" + c.headers + "\r\n";
    ASSERT_EQ(ParseRequestHead(text, &head, &error), c.ok) << c.headers;
    if (c.ok) {
      ASSERT_EQ(head.headers.size(), 1u);
      EXPECT_EQ(head.headers[0].name, c.name);
      EXPECT_EQ(head.headers[0].value, c.value);
    }
  }
}

TEST(HttpHeadTest, StatusLines) {
  struct Case {
    std::string text;
    bool ok;
    int status;
    std::string reason;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\n\r\n", true, 200, "OK"},
      {"HTTP/1.0 404 Not Found\r\nX: y\r\n\r\n", true, 404, "Not Found"},
      {"HTTP/1.1 204\r\n\r\n", true, 204, ""},
      {"HTTP/1.1 100 Continue\r\n\r\n", true, 100, "Continue"},
      {"HTTP/1.1 20 OK\r\n\r\n", false, 0, ""},
      {"HTTP/1.1 2000 OK\r\n\r\n", false, 0, ""},
      {"HTTP/1.1 099 Odd\r\n\r\n", false, 0, ""},
      {"ICY 200 OK\r\n\r\n", false, 0, ""},
      {"HTTP/1.1\r\n\r\n", false, 0, ""},
  };
  for (const Case& c : cases) {
    ResponseHead head;
    std::string error;
    EXPECT_EQ(ParseResponseHead(c.text, &head, &error), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(head.status, c.status);
      EXPECT_EQ(head.reason, c.reason);
    }
  }
}

TEST(HttpUrlTest, SplitAbsoluteUrl) {
  struct Case {
    std::string url;
    bool ok;
    std::string host;
    uint16_t port;
    std::string authority, path;
  } cases[] = {
      {"http://a.test/x/y?q=1", true, "a.test", 80, "a.test", "/x/y?q=1"},
      {"HTTP://A.test", true, "A.test", 80, "A.test", "/"},
      {"http://a.test:8080/p", true, "a.test", 8080, "a.test:8080", "/p"},
      {"http://a.test:/p", true, "a.test", 80, "a.test:", "/p"},
      {"http://a.test?q", true, "a.test", 80, "a.test", "/?q"},
      {"http://a.test/p#frag", true, "a.test", 80, "a.test", "/p"},
      {"http://user:pw@a.test/p", true, "a.test", 80, "a.test", "/p"},
      {"http://[::1]:81/p", true, "::1", 81, "[::1]:81", "/p"},
      {"http://[::1]/", true, "::1", 80, "[::1]", "/"},
      {"http://127.0.0.1:65535/", true, "127.0.0.1", 65535, "127.0.0.1:65535", "/"},
      {"http://a.test:0/", false, "", 0, "", ""},
      {"http://a.test:65536/", false, "", 0, "", ""},
      {"http://a.test:8x/", false, "", 0, "", ""},
      {"http:///p", false, "", 0, "", ""},
      {"http://[::1/", false, "", 0, "", ""},
      {"https://a.test/", false, "", 0, "", ""},
      {"ftp://a.test/", false, "", 0, "", ""},
      {"/origin/form", false, "", 0, "", ""},
  };
  for (const Case& c : cases) {
    AbsoluteUrl url;
    std::string error;
    ASSERT_EQ(SplitAbsoluteUrl(c.url, &url, &error), c.ok) << c.url << " " << error;
    if (!c.ok) continue;
    EXPECT_EQ(url.host, c.host) << c.url;
    EXPECT_EQ(url.port, c.port) << c.url;
    EXPECT_EQ(url.authority, c.authority) << c.url;
    EXPECT_EQ(url.path, c.path) << c.url;
  }
}

TEST(HttpUrlTest, SplitHostPort) {
  struct Case {
    std::string text;
    bool ok;
    std::string host;
    uint16_t port;
  } cases[] = {
      {"a.test:443", true, "a.test", 443},
      {"127.0.0.1:1", true, "127.0.0.1", 1},
      {"[::1]:8443", true, "::1", 8443},
      {"a.test", false, "", 0},
      {"a.test:", false, "", 0},
      {":443", false, "", 0},
      {"::1:443", false, "", 0},
      {"a.test:99999", false, "", 0},
      {"a/b:443", false, "", 0},
      {"[::1]443", false, "", 0},
  };
  for (const Case& c : cases) {
    std::string host, error;
    uint16_t port = 0;
    ASSERT_EQ(SplitHostPort(c.text, &host, &port, &error), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(host, c.host);
      EXPECT_EQ(port, c.port);
    }
  }
}

HeaderList Headers(std::vector<std::pair<std::string, std::string>> pairs) {
  HeaderList list;
  for (auto& p : pairs) list.push_back(Header{p.first, p.second});
  return list;
}

std::vector<std::string> Names(const HeaderList& headers) {
  std::vector<std::string> names;
  for (const Header& h : headers) names.push_back(h.name);
  return names;
}

TEST(HttpHeaderTest, RemovesHopByHopAndWhatConnectionNames) {
  HeaderList headers = Headers({{"Host", "a"},
                                {"Connection", "keep-alive, X-Private, Transfer-Encoding"},
                                {"Proxy-Connection", "X-Other"},
                                {"Keep-Alive", "timeout=5"},
                                {"x-private", "1"},
                                {"X-Other", "2"},
                                {"Proxy-Authorization", "Basic e30="},
                                {"TE", "trailers"},
                                {"Upgrade", "websocket"},
                                {"Transfer-Encoding", "chunked"},
                                {"Accept", "*/*"}});
  RemoveHopByHopHeaders(&headers);
  EXPECT_EQ(Names(headers), (std::vector<std::string>{"Host", "Transfer-Encoding", "Accept"}));
}

TEST(HttpHeaderTest, HopByHopRemovalDoesNotGrowWithTokensTimesHeaders) {
  // A head of 6,000 headers whose Connection field names one header 16,000
  // times: removing each named token with its own pass over the list costs
  // tokens x headers; the work must grow with the head instead.
  HeaderList headers;
  std::string tokens;
  for (int i = 0; i < 16000; ++i) tokens += i ? ",x-dup" : "x-dup";
  headers.push_back(Header{"Connection", tokens});
  for (int i = 0; i < 6000; ++i) headers.push_back(Header{i % 2 ? "X-Dup" : "X-Keep", "v"});
  const long before = g_allocations.load();
  RemoveHopByHopHeaders(&headers);
  const long used = g_allocations.load() - before;
  EXPECT_EQ(headers.size(), 3000u);
  for (const Header& h : headers) EXPECT_EQ(h.name, "X-Keep");
  EXPECT_LT(used, 6000 + 100) << "allocations for one call";
}

TEST(HttpHeaderTest, KeepAliveByVersionAndConnection) {
  struct Case {
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers;
    bool keep;
  } cases[] = {
      {"HTTP/1.1", {}, true},
      {"HTTP/1.1", {{"Connection", "close"}}, false},
      {"HTTP/1.1", {{"Proxy-Connection", "Close"}}, false},
      {"HTTP/1.1", {{"Connection", "foo, CLOSE"}}, false},
      {"HTTP/1.0", {}, false},
      {"HTTP/1.0", {{"Connection", "Keep-Alive"}}, true},
      {"HTTP/1.0", {{"Proxy-Connection", "keep-alive"}}, true},
  };
  for (const Case& c : cases) {
    RequestHead request;
    request.version = c.version;
    request.headers = Headers(c.headers);
    EXPECT_EQ(ClientWantsKeepAlive(request), c.keep) << c.version;
  }
}

TEST(HttpFramingTest, RequestBodies) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> headers;
    bool ok;
    BodyKind kind;
    uint64_t length;
  } cases[] = {
      {{}, true, BodyKind::kNone, 0},
      {{{"Content-Length", "0"}}, true, BodyKind::kNone, 0},
      {{{"Content-Length", "12"}}, true, BodyKind::kLength, 12},
      {{{"Content-Length", "12, 12"}}, true, BodyKind::kLength, 12},
      {{{"Content-Length", "12"}, {"content-length", "12"}}, true, BodyKind::kLength, 12},
      {{{"Transfer-Encoding", "chunked"}}, true, BodyKind::kChunked, 0},
      {{{"Transfer-Encoding", "gzip, chunked"}}, true, BodyKind::kChunked, 0},
      {{{"Content-Length", "12"}, {"Content-Length", "13"}}, false, BodyKind::kNone, 0},
      {{{"Content-Length", "-1"}}, false, BodyKind::kNone, 0},
      {{{"Content-Length", "1e3"}}, false, BodyKind::kNone, 0},
      {{{"Content-Length", ""}}, false, BodyKind::kNone, 0},
      {{{"Content-Length", "5"}, {"Transfer-Encoding", "chunked"}}, false, BodyKind::kNone, 0},
      {{{"Transfer-Encoding", "gzip"}}, false, BodyKind::kNone, 0},
      {{{"Transfer-Encoding", "chunked, chunked"}}, false, BodyKind::kNone, 0},
  };
  for (const Case& c : cases) {
    RequestHead request;
    request.headers = Headers(c.headers);
    BodyFraming framing;
    std::string error;
    ASSERT_EQ(RequestFraming(request, &framing, &error), c.ok) << ::testing::PrintToString(c.headers);
    if (c.ok) {
      EXPECT_EQ(framing.kind, c.kind);
      EXPECT_EQ(framing.length, c.length);
    }
  }
}

TEST(HttpFramingTest, ResponseBodies) {
  struct Case {
    std::string method;
    int status;
    std::vector<std::pair<std::string, std::string>> headers;
    BodyKind kind;
  } cases[] = {
      {"GET", 200, {{"Content-Length", "5"}}, BodyKind::kLength},
      {"GET", 200, {{"Content-Length", "0"}}, BodyKind::kNone},
      {"GET", 200, {}, BodyKind::kUntilClose},
      {"GET", 200, {{"Transfer-Encoding", "chunked"}, {"Content-Length", "5"}}, BodyKind::kChunked},
      {"GET", 200, {{"Transfer-Encoding", "gzip"}}, BodyKind::kUntilClose},
      {"HEAD", 200, {{"Content-Length", "500"}}, BodyKind::kNone},
      {"head", 200, {{"Transfer-Encoding", "chunked"}}, BodyKind::kNone},
      {"GET", 204, {}, BodyKind::kNone},
      {"GET", 304, {{"Content-Length", "5"}}, BodyKind::kNone},
      {"GET", 103, {}, BodyKind::kNone},
  };
  for (const Case& c : cases) {
    ResponseHead response;
    response.status = c.status;
    response.headers = Headers(c.headers);
    BodyFraming framing;
    std::string error;
    ASSERT_TRUE(ResponseFraming(response, c.method, &framing, &error)) << c.method << c.status;
    EXPECT_EQ(framing.kind, c.kind) << c.method << " " << c.status;
  }
}

TEST(HttpSerializeTest, RequestHeadRoundTrips) {
  RequestHead head;
  head.method = "POST";
  head.target = "/p?q";
  head.version = "HTTP/1.1";
  head.headers = Headers({{"Host", "a.test"}, {"Content-Length", "3"}});
  std::string text = SerializeRequestHead(head);
  EXPECT_EQ(text, "POST /p?q HTTP/1.1\r\nHost: a.test\r\nContent-Length: 3\r\n\r\n");
  RequestHead again;
  std::string error;
  ASSERT_TRUE(ParseRequestHead(text, &again, &error));
  EXPECT_EQ(Names(again.headers), Names(head.headers));
}

struct ChunkCase {
  std::string name;
  std::string input;        // the body followed by whatever comes next
  bool done;
  bool failed;
  std::string payload;
  size_t consumed;          // bytes taken: the message and no more
};

// Feeds the case whole and one byte at a time; both give the same outcome.
void CheckChunkCase(const ChunkCase& c, bool strict) {
  ChunkedDecoder whole(strict);
  std::string payload;
  size_t used = whole.Feed(c.input.data(), c.input.size(), &payload);
  EXPECT_EQ(whole.done(), c.done) << c.name;
  EXPECT_EQ(whole.failed(), c.failed) << c.name;
  EXPECT_EQ(payload, c.payload) << c.name;
  if (c.done || (!c.failed && c.consumed)) {
    EXPECT_EQ(used, c.consumed) << c.name;
  }

  ChunkedDecoder bytewise(strict);
  std::string payload2;
  size_t used2 = 0;
  for (size_t i = 0; i < c.input.size() && !bytewise.done() && !bytewise.failed(); ++i) {
    used2 += bytewise.Feed(&c.input[i], 1, &payload2);
  }
  EXPECT_EQ(bytewise.done(), c.done) << c.name;
  EXPECT_EQ(bytewise.failed(), c.failed) << c.name;
  EXPECT_EQ(payload2, c.payload) << c.name;
  if (c.done) {
    EXPECT_EQ(used2, c.consumed) << c.name;
  }
}

const std::string kSimpleChunks = "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n";

// Framing both decoders read the same way.
const ChunkCase kCommonChunkCases[] = {
    {"simple", kSimpleChunks + "NEXT", true, false, "hello world", kSimpleChunks.size()},
    {"upper-hex and extension", "A;ext=1\r\n0123456789\r\n0\r\n\r\n", true, false, "0123456789", 26},
    {"trailers", "3\r\nabc\r\n0\r\nX-Sum: 1\r\nX-More: 2\r\n\r\nG", true, false, "abc", 34},
    {"empty body", "0\r\n\r\n", true, false, "", 5},
    {"incomplete", "5\r\nhel", false, false, "hel", 6},
    {"bad size", "xyz\r\nabc\r\n", false, true, "", 0},
    {"missing size", "\r\nabc\r\n", false, true, "", 0},
    {"data longer than size", "3\r\nabcd\r\n0\r\n\r\n", false, true, "abc", 0},
    {"huge size", "fffffffffffffffff\r\n", false, true, "", 0},
};

TEST(ChunkedDecoderTest, DecodesWholeAndByteByByte) {
  for (bool strict : {true, false}) {
    for (const ChunkCase& c : kCommonChunkCases) CheckChunkCase(c, strict);
  }
  // What only the lenient decoder (for origins) takes.
  ChunkCase lenient[] = {
      {"bare LF", "3\nabc\n0\n\n", true, false, "abc", 9},
      {"spaces around size", "3 \r\nabc\r\n0\r\n\r\n", true, false, "abc", 14},
      {"trailer that is not a field", "3\r\nabc\r\n0\r\nnot a field\r\n\r\n", true, false, "abc", 26},
  };
  for (const ChunkCase& c : lenient) CheckChunkCase(c, false);
}

// What a client sends is read strictly: any framing another parser could
// read differently is refused.
TEST(ChunkedDecoderTest, StrictDecoderRefusesWhatParsersReadDifferently) {
  ChunkCase cases[] = {
      {"bare LF size line", "3\nabc\r\n0\r\n\r\n", false, true, "", 0},
      {"bare LF after data", "3\r\nabc\n0\r\n\r\n", false, true, "abc", 0},
      {"bare LF last line", "3\r\nabc\r\n0\r\n\n", false, true, "abc", 0},
      {"space before size", " 3\r\nabc\r\n0\r\n\r\n", false, true, "", 0},
      {"space after size", "3 \r\nabc\r\n0\r\n\r\n", false, true, "", 0},
      {"0x prefix", "0x3\r\nabc\r\n0\r\n\r\n", false, true, "", 0},
      {"CR inside size line", "3\rX\r\nabc\r\n0\r\n\r\n", false, true, "", 0},
      {"control in extension", "3;a\x01\r\nabc\r\n0\r\n\r\n", false, true, "", 0},
      {"trailer not a field", "3\r\nabc\r\n0\r\nGET / HTTP/1.1\r\n\r\n", false, true, "abc", 0},
      {"folded trailer", "3\r\nabc\r\n0\r\nX-A: 1\r\n b\r\n\r\n", false, true, "abc", 0},
  };
  for (const ChunkCase& c : cases) CheckChunkCase(c, true);

  // Trailers are bounded in all, not only per line.
  ChunkedDecoder decoder;
  std::string body = "0\r\n";
  for (int i = 0; i < 2000; ++i) body += "X-T" + std::to_string(i) + ": " + std::string(40, 'v') + "\r\n";
  decoder.Feed(body.data(), body.size(), nullptr);
  EXPECT_TRUE(decoder.failed());
}

TEST(ChunkedDecoderTest, EncodedChunksDecodeToTheSamePayload) {
  for (size_t size : {size_t{1}, size_t{15}, size_t{16}, size_t{255}, size_t{4096}, size_t{100000}}) {
    std::string data(size, 'q');
    std::string framed = EncodeChunk(data) + std::string(kLastChunk);
    ChunkedDecoder decoder;
    std::string payload;
    EXPECT_EQ(decoder.Feed(framed.data(), framed.size(), &payload), framed.size());
    EXPECT_TRUE(decoder.done()) << size;
    EXPECT_EQ(payload, data);
  }
  EXPECT_EQ(EncodeChunk(""), "");
  EXPECT_EQ(EncodeChunk(std::string(26, 'z')).substr(0, 4), "1a\r\n");
}

TEST(ChunkedDecoderTest, OverlongLineFails) {
  ChunkedDecoder decoder;
  std::string line(5000, '1');
  decoder.Feed(line.data(), line.size(), nullptr);
  EXPECT_TRUE(decoder.failed());
}

}  // namespace
}  // namespace hxhost
