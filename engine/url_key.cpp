// url_key.cpp -- the key strings of a parsed URL, their digests, and the
// search of a sorted list.
//
// Keys are built in a stack buffer long enough for the longest key. A path
// key of n segments is a prefix of the full path key, so the lookup builds
// the full key once and takes its prefixes from the longest down (see
// key_plan.h).
#include "url_key.h"

#include <cstring>

#include "key_plan.h"
#include "list_index.h"
#include "md4/md4.h"

namespace corvane {
namespace {

std::size_t BoundedLength(const char* text, std::size_t room) {
  const void* end = std::memchr(text, '\0', room);
  return end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - text) : room;
}

// The personal-page key of a URL whose personal segment is at index t:
// the key of t segments followed by "/~". key must hold the key of t
// segments already.
std::size_t ComposePersonalKey(char* key, std::size_t prefix) {
  key[prefix] = '/';
  key[prefix + 1] = '~';
  return prefix + 2;
}

void CopyKeyText(char* keyText, const char* key, std::size_t length) {
  if (keyText == nullptr) return;
  if (length > kKeyTextLimit) length = kKeyTextLimit;
  std::memcpy(keyText, key, length);
  keyText[length] = '\0';
}

void TakeRecord(QxUrl* url, const QxListRecord* record) {
  url->categories = record->categories;
  url->kind = record->kind;
  url->markFlags = (url->markFlags & ~1u) | (record->markFlags & 1u);
}

}  // namespace

namespace {

// Copies the text of a field into a key in 16-byte pieces: the field's
// size is a multiple of 16, so the pieces never read past it, and what they
// write past the text is overwritten by the next part or lies beyond the
// key.
// The first 32 bytes go in any case: most hosts and segments are shorter,
// and a copy of varying length mispredicts its last turn.
inline void CopyFieldText(char* to, const char* field, std::size_t length) {
  std::memcpy(to, field, 32);
  for (std::size_t i = 32; i < length; i += 16) std::memcpy(to + i, field + i, 16);
}

static_assert(QX_HOST_SIZE % 16 == 0 && QX_SEGMENT_SIZE % 16 == 0 && QX_SEGMENT_SIZE >= 32,
              "fields are copied in 16-byte pieces, at least two");

}  // namespace

std::size_t ComposePathKey(const QxUrl* url, int n, char* key, std::size_t* ends,
                           const UrlLengths* lengths) {
  // Each field's text is copied in fixed-size pieces, and the key goes on
  // after the field's text. A segment adds at most 128 characters with its
  // "/", so a whole segment field copied after 255 + 19 x 128 + 1
  // characters still ends inside the buffer of kMaxKeyLength + 1.
  std::size_t length = lengths != nullptr ? lengths->host : BoundedLength(url->host, QX_HOST_SIZE - 1);
  CopyFieldText(key, url->host, length + 1);
  ends[0] = length;
  for (int i = 0; i < n; ++i) {
    key[length++] = '/';
    const std::size_t segment = lengths != nullptr
                                    ? lengths->segments[i]
                                    : BoundedLength(url->segments[i], QX_SEGMENT_SIZE - 1);
    CopyFieldText(key + length, url->segments[i], segment + 1);
    length += segment;
    ends[i + 1] = length;
  }
  return length;
}

bool LocateDomainKey(const QxUrl* url, const char** start, std::size_t* length) {
  return LocateDomainKey(url->host, BoundedLength(url->host, QX_HOST_SIZE - 1),
                         (url->flags & QX_URL_NUMERIC) != 0, start, length);
}

bool LocateDomainKey(const char* host, std::size_t hostLength, bool numeric, const char** start,
                     std::size_t* length) {
  if (hostLength == 0) return false;
  if (numeric) {
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
  const QxListRecord* record = FindInList(ViewOf(records, count, nullptr), url->digest);
  if (record == nullptr) return nullptr;
  TakeRecord(url, record);
  return record;
}

}  // namespace corvane

extern "C" int QX_CALL qxtsturl(QxUrl* url, const QxListRecord* records, int32_t count,
                                char* keyText) {
  using namespace corvane;
  if (count <= 0 || records == nullptr) return 0;

  KeyPlan plan;
  StartKeyPlan(url, &plan);
  PlanPartKeys(url, &plan);
  const ListView list = ViewOf(records, count, nullptr);
  int listFound = 0;
  const QxListRecord* record = nullptr;
  const int found = SearchPlannedKeys(plan, 0, plan.count, &list, 1, &listFound, &record);

  // The URL's digest and the key text describe the key that matched, or
  // on a miss the personal key, which the lookup tries last.
  const int described = found >= 0 ? found : plan.personalKey;
  const PlannedKey& key = plan.keys[described];
  std::memcpy(url->digest, plan.digests[described], sizeof(url->digest));
  if (keyText != nullptr) CopyPlannedKeyText(plan, key, keyText);
  if (found < 0) return 0;
  TakeRecord(url, record);
  if (key.step == PlannedStep::kPath) url->matchedLevel = key.level;
  return 1;
}
