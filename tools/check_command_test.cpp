// Tests of "corvane check": the hours text, the clock option, and whole
// runs against a small control list.
#include "check_command.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "testing/list_builder.h"

namespace corvane_tool {
namespace {

TEST(CheckHoursTest, TextFormsFillTheTable) {
  struct Case {
    const char* text;
    std::vector<std::pair<int, int>> open;    // weekday, hour
    std::vector<std::pair<int, int>> closed;
    int openCount;
  };
  const Case cases[] = {
      {"Mon-Fri 09-17", {{1, 9}, {5, 16}}, {{1, 8}, {1, 17}, {0, 12}, {6, 12}}, 5 * 8},
      {"mon-fri 08-12,13-17; Sat 09-12", {{2, 8}, {6, 11}}, {{2, 12}, {6, 12}}, 5 * 8 + 3},
      {"Fri-Mon 00-24", {{5, 0}, {0, 23}, {1, 23}}, {{2, 0}, {4, 23}}, 4 * 24},
      {"Sun,Wed 10-11\n# a comment\nSaturday 23-24  # late", {{0, 10}, {3, 10}, {6, 23}}, {{0, 11}}, 3},
      {"0-6 12-13", {{0, 12}, {6, 12}}, {{0, 13}}, 7},
      {"", {}, {{1, 9}}, 0},
  };
  for (const Case& c : cases) {
    unsigned char table[QX_HOURS_SIZE];
    std::memset(table, 0xEE, sizeof table);  // cleared by the parser
    std::string error;
    ASSERT_TRUE(ParseBusinessHours(c.text, table, &error)) << c.text << ": " << error;
    int count = 0;
    for (unsigned char byte : table) count += byte != 0;
    EXPECT_EQ(c.openCount, count) << c.text;
    for (const auto& at : c.open) EXPECT_NE(0, table[at.first * 24 + at.second]) << c.text;
    for (const auto& at : c.closed) EXPECT_EQ(0, table[at.first * 24 + at.second]) << c.text;
  }
}

TEST(CheckHoursTest, BadTextIsRefusedWithAReason) {
  const char* const bad[] = {"Mon-Fri",      "Mon-Fri 17-09", "Mon-Fri 09-25", "Moon 09-17",
                             "Mon-Fri 9",    "Mon-Fri 09-17-18", "Mo 09-17",  "Mon-Fri x-y",
                             "7 09-17",      "Mon-Fri 09-09", "Mondays-Fri 09-17"};
  for (const char* text : bad) {
    unsigned char table[QX_HOURS_SIZE];
    std::string error;
    EXPECT_FALSE(ParseBusinessHours(text, table, &error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST(CheckHoursTest, WeekdayAndHour) {
  struct Case {
    const char* text;
    bool ok;
    int weekday;
    int hour;
  };
  const Case cases[] = {{"Mon:9", true, 1, 9},     {"0:23", true, 0, 23},  {"saturday:00", true, 6, 0},
                        {"Wed:24", false, 0, 0},   {"8:1", false, 0, 0},   {"Mon", false, 0, 0},
                        {"Mon:9:1", false, 0, 0},  {":9", false, 0, 0},    {"Mon:-1", false, 0, 0}};
  for (const Case& c : cases) {
    int weekday = -1;
    int hour = -1;
    std::string error;
    EXPECT_EQ(c.ok, ParseWeekdayHour(c.text, &weekday, &hour, &error)) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(c.weekday, weekday) << c.text;
    EXPECT_EQ(c.hour, hour) << c.text;
  }
}

class CheckRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    control_ = dir_.WriteList(
        "control.lst",
        {corvane::testkit::UrlRecord("http://cards.example.com/", corvane::testkit::Categories({7})),
         corvane::testkit::UrlRecord("http://10.1.2.3/", corvane::testkit::Categories({1}))});
  }

  // Runs the command with the given arguments (after "check") and input.
  int Run(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), "check");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    std::istringstream in(input);
    out_.str("");
    err_.str("");
    return RunCheck(static_cast<int>(args.size()), argv.data(), in, out_, err_);
  }

  corvane::testkit::TempDir dir_;
  std::string control_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(CheckRunTest, VerdictsAndReasons) {
  struct Case {
    std::vector<std::string> options;
    std::string url;
    int exitCode;
    std::vector<std::string> lines;  // expected somewhere in the output
  };
  const Case cases[] = {
      {{"--deny", "gambling"}, "http://cards.example.com/", 0,
       {"categories 0x00000100 (7 Gambling)", "verdict RESTRICTED", "reason denied category: Gambling"}},
      {{"--deny", "Sex"}, "http://cards.example.com/", 0, {"verdict UNRESTRICTED"}},
      {{"--deny-numeric"}, "http://10.1.2.3/", 0, {"verdict RESTRICTED", "reason numeric address"}},
      {{"--control", "3"}, "http://10.1.2.3/", 0, {"reason numeric address"}},
      {{"--approved-only"}, "http://cards.example.com/", 0, {"reason not an approved URL"}},
      {{"--deny-personal"}, "http://home.example.org/~me/", 0, {"reason personal page"}},
      {{"--news-backdoor", "--news", "*.news.ab:group="}, "http://x.news.ab/?group=alt", 0,
       {"reason news back door"}},
      {{"--news-backdoor", "--news", "*.news.ab:group=:off"}, "http://x.news.ab/?group=alt", 0,
       {"verdict UNRESTRICTED"}},
      {{"--extensions", "--extension", ".exe"}, "http://dl.example.org/setup.EXE", 0,
       {"reason restricted file extension"}},
      {{"--search-words", "--deny", "7", "--search-site", "*:q=", "--search-word", "poker:Gambling:8"},
       "http://find.example.org/?q=red+Poker", 0,
       {"reason restricted search word", "entered with mode 8"}},
      {{"--search-words", "--search-site", "*:q=", "--search-word", "poker:Gambling"},
       "http://find.example.org/?q=poker", 0, {"verdict UNRESTRICTED"}},  // Gambling not denied
      {{"--news-backdoor", "--news", "news.ab:g=", "--query", "g=1"}, "http://news.ab/", 0,
       {"reason news back door"}},
      {{"--deny", "7", "--hours", "Mon-Fri 09-17", "--at", "Mon:10"}, "http://cards.example.com/", 0,
       {"period Mon 10:00, business hours", "verdict RESTRICTED"}},
      {{"--deny", "7", "--hours", "Mon-Fri 09-17", "--at", "Sat:10"}, "http://cards.example.com/", 0,
       {"period Sat 10:00, other hours", "NOTHING TO CHECK (no restriction set"}},
      {{"--deny", "1", "--hours", "Mon-Fri 09-17", "--other-deny", "7", "--at", "Tue:20"},
       "http://cards.example.com/", 0, {"reason denied category: Gambling"}},
      {{"--deny", "7"}, "not a url", 1, {"1010 QX_ERR_BAD_URL", "the URL cannot be parsed"}},
      // A host below a listed one: found by its parent domain, unless told not to.
      {{"--deny", "7"}, "http://www.cards.example.com/", 0,
       {"key CARDS.EXAMPLE.COM", "verdict RESTRICTED"}},
      {{"--deny", "7", "--no-parent-domains"}, "http://www.cards.example.com/", 0,
       {"14 QX_UNCATEGORIZED", "verdict UNRESTRICTED"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.options;
    args.push_back(control_);
    args.push_back(c.url);
    EXPECT_EQ(c.exitCode, Run(args)) << c.url << "\n" << err_.str();
    for (const std::string& line : c.lines) {
      EXPECT_NE(std::string::npos, out_.str().find(line)) << line << "\nin:\n" << out_.str();
    }
  }
}

TEST_F(CheckRunTest, UrlsFromStandardInput) {
  EXPECT_EQ(0, Run({"--deny", "7", control_}, "http://cards.example.com/\n\n# note\nhttp://x.org/\r\n"));
  const std::string text = out_.str();
  EXPECT_NE(std::string::npos, text.find("url http://cards.example.com/\n"));
  EXPECT_NE(std::string::npos, text.find("url http://x.org/\n"));
  EXPECT_EQ(std::string::npos, text.find("note"));
}

TEST_F(CheckRunTest, BadUsageIsExplained) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* message;
  };
  const std::string missing = dir_.File("missing.lst");
  const Case cases[] = {
      {{}, 2, "no control list"},
      {{"--deny", "Gamblin", control_}, 2, "Gamblin"},
      {{"--bogus", control_}, 2, "unknown option --bogus"},
      {{"--control", "14", control_}, 2, "--control"},
      {{"--at", "Mon", control_}, 2, "--at"},
      {{"--hours", "Mon-Fri", control_}, 2, "--hours"},
      {{"--hours-file", missing, control_}, 2, "--hours-file: cannot open"},
      {{"--news", "nosite", control_, "http://a.b/"}, 2, "SITE:PARAM"},
      {{"--news", "a.b:q=:sometimes", control_, "http://a.b/"}, 2, "unknown mode"},
      {{"--search-word", "averyveryverylongword:7", control_, "http://a.b/"}, 2, "could never match"},
      {{"--search-word", "dice:Nothing", control_, "http://a.b/"}, 2, "Nothing"},
      {{"--deny"}, 2, "--deny needs a value"},
      {{missing, "http://a.b/"}, 1, "cannot load the control list"},
      {{"--site", missing, control_, "http://a.b/"}, 1, "cannot load the site list"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.exitCode, Run(c.args)) << c.message;
    EXPECT_NE(std::string::npos, err_.str().find(c.message)) << c.message << "\nin:\n" << err_.str();
  }
  EXPECT_EQ(0, Run({"--help"}));
  EXPECT_NE(std::string::npos, out_.str().find("usage: corvane check"));
}

TEST(CheckReasonsTest, EveryReasonHasWords) {
  QxTypes reason = {QX_TYPES_MAGIC, 0x20 | 0x4 | 0x8 | 0x10 | 0x8000 | 0x80 | 0x2 | 0x400,
                    (4u << 6) | (4u << 0)};
  const std::string text = DescribeReasons(reason, "- ");
  for (const char* words :
       {"- denied category: Sex\n", "- denied category: Gambling\n", "- not an approved URL\n",
        "- numeric address\n", "- personal page\n", "- news back door\n",
        "- restricted file extension\n", "- restricted search word\n",
        "- other controls 0x00000400\n"}) {
    EXPECT_NE(std::string::npos, text.find(words)) << words;
  }
}

}  // namespace
}  // namespace corvane_tool
