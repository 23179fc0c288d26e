// http.h -- the HTTP/1.1 pieces a forward proxy needs: request and response
// heads, absolute URLs, header rewriting, message framing, and an
// incremental decoder for chunked bodies.
#ifndef PELLUMIN_HOST_HTTP_H_
#define PELLUMIN_HOST_HTTP_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hxhost {

struct Header {
  std::string name;
  std::string value;
};
using HeaderList = std::vector<Header>;

struct RequestHead {
  std::string method;
  std::string target;   // as the client sent it
  std::string version;  // "HTTP/1.0" or "HTTP/1.1"
  HeaderList headers;
};

struct ResponseHead {
  std::string version;
  int status = 0;
  std::string reason;
  HeaderList headers;
};

// The offset just past the blank line that ends a head ("\r\n\r\n", or
// "\n\n" from lenient peers), or npos when the head is not complete yet.
// Searching from `from` finds the same end as searching from 0 when no head
// end begins before from - 3: a reader that appends to its buffer can go on
// where it stopped instead of scanning the whole buffer again.
size_t FindHeadEnd(std::string_view data, size_t from = 0);

// The most header fields a request head may carry; more get 431.
constexpr size_t kMaxHeaderFields = 256;
// The number of lines after the request or status line in a head.
size_t HeaderLineCount(std::string_view head);

// Parse a complete head (with or without its blank line). They refuse what
// a proxy must not guess about: bad request lines, header names with spaces
// before the colon, obsolete line folding, control characters.
bool ParseRequestHead(std::string_view text, RequestHead* out, std::string* error);
bool ParseResponseHead(std::string_view text, ResponseHead* out, std::string* error);

// "http://host[:port]/path?query" split for forwarding. The path is in
// origin form ("/" when the URL has none); the fragment is dropped.
struct AbsoluteUrl {
  std::string host;       // without brackets for IPv6 literals
  uint16_t port = 80;
  std::string authority;  // host[:port] as written, for the Host header
  std::string path;       // origin form
};
bool SplitAbsoluteUrl(std::string_view url, AbsoluteUrl* out, std::string* error);

// "host:port" (CONNECT's target; "[v6]:port" too). The port is required.
bool SplitHostPort(std::string_view text, std::string* host, uint16_t* port, std::string* error);

// Header helpers; names compare without regard to case.
const Header* FindHeader(const HeaderList& headers, std::string_view name);
// True when a comma-separated header (Connection, Transfer-Encoding) holds
// the token.
bool HeaderHasToken(const HeaderList& headers, std::string_view name, std::string_view token);
void RemoveHeader(HeaderList* headers, std::string_view name);
// Removes the hop-by-hop headers (Connection, Keep-Alive, Proxy-Connection,
// Proxy-Authorization, Proxy-Authenticate, TE, Trailer, Upgrade and every
// header that Connection names). Transfer-Encoding stays: the relay keeps or
// rewrites the framing itself.
void RemoveHopByHopHeaders(HeaderList* headers);

// Whether the client asked to keep its connection open after this request.
bool ClientWantsKeepAlive(const RequestHead& request);

// How a message body is delimited.
enum class BodyKind { kNone, kLength, kChunked, kUntilClose };
struct BodyFraming {
  BodyKind kind = BodyKind::kNone;
  uint64_t length = 0;
};

// Refuse messages whose length could be read two ways (request smuggling):
// Content-Length with Transfer-Encoding, differing Content-Lengths, codings
// other than a final "chunked".
bool RequestFraming(const RequestHead& request, BodyFraming* out, std::string* error);
bool ResponseFraming(const ResponseHead& response, std::string_view requestMethod,
                     BodyFraming* out, std::string* error);

// One chunk of a chunked body ("SIZE\r\nDATA\r\n"; nothing for empty
// data), and the end of one with no trailers.
std::string EncodeChunk(std::string_view data);
constexpr std::string_view kLastChunk = "0\r\n\r\n";

std::string SerializeRequestHead(const RequestHead& head);
std::string SerializeResponseHead(const ResponseHead& head);

// Decodes a chunked body fed in pieces of any size. Feed consumes bytes up to
// the end of the message (trailers included) and no further, appending the
// payload to *payload when it is not null.
//
// A strict decoder (for what clients send) refuses every framing that
// parsers could read differently: lines not ended by CRLF, blanks or other
// characters around the size, control characters in an extension, trailer
// lines that are not header fields, more than 64 KiB of trailers. A lenient
// one (for origins) takes bare LF line ends and blanks around the size.
// Either way the proxy forwards only the payload, framed anew.
class ChunkedDecoder {
 public:
  explicit ChunkedDecoder(bool strict = true) : strict_(strict) {}
  size_t Feed(const char* data, size_t size, std::string* payload);
  bool done() const { return state_ == State::kDone; }
  bool failed() const { return state_ == State::kFailed; }
  const std::string& error() const { return error_; }

 private:
  enum class State { kSizeLine, kData, kDataEnd, kTrailer, kDone, kFailed };
  bool EndOfLine();  // processes line_ for the current state
  void Fail(const char* why);

  bool strict_;
  State state_ = State::kSizeLine;
  std::string line_;
  uint64_t remaining_ = 0;
  size_t trailerBytes_ = 0;
  std::string error_;
};

}  // namespace hxhost

#endif  // PELLUMIN_HOST_HTTP_H_
