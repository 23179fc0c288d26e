#include "category_names.h"

#include <cstdio>
#include <string_view>

#include "base/ascii.h"
#include "category_table.h"
#include "corvane.h"

namespace corvane_tool {
namespace {

// The names by category number, from the plug-in's category table (where
// the administrator sees them); [0] is unused.
struct NamesByNumber {
  const char* names[QX_CATEGORY_COUNT + 1] = {};
  NamesByNumber() {
    for (const settings::CategoryTableRow& row : settings::kCategoryTable) {
      names[row.categoryNumber] = row.name;
    }
  }
};
const NamesByNumber kByNumber;
const char* const* const kCategoryNames = kByNumber.names;

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

// True when text[pos..] begins with name, without regard to case.
bool StartsWithName(const std::string& text, std::size_t pos, const char* name) {
  return pos <= text.size() && base::StartsWithAsciiNoCase(std::string_view(text).substr(pos), name);
}

std::size_t SkipSpaces(const std::string& text, std::size_t pos) {
  while (pos < text.size() && IsSpace(text[pos])) ++pos;
  return pos;
}

}  // namespace

const char* CategoryName(int category) {
  if (category < 1 || category > QX_CATEGORY_COUNT) return nullptr;
  return kCategoryNames[category];
}

bool ParseCategoryList(const std::string& text, std::uint32_t* categories, std::string* error) {
  std::uint32_t word = 0;
  std::size_t pos = SkipSpaces(text, 0);
  if (pos == text.size()) {
    *error = "no category given";
    return false;
  }
  while (true) {
    pos = SkipSpaces(text, pos);
    // The longest name that stands here and is followed by "," or the end.
    int found = 0;
    std::size_t foundEnd = 0;
    for (int n = 1; n <= QX_CATEGORY_COUNT; ++n) {
      if (!StartsWithName(text, pos, kCategoryNames[n])) continue;
      std::size_t end = SkipSpaces(text, pos + std::char_traits<char>::length(kCategoryNames[n]));
      if (end != text.size() && text[end] != ',') continue;
      if (found == 0 || end > foundEnd) {
        found = n;
        foundEnd = end;
      }
    }
    std::size_t next;
    if (found != 0) {
      next = foundEnd;
    } else {
      next = text.find(',', pos);
      if (next == std::string::npos) next = text.size();
      std::size_t end = next;
      while (end > pos && IsSpace(text[end - 1])) --end;
      std::string token = text.substr(pos, end - pos);
      if (token.empty()) {
        *error = "empty category in \"" + text + "\"";
        return false;
      }
      int number = 0;
      bool digits = token.size() <= 3;
      for (char c : token) {
        if (!base::IsAsciiDigit(c)) digits = false;
        else number = number * 10 + (c - '0');
      }
      if (!digits) {
        *error = "unknown category \"" + token + "\"";
        return false;
      }
      if (number < 1 || number > QX_CATEGORY_COUNT) {
        *error = "category " + token + " is outside 1.." + std::to_string(QX_CATEGORY_COUNT);
        return false;
      }
      found = number;
    }
    word |= CategoryBit(found);
    if (next == text.size()) break;
    pos = next + 1;  // past the ","
    if (SkipSpaces(text, pos) == text.size()) {
      *error = "empty category in \"" + text + "\"";
      return false;
    }
  }
  *categories = word;
  return true;
}

std::string FormatCategoryNumbers(std::uint32_t categories) {
  std::string out;
  for (int n = 1; n <= QX_CATEGORY_COUNT; ++n) {
    if ((categories & CategoryBit(n)) == 0) continue;
    if (!out.empty()) out += ',';
    out += std::to_string(n);
  }
  return out;
}

std::string FormatCategoryNames(std::uint32_t categories) {
  std::string out;
  for (int n = 1; n <= QX_CATEGORY_COUNT; ++n) {
    if ((categories & CategoryBit(n)) == 0) continue;
    if (!out.empty()) out += ", ";
    out += std::to_string(n);
    out += ' ';
    out += kCategoryNames[n];
  }
  std::uint32_t other = categories & ~static_cast<std::uint32_t>(QX_ALL_CATEGORIES);
  if (other != 0) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "other bits 0x%08X", static_cast<unsigned>(other));
    if (!out.empty()) out += ", ";
    out += buffer;
  }
  if (out.empty()) out = "none";
  return out;
}

}  // namespace corvane_tool
