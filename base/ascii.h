// ascii.h -- case folding and comparison of 8-bit text, ASCII letters only.
//
// URLs, host names, registry key names and category names compare without
// regard to case for the 26 ASCII letters alone: bytes 0x80 and above, and
// every other byte, stay as they are. Unlike std::toupper and strcasecmp
// these never depend on the C locale, and they take any char (a negative
// char is no undefined behaviour here).
#ifndef PELLUMIN_BASE_ASCII_H_
#define PELLUMIN_BASE_ASCII_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace base {

constexpr bool IsAsciiLower(char c) { return c >= 'a' && c <= 'z'; }
constexpr bool IsAsciiUpper(char c) { return c >= 'A' && c <= 'Z'; }
constexpr bool IsAsciiAlpha(char c) { return IsAsciiLower(c) || IsAsciiUpper(c); }
constexpr bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool IsAsciiHexDigit(char c) {
  return IsAsciiDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
// Space, tab, CR, LF, vertical tab and form feed.
constexpr bool IsAsciiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

constexpr char ToAsciiUpper(char c) {
  return IsAsciiLower(c) ? static_cast<char>(c - 'a' + 'A') : c;
}
constexpr char ToAsciiLower(char c) {
  return IsAsciiUpper(c) ? static_cast<char>(c - 'A' + 'a') : c;
}

// The value of a hexadecimal digit, or -1 for any other byte.
constexpr int AsciiHexValue(char c) {
  return IsAsciiDigit(c)           ? c - '0'
         : (c >= 'a' && c <= 'f') ? c - 'a' + 10
         : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                  : -1;
}

inline void UpperAsciiInPlace(char* text, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) text[i] = ToAsciiUpper(text[i]);
}
inline void UpperAsciiInPlace(std::string* text) {
  UpperAsciiInPlace(text->data(), text->size());
}
inline void LowerAsciiInPlace(std::string* text) {
  for (char& c : *text) c = ToAsciiLower(c);
}
inline std::string ToAsciiUpper(std::string_view text) {
  std::string out(text);
  UpperAsciiInPlace(&out);
  return out;
}
inline std::string ToAsciiLower(std::string_view text) {
  std::string out(text);
  LowerAsciiInPlace(&out);
  return out;
}

// <0, 0 or >0 as a is before, equal to or after b once both are folded to
// upper case, comparing bytes as unsigned; a shorter text that is a prefix
// of the longer one comes first.
inline int CompareAsciiNoCase(std::string_view a, std::string_view b) {
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    const auto x = static_cast<unsigned char>(ToAsciiUpper(a[i]));
    const auto y = static_cast<unsigned char>(ToAsciiUpper(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

inline bool EqualsAsciiNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareAsciiNoCase(a, b) == 0;
}

inline bool StartsWithAsciiNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsAsciiNoCase(text.substr(0, prefix.size()), prefix);
}

// text without the ASCII blanks at either end.
inline std::string TrimAsciiSpace(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsAsciiSpace(text[begin])) ++begin;
  while (end > begin && IsAsciiSpace(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

// The parts of text between separators: "a,,b" is "a", "", "b"; "" is "".
inline std::vector<std::string> SplitAt(std::string_view text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(separator, start);
    parts.emplace_back(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) return parts;
    start = at + 1;
  }
}

}  // namespace base

#endif  // PELLUMIN_BASE_ASCII_H_
