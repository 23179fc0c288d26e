// document_registry.h -- a registry root kept as one REGEDIT4 document: the
// key and value rules that the POSIX file and the in-memory registry share.
// Not for use outside platform/.
//
// A subclass says where the document lives: Locate names the store an open
// works on (the file a path names now), Read returns it as it is, Modify
// changes it as one step. A key handle keeps a snapshot of its key (values
// and subkey names) from the moment it was opened or last changed through
// it, as a handle on the REGEDIT4 file always has.
#ifndef PELLUMIN_PLATFORM_DOCUMENT_REGISTRY_H_
#define PELLUMIN_PLATFORM_DOCUMENT_REGISTRY_H_

#include <functional>
#include <memory>
#include <string>

#include "env.h"
#include "regedit_format.h"

namespace platform {
namespace internal {

// The calls a subclass may refuse before they touch the document (Admit).
enum class RegistryCall {
  kOpen,         // OpenKey, with the access asked for
  kCreate,       // CreateKey
  kDeleteKey,    // DeleteKey
  kQuery,        // QueryValue
  kSetValue,     // SetValue
  kDeleteValue,  // DeleteValue
  kEnumerate,    // ValueNames, SubkeyNames
};

class DocumentRegistry : public Registry {
 public:
  RegStatus OpenKey(const char* path, RegAccess access,
                    std::unique_ptr<RegistryKey>* key) final;
  RegStatus CreateKey(const char* path, const char* className,
                      std::unique_ptr<RegistryKey>* key) final;
  // A key with subkeys is refused with kAccessDenied (as Windows refuses
  // it), the root with kInvalid.
  RegStatus DeleteKey(const char* path) final;
  const char* LastError() final;

  using Change = std::function<bool(regedit::Document&)>;

  // Names the store the next call works on in *where.
  virtual RegStatus Locate(std::string* where) = 0;
  // The document as it is now. A missing store is an empty document.
  virtual RegStatus Read(const std::string& where, regedit::Document* doc) = 0;
  // Lets change() alter the current document, alone, and stores the result
  // when change() returns true. what names the change: "path|name" for a
  // value, "path" for a key.
  virtual RegStatus Modify(const std::string& where, const std::string& what,
                           const Change& change) = 0;
  // The start of an error text about the store ("<file>: ").
  virtual std::string Prefix(const std::string& where) = 0;
  // Told after CreateKey made a key that was not there, with the class
  // string it was given (null for none), and after DeleteKey removed one.
  virtual void KeyMade(const std::string& path, const char* className) {
    (void)path, (void)className;
  }
  virtual void KeyRemoved(const std::string& path) { (void)path; }
  // Told when a key handle of this root opens (+1) or closes (-1).
  virtual void HandlesChanged(int delta) { (void)delta; }
  // A chance to fail a call before it is made (fault injection in tests);
  // a status other than kOk is returned as the call's result. access is
  // that of the open or of the handle; name the value's, else "".
  virtual RegStatus Admit(RegistryCall call, const std::string& path, RegAccess access,
                          const std::string& name) {
    (void)call, (void)path, (void)access, (void)name;
    return RegStatus::kOk;
  }
};

}  // namespace internal
}  // namespace platform

#endif  // PELLUMIN_PLATFORM_DOCUMENT_REGISTRY_H_
