// helper_protocol.h -- the lines of Squid's url_rewrite_program and
// external_acl_type protocols (Squid 4 and later): what a request line
// says, and how answers are written.
//
// A request is "[channel-ID SP] URL [SP extras]". The channel-ID is an
// opaque token that is echoed at the head of the answer; Squid sends it
// only with url_rewrite_children ... concurrency=N (N > 0), and then
// answers may go out in any order. CONNECT requests carry "host:port" as
// their URL. Answers: "OK status=302 url=\"...\"" redirects the client,
// "ERR" leaves the request as it is, "BH message=\"...\"" says the helper
// could not handle the line. An external ACL line carries the values of its
// format ("%URI %>a %ssl::>sni" here); "OK" says the ACL matches (the
// request is denied), "ERR" that it does not.
#ifndef PELLUMIN_SQUID_HELPER_PROTOCOL_H_
#define PELLUMIN_SQUID_HELPER_PROTOCOL_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnwick_squid {

// Which of Squid's helper interfaces the helper speaks.
enum class Protocol {
  kRewrite,  // url_rewrite_program: OK status=302 url=... / ERR / BH
  kAcl,      // external_acl_type with "%URI %>a %ssl::>sni": OK (deny) / ERR / BH
};

// Whether a request line begins with a channel-ID.
enum class ChannelMode {
  kAuto,  // when the first word is all digits (what Squid sends)
  kOn,    // always: the first word, whatever it is
  kOff,   // never (url_rewrite_children without concurrency)
};

struct RequestLine {
  bool hasChannel = false;
  std::string_view channel;  // without the separating space
  std::string_view url;      // as Squid sent it ("host:port" for CONNECT)
  std::string_view client;   // the first extra up to "/" (%>a), or empty
  // The TLS server name the client asked for (%ssl::>sni), or empty when
  // Squid has none ("-").
  std::string_view sni;
  bool connect = false;      // the URL is a CONNECT target, host:port
  const char* fault = nullptr;  // why the line cannot be read; null when it can
};

// Splits one line (without its line end; a trailing CR is ignored). The
// views point into line. A line with a fault still carries the channel-ID
// when it has one, so that the BH answer reaches the right request.
// The server name comes from an "sni=NAME" extra (url_rewrite_extras).
RequestLine ParseRequestLine(std::string_view line, ChannelMode mode);

// Splits one external ACL line, "[channel-ID SP] URI [SP client [SP sni]]"
// (the format "%URI %>a %ssl::>sni"; "-" for a value Squid does not have).
// Squid URL-escapes each value; they are unescaped into *decoded, which the
// views of a line without fault point into (reserved to the line's length
// first, so that it allocates nothing once it has grown to fit). A value
// that unescapes to a control byte is a fault.
RequestLine ParseAclRequestLine(std::string_view line, ChannelMode mode, std::string* decoded);

// The second name a CONNECT is judged by: its TLS server name when Squid
// gave one that is a host name and is not the CONNECT host itself (which
// is always so for a CONNECT to a numeric address). Empty when the request
// is judged by its URL alone: no CONNECT, no server name, "-", the same
// name in other case, or a name with bytes no host name holds.
std::string_view ServerNameToJudge(const RequestLine& request);

// "https://NAME:PORT/" for a CONNECT's server name, the port the CONNECT's.
void AppendServerNameUrl(const RequestLine& request, std::string_view serverName,
                         std::string* out);

// The URL the filter categorises: "https://host:port/" for a CONNECT target
// (the way hxhost hands CONNECT to the plug-in); otherwise the URL as the
// origin will read it, since Squid passes the path on as the client wrote
// it: without a fragment ("#" and what follows), and with "." and ".."
// segments (also written "%2e") resolved. AppendFilterUrl appends it to
// out, allocating nothing once out has room (unless the path holds a dot
// segment).
std::string FilterUrl(const RequestLine& request);
void AppendFilterUrl(const RequestLine& request, std::string* out);

// Appends "[channel SP]" to out, control characters in the channel-ID
// shown as "?", so that the answer stays one line of text.
void AppendChannel(std::string* out, const RequestLine& request);

// Appends a complete answer line (with its "\n") to out.
void AppendPass(std::string* out, const RequestLine& request);  // ERR
void AppendRedirect(std::string* out, const RequestLine& request, std::string_view target);
void AppendBrokenHelper(std::string* out, const RequestLine& request, std::string_view message);
// The external ACL's "matches" answer, which the http_access rule denies:
// OK message="..." (what deny_info's %o shows) log="..." (%ea).
void AppendAclMatch(std::string* out, const RequestLine& request, std::string_view message,
                    std::string_view log);

// Percent-escapes everything but unreserved characters (RFC 3986), for a
// value placed in a URL.
std::string EscapeForUrl(std::string_view text);

// The block page URL: template with %u (the requested URL), %a (the
// client), %c (the denied categories, by name) and %% replaced; the values
// are percent-escaped. Any other "%x" stays as it is.
std::string ExpandRedirect(std::string_view redirectTemplate, std::string_view url,
                           std::string_view client, std::string_view categories);

}  // namespace tarnwick_squid

#endif  // PELLUMIN_SQUID_HELPER_PROTOCOL_H_
