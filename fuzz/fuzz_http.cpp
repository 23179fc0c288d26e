// fuzz_http.cpp -- hxhost's request and response head parsers, framing and
// hop-by-hop removal, and the chunked decoder, on any bytes.
//
// Input: byte 0 chooses how the chunked input is split into pieces; the rest
// is read as a request head, as a response head and as a chunked body.
#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "http.h"

using namespace hxhost;

namespace {

void CheckSameHeaders(const HeaderList& a, const HeaderList& b) {
  FUZZ_CHECK(a.size() == b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    FUZZ_CHECK(a[i].name == b[i].name);
    FUZZ_CHECK(a[i].value == b[i].value);
  }
}

void CheckHopByHopGone(HeaderList headers) {
  RemoveHopByHopHeaders(&headers);
  for (const char* name : {"Connection", "Keep-Alive", "Proxy-Connection", "TE", "Upgrade",
                           "Trailer", "Proxy-Authorization", "Proxy-Authenticate"}) {
    FUZZ_CHECK(FindHeader(headers, name) == nullptr);
  }
}

void Request(const std::string& text) {
  RequestHead head;
  std::string error;
  if (!ParseRequestHead(text, &head, &error)) return;
  BodyFraming framing;
  RequestFraming(head, &framing, &error);
  ClientWantsKeepAlive(head);
  CheckHopByHopGone(head.headers);
  // What the proxy writes, it reads back the same.
  RequestHead again;
  FUZZ_CHECK(ParseRequestHead(SerializeRequestHead(head), &again, &error));
  FUZZ_CHECK(again.method == head.method && again.target == head.target &&
             again.version == head.version);
  CheckSameHeaders(head.headers, again.headers);
  AbsoluteUrl url;
  if (SplitAbsoluteUrl(head.target, &url, &error)) {
    FUZZ_CHECK(!url.host.empty() && !url.path.empty() && url.path[0] == '/');
  }
  std::string host;
  uint16_t port = 0;
  if (SplitHostPort(head.target, &host, &port, &error)) FUZZ_CHECK(!host.empty() && port != 0);
}

void Response(const std::string& text) {
  ResponseHead head;
  std::string error;
  if (!ParseResponseHead(text, &head, &error)) return;
  FUZZ_CHECK(head.status >= 100 && head.status <= 999);
  BodyFraming framing;
  ResponseFraming(head, "GET", &framing, &error);
  ResponseFraming(head, "HEAD", &framing, &error);
  CheckHopByHopGone(head.headers);
}

void Head(const std::string& text) {
  // Searching on from where an earlier search stopped, as a reader does
  // while its buffer grows, finds the same end.
  const size_t end = FindHeadEnd(text);
  size_t found = std::string::npos, scanned = 0;
  for (size_t have = std::min<size_t>(7, text.size());; have = std::min(have + 7, text.size())) {
    found = FindHeadEnd(std::string_view(text.data(), have), scanned);
    if (found != std::string::npos || have == text.size()) break;
    scanned = have > 3 ? have - 3 : 0;
  }
  FUZZ_CHECK(found == end);
  if (end != std::string::npos) FUZZ_CHECK(HeaderLineCount(text.substr(0, end)) <= end);
}

void Chunked(const std::string& body, size_t piece) {
  for (bool strict : {true, false}) {
    ChunkedDecoder whole(strict), split(strict);
    std::string a, b;
    const size_t used = whole.Feed(body.data(), body.size(), &a);
    FUZZ_CHECK(used <= body.size());
    size_t used_split = 0;
    for (size_t at = 0; at < body.size() && !split.done() && !split.failed(); at += piece) {
      const size_t n = std::min(piece, body.size() - at);
      const size_t took = split.Feed(body.data() + at, n, &b);
      used_split += took;
      if (took < n) break;
    }
    FUZZ_CHECK(whole.done() == split.done());
    FUZZ_CHECK(whole.failed() == split.failed());
    FUZZ_CHECK(a == b);
    if (whole.done()) {
      FUZZ_CHECK(used == used_split);
      // The proxy's own framing of the payload reads back strictly as it.
      const std::string framed = EncodeChunk(a) + std::string(kLastChunk);
      ChunkedDecoder check;
      std::string c;
      FUZZ_CHECK(check.Feed(framed.data(), framed.size(), &c) == framed.size());
      FUZZ_CHECK(check.done() && c == a);
    }
    if (strict && whole.done()) {
      // What the strict decoder reads, the lenient one reads the same way.
      ChunkedDecoder lenient(false);
      std::string d;
      FUZZ_CHECK(lenient.Feed(body.data(), body.size(), &d) == used);
      FUZZ_CHECK(lenient.done() && d == a);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Reader in(data, size);
  const size_t piece = 1 + in.Byte() % 16;
  const std::string text = in.Rest();
  Request(text);
  Response(text);
  Head(text);
  Chunked(text, piece);
  return 0;
}
