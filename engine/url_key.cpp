// url_key.cpp -- the key strings of a parsed URL, their digests, and the
// search of a sorted list.
//
// Keys are built in a stack buffer long enough for the longest key. A path
// key of n segments is a prefix of the full path key, so the lookup builds
// the full key once and digests its prefixes from the longest down.
#include "url_key.h"

#include <cmath>
#include <cstring>

#include "md4/md4.h"

namespace corvane {
namespace {

constexpr std::size_t kKeyTextLimit = QX_KEY_TEXT_SIZE - 1;

std::size_t BoundedLength(const char* text, std::size_t room) {
  const void* end = std::memchr(text, '\0', room);
  return end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - text) : room;
}

int SegmentCount(const QxUrl* url) {
  int n = url->segmentCount;
  if (n < 0) return 0;
  return n > QX_MAX_SEGMENTS ? QX_MAX_SEGMENTS : n;
}

// The index of the personal-page segment, or -1 when the URL has none among
// its first n segments.
int PersonalIndex(const QxUrl* url, int n) {
  if ((url->flags & QX_URL_PERSONAL) == 0) return -1;
  return (url->tildeIndex >= 0 && url->tildeIndex < n) ? url->tildeIndex : -1;
}

// Writes the host and the first n segments, "/" before each, into key and
// records in ends[i] the length of the key of i segments (ends needs n + 1
// entries). Returns the length of the whole key.
std::size_t ComposePathKey(const QxUrl* url, int n, char* key, std::size_t* ends) {
  std::size_t length = BoundedLength(url->host, QX_HOST_SIZE - 1);
  std::memcpy(key, url->host, length);
  ends[0] = length;
  for (int i = 0; i < n; ++i) {
    key[length++] = '/';
    const std::size_t segment = BoundedLength(url->segments[i], QX_SEGMENT_SIZE - 1);
    std::memcpy(key + length, url->segments[i], segment);
    length += segment;
    ends[i + 1] = length;
  }
  return length;
}

// The personal-page key of a URL whose personal segment is at index t:
// the key of t segments followed by "/~". key must hold the key of t
// segments already.
std::size_t ComposePersonalKey(char* key, std::size_t prefix) {
  key[prefix] = '/';
  key[prefix + 1] = '~';
  return prefix + 2;
}

// Finds the domain key inside the host: its start and length. Returns false
// when the host has none.
bool LocateDomainKey(const QxUrl* url, const char** start, std::size_t* length) {
  const char* host = url->host;
  const std::size_t hostLength = BoundedLength(host, QX_HOST_SIZE - 1);
  if (hostLength == 0) return false;
  if ((url->flags & QX_URL_NUMERIC) != 0) {
    // An address loses its last number; one without a dot is its own key.
    std::size_t i = hostLength - 1;
    while (i >= 1 && host[i] != '.') --i;
    *start = host;
    *length = i >= 1 ? i : hostLength;
    return true;
  }
  // A name keeps its last two labels when the last label has three
  // characters, else its last three; the first character never counts.
  int dots = 0;
  int required = 0;
  for (std::size_t i = hostLength - 1; i >= 1; --i) {
    if (host[i] != '.') continue;
    ++dots;
    if (dots == 1) required = (hostLength - i == 4) ? 2 : 3;
    if (dots == required) {
      *start = host + i + 1;
      *length = hostLength - i - 1;
      return true;
    }
  }
  return false;
}

void CopyKeyText(char* keyText, const char* key, std::size_t length) {
  if (keyText == nullptr) return;
  if (length > kKeyTextLimit) length = kKeyTextLimit;
  std::memcpy(keyText, key, length);
  keyText[length] = '\0';
}

inline std::uint64_t DigestPrefix(const std::uint8_t* digest) {
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value = (value << 8) | digest[i];
  return value;
}

// Finds digest among count records in list order.
//
// Digests are uniformly spread, so the search first interpolates on the
// leading eight bytes. An estimate over a range of n records is off by about
// sqrt(n)/2, so each round probes the estimate and then a guard record
// sqrt(n) further on, which brackets the target in a range of about sqrt(n)
// records: 1,000,000 records shrink to about 1,000 and then to about 40 in
// two rounds, four to six cache misses where a plain binary search takes
// twenty. The rounds are bounded and binary search finishes the range, so a
// list that is not uniform costs at most a few extra probes.
const QxListRecord* SearchDigest(const std::uint8_t* digest, const QxListRecord* records,
                                 std::int32_t count) {
  std::int64_t lo = 0;
  std::int64_t hi = static_cast<std::int64_t>(count) - 1;
  const std::uint64_t target = DigestPrefix(digest);
  for (int round = 0; round < 3 && hi - lo > 32; ++round) {
    const std::uint64_t low = DigestPrefix(records[lo].digest);
    const std::uint64_t high = DigestPrefix(records[hi].digest);
    if (target < low || target > high) return nullptr;
    if (high == low) break;
    const double fraction = static_cast<double>(target - low) / static_cast<double>(high - low);
    std::int64_t probe = lo + static_cast<std::int64_t>(fraction * static_cast<double>(hi - lo));
    if (probe < lo) probe = lo;
    if (probe > hi) probe = hi;
    int order = std::memcmp(digest, records[probe].digest, kMd4DigestSize);
    if (order == 0) return &records[probe];
    const std::int64_t step = 8 + static_cast<std::int64_t>(std::sqrt(static_cast<double>(hi - lo)));
    if (order < 0) {
      hi = probe - 1;
      const std::int64_t guard = probe - step;
      if (guard > lo) {
        order = std::memcmp(digest, records[guard].digest, kMd4DigestSize);
        if (order == 0) return &records[guard];
        if (order > 0) {
          lo = guard + 1;
        } else {
          hi = guard - 1;
        }
      }
    } else {
      lo = probe + 1;
      const std::int64_t guard = probe + step;
      if (guard < hi) {
        order = std::memcmp(digest, records[guard].digest, kMd4DigestSize);
        if (order == 0) return &records[guard];
        if (order < 0) {
          hi = guard - 1;
        } else {
          lo = guard + 1;
        }
      }
    }
  }
  while (lo <= hi) {
    const std::int64_t mid = lo + (hi - lo) / 2;
    const int order = std::memcmp(digest, records[mid].digest, kMd4DigestSize);
    if (order == 0) return &records[mid];
    if (order < 0) {
      hi = mid - 1;
    } else {
      lo = mid + 1;
    }
  }
  return nullptr;
}

// Digests key into url->digest and searches for it.
const QxListRecord* DigestAndFind(QxUrl* url, const char* key, std::size_t length,
                                  const QxListRecord* records, std::int32_t count) {
  Md4Digest(key, length, url->digest);
  return FindListRecord(url, records, count);
}

}  // namespace

std::size_t BuildPathKey(QxUrl* url, int n, bool personal, char* keyText) {
  char key[kMaxKeyLength + 1];
  std::size_t ends[QX_MAX_SEGMENTS + 1];
  int segments = SegmentCount(url);
  if (n < segments) segments = n < 0 ? 0 : n;
  const int personalIndex = personal ? PersonalIndex(url, segments) : -1;
  std::size_t length;
  if (personalIndex >= 0) {
    ComposePathKey(url, personalIndex, key, ends);
    length = ComposePersonalKey(key, ends[personalIndex]);
  } else {
    length = ComposePathKey(url, segments, key, ends);
  }
  Md4Digest(key, length, url->digest);
  CopyKeyText(keyText, key, length);
  return length;
}

bool BuildDomainKey(QxUrl* url, char* keyText) {
  const char* start;
  std::size_t length;
  if (!LocateDomainKey(url, &start, &length)) return false;
  Md4Digest(start, length, url->digest);
  CopyKeyText(keyText, start, length);
  return true;
}

const QxListRecord* FindListRecord(QxUrl* url, const QxListRecord* records, std::int32_t count) {
  if (records == nullptr || count <= 0) return nullptr;
  const QxListRecord* record = SearchDigest(url->digest, records, count);
  if (record == nullptr) return nullptr;
  url->categories = record->categories;
  url->kind = record->kind;
  url->markFlags = (url->markFlags & ~1u) | (record->markFlags & 1u);
  return record;
}

}  // namespace corvane

extern "C" int QX_CALL qxtsturl(QxUrl* url, const QxListRecord* records, int32_t count,
                                char* keyText) {
  using namespace corvane;
  if (count <= 0 || records == nullptr) return 0;

  char key[kMaxKeyLength + 1];
  std::size_t ends[QX_MAX_SEGMENTS + 1];
  const int segments = SegmentCount(url);
  ComposePathKey(url, segments, key, ends);

  // Path keys, from all segments down to the bare host. The key text is
  // written once, for the key built last, since nothing reads it between.
  for (int n = segments; n >= 0; --n) {
    if (DigestAndFind(url, key, ends[n], records, count) != nullptr) {
      url->matchedLevel = n;
      CopyKeyText(keyText, key, ends[n]);
      return 1;
    }
  }

  const char* domain;
  std::size_t domainLength;
  if (LocateDomainKey(url, &domain, &domainLength)) {
    if (DigestAndFind(url, domain, domainLength, records, count) != nullptr) {
      CopyKeyText(keyText, domain, domainLength);
      return 1;
    }
  }

  // The personal-page key: the path up to the "~" segment, then "/~"; the
  // full path key when there is no such segment.
  const int personalIndex = PersonalIndex(url, segments);
  const std::size_t length = personalIndex >= 0 ? ComposePersonalKey(key, ends[personalIndex])
                                                : ends[segments];
  const bool found = DigestAndFind(url, key, length, records, count) != nullptr;
  CopyKeyText(keyText, key, length);
  return found ? 1 : 0;
}
