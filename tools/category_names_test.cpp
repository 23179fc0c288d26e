#include "category_names.h"

#include <gtest/gtest.h>

namespace corvane_tool {
namespace {

struct CategoryCase {
  const char* text;
  bool valid;
  std::uint32_t categories;
};

std::uint32_t Bits(std::initializer_list<int> numbers) {
  std::uint32_t word = 0;
  for (int n : numbers) word |= CategoryBit(n);
  return word;
}

TEST(CategoryListTest, ParsesNumbersNamesAndLists) {
  const CategoryCase cases[] = {
      {"1", true, Bits({1})},
      {"27", true, Bits({27})},
      {"2,7", true, Bits({2, 7})},
      {" 2 , 7 ", true, Bits({2, 7})},
      {"Drugs,Gambling", true, Bits({2, 7})},
      {"sex", true, Bits({1})},
      {"HATE SPEECH", true, Bits({3})},
      {"On-Line Sales/Merchandising", true, Bits({6})},
      // A name that holds commas itself, alone and inside a list.
      {"Opinion, Politics, & Religion", true, Bits({20})},
      {"Sex,Opinion, Politics, & Religion,7", true, Bits({1, 20, 7})},
      {"art & culture, 27", true, Bits({22, 27})},
      {"1,1", true, Bits({1})},
      {"0", false, 0},
      {"28", false, 0},
      {"-1", false, 0},
      {"007", true, Bits({7})},
      {"0007", false, 0},
      {"Gamblin", false, 0},
      {"Sexy", false, 0},
      {"", false, 0},
      {"1,", false, 0},
      {",1", false, 0},
      {"1,,2", false, 0},
      {"Opinion", false, 0},
  };
  for (const CategoryCase& c : cases) {
    std::uint32_t word = 0xFFFFFFFF;
    std::string error;
    bool valid = ParseCategoryList(c.text, &word, &error);
    EXPECT_EQ(valid, c.valid) << "\"" << c.text << "\": " << error;
    if (valid && c.valid) {
      EXPECT_EQ(word, c.categories) << c.text;
    }
    if (!valid) {
      EXPECT_FALSE(error.empty()) << c.text;
    }
  }
}

TEST(CategoryListTest, FormattedNamesParseBack) {
  for (int n = 1; n <= 27; ++n) {
    std::uint32_t word = 0;
    std::string error;
    ASSERT_TRUE(ParseCategoryList(CategoryName(n), &word, &error)) << CategoryName(n);
    EXPECT_EQ(word, CategoryBit(n)) << CategoryName(n);
  }
  std::uint32_t word = 0;
  std::string error;
  std::uint32_t all = Bits({1, 5, 20, 27});
  ASSERT_TRUE(ParseCategoryList(FormatCategoryNumbers(all), &word, &error));
  EXPECT_EQ(word, all);
  EXPECT_EQ(FormatCategoryNames(0), "none");
  EXPECT_NE(FormatCategoryNames(0x1).find("other bits"), std::string::npos);
}

}  // namespace
}  // namespace corvane_tool
