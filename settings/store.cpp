// store.cpp -- reading and writing values, the store over a registry root,
// and the keys of one configuration key path.
#include "store.h"

#include <cstring>

#include "base/endian.h"
#include "env.h"

namespace settings {

const char kKeyClass[] = "Zelmar Global Data";

// --- Key -------------------------------------------------------------------

std::int32_t Key::ReadDword(const char* name) {
  std::uint32_t type = 0;
  std::string bytes;
  if (name == nullptr || !Query(name, &type, &bytes) || bytes.size() != 4) return -1;
  return static_cast<std::int32_t>(base::LoadLe32(bytes.data()));
}

bool Key::ReadString(const char* name, std::string* text) {
  std::uint32_t type = 0;
  std::string bytes;
  if (name == nullptr || !Query(name, &type, &bytes)) return false;
  text->assign(bytes.c_str());  // a stored NUL ends the text
  return true;
}

bool Key::ReadString(const char* name, char* destination, std::size_t capacity) {
  if (name == nullptr || destination == nullptr || capacity == 0) return false;
  std::uint32_t type = 0;
  std::string bytes;
  if (!Query(name, &type, &bytes)) return false;
  // Even a value stored with its NUL needs all its bytes.
  if (bytes.size() > capacity) return false;
  std::size_t length = bytes.size();
  if (length > 0 && bytes[length - 1] == '\0') --length;  // the stored NUL
  if (length + 1 > capacity) return false;
  std::memcpy(destination, bytes.data(), length);
  destination[length] = '\0';
  return true;
}

bool Key::WriteDword(const char* name, std::int32_t value) {
  if (name == nullptr) return false;
  std::string bytes(4, '\0');
  base::StoreLe32(&bytes[0], static_cast<std::uint32_t>(value));
  return Set(name, kNumberType, bytes);
}

bool Key::WriteString(const char* name, const std::string& text) {
  if (name == nullptr) return false;
  // The text as a C string, with its NUL.
  const std::string bytes(text.c_str(), std::strlen(text.c_str()) + 1);
  return Set(name, kTextType, bytes);
}

// --- RegistryStore ------------------------------------------------------------

namespace {

class RegistryKey final : public Key {
 public:
  explicit RegistryKey(std::unique_ptr<platform::RegistryKey> key) : key_(std::move(key)) {}

  bool Query(const char* name, std::uint32_t* type, std::string* bytes) override {
    std::uint32_t size = 0;
    const platform::RegStatus sized = key_->QueryValue(name, type, nullptr, &size);
    if (sized != platform::RegStatus::kOk && sized != platform::RegStatus::kMoreData) return false;
    // Read into a scratch copy, so that a value that grows between the two
    // queries fails instead of coming back cut.
    std::string value(size, '\0');
    std::uint32_t got = size;
    if (size > 0 &&
        key_->QueryValue(name, type, &value[0], &got) != platform::RegStatus::kOk) {
      return false;
    }
    if (got > size) return false;
    value.resize(got);
    *bytes = std::move(value);
    return true;
  }
  bool Set(const char* name, std::uint32_t type, const std::string& bytes) override {
    if (name == nullptr || bytes.size() > UINT32_MAX) return false;
    return key_->SetValue(name, type, bytes.data(), static_cast<std::uint32_t>(bytes.size())) ==
           platform::RegStatus::kOk;
  }
  bool Delete(const char* name) override {
    return name != nullptr && key_->DeleteValue(name) == platform::RegStatus::kOk;
  }
  bool ValueNames(std::vector<std::string>* names) override {
    return key_->ValueNames(names) == platform::RegStatus::kOk;
  }
  bool SubkeyNames(std::vector<std::string>* names) override {
    return key_->SubkeyNames(names) == platform::RegStatus::kOk;
  }

 private:
  std::unique_ptr<platform::RegistryKey> key_;
};

platform::RegAccess ToRegistryAccess(Access access) {
  return access == Access::kRead ? platform::RegAccess::kRead : platform::RegAccess::kSetValue;
}

}  // namespace

std::unique_ptr<Key> RegistryStore::Open(const char* path, Access access, std::string* fault) {
  if (fault != nullptr) fault->clear();
  if (path == nullptr) return nullptr;
  std::unique_ptr<platform::RegistryKey> key;
  const platform::RegStatus status = registry_->OpenKey(path, ToRegistryAccess(access), &key);
  if (status == platform::RegStatus::kOk) return std::make_unique<RegistryKey>(std::move(key));
  if (fault != nullptr && status != platform::RegStatus::kNotFound &&
      status != platform::RegStatus::kInvalid) {
    *fault = registry_->LastError();
    if (fault->empty()) *fault = "the settings store cannot be read";
  }
  return nullptr;
}

bool RegistryStore::Create(const char* path) {
  if (path == nullptr) return false;
  std::unique_ptr<platform::RegistryKey> key;
  return registry_->CreateKey(path, kKeyClass, &key) == platform::RegStatus::kOk;
}

bool RegistryStore::DeleteKey(const char* path) {
  return path != nullptr && registry_->DeleteKey(path) == platform::RegStatus::kOk;
}

std::string RegistryStore::LastError() { return registry_->LastError(); }

bool RegistryStore::Malformed(const char* path, std::string* why) {
  std::unique_ptr<platform::RegistryKey> key;
  if (path == nullptr ||
      registry_->OpenKey(path, platform::RegAccess::kRead, &key) != platform::RegStatus::kBadFormat) {
    return false;
  }
  *why = registry_->LastError();
  return true;
}

// --- KeyScope -------------------------------------------------------------------

KeyScope::KeyScope(Store& store, const char* keyPath) : store_(store) {
  if (keyPath == nullptr) return;
  if (std::strlen(keyPath) >= kKeyPathSize) {
    usable_ = false;
    return;
  }
  keyPath_ = keyPath;
}

bool KeyScope::Join(const char* subkey, std::string* path) const {
  if (!usable_ || subkey == nullptr) return false;
  if (keyPath_.size() + 1 + std::strlen(subkey) + 1 > kJoinedPathSize) return false;
  *path = keyPath_ + "\\" + subkey;
  return true;
}

std::unique_ptr<Key> KeyScope::Open(const char* subkey, Access access) {
  std::string path;
  if (!Join(subkey, &path)) return nullptr;
  return store_.Open(path.c_str(), access);
}

bool KeyScope::Create(const char* subkey) {
  std::string path;
  return Join(subkey, &path) && store_.Create(path.c_str());
}

std::unique_ptr<Key> KeyScope::OpenForWriting(const char* subkey) {
  std::unique_ptr<Key> key = Open(subkey, Access::kSetValue);
  if (key == nullptr && Create(subkey)) key = Open(subkey, Access::kSetValue);
  return key;
}

}  // namespace settings
