// memory_store.h -- a settings store held in memory, for tests: keys below
// HKEY_LOCAL_MACHINE by path (compared without regard to case), values with
// their type and bytes, a record of every open and write, and switches
// that make a key fail to open for writing or to be created.
#ifndef PELLUMIN_SETTINGS_TESTING_MEMORY_STORE_H_
#define PELLUMIN_SETTINGS_TESTING_MEMORY_STORE_H_

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "store.h"

namespace settings {
namespace testkit {

class MemoryStore final : public Store {
 public:
  struct Value {
    std::string name;  // as first written
    std::uint32_t type = 0;
    std::string bytes;
  };
  struct KeyData {
    std::string path;  // as first created
    std::string className;
    std::map<std::string, Value> values;  // by lower-case name
  };

  // --- Setting up and inspecting (paths are full key paths) ---------------
  void AddKey(const std::string& path);
  void PutDword(const std::string& path, const std::string& name, std::uint32_t value);
  void PutString(const std::string& path, const std::string& name, const std::string& text);
  // Stores bytes as they are (a text without its NUL, a 2-byte number...).
  void PutRaw(const std::string& path, const std::string& name, std::uint32_t type,
              const std::string& bytes);
  bool HasKey(const std::string& path) const;
  const KeyData* FindKey(const std::string& path) const;
  const Value* FindValue(const std::string& path, const std::string& name) const;
  // The DWORD value, or nothing when missing or not 4 bytes.
  bool GetDword(const std::string& path, const std::string& name, std::uint32_t* value) const;
  // The text of a REG_SZ value without its NUL; checks the NUL is stored.
  bool GetString(const std::string& path, const std::string& name, std::string* text) const;
  std::size_t ValueCount(const std::string& path) const;
  // Every key and value, in a stable order, byte for byte.
  std::string Snapshot() const;
  // "path|name" for every write, in order.
  const std::vector<std::string>& writes() const { return writes_; }
  void ClearWrites() { writes_.clear(); }
  // The path of every key opened, as asked for, in order.
  const std::vector<std::string>& opens() const { return opens_; }

  // Keys that do not open for setting values, and keys that cannot be
  // created.
  void RefuseWriting(const std::string& path) { refuseWriting_.insert(Lower(path)); }
  void RefuseCreating(const std::string& path) { refuseCreating_.insert(Lower(path)); }
  // Keys open now.
  int openKeys() const { return openKeys_; }

  // --- Store -----------------------------------------------------------------
  std::unique_ptr<Key> Open(const char* path, Access access,
                            std::string* fault = nullptr) override;
  bool Create(const char* path) override;
  bool DeleteKey(const char* path) override;
  std::string LastError() override { return ""; }

  static std::string Lower(const std::string& text);

 private:
  class Handle;
  static std::string Normal(const std::string& path);
  KeyData& Make(const std::string& path);

  std::map<std::string, KeyData> keys_;  // by normal path
  std::set<std::string> refuseWriting_;
  std::set<std::string> refuseCreating_;
  std::vector<std::string> writes_;
  std::vector<std::string> opens_;
  int openKeys_ = 0;
};

}  // namespace testkit
}  // namespace settings

#endif  // PELLUMIN_SETTINGS_TESTING_MEMORY_STORE_H_
