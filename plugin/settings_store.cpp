// settings_store.cpp -- the configuration store on top of the platform
// registry.
#include "settings_store.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tarnwick {

const char kSettingsKeyClass[] = "Zelmar Global Data";
const char kSaveErrorMessage[] = "Error saving settings to registry.";

namespace {

char g_keyPath[kKeyPathSize] = "";
bool g_keyPathUsable = true;

void WriteToStandardError(const char* text) {
  std::fputs(text, stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

std::atomic<MessageBoxHook> g_messageBox{&WriteToStandardError};

platform::RegAccess ToPlatformAccess(KeyAccess access) {
  return access == KeyAccess::kRead ? platform::RegAccess::kRead : platform::RegAccess::kSetValue;
}

// Joins the key path copy, a backslash and subkey into out. False when the
// copy is unusable or the result does not fit: callers then fail rather
// than open a shorter path.
bool JoinSettingsPath(const char* subkey, char (&out)[kJoinedPathSize]) {
  if (!g_keyPathUsable || subkey == nullptr) return false;
  const std::size_t pathLength = std::strlen(g_keyPath);
  const std::size_t subkeyLength = std::strlen(subkey);
  if (pathLength + 1 + subkeyLength + 1 > kJoinedPathSize) return false;
  std::memcpy(out, g_keyPath, pathLength);
  out[pathLength] = '\\';
  std::memcpy(out + pathLength + 1, subkey, subkeyLength + 1);
  return true;
}

}  // namespace

bool SetConfigurationKeyPath(const char* path) {
  if (path == nullptr || std::strlen(path) >= kKeyPathSize) {
    g_keyPath[0] = '\0';
    g_keyPathUsable = false;
    return false;
  }
  std::memcpy(g_keyPath, path, std::strlen(path) + 1);
  g_keyPathUsable = true;
  return true;
}

const char* ConfigurationKeyPath() { return g_keyPath; }

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
  return g_messageBox.exchange(hook != nullptr ? hook : &WriteToStandardError);
}

SettingsKey OpenSettingsKey(const char* subkey, KeyAccess access) {
  char path[kJoinedPathSize];
  if (!JoinSettingsPath(subkey, path)) return nullptr;
  return OpenPluginKey(path, access);
}

bool CreateSettingsKey(const char* subkey) {
  char path[kJoinedPathSize];
  if (!JoinSettingsPath(subkey, path)) return false;
  platform::RegKey* key = nullptr;
  if (platform::CreateRegistryKey(path, kSettingsKeyClass, &key) != platform::RegStatus::kOk) {
    return false;
  }
  platform::CloseRegistryKey(key);
  return true;
}

SettingsKey OpenSettingsKeyForWriting(const char* subkey) {
  SettingsKey key = OpenSettingsKey(subkey, KeyAccess::kSetValue);
  if (key != nullptr) return key;
  if (CreateSettingsKey(subkey)) key = OpenSettingsKey(subkey, KeyAccess::kSetValue);
  if (key == nullptr) g_messageBox.load()(kSaveErrorMessage);
  return key;
}

SettingsKey OpenPluginKey(const char* path, KeyAccess access) {
  std::string fault;
  return OpenPluginKey(path, access, &fault);
}

SettingsKey OpenPluginKey(const char* path, KeyAccess access, std::string* fault) {
  fault->clear();
  if (path == nullptr) return nullptr;
  platform::RegKey* key = nullptr;
  const platform::RegStatus status = platform::OpenRegistryKey(path, ToPlatformAccess(access), &key);
  if (status == platform::RegStatus::kOk) return key;
  if (status != platform::RegStatus::kNotFound && status != platform::RegStatus::kInvalid) {
    *fault = platform::LastRegistryError();
    if (fault->empty()) *fault = "the settings store cannot be read";
  }
  return nullptr;
}

std::int32_t ReadDwordValue(SettingsKey key, const char* name) {
  if (key == nullptr || name == nullptr) return -1;
  unsigned char bytes[4];
  std::uint32_t type = 0;
  std::uint32_t size = sizeof(bytes);
  if (platform::QueryRegistryValue(key, name, &type, bytes, &size) != platform::RegStatus::kOk ||
      size != sizeof(bytes)) {
    return -1;
  }
  // Stored little-endian, as Windows keeps REG_DWORD.
  const std::uint32_t value = static_cast<std::uint32_t>(bytes[0]) |
                              static_cast<std::uint32_t>(bytes[1]) << 8 |
                              static_cast<std::uint32_t>(bytes[2]) << 16 |
                              static_cast<std::uint32_t>(bytes[3]) << 24;
  return static_cast<std::int32_t>(value);
}

bool ReadStringValue(SettingsKey key, const char* name, char* destination, std::size_t capacity) {
  if (key == nullptr || name == nullptr || destination == nullptr || capacity == 0) return false;
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  const platform::RegStatus sized = platform::QueryRegistryValue(key, name, &type, nullptr, &size);
  if (sized != platform::RegStatus::kOk && sized != platform::RegStatus::kMoreData) return false;
  // Even a value stored with its NUL needs size bytes: longer ones fail
  // before anything is allocated or written.
  if (size > capacity) return false;
  // Reading into a scratch copy keeps the destination whole when the value
  // changes between the two queries.
  std::vector<char> value(static_cast<std::size_t>(size) + 1, '\0');
  std::uint32_t got = size;
  if (size > 0 &&
      platform::QueryRegistryValue(key, name, &type, value.data(), &got) != platform::RegStatus::kOk) {
    return false;
  }
  if (got > size) return false;
  std::size_t length = got;
  if (length > 0 && value[length - 1] == '\0') --length;  // the stored NUL
  if (length + 1 > capacity) return false;
  std::memcpy(destination, value.data(), length);
  destination[length] = '\0';
  return true;
}

bool WriteDwordValue(SettingsKey key, const char* name, std::int32_t value) {
  if (key == nullptr || name == nullptr) return false;
  const std::uint32_t bits = static_cast<std::uint32_t>(value);
  const unsigned char bytes[4] = {
      static_cast<unsigned char>(bits), static_cast<unsigned char>(bits >> 8),
      static_cast<unsigned char>(bits >> 16), static_cast<unsigned char>(bits >> 24)};
  return platform::SetRegistryValue(key, name, platform::kRegDword, bytes, sizeof(bytes)) ==
         platform::RegStatus::kOk;
}

bool WriteStringValue(SettingsKey key, const char* name, const char* text) {
  if (key == nullptr || name == nullptr || text == nullptr) return false;
  const std::size_t size = std::strlen(text) + 1;
  if (size > UINT32_MAX) return false;
  return platform::SetRegistryValue(key, name, platform::kRegSz, text,
                                    static_cast<std::uint32_t>(size)) == platform::RegStatus::kOk;
}

bool CloseSettingsKey(SettingsKey key) {
  if (key == nullptr) return false;
  return platform::CloseRegistryKey(key) == platform::RegStatus::kOk;
}

bool LoadCategorySet(const char* path, QxTypes* set) {
  SettingsKey key = OpenPluginKey(path, KeyAccess::kRead);
  if (key == nullptr) return true;
  SettingsKeyCloser closer{key};
  char stateName[kStateValueNameSize];
  for (const CategoryTableRow& row : kCategoryTable) {
    if (MakeStateValueName(row.name, stateName) && ReadDwordValue(key, stateName) == 1) {
      QX_SetThisCategory(set, row.categoryNumber);
    }
  }
  return true;
}

void LoadFromStore(const char* subkey, CategoryRow rows[QX_CATEGORY_COUNT]) {
  SettingsKey key = OpenSettingsKey(subkey, KeyAccess::kRead);
  std::vector<char> name(kStringValueSize);
  char stateName[kStateValueNameSize];
  for (int i = 0; i < QX_CATEGORY_COUNT; ++i) {
    const CategoryTableRow& table = kCategoryTable[i];
    bool fromStore = false;
    if (key != nullptr) {
      const std::int32_t state =
          MakeStateValueName(table.name, stateName) ? ReadDwordValue(key, stateName) : -1;
      if (ReadStringValue(key, table.name, name.data(), name.size()) && state != -1) {
        rows[i].displayName = name.data();
        rows[i].state = state;
        fromStore = true;
      }
    }
    if (!fromStore) {
      rows[i].displayName = table.name;
      rows[i].state = table.defaultState;
    }
  }
  if (key != nullptr) CloseSettingsKey(key);
}

bool SaveToStore(const char* subkey, const CategoryRow rows[QX_CATEGORY_COUNT]) {
  SettingsKey key = OpenSettingsKeyForWriting(subkey);
  if (key == nullptr) return false;
  char stateName[kStateValueNameSize];
  for (int i = 0; i < QX_CATEGORY_COUNT; ++i) {
    const CategoryTableRow& table = kCategoryTable[i];
    WriteStringValue(key, table.name, rows[i].displayName.c_str());
    if (MakeStateValueName(table.name, stateName)) {
      WriteDwordValue(key, stateName, rows[i].state != 0 ? 1 : 0);
    }
  }
  return CloseSettingsKey(key);
}

}  // namespace tarnwick
