// url_parser.cpp -- splits a URL text into the upper-case host, path
// segments and attributes from which the lookup keys are built.
//
// The parser works in one stack buffer: the text after "://" (or "news:"),
// cut to 511 characters. The host is its front part, the path the rest, and
// both are normalised in place before they are copied into the record's
// fixed fields.
//
// Origins read a URL more loosely than its text suggests: user-info before
// "@" is not part of the host, "%67" is "g", and "//games/" is "/games/".
// The parser reads it the same way, so that none of these spellings gets a
// URL past the list that names it.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "corvane.h"

namespace corvane {
namespace {

constexpr std::size_t kWorkSize = 512;  // 511 characters and a NUL
constexpr std::size_t kMaxHostLength = QX_HOST_SIZE - 1;
constexpr std::size_t kMaxSegmentLength = QX_SEGMENT_SIZE - 1;

inline char ToUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
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

// Decodes "%XY" where it stands for an unreserved character, in place; every
// other encoding ("%2F", "%25") stays as written, so no text is decoded twice
// and no separator appears that the client did not write. Returns the new
// length.
std::size_t DecodeUnreserved(char* text) {
  char* out = text;
  for (const char* in = text; *in != '\0';) {
    if (in[0] == '%') {
      const int high = HexValue(in[1]);
      const int low = high < 0 ? -1 : HexValue(in[2]);
      if (low >= 0) {
        const char decoded = static_cast<char>(high * 16 + low);
        if (IsUnreserved(decoded)) {
          *out++ = decoded;
          in += 3;
          continue;
        }
      }
    }
    *out++ = *in++;
  }
  *out = '\0';
  return static_cast<std::size_t>(out - text);
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

void UpperCase(char* text) { UpperCaseBytes(text, std::strlen(text)); }

// Copies at most kWorkSize - 1 characters of text and terminates them.
std::size_t CopyCut(char* work, const char* text) {
  // memchr stops at the first NUL, so it reads no further than the text.
  const void* end = std::memchr(text, '\0', kWorkSize - 1);
  const std::size_t length =
      end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - text) : kWorkSize - 1;
  std::memcpy(work, text, length);
  work[length] = '\0';
  return length;
}

// The first "://" in text, or null.
const char* FindSchemeEnd(const char* text) {
  for (const char* p = std::strchr(text, ':'); p != nullptr; p = std::strchr(p + 1, ':')) {
    if (p[1] == '/' && p[2] == '/') return p;
  }
  return nullptr;
}

bool StartsWithNews(const char* text) {
  static const char kNews[] = "NEWS:";
  for (std::size_t i = 0; i < sizeof(kNews) - 1; ++i) {
    if (ToUpper(text[i]) != kNews[i]) return false;  // also stops at the NUL
  }
  return true;
}

// Removes trailing dots (never the first character), upper-cases, and marks
// and tidies a numeric dotted address. Returns the new length.
std::size_t NormaliseHost(char* host, std::size_t length, std::uint8_t* flags) {
  while (length > 1 && host[length - 1] == '.') host[--length] = '\0';
  UpperCaseBytes(host, length);
  if (length == 0) return 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (host[i] != '.' && !IsDigit(host[i])) return length;
  }
  *flags |= QX_URL_NUMERIC;
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
  return length;
}

void StoreField(char* field, std::size_t room, const char* text, std::size_t length) {
  if (length > room - 1) length = room - 1;
  std::memcpy(field, text, length);
  field[length] = '\0';
}

void SplitPath(QxUrl* url, char* path) {
  DecodeUnreserved(path);  // "%7E" becomes "~" here, at a segment's start or anywhere
  UpperCase(path);
  url->segmentCount = 0;
  if (char* query = std::strchr(path, '?')) {
    *query = '\0';
    url->flags |= QX_URL_QUERY;
  }
  char* rest = path;
  for (;;) {
    while (*rest == '/') ++rest;  // empty segments: "//games/" is "/games/"
    if (*rest == '\0') break;
    if (*rest == '~') {
      url->flags |= QX_URL_PERSONAL;
      url->tildeIndex = url->segmentCount;
    }
    char* slash = std::strchr(rest, '/');
    const std::size_t length = slash != nullptr ? static_cast<std::size_t>(slash - rest)
                                                : std::strlen(rest);
    StoreField(url->segments[url->segmentCount], QX_SEGMENT_SIZE, rest, length);
    ++url->segmentCount;
    if (url->segmentCount >= QX_MAX_SEGMENTS || slash == nullptr) break;
    rest = slash + 1;
  }
}

}  // namespace
}  // namespace corvane

extern "C" {

int QX_CALL qxprsurl(QxUrl* url, const char* text) {
  using namespace corvane;
  url->flags = 0;
  char work[kWorkSize];
  char* host = work;
  char* path = nullptr;  // null: no path

  if (const char* scheme_end = FindSchemeEnd(text)) {
    // User-info ("user:password@") is not part of the host: it ends at the
    // last "@" of the authority (up to the first "/", "?" or space). It is
    // passed over before the cut, so that a long user name cannot push the
    // host out of the characters read.
    const char* authority = scheme_end + 3;
    const std::size_t authorityLength = std::strcspn(authority, " /?");
    for (std::size_t i = authorityLength; i > 0; --i) {
      if (authority[i - 1] == '@') {
        authority += i;
        break;
      }
    }
    const std::size_t length = CopyCut(work, authority);
    std::size_t i = 0;
    for (; i < length; ++i) {
      const char c = work[i];
      if (c == ' ' || c == '/') {
        work[i] = '\0';
        path = work + i + 1;
        break;
      }
      if (c == '?') {
        work[i] = '\0';  // a query straight after the host leaves no path
        break;
      }
    }
    // A port follows the host after a ":"; a bracketed IPv6 address keeps
    // the colons inside its brackets.
    char* portFrom = host;
    if (host[0] == '[') {
      if (char* close = std::strchr(host, ']')) portFrom = close + 1;
    }
    if (char* colon = std::strchr(portFrom, ':')) *colon = '\0';
  } else if (StartsWithNews(text)) {
    CopyCut(work, text + 5);
    if (char* dot = std::strchr(work, '.')) {
      *dot = '\0';
      path = dot + 1;
      for (char* p = path; *p != '\0'; ++p) {
        if (*p == '.') *p = '/';
      }
    }
  } else {
    url->segmentCount = 0;
    url->host[0] = '\0';
    return 0;
  }

  std::size_t hostLength = DecodeUnreserved(host);
  hostLength = NormaliseHost(host, hostLength, &url->flags);
  // A host beyond the field's 255 characters is cut to fit.
  StoreField(url->host, QX_HOST_SIZE, host, hostLength);

  url->segmentCount = 0;
  if (path != nullptr) SplitPath(url, path);
  return 1;
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
