// Bad inputs and outputs of the corvane commands: each failure names the
// path the user gave and exits non-zero, never with an abort or an empty
// list reported as success.
#include "file_input.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "list_dump.h"
#include "list_writer.h"
#include "testing/list_builder.h"
#include "text_list.h"
#include "ut1_import.h"

namespace corvane_tool {
namespace {

using corvane::testkit::TempDir;
namespace fs = std::filesystem;

using RunFunction = std::function<int(int, char**, std::ostream&, std::ostream&)>;

int RunCommand(const RunFunction& run, std::vector<std::string> args, std::string* err) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  std::ostringstream out, errStream;
  int code = run(static_cast<int>(argv.size()), argv.data(), out, errStream);
  *err = errStream.str();
  return code;
}

void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

TEST(ToolInputTest, BadPathsAreRefusedByName) {
  TempDir dir;
  const fs::path lists = dir.path() / "lists";
  WriteText(lists / "gambling" / "domains", "casino.example.test\n");
  WriteText(dir.path() / "sample.txt", "Gambling\tcasino.example.test\n");
  fs::create_directories(dir.path() / "empty");
  const std::string category = (lists / "gambling").string();
  const std::string missingFolder = (dir.path() / "nowhere" / "out.lst").string();
  const std::string missingText = (dir.path() / "nowhere" / "out.txt").string();
  const std::string sample = (dir.path() / "sample.txt").string();
  const std::string folder = lists.string();
  const std::string empty = (dir.path() / "empty").string();
  struct Case {
    RunFunction run;
    std::vector<std::string> args;
    std::string mentions;
  } cases[] = {
      // A category folder itself, or a folder without any.
      {RunImport, {"import", category, "-o", (dir.path() / "a.txt").string()},
       category + " holds no category folder"},
      {RunImport, {"import", category}, "it is a category folder itself"},
      {RunImport, {"import", empty, "-o", (dir.path() / "b.txt").string()},
       empty + " holds no category folder"},
      {RunImport, {"import", folder, "--only", "games"}, "--only"},
      {RunImport, {"import", folder, "--map", folder}, "--map: " + folder + " is a folder"},
      // Folders where files belong.
      {RunDump, {"dump", "--check", folder}, folder + " is a folder, not a file"},
      {RunDump, {"dump", folder}, folder + " is a folder, not a file"},
      {RunCompile, {"compile", folder, "-o", (dir.path() / "c.lst").string()},
       folder + " is a folder, not a file"},
      // Outputs in a folder that does not exist name the output.
      {RunCompile, {"compile", sample, "-o", missingFolder},
       "cannot write " + missingFolder + ": the folder "},
      {RunImport, {"import", folder, "-o", missingFolder}, "cannot write " + missingFolder},
      {RunImport, {"import", folder, "-o", missingText}, "cannot write " + missingText},
      {RunCompile, {"compile", sample, "-o", folder}, "cannot write " + folder + ": it is a folder"},
  };
  for (const Case& c : cases) {
    std::string err;
    EXPECT_EQ(RunCommand(c.run, c.args, &err), 1) << c.args[0] << " " << c.args[1];
    EXPECT_NE(err.find(c.mentions), std::string::npos) << err;
    EXPECT_EQ(err.find(".tmp"), std::string::npos) << err;
  }
  EXPECT_FALSE(fs::exists(dir.path() / "a.txt"));
  EXPECT_FALSE(fs::exists(dir.path() / "nowhere"));
}

TEST(ToolInputTest, ReadWholeFileNamesWhatFailed) {
  TempDir dir;
  std::string bytes, error;
  ASSERT_TRUE(ReadWholeFile(dir.Write("f.bin", std::string("a\0b", 3)), &bytes, &error)) << error;
  EXPECT_EQ(bytes, std::string("a\0b", 3));
  const std::string missing = dir.File("missing");
  EXPECT_FALSE(ReadWholeFile(missing, &bytes, &error));
  EXPECT_EQ(error.rfind("cannot open " + missing, 0), 0u) << error;
  EXPECT_FALSE(ReadWholeFile(dir.path().string(), &bytes, &error));
  EXPECT_EQ(error, dir.path().string() + " is a folder, not a file");
}

}  // namespace
}  // namespace corvane_tool
