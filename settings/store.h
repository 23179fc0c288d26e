// store.h -- the settings store: keys below HKEY_LOCAL_MACHINE (on POSIX,
// the REGEDIT4 file that stands for it), their text and number values.
//
// Store is the one interface every reader and writer of a settings value
// goes through: the request filter, the settings pages and the hosts that
// say what is in force. RegistryStore keeps the values in a
// platform::Registry (an Env's registry() in the programs);
// testing/memory_store.h keeps them in memory for tests.
//
// A path is never cut to fit: a path that does not fit fails to open, so
// that no caller ever reads or writes a different key than asked.
#ifndef PELLUMIN_SETTINGS_STORE_H_
#define PELLUMIN_SETTINGS_STORE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {
class Registry;
}  // namespace platform

namespace settings {

enum class Access { kRead, kSetValue };

// The class string of keys the store creates.
extern const char kKeyClass[];  // "Zelmar Global Data"

// Room for a configuration key path, including its NUL: the longest path a
// host can hand over in its message buffer.
constexpr std::size_t kKeyPathSize = 1024;
// Room for a joined path (key path, "\", subkey name) in KeyScope.
constexpr std::size_t kJoinedPathSize = 512;

// Value types, as the Windows registry numbers them.
constexpr std::uint32_t kTextType = 1;    // REG_SZ
constexpr std::uint32_t kNumberType = 4;  // REG_DWORD

// An open key. Destroying it closes it.
class Key {
 public:
  virtual ~Key() = default;

  // A value's type and stored bytes; false when it is missing or cannot be
  // read.
  virtual bool Query(const char* name, std::uint32_t* type, std::string* bytes) = 0;
  // Writes a value (the key must be open for Access::kSetValue).
  virtual bool Set(const char* name, std::uint32_t type, const std::string& bytes) = 0;
  // Removes a value; false when there was none or it cannot be removed.
  virtual bool Delete(const char* name) = 0;
  // The names of the key's values and of its direct subkeys, in the store's
  // order.
  virtual bool ValueNames(std::vector<std::string>* names) = 0;
  virtual bool SubkeyNames(std::vector<std::string>* names) = 0;

  // The 32-bit value (stored little-endian in 4 bytes, whatever its type),
  // or -1 when it cannot be read (missing, or stored in other than 4 bytes).
  std::int32_t ReadDword(const char* name);
  // The whole text (up to a stored NUL); false, leaving *text as it was,
  // when the value cannot be read. The type is not checked.
  bool ReadString(const char* name, std::string* text);
  // Reads the text into destination (capacity bytes, including the NUL)
  // and terminates it. False when the value is missing or does not fit; the
  // destination then keeps exactly what it held.
  bool ReadString(const char* name, char* destination, std::size_t capacity);
  // REG_DWORD, 4 bytes little-endian.
  bool WriteDword(const char* name, std::int32_t value);
  // REG_SZ with its terminating NUL in the stored length.
  bool WriteString(const char* name, const std::string& text);
};

class Store {
 public:
  virtual ~Store() = default;

  // Opens the key at exactly path; null on failure. When it fails for any
  // other reason than that the key (or the whole store) does not exist or
  // the path is not a key path, *fault (when given) receives the store's
  // reason (for a malformed settings file: the file, the line and what is
  // wrong); otherwise *fault is emptied.
  virtual std::unique_ptr<Key> Open(const char* path, Access access,
                                    std::string* fault = nullptr) = 0;
  // Creates the key at path (and its parents) with kKeyClass.
  virtual bool Create(const char* path) = 0;
  // Removes a key that has no subkeys, with its values.
  virtual bool DeleteKey(const char* path) = 0;
  // Why the calling thread's last operation failed, in the store's words;
  // "" after a success.
  virtual std::string LastError() = 0;
};

// The store kept in a registry root: the Windows registry, the REGEDIT4
// file, or a registry in memory. The registry must outlive the store.
class RegistryStore final : public Store {
 public:
  explicit RegistryStore(platform::Registry* registry) : registry_(registry) {}

  std::unique_ptr<Key> Open(const char* path, Access access,
                            std::string* fault = nullptr) override;
  bool Create(const char* path) override;
  bool DeleteKey(const char* path) override;
  std::string LastError() override;

  // True, with the registry's reason in *why, when the key at path cannot
  // be opened because the store itself does not parse (a malformed
  // settings file); false otherwise.
  bool Malformed(const char* path, std::string* why);

 private:
  platform::Registry* registry_;
};

// The main key at one configuration key path and its subkeys, as the
// settings pages reach them: Open("") is the main key (its joined path ends
// in the backslash), Open("Deny") its subkey.
class KeyScope {
 public:
  // A null path is the empty one. A path that does not fit kKeyPathSize is
  // refused: keyPath() is then "" and every Open and Create fails.
  KeyScope(Store& store, const char* keyPath);

  bool usable() const { return usable_; }
  const std::string& keyPath() const { return keyPath_; }
  Store& store() { return store_; }

  // The key at keyPath + "\" + subkey; null on failure, also when the
  // joined path does not fit kJoinedPathSize.
  std::unique_ptr<Key> Open(const char* subkey, Access access);
  // Creates the key at that path with kKeyClass.
  bool Create(const char* subkey);
  // Opens for setting values; creates the key first when it cannot be
  // opened. Null when that fails too: the caller tells the user.
  std::unique_ptr<Key> OpenForWriting(const char* subkey);

 private:
  // False when the scope is unusable or the joined path does not fit.
  bool Join(const char* subkey, std::string* path) const;

  Store& store_;
  std::string keyPath_;
  bool usable_ = true;
};

}  // namespace settings

#endif  // PELLUMIN_SETTINGS_STORE_H_
