// The registry roots through the Registry interface. The shared tests run
// against a REGEDIT4 file root (NewFileRegistry) on POSIX and against the
// real registry (below HKLM\SOFTWARE\PelluminTest, removed afterwards) on
// Windows; the default root's file lookup and the C-style functions of
// platform.h are tested at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "env.h"
#include "platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "regedit_format.h"
#endif

namespace platform {
namespace {

constexpr char kBase[] = "SOFTWARE\\PelluminTest";

class RegistryTest : public ::testing::Test {
 protected:
#ifdef _WIN32
  void SetUp() override {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kBase);
    registry_ = Env::Default()->registry();
  }
  void TearDown() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kBase); }
#else
  void SetUp() override {
    char pattern[] = "/tmp/pellumin-registry-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    file_ = dir_ + "/conf/hklm.reg";
    owned_ = NewFileRegistry(file_);
    registry_ = owned_.get();
  }
  void TearDown() override {
    std::string command = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(system(command.c_str()), 0);
  }
  std::string ReadStore() const {
    std::ifstream in(file_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void WriteStore(const std::string& text) const {
    mkdir((dir_ + "/conf").c_str(), 0777);
    std::ofstream(file_, std::ios::binary) << text;
  }
  std::string dir_;
  std::string file_;
  std::unique_ptr<Registry> owned_;
#endif
  Registry* registry_ = nullptr;

  static std::string Path(const char* sub) { return std::string(kBase) + "\\" + sub; }

  void SetString(const std::unique_ptr<RegistryKey>& key, const char* name,
                 const std::string& text) {
    ASSERT_EQ(key->SetValue(name, kRegSz, text.c_str(), static_cast<std::uint32_t>(text.size() + 1)),
              RegStatus::kOk)
        << registry_->LastError();
  }
  void SetDword(const std::unique_ptr<RegistryKey>& key, const char* name, std::uint32_t number) {
    ASSERT_EQ(key->SetValue(name, kRegDword, &number, 4), RegStatus::kOk)
        << registry_->LastError();
  }
  std::unique_ptr<RegistryKey> Create(const std::string& path) {
    std::unique_ptr<RegistryKey> key;
    EXPECT_EQ(registry_->CreateKey(path.c_str(), "Zelmar Global Data", &key), RegStatus::kOk)
        << registry_->LastError();
    return key;
  }
};

TEST_F(RegistryTest, QueryFollowsRegQueryValueEx) {
  std::unique_ptr<RegistryKey> key = Create(Path("Main"));
  ASSERT_NE(key, nullptr);
  SetString(key, "ControlFile", "C:\\lists\\control");
  SetDword(key, "Log", 0xFFFFFFFFu);
  key.reset();

  ASSERT_EQ(registry_->OpenKey(Path("Main").c_str(), RegAccess::kRead, &key), RegStatus::kOk);
  const std::uint32_t textSize = sizeof("C:\\lists\\control");
  struct Case {
    const char* label;
    const char* name;
    bool withData;
    std::uint32_t room;
    RegStatus status;
    std::uint32_t size;
  };
  const Case cases[] = {
      {"size only", "ControlFile", false, 0, RegStatus::kOk, textSize},
      {"exact room", "ControlFile", true, textSize, RegStatus::kOk, textSize},
      {"one byte short", "ControlFile", true, textSize - 1, RegStatus::kMoreData, textSize},
      {"dword", "Log", true, 4, RegStatus::kOk, 4},
      {"dword, no room", "Log", true, 3, RegStatus::kMoreData, 4},
      {"name in another case", "controlfile", true, 64, RegStatus::kOk, textSize},
      {"missing value", "SiteFile", true, 64, RegStatus::kNotFound, 64},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    char buffer[64];
    std::memset(buffer, '#', sizeof buffer);
    std::uint32_t type = 0;
    std::uint32_t size = c.room;
    EXPECT_EQ(key->QueryValue(c.name, &type, c.withData ? buffer : nullptr, &size),
              c.status);
    EXPECT_EQ(size, c.size);
    if (c.status == RegStatus::kOk && c.withData) {
      if (type == kRegSz) {
        EXPECT_STREQ(buffer, "C:\\lists\\control");
      } else {
        std::uint32_t number = 0;
        std::memcpy(&number, buffer, 4);
        EXPECT_EQ(type, kRegDword);
        EXPECT_EQ(number, 0xFFFFFFFFu);
      }
    }
  }
  // A read-only handle refuses writes.
  std::uint32_t one = 1;
  EXPECT_EQ(key->SetValue("Log", kRegDword, &one, 4), RegStatus::kAccessDenied);
  key.reset();
}

TEST_F(RegistryTest, KeysAreFoundWithoutRegardToCase) {
  std::unique_ptr<RegistryKey> key = Create(Path("Main\\Deny"));
  ASSERT_NE(key, nullptr);
  SetDword(key, "SexState", 1);
  key.reset();
  struct Case {
    std::string path;
    RegStatus status;
  };
  const Case cases[] = {
      {"software\\pellumintest\\MAIN\\deny", RegStatus::kOk},
      {Path("Main\\Deny\\"), RegStatus::kOk},  // the main key path ends in a backslash
      {Path("Main"), RegStatus::kOk},          // parents exist too
      {Path("Main\\Alert"), RegStatus::kNotFound},
      {Path("Mai"), RegStatus::kNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::unique_ptr<RegistryKey> opened;
    EXPECT_EQ(registry_->OpenKey(c.path.c_str(), RegAccess::kSetValue, &opened), c.status);
    EXPECT_EQ(opened != nullptr, c.status == RegStatus::kOk);
    if (opened != nullptr) opened.reset();
  }
}

TEST_F(RegistryTest, TextWithLineEndsSurvives) {
  std::string text = "<BODY bgcolor=\"#FF0000\">\r\n<p><B>Access to this site is restricted.</B></p>\r\n</BODY>";
#ifndef _WIN32
  text += "\t\x01\x7f caf\xe9 \x80\xff";  // the file keeps any byte
#endif
  std::unique_ptr<RegistryKey> key = Create(Path("Main"));
  ASSERT_NE(key, nullptr);
  SetString(key, "ErrorMsg", text);
  key.reset();
  ASSERT_EQ(registry_->OpenKey(Path("Main").c_str(), RegAccess::kRead, &key), RegStatus::kOk);
  char buffer[4096];
  std::uint32_t size = sizeof buffer;
  std::uint32_t type = 0;
  ASSERT_EQ(key->QueryValue("ErrorMsg", &type, buffer, &size), RegStatus::kOk);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(std::string(buffer, size), text + '\0');
  key.reset();
}

// Only each name is limited (255 characters), not the path: a path of
// several hundred characters reaches its key, and a name longer than the
// limit is refused rather than cut or stored.
TEST_F(RegistryTest, LongPathsReachTheirKeysAndOverlongNamesAreRefused) {
  std::string path = Path("Long");
  while (path.size() < 600) path += "\\Component";
  std::unique_ptr<RegistryKey> key = Create(path);
  ASSERT_NE(key, nullptr);
  SetDword(key, "Log", 7);
  key.reset();
  key.reset();
  ASSERT_EQ(registry_->OpenKey(path.c_str(), RegAccess::kRead, &key), RegStatus::kOk)
      << registry_->LastError();
  std::uint32_t number = 0;
  std::uint32_t size = sizeof number;
  EXPECT_EQ(key->QueryValue("Log", nullptr, &number, &size), RegStatus::kOk);
  EXPECT_EQ(number, 7u);
  key.reset();

  // Directly below an existing key: Windows may make the missing parents of
  // a key it then refuses, the settings file makes none.
  const std::string overlong = Path(std::string(300, 'n').c_str());
  key.reset();
  EXPECT_EQ(registry_->CreateKey(overlong.c_str(), nullptr, &key), RegStatus::kInvalid);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(registry_->OpenKey(overlong.c_str(), RegAccess::kRead, &key), RegStatus::kInvalid);
  EXPECT_EQ(key, nullptr);
}

TEST_F(RegistryTest, RefusesBadArguments) {
  std::unique_ptr<RegistryKey> key;
  EXPECT_EQ(registry_->OpenKey(nullptr, RegAccess::kRead, &key), RegStatus::kInvalid);
  EXPECT_EQ(registry_->OpenKey(kBase, RegAccess::kRead, nullptr), RegStatus::kInvalid);
  key = Create(Path("Main"));
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->SetValue("x", kRegSz, nullptr, 4), RegStatus::kInvalid);
  EXPECT_EQ(key->QueryValue("x", nullptr, nullptr, nullptr), RegStatus::kInvalid);
  EXPECT_EQ(key->ValueNames(nullptr), RegStatus::kInvalid);
  EXPECT_EQ(key->SubkeyNames(nullptr), RegStatus::kInvalid);
  EXPECT_EQ(registry_->DeleteKey(nullptr), RegStatus::kInvalid);
  EXPECT_EQ(registry_->DeleteKey(""), RegStatus::kInvalid);
  key.reset();
}

// The C-style functions of platform.h refuse what they cannot use before
// they reach the default root.
TEST(RegistryFunctions, RefuseBadArguments) {
  RegKey* key = nullptr;
  EXPECT_EQ(OpenRegistryKey(nullptr, RegAccess::kRead, &key), RegStatus::kInvalid);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(OpenRegistryKey(kBase, RegAccess::kRead, nullptr), RegStatus::kInvalid);
  EXPECT_EQ(CreateRegistryKey(kBase, "", nullptr), RegStatus::kInvalid);
  std::uint32_t size = 4;
  EXPECT_EQ(QueryRegistryValue(nullptr, "x", nullptr, nullptr, &size), RegStatus::kInvalid);
  EXPECT_EQ(SetRegistryValue(nullptr, "x", kRegDword, &size, 4), RegStatus::kInvalid);
  EXPECT_STRNE(LastRegistryError(), "");
  EXPECT_EQ(CloseRegistryKey(nullptr), RegStatus::kInvalid);
}

#ifndef _WIN32

TEST_F(RegistryTest, MissingFileMeansMissingKeys) {
  std::unique_ptr<RegistryKey> key;
  EXPECT_EQ(registry_->OpenKey(Path("Main").c_str(), RegAccess::kRead, &key), RegStatus::kNotFound);
  EXPECT_EQ(key, nullptr);
  struct stat st;
  EXPECT_NE(stat(file_.c_str(), &st), 0) << "reading must not create the file";
  // Creating a key makes the folder and the file.
  key = Create(Path("Main"));
  ASSERT_NE(key, nullptr);
  key.reset();
  EXPECT_EQ(ReadStore(),
            "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\PelluminTest]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\PelluminTest\\Main]\r\n\r\n");
}

TEST_F(RegistryTest, EveryOpenSeesTheFileAsItIsNow) {
  std::unique_ptr<RegistryKey> writer = Create(Path("Main"));
  ASSERT_NE(writer, nullptr);
  SetDword(writer, "Mail", 0);
  std::unique_ptr<RegistryKey> reader;
  ASSERT_EQ(registry_->OpenKey(Path("Main").c_str(), RegAccess::kRead, &reader), RegStatus::kOk);
  // Another program edits the file by hand.
  std::string text = ReadStore();
  std::size_t at = text.find("dword:00000000");
  ASSERT_NE(at, std::string::npos);
  text.replace(at, 14, "dword:00000001");
  WriteStore(text);
  reader.reset();
  ASSERT_EQ(registry_->OpenKey(Path("Main").c_str(), RegAccess::kRead, &reader), RegStatus::kOk);
  std::uint32_t number = 0, size = 4;
  EXPECT_EQ(reader->QueryValue("Mail", nullptr, &number, &size), RegStatus::kOk);
  EXPECT_EQ(number, 1u);
  // A write through an older handle keeps the other program's edit.
  SetDword(writer, "Log", 1);
  EXPECT_NE(ReadStore().find("\"Mail\"=dword:00000001"), std::string::npos);
  reader.reset();
  writer.reset();
}

TEST_F(RegistryTest, MalformedFileIsReportedAndNeverOverwritten) {
  std::unique_ptr<RegistryKey> key = Create(Path("Main"));
  ASSERT_NE(key, nullptr);
  const std::string broken =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\PelluminTest\\Main]\r\n\"Log\"=dword:1x\r\n";
  WriteStore(broken);

  std::uint32_t one = 1;
  EXPECT_EQ(key->SetValue("Mail", kRegDword, &one, 4), RegStatus::kBadFormat);
  EXPECT_NE(std::string(registry_->LastError()).find("line 4"), std::string::npos)
      << registry_->LastError();
  EXPECT_NE(std::string(registry_->LastError()).find(file_), std::string::npos);
  key.reset();

  std::unique_ptr<RegistryKey> other;
  EXPECT_EQ(registry_->CreateKey(Path("Other").c_str(), "", &other), RegStatus::kBadFormat);
  EXPECT_EQ(registry_->OpenKey(Path("Main").c_str(), RegAccess::kRead, &other), RegStatus::kBadFormat);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(ReadStore(), broken);
}

std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(RegistryTest, WritesLeaveNoTemporaryFiles) {
  std::unique_ptr<RegistryKey> key = Create(Path("Main"));
  ASSERT_NE(key, nullptr);
  for (int i = 0; i < 5; ++i) SetDword(key, ("v" + std::to_string(i)).c_str(), i);
  key.reset();
  EXPECT_EQ(FolderNames(dir_ + "/conf"), (std::vector<std::string>{"hklm.reg", "hklm.reg.lock"}));
}

TEST_F(RegistryTest, NextWriteRemovesCopiesThatDeadWritersLeft) {
  std::unique_ptr<RegistryKey> key = Create(Path("Main"));
  ASSERT_NE(key, nullptr);
  struct Case {
    const char* name;
    bool removed;
  } cases[] = {
      {"hklm.reg.tmp.4242.0", true},   {"hklm.reg.tmp.1.17", true},
      {"hklm.reg.tmp.4242", false},    {"hklm.reg.tmp.notes", false},
      {"hklm.reg.tmp.1.2.3", false},   {"other.reg.tmp.4242.0", false},
      {"hklm.reg.tmp..0", false},      {"hklm.reg.tmp.12.x", false},
  };
  for (const Case& c : cases) std::ofstream(dir_ + "/conf/" + c.name) << "half a file";
  SetDword(key, "after", 1);
  key.reset();
  std::vector<std::string> expected = {"hklm.reg", "hklm.reg.lock"};
  for (const Case& c : cases) {
    if (!c.removed) expected.push_back(c.name);
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(FolderNames(dir_ + "/conf"), expected);
}

// Writers killed with SIGKILL, every other one as soon as its temporary copy
// appears (inside a write), the others at a random moment: the file always
// reads whole, every value a killed writer finished is there, and the next
// write clears the copies.
TEST_F(RegistryTest, WritersKilledMidWriteLeaveTheFileWhole) {
  // A file of some size, so that writing a copy takes a while.
  std::unique_ptr<RegistryKey> key = Create(Path("Big"));
  ASSERT_NE(key, nullptr);
  const std::string filler(400, 'f');
  for (int i = 0; i < 300; ++i) SetString(key, ("fill" + std::to_string(i)).c_str(), filler);
  key.reset();

  int killed_mid_write = 0, next = 0;
  unsigned seed = 12345;
  for (int attempt = 0; attempt < 60 && killed_mid_write < 3; ++attempt) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::unique_ptr<RegistryKey> child;
      if (registry_->OpenKey(Path("Big").c_str(), RegAccess::kSetValue, &child) != RegStatus::kOk)
        _exit(1);
      // "done" is set after each value, so every value up to "done" must
      // survive the kill.
      for (std::uint32_t i = static_cast<std::uint32_t>(next);; ++i) {
        std::string name = "n" + std::to_string(i);
        child->SetValue(name.c_str(), kRegDword, &i, 4);
        child->SetValue("done", kRegDword, &i, 4);
      }
    }
    const std::string own = "hklm.reg.tmp." + std::to_string(pid) + ".";
    if (attempt % 2 == 0) {
      // Watch for the writer's copy and kill it the moment it appears.
      bool seen = false;
      for (int polls = 0; polls < 2000000 && !seen; ++polls) {
        for (const std::string& name : FolderNames(dir_ + "/conf")) {
          if (name.compare(0, own.size(), own) == 0) seen = true;
        }
      }
    } else {
      seed = seed * 1103515245u + 12345u;
      usleep(5000 + (seed >> 16) % 50000);
    }
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended on its own";

    // A copy named by this writer's pid: the kill landed inside a write.
    for (const std::string& name : FolderNames(dir_ + "/conf")) {
      if (name.compare(0, own.size(), own) == 0) ++killed_mid_write;
    }
    std::unique_ptr<RegistryKey> reader;
    ASSERT_EQ(registry_->OpenKey(Path("Big").c_str(), RegAccess::kRead, &reader), RegStatus::kOk)
        << registry_->LastError();
    std::uint32_t done = 0, size = 4;
    if (reader->QueryValue("done", nullptr, &done, &size) == RegStatus::kOk) {
      for (std::uint32_t i = 0; i <= done; ++i) {
        std::uint32_t value = 0;
        size = 4;
        ASSERT_EQ(reader->QueryValue(("n" + std::to_string(i)).c_str(), nullptr, &value,
                                     &size),
                  RegStatus::kOk)
            << "n" << i << " lost after a kill";
        EXPECT_EQ(value, i);
      }
      next = static_cast<int>(done) + 1;
    }
    std::uint32_t kind = 0;
    char text[512];
    size = sizeof text;
    EXPECT_EQ(reader->QueryValue("fill299", &kind, text, &size), RegStatus::kOk);
    EXPECT_EQ(std::string(text), filler);
    reader.reset();
  }
  EXPECT_GT(killed_mid_write, 0) << "no kill landed inside a write";
  key.reset();
  ASSERT_EQ(registry_->OpenKey(Path("Big").c_str(), RegAccess::kSetValue, &key), RegStatus::kOk);
  SetDword(key, "after", 1);
  key.reset();
  EXPECT_EQ(FolderNames(dir_ + "/conf"), (std::vector<std::string>{"hklm.reg", "hklm.reg.lock"}));
}

// Each writer sets its own values; afterwards every one of them is there.
void SetMany(Registry* registry, const std::string& path, int writer, int count) {
  std::unique_ptr<RegistryKey> key;
  if (registry->CreateKey(path.c_str(), "", &key) != RegStatus::kOk) return;
  for (int i = 0; i < count; ++i) {
    std::string name = "w" + std::to_string(writer) + "v" + std::to_string(i);
    std::uint32_t number = static_cast<std::uint32_t>(writer * 1000 + i);
    key->SetValue(name.c_str(), kRegDword, &number, 4);
  }
  key.reset();
}

void ExpectAllValues(Registry* registry, const std::string& path, int writers, int count) {
  std::unique_ptr<RegistryKey> key;
  ASSERT_EQ(registry->OpenKey(path.c_str(), RegAccess::kRead, &key), RegStatus::kOk)
      << registry->LastError();
  int found = 0;
  for (int w = 0; w < writers; ++w) {
    for (int i = 0; i < count; ++i) {
      std::string name = "w" + std::to_string(w) + "v" + std::to_string(i);
      std::uint32_t number = 0, size = 4;
      if (key->QueryValue(name.c_str(), nullptr, &number, &size) == RegStatus::kOk &&
          number == static_cast<std::uint32_t>(w * 1000 + i))
        ++found;
    }
  }
  EXPECT_EQ(found, writers * count);
  key.reset();
}

TEST_F(RegistryTest, ProcessesWritingAtOnceLoseNothing) {
  constexpr int kWriters = 4, kValues = 40;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      SetMany(registry_, Path("Shared"), w, kValues);
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  ExpectAllValues(registry_, Path("Shared"), kWriters, kValues);
}

TEST_F(RegistryTest, ThreadsWritingAtOnceLoseNothing) {
  constexpr int kWriters = 4, kValues = 25;
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) threads.emplace_back(SetMany, registry_, Path("Shared"), w, kValues);
  for (std::thread& t : threads) t.join();
  ExpectAllValues(registry_, Path("Shared"), kWriters, kValues);
}

// The default environment's root: the file the process environment names
// at each open.
TEST_F(RegistryTest, DefaultFileLocation) {
  unsetenv("TARNWICK_HKLM");
  Registry* registry = Env::Default()->registry();
  const char* oldHome = getenv("HOME");
  std::string savedHome = oldHome ? oldHome : "";
  struct Case {
    const char* xdg;
    std::string expected;
  };
  const Case cases[] = {
      {nullptr, dir_ + "/home/.config/tarnwick/hklm.reg"},
      {"", dir_ + "/home/.config/tarnwick/hklm.reg"},
      {"relative/config", dir_ + "/home/.config/tarnwick/hklm.reg"},
      {"XDG", dir_ + "/xdg/tarnwick/hklm.reg"},
  };
  setenv("HOME", (dir_ + "/home").c_str(), 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    if (c.xdg == nullptr) {
      unsetenv("XDG_CONFIG_HOME");
    } else if (std::string(c.xdg) == "XDG") {
      setenv("XDG_CONFIG_HOME", (dir_ + "/xdg").c_str(), 1);
    } else {
      setenv("XDG_CONFIG_HOME", c.xdg, 1);
    }
    std::unique_ptr<RegistryKey> key;
    ASSERT_EQ(registry->CreateKey("SOFTWARE\\Where", "", &key), RegStatus::kOk)
        << registry->LastError();
    key.reset();
    struct stat st;
    EXPECT_EQ(stat(c.expected.c_str(), &st), 0);
    unlink(c.expected.c_str());
  }
  unsetenv("XDG_CONFIG_HOME");
  if (oldHome) setenv("HOME", savedHome.c_str(), 1);
}

#endif  // !_WIN32

}  // namespace
}  // namespace platform
