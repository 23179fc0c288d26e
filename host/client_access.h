// client_access.h -- which clients hxhost serves, and what it tells the
// others.
#ifndef PELLUMIN_HOST_CLIENT_ACCESS_H_
#define PELLUMIN_HOST_CLIENT_ACCESS_H_

#include <string>
#include <string_view>
#include <vector>

#include "address.h"

namespace hxhost {

// The ranges served when no --allow is given: loopback only, so that a
// proxy listening on every interface is not open to the network.
std::vector<AddressRange> LoopbackRanges();

// Whether a client with the peer text "IP:port" ("[IPv6]:port") falls in
// one of allowed (LoopbackRanges() when allowed is empty). A peer text that
// is no address is refused.
bool ClientAllowed(const std::vector<AddressRange>& allowed, std::string_view peer);

// "127.0.0.0/8, ::1/128", for the start-up message.
std::string DescribeRanges(const std::vector<AddressRange>& ranges);

// The answer to a denied CONNECT, made from the page the filter wrote for
// the client: the status becomes "403 Forbidden" and the page's body the
// response's, with its length, so that the client reports a refused tunnel
// instead of reading the page as the first bytes of a TLS stream. A page
// without an HTTP head is taken whole as the body.
std::string ForbiddenTunnelResponse(std::string_view page);

}  // namespace hxhost

#endif  // PELLUMIN_HOST_CLIENT_ACCESS_H_
