// request_target.h -- the one URL of a request: what hxhost connects to,
// what it asks the origin for, and what it hands the filter are all made
// from it, so that no spelling of a target can be filtered as one site and
// fetched from another.
#ifndef PELLUMIN_HOST_REQUEST_TARGET_H_
#define PELLUMIN_HOST_REQUEST_TARGET_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace hxhost {

struct RequestTarget {
  std::string host;       // to connect to: lower-case name, dotted decimal, or IPv6 (no brackets)
  uint16_t port = 80;
  std::string authority;  // host (IPv6 in brackets), ":port" when not the scheme's default
  std::string path;       // origin form with the query, without a fragment; "/" at least
  std::string url;        // scheme "://" authority path: what the filter sees
};

enum class TargetStatus {
  kOk,
  kNotAbsolute,        // not "scheme://...": 400, this is a proxy
  kUnsupportedScheme,  // not http: 501
  kBad,                // cannot be made canonical: 400
};

// An absolute-form target ("http://user@Host.:80/a/%7Ex?q#f" gives the URL
// "http://host/a/~x?q"). The user-info and fragment are dropped; the host is
// lower-cased, loses trailing dots and has its percent-encoded letters,
// digits, "-", "." and "_" decoded; a host whose last label is a number must
// be four dotted decimal numbers; a bracketed host must be an IPv6 address.
// In the path, encoded unreserved characters are decoded and "." and ".."
// segments are resolved, as an origin would; the query stays as written.
TargetStatus CanonicalRequestTarget(std::string_view target, RequestTarget* out,
                                    std::string* error);

// A CONNECT target "host:port" ("[IPv6]:port"), with the same host rules;
// the URL is "https://" authority "/".
bool CanonicalConnectTarget(std::string_view target, RequestTarget* out, std::string* error);

// Resolves "." and ".." segments (RFC 3986, 5.2.4) of a path that begins
// with "/": "/a/./b/../c" gives "/a/c", and ".." never climbs above "/". A
// dot written "%2e" counts as a dot. Other segments, empty ones included,
// stay as written.
std::string RemoveDotSegments(std::string_view path);

// Whether path may hold a dot segment (a "/" followed by "." or "%2e"): a
// quick test before RemoveDotSegments, which allocates.
bool MayHoldDotSegments(std::string_view path);

// The host alone ("[v6]" with brackets), made canonical as above; *ipv6
// tells whether it is an IPv6 address.
bool CanonicalHost(std::string_view raw, std::string* host, bool* ipv6, std::string* error);

}  // namespace hxhost

#endif  // PELLUMIN_HOST_REQUEST_TARGET_H_
