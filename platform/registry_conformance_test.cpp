// One set of contracts run against every registry root: the REGEDIT4 file
// (POSIX), memory, and the real registry (Windows, below
// HKLM\SOFTWARE\PelluminConformance, removed afterwards). Then what only the
// in-memory root does: its faults, its text and its record of changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/ascii.h"
#include "env.h"
#include "memory_registry.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <stdlib.h>
#include <unistd.h>
#endif

namespace platform {
namespace {

constexpr char kBase[] = "SOFTWARE\\PelluminConformance";

std::string Path(const std::string& sub) { return std::string(kBase) + "\\" + sub; }

// A root under test and what it needs to be made and cleaned up.
struct Implementation {
  const char* name;
  // Key handles keep what they saw when opened (false: they read through).
  bool snapshots;
  std::function<Registry*(std::unique_ptr<Registry>* owned, std::string* scratch)> make;
  std::function<void(const std::string& scratch)> clean;
};

std::vector<Implementation> Implementations() {
  std::vector<Implementation> all;
  all.push_back({"memory", true,
                 [](std::unique_ptr<Registry>* owned, std::string*) {
                   owned->reset(new MemoryRegistry);
                   return owned->get();
                 },
                 [](const std::string&) {}});
#ifdef _WIN32
  all.push_back({"windows", false,
                 [](std::unique_ptr<Registry>*, std::string*) {
                   RegDeleteTreeA(HKEY_LOCAL_MACHINE, kBase);
                   return Env::Default()->registry();
                 },
                 [](const std::string&) { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kBase); }});
#else
  all.push_back({"file", true,
                 [](std::unique_ptr<Registry>* owned, std::string* scratch) {
                   char pattern[] = "/tmp/pellumin-conformance-XXXXXX";
                   if (mkdtemp(pattern) == nullptr) return static_cast<Registry*>(nullptr);
                   *scratch = pattern;
                   *owned = NewFileRegistry(*scratch + "/conf/hklm.reg");
                   return owned->get();
                 },
                 [](const std::string& scratch) {
                   if (scratch.empty()) return;
                   std::string command = "rm -rf '" + scratch + "'";
                   if (std::system(command.c_str()) != 0) ADD_FAILURE() << command;
                 }});
#endif
  return all;
}

class RegistryConformance : public ::testing::TestWithParam<Implementation> {
 protected:
  void SetUp() override {
    registry_ = GetParam().make(&owned_, &scratch_);
    ASSERT_NE(registry_, nullptr);
  }
  void TearDown() override {
    owned_.reset();
    GetParam().clean(scratch_);
  }

  std::unique_ptr<RegistryKey> Create(const std::string& path) {
    std::unique_ptr<RegistryKey> key;
    EXPECT_EQ(registry_->CreateKey(path.c_str(), "", &key), RegStatus::kOk)
        << registry_->LastError();
    return key;
  }
  std::unique_ptr<RegistryKey> Open(const std::string& path, RegAccess access) {
    std::unique_ptr<RegistryKey> key;
    EXPECT_EQ(registry_->OpenKey(path.c_str(), access, &key), RegStatus::kOk)
        << path << ": " << registry_->LastError();
    return key;
  }
  static void SetDword(RegistryKey* key, const char* name, std::uint32_t number) {
    ASSERT_EQ(key->SetValue(name, kRegDword, &number, 4), RegStatus::kOk);
  }
  // Names sorted without regard to case: the roots agree on the names, not
  // on their order (Wine's registry keeps values sorted, the file keeps
  // them as written).
  static std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
      return base::CompareAsciiNoCase(a, b) < 0;
    });
    return names;
  }
  std::vector<std::string> ValueNames(const std::string& path) {
    std::unique_ptr<RegistryKey> key = Open(path, RegAccess::kRead);
    std::vector<std::string> names;
    if (key != nullptr) EXPECT_EQ(key->ValueNames(&names), RegStatus::kOk);
    return Sorted(names);
  }
  std::vector<std::string> SubkeyNames(const std::string& path) {
    std::unique_ptr<RegistryKey> key = Open(path, RegAccess::kRead);
    std::vector<std::string> names;
    if (key != nullptr) EXPECT_EQ(key->SubkeyNames(&names), RegStatus::kOk);
    return Sorted(names);
  }
  // Main with values B, a, C and subkeys Sub1 and sub2\Deep.
  void MakeTree() {
    std::unique_ptr<RegistryKey> main = Create(Path("Main"));
    ASSERT_NE(main, nullptr);
    SetDword(main.get(), "B", 1);
    SetDword(main.get(), "a", 2);
    SetDword(main.get(), "C", 3);
    Create(Path("Main\\Sub1"));
    Create(Path("Main\\sub2\\Deep"));
  }

  std::unique_ptr<Registry> owned_;
  std::string scratch_;
  Registry* registry_ = nullptr;
};

TEST_P(RegistryConformance, EnumeratesValuesAndDirectSubkeys) {
  MakeTree();
  EXPECT_EQ(ValueNames(Path("Main")), (std::vector<std::string>{"a", "B", "C"}));
  EXPECT_EQ(SubkeyNames(Path("Main")), (std::vector<std::string>{"Sub1", "sub2"}));
  EXPECT_EQ(SubkeyNames(Path("main\\SUB2")), (std::vector<std::string>{"Deep"}));
  EXPECT_EQ(ValueNames(Path("Main\\Sub1")), std::vector<std::string>{});
  EXPECT_EQ(SubkeyNames(Path("Main\\Sub1")), std::vector<std::string>{});
  EXPECT_EQ(SubkeyNames(kBase), (std::vector<std::string>{"Main"}));
}

TEST_P(RegistryConformance, DeletesValues) {
  MakeTree();
  std::unique_ptr<RegistryKey> key = Open(Path("Main"), RegAccess::kAll);
  ASSERT_NE(key, nullptr);
  struct Case {
    const char* name;
    RegStatus status;
  };
  const Case cases[] = {
      {"a", RegStatus::kOk},
      {"A", RegStatus::kNotFound},  // already gone, in any case
      {"c", RegStatus::kOk},        // found without regard to case
      {"Missing", RegStatus::kNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(key->DeleteValue(c.name), c.status) << registry_->LastError();
  }
  std::vector<std::string> names;
  ASSERT_EQ(key->ValueNames(&names), RegStatus::kOk);
  EXPECT_EQ(Sorted(names), (std::vector<std::string>{"B"}));
  key.reset();
  EXPECT_EQ(ValueNames(Path("Main")), (std::vector<std::string>{"B"}));
  std::unique_ptr<RegistryKey> reader = Open(Path("Main"), RegAccess::kRead);
  ASSERT_NE(reader, nullptr);
  std::uint32_t size = 4, number = 0;
  EXPECT_EQ(reader->QueryValue("a", nullptr, &number, &size), RegStatus::kNotFound);
}

TEST_P(RegistryConformance, DeletesOnlyKeysWithoutSubkeys) {
  MakeTree();
  struct Case {
    std::string path;
    RegStatus status;
  };
  const Case cases[] = {
      {Path("Main"), RegStatus::kAccessDenied},  // has subkeys
      {Path("Main\\sub2"), RegStatus::kAccessDenied},
      {Path("MAIN\\SUB2\\deep"), RegStatus::kOk},
      {Path("Main\\sub2\\Deep"), RegStatus::kNotFound},  // gone
      {Path("Main\\Missing"), RegStatus::kNotFound},
      {Path("Main\\Sub1\\"), RegStatus::kOk},  // a trailing backslash is dropped
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(registry_->DeleteKey(c.path.c_str()), c.status) << registry_->LastError();
  }
  // The parents of a removed key stay, with their values.
  EXPECT_EQ(SubkeyNames(Path("Main")), (std::vector<std::string>{"sub2"}));
  EXPECT_EQ(SubkeyNames(Path("Main\\sub2")), std::vector<std::string>{});
  EXPECT_EQ(registry_->DeleteKey(Path("Main\\sub2").c_str()), RegStatus::kOk);
  EXPECT_EQ(registry_->DeleteKey(Path("Main").c_str()), RegStatus::kOk) << registry_->LastError();
  std::unique_ptr<RegistryKey> key;
  EXPECT_EQ(registry_->OpenKey(Path("Main").c_str(), RegAccess::kRead, &key),
            RegStatus::kNotFound);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(SubkeyNames(kBase), std::vector<std::string>{});
  // A key made again starts without the values of the one removed.
  Create(Path("Main"));
  EXPECT_EQ(ValueNames(Path("Main")), std::vector<std::string>{});
}

TEST_P(RegistryConformance, HandlesAllowOnlyWhatTheyWereOpenedFor) {
  MakeTree();
  using Call = std::function<RegStatus(RegistryKey*)>;
  const Call query = [](RegistryKey* key) {
    std::uint32_t number = 0, size = 4;
    return key->QueryValue("B", nullptr, &number, &size);
  };
  const Call set = [](RegistryKey* key) {
    std::uint32_t number = 9;
    return key->SetValue("New", kRegDword, &number, 4);
  };
  const Call remove = [](RegistryKey* key) { return key->DeleteValue("C"); };
  const Call values = [](RegistryKey* key) {
    std::vector<std::string> names;
    return key->ValueNames(&names);
  };
  const Call subkeys = [](RegistryKey* key) {
    std::vector<std::string> names;
    return key->SubkeyNames(&names);
  };
  struct Case {
    const char* label;
    RegAccess access;
    const Call* call;
    RegStatus status;
  };
  const Case cases[] = {
      {"read: query", RegAccess::kRead, &query, RegStatus::kOk},
      {"read: values", RegAccess::kRead, &values, RegStatus::kOk},
      {"read: subkeys", RegAccess::kRead, &subkeys, RegStatus::kOk},
      {"read: set", RegAccess::kRead, &set, RegStatus::kAccessDenied},
      {"read: delete", RegAccess::kRead, &remove, RegStatus::kAccessDenied},
      {"set: query", RegAccess::kSetValue, &query, RegStatus::kAccessDenied},
      {"set: values", RegAccess::kSetValue, &values, RegStatus::kAccessDenied},
      {"set: subkeys", RegAccess::kSetValue, &subkeys, RegStatus::kAccessDenied},
      {"set: set", RegAccess::kSetValue, &set, RegStatus::kOk},
      {"set: delete", RegAccess::kSetValue, &remove, RegStatus::kOk},
      {"all: query", RegAccess::kAll, &query, RegStatus::kOk},
      {"all: values", RegAccess::kAll, &values, RegStatus::kOk},
      {"all: set", RegAccess::kAll, &set, RegStatus::kOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::unique_ptr<RegistryKey> key = Open(Path("Main"), c.access);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ((*c.call)(key.get()), c.status) << registry_->LastError();
  }
  EXPECT_EQ(ValueNames(Path("Main")), (std::vector<std::string>{"a", "B", "New"}));
}

TEST_P(RegistryConformance, HandlesSeeOthersChangesOnlyWhenTheyReadThrough) {
  MakeTree();
  std::unique_ptr<RegistryKey> early = Open(Path("Main"), RegAccess::kRead);
  ASSERT_NE(early, nullptr);
  std::unique_ptr<RegistryKey> writer = Open(Path("Main"), RegAccess::kAll);
  ASSERT_NE(writer, nullptr);
  SetDword(writer.get(), "Later", 5);
  ASSERT_EQ(writer->DeleteValue("B"), RegStatus::kOk);
  Create(Path("Main\\Sub3"));

  const bool snapshots = GetParam().snapshots;
  std::uint32_t number = 0, size = 4;
  EXPECT_EQ(early->QueryValue("Later", nullptr, &number, &size),
            snapshots ? RegStatus::kNotFound : RegStatus::kOk);
  size = 4;
  EXPECT_EQ(early->QueryValue("B", nullptr, &number, &size),
            snapshots ? RegStatus::kOk : RegStatus::kNotFound);
  std::vector<std::string> names;
  ASSERT_EQ(early->SubkeyNames(&names), RegStatus::kOk);
  EXPECT_EQ(Sorted(names), snapshots ? (std::vector<std::string>{"Sub1", "sub2"})
                                     : (std::vector<std::string>{"Sub1", "sub2", "Sub3"}));
  // The writer's own handle sees its changes in every root.
  ASSERT_EQ(writer->ValueNames(&names), RegStatus::kOk);
  EXPECT_EQ(Sorted(names), (std::vector<std::string>{"a", "C", "Later"}));
  // A new handle sees them all.
  EXPECT_EQ(ValueNames(Path("Main")), (std::vector<std::string>{"a", "C", "Later"}));
}

TEST_P(RegistryConformance, ThreadsWritingAtOnceLoseNothing) {
  constexpr int kWriters = 4, kValues = 20;
  Create(Path("Shared"));
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([this, w] {
      std::unique_ptr<RegistryKey> key;
      if (registry_->OpenKey(Path("Shared").c_str(), RegAccess::kSetValue, &key) !=
          RegStatus::kOk)
        return;
      for (int i = 0; i < kValues; ++i) {
        std::uint32_t number = static_cast<std::uint32_t>(w * 1000 + i);
        std::string name = "w" + std::to_string(w) + "v" + std::to_string(i);
        key->SetValue(name.c_str(), kRegDword, &number, 4);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(ValueNames(Path("Shared")).size(), static_cast<std::size_t>(kWriters * kValues));
}

INSTANTIATE_TEST_SUITE_P(AllRoots, RegistryConformance, ::testing::ValuesIn(Implementations()),
                         [](const ::testing::TestParamInfo<Implementation>& info) {
                           return std::string(info.param.name);
                         });

// --- What only the in-memory root does ------------------------------------

const std::uint32_t kOne = 1;

TEST(MemoryRegistry, FailsTheCallsATestNames) {
  using Call = MemoryRegistry::Call;
  struct Case {
    const char* label;
    Call call;
    const char* faultPath;
    // The call made, on SOFTWARE\T\Main (with value V set beforehand).
    std::function<RegStatus(Registry*)> act;
    RegStatus status;
  };
  const auto openFor = [](RegAccess access) {
    return [access](Registry* r) {
      std::unique_ptr<RegistryKey> key;
      return r->OpenKey("SOFTWARE\\T\\Main", access, &key);
    };
  };
  const auto onKey = [](RegAccess access, std::function<RegStatus(RegistryKey*)> f) {
    return [access, f](Registry* r) {
      std::unique_ptr<RegistryKey> key;
      RegStatus status = r->OpenKey("SOFTWARE\\T\\Main", access, &key);
      return status == RegStatus::kOk ? f(key.get()) : status;
    };
  };
  const auto set = [](RegistryKey* key) { return key->SetValue("W", kRegDword, &kOne, 4); };
  const Case cases[] = {
      {"writing refused", Call::kOpenForWriting, "SOFTWARE\\T\\Main",
       openFor(RegAccess::kSetValue), RegStatus::kAccessDenied},
      {"all access is writing", Call::kOpenForWriting, "software\\t", openFor(RegAccess::kAll),
       RegStatus::kAccessDenied},
      {"reading still allowed", Call::kOpenForWriting, "SOFTWARE\\T\\Main",
       openFor(RegAccess::kRead), RegStatus::kOk},
      {"another key unaffected", Call::kOpenForWriting, "SOFTWARE\\T\\Other",
       openFor(RegAccess::kAll), RegStatus::kOk},
      {"a name that only starts alike", Call::kOpenForReading, "SOFTWARE\\T\\Mai",
       openFor(RegAccess::kRead), RegStatus::kOk},
      {"reading refused", Call::kOpenForReading, "", openFor(RegAccess::kRead),
       RegStatus::kIoError},
      {"create refused", Call::kCreateKey, "SOFTWARE",
       [](Registry* r) {
         std::unique_ptr<RegistryKey> key;
         return r->CreateKey("SOFTWARE\\T\\Main\\New", "", &key);
       },
       RegStatus::kAccessDenied},
      {"set refused", Call::kSetValue, "SOFTWARE\\T\\Main", onKey(RegAccess::kAll, set),
       RegStatus::kIoError},
      {"query refused", Call::kQueryValue, "SOFTWARE\\T\\Main",
       onKey(RegAccess::kRead,
             [](RegistryKey* key) {
               std::uint32_t number = 0, size = 4;
               return key->QueryValue("V", nullptr, &number, &size);
             }),
       RegStatus::kBadFormat},
      {"delete value refused", Call::kDeleteValue, "SOFTWARE\\T\\Main",
       onKey(RegAccess::kAll, [](RegistryKey* key) { return key->DeleteValue("V"); }),
       RegStatus::kAccessDenied},
      {"enumeration refused", Call::kEnumerate, "SOFTWARE\\T\\Main",
       onKey(RegAccess::kRead,
             [](RegistryKey* key) {
               std::vector<std::string> names;
               return key->SubkeyNames(&names);
             }),
       RegStatus::kIoError},
      {"delete key refused", Call::kDeleteKey, "SOFTWARE\\T\\Main",
       [](Registry* r) { return r->DeleteKey("SOFTWARE\\T\\Main"); }, RegStatus::kAccessDenied},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    MemoryRegistry registry;
    {
      std::unique_ptr<RegistryKey> key;
      ASSERT_EQ(registry.CreateKey("SOFTWARE\\T\\Main", "", &key), RegStatus::kOk);
      ASSERT_EQ(key->SetValue("V", kRegDword, &kOne, 4), RegStatus::kOk);
    }
    const std::string before = registry.Text();
    registry.FailCalls(c.call, c.faultPath, c.status);
    EXPECT_EQ(c.act(&registry), c.status);
    if (c.status != RegStatus::kOk) {
      EXPECT_STRNE(registry.LastError(), "");
      EXPECT_EQ(registry.Text(), before) << "a refused call stores nothing";
    }
    registry.ClearFaults();
    EXPECT_EQ(c.act(&registry), RegStatus::kOk) << "faults cleared";
  }
}

TEST(MemoryRegistry, FailsTheNthChange) {
  struct Case {
    int n;
    bool sticky;
    // Which of five SetValue calls succeed.
    std::vector<bool> succeeds;
  };
  const Case cases[] = {
      {1, false, {false, true, true, true, true}},
      {3, false, {true, true, false, true, true}},
      {3, true, {true, true, false, false, false}},
      {9, false, {true, true, true, true, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "n=" << c.n << " sticky=" << c.sticky);
    MemoryRegistry registry;
    std::unique_ptr<RegistryKey> key;
    ASSERT_EQ(registry.CreateKey("SOFTWARE\\T", "", &key), RegStatus::kOk);
    registry.FailNthChange(c.n, RegStatus::kIoError, c.sticky);
    std::vector<std::string> stored;
    for (int i = 0; i < 5; ++i) {
      const std::string name = "v" + std::to_string(i);
      const RegStatus status = key->SetValue(name.c_str(), kRegDword, &kOne, 4);
      EXPECT_EQ(status, c.succeeds[i] ? RegStatus::kOk : RegStatus::kIoError) << name;
      if (c.succeeds[i]) stored.push_back("SOFTWARE\\T|" + name);
    }
    // A read is no change: it neither counts nor fails.
    std::vector<std::string> names;
    EXPECT_EQ(key->ValueNames(&names), RegStatus::kOk);
    std::vector<std::string> expected = {"SOFTWARE\\T"};
    expected.insert(expected.end(), stored.begin(), stored.end());
    EXPECT_EQ(registry.Changes(), expected);
    EXPECT_EQ(names.size(), stored.size());
  }
}

TEST(MemoryRegistry, LoadsAndShowsRegeditText) {
  MemoryRegistry registry;
  const std::string text =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\r\n\"Log\"=dword:00000001\r\n\r\n";
  std::string error;
  ASSERT_TRUE(registry.Load(text, &error)) << error;
  EXPECT_EQ(registry.Text(), text);
  std::unique_ptr<RegistryKey> key;
  ASSERT_EQ(registry.OpenKey("software\\t", RegAccess::kRead, &key), RegStatus::kOk);
  std::uint32_t number = 0, size = 4;
  EXPECT_EQ(key->QueryValue("LOG", nullptr, &number, &size), RegStatus::kOk);
  EXPECT_EQ(number, 1u);
  EXPECT_FALSE(registry.Load("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"a\"=dword:zz\r\n", &error));
  EXPECT_NE(error.find("line 3"), std::string::npos) << error;
  EXPECT_EQ(registry.Text(), text) << "a text that does not parse changes nothing";
  EXPECT_TRUE(registry.Changes().empty());
}

TEST(MemoryRegistry, KeepsClassStringsAndCountsOpenHandles) {
  MemoryRegistry registry;
  EXPECT_EQ(registry.OpenHandles(), 0);
  {
    std::unique_ptr<RegistryKey> made, again, reader;
    ASSERT_EQ(registry.CreateKey("SOFTWARE\\T\\Main", "Zelmar Global Data", &made),
              RegStatus::kOk);
    // Creating a key that is there keeps the class it was made with.
    ASSERT_EQ(registry.CreateKey("software\\t\\main\\", "Other", &again), RegStatus::kOk);
    ASSERT_EQ(registry.OpenKey("SOFTWARE\\T", RegAccess::kRead, &reader), RegStatus::kOk);
    EXPECT_EQ(registry.OpenHandles(), 3);
    std::unique_ptr<RegistryKey> missing;
    EXPECT_EQ(registry.OpenKey("SOFTWARE\\Nothing", RegAccess::kRead, &missing),
              RegStatus::kNotFound);
    EXPECT_EQ(registry.OpenHandles(), 3) << "a failed open leaves no handle";
  }
  EXPECT_EQ(registry.OpenHandles(), 0);
  struct Case {
    const char* path;
    const char* className;
  };
  const Case cases[] = {
      {"SOFTWARE\\T\\Main", "Zelmar Global Data"},
      {"software\\t\\MAIN\\", "Zelmar Global Data"},
      {"SOFTWARE\\T", ""},  // made as a parent
      {"SOFTWARE\\Nothing", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(registry.ClassOf(c.path), c.className) << c.path;
  ASSERT_EQ(registry.DeleteKey("SOFTWARE\\T\\Main"), RegStatus::kOk);
  EXPECT_EQ(registry.ClassOf("SOFTWARE\\T\\Main"), "");
  EXPECT_EQ(registry.Changes(),
            (std::vector<std::string>{"SOFTWARE\\T\\Main", "SOFTWARE\\T\\Main"}));
  registry.ClearChanges();
  EXPECT_TRUE(registry.Changes().empty());
}

}  // namespace
}  // namespace platform
