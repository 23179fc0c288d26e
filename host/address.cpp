// address.cpp -- parsing and formatting IP addresses and ranges.
#include "address.h"

#include <cstring>

#include "base/ascii.h"

namespace hxhost {

namespace {

// The address as an IPv4 one when it is IPv4 or IPv4-mapped IPv6.
bool AsIpv4(const IpAddress& address, IpAddress* out) {
  if (!address.v6) {
    *out = address;
    return true;
  }
  return MappedIpv4(address, out);
}

}  // namespace

bool MappedIpv4(const IpAddress& address, IpAddress* out) {
  static const uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  if (!address.v6 || std::memcmp(address.bytes, kMapped, sizeof kMapped) != 0) return false;
  *out = IpAddress();
  std::memcpy(out->bytes, address.bytes + 12, 4);
  return true;
}

bool ParseDottedDecimal(std::string_view text, IpAddress* out) {
  IpAddress address;
  size_t pos = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (pos >= text.size() || text[pos] != '.') return false;
      ++pos;
    }
    size_t start = pos;
    int value = 0;
    while (pos < text.size() && base::IsAsciiDigit(text[pos]) && pos - start < 3) {
      value = value * 10 + (text[pos] - '0');
      ++pos;
    }
    size_t digits = pos - start;
    if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) return false;
    address.bytes[part] = static_cast<uint8_t>(value);
  }
  if (pos != text.size()) return false;
  *out = address;
  return true;
}

bool ParseIpv6(std::string_view text, IpAddress* out) {
  uint16_t groups[8] = {};
  int count = 0;
  int gap = -1;  // where "::" stands, as a group index
  size_t pos = 0;
  if (text.substr(0, 2) == "::") {
    gap = 0;
    pos = 2;
  } else if (!text.empty() && text[0] == ':') {
    return false;
  }
  while (pos < text.size()) {
    if (count == 8) return false;
    // A dotted IPv4 tail stands for the last two groups.
    size_t end = text.find(':', pos);
    std::string_view piece = text.substr(pos, end == std::string_view::npos ? end : end - pos);
    if (end == std::string_view::npos && piece.find('.') != std::string_view::npos) {
      IpAddress v4;
      if (count > 6 || !ParseDottedDecimal(piece, &v4)) return false;
      groups[count++] = static_cast<uint16_t>(v4.bytes[0] << 8 | v4.bytes[1]);
      groups[count++] = static_cast<uint16_t>(v4.bytes[2] << 8 | v4.bytes[3]);
      pos = text.size();
      break;
    }
    if (piece.empty() || piece.size() > 4) return false;
    unsigned value = 0;
    for (char c : piece) {
      int digit = base::AsciiHexValue(c);
      if (digit < 0) return false;
      value = value * 16 + static_cast<unsigned>(digit);
    }
    groups[count++] = static_cast<uint16_t>(value);
    pos += piece.size();
    if (pos == text.size()) break;
    ++pos;  // the ':'
    if (pos < text.size() && text[pos] == ':') {
      if (gap >= 0) return false;  // "::" only once
      gap = count;
      ++pos;
    } else if (pos == text.size()) {
      return false;  // a single trailing ':'
    }
  }
  if (gap < 0 ? count != 8 : count > 7) return false;
  IpAddress address;
  address.v6 = true;
  uint16_t full[8] = {};
  if (gap < 0) {
    std::memcpy(full, groups, sizeof full);
  } else {
    for (int i = 0; i < gap; ++i) full[i] = groups[i];
    int tail = count - gap;
    for (int i = 0; i < tail; ++i) full[8 - tail + i] = groups[gap + i];
  }
  for (int i = 0; i < 8; ++i) {
    address.bytes[2 * i] = static_cast<uint8_t>(full[i] >> 8);
    address.bytes[2 * i + 1] = static_cast<uint8_t>(full[i] & 0xff);
  }
  *out = address;
  return true;
}

std::string FormatAddress(const IpAddress& address) {
  if (!address.v6) {
    return std::to_string(address.bytes[0]) + "." + std::to_string(address.bytes[1]) + "." +
           std::to_string(address.bytes[2]) + "." + std::to_string(address.bytes[3]);
  }
  uint16_t groups[8];
  for (int i = 0; i < 8; ++i) {
    groups[i] = static_cast<uint16_t>(address.bytes[2 * i] << 8 | address.bytes[2 * i + 1]);
  }
  // The longest run of two or more zero groups (the first of equal runs).
  int best = -1, bestLength = 1;
  for (int i = 0; i < 8;) {
    if (groups[i] != 0) {
      ++i;
      continue;
    }
    int j = i;
    while (j < 8 && groups[j] == 0) ++j;
    if (j - i > bestLength) {
      best = i;
      bestLength = j - i;
    }
    i = j;
  }
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (int i = 0; i < 8; ++i) {
    if (i == best) {
      text += "::";
      i += bestLength - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') text += ':';
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      int digit = (groups[i] >> shift) & 0xf;
      if (digit != 0 || started || shift == 0) {
        text += kHex[digit];
        started = true;
      }
    }
  }
  return text;
}

bool ParseAddressRange(std::string_view text, AddressRange* out, std::string* error) {
  size_t slash = text.find('/');
  std::string_view addressText = text.substr(0, slash);
  AddressRange range;
  if (!ParseDottedDecimal(addressText, &range.network) &&
      !ParseIpv6(addressText, &range.network)) {
    *error = "'" + std::string(addressText) +
             "' is no IPv4 address in dotted decimal nor IPv6 address";
    return false;
  }
  int maxBits = range.network.v6 ? 128 : 32;
  range.prefixBits = maxBits;
  if (slash != std::string_view::npos) {
    std::string_view bits = text.substr(slash + 1);
    int value = 0;
    bool ok = !bits.empty() && bits.size() <= 3;
    for (char c : bits) {
      if (!base::IsAsciiDigit(c)) ok = false;
      value = value * 10 + (c - '0');
    }
    if (!ok || value > maxBits) {
      *error = "the prefix length after '/' must be a number from 0 to " +
               std::to_string(maxBits);
      return false;
    }
    range.prefixBits = value;
  }
  *out = range;
  return true;
}

bool RangeContains(const AddressRange& range, const IpAddress& address) {
  IpAddress network = range.network;
  IpAddress candidate = address;
  int bits = range.prefixBits;
  IpAddress v4;
  // Compare IPv4 with IPv4 where both sides have an IPv4 reading.
  if (network.v6 != candidate.v6) {
    if (!network.v6 && AsIpv4(candidate, &v4)) {
      candidate = v4;
    } else if (!candidate.v6 && AsIpv4(network, &v4) && bits >= 96) {
      network = v4;
      bits -= 96;
    } else {
      return false;
    }
  }
  for (int i = 0; bits > 0; ++i, bits -= 8) {
    uint8_t mask = bits >= 8 ? 0xff : static_cast<uint8_t>(0xff << (8 - bits));
    if ((network.bytes[i] & mask) != (candidate.bytes[i] & mask)) return false;
  }
  return true;
}

bool ParsePeerAddress(std::string_view peer, IpAddress* out) {
  if (!peer.empty() && peer.front() == '[') {
    size_t close = peer.find(']');
    return close != std::string_view::npos && ParseIpv6(peer.substr(1, close - 1), out);
  }
  return ParseDottedDecimal(peer.substr(0, peer.rfind(':')), out);
}

}  // namespace hxhost
