// http.cpp -- parsing and framing of HTTP/1.x messages for the proxy.
#include "http.h"

#include <set>

#include "base/ascii.h"

namespace hxhost {

namespace {

constexpr size_t kMaxChunkLine = 4096;
constexpr size_t kMaxTrailerBytes = 64 * 1024;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// RFC 7230 token characters, for methods and header names.
bool IsTokenChar(char c) {
  if (base::IsAsciiAlpha(c) || base::IsAsciiDigit(c)) return true;
  switch (c) {
    case '!': case '#': case '$': case '%': case '&': case '\'': case '*': case '+':
    case '-': case '.': case '^': case '_': case '`': case '|': case '~':
      return true;
    default:
      return false;
  }
}

bool IsToken(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (!IsTokenChar(c)) return false;
  }
  return true;
}

bool ValidVersion(std::string_view v) { return v == "HTTP/1.1" || v == "HTTP/1.0"; }

// Splits the head into lines (CRLF or LF), without the final empty line(s).
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (nl == std::string_view::npos) break;
    text.remove_prefix(nl + 1);
  }
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

bool ParseHeaders(const std::vector<std::string_view>& lines, HeaderList* out, std::string* error) {
  for (size_t i = 1; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (line.empty()) {
      *error = "empty line inside the header";
      return false;
    }
    if (line.front() == ' ' || line.front() == '\t') {
      *error = "folded header line";
      return false;
    }
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
      *error = "header line without a colon";
      return false;
    }
    std::string_view name = line.substr(0, colon);
    if (!IsToken(name)) {
      *error = "bad header name";
      return false;
    }
    std::string_view value = Trim(line.substr(colon + 1));
    for (char c : value) {
      unsigned char u = static_cast<unsigned char>(c);
      if ((u < 0x20 && c != '\t') || u == 0x7f) {
        *error = "control character in a header value";
        return false;
      }
    }
    out->push_back(Header{std::string(name), std::string(value)});
  }
  return true;
}

bool ParsePort(std::string_view digits, uint16_t* port) {
  if (digits.empty() || digits.size() > 5) return false;
  unsigned value = 0;
  for (char c : digits) {
    if (!base::IsAsciiDigit(c)) return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

bool ParseContentLength(const HeaderList& headers, bool* present, uint64_t* length,
                        std::string* error) {
  *present = false;
  for (const Header& h : headers) {
    if (!base::EqualsAsciiNoCase(h.name, "Content-Length")) continue;
    // A list of equal values ("5, 5") is tolerated; anything else is not.
    std::string_view rest = h.value;
    while (true) {
      size_t comma = rest.find(',');
      std::string_view item = Trim(rest.substr(0, comma));
      if (item.empty() || item.size() > 18) {
        *error = "bad Content-Length";
        return false;
      }
      uint64_t value = 0;
      for (char c : item) {
        if (!base::IsAsciiDigit(c)) {
          *error = "bad Content-Length";
          return false;
        }
        value = value * 10 + static_cast<uint64_t>(c - '0');
      }
      if (*present && value != *length) {
        *error = "conflicting Content-Length values";
        return false;
      }
      *present = true;
      *length = value;
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
  }
  return true;
}

// Transfer-Encoding: false on error; *chunked when the final coding is
// chunked. Any other final coding leaves the length unknown.
bool ParseTransferEncoding(const HeaderList& headers, bool* present, bool* chunked,
                           std::string* error) {
  *present = false;
  *chunked = false;
  std::string_view last;
  int chunkedCount = 0;
  for (const Header& h : headers) {
    if (!base::EqualsAsciiNoCase(h.name, "Transfer-Encoding")) continue;
    std::string_view rest = h.value;
    while (true) {
      size_t comma = rest.find(',');
      std::string_view item = Trim(rest.substr(0, comma));
      if (!item.empty()) {
        *present = true;
        last = item;
        if (base::EqualsAsciiNoCase(item, "chunked")) ++chunkedCount;
      }
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
  }
  if (!*present) return true;
  *chunked = base::EqualsAsciiNoCase(last, "chunked");
  if (chunkedCount > (*chunked ? 1 : 0)) {
    *error = "chunked applied more than once or not last";
    return false;
  }
  return true;
}

}  // namespace

size_t FindHeadEnd(std::string_view data, size_t from) {
  for (size_t i = from; i < data.size(); ++i) {
    if (data[i] != '\n') continue;
    if (i + 1 < data.size() && data[i + 1] == '\n') return i + 2;
    if (i + 2 < data.size() && data[i + 1] == '\r' && data[i + 2] == '\n') return i + 3;
  }
  return std::string_view::npos;
}

size_t HeaderLineCount(std::string_view head) {
  std::vector<std::string_view> lines = SplitLines(head);
  return lines.empty() ? 0 : lines.size() - 1;
}

bool ParseRequestHead(std::string_view text, RequestHead* out, std::string* error) {
  *out = RequestHead();
  // Tolerate empty lines before the request line (RFC 7230, 3.5).
  while (!text.empty() && (text.front() == '\r' || text.front() == '\n')) text.remove_prefix(1);
  std::vector<std::string_view> lines = SplitLines(text);
  if (lines.empty()) {
    *error = "empty request";
    return false;
  }
  std::string_view line = lines[0];
  size_t sp1 = line.find(' ');
  size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos || line.find(' ', sp2 + 1) != std::string_view::npos) {
    *error = "malformed request line";
    return false;
  }
  std::string_view method = line.substr(0, sp1);
  std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  std::string_view version = line.substr(sp2 + 1);
  if (!IsToken(method)) {
    *error = "bad method";
    return false;
  }
  if (target.empty()) {
    *error = "empty request target";
    return false;
  }
  for (char c : target) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7f) {
      *error = "control character in the request target";
      return false;
    }
  }
  if (!ValidVersion(version)) {
    *error = "unsupported HTTP version";
    return false;
  }
  out->method = std::string(method);
  out->target = std::string(target);
  out->version = std::string(version);
  return ParseHeaders(lines, &out->headers, error);
}

bool ParseResponseHead(std::string_view text, ResponseHead* out, std::string* error) {
  *out = ResponseHead();
  std::vector<std::string_view> lines = SplitLines(text);
  if (lines.empty()) {
    *error = "empty response";
    return false;
  }
  std::string_view line = lines[0];
  size_t sp = line.find(' ');
  std::string_view version = line.substr(0, sp);
  if (sp == std::string_view::npos || version.substr(0, 7) != "HTTP/1." || version.size() != 8) {
    *error = "malformed status line";
    return false;
  }
  std::string_view rest = line.substr(sp + 1);
  std::string_view code = rest.substr(0, 3);
  if (code.size() != 3 || !base::IsAsciiDigit(code[0]) || !base::IsAsciiDigit(code[1]) ||
      !base::IsAsciiDigit(code[2]) || (rest.size() > 3 && rest[3] != ' ')) {
    *error = "malformed status code";
    return false;
  }
  out->version = std::string(version);
  out->status = (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
  if (out->status < 100) {
    *error = "malformed status code";
    return false;
  }
  out->reason = rest.size() > 4 ? std::string(rest.substr(4)) : std::string();
  return ParseHeaders(lines, &out->headers, error);
}

bool SplitAbsoluteUrl(std::string_view url, AbsoluteUrl* out, std::string* error) {
  *out = AbsoluteUrl();
  size_t sep = url.find("://");
  if (sep == std::string_view::npos) {
    *error = "not an absolute URL";
    return false;
  }
  if (!base::EqualsAsciiNoCase(url.substr(0, sep), "http")) {
    *error = "unsupported scheme " + std::string(url.substr(0, sep));
    return false;
  }
  std::string_view rest = url.substr(sep + 3);
  size_t end = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, end);
  std::string_view path = end == std::string_view::npos ? std::string_view() : rest.substr(end);
  size_t hash = path.find('#');
  if (hash != std::string_view::npos) path = path.substr(0, hash);
  // Credentials in the URL are not ours to send on; they also do not
  // change where the request goes.
  size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority.remove_prefix(at + 1);
  if (authority.empty()) {
    *error = "URL without a host";
    return false;
  }
  out->authority = std::string(authority);
  std::string_view host = authority;
  if (host.front() == '[') {
    size_t close = host.find(']');
    if (close == std::string_view::npos) {
      *error = "unterminated IPv6 address";
      return false;
    }
    std::string_view after = host.substr(close + 1);
    host = host.substr(1, close - 1);
    if (!after.empty()) {
      if (after.front() != ':' || !ParsePort(after.substr(1), &out->port)) {
        *error = "bad port";
        return false;
      }
    }
  } else {
    size_t colon = host.find(':');
    if (colon != std::string_view::npos) {
      std::string_view digits = host.substr(colon + 1);
      host = host.substr(0, colon);
      // "host:" with an empty port means the default (RFC 3986, 3.2.3).
      if (!digits.empty() && !ParsePort(digits, &out->port)) {
        *error = "bad port";
        return false;
      }
    }
  }
  if (host.empty()) {
    *error = "URL without a host";
    return false;
  }
  out->host = std::string(host);
  if (path.empty() || path.front() == '?') {
    out->path = "/" + std::string(path);
  } else {
    out->path = std::string(path);
  }
  return true;
}

bool SplitHostPort(std::string_view text, std::string* host, uint16_t* port, std::string* error) {
  std::string_view h;
  std::string_view digits;
  if (!text.empty() && text.front() == '[') {
    size_t close = text.find(']');
    if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
      *error = "expected [address]:port";
      return false;
    }
    h = text.substr(1, close - 1);
    digits = text.substr(close + 2);
  } else {
    size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
      *error = "expected host:port";
      return false;
    }
    h = text.substr(0, colon);
    digits = text.substr(colon + 1);
    if (h.find(':') != std::string_view::npos) {
      *error = "IPv6 address without brackets";
      return false;
    }
  }
  if (h.empty() || h.find_first_of("/@?#") != std::string_view::npos) {
    *error = "bad host";
    return false;
  }
  if (!ParsePort(digits, port)) {
    *error = "bad port";
    return false;
  }
  *host = std::string(h);
  return true;
}

const Header* FindHeader(const HeaderList& headers, std::string_view name) {
  for (const Header& h : headers) {
    if (base::EqualsAsciiNoCase(h.name, name)) return &h;
  }
  return nullptr;
}

bool HeaderHasToken(const HeaderList& headers, std::string_view name, std::string_view token) {
  for (const Header& h : headers) {
    if (!base::EqualsAsciiNoCase(h.name, name)) continue;
    std::string_view rest = h.value;
    while (true) {
      size_t comma = rest.find(',');
      if (base::EqualsAsciiNoCase(Trim(rest.substr(0, comma)), token)) return true;
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
  }
  return false;
}

void RemoveHeader(HeaderList* headers, std::string_view name) {
  HeaderList kept;
  for (Header& h : *headers) {
    if (!base::EqualsAsciiNoCase(h.name, name)) kept.push_back(std::move(h));
  }
  headers->swap(kept);
}

void RemoveHopByHopHeaders(HeaderList* headers) {
  // The names to drop, lower-cased, each once however often it is named:
  // one pass over the headers then removes them all, so the work grows with
  // the size of the head, not with tokens times headers.
  std::set<std::string> drop = {"connection", "keep-alive", "proxy-connection",
                                "proxy-authorization", "proxy-authenticate", "te",
                                "trailer", "upgrade"};
  auto lower = [](std::string_view text) {
    std::string out(text);
    base::LowerAsciiInPlace(&out);
    return out;
  };
  for (const Header& h : *headers) {
    if (!base::EqualsAsciiNoCase(h.name, "Connection") && !base::EqualsAsciiNoCase(h.name, "Proxy-Connection")) continue;
    std::string_view rest = h.value;
    while (true) {
      size_t comma = rest.find(',');
      std::string_view item = Trim(rest.substr(0, comma));
      // Framing headers are never dropped on a peer's say-so.
      if (!item.empty() && !base::EqualsAsciiNoCase(item, "Transfer-Encoding") &&
          !base::EqualsAsciiNoCase(item, "Content-Length") && !base::EqualsAsciiNoCase(item, "Host")) {
        drop.insert(lower(item));
      }
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
  }
  HeaderList kept;
  kept.reserve(headers->size());
  for (Header& h : *headers) {
    if (drop.count(lower(h.name)) == 0) kept.push_back(std::move(h));
  }
  headers->swap(kept);
}

bool ClientWantsKeepAlive(const RequestHead& request) {
  if (HeaderHasToken(request.headers, "Connection", "close") ||
      HeaderHasToken(request.headers, "Proxy-Connection", "close")) {
    return false;
  }
  if (request.version == "HTTP/1.1") return true;
  return HeaderHasToken(request.headers, "Connection", "keep-alive") ||
         HeaderHasToken(request.headers, "Proxy-Connection", "keep-alive");
}

bool RequestFraming(const RequestHead& request, BodyFraming* out, std::string* error) {
  *out = BodyFraming();
  bool hasLength = false, hasCoding = false, chunked = false;
  uint64_t length = 0;
  if (!ParseContentLength(request.headers, &hasLength, &length, error)) return false;
  if (!ParseTransferEncoding(request.headers, &hasCoding, &chunked, error)) return false;
  if (hasCoding) {
    if (hasLength) {
      *error = "both Content-Length and Transfer-Encoding";
      return false;
    }
    if (!chunked) {
      *error = "request body with a length that cannot be known";
      return false;
    }
    out->kind = BodyKind::kChunked;
    return true;
  }
  if (hasLength && length > 0) {
    out->kind = BodyKind::kLength;
    out->length = length;
  }
  return true;
}

bool ResponseFraming(const ResponseHead& response, std::string_view requestMethod,
                     BodyFraming* out, std::string* error) {
  *out = BodyFraming();
  if (base::EqualsAsciiNoCase(requestMethod, "HEAD") || (response.status >= 100 && response.status < 200) ||
      response.status == 204 || response.status == 304) {
    return true;
  }
  bool hasLength = false, hasCoding = false, chunked = false;
  uint64_t length = 0;
  if (!ParseTransferEncoding(response.headers, &hasCoding, &chunked, error)) return false;
  if (hasCoding) {
    // Transfer-Encoding wins over Content-Length in a response (RFC 7230,
    // 3.3.3); a length field beside it is ignored.
    out->kind = chunked ? BodyKind::kChunked : BodyKind::kUntilClose;
    return true;
  }
  if (!ParseContentLength(response.headers, &hasLength, &length, error)) return false;
  if (hasLength) {
    out->kind = length > 0 ? BodyKind::kLength : BodyKind::kNone;
    out->length = length;
    return true;
  }
  out->kind = BodyKind::kUntilClose;
  return true;
}

std::string EncodeChunk(std::string_view data) {
  if (data.empty()) return std::string();
  static const char kHex[] = "0123456789abcdef";
  std::string size;
  for (size_t n = data.size(); n > 0; n >>= 4) size.insert(size.begin(), kHex[n & 15]);
  std::string out;
  out.reserve(size.size() + data.size() + 4);
  out.append(size).append("\r\n").append(data).append("\r\n");
  return out;
}

std::string SerializeRequestHead(const RequestHead& head) {
  std::string text = head.method + " " + head.target + " " + head.version + "\r\n";
  for (const Header& h : head.headers) text += h.name + ": " + h.value + "\r\n";
  text += "\r\n";
  return text;
}

std::string SerializeResponseHead(const ResponseHead& head) {
  std::string text = head.version + " " + std::to_string(head.status);
  text += " " + head.reason + "\r\n";
  for (const Header& h : head.headers) text += h.name + ": " + h.value + "\r\n";
  text += "\r\n";
  return text;
}

void ChunkedDecoder::Fail(const char* why) {
  state_ = State::kFailed;
  error_ = why;
}

bool ChunkedDecoder::EndOfLine() {
  std::string_view line = line_;
  if (!line.empty() && line.back() == '\r') {
    line.remove_suffix(1);
  } else if (strict_) {
    Fail("chunk framing line not ended by CRLF");
    return false;
  }
  switch (state_) {
    case State::kSizeLine: {
      size_t semicolon = line.find(';');
      std::string_view digits = line.substr(0, semicolon);
      if (!strict_) digits = Trim(digits);
      if (semicolon != std::string_view::npos) {
        for (char c : line.substr(semicolon + 1)) {
          unsigned char u = static_cast<unsigned char>(c);
          if (strict_ && ((u < 0x20 && c != '\t') || u == 0x7f)) {
            Fail("control character in a chunk extension");
            return false;
          }
        }
      }
      if (digits.empty()) {
        Fail("missing chunk size");
        return false;
      }
      uint64_t size = 0;
      for (char c : digits) {
        const int v = base::AsciiHexValue(c);
        if (v < 0) {
          Fail("bad chunk size");
          return false;
        }
        if (size > (UINT64_MAX >> 4)) {
          Fail("chunk size too large");
          return false;
        }
        size = size * 16 + static_cast<uint64_t>(v);
      }
      remaining_ = size;
      state_ = size == 0 ? State::kTrailer : State::kData;
      return true;
    }
    case State::kDataEnd:
      if (!line.empty()) {
        Fail("chunk data longer than its size");
        return false;
      }
      state_ = State::kSizeLine;
      return true;
    case State::kTrailer: {
      if (line.empty()) {
        state_ = State::kDone;
        return true;
      }
      if (strict_) {
        // A trailer line must be a header field; the proxy drops trailers,
        // but one that is not a field could be read as something else.
        trailerBytes_ += line_.size() + 1;
        HeaderList fields;
        std::string why;
        if (trailerBytes_ > kMaxTrailerBytes ||
            !ParseHeaders({std::string_view(), line}, &fields, &why)) {
          Fail(trailerBytes_ > kMaxTrailerBytes ? "trailers too large" : "malformed trailer line");
          return false;
        }
      }
      return true;
    }
    default:
      return false;
  }
}

size_t ChunkedDecoder::Feed(const char* data, size_t size, std::string* payload) {
  size_t used = 0;
  while (used < size && state_ != State::kDone && state_ != State::kFailed) {
    if (state_ == State::kData) {
      size_t take = size - used;
      if (take > remaining_) take = static_cast<size_t>(remaining_);
      if (payload) payload->append(data + used, take);
      used += take;
      remaining_ -= take;
      if (remaining_ == 0) state_ = State::kDataEnd;
      continue;
    }
    char c = data[used++];
    if (c != '\n') {
      if (line_.size() >= kMaxChunkLine) {
        Fail("chunk line too long");
        break;
      }
      line_.push_back(c);
      continue;
    }
    bool ok = EndOfLine();
    line_.clear();
    if (!ok) break;
  }
  return used;
}

}  // namespace hxhost
