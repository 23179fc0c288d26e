// ASCII folding and comparison, and little-endian coding: the edges where a
// hand-written version usually goes wrong (bytes 0x80 and above, the C
// locale, prefixes of different lengths, the top bits of each width).
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/ascii.h"
#include "base/endian.h"

namespace base {
namespace {

TEST(AsciiTest, FoldsOnlyTheAsciiLetters) {
  struct Case {
    int byte;
    int upper;
    int lower;
  } cases[] = {
      {'a', 'A', 'a'}, {'z', 'Z', 'z'}, {'A', 'A', 'a'}, {'Z', 'Z', 'z'},
      {'@', '@', '@'},  // just before 'A'
      {'[', '[', '['},  // just after 'Z'
      {'`', '`', '`'},  // just before 'a'
      {'{', '{', '{'},  // just after 'z'
      {'0', '0', '0'}, {0, 0, 0}, {0x7F, 0x7F, 0x7F},
      {0x80, 0x80, 0x80}, {0xC4, 0xC4, 0xC4},  // Latin-1 A-umlaut
      {0xE4, 0xE4, 0xE4},                      // Latin-1 a-umlaut
      {0xDD, 0xDD, 0xDD}, {0xFD, 0xFD, 0xFD},  // ISO-8859-9 dotted/dotless I
      {0xFF, 0xFF, 0xFF},
  };
  for (const Case& c : cases) {
    const char ch = static_cast<char>(c.byte);
    EXPECT_EQ(static_cast<unsigned char>(ToAsciiUpper(ch)), c.upper) << c.byte;
    EXPECT_EQ(static_cast<unsigned char>(ToAsciiLower(ch)), c.lower) << c.byte;
  }
}

TEST(AsciiTest, ClassifiesBytes) {
  struct Case {
    int byte;
    bool alpha, digit, space;
    int hex;
  } cases[] = {
      {'a', true, false, false, 10},  {'F', true, false, false, 15},
      {'g', true, false, false, -1},  {'G', true, false, false, -1},
      {'0', false, true, false, 0},   {'9', false, true, false, 9},
      {'/', false, false, false, -1}, {':', false, false, false, -1},
      {' ', false, false, true, -1},  {'\t', false, false, true, -1},
      {'\v', false, false, true, -1}, {'\f', false, false, true, -1},
      {'\r', false, false, true, -1}, {'\n', false, false, true, -1},
      {0xA0, false, false, false, -1},  // Latin-1 no-break space
      {0xB2, false, false, false, -1},  // Latin-1 superscript two
      {0xE9, false, false, false, -1},
  };
  for (const Case& c : cases) {
    const char ch = static_cast<char>(c.byte);
    EXPECT_EQ(IsAsciiAlpha(ch), c.alpha) << c.byte;
    EXPECT_EQ(IsAsciiDigit(ch), c.digit) << c.byte;
    EXPECT_EQ(IsAsciiSpace(ch), c.space) << c.byte;
    EXPECT_EQ(AsciiHexValue(ch), c.hex) << c.byte;
    EXPECT_EQ(IsAsciiHexDigit(ch), c.hex >= 0) << c.byte;
  }
}

TEST(AsciiTest, ComparesWithoutCase) {
  struct Case {
    std::string a, b;
    int order;  // sign of CompareAsciiNoCase
    bool startsWith;
  } cases[] = {
      {"", "", 0, true},
      {"abc", "", 1, true},
      {"", "abc", -1, false},
      {"Host", "hOST", 0, true},
      {"Host", "Hos", 1, true},    // longer after its prefix
      {"Hos", "Host", -1, false},  // prefix first, even with case differences
      {"HOS", "host", -1, false},
      {"abc", "ABD", -1, false},
      {"ABD", "abc", 1, false},
      // '_' (0x5F) sorts after 'Z' and before 'a': folding to upper case
      // puts it after every letter.
      {"a_", "aZ", 1, false},
      {"a_", "az", 1, false},
      // Bytes compare unsigned: 0xE4 after any ASCII byte.
      {"\xE4", "z", 1, false},
      {"\xE4", "\xC4", 1, false},  // no Latin-1 folding
      {"\xC4x", "\xC4X", 0, true},
      {std::string("a\0b", 3), std::string("A\0B", 3), 0, true},
      {std::string("a\0b", 3), "a", 1, true},
  };
  for (const Case& c : cases) {
    const int order = CompareAsciiNoCase(c.a, c.b);
    EXPECT_EQ((order > 0) - (order < 0), c.order) << c.a << " vs " << c.b;
    EXPECT_EQ(EqualsAsciiNoCase(c.a, c.b), c.order == 0) << c.a << " vs " << c.b;
    EXPECT_EQ(StartsWithAsciiNoCase(c.a, c.b), c.startsWith) << c.a << " vs " << c.b;
  }
}

TEST(AsciiTest, StringFoldingKeepsLengthAndOtherBytes) {
  const std::string mixed("Abc\0\xC4\xE4-Z\xFFi", 10);
  EXPECT_EQ(ToAsciiUpper(mixed), std::string("ABC\0\xC4\xE4-Z\xFFI", 10));
  EXPECT_EQ(ToAsciiLower(mixed), std::string("abc\0\xC4\xE4-z\xFFi", 10));
  std::string text = "PartLy";
  UpperAsciiInPlace(&text[0], 3);
  EXPECT_EQ(text, "PARtLy");
}

// Sets a Turkish or German single-byte locale: an installed one, else (on
// Linux with localedef) the Turkish one built into a folder of the test's
// own. Returns its name, or null when there is none.
const char* SetFoldingLocale() {
  const char* const kLocales[] = {"tr_TR.ISO-8859-9", "tr_TR.iso88599", "tr_TR", "tr_TR.UTF-8",
                                  "tr_TR.utf8", "de_DE.ISO-8859-1", "de_DE", "de_DE.UTF-8"};
  for (const char* name : kLocales) {
    if (std::setlocale(LC_ALL, name) != nullptr) return name;
  }
#if defined(__linux__)
  const std::string folder = ::testing::TempDir() + "base_test_locales";
  const std::string command = "mkdir -p '" + folder + "' && localedef -i tr_TR -f ISO-8859-9 '" +
                              folder + "/tr_TR.ISO-8859-9' >/dev/null 2>&1";
  if (std::system(command.c_str()) == 0 && setenv("LOCPATH", folder.c_str(), 1) == 0 &&
      std::setlocale(LC_ALL, "tr_TR.ISO-8859-9") != nullptr) {
    return "tr_TR.ISO-8859-9";
  }
#endif
  return nullptr;
}

// Under a Turkish locale toupper('i') is the dotted capital I and
// tolower('I') the dotless small i (single bytes 0xDD and 0xFD in
// ISO-8859-9); under a Latin-1 one toupper(0xE4) is 0xC4. The ASCII
// functions give the same answers under every locale.
TEST(AsciiTest, LocaleDoesNotMatter) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  const char* chosen = SetFoldingLocale();
  if (chosen == nullptr) GTEST_SKIP() << "no Turkish or German locale, and none could be built";
  EXPECT_EQ(ToAsciiUpper('i'), 'I') << chosen;
  EXPECT_EQ(ToAsciiLower('I'), 'i') << chosen;
  EXPECT_EQ(ToAsciiUpper(std::string("title\xE4\xFD")), std::string("TITLE\xE4\xFD")) << chosen;
  EXPECT_EQ(ToAsciiLower(std::string("TITLE\xC4\xDD")), std::string("title\xC4\xDD")) << chosen;
  EXPECT_TRUE(EqualsAsciiNoCase("INDEX", "index")) << chosen;
  EXPECT_FALSE(EqualsAsciiNoCase("\xE4", "\xC4")) << chosen;
  EXPECT_FALSE(EqualsAsciiNoCase("\xFD", "I")) << chosen;
  EXPECT_EQ(CompareAsciiNoCase("i", "I"), 0) << chosen;
  std::setlocale(LC_ALL, saved.c_str());
}

TEST(EndianTest, StoresLeastSignificantByteFirst) {
  struct Case {
    std::uint64_t value;
    unsigned char bytes[8];
  } cases[] = {
      {0, {0, 0, 0, 0, 0, 0, 0, 0}},
      {0x0102030405060708ull, {8, 7, 6, 5, 4, 3, 2, 1}},
      {0x80, {0x80, 0, 0, 0, 0, 0, 0, 0}},
      {0x8000, {0, 0x80, 0, 0, 0, 0, 0, 0}},
      {0x80000000ull, {0, 0, 0, 0x80, 0, 0, 0, 0}},
      {0xFFFFFFFFull, {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}},
      {0x100000000ull, {0, 0, 0, 0, 1, 0, 0, 0}},
      {0x8000000000000000ull, {0, 0, 0, 0, 0, 0, 0, 0x80}},
      {0xFFFFFFFFFFFFFFFFull, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    // Each width at an odd offset, to check no aligned access is assumed.
    unsigned char buffer[9];
    std::memset(buffer, 0xAA, sizeof buffer);
    StoreLe64(buffer + 1, c.value);
    EXPECT_EQ(0, std::memcmp(buffer + 1, c.bytes, 8)) << std::hex << c.value;
    EXPECT_EQ(LoadLe64(buffer + 1), c.value);
    EXPECT_EQ(buffer[0], 0xAA);

    std::memset(buffer, 0xAA, sizeof buffer);
    StoreLe32(buffer + 1, static_cast<std::uint32_t>(c.value));
    EXPECT_EQ(0, std::memcmp(buffer + 1, c.bytes, 4)) << std::hex << c.value;
    EXPECT_EQ(buffer[5], 0xAA) << "StoreLe32 wrote past its 4 bytes";
    EXPECT_EQ(LoadLe32(buffer + 1), static_cast<std::uint32_t>(c.value));

    std::memset(buffer, 0xAA, sizeof buffer);
    StoreLe16(buffer + 1, static_cast<std::uint16_t>(c.value));
    EXPECT_EQ(0, std::memcmp(buffer + 1, c.bytes, 2)) << std::hex << c.value;
    EXPECT_EQ(buffer[3], 0xAA) << "StoreLe16 wrote past its 2 bytes";
    EXPECT_EQ(LoadLe16(buffer + 1), static_cast<std::uint16_t>(c.value));
  }
}

TEST(EndianTest, LoadsIgnoreNeighbouringBytes) {
  // The bytes around a field must not leak into it, and a high byte must not
  // sign-extend into the bytes above it.
  const unsigned char bytes[] = {0xFF, 0x80, 0x00, 0x00, 0x80, 0xFF};
  EXPECT_EQ(LoadLe16(bytes + 1), 0x0080u);
  EXPECT_EQ(LoadLe32(bytes + 1), 0x80000080u);
  EXPECT_EQ(LoadLe16(bytes + 4), 0xFF80u);
}

}  // namespace
}  // namespace base
