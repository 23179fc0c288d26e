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

#include "base/ascii.h"
#include "bit_scan.h"
#include "corvane.h"
#include "url_parser.h"

namespace corvane {
namespace {

constexpr std::size_t kWorkSize = 512;  // 511 characters and a NUL
constexpr std::size_t kMaxHostLength = QX_HOST_SIZE - 1;
constexpr std::size_t kMaxSegmentLength = QX_SEGMENT_SIZE - 1;

using base::AsciiHexValue;
using base::IsAsciiDigit;
using base::ToAsciiUpper;

// The characters that mean the same whether written plainly or encoded.
inline bool IsUnreserved(char c) {
  return base::IsAsciiAlpha(c) || IsAsciiDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

// Reads one character of [in, end) into *out: "%XY" where it stands for an
// unreserved character is decoded, every other encoding ("%2F", "%25") stays
// as written, so no text is decoded twice and no separator appears that the
// client did not write. Returns the first character not read.
inline const char* ReadDecoded(const char* in, const char* end, char* out) {
  if (in[0] == '%' && end - in >= 3) {
    const int high = AsciiHexValue(in[1]);
    const int low = high < 0 ? -1 : AsciiHexValue(in[2]);
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
    for (std::size_t i = 0; i < length; ++i) text[i] = ToAsciiUpper(text[i]);
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
    if (ToAsciiUpper(text[i]) != kNews[i]) return false;  // also stops at the NUL
  }
  return true;
}

// The text after "://" (or "news:") is read from the caller's string in
// aligned sixteen-byte blocks: an aligned block never crosses a page, so the
// bytes after the terminator that the last block takes in are mapped, and
// they are masked off before anything looks at them. (Address and thread
// checkers cannot know that, and may find a freed neighbour in those bytes;
// the two functions that read the caller's string so are left out of their
// checks, and read nothing else.) The host and path are
// then read from a copy in a padded buffer of the parser's own, where every
// sixteen-byte load after the text finds zeros.
constexpr std::size_t kBlock = 16;
// The copy: up to 15 bytes of the block before the text, 511 characters,
// and a zero block after them.
constexpr std::size_t kPaddedSize = kBlock + kWorkSize + 2 * kBlock;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CORVANE_WHOLE_BLOCK_READ \
  __attribute__((no_sanitize_address, no_sanitize_thread, noinline))
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define CORVANE_WHOLE_BLOCK_READ __attribute__((no_sanitize("address", "thread"), noinline))
#endif
#endif
#if !defined(CORVANE_WHOLE_BLOCK_READ)
#define CORVANE_WHOLE_BLOCK_READ
#endif

// The host and path steps are inlined into the parser, whose frame then
// serves them all.
#if defined(__GNUC__) || defined(__clang__)
#define CORVANE_PARSER_STEP inline __attribute__((always_inline))
#else
#define CORVANE_PARSER_STEP inline
#endif

// A text in the padded buffer: its characters are [begin, end), *end is
// NUL and so are the sixteen bytes from end on.
struct PaddedText {
  const char* begin;
  const char* end;
};

// Bytes "0" to "15" that are (0xFF) and are not (0) before a run of n.
alignas(16) constexpr unsigned char kRunBytes[2 * kBlock] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

#if defined(CORVANE_HAVE_SSE2)
inline __m128i Load(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline std::uint32_t Mask(__m128i bytes, char c) {
  return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(c))));
}

// The sixteen bytes at p (in the padded buffer) where byte i is one of
// "/", "?", "%" or NUL: bit i.
inline std::uint32_t PathStops(const char* p) {
  const __m128i bytes = Load(p);
  const __m128i stops = _mm_or_si128(
      _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('/')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('?'))),
      _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('%')), _mm_cmpeq_epi8(bytes, _mm_setzero_si128())));
  return static_cast<std::uint32_t>(_mm_movemask_epi8(stops));
}

inline std::uint32_t CharMask(const char* p, char c) { return Mask(Load(p), c); }

// Writes the sixteen bytes at p to out, upper-cased (ASCII letters only),
// the first run of them and zeros after.
inline void StoreUpperRun(const char* p, char* out, std::size_t run) {
  const __m128i bytes = Load(p);
  // 'a' to 'z' moved to the 26 lowest signed bytes, -128 to -103.
  const __m128i shifted = _mm_add_epi8(bytes, _mm_set1_epi8(static_cast<char>(0x80 - 'a')));
  const __m128i lower = _mm_cmplt_epi8(shifted, _mm_set1_epi8(static_cast<char>(-128 + 26)));
  const __m128i upper = _mm_sub_epi8(bytes, _mm_and_si128(lower, _mm_set1_epi8(0x20)));
  const __m128i keep = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRunBytes + kBlock - run));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_and_si128(upper, keep));
}

// Finds where the authority that starts at text ends (its first " ", "/",
// "?" or NUL) and the last "@" before that (or null).
CORVANE_WHOLE_BLOCK_READ const char* ScanAuthority(const char* text, const char** lastAt) {
  const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(text);
  const char* block = text - (address & (kBlock - 1));
  std::uint32_t keep = 0xFFFFu << (address & (kBlock - 1));
  *lastAt = nullptr;
  for (;; block += kBlock, keep = 0xFFFFu) {
    const __m128i bytes = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
    const __m128i stops = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('/'))),
        _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('?')), _mm_cmpeq_epi8(bytes, _mm_setzero_si128())));
    const std::uint32_t stop = static_cast<std::uint32_t>(_mm_movemask_epi8(stops)) & keep;
    std::uint32_t at = Mask(bytes, '@') & keep;
    if (stop != 0) at &= (stop & (0u - stop)) - 1;  // those before the stop
    if (at != 0) *lastAt = block + HighestBit(at);
    if (stop != 0) return block + LowestBit(stop);
  }
}

// Copies the text up to its NUL, at most limit characters, into padded (of
// kPaddedSize bytes, aligned to 16) at the text's offset in its block.
CORVANE_WHOLE_BLOCK_READ PaddedText CopyPadded(const char* text, std::size_t limit, char* padded) {
  const std::size_t offset = reinterpret_cast<std::uintptr_t>(text) & (kBlock - 1);
  const char* block = text - offset;
  const std::size_t cut = offset + limit;
  std::uint32_t keep = 0xFFFFu << offset;
  std::size_t end = cut;
  for (std::size_t i = 0; i < cut; i += kBlock, keep = 0xFFFFu) {
    const __m128i bytes = _mm_load_si128(reinterpret_cast<const __m128i*>(block + i));
    _mm_store_si128(reinterpret_cast<__m128i*>(padded + i), bytes);
    const std::uint32_t nul = Mask(bytes, '\0') & keep;
    if (nul != 0) {
      end = i + static_cast<std::size_t>(LowestBit(nul));
      break;
    }
  }
  if (end > cut) end = cut;
  _mm_storeu_si128(reinterpret_cast<__m128i*>(padded + end), _mm_setzero_si128());
  return {padded + offset, padded + end};
}
#else
inline std::uint32_t PathStops(const char* p) {
  std::uint32_t mask = 0;
  for (std::size_t i = 0; i < kBlock; ++i) {
    const char c = p[i];
    if (c == '/' || c == '?' || c == '%' || c == '\0') mask |= 1u << i;
  }
  return mask;
}

inline std::uint32_t CharMask(const char* p, char c) {
  std::uint32_t mask = 0;
  for (std::size_t i = 0; i < kBlock; ++i) {
    if (p[i] == c) mask |= 1u << i;
  }
  return mask;
}

inline void StoreUpperRun(const char* p, char* out, std::size_t run) {
  for (std::size_t i = 0; i < kBlock; ++i) out[i] = i < run ? ToAsciiUpper(p[i]) : '\0';
}

const char* ScanAuthority(const char* text, const char** lastAt) {
  *lastAt = nullptr;
  for (;; ++text) {
    const char c = *text;
    if (c == ' ' || c == '/' || c == '?' || c == '\0') return text;
    if (c == '@') *lastAt = text;
  }
}

PaddedText CopyPadded(const char* text, std::size_t limit, char* padded) {
  std::size_t end = 0;
  while (end < limit && text[end] != '\0') {
    padded[end] = text[end];
    ++end;
  }
  std::memset(padded + end, 0, kBlock);
  return {padded, padded + end};
}
#endif

// The first c in [from, to) of a padded text, or null.
const char* FindIn(const char* from, const char* to, char c) {
  for (; from < to; from += kBlock) {
    const std::uint32_t found = CharMask(from, c);
    if (found != 0) {
      const char* p = from + LowestBit(found);
      return p < to ? p : nullptr;
    }
  }
  return nullptr;
}

// The first "?" of a padded text from p on, or its end.
const char* FindQueryOrEnd(const char* p) {
  for (;; p += kBlock) {
    const std::uint32_t found = CharMask(p, '?') | CharMask(p, '\0');
    if (found != 0) return p + LowestBit(found);
  }
}

// ReadDecoded within a padded text, whose NUL ends an encoding too.
inline const char* ReadDecodedPadded(const char* in, char* out) {
  const int high = AsciiHexValue(in[1]);  // a NUL is no digit, and the next byte is readable
  const int low = high < 0 ? -1 : AsciiHexValue(in[2]);
  if (low >= 0) {
    const char decoded = static_cast<char>(high * 16 + low);
    if (IsUnreserved(decoded)) {
      *out = decoded;
      return in + 3;
    }
  }
  *out = in[0];
  return in + 1;
}

// Decodes and upper-cases the host [in, end) of a padded text into the
// record, with trailing dots removed (never the first character), and marks
// and tidies a numeric dotted address; then cuts it to the field's 255
// characters. The rules see the whole host, so one longer than the field is
// read into work first.
CORVANE_PARSER_STEP std::size_t StoreHost(QxUrl* url, const char* in, const char* end, char* work) {
  const bool fits = static_cast<std::size_t>(end - in) <= kMaxHostLength;
  char* host = fits ? url->host : work;
  std::size_t length = 0;
  if (fits) {
    // Sixteen characters at a time (the field has room for all of them, as
    // it has for the text), those before the first "%" or the end kept and
    // zeros after them; an encoding one at a time.
    while (in < end) {
      const std::size_t left = static_cast<std::size_t>(end - in);
      std::size_t run = 0;
      if (length + kBlock <= kMaxHostLength) {
        const std::size_t limit = left < kBlock ? left : kBlock;
        run = static_cast<std::size_t>(LowestBit(CharMask(in, '%') | (1u << limit)));
        StoreUpperRun(in, host + length, run);
        in += run;
        length += run;
        if (run == kBlock || run == left) continue;
      }
      // At the field's last sixteen bytes, or an encoding.
      in = ReadDecoded(in, end, host + length);
      host[length] = ToAsciiUpper(host[length]);
      ++length;
    }
  } else {
    while (in < end) {
      // Plain characters go over in one copy, an encoding one at a time.
      const char* percent = FindIn(in, end, '%');
      const std::size_t run = static_cast<std::size_t>((percent != nullptr ? percent : end) - in);
      std::memcpy(host + length, in, run);
      length += run;
      in += run;
      if (in < end) in = ReadDecoded(in, end, host + length++);
    }
    UpperCaseBytes(host, length);
  }
  while (length > 1 && host[length - 1] == '.') --length;
  host[length] = '\0';
  std::size_t numeric = 0;
  while (numeric < length && (host[numeric] == '.' || IsAsciiDigit(host[numeric]))) ++numeric;
  if (length > 0 && numeric == length) {
    url->flags |= QX_URL_NUMERIC;
    // Leading zeros of the components after the first: at most two go per
    // component, and never a component's last digit.
    for (std::size_t dot = 0; dot < length; ++dot) {
      if (host[dot] != '.') continue;
      for (int round = 0; round < 2; ++round) {
        if (host[dot + 1] == '0' && IsAsciiDigit(host[dot + 2])) {
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

// Splits the path of a padded text, from in to its NUL, into the record's
// segments in one pass: decoded, upper-cased, each cut to 127 characters,
// at most 20; empty segments are skipped ("//games/" is "/games/") and a "?"
// ends the path.
CORVANE_PARSER_STEP void SplitPath(QxUrl* url, const char* in, UrlLengths* lengths) {
  int count = 0;
  for (;;) {
    if (*in == '/') {  // empty segments: "//games/" is "/games/"
      ++in;
      continue;
    }
    if (*in == '?' || *in == '\0') break;
    if (count >= QX_MAX_SEGMENTS) {
      // The segments are all taken; a query further on still counts.
      in = FindQueryOrEnd(in);
      break;
    }
    char* segment = url->segments[count];
    std::size_t length = 0;
    for (;;) {
      // Sixteen characters at a time while the field has room for them:
      // upper-cased and stored, those before the first "/", "?", "%" or
      // the end kept and zeros after them.
      if (length + kBlock <= kMaxSegmentLength) {
        const std::size_t run = static_cast<std::size_t>(LowestBit(PathStops(in) | 0x10000u));
        StoreUpperRun(in, segment + length, run);
        in += run;
        length += run;
        if (run == kBlock) continue;
      }
      const char c = *in;
      char out;
      if (c == '/' || c == '?' || c == '\0') break;
      if (c == '%') {
        in = ReadDecodedPadded(in, &out);
        out = ToAsciiUpper(out);
      } else {
        out = ToAsciiUpper(c);
        ++in;
      }
      // Once the field is full, its last byte is written over and over and
      // then terminated: what exceeds 127 characters is passed over.
      segment[length] = out;
      length += length < kMaxSegmentLength ? 1 : 0;
    }
    segment[length] = '\0';
    lengths->segments[count] = static_cast<std::uint8_t>(length);
    // "%7E" becomes "~" too, so a decoded "~" at the start counts.
    if (segment[0] == '~') {
      url->flags |= QX_URL_PERSONAL;
      url->tildeIndex = static_cast<std::int16_t>(count);
    }
    ++count;
  }
  if (*in == '?') url->flags |= QX_URL_QUERY;
  url->segmentCount = static_cast<std::int16_t>(count);
}

}  // namespace

int ParseUrl(QxUrl* url, const char* text, UrlLengths* lengths) {
  url->flags = 0;
  url->segmentCount = 0;
  alignas(16) char padded[kPaddedSize];
  char work[kWorkSize];

  if (const char* scheme_end = FindSchemeEnd(text)) {
    // User-info ("user:password@") is not part of the host: it ends at the
    // last "@" of the authority (up to the first "/", "?" or space). It is
    // passed over before the cut, so that a long user name cannot push the
    // host out of the characters read.
    const char* at;
    const char* authority = scheme_end + 3;
    const char* authorityEnd = ScanAuthority(authority, &at);
    if (at != nullptr) authority = at + 1;
    // The text is read from the copy, cut to 511 characters from the host on.
    const PaddedText copy = CopyPadded(authority, kWorkSize - 1, padded);
    const char* end = copy.end;
    const std::size_t authorityLength = static_cast<std::size_t>(authorityEnd - authority);
    const char* hostEnd =
        authorityLength < static_cast<std::size_t>(end - copy.begin) ? copy.begin + authorityLength : end;
    // A space or "/" starts the path; a query straight after the host
    // leaves no path.
    const char* path = hostEnd < end && *hostEnd != '?' ? hostEnd + 1 : nullptr;
    // A port follows the host after a ":"; a bracketed IPv6 address keeps
    // the colons inside its brackets.
    const char* portFrom = copy.begin;
    if (copy.begin < hostEnd && copy.begin[0] == '[') {
      if (const char* close = FindIn(copy.begin, hostEnd, ']')) portFrom = close + 1;
    }
    if (const char* colon = FindIn(portFrom, hostEnd, ':')) hostEnd = colon;
    lengths->host = static_cast<std::uint16_t>(StoreHost(url, copy.begin, hostEnd, work));
    if (path != nullptr) SplitPath(url, path, lengths);
  } else if (StartsWithNews(text)) {
    // The group's first name is the host, the others its segments.
    const PaddedText copy = CopyPadded(text + 5, kWorkSize - 1, padded);
    char* const begin = padded + (copy.begin - padded);
    char* const end = padded + (copy.end - padded);
    char* dot = const_cast<char*>(FindIn(begin, end, '.'));
    const char* hostEnd = dot != nullptr ? dot : end;
    if (dot != nullptr) {
      for (char* p = dot + 1; p < end; ++p) {
        if (*p == '.') *p = '/';
      }
    }
    lengths->host = static_cast<std::uint16_t>(StoreHost(url, begin, hostEnd, work));
    if (dot != nullptr) SplitPath(url, dot + 1, lengths);
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
  using base::ToAsciiUpper;
  if (*find == '\0') return const_cast<char*>(text);
  const char first = ToAsciiUpper(*find);
  for (; *text != '\0'; ++text) {
    if (ToAsciiUpper(*text) != first) continue;
    std::size_t i = 1;
    while (find[i] != '\0' && ToAsciiUpper(text[i]) == ToAsciiUpper(find[i])) ++i;
    if (find[i] == '\0') return const_cast<char*>(text);
  }
  return nullptr;
}

}  // extern "C"
