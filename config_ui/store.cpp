// store.cpp -- OpenForWriting and the registry store over the plug-in's
// store operations.
#include "store.h"

#include <vector>

#include "controls.h"
#include "settings_store.h"
#include "templates.h"

namespace config_ui {

SettingsStore::Key OpenForWriting(SettingsStore& store, const char* subkey, Controls& ui) {
  SettingsStore::Key key = store.Open(subkey, SettingsStore::Access::kSetValue);
  if (key != nullptr) return key;
  if (store.Create(subkey)) key = store.Open(subkey, SettingsStore::Access::kSetValue);
  if (key == nullptr) ui.ShowMessage(LoadUiString(IDS_SAVE_ERROR), MessageIcon::kWarning);
  return key;
}

namespace {
tarnwick::SettingsKey AsKey(SettingsStore::Key key) {
  return static_cast<tarnwick::SettingsKey>(key);
}
}  // namespace

SettingsStore::Key RegistryStore::Open(const char* subkey, Access access) {
  return tarnwick::OpenSettingsKey(
      subkey, access == Access::kRead ? tarnwick::KeyAccess::kRead : tarnwick::KeyAccess::kSetValue);
}

bool RegistryStore::Create(const char* subkey) { return tarnwick::CreateSettingsKey(subkey); }

std::int32_t RegistryStore::ReadDword(Key key, const char* name) {
  return tarnwick::ReadDwordValue(AsKey(key), name);
}

bool RegistryStore::ReadString(Key key, const char* name, std::string* text) {
  // The value is read whole, however long: a page that kept its default for
  // a long value would write the default over it on OK.
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  const platform::RegStatus sized =
      platform::QueryRegistryValue(AsKey(key), name, &type, nullptr, &size);
  if (sized != platform::RegStatus::kOk && sized != platform::RegStatus::kMoreData) return false;
  std::size_t capacity = static_cast<std::size_t>(size) + 1;
  if (capacity < tarnwick::kStringValueSize) capacity = tarnwick::kStringValueSize;
  std::vector<char> buffer(capacity, '\0');
  if (!tarnwick::ReadStringValue(AsKey(key), name, buffer.data(), buffer.size())) return false;
  text->assign(buffer.data());
  return true;
}

bool RegistryStore::WriteDword(Key key, const char* name, std::int32_t value) {
  return tarnwick::WriteDwordValue(AsKey(key), name, value);
}

bool RegistryStore::WriteString(Key key, const char* name, const std::string& text) {
  return tarnwick::WriteStringValue(AsKey(key), name, text.c_str());
}

bool RegistryStore::Close(Key key) { return tarnwick::CloseSettingsKey(AsKey(key)); }

}  // namespace config_ui
