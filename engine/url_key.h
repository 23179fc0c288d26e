// url_key.h -- the key strings of a parsed URL, their digests, and the
// binary search of a list.
#ifndef PELLUMIN_ENGINE_URL_KEY_H_
#define PELLUMIN_ENGINE_URL_KEY_H_

#include <cstddef>
#include <cstdint>

#include "corvane.h"
#include "url_parser.h"

namespace corvane {

// The most of a key's text that is handed back: the caller's key text holds
// QX_KEY_TEXT_SIZE bytes with the terminator.
constexpr std::size_t kKeyTextLimit = QX_KEY_TEXT_SIZE - 1;

// Longest key: host, then "/" and a segment for each of 20 segments.
constexpr std::size_t kMaxKeyLength = (QX_HOST_SIZE - 1) + QX_MAX_SEGMENTS * QX_SEGMENT_SIZE;

// Builds the key of the host and the first n segments (or, with personal,
// the personal-page key), stores its digest in url->digest and copies the
// key text (cut to 1023 characters) into keyText when given. Returns the
// key's full length.
std::size_t BuildPathKey(QxUrl* url, int n, bool personal, char* keyText);

// Builds the domain key. Returns false, touching nothing, when the host has
// none.
bool BuildDomainKey(QxUrl* url, char* keyText);

// The URL's segment count, bounded to 0..20.
inline int SegmentCount(const QxUrl* url) {
  const int n = url->segmentCount;
  if (n < 0) return 0;
  return n > QX_MAX_SEGMENTS ? QX_MAX_SEGMENTS : n;
}

// The index of the personal-page segment, or -1 when the URL has none among
// its first n segments.
inline int PersonalIndex(const QxUrl* url, int n) {
  if ((url->flags & QX_URL_PERSONAL) == 0) return -1;
  return (url->tildeIndex >= 0 && url->tildeIndex < n) ? url->tildeIndex : -1;
}

// Writes the host and the first n segments, "/" before each, into key
// (room for kMaxKeyLength + 1 bytes, all of which may be written) and
// records in ends[i] the length of the key of i segments (ends needs n + 1
// entries). Returns the length of the whole key. With lengths (from
// ParseUrl of this URL), the fields are not measured again.
std::size_t ComposePathKey(const QxUrl* url, int n, char* key, std::size_t* ends,
                           const UrlLengths* lengths = nullptr);

// Finds the domain key inside the host: its start and length. Returns false
// when the host has none.
bool LocateDomainKey(const QxUrl* url, const char** start, std::size_t* length);
// The same for a host of hostLength characters (numeric: digits and dots
// only), where the caller knows them already.
bool LocateDomainKey(const char* host, std::size_t hostLength, bool numeric, const char** start,
                     std::size_t* length);

// Binary search for url->digest. On a match writes the record's categories,
// kind and approved mark into url and returns the record; else null.
const QxListRecord* FindListRecord(QxUrl* url, const QxListRecord* records, std::int32_t count);

}  // namespace corvane

#endif  // PELLUMIN_ENGINE_URL_KEY_H_
