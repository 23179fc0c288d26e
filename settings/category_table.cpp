// category_table.cpp -- the category table as constant data.
#include "category_table.h"

#include <cstring>

namespace settings {

const CategoryTableRow kCategoryTable[QX_CATEGORY_COUNT] = {
    {"Alternative Journals", 13, 0},
    {"Art & Culture", 22, 0},
    {"Chat", 17, 0},
    {"Criminal Skills", 4, 1},
    {"Cults", 23, 1},
    {"Dating", 21, 0},
    {"Drugs", 2, 1},
    {"Entertainment", 14, 0},
    {"Extreme", 16, 1},
    {"Gambling", 7, 0},
    {"Games", 11, 0},
    {"General News", 19, 0},
    {"Hate Speech", 3, 1},
    {"Humor", 12, 0},
    {"Investing", 18, 0},
    {"Job Search", 9, 0},
    {"Lifestyle", 15, 0},
    {"Non Essential", 27, 0},
    {"On-Line Sales/Merchandising", 6, 0},
    {"Opinion, Politics, & Religion", 20, 0},
    {"Personal Pages", 8, 0},
    {"Self Help", 25, 0},
    {"Sex", 1, 1},
    {"Sports", 10, 0},
    {"Travel", 26, 0},
    {"Usenet News", 24, 0},
    {"Worthless", 5, 1},
};

bool MakeStateValueName(const char* categoryName, char* out) {
  static const char kSuffix[] = "State";
  const std::size_t nameLength = std::strlen(categoryName);
  if (nameLength + sizeof(kSuffix) > static_cast<std::size_t>(kStateValueNameSize)) {
    out[0] = '\0';
    return false;
  }
  std::memcpy(out, categoryName, nameLength);
  std::memcpy(out + nameLength, kSuffix, sizeof(kSuffix));
  return true;
}

}  // namespace settings
