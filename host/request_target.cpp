// request_target.cpp -- making request targets canonical.
#include "request_target.h"

#include <vector>

#include "address.h"
#include "base/ascii.h"
#include "http.h"

namespace hxhost {

namespace {

constexpr size_t kMaxHostName = 253;  // the longest name the DNS can hold

bool IsAlnum(char c) { return base::IsAsciiDigit(c) || base::IsAsciiAlpha(c); }

bool IsUnreserved(char c) { return IsAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~'; }

// "%XY" of an unreserved character decoded; every other encoding kept.
// The engine's parser decodes the same set, so the two read a URL alike.
std::string DecodeUnreserved(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && base::AsciiHexValue(text[i + 1]) >= 0 &&
        base::AsciiHexValue(text[i + 2]) >= 0) {
      char decoded = static_cast<char>(base::AsciiHexValue(text[i + 1]) * 16 + base::AsciiHexValue(text[i + 2]));
      if (IsUnreserved(decoded)) {
        out.push_back(decoded);
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

// The host as the target wrote it, brackets kept: the split below drops
// them, and a bracketed name must not pass for a plain one.
std::string_view RawHost(std::string_view authority, const std::string& host) {
  if (!authority.empty() && authority.front() == '[') {
    return authority.substr(0, authority.find(']') + 1);
  }
  return host;
}

std::string Authority(const std::string& host, bool ipv6, uint16_t port, uint16_t defaultPort) {
  std::string text = ipv6 ? "[" + host + "]" : host;
  if (port != defaultPort) text += ":" + std::to_string(port);
  return text;
}

}  // namespace

namespace {

// 1 for a "." segment, 2 for "..", 0 for any other; a dot may be written
// "%2e", as origins decode it before they resolve the path.
int DotSegment(std::string_view segment) {
  int dots = 0;
  for (size_t i = 0; i < segment.size(); ++dots) {
    if (segment[i] == '.') {
      i += 1;
    } else if (segment.substr(i, 2) == "%2" && i + 2 < segment.size() && base::ToAsciiLower(segment[i + 2]) == 'e') {
      i += 3;
    } else {
      return 0;
    }
  }
  return dots <= 2 ? dots : 0;
}

}  // namespace

bool MayHoldDotSegments(std::string_view path) {
  for (size_t slash = path.find('/'); slash != std::string_view::npos;
       slash = path.find('/', slash + 1)) {
    std::string_view next = path.substr(slash + 1, 3);
    if (!next.empty() && next[0] == '.') return true;
    if (next.size() == 3 && next[0] == '%' && next[1] == '2' && base::ToAsciiLower(next[2]) == 'e') return true;
  }
  return false;
}

std::string RemoveDotSegments(std::string_view path) {
  std::vector<std::string_view> kept;
  size_t pos = 1;
  bool endsInSlash = false;
  for (;;) {
    size_t slash = path.find('/', pos);
    std::string_view segment = path.substr(pos, slash == std::string_view::npos ? slash : slash - pos);
    bool last = slash == std::string_view::npos;
    const int dots = DotSegment(segment);
    if (dots == 1) {
      endsInSlash = true;
    } else if (dots == 2) {
      if (!kept.empty()) kept.pop_back();
      endsInSlash = true;
    } else {
      kept.push_back(segment);
      endsInSlash = false;
    }
    if (last) break;
    pos = slash + 1;
  }
  std::string out;
  for (std::string_view segment : kept) {
    out += '/';
    out.append(segment);
  }
  if (endsInSlash || out.empty()) out += '/';
  return out;
}

bool CanonicalHost(std::string_view raw, std::string* host, bool* ipv6, std::string* error) {
  *ipv6 = false;
  if (!raw.empty() && raw.front() == '[') {
    IpAddress address;
    if (raw.size() < 2 || raw.back() != ']' || !ParseIpv6(raw.substr(1, raw.size() - 2), &address)) {
      *error = "a host in brackets must be an IPv6 address";
      return false;
    }
    // An IPv4-mapped address reaches the IPv4 host: it is filtered as that.
    IpAddress v4;
    if (MappedIpv4(address, &v4)) {
      *host = FormatAddress(v4);
      return true;
    }
    *host = FormatAddress(address);
    *ipv6 = true;
    return true;
  }
  std::string name = DecodeUnreserved(raw);
  base::LowerAsciiInPlace(&name);
  while (!name.empty() && name.back() == '.') name.pop_back();
  if (name.empty()) {
    *error = "no host";
    return false;
  }
  if (name.size() > kMaxHostName) {
    *error = "host name longer than " + std::to_string(kMaxHostName) + " characters";
    return false;
  }
  for (char c : name) {
    if (!IsAlnum(c) && c != '-' && c != '.' && c != '_') {
      *error = std::string("character '") + c + "' in the host name";
      return false;
    }
  }
  if (name.front() == '.' || name.find("..") != std::string::npos) {
    *error = "empty label in the host name";
    return false;
  }
  // The resolver reads a host that ends in a number as an address, in forms
  // of its own (127.1, 3221225994, 0x7f.1, 010 as octal). Only plain dotted
  // decimal is taken, so that the address filtered is the address reached.
  std::string_view lastLabel = std::string_view(name).substr(name.rfind('.') + 1);
  bool allDigits = true;
  for (char c : lastLabel) allDigits = allDigits && base::IsAsciiDigit(c);
  bool hex = lastLabel.size() > 1 && lastLabel[0] == '0' && lastLabel[1] == 'x';
  if (allDigits || hex) {
    IpAddress address;
    if (!ParseDottedDecimal(name, &address)) {
      *error = "a numeric host must be four decimal numbers from 0 to 255 joined by dots, "
               "without leading zeros";
      return false;
    }
  }
  *host = name;
  return true;
}

TargetStatus CanonicalRequestTarget(std::string_view target, RequestTarget* out,
                                    std::string* error) {
  *out = RequestTarget();
  size_t sep = target.find("://");
  if (sep == std::string_view::npos) {
    *error = "not an absolute URL";
    return TargetStatus::kNotAbsolute;
  }
  std::string scheme(target.substr(0, sep));
  base::LowerAsciiInPlace(&scheme);
  if (scheme != "http") {
    *error = "unsupported scheme " + std::string(target.substr(0, sep));
    return TargetStatus::kUnsupportedScheme;
  }
  // The split drops user-info and the fragment and gives the path in
  // origin form.
  AbsoluteUrl split;
  if (!SplitAbsoluteUrl(target, &split, error)) return TargetStatus::kBad;
  out->port = split.port;
  bool ipv6 = false;
  if (!CanonicalHost(RawHost(split.authority, split.host), &out->host, &ipv6, error)) {
    return TargetStatus::kBad;
  }
  out->authority = Authority(out->host, ipv6, out->port, 80);

  std::string_view path = split.path;
  size_t question = path.find('?');
  std::string_view query = question == std::string_view::npos ? std::string_view()
                                                              : path.substr(question);
  out->path = RemoveDotSegments(DecodeUnreserved(path.substr(0, question)));
  out->path.append(query);
  out->url = "http://" + out->authority + out->path;
  return TargetStatus::kOk;
}

bool CanonicalConnectTarget(std::string_view target, RequestTarget* out, std::string* error) {
  *out = RequestTarget();
  std::string host;
  if (!SplitHostPort(target, &host, &out->port, error)) return false;
  bool ipv6 = false;
  if (!CanonicalHost(RawHost(target, host), &out->host, &ipv6, error)) return false;
  out->authority = Authority(out->host, ipv6, out->port, 443);
  out->path = "/";
  // The filter sees a tunnel as the https URL of the site's root.
  out->url = "https://" + out->authority + "/";
  return true;
}

}  // namespace hxhost
