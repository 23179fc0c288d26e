// memory_registry.h -- a registry root held in memory, for tests.
//
// It keeps the contracts of the REGEDIT4 file root (env.h): paths and names
// compare without regard to ASCII case, a key exists when it or a key below
// it was made, DeleteKey refuses a key with subkeys (kAccessDenied), and a
// key handle keeps the values and subkey names it saw when it was opened or
// last changed through it. Safe to use from several threads at once.
//
// A test can make chosen calls fail: every call of one kind on a key and the
// keys below it (a key that will not open for writing), or the Nth change
// from now (a disk that fills after N writes), and it can read back what
// was stored, as REGEDIT4 text and as the list of changes made, the class
// string each key was made with, and how many handles are still open.
#ifndef PELLUMIN_PLATFORM_MEMORY_REGISTRY_H_
#define PELLUMIN_PLATFORM_MEMORY_REGISTRY_H_

#include <memory>
#include <string>
#include <vector>

#include "env.h"

namespace platform {

class MemoryRegistry final : public Registry {
 public:
  // The calls a fault can be set on.
  enum class Call {
    kOpenForReading,  // OpenKey with kRead
    kOpenForWriting,  // OpenKey with kSetValue or kAll
    kCreateKey,
    kDeleteKey,
    kQueryValue,
    kSetValue,
    kDeleteValue,
    kEnumerate,  // ValueNames and SubkeyNames
  };

  MemoryRegistry();
  ~MemoryRegistry() override;
  MemoryRegistry(const MemoryRegistry&) = delete;
  MemoryRegistry& operator=(const MemoryRegistry&) = delete;

  RegStatus OpenKey(const char* path, RegAccess access,
                    std::unique_ptr<RegistryKey>* key) override;
  RegStatus CreateKey(const char* path, const char* className,
                      std::unique_ptr<RegistryKey>* key) override;
  RegStatus DeleteKey(const char* path) override;
  const char* LastError() override;

  // The contents as the REGEDIT4 file would hold them (regedit::Write).
  std::string Text() const;
  // Replaces the contents with those of a REGEDIT4 text; false, with the
  // reason in *error and the contents unchanged, when it does not parse.
  bool Load(const std::string& text, std::string* error);

  // Every call of that kind on the key at path or any key below it fails
  // with status ("" is every key), until ClearFaults.
  void FailCalls(Call call, const std::string& path, RegStatus status);
  // The nth change from now (1: the next) fails with status, and with
  // sticky every change after it too. A change is a CreateKey that makes a
  // key, a SetValue, a DeleteValue or a DeleteKey that removes something.
  // A failed change stores nothing.
  void FailNthChange(int n, RegStatus status, bool sticky = false);
  void ClearFaults();
  // The changes stored so far, in order: "path|name" for a value set or
  // removed, "path" for a key made or removed (paths as the caller spelt
  // them, after dropping trailing backslashes).
  std::vector<std::string> Changes() const;
  void ClearChanges();
  // The class string the key was made with ("" for none, or for a key that
  // is not there or was made by Load).
  std::string ClassOf(const std::string& path) const;
  // How many key handles of this root are open now.
  int OpenHandles() const;

 private:
  class Root;
  const std::unique_ptr<Root> root_;
};

}  // namespace platform

#endif  // PELLUMIN_PLATFORM_MEMORY_REGISTRY_H_
