// The shared command-line reader: how each argument line is split into
// options, values and plain arguments, and the problems it words.
#include "base/args.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace base {
namespace {

// Reads a whole line the way the programs do: options named in
// `withValue` take a value, every other option is a flag. Each argument
// read becomes one word of the result: "opt:NAME=VALUE", "flag:NAME",
// "flag:NAME=VALUE" (an inline value on a flag), "plain:TEXT"; a problem
// ends the line with "error:TEXT".
std::vector<std::string> Read(const std::vector<std::string>& line, ArgSyntax syntax,
                              const std::vector<std::string>& withValue) {
  ArgCursor args(line, syntax);
  std::vector<std::string> out;
  while (args.Next()) {
    if (!args.IsOption()) {
      out.push_back("plain:" + args.Arg());
      continue;
    }
    bool takesValue = false;
    for (const std::string& name : withValue) takesValue = takesValue || args.Name() == name;
    std::string value, error;
    if (takesValue) {
      const std::string name = args.Name();
      if (!args.TakeValue(&value, &error, "a thing")) {
        out.push_back("error:" + error);
        break;
      }
      out.push_back("opt:" + name + "=" + value);
    } else if (args.HasInlineValue()) {
      out.push_back("flag:" + args.Name() + "=" + args.InlineValue());
    } else {
      out.push_back("flag:" + args.Name());
    }
  }
  return out;
}

TEST(ArgCursorTest, SplitsLines) {
  const ArgSyntax kEnds{true};
  const ArgSyntax kPlain{false};
  const std::vector<std::string> kValued = {"-o", "--output", "--map"};
  struct Case {
    const char* what;
    std::vector<std::string> line;
    ArgSyntax syntax;
    std::vector<std::string> expected;
  } cases[] = {
      {"nothing", {}, kEnds, {}},
      {"separate value", {"-o", "x"}, kEnds, {"opt:-o=x"}},
      {"inline value", {"--output=x"}, kEnds, {"opt:--output=x"}},
      {"inline value split at the first '='", {"--map=a=b"}, kEnds, {"opt:--map=a=b"}},
      {"empty inline value", {"--output="}, kEnds, {"opt:--output="}},
      {"value that looks like an option", {"--output", "--map"}, kEnds, {"opt:--output=--map"}},
      {"single dash never splits", {"-o=x"}, kEnds, {"flag:-o=x"}},
      {"a lone dash is plain", {"-", "-o", "-"}, kEnds, {"plain:-", "opt:-o=-"}},
      {"repeated option", {"--map", "a", "--map=b"}, kEnds, {"opt:--map=a", "opt:--map=b"}},
      {"flag with a value", {"--help=yes"}, kEnds, {"flag:--help=yes"}},
      {"plain and options mixed", {"a", "--help", "b"}, kEnds, {"plain:a", "flag:--help", "plain:b"}},
      {"double dash ends options", {"--", "-o", "--x=y"}, kEnds, {"plain:-o", "plain:--x=y"}},
      {"only the first double dash ends", {"a", "--", "--"}, kEnds, {"plain:a", "plain:--"}},
      {"value after a double dash", {"-o", "--", "x", "-o"}, kEnds, {"opt:-o=x", "plain:-o"}},
      {"double dash as an argument", {"--", "-o", "x"}, kPlain, {"flag:--", "opt:-o=x"}},
      {"double dash as a value", {"-o", "--"}, kPlain, {"opt:-o=--"}},
      {"missing value", {"a", "--output"}, kEnds, {"plain:a", "error:--output needs a thing"}},
      {"missing value after a double dash", {"-o", "--"}, kEnds, {"error:-o needs a thing"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Read(c.line, c.syntax, kValued), c.expected) << c.what;
  }
}

TEST(ArgCursorTest, IsAndRefuseValue) {
  struct Case {
    std::vector<std::string> line;
    bool isHelp;
    std::string refusal;  // empty: RefuseValue passes
  } cases[] = {
      {{"--help"}, true, ""},
      {{"--help=1"}, false, "--help takes no value"},
      {{"--helpme"}, false, ""},
      {{"--", "--help"}, false, ""},
      {{"-help=1"}, false, ""},
  };
  for (const Case& c : cases) {
    ArgCursor args(c.line, ArgSyntax{true});
    ASSERT_TRUE(args.Next());
    EXPECT_EQ(args.Is("--help"), c.isHelp) << c.line.back();
    std::string error;
    EXPECT_EQ(args.RefuseValue(&error), c.refusal.empty()) << c.line.back();
    EXPECT_EQ(error, c.refusal);
  }
}

TEST(ArgCursorTest, ArgvSkipsTheProgramNameAndRestConsumes) {
  const char* argv[] = {"prog", "--file", "f", "set", "--", "-x"};
  ArgCursor args(6, argv, ArgSyntax{true});
  ASSERT_TRUE(args.Next());
  EXPECT_EQ(args.Arg(), "--file");
  ASSERT_TRUE(args.Next());
  ASSERT_TRUE(args.Next());
  EXPECT_EQ(args.Arg(), "set");
  EXPECT_EQ(args.Rest(), (std::vector<std::string>{"-x"}));
  EXPECT_FALSE(args.Next());
  EXPECT_TRUE(args.Rest().empty());

  ArgCursor none(1, argv);
  EXPECT_FALSE(none.Next());
}

TEST(ParseDecimalInRangeTest, TakesOnlyDigitsInRange) {
  struct Case {
    const char* text;
    long low, high;
    bool ok;
    long value;
  } cases[] = {
      {"1", 1, 64, true, 1},
      {"64", 1, 64, true, 64},
      {"0", 1, 64, false, 0},
      {"65", 1, 64, false, 0},
      {"007", 1, 64, true, 7},
      {"", 1, 64, false, 0},
      {"-1", 0, 64, false, 0},
      {"+1", 0, 64, false, 0},
      {" 1", 0, 64, false, 0},
      {"1 ", 0, 64, false, 0},
      {"2s", 0, 64, false, 0},
      {"0x10", 0, 64, false, 0},
      {"999999999", 1, 999999999, true, 999999999},
      {"1000000000", 1, 2000000000, false, 0},  // ten digits
      {"000000001", 1, 9, true, 1},
      {"\xD9\xA1", 0, 64, false, 0},  // a non-ASCII digit (Arabic-Indic one, UTF-8)
  };
  for (const Case& c : cases) {
    long value = -5;
    EXPECT_EQ(ParseDecimalInRange(c.text, c.low, c.high, &value), c.ok) << c.text;
    EXPECT_EQ(value, c.ok ? c.value : -5) << c.text;
  }
}

TEST(AnyArgIsTest, LooksEverywhereButTheProgramName) {
  const char* argv[] = {"-h", "set", "K", "--help=1", "-h"};
  struct Case {
    int argc;
    bool found;
  } cases[] = {{1, false}, {4, false}, {5, true}};
  for (const Case& c : cases) {
    EXPECT_EQ(AnyArgIs(c.argc, argv, {"--help", "-h"}), c.found) << c.argc;
  }
}

}  // namespace
}  // namespace base
