// client_access.cpp -- client ranges and the answer to a denied tunnel.
#include "client_access.h"

#include "base/ascii.h"
#include "http.h"

namespace hxhost {

std::vector<AddressRange> LoopbackRanges() {
  std::vector<AddressRange> ranges(2);
  std::string error;
  ParseAddressRange("127.0.0.0/8", &ranges[0], &error);
  ParseAddressRange("::1/128", &ranges[1], &error);
  return ranges;
}

bool ClientAllowed(const std::vector<AddressRange>& allowed, std::string_view peer) {
  IpAddress address;
  if (!ParsePeerAddress(peer, &address)) return false;
  static const std::vector<AddressRange> loopback = LoopbackRanges();
  for (const AddressRange& range : allowed.empty() ? loopback : allowed) {
    if (RangeContains(range, address)) return true;
  }
  return false;
}

std::string DescribeRanges(const std::vector<AddressRange>& ranges) {
  std::string text;
  for (const AddressRange& range : ranges) {
    if (!text.empty()) text += ", ";
    text += FormatAddress(range.network) + "/" + std::to_string(range.prefixBits);
  }
  return text;
}

std::string ForbiddenTunnelResponse(std::string_view page) {
  ResponseHead reply;
  reply.version = "HTTP/1.1";
  reply.status = 403;
  reply.reason = "Forbidden";
  std::string_view body = page;
  size_t headEnd = page.substr(0, 5) == "HTTP/" ? FindHeadEnd(page) : std::string::npos;
  ResponseHead written;
  std::string error;
  if (headEnd != std::string::npos && ParseResponseHead(page.substr(0, headEnd), &written, &error)) {
    body = page.substr(headEnd);
    // The page's own headers stay (its type, its server); the framing is
    // this response's.
    for (const Header& h : written.headers) {
      if (h.name.size() == 0) continue;
      const std::string lower = base::ToAsciiLower(h.name);
      if (lower == "content-length" || lower == "transfer-encoding" || lower == "connection" ||
          lower == "keep-alive") {
        continue;
      }
      reply.headers.push_back(h);
    }
  } else {
    reply.headers.push_back(Header{"Content-Type", "text/html"});
  }
  reply.headers.push_back(Header{"Content-Length", std::to_string(body.size())});
  reply.headers.push_back(Header{"Connection", "close"});
  return SerializeResponseHead(reply) + std::string(body);
}

}  // namespace hxhost
