// The registry rules over one REGEDIT4 document: path and name checks,
// access checks, the snapshot a key handle keeps, and the results of each
// call, the same for the POSIX file and the in-memory registry.
#include "document_registry.h"

#include <cstring>
#include <utility>
#include <vector>

#include "platform_internal.h"

namespace platform {
namespace internal {

namespace {

struct Snapshot {
  regedit::Key key;
  std::vector<std::string> subkeys;
};

Snapshot SnapshotOf(const regedit::Document& doc, const std::string& path) {
  Snapshot snapshot;
  if (const regedit::Key* key = doc.FindKey(path)) {
    snapshot.key = *key;
  } else {
    snapshot.key = regedit::Key{path, {}};
  }
  snapshot.subkeys = doc.SubkeyNames(path);
  return snapshot;
}

RegStatus NormalizePath(const char* path, std::string* out) {
  if (path == nullptr) return Fail(RegStatus::kInvalid, "no key path given");
  std::string why;
  if (!regedit::NormalizeKeyPath(path, out, &why)) return Fail(RegStatus::kInvalid, why);
  return RegStatus::kOk;
}

// What opening and creating a key both do first: checks that there is a
// place for the handle (and empties it) and normalises the key path.
RegStatus PrepareKeyHandle(const char* path, std::unique_ptr<RegistryKey>* key,
                           std::string* normalized) {
  if (key == nullptr) return Fail(RegStatus::kInvalid, "no place for the key handle");
  key->reset();
  return NormalizePath(path, normalized);
}

class DocumentKey final : public RegistryKey {
 public:
  DocumentKey(DocumentRegistry* root, std::string where, std::string path, RegAccess access,
              Snapshot snapshot)
      : root_(root),
        where_(std::move(where)),
        path_(std::move(path)),
        access_(access),
        snapshot_(std::move(snapshot)) {
    root_->HandlesChanged(1);
  }
  ~DocumentKey() override { root_->HandlesChanged(-1); }
  DocumentKey(const DocumentKey&) = delete;
  DocumentKey& operator=(const DocumentKey&) = delete;

  RegStatus QueryValue(const char* name, std::uint32_t* type, void* data,
                       std::uint32_t* size) override {
    ClearRegistryError();
    if (size == nullptr) return Fail(RegStatus::kInvalid, "no key handle or no size given");
    if (access_ == RegAccess::kSetValue)
      return Fail(RegStatus::kAccessDenied, "the key was opened for setting values only");
    const std::string valueName = name != nullptr ? name : "";
    RegStatus status = root_->Admit(RegistryCall::kQuery, path_, access_, valueName);
    if (status != RegStatus::kOk) return status;
    const regedit::Value* value = regedit::Document::FindValue(snapshot_.key, valueName);
    if (value == nullptr) return Fail(RegStatus::kNotFound, "no value \"" + valueName + "\"");
    if (type != nullptr) *type = value->type;
    std::uint32_t needed = static_cast<std::uint32_t>(value->data.size());
    if (data == nullptr) {
      *size = needed;
      return RegStatus::kOk;
    }
    if (*size < needed) {
      *size = needed;
      return Fail(RegStatus::kMoreData, "the value is larger than the buffer");
    }
    if (needed > 0) std::memcpy(data, value->data.data(), needed);
    *size = needed;
    return RegStatus::kOk;
  }

  RegStatus SetValue(const char* name, std::uint32_t type, const void* data,
                     std::uint32_t size) override {
    ClearRegistryError();
    if (data == nullptr && size > 0) return Fail(RegStatus::kInvalid, "no data given");
    if (access_ == RegAccess::kRead)
      return Fail(RegStatus::kAccessDenied, "the key was opened for reading only");
    const std::string valueName = name != nullptr ? name : "";
    for (char c : valueName) {
      // A .reg line cannot carry these in a name in a form regedit reads.
      if (static_cast<unsigned char>(c) < 0x20)
        return Fail(RegStatus::kInvalid, "a value name holds a control character");
    }
    RegStatus status = root_->Admit(RegistryCall::kSetValue, path_, access_, valueName);
    if (status != RegStatus::kOk) return status;
    std::string bytes(static_cast<const char*>(data), size);
    Snapshot snapshot;
    status = root_->Modify(where_, path_ + "|" + valueName, [&](regedit::Document& doc) {
      // A key that another process removed meanwhile is made again: the
      // value must not be lost.
      regedit::Key& target = doc.AddKey(path_);
      regedit::Document::SetValue(target, valueName, type, bytes);
      snapshot = SnapshotOf(doc, path_);
      return true;
    });
    if (status != RegStatus::kOk) return status;
    snapshot_ = std::move(snapshot);
    return RegStatus::kOk;
  }

  RegStatus DeleteValue(const char* name) override {
    ClearRegistryError();
    if (access_ == RegAccess::kRead)
      return Fail(RegStatus::kAccessDenied, "the key was opened for reading only");
    const std::string valueName = name != nullptr ? name : "";
    RegStatus status = root_->Admit(RegistryCall::kDeleteValue, path_, access_, valueName);
    if (status != RegStatus::kOk) return status;
    bool removed = false;
    Snapshot snapshot;
    status = root_->Modify(where_, path_ + "|" + valueName, [&](regedit::Document& doc) {
      if (regedit::Key* target = doc.FindKey(path_))
        removed = regedit::Document::RemoveValue(*target, valueName);
      snapshot = SnapshotOf(doc, path_);
      return removed;
    });
    if (status != RegStatus::kOk) return status;
    snapshot_ = std::move(snapshot);
    if (!removed) return Fail(RegStatus::kNotFound, "no value \"" + valueName + "\"");
    return RegStatus::kOk;
  }

  RegStatus ValueNames(std::vector<std::string>* names) override {
    RegStatus status = CheckEnumerate(names);
    if (status != RegStatus::kOk) return status;
    for (const regedit::Value& value : snapshot_.key.values) names->push_back(value.name);
    return RegStatus::kOk;
  }

  RegStatus SubkeyNames(std::vector<std::string>* names) override {
    RegStatus status = CheckEnumerate(names);
    if (status != RegStatus::kOk) return status;
    *names = snapshot_.subkeys;
    return RegStatus::kOk;
  }

 private:
  RegStatus CheckEnumerate(std::vector<std::string>* names) {
    ClearRegistryError();
    if (names == nullptr) return Fail(RegStatus::kInvalid, "no place for the names");
    names->clear();
    if (access_ == RegAccess::kSetValue)
      return Fail(RegStatus::kAccessDenied, "the key was opened for setting values only");
    return root_->Admit(RegistryCall::kEnumerate, path_, access_, "");
  }

  DocumentRegistry* const root_;
  const std::string where_;
  const std::string path_;
  const RegAccess access_;
  Snapshot snapshot_;
};

}  // namespace

RegStatus DocumentRegistry::OpenKey(const char* path, RegAccess access,
                                    std::unique_ptr<RegistryKey>* key) {
  ClearRegistryError();
  std::string normalized;
  RegStatus status = PrepareKeyHandle(path, key, &normalized);
  if (status != RegStatus::kOk) return status;
  status = Admit(RegistryCall::kOpen, normalized, access, "");
  if (status != RegStatus::kOk) return status;
  std::string where;
  status = Locate(&where);
  if (status != RegStatus::kOk) return status;
  regedit::Document doc;
  status = Read(where, &doc);
  if (status != RegStatus::kOk) return status;
  if (!doc.KeyExists(normalized))
    return Fail(RegStatus::kNotFound, Prefix(where) + "no key HKEY_LOCAL_MACHINE\\" + normalized);
  key->reset(new DocumentKey(this, std::move(where), normalized, access,
                             SnapshotOf(doc, normalized)));
  return RegStatus::kOk;
}

RegStatus DocumentRegistry::CreateKey(const char* path, const char* className,
                                      std::unique_ptr<RegistryKey>* key) {
  // The class string has no place in a .reg file (regedit neither writes
  // nor reads one); only KeyMade sees it.
  ClearRegistryError();
  std::string normalized;
  RegStatus status = PrepareKeyHandle(path, key, &normalized);
  if (status != RegStatus::kOk) return status;
  status = Admit(RegistryCall::kCreate, normalized, RegAccess::kAll, "");
  if (status != RegStatus::kOk) return status;
  std::string where;
  status = Locate(&where);
  if (status != RegStatus::kOk) return status;
  Snapshot snapshot;
  bool made = false;
  status = Modify(where, normalized, [&](regedit::Document& doc) {
    made = !doc.KeyExists(normalized);
    if (made) doc.AddKey(normalized);
    snapshot = SnapshotOf(doc, normalized);
    return made;
  });
  if (status != RegStatus::kOk) return status;
  if (made) KeyMade(normalized, className);
  key->reset(new DocumentKey(this, std::move(where), normalized, RegAccess::kAll,
                             std::move(snapshot)));
  return RegStatus::kOk;
}

RegStatus DocumentRegistry::DeleteKey(const char* path) {
  ClearRegistryError();
  std::string normalized;
  RegStatus status = NormalizePath(path, &normalized);
  if (status != RegStatus::kOk) return status;
  if (normalized.empty()) return Fail(RegStatus::kInvalid, "the root key cannot be deleted");
  status = Admit(RegistryCall::kDeleteKey, normalized, RegAccess::kAll, "");
  if (status != RegStatus::kOk) return status;
  std::string where;
  status = Locate(&where);
  if (status != RegStatus::kOk) return status;
  RegStatus outcome = RegStatus::kOk;
  status = Modify(where, normalized, [&](regedit::Document& doc) {
    if (!doc.KeyExists(normalized)) {
      outcome = RegStatus::kNotFound;
    } else if (doc.HasSubkeys(normalized)) {
      outcome = RegStatus::kAccessDenied;
    } else {
      doc.RemoveKey(normalized);
      return true;
    }
    return false;
  });
  if (status != RegStatus::kOk) return status;
  if (outcome == RegStatus::kNotFound)
    return Fail(outcome, Prefix(where) + "no key HKEY_LOCAL_MACHINE\\" + normalized);
  if (outcome == RegStatus::kAccessDenied)
    return Fail(outcome, Prefix(where) + "HKEY_LOCAL_MACHINE\\" + normalized +
                             " has subkeys; delete them first");
  KeyRemoved(normalized);
  return RegStatus::kOk;
}

const char* DocumentRegistry::LastError() { return RegistryErrorText(); }

}  // namespace internal
}  // namespace platform
