// memory_store.cpp -- the in-memory settings store.
#include "memory_store.h"

#include <cstdio>

namespace settings {
namespace testkit {

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

// An open key: its normal path and access; counted while it lives.
class MemoryStore::Handle final : public Key {
 public:
  Handle(MemoryStore& store, std::string path, Access access)
      : store_(store), path_(std::move(path)), access_(access) {
    ++store_.openKeys_;
  }
  ~Handle() override { --store_.openKeys_; }

  bool Query(const char* name, std::uint32_t* type, std::string* bytes) override {
    const Value* v = store_.FindValue(path_, name);
    if (v == nullptr) return false;
    *type = v->type;
    *bytes = v->bytes;
    return true;
  }
  bool Set(const char* name, std::uint32_t type, const std::string& bytes) override {
    if (access_ != Access::kSetValue) return false;
    const std::string& shown = store_.keys_[path_].path;
    store_.writes_.push_back(shown + "|" + name);
    store_.PutRaw(shown, name, type, bytes);
    return true;
  }
  bool Delete(const char* name) override {
    if (access_ != Access::kSetValue) return false;
    return store_.keys_[path_].values.erase(Lower(name)) != 0;
  }
  bool ValueNames(std::vector<std::string>* names) override {
    names->clear();
    for (const auto& [lower, value] : store_.keys_[path_].values) names->push_back(value.name);
    return true;
  }
  bool SubkeyNames(std::vector<std::string>* names) override {
    names->clear();
    const std::string prefix = path_ + "\\";
    for (const auto& [normal, key] : store_.keys_) {
      if (normal.size() > prefix.size() && normal.compare(0, prefix.size(), prefix) == 0 &&
          normal.find('\\', prefix.size()) == std::string::npos) {
        names->push_back(key.path.substr(key.path.size() - (normal.size() - prefix.size())));
      }
    }
    return true;
  }

 private:
  MemoryStore& store_;
  std::string path_;  // normal
  Access access_;
};

std::unique_ptr<Key> MemoryStore::Open(const char* path, Access access, std::string* fault) {
  if (fault != nullptr) fault->clear();
  if (path == nullptr) return nullptr;
  opens_.emplace_back(path);
  const std::string normal = Normal(path);
  if (keys_.count(normal) == 0) return nullptr;
  if (access == Access::kSetValue && refuseWriting_.count(normal) != 0) return nullptr;
  return std::make_unique<Handle>(*this, normal, access);
}

bool MemoryStore::Create(const char* path) {
  if (path == nullptr || refuseCreating_.count(Normal(path)) != 0) return false;
  KeyData& key = Make(path);
  if (key.className.empty()) key.className = kKeyClass;
  return true;
}

bool MemoryStore::DeleteKey(const char* path) {
  if (path == nullptr) return false;
  const std::string normal = Normal(path);
  auto it = keys_.find(normal);
  if (it == keys_.end()) return false;
  const std::string prefix = normal + "\\";
  for (const auto& [other, key] : keys_) {
    if (other.compare(0, prefix.size(), prefix) == 0) return false;  // has subkeys
  }
  keys_.erase(it);
  return true;
}

}  // namespace testkit
}  // namespace settings
