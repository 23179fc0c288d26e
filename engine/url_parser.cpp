// url_parser.cpp -- splits a URL text into the upper-case host, path
// segments and attributes from which the lookup keys are built.
//
// The parser reads the text after "://" in place, cut to 511 characters:
// the host is its front part, the path the rest. Each character is read
// once, decoded and upper-cased as it is written into the record's fixed
// fields. (A "news:" group is copied first, its dots turned into "/".)
//
// Origins read a URL more loosely than its text suggests: user-info before
// "@" is not part of the host, "%67" is "g", and "//games/" is "/games/".
// The parser reads it the same way, so that none of these spellings gets a
// URL past the list that names it.
#include <cstddef>
#include <cstdint>
#include <cstring>


#include "corvane.h"
#include "bit_scan.h"
#include "url_parser.h"

namespace corvane {
namespace {

constexpr std::size_t kWorkSize = 512;  // 511 characters and a NUL
constexpr std::size_t kMaxHostLength = QX_HOST_SIZE - 1;
constexpr std::size_t kMaxSegmentLength = QX_SEGMENT_SIZE - 1;

constexpr char ToUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The characters that mean the same whether written plainly or encoded.
inline bool IsUnreserved(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

// Reads one character of [in, end) into *out: "%XY" where it stands for an
// unreserved character is decoded, every other encoding ("%2F", "%25") stays
// as written, so no text is decoded twice and no separator appears that the
// client did not write. Returns the first character not read.
inline const char* ReadDecoded(const char* in, const char* end, char* out) {
  if (in[0] == '%' && end - in >= 3) {
    const int high = HexValue(in[1]);
    const int low = high < 0 ? -1 : HexValue(in[2]);
    if (low >= 0) {
      const char decoded = static_cast<char>(high * 16 + low);
      if (IsUnreserved(decoded)) {
        *out = decoded;
        return in + 3;
      }
    }
  }
  *out = in[0];
  return in + 1;
}

// The first "://" in text, or null.
const char* FindSchemeEnd(const char* text) {
  for (const char* p = std::strchr(text, ':'); p != nullptr; p = std::strchr(p + 1, ':')) {
    if (p[1] == '/' && p[2] == '/') return p;
  }
  return nullptr;
}

// Upper-cases eight bytes (ASCII letters only) at once: in each byte below
// 0x80, adding 0x1F sets the top bit from 'a' up and adding 0x05 from '{' up,
// so the bytes with the first and not the second are the lower-case letters;
// their 0x20 bit is cleared. No byte carries into the next, as no sum
// exceeds 0x9E.
void UpperCaseWord(char* text) {
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  constexpr std::uint64_t kTop = 0x8080808080808080ull;
  std::uint64_t word;
  std::memcpy(&word, text, 8);
  const std::uint64_t low = word & kLow7;
  const std::uint64_t fromA = low + 0x1F1F1F1F1F1F1F1Full;
  const std::uint64_t pastZ = low + 0x0505050505050505ull;
  const std::uint64_t letters = fromA & ~pastZ & ~word & kTop;
  word ^= letters >> 2;
  std::memcpy(text, &word, 8);
}

// Upper-cases length bytes, a word at a time.
void UpperCaseBytes(char* text, std::size_t length) {
  if (length < 8) {
    for (std::size_t i = 0; i < length; ++i) text[i] = ToUpper(text[i]);
    return;
  }
  std::size_t i = 0;
  for (; i + 8 <= length; i += 8) UpperCaseWord(text + i);
  // The last, partial word: the last eight bytes once more (upper-casing
  // twice changes nothing).
  if (i < length) UpperCaseWord(text + length - 8);
}

bool StartsWithNews(const char* text) {
  static const char kNews[] = "NEWS:";
  for (std::size_t i = 0; i < sizeof(kNews) - 1; ++i) {
    if (ToUpper(text[i]) != kNews[i]) return false;  // also stops at the NUL
  }
  return true;
}

// The length of text up to its NUL, at most limit; memchr reads no further
// than the text.
std::size_t BoundedLength(const char* text, std::size_t limit) {
  const void* end = std::memchr(text, '\0', limit);
  return end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - text) : limit;
}

// Decodes and upper-cases the host [in, end) into the record, with trailing
// dots removed (never the first character), and marks and tidies a numeric
// dotted address; then cuts it to the field's 255 characters. The rules see
// the whole host, so one longer than the field is read into work first.
std::size_t StoreHost(QxUrl* url, const char* in, const char* end, char* work) {
  char* host = static_cast<std::size_t>(end - in) <= kMaxHostLength ? url->host : work;
  std::size_t length = 0;
  while (in < end) {
    // Plain characters go over in one copy, an encoding one at a time.
    // (Hosts are rarely encoded: memchr finds that in a few vector steps.)
    const void* percent = std::memchr(in, '%', static_cast<std::size_t>(end - in));
    const std::size_t run = percent != nullptr
                                ? static_cast<std::size_t>(static_cast<const char*>(percent) - in)
                                : static_cast<std::size_t>(end - in);
    std::memcpy(host + length, in, run);
    length += run;
    in += run;
    if (in < end) in = ReadDecoded(in, end, host + length++);
  }
  UpperCaseBytes(host, length);
  while (length > 1 && host[length - 1] == '.') --length;
  host[length] = '\0';
  std::size_t numeric = 0;
  while (numeric < length && (host[numeric] == '.' || IsDigit(host[numeric]))) ++numeric;
  if (length > 0 && numeric == length) {
    url->flags |= QX_URL_NUMERIC;
    // Leading zeros of the components after the first: at most two go per
    // component, and never a component's last digit.
    for (std::size_t dot = 0; dot < length; ++dot) {
      if (host[dot] != '.') continue;
      for (int round = 0; round < 2; ++round) {
        if (host[dot + 1] == '0' && IsDigit(host[dot + 2])) {
          std::memmove(host + dot + 1, host + dot + 2, length - (dot + 1));  // with the NUL
          --length;
        }
      }
    }
  }
  if (host != url->host) {
    if (length > kMaxHostLength) length = kMaxHostLength;
    std::memcpy(url->host, host, length);
    url->host[length] = '\0';
  }
  return length;
}

// For each byte of a path: whether it ends a run of plain characters ("/",
// "?", "%"), and its upper case.
struct PathTable {
  bool stops[256];
  char upper[256];
  constexpr PathTable() : stops(), upper() {
    for (int c = 0; c < 256; ++c) upper[c] = ToUpper(static_cast<char>(c));
    stops[static_cast<unsigned char>('/')] = true;
    stops[static_cast<unsigned char>('?')] = true;
    stops[static_cast<unsigned char>('%')] = true;
  }
};
constexpr PathTable kPathTable;

#if defined(CORVANE_HAVE_SSE2)
// Upper-cases the 16 bytes at in (ASCII letters only) into out and returns
// a mask of those that end a plain run ("/", "?", "%"), bit i for byte i.
inline std::uint32_t PlainRunOf16(const char* in, char* out) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  // 'a' to 'z' moved to the 26 lowest signed bytes, -128 to -103.
  const __m128i shifted = _mm_add_epi8(bytes, _mm_set1_epi8(static_cast<char>(0x80 - 'a')));
  const __m128i lower = _mm_cmplt_epi8(shifted, _mm_set1_epi8(static_cast<char>(-128 + 26)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                   _mm_sub_epi8(bytes, _mm_and_si128(lower, _mm_set1_epi8(0x20))));
  const __m128i stops = _mm_or_si128(
      _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('/')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('?'))),
      _mm_cmpeq_epi8(bytes, _mm_set1_epi8('%')));
  return static_cast<std::uint32_t>(_mm_movemask_epi8(stops));
}
#endif

// Splits the path [in, end) into the record's segments in one pass:
// decoded, upper-cased, each cut to 127 characters, at most 20; empty
// segments are skipped ("//games/" is "/games/") and a "?" ends the path.
void SplitPath(QxUrl* url, const char* in, const char* end, UrlLengths* lengths) {
  int count = 0;
  while (in < end) {
    if (*in == '/') {  // empty segments: "//games/" is "/games/"
      ++in;
      continue;
    }
    if (*in == '?') break;
    if (count >= QX_MAX_SEGMENTS) {
      // The segments are all taken; a query further on still counts.
      in = static_cast<const char*>(std::memchr(in, '?', static_cast<std::size_t>(end - in)));
      if (in == nullptr) in = end;
      break;
    }
    char* segment = url->segments[count];
    std::size_t length = 0;
    std::size_t written = 0;  // how far sixteen-byte stores reached
    while (in < end) {
#if defined(CORVANE_HAVE_SSE2)
      // Sixteen characters at a time while the text and the field have
      // room for them: upper-cased and stored whole, of which the ones
      // before the first "/", "?" or "%" count.
      if (end - in >= 16 && length + 16 <= kMaxSegmentLength) {
        const std::uint32_t stops = PlainRunOf16(in, segment + length);
        written = length + 16;
        if (stops == 0) {
          in += 16;
          length += 16;
          continue;
        }
        const int run = LowestBit(stops);
        in += run;
        length += static_cast<std::size_t>(run);
      }
#endif
      const unsigned char c = static_cast<unsigned char>(*in);
      char out;
      if (kPathTable.stops[c]) {
        if (c != '%') break;  // "/" or "?"
        in = ReadDecoded(in, end, &out);
        out = ToUpper(out);
      } else {
        out = kPathTable.upper[c];
        ++in;
      }
      // Once the field is full, its last byte is written over and over and
      // then terminated: what exceeds 127 characters is passed over.
      segment[length] = out;
      length += length < kMaxSegmentLength ? 1 : 0;
    }
    segment[length] = '\0';
    // What a sixteen-byte store put after the text is cleared, so that the
    // field holds its text and zeros, as it did before the store.
    if (written > length + 1) std::memset(segment + length + 1, 0, written - length - 1);
    lengths->segments[count] = static_cast<std::uint8_t>(length);
    // "%7E" becomes "~" too, so a decoded "~" at the start counts.
    if (segment[0] == '~') {
      url->flags |= QX_URL_PERSONAL;
      url->tildeIndex = static_cast<std::int16_t>(count);
    }
    ++count;
  }
  if (in < end && *in == '?') url->flags |= QX_URL_QUERY;
  url->segmentCount = static_cast<std::int16_t>(count);
}

}  // namespace

int ParseUrl(QxUrl* url, const char* text, UrlLengths* lengths) {
  url->flags = 0;
  url->segmentCount = 0;
  char work[kWorkSize];

  if (const char* scheme_end = FindSchemeEnd(text)) {
    // User-info ("user:password@") is not part of the host: it ends at the
    // last "@" of the authority (up to the first "/", "?" or space). It is
    // passed over before the cut, so that a long user name cannot push the
    // host out of the characters read.
    const char* authority = scheme_end + 3;
    const char* authorityEnd = authority + std::strcspn(authority, " /?");
    // Most URLs carry none: memchr says so in a few vector steps.
    const void* at = std::memchr(authority, '@', static_cast<std::size_t>(authorityEnd - authority));
    for (const char* p = authorityEnd; at != nullptr && p > authority; --p) {
      if (p[-1] == '@') {
        authority = p;
        break;
      }
    }
    // The text is read in place, cut to 511 characters from the host on.
    const char* end = authority + BoundedLength(authority, kWorkSize - 1);
    const char* hostEnd = authorityEnd < end ? authorityEnd : end;
    // A space or "/" starts the path; a query straight after the host
    // leaves no path.
    const char* path = hostEnd < end && *hostEnd != '?' ? hostEnd + 1 : nullptr;
    // A port follows the host after a ":"; a bracketed IPv6 address keeps
    // the colons inside its brackets.
    const char* portFrom = authority;
    if (authority < hostEnd && authority[0] == '[') {
      if (const void* close = std::memchr(authority, ']', static_cast<std::size_t>(hostEnd - authority))) {
        portFrom = static_cast<const char*>(close) + 1;
      }
    }
    if (const void* colon = std::memchr(portFrom, ':', static_cast<std::size_t>(hostEnd - portFrom))) {
      hostEnd = static_cast<const char*>(colon);
    }
    lengths->host = static_cast<std::uint16_t>(StoreHost(url, authority, hostEnd, work));
    if (path != nullptr) SplitPath(url, path, end, lengths);
  } else if (StartsWithNews(text)) {
    // The group's first name is the host, the others its segments.
    const char* group = text + 5;
    const std::size_t length = BoundedLength(group, kWorkSize - 1);
    std::memcpy(work, group, length);
    const char* end = work + length;
    char* dot = static_cast<char*>(std::memchr(work, '.', length));
    const char* hostEnd = dot != nullptr ? dot : end;
    if (dot != nullptr) {
      for (char* p = dot + 1; p < end; ++p) {
        if (*p == '.') *p = '/';
      }
    }
    // A host longer than the field needs a buffer of its own.
    char hostWork[kWorkSize];
    lengths->host = static_cast<std::uint16_t>(StoreHost(url, work, hostEnd, hostWork));
    if (dot != nullptr) SplitPath(url, dot + 1, end, lengths);
  } else {
    url->host[0] = '\0';
    lengths->host = 0;
    return 0;
  }
  return 1;
}

}  // namespace corvane

extern "C" {

int QX_CALL qxprsurl(QxUrl* url, const char* text) {
  corvane::UrlLengths lengths;
  return corvane::ParseUrl(url, text, &lengths);
}

char* QX_CALL stristr(const char* text, const char* find) {
  using corvane::ToUpper;
  if (*find == '\0') return const_cast<char*>(text);
  const char first = ToUpper(*find);
  for (; *text != '\0'; ++text) {
    if (ToUpper(*text) != first) continue;
    std::size_t i = 1;
    while (find[i] != '\0' && ToUpper(text[i]) == ToUpper(find[i])) ++i;
    if (find[i] == '\0') return const_cast<char*>(text);
  }
  return nullptr;
}

}  // extern "C"
