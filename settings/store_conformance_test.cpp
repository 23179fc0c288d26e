// The store over a registry root and the in-memory store answer the same
// calls the same way: values, enumeration, deletion.
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "memory_registry.h"
#include "memory_store.h"
#include "store.h"

namespace settings {
namespace {

std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

struct Subject {
  const char* name;
  std::function<std::unique_ptr<Store>()> make;
};

class StoreConformance : public ::testing::TestWithParam<Subject> {};

TEST_P(StoreConformance, EnumeratesAndDeletesAsTheRegistryDoes) {
  platform::MemoryRegistry registry;
  std::unique_ptr<Store> made = GetParam().make ? GetParam().make() : nullptr;
  RegistryStore overRegistry(&registry);
  Store& store = made != nullptr ? *made : overRegistry;

  ASSERT_TRUE(store.Create("Software\\Conf\\Deny"));
  ASSERT_TRUE(store.Create("Software\\Conf\\Alert"));
  {
    std::unique_ptr<Key> key = store.Open("Software\\Conf", Access::kSetValue);
    ASSERT_NE(key, nullptr);
    EXPECT_TRUE(key->WriteString("ControlFile", "a.lst"));
    EXPECT_TRUE(key->WriteDword("Log", 1));
    EXPECT_FALSE(key->Delete("Missing"));
    EXPECT_TRUE(key->Delete("Log"));
  }
  std::unique_ptr<Key> key = store.Open("Software\\Conf", Access::kRead);
  ASSERT_NE(key, nullptr);
  std::vector<std::string> names;
  ASSERT_TRUE(key->ValueNames(&names));
  EXPECT_EQ(Sorted(names), (std::vector<std::string>{"ControlFile"}));
  ASSERT_TRUE(key->SubkeyNames(&names));
  EXPECT_EQ(Sorted(names), (std::vector<std::string>{"Alert", "Deny"}));
  EXPECT_EQ(key->ReadDword("Log"), -1);
  EXPECT_FALSE(key->WriteDword("Log", 2)) << "opened for reading";
  key.reset();

  EXPECT_FALSE(store.DeleteKey("Software\\Conf")) << "it has subkeys";
  EXPECT_TRUE(store.DeleteKey("Software\\Conf\\Deny"));
  EXPECT_FALSE(store.DeleteKey("Software\\Conf\\Deny"));
  EXPECT_EQ(store.Open("Software\\Conf\\Deny", Access::kRead), nullptr);
  EXPECT_NE(store.Open("software\\conf\\ALERT", Access::kRead), nullptr) << "case is ignored";
}

INSTANTIATE_TEST_SUITE_P(
    BothStores, StoreConformance,
    ::testing::Values(Subject{"RegistryStore", nullptr},
                      Subject{"MemoryStore", [] { return std::make_unique<testkit::MemoryStore>(); }}),
    [](const ::testing::TestParamInfo<Subject>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace settings
