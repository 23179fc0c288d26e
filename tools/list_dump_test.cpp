#include "list_dump.h"

#include <gtest/gtest.h>

#include <sstream>

#include "testing/list_builder.h"

namespace corvane_tool {
namespace {

using corvane::testkit::KeyRecord;
using corvane::testkit::ListFileBytes;
using corvane::testkit::TempDir;

QxListRecord WithFirstByte(std::uint8_t first) {
  QxListRecord record = {};
  record.categories = 4;
  record.digest[0] = first;
  return record;
}

std::string Count(std::int32_t count) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((static_cast<std::uint32_t>(count) >> (8 * i)) & 0xFF);
  return bytes;
}

struct DumpCase {
  const char* name;
  std::string bytes;
  std::size_t records;            // records present in full
  std::int64_t firstProblemIndex; // -2: no problem; -1: the header
  std::int64_t firstProblemOffset;
  const char* firstProblemText;
};

TEST(ListDumpTest, ChecksLikeTheLoaderButSaysWhere) {
  const std::string ordered = ListFileBytes({WithFirstByte(1), WithFirstByte(2), WithFirstByte(3)});
  const DumpCase cases[] = {
      {"ordered", ordered, 3, -2, 0, ""},
      {"empty list", Count(0), 0, -2, 0, ""},
      {"no count", std::string(3, '\0'), 0, -1, 0, "needs 4"},
      {"empty file", std::string(), 0, -1, 0, "needs 4"},
      {"negative count", Count(-5) + std::string(24, '\0'), 0, -1, 0, "negative"},
      {"cut short", ordered.substr(0, ordered.size() - 10), 2, 2, 52, "cut short"},
      {"missing record", Count(4) + ordered.substr(4), 3, 3, 76, "missing"},
      {"out of order",
       ListFileBytes({WithFirstByte(1), WithFirstByte(5), WithFirstByte(3)}), 3, 2, 52,
       "out of order"},
      {"duplicate",
       ListFileBytes({WithFirstByte(1), WithFirstByte(1), WithFirstByte(3)}), 3, 1, 28,
       "same digest"},
      {"zero digest later", ListFileBytes({WithFirstByte(1), WithFirstByte(0)}), 2, 1, 28,
       "out of order"},
  };
  TempDir dir;
  for (const DumpCase& c : cases) {
    std::string path = dir.Write("list.lst", c.bytes);
    ListFileImage image;
    std::string error;
    ASSERT_TRUE(ReadListFileImage(path, &image, &error)) << c.name << ": " << error;
    EXPECT_EQ(image.records.size(), c.records) << c.name;
    if (c.firstProblemIndex == -2) {
      EXPECT_TRUE(image.problems.empty()) << c.name << ": " << image.problems[0].message;
      continue;
    }
    ASSERT_FALSE(image.problems.empty()) << c.name;
    EXPECT_EQ(image.problems[0].index, c.firstProblemIndex) << c.name;
    EXPECT_EQ(image.problems[0].offset, c.firstProblemOffset) << c.name;
    EXPECT_NE(image.problems[0].message.find(c.firstProblemText), std::string::npos)
        << c.name << ": " << image.problems[0].message;
  }
}

TEST(ListDumpTest, TrailingBytesAreNotedButAccepted) {
  TempDir dir;
  std::string path = dir.Write("list.lst", ListFileBytes({WithFirstByte(1)}) + "xyz");
  ListFileImage image;
  std::string error;
  ASSERT_TRUE(ReadListFileImage(path, &image, &error));
  EXPECT_TRUE(image.problems.empty());
  EXPECT_EQ(image.trailingBytes, 3);
}

int Dump(std::vector<std::string> args, std::string* out, std::string* err) {
  args.insert(args.begin(), "dump");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  std::ostringstream outStream;
  std::ostringstream errStream;
  int code = RunDump(static_cast<int>(argv.size()), argv.data(), outStream, errStream);
  *out = outStream.str();
  *err = errStream.str();
  return code;
}

TEST(ListDumpTest, CommandShowsRecordsAndFailsOnBadOrder) {
  TempDir dir;
  QxListRecord approved = KeyRecord("A.EXAMPLE.COM", 4u << 6, 2, 0x01);
  std::string good = dir.WriteList("good.lst", {approved, KeyRecord("B.EXAMPLE.COM", 4)});
  std::string out;
  std::string err;
  ASSERT_EQ(Dump({good}, &out, &err), 0) << err;
  EXPECT_NE(out.find("2 records declared"), std::string::npos) << out;
  EXPECT_NE(out.find("kind 2\tmark 0x01 approved\tcategories 0x00000100 (7 Gambling)"),
            std::string::npos)
      << out;

  std::string bad = dir.Write("bad.lst", ListFileBytes({WithFirstByte(9), WithFirstByte(3)}));
  EXPECT_EQ(Dump({bad}, &out, &err), 1);
  EXPECT_NE(err.find("record 1 at byte offset 28"), std::string::npos) << err;
  EXPECT_EQ(Dump({dir.File("absent.lst")}, &out, &err), 1);
  EXPECT_EQ(Dump({}, &out, &err), 2);
}

}  // namespace
}  // namespace corvane_tool
