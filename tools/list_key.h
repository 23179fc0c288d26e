// list_key.h -- turns the entries of a text list into the key strings and
// digests that the lookup builds, through the engine's own parser and key
// builders, so that a compiled list cannot drift from the lookup.
#ifndef PELLUMIN_TOOLS_LIST_KEY_H_
#define PELLUMIN_TOOLS_LIST_KEY_H_

#include <cstdint>
#include <string>

namespace corvane_tool {

enum class KeyForm {
  kPath,      // the full path key of a URL or "host/path" (the bare host for a host)
  kDomain,    // the domain key of a host
  kPersonal,  // the personal-page key: host and segments up to the "~" one
};

struct ListKey {
  std::string text;           // the key as digested, cut to 1023 characters
  std::size_t length = 0;     // the key's full length
  std::uint8_t digest[16] = {};
  bool queryDropped = false;  // the entry carried a "?" query, which no key holds
};

// True when text is written as a URL: it contains "://" or begins with
// "news:" (without regard to case). Anything else is read as "host/path".
bool LooksLikeUrl(const std::string& text);

// Makes the key of one entry. The entry is trimmed by the caller; it must not
// be empty or hold spaces. A "host/path" entry is read as "http://host/path".
bool MakeListKey(const std::string& entry, KeyForm form, ListKey* key, std::string* error);

// Hex text of a digest, 32 lower-case digits.
std::string DigestHex(const std::uint8_t digest[16]);

}  // namespace corvane_tool

#endif  // PELLUMIN_TOOLS_LIST_KEY_H_
