// memory_store.cpp -- the in-memory settings store.
#include "memory_store.h"

#include <cstdio>

#include "settings_store.h"

namespace config_ui {
namespace testing {

std::string MemoryStore::Lower(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// Trailing backslashes do not name another key (the main key's joined path
// ends in one).
std::string MemoryStore::Normal(const std::string& path) {
  std::string out = Lower(path);
  while (!out.empty() && out.back() == '\\') out.pop_back();
  return out;
}

std::string MemoryStore::Join(const char* subkey) {
  return std::string(tarnwick::ConfigurationKeyPath()) + "\\" + subkey;
}

MemoryStore::KeyData& MemoryStore::Make(const std::string& path) {
  const std::string normal = Normal(path);
  // Parents first, as the registry creates them.
  for (std::size_t slash = normal.find('\\'); slash != std::string::npos;
       slash = normal.find('\\', slash + 1)) {
    if (slash == 0) continue;
    KeyData& parent = keys_[normal.substr(0, slash)];
    if (parent.path.empty()) parent.path = path.substr(0, slash);
  }
  KeyData& key = keys_[normal];
  if (key.path.empty()) {
    key.path = path;
    while (!key.path.empty() && key.path.back() == '\\') key.path.pop_back();
  }
  return key;
}

void MemoryStore::AddKey(const std::string& path) { Make(path); }

void MemoryStore::PutRaw(const std::string& path, const std::string& name, std::uint32_t type,
                         const std::string& bytes) {
  Value& value = Make(path).values[Lower(name)];
  if (value.name.empty()) value.name = name;
  value.type = type;
  value.bytes = bytes;
}

void MemoryStore::PutDword(const std::string& path, const std::string& name, std::uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  PutRaw(path, name, 4, bytes);
}

void MemoryStore::PutString(const std::string& path, const std::string& name,
                            const std::string& text) {
  PutRaw(path, name, 1, text + '\0');
}

const MemoryStore::KeyData* MemoryStore::FindKey(const std::string& path) const {
  auto it = keys_.find(Normal(path));
  return it == keys_.end() ? nullptr : &it->second;
}

bool MemoryStore::HasKey(const std::string& path) const { return FindKey(path) != nullptr; }

const MemoryStore::Value* MemoryStore::FindValue(const std::string& path,
                                                 const std::string& name) const {
  const KeyData* key = FindKey(path);
  if (key == nullptr) return nullptr;
  auto it = key->values.find(Lower(name));
  return it == key->values.end() ? nullptr : &it->second;
}

bool MemoryStore::GetDword(const std::string& path, const std::string& name,
                           std::uint32_t* value) const {
  const Value* v = FindValue(path, name);
  if (v == nullptr || v->type != 4 || v->bytes.size() != 4) return false;
  *value = 0;
  for (int i = 3; i >= 0; --i) *value = (*value << 8) | static_cast<unsigned char>(v->bytes[i]);
  return true;
}

bool MemoryStore::GetString(const std::string& path, const std::string& name,
                            std::string* text) const {
  const Value* v = FindValue(path, name);
  if (v == nullptr || v->type != 1 || v->bytes.empty() || v->bytes.back() != '\0') return false;
  *text = v->bytes.substr(0, v->bytes.size() - 1);
  return true;
}

std::size_t MemoryStore::ValueCount(const std::string& path) const {
  const KeyData* key = FindKey(path);
  return key == nullptr ? 0 : key->values.size();
}

std::string MemoryStore::Snapshot() const {
  std::string out;
  for (const auto& [normal, key] : keys_) {
    out += "[" + key.path + "] class=" + key.className + "\n";
    for (const auto& [lower, value] : key.values) {
      out += "  " + value.name + " type=" + std::to_string(value.type) + " bytes=";
      for (unsigned char c : value.bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x", c);
        out += hex;
      }
      out += "\n";
    }
  }
  return out;
}

SettingsStore::Key MemoryStore::Open(const char* subkey, Access access) {
  const std::string normal = Normal(Join(subkey));
  if (keys_.count(normal) == 0) return nullptr;
  if (access == Access::kSetValue && refuseWriting_.count(normal) != 0) return nullptr;
  ++openKeys_;
  return new Handle{normal, access};
}

bool MemoryStore::Create(const char* subkey) {
  const std::string path = Join(subkey);
  if (refuseCreating_.count(Normal(path)) != 0) return false;
  KeyData& key = Make(path);
  if (key.className.empty()) key.className = tarnwick::kSettingsKeyClass;
  return true;
}

std::int32_t MemoryStore::ReadDword(Key key, const char* name) {
  std::uint32_t value = 0;
  if (key == nullptr || !GetDword(static_cast<Handle*>(key)->path, name, &value)) return -1;
  return static_cast<std::int32_t>(value);
}

bool MemoryStore::ReadString(Key key, const char* name, std::string* text) {
  if (key == nullptr) return false;
  const Value* v = FindValue(static_cast<Handle*>(key)->path, name);
  if (v == nullptr) return false;
  // Readers do not check the type; a stored NUL ends the text.
  *text = std::string(v->bytes.c_str());
  return true;
}

bool MemoryStore::Write(Key key, const char* name, std::uint32_t type, const std::string& bytes) {
  auto* handle = static_cast<Handle*>(key);
  if (handle == nullptr || handle->access != Access::kSetValue) return false;
  writes_.push_back(keys_[handle->path].path + "|" + name);
  PutRaw(keys_[handle->path].path, name, type, bytes);
  return true;
}

bool MemoryStore::WriteDword(Key key, const char* name, std::int32_t value) {
  std::string bytes(4, '\0');
  const auto bits = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
  return Write(key, name, 4, bytes);
}

bool MemoryStore::WriteString(Key key, const char* name, const std::string& text) {
  return Write(key, name, 1, text + '\0');
}

bool MemoryStore::Close(Key key) {
  if (key == nullptr) return false;
  delete static_cast<Handle*>(key);
  --openKeys_;
  return true;
}

}  // namespace testing
}  // namespace config_ui
