// helper_protocol.cpp -- request lines and answers of the url_rewrite
// helper protocol.
#include "helper_protocol.h"

#include <algorithm>

#include "base/ascii.h"
#include "request_target.h"

namespace tarnwick_squid {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// Bytes that would end or break an answer line.
bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

// Cuts the next word off text (leading blanks skipped).
std::string_view NextWord(std::string_view* text) {
  std::size_t start = 0;
  while (start < text->size() && IsSpace((*text)[start])) ++start;
  std::size_t end = start;
  while (end < text->size() && !IsSpace((*text)[end])) ++end;
  std::string_view word = text->substr(start, end - start);
  text->remove_prefix(end);
  return word;
}

bool AllDigits(std::string_view word) {
  if (word.empty()) return false;
  for (char c : word) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

// "scheme://..." with a scheme of letters, digits, "+", "-", ".".
bool HasScheme(std::string_view url) {
  const std::size_t colon = url.find("://");
  if (colon == std::string_view::npos || colon == 0 || !IsAlpha(url[0])) return false;
  for (std::size_t i = 1; i < colon; ++i) {
    const char c = url[i];
    if (!IsAlpha(c) && !IsDigit(c) && c != '+' && c != '-' && c != '.') return false;
  }
  return colon + 3 < url.size();
}

// "host:port" or "[v6]:port", as Squid gives a CONNECT target.
bool IsConnectTarget(std::string_view url) {
  const std::size_t colon = url.rfind(':');
  if (colon == std::string_view::npos || colon == 0 || colon + 1 == url.size()) return false;
  if (url.find('/') != std::string_view::npos) return false;
  for (std::size_t i = colon + 1; i < url.size(); ++i) {
    if (!IsDigit(url[i])) return false;
  }
  return colon + 1 + 5 >= url.size();  // at most five digits of port
}

// A kv-pair value in double quotes: backslash and quote escaped, control
// characters (which would end or break the line) shown as "?".
void AppendQuoted(std::string* out, std::string_view value) {
  out->push_back('"');
  for (char c : value) {
    if (c == '"' || c == '\\') {
      out->push_back('\\');
      out->push_back(c);
    } else if (IsControl(c)) {
      out->push_back('?');
    } else {
      out->push_back(c);
    }
  }
  out->push_back('"');
}

int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The bytes Squid URL-escapes in an external ACL helper's values (and
// leaves as they are in a url_rewrite line): the "unsafe" ones of RFC 1738,
// blanks, and all beyond ASCII. "%" itself it does not escape.
bool SquidEscapes(unsigned char c) {
  if (c <= 0x20 || c >= 0x7f) return true;
  return std::string_view("\"#'<>[\\]^`{|}~").find(static_cast<char>(c)) != std::string_view::npos;
}

// Appends value to out with the escapes Squid made undone, so that the URL
// is the one a url_rewrite helper is given. Other "%XX" stay as the client
// wrote them. False when the result holds a control byte.
bool AppendUnescaped(std::string_view value, std::string* out) {
  for (std::size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (c == '%' && i + 2 < value.size() && HexValue(value[i + 1]) >= 0 &&
        HexValue(value[i + 2]) >= 0) {
      const int decoded = HexValue(value[i + 1]) * 16 + HexValue(value[i + 2]);
      if (SquidEscapes(static_cast<unsigned char>(decoded))) {
        c = static_cast<char>(decoded);
        i += 2;
      }
    }
    if (IsControl(c)) return false;
    out->push_back(c);
  }
  return true;
}

// Reads the channel-ID (when mode says the line has one) and the URL word;
// false, with request->fault set, when there is no URL.
bool ReadChannelAndUrl(std::string_view* rest, ChannelMode mode, RequestLine* request,
                       std::string_view* url) {
  if (!rest->empty() && rest->back() == '\r') rest->remove_suffix(1);
  std::string_view first = NextWord(rest);
  if (mode == ChannelMode::kOn || (mode == ChannelMode::kAuto && AllDigits(first))) {
    request->hasChannel = !first.empty();
    request->channel = first;
    first = NextWord(rest);
  }
  if (first.empty()) {
    request->fault = "the line holds no URL";
    return false;
  }
  *url = first;
  return true;
}

// Sets request->url and ->connect from url; false, with the fault set,
// for a URL that is neither form.
bool TakeUrl(std::string_view url, RequestLine* request) {
  request->url = url;
  request->connect = !HasScheme(url) && IsConnectTarget(url);
  if (!request->connect && !HasScheme(url)) {
    request->fault = "the URL is neither scheme://host/... nor a CONNECT host:port";
    return false;
  }
  return true;
}

bool IsHostNameByte(char c) {
  return IsAlpha(c) || IsDigit(c) || c == '-' || c == '.' || c == '_';
}

}  // namespace

RequestLine ParseRequestLine(std::string_view line, ChannelMode mode) {
  RequestLine request;
  std::string_view rest = line;
  std::string_view url;
  if (!ReadChannelAndUrl(&rest, mode, &request, &url) || !TakeUrl(url, &request)) return request;
  // The first extra is "%>a/%>A" by default (client address and name).
  std::string_view client = NextWord(&rest);
  request.client = client.substr(0, client.find('/'));
  for (std::string_view extra = NextWord(&rest); !extra.empty(); extra = NextWord(&rest)) {
    if (extra.substr(0, 4) == "sni=") {
      request.sni = extra.substr(4);
      if (request.sni == "-") request.sni = {};
    }
  }
  return request;
}

RequestLine ParseAclRequestLine(std::string_view line, ChannelMode mode, std::string* decoded) {
  RequestLine request;
  std::string_view rest = line;
  std::string_view url;
  if (!ReadChannelAndUrl(&rest, mode, &request, &url)) return request;
  const std::string_view client = NextWord(&rest);
  const std::string_view sni = NextWord(&rest);
  // Unescaped one after the other into one buffer that never grows past
  // the line, so that the views taken below stay valid.
  decoded->clear();
  decoded->reserve(line.size());
  std::size_t clientAt = 0, sniAt = 0;
  bool clean = AppendUnescaped(url, decoded);
  clientAt = decoded->size();
  if (clean && client != "-") clean = AppendUnescaped(client, decoded);
  sniAt = decoded->size();
  if (clean && sni != "-") clean = AppendUnescaped(sni, decoded);
  if (!clean) {
    request.fault = "a value holds a control character";
    return request;
  }
  const std::string_view text(*decoded);
  if (!TakeUrl(text.substr(0, clientAt), &request)) return request;
  request.client = text.substr(clientAt, sniAt - clientAt);
  request.sni = text.substr(sniAt);
  return request;
}

std::string_view ServerNameToJudge(const RequestLine& request) {
  if (!request.connect || request.sni.empty() || request.sni.size() > 253) return {};
  for (char c : request.sni) {
    if (!IsHostNameByte(c)) return {};
  }
  std::string_view host = request.url.substr(0, request.url.rfind(':'));
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  if (base::EqualsAsciiNoCase(host, request.sni)) return {};
  return request.sni;
}

void AppendServerNameUrl(const RequestLine& request, std::string_view serverName,
                         std::string* out) {
  out->append("https://");
  out->append(serverName.data(), serverName.size());
  const std::string_view port = request.url.substr(request.url.rfind(':'));
  out->append(port.data(), port.size());
  out->push_back('/');
}

void AppendFilterUrl(const RequestLine& request, std::string* out) {
  std::string_view url = request.url;
  if (request.connect) {
    out->append("https://");
    out->append(url.data(), url.size());
    out->push_back('/');
    return;
  }
  const std::size_t authority = url.find("://") + 3;  // the parser saw a scheme
  url = url.substr(0, url.find('#', authority));
  const std::size_t pathStart = url.find_first_of("/?", authority);
  if (pathStart == std::string_view::npos || url[pathStart] != '/') {
    out->append(url.data(), url.size());
    return;
  }
  const std::size_t pathEnd = std::min(url.find('?', pathStart), url.size());
  const std::string_view path = url.substr(pathStart, pathEnd - pathStart);
  out->append(url.data(), pathStart);
  if (hxhost::MayHoldDotSegments(path)) {
    out->append(hxhost::RemoveDotSegments(path));
  } else {
    out->append(path.data(), path.size());
  }
  out->append(url.data() + pathEnd, url.size() - pathEnd);
}

std::string FilterUrl(const RequestLine& request) {
  std::string url;
  AppendFilterUrl(request, &url);
  return url;
}

void AppendChannel(std::string* out, const RequestLine& request) {
  if (!request.hasChannel) return;
  // Squid's channel-IDs are digits, but with --channel-id on the first word
  // is echoed whatever it holds: a control byte in it would put a stray
  // character (or a line end) into the answer.
  for (char c : request.channel) out->push_back(IsControl(c) ? '?' : c);
  out->push_back(' ');
}

void AppendPass(std::string* out, const RequestLine& request) {
  AppendChannel(out, request);
  out->append("ERR\n");
}

void AppendRedirect(std::string* out, const RequestLine& request, std::string_view target) {
  AppendChannel(out, request);
  out->append("OK status=302 url=");
  AppendQuoted(out, target);
  out->push_back('\n');
}

void AppendBrokenHelper(std::string* out, const RequestLine& request, std::string_view message) {
  AppendChannel(out, request);
  out->append("BH message=");
  AppendQuoted(out, message);
  out->push_back('\n');
}

void AppendAclMatch(std::string* out, const RequestLine& request, std::string_view message,
                    std::string_view log) {
  AppendChannel(out, request);
  out->append("OK message=");
  AppendQuoted(out, message);
  out->append(" log=");
  AppendQuoted(out, log);
  out->push_back('\n');
}

std::string EscapeForUrl(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (IsAlpha(c) || IsDigit(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHex[u >> 4]);
      out.push_back(kHex[u & 15]);
    }
  }
  return out;
}

std::string ExpandRedirect(std::string_view redirectTemplate, std::string_view url,
                           std::string_view client, std::string_view categories) {
  std::string out;
  for (std::size_t i = 0; i < redirectTemplate.size(); ++i) {
    const char c = redirectTemplate[i];
    if (c != '%' || i + 1 == redirectTemplate.size()) {
      out.push_back(c);
      continue;
    }
    const char what = redirectTemplate[i + 1];
    if (what == 'u') {
      out += EscapeForUrl(url);
    } else if (what == 'a') {
      out += EscapeForUrl(client);
    } else if (what == 'c') {
      out += EscapeForUrl(categories);
    } else if (what == '%') {
      out.push_back('%');
    } else {
      out.push_back(c);
      continue;
    }
    ++i;
  }
  return out;
}

}  // namespace tarnwick_squid
