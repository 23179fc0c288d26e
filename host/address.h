// address.h -- IP addresses as hxhost reads them: in URLs, in --allow
// ranges and in the peer text of an accepted client. No OS calls: the
// resolver's readings of a number (octal, hexadecimal, whole numbers) are
// exactly what hxhost must not use.
#ifndef PELLUMIN_HOST_ADDRESS_H_
#define PELLUMIN_HOST_ADDRESS_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace hxhost {

struct IpAddress {
  bool v6 = false;
  uint8_t bytes[16] = {};  // IPv4 in the first four
};

// Exactly four decimal numbers from 0 to 255 joined by dots, without
// leading zeros ("192.0.2.1"; not "192.0.2.010", "3221225994", "127.1").
bool ParseDottedDecimal(std::string_view text, IpAddress* out);

// An IPv6 address in the text forms of RFC 4291 ("2001:db8::1",
// "::ffff:192.0.2.1"), without brackets or zone.
bool ParseIpv6(std::string_view text, IpAddress* out);

// The address as text: dotted decimal, or IPv6 in the form of RFC 5952
// (lower case, longest run of zero groups as "::").
std::string FormatAddress(const IpAddress& address);

// The IPv4 address of an IPv4-mapped IPv6 one ("::ffff:a.b.c.d").
bool MappedIpv4(const IpAddress& address, IpAddress* out);

// An address range "ADDRESS/BITS", or a single address.
struct AddressRange {
  IpAddress network;
  int prefixBits = 0;
};
bool ParseAddressRange(std::string_view text, AddressRange* out, std::string* error);

// Whether range holds address; an IPv4-mapped IPv6 address ("::ffff:a.b.c.d",
// what a dual-stack listener reports) counts as its IPv4 address.
bool RangeContains(const AddressRange& range, const IpAddress& address);

// The address of a peer text "IP:port" or "[IPv6]:port" (as the socket
// layer reports an accepted client).
bool ParsePeerAddress(std::string_view peer, IpAddress* out);

}  // namespace hxhost

#endif  // PELLUMIN_HOST_ADDRESS_H_
