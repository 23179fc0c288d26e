#include "text_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "category_names.h"
#include "list_writer.h"
#include "testing/list_builder.h"

namespace corvane_tool {
namespace {

using corvane::testkit::TempDir;

struct LineCase {
  const char* line;
  LineKind kind;
  std::uint32_t categories;
  const char* key;  // the key text made, for entries
  std::uint8_t markFlags;
  std::uint8_t kind_;
};

TEST(TextListLineTest, ParsesEntriesAndRefusesBadLines) {
  const LineCase cases[] = {
      {"", LineKind::kSkipped, 0, nullptr, 0, 0},
      {"   \r", LineKind::kSkipped, 0, nullptr, 0, 0},
      {"# a comment\twith a tab", LineKind::kSkipped, 0, nullptr, 0, 0},
      {"  # indented comment", LineKind::kSkipped, 0, nullptr, 0, 0},
      {"1\thttp://Www.Example.com/A/b.html", LineKind::kEntry, CategoryBit(1),
       "WWW.EXAMPLE.COM/A/B.HTML", 0, 0},
      {"Drugs,Gambling\texample.com/x/\r", LineKind::kEntry, CategoryBit(2) | CategoryBit(7),
       "EXAMPLE.COM/X", 0, 0},
      {"7\tftp://example.net:8080", LineKind::kEntry, CategoryBit(7), "EXAMPLE.NET", 0, 0},
      {"24\tnews:alt.test.group", LineKind::kEntry, CategoryBit(24), "ALT/TEST/GROUP", 0, 0},
      {"3\tdomain:www.shop.example.test", LineKind::kEntry, CategoryBit(3),
       "SHOP.EXAMPLE.TEST", 0, 0},
      {"3\tDOMAIN:a.example.com", LineKind::kEntry, CategoryBit(3), "EXAMPLE.COM", 0, 0},
      {"4\tdomain:192.0.2.33", LineKind::kEntry, CategoryBit(4), "192.0.2", 0, 0},
      {"8\tpersonal:http://h.example.org/a/~joe/b", LineKind::kEntry, CategoryBit(8),
       "H.EXAMPLE.ORG/A/~", 0, 0},
      {"8\th.example.org/~", LineKind::kEntry, CategoryBit(8), "H.EXAMPLE.ORG/~", 0, 0},
      {"1\t192.0.2.010", LineKind::kEntry, CategoryBit(1), "192.0.2.10", 0, 0},
      {"15\tshop.example.net\tapproved\tkind=3", LineKind::kEntry, CategoryBit(15),
       "SHOP.EXAMPLE.NET", 1, 3},
      {"15\tshop.example.net\t\tkind=255", LineKind::kEntry, CategoryBit(15),
       "SHOP.EXAMPLE.NET", 0, 255},
      {"1 example.com", LineKind::kError, 0, nullptr, 0, 0},       // no tab
      {"example.com", LineKind::kError, 0, nullptr, 0, 0},         // no tab
      {"28\texample.com", LineKind::kError, 0, nullptr, 0, 0},     // bad category
      {"Gamble\texample.com", LineKind::kError, 0, nullptr, 0, 0},  // unknown name
      {"1\t", LineKind::kError, 0, nullptr, 0, 0},                 // no key
      {"1\thttp:///path", LineKind::kError, 0, nullptr, 0, 0},     // no host
      {"1\texample .com", LineKind::kError, 0, nullptr, 0, 0},     // white space
      {"1\tdomain:example.com", LineKind::kError, 0, nullptr, 0, 0},  // no domain key
      {"1\tdomain:www.example.com/x", LineKind::kError, 0, nullptr, 0, 0},  // a path
      {"1\tpersonal:http://h.example.org/a", LineKind::kError, 0, nullptr, 0, 0},
      {"1\texample.com\tapprove", LineKind::kError, 0, nullptr, 0, 0},
      {"1\texample.com\tkind=256", LineKind::kError, 0, nullptr, 0, 0},
      {"1\texample.com\tkind=", LineKind::kError, 0, nullptr, 0, 0},
  };
  for (const LineCase& c : cases) {
    TextListEntry entry;
    std::string error;
    LineKind kind = ParseTextListLine(c.line, false, &entry, &error);
    ASSERT_EQ(kind, c.kind) << "\"" << c.line << "\": " << error;
    if (kind == LineKind::kError) {
      EXPECT_FALSE(error.empty()) << c.line;
    }
    if (kind != LineKind::kEntry) continue;
    EXPECT_EQ(entry.categories, c.categories) << c.line;
    EXPECT_EQ(entry.key.text, c.key) << c.line;
    EXPECT_EQ(entry.markFlags, c.markFlags) << c.line;
    EXPECT_EQ(entry.kind, c.kind_) << c.line;
  }
}

TEST(TextListLineTest, DomainOptionAppliesToKeysWithoutPrefix) {
  TextListEntry entry;
  std::string error;
  ASSERT_EQ(ParseTextListLine("5\twww.example.org", true, &entry, &error), LineKind::kEntry);
  EXPECT_EQ(entry.key.text, "EXAMPLE.ORG");
  // A personal: prefix still wins over the option.
  ASSERT_EQ(ParseTextListLine("8\tpersonal:h.example.org/~x", true, &entry, &error),
            LineKind::kEntry);
  EXPECT_EQ(entry.key.text, "H.EXAMPLE.ORG/~");
  EXPECT_EQ(ParseTextListLine("5\texample.org", true, &entry, &error), LineKind::kError);
}

TEST(ListCompilerTest, MergesDuplicateKeysAndNamesBothLines) {
  std::ostringstream diagnostics;
  ListCompiler compiler(CompileOptions(), diagnostics);
  std::istringstream input(
      "1\thttp://a.example.com/x\n"
      "# comment\n"
      "\n"
      "7\tA.EXAMPLE.COM/x/\n"  // the same key, written differently
      "9\thttp://a.example.com/y\tapproved\n"
      "10\ta.example.com/y\n");
  compiler.AddStream("in.txt", input);
  EXPECT_EQ(compiler.errors(), 0);
  EXPECT_EQ(compiler.warnings(), 2);
  EXPECT_EQ(compiler.skipped(), 2);
  ASSERT_EQ(compiler.records().size(), 2u);
  EXPECT_EQ(compiler.records()[0].categories, CategoryBit(1) | CategoryBit(7));
  EXPECT_EQ(compiler.records()[1].categories, CategoryBit(9) | CategoryBit(10));
  EXPECT_EQ(compiler.records()[1].markFlags, 1);
  EXPECT_NE(diagnostics.str().find("in.txt:4: warning"), std::string::npos) << diagnostics.str();
  EXPECT_NE(diagnostics.str().find("in.txt:1"), std::string::npos) << diagnostics.str();

  CompileOptions strict;
  strict.strict = true;
  std::ostringstream strictDiagnostics;
  ListCompiler strictCompiler(strict, strictDiagnostics);
  std::istringstream again("1\ta.example.com\n2\ta.example.com\n");
  strictCompiler.AddStream("in.txt", again);
  EXPECT_EQ(strictCompiler.errors(), 1);
  EXPECT_NE(strictDiagnostics.str().find("in.txt:2: error"), std::string::npos);
}

TEST(ListCompilerTest, ReportsEveryBadLineWithItsNumber) {
  std::ostringstream diagnostics;
  ListCompiler compiler(CompileOptions(), diagnostics);
  std::istringstream input("1\tgood.example.com\n99\tbad.example.com\nno tab here\n");
  compiler.AddStream("list.txt", input);
  EXPECT_EQ(compiler.errors(), 2);
  EXPECT_NE(diagnostics.str().find("list.txt:2: error"), std::string::npos);
  EXPECT_NE(diagnostics.str().find("list.txt:3: error"), std::string::npos);
}

// Runs "corvane compile" with the given arguments.
int Compile(std::vector<std::string> args, std::string* out = nullptr,
            std::string* err = nullptr) {
  args.insert(args.begin(), "compile");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  std::ostringstream outStream;
  std::ostringstream errStream;
  int code = RunCompile(static_cast<int>(argv.size()), argv.data(), outStream, errStream);
  if (out != nullptr) *out = outStream.str();
  if (err != nullptr) *err = errStream.str();
  return code;
}

struct Expectation {
  const char* url;
  int result;
  std::uint32_t categories;
};

void ExpectCategorized(const std::string& listPath, const Expectation* begin,
                       const Expectation* end) {
  QxService* service = QX_Init();
  ASSERT_NE(service, nullptr);
  ASSERT_EQ(QX_LoadControlList(service, nullptr, listPath.c_str()), QX_OK);
  QxTypes* result = QX_AllocateTypes();
  for (const Expectation* e = begin; e != end; ++e) {
    EXPECT_EQ(QX_CategorizeUrl(service, e->url, result, nullptr, 0), e->result) << e->url;
    EXPECT_EQ(result->categories, e->categories) << e->url;
  }
  QX_FreeTypes(result);
  QX_FreeService(service);
}

TEST(CompileCommandTest, CompiledListIsFoundByTheEngine) {
  TempDir dir;
  std::string input = dir.Write("in.txt",
                                "# test list\r\n"
                                "Gambling\tcasino.example.com\r\n"
                                "11\thttp://www.example.org/games/\n"
                                "2,7\tpharmacy.example/offers\n"
                                "Cults\tdomain:www.temple.example.test\n"
                                "8\tpersonal:http://homes.example.org/~a\n"
                                "3\t192.0.2.10\n"
                                "4\tdomain:198.51.100.1\n"
                                "24\tnews:alt.test.group\n");
  std::string output = dir.File("out.lst");
  std::string out;
  std::string err;
  ASSERT_EQ(Compile({input, "-o", output}, &out, &err), 0) << err;
  EXPECT_NE(out.find("8 records"), std::string::npos) << out;
  const Expectation expectations[] = {
      {"http://casino.example.com/any/path?q=1", QX_CATEGORIZED, CategoryBit(7)},
      {"http://www.example.org/games/chess", QX_CATEGORIZED, CategoryBit(11)},
      {"http://www.example.org/news", QX_UNCATEGORIZED, 0},
      {"https://PHARMACY.example/offers/x", QX_CATEGORIZED, CategoryBit(2) | CategoryBit(7)},
      {"http://temple.example.test/", QX_CATEGORIZED, CategoryBit(23)},
      {"http://a.b.temple.example.test/", QX_CATEGORIZED, CategoryBit(23)},
      {"http://homes.example.org/~zed/page", QX_CATEGORIZED, CategoryBit(8)},
      {"http://192.0.2.010/", QX_CATEGORIZED, CategoryBit(3)},
      {"http://198.51.100.200/x", QX_CATEGORIZED, CategoryBit(4)},
      {"news:alt.test.group", QX_CATEGORIZED, CategoryBit(24)},
      {"http://example.com/", QX_UNCATEGORIZED, 0},
  };
  ExpectCategorized(output, std::begin(expectations), std::end(expectations));
}

TEST(CompileCommandTest, SampleListCompilesAndCategorises) {
  TempDir dir;
  std::string output = dir.File("sample.lst");
  std::string err;
  ASSERT_EQ(Compile({PELLUMIN_SAMPLE_LIST, "-o", output}, nullptr, &err), 0) << err;
  EXPECT_EQ(err, "");  // the sample carries no warnings
  // The URLs data/README.md suggests.
  const Expectation expectations[] = {
      {"http://casino.example.com/", QX_CATEGORIZED, CategoryBit(7)},
      {"http://games.example.org/puzzles", QX_CATEGORIZED, CategoryBit(11)},
      {"http://www.example.org/games/chess", QX_CATEGORIZED, CategoryBit(11)},
      {"http://www.example.org/games/jokes/1", QX_CATEGORIZED, CategoryBit(12)},
      {"http://www.example.org/about", QX_CATEGORIZED, CategoryBit(19)},
      {"http://cards.poker.example.test/", QX_CATEGORIZED, CategoryBit(7)},
      {"http://homes.example.org/~anyone/", QX_CATEGORIZED, CategoryBit(8)},
      {"http://198.51.100.23/", QX_CATEGORIZED, CategoryBit(4)},
      {"http://unlisted.example.com/", QX_UNCATEGORIZED, 0},
  };
  ExpectCategorized(output, std::begin(expectations), std::end(expectations));
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::size_t CountFiles(const std::filesystem::path& dir) {
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    (void)entry;
    ++count;
  }
  return count;
}

TEST(CompileCommandTest, FailedCompileLeavesTheOutputUntouched) {
  TempDir dir;
  std::string output = dir.Write("out.lst", "previous contents");
  std::string input = dir.Write("in.txt", "1\tgood.example.com\n0\tbad.example.com\n");
  std::string err;
  EXPECT_EQ(Compile({input, "-o", output}, nullptr, &err), 1);
  EXPECT_NE(err.find("in.txt:2: error"), std::string::npos) << err;
  EXPECT_EQ(ReadAll(output), "previous contents");
  EXPECT_EQ(CountFiles(dir.path()), 2u);  // no temporary file left behind

  // Into a folder that does not exist: refused, nothing created.
  std::string good = dir.Write("good.txt", "1\tgood.example.com\n");
  EXPECT_EQ(Compile({good, "-o", dir.File("missing/out.lst")}, nullptr, &err), 1);
  EXPECT_FALSE(std::filesystem::exists(dir.File("missing")));
}

TEST(CompileCommandTest, SuccessfulCompileReplacesTheOutputWhole) {
  TempDir dir;
  std::string output = dir.Write("out.lst", std::string(1000, 'x'));
  std::string input = dir.Write("in.txt", "1\ta.example.com\n2\tb.example.com\n");
  ASSERT_EQ(Compile({input, "-o", output}), 0);
  EXPECT_EQ(ReadAll(output).size(), 4u + 2 * sizeof(QxListRecord));
  EXPECT_EQ(CountFiles(dir.path()), 2u);
}

TEST(CompileCommandTest, RefusesBadUsage) {
  TempDir dir;
  std::string input = dir.Write("in.txt", "1\ta.example.com\n");
  const std::vector<std::vector<std::string>> cases = {
      {},
      {input},
      {input, "-o"},
      {"-o", dir.File("out.lst")},
      {input, input, "-o", dir.File("out.lst")},
      {input, "--frobnicate", "-o", dir.File("out.lst")},
  };
  for (const auto& args : cases) EXPECT_EQ(Compile(args), 2) << args.size();
  EXPECT_EQ(Compile({dir.File("absent.txt"), "-o", dir.File("out.lst")}), 1);
  std::string out;
  EXPECT_EQ(Compile({"--help"}, &out), 0);
  EXPECT_NE(out.find("usage: corvane compile"), std::string::npos);
}

}  // namespace
}  // namespace corvane_tool
