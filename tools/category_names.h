// category_names.h -- the 27 category names, and category lists in text
// ("2,7", "Drugs,Gambling", "Sex, 7").
#ifndef PELLUMIN_TOOLS_CATEGORY_NAMES_H_
#define PELLUMIN_TOOLS_CATEGORY_NAMES_H_

#include <cstdint>
#include <string>

#include "corvane.h"

namespace corvane_tool {

// The name of category n (1..27), or null for any other n.
const char* CategoryName(int category);

// The category word bit of category n (1..27), QX_CATEGORY_BIT(n), as a
// function for the tool's callers.
inline std::uint32_t CategoryBit(int category) { return QX_CATEGORY_BIT(category); }

// Parses a category list: numbers 1..27 and names (compared without regard to
// case) joined by ",". Names may themselves hold commas ("Opinion, Politics,
// & Religion"); the longest name that fits is taken. On success stores the
// category word in *categories; otherwise explains in *error.
bool ParseCategoryList(const std::string& text, std::uint32_t* categories, std::string* error);

// "2,7" for a category word (bits outside the 27 categories are left out).
std::string FormatCategoryNumbers(std::uint32_t categories);

// "2 Drugs, 7 Gambling"; "none" for an empty word. Bits outside the 27
// categories are shown as "other bits 0x...".
std::string FormatCategoryNames(std::uint32_t categories);

}  // namespace corvane_tool

#endif  // PELLUMIN_TOOLS_CATEGORY_NAMES_H_
