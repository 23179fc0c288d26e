#include "ut1_import.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "category_names.h"
#include "list_writer.h"
#include "text_list.h"
#include "testing/list_builder.h"

namespace corvane_tool {
namespace {

using corvane::testkit::TempDir;
namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// Categorises each URL against a list file and returns the category words.
std::vector<std::uint32_t> Categorise(const std::string& list, const std::vector<std::string>& urls,
                                      bool parentDomains = false) {
  std::vector<std::uint32_t> words;
  QxService* service = QX_Init();
  EXPECT_EQ(QX_LoadControlList(service, nullptr, list.c_str()), QX_OK);
  QX_SetParentDomainOption(service, parentDomains ? 1 : 0);
  QxTypes* result = QX_AllocateTypes();
  for (const std::string& url : urls) {
    QX_CategorizeUrl(service, url.c_str(), result, nullptr, 0);
    words.push_back(result->categories);
  }
  QX_FreeTypes(result);
  QX_FreeService(service);
  return words;
}

class ImportTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::path root = dir_.path() / "lists";
    root_ = root.string();
    WriteFile(root / "gambling" / "domains",
              "# comment\n"
              "\n"
              "casino.example.test\r\n"     // three labels, four-letter last: and below
              "Example.NET   \n"             // two labels, three-letter last: and below
              "www.dice.example.com\n"      // three labels, three-letter last: the host only
              "poker.example.co.test\n"     // four labels, four-letter last: the host only
              ".lotto.example.test\n"       // a leading dot
              "192.0.2.010\n"
              "shared.example.org\n"
              "bad host.example.com\n" +
                  std::string(300, 'a') + ".example.com\n");
    WriteFile(root / "games" / "domains", "shared.example.org\n");
    WriteFile(root / "games" / "urls",
              "www.example.org/games/\n"
              "www.example.org/play?id=3\n"
              "www.example.org/page#frag\n"   // the fragment is cut off
              "www.example.net/#top\n");       // would widen to the host: refused
    WriteFile(root / "mystery" / "domains", "mystery.example.com\n");
    WriteFile(root / "notes" / "README", "not a list folder\n");
  }

  TempDir dir_;
  std::string root_;
};

TEST_F(ImportTreeTest, MapsFoldersMergesEntriesAndCountsOddLines) {
  ImportOptions options;
  ImportResult result;
  std::ostringstream diag;
  std::string error;
  ASSERT_TRUE(ImportFolders(root_, options, diag, &result, &error)) << error;
  ASSERT_EQ(result.folders.size(), 2u);
  const FolderReport& gambling = result.folders[0];  // in name order
  const FolderReport& games = result.folders[1];
  EXPECT_EQ(gambling.folder, "gambling");
  EXPECT_EQ(gambling.domains, 7);
  EXPECT_EQ(gambling.ignored, 2);
  EXPECT_EQ(gambling.invalid, 1);
  EXPECT_EQ(gambling.overlong, 1);
  EXPECT_EQ(games.urls, 3);
  EXPECT_EQ(games.invalid, 1);
  EXPECT_EQ(result.fragmentsDropped, 1);
  EXPECT_EQ(result.unmapped, std::vector<std::string>{"mystery"});
  EXPECT_EQ(result.merged, 1);  // shared.example.org
  EXPECT_EQ(result.queriesDropped, 1);
  EXPECT_EQ(result.numericHosts, 1);
  // casino, example.net and lotto cover the hosts below them; dice, poker,
  // the address and shared (in both folders) only themselves.
  EXPECT_EQ(result.coveredBelow, 3);
  EXPECT_EQ(result.hostOnly, 5);

  // Each dropped line is told by its reason, with where it stands.
  ASSERT_EQ(gambling.dropped.size(), 2u);
  EXPECT_EQ(gambling.dropped[0].reason, "white space inside the entry");
  EXPECT_EQ(gambling.dropped[0].count, 1);
  ASSERT_EQ(gambling.dropped[0].examples.size(), 1u);
  EXPECT_EQ(gambling.dropped[0].examples[0].file, "domains");
  EXPECT_EQ(gambling.dropped[0].examples[0].line, 10);
  EXPECT_EQ(gambling.dropped[0].examples[0].text, "bad host.example.com");
  EXPECT_EQ(gambling.dropped[1].reason, "a host longer than 255 characters");
  EXPECT_EQ(gambling.dropped[1].examples[0].line, 11);
  EXPECT_EQ(gambling.dropped[1].examples[0].text.size(), 80u);  // cut for the report
  ASSERT_EQ(games.dropped.size(), 1u);
  EXPECT_EQ(games.dropped[0].examples[0].file, "urls");
  EXPECT_EQ(games.dropped[0].examples[0].line, 4);
}

TEST(ImportReportTest, DroppedLinesAreCountedByReasonWithTheFirstFew) {
  TempDir dir;
  fs::path root = dir.path() / "lists";
  WriteFile(root / "games" / "domains", "a b\nok.example.com\nc d\ne f\ng h\n....\n");
  std::vector<std::string> args = {"import", root.string(), "-o", dir.File("out.txt")};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  std::ostringstream out, err;
  ASSERT_EQ(RunImport(static_cast<int>(argv.size()), argv.data(), out, err), 0) << err.str();
  const std::string report = out.str();
  EXPECT_NE(report.find("games -> 11 Games: 1 domains, 0 urls, 5 lines dropped\n"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("    dropped 4 lines: white space inside the entry, e.g. domains:1 \"a b\", "
                        "domains:3 \"c d\", domains:4 \"e f\"\n"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("    dropped 1 line: no host, only dots, e.g. domains:6 \"....\"\n"),
            std::string::npos)
      << report;
}

TEST_F(ImportTreeTest, TextAndListOutputsCategoriseAlike) {
  ImportOptions options;
  ImportResult result;
  std::ostringstream diag;
  std::string error;
  ASSERT_TRUE(ImportFolders(root_, options, diag, &result, &error)) << error;

  // The text output compiles without errors; the one warning is the dropped
  // query.
  std::ostringstream compileDiag;
  ListCompiler compiler(CompileOptions(), compileDiag);
  std::istringstream text(ImportAsText(result, root_));
  compiler.AddStream("import.txt", text);
  EXPECT_EQ(compiler.errors(), 0) << compileDiag.str();
  EXPECT_EQ(compiler.warnings(), 1) << compileDiag.str();
  std::string fromText = dir_.File("from_text.lst");
  ASSERT_TRUE(WriteListFile(fromText, compiler.mutable_records(), &error)) << error;

  std::vector<QxListRecord> records = ImportAsRecords(result);
  std::string direct = dir_.File("direct.lst");
  ASSERT_TRUE(WriteListFile(direct, &records, &error)) << error;

  const std::uint32_t gambling = CategoryBit(7);
  const std::uint32_t games = CategoryBit(11);
  const std::vector<std::pair<std::string, std::uint32_t>> cases = {
      {"http://casino.example.test/", gambling},
      {"http://www.casino.example.test/x", gambling},     // below: the domain key
      {"http://a.b.casino.example.test/", gambling},
      {"http://example.net/", gambling},
      {"http://www.example.net/", gambling},
      {"http://www.dice.example.com/", gambling},
      {"http://m.www.dice.example.com/", 0},             // coverage lost below
      {"http://poker.example.co.test/", gambling},
      {"http://www.poker.example.co.test/", 0},          // coverage lost below
      {"http://lotto.example.test/", gambling},
      {"http://www.lotto.example.test/", gambling},
      {"http://192.0.2.10/", gambling},
      {"http://shared.example.org/", gambling | games},   // merged from two folders
      {"http://www.example.org/games/x", games},
      {"http://www.example.org/play?id=4", games},        // the query was dropped
      {"http://www.example.org/page", games},             // the fragment was dropped
      {"http://www.example.net/other", gambling},         // example.net and below only
      {"http://mystery.example.com/", 0},                 // unmapped folder
  };
  std::vector<std::string> urls;
  for (const auto& c : cases) urls.push_back(c.first);
  std::vector<std::uint32_t> viaText = Categorise(fromText, urls);
  std::vector<std::uint32_t> viaList = Categorise(direct, urls);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(viaText[i], cases[i].second) << cases[i].first;
    EXPECT_EQ(viaList[i], cases[i].second) << cases[i].first;
  }

  // With the parent-domain lookup (the plug-in's, corvane lookup's) every
  // domain entry covers the hosts below it; the rest stays as it is.
  std::vector<std::uint32_t> withParents = Categorise(direct, urls, true);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string& url = cases[i].first;
    const bool below = url == "http://m.www.dice.example.com/" ||
                       url == "http://www.poker.example.co.test/";
    EXPECT_EQ(withParents[i], below ? gambling : cases[i].second) << url;
  }
}

TEST(FolderMapTest, MapFileOverridesAndRemovesFolders) {
  FolderMap map = DefaultFolderMap();
  std::istringstream in("# mine\ngames\tHumor,Sports\nadult\t-\nnewfolder\t26\n");
  std::string error;
  ASSERT_TRUE(ReadFolderMap(in, "map.txt", &map, &error)) << error;
  EXPECT_EQ(map["games"], CategoryBit(12) | CategoryBit(10));
  EXPECT_EQ(map["adult"], 0u);
  EXPECT_EQ(map["newfolder"], CategoryBit(26));
  EXPECT_EQ(map["gambling"], CategoryBit(7));

  std::istringstream bad("games Humor\n");
  EXPECT_FALSE(ReadFolderMap(bad, "map.txt", &map, &error));
  EXPECT_NE(error.find("map.txt:1"), std::string::npos);
  std::istringstream badCategory("games\t99\n");
  EXPECT_FALSE(ReadFolderMap(badCategory, "map.txt", &map, &error));
}

TEST(FolderMapTest, DefaultMappingUsesValidCategories) {
  for (const auto& row : DefaultFolderMap()) {
    EXPECT_NE(row.second, 0u) << row.first;
    EXPECT_EQ(row.second & ~static_cast<std::uint32_t>(QX_ALL_CATEGORIES), 0u) << row.first;
  }
}

TEST(RealListTest, ImportsTheSectFolder) {
  fs::path sect = fs::path(PELLUMIN_UT1_DIR) / "sect";
  if (!fs::exists(sect / "domains")) GTEST_SKIP() << "no UT1 lists at " << PELLUMIN_UT1_DIR;
  ImportOptions options;
  options.only = {"sect"};
  ImportResult result;
  std::ostringstream diag;
  std::string error;
  ASSERT_TRUE(ImportFolders(PELLUMIN_UT1_DIR, options, diag, &result, &error)) << error;
  ASSERT_EQ(result.folders.size(), 1u);

  std::vector<std::string> hosts;
  std::ifstream in(sect / "domains");
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != '#') hosts.push_back("http://" + line + "/");
  }
  ASSERT_FALSE(hosts.empty());
  EXPECT_EQ(result.folders[0].domains + result.folders[0].invalid + result.folders[0].overlong,
            static_cast<long>(hosts.size()));
  EXPECT_EQ(result.folders[0].invalid + result.folders[0].overlong, 0);

  TempDir dir;
  std::vector<QxListRecord> records = ImportAsRecords(result);
  std::string list = dir.File("sect.lst");
  ASSERT_TRUE(WriteListFile(list, &records, &error)) << error;
  std::vector<std::uint32_t> words = Categorise(list, hosts);
  for (std::size_t i = 0; i < hosts.size(); ++i) {
    EXPECT_EQ(words[i], CategoryBit(23)) << hosts[i];  // Cults
  }
}

}  // namespace
}  // namespace corvane_tool
