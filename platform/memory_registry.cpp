// The in-memory registry root: one REGEDIT4 document behind a lock, with
// the faults a test has asked for.
#include "memory_registry.h"

#include <atomic>
#include <map>
#include <utility>

#include "base/ascii.h"
#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "document_registry.h"
#include "platform_internal.h"
#include "regedit_format.h"

namespace platform {

class MemoryRegistry::Root final : public internal::DocumentRegistry {
 public:
  RegStatus Locate(std::string* where) override {
    where->clear();
    return RegStatus::kOk;
  }

  RegStatus Read(const std::string&, regedit::Document* doc) override {
    base::MutexLock lock(&mutex_);
    *doc = doc_;
    return RegStatus::kOk;
  }

  RegStatus Modify(const std::string&, const std::string& what, const Change& change) override {
    base::MutexLock lock(&mutex_);
    regedit::Document changed = doc_;
    if (!change(changed)) return RegStatus::kOk;
    if (nthChange_ > 0 && --nthChange_ == 0) {
      if (sticky_) nthChange_ = 1;
      return internal::Fail(nthStatus_, "a change failed as the test asked");
    }
    doc_ = std::move(changed);
    changes_.push_back(what);
    return RegStatus::kOk;
  }

  std::string Prefix(const std::string&) override { return std::string(); }

  RegStatus Admit(internal::RegistryCall call, const std::string& path, RegAccess access,
                  const std::string&) override {
    const Call kind = KindOf(call, access);
    base::MutexLock lock(&mutex_);
    for (const Fault& fault : faults_) {
      if (fault.call == kind && Below(path, fault.path))
        return internal::Fail(fault.status, "HKEY_LOCAL_MACHINE\\" + path +
                                                ": the call failed as the test asked");
    }
    return RegStatus::kOk;
  }

  void KeyMade(const std::string& path, const char* className) override {
    base::MutexLock lock(&mutex_);
    classes_[base::ToAsciiLower(path)] = className != nullptr ? className : "";
  }
  void KeyRemoved(const std::string& path) override {
    base::MutexLock lock(&mutex_);
    classes_.erase(base::ToAsciiLower(path));
  }
  void HandlesChanged(int delta) override { openHandles_.fetch_add(delta); }

  std::string ClassOf(const std::string& path) const {
    std::string normalized, why;
    if (!regedit::NormalizeKeyPath(path, &normalized, &why)) return std::string();
    base::MutexLock lock(&mutex_);
    auto found = classes_.find(base::ToAsciiLower(normalized));
    return found != classes_.end() ? found->second : std::string();
  }
  int OpenHandles() const { return openHandles_.load(); }
  void ClearChanges() {
    base::MutexLock lock(&mutex_);
    changes_.clear();
  }

  std::string Text() const {
    base::MutexLock lock(&mutex_);
    return regedit::Write(doc_);
  }

  bool Load(const std::string& text, std::string* error) {
    regedit::Document doc;
    std::string why;
    if (!regedit::Parse(text, &doc, &why)) {
      if (error != nullptr) *error = why;
      return false;
    }
    base::MutexLock lock(&mutex_);
    doc_ = std::move(doc);
    classes_.clear();
    return true;
  }

  void FailCalls(Call call, const std::string& path, RegStatus status) {
    std::string normalized, why;
    if (!regedit::NormalizeKeyPath(path, &normalized, &why)) normalized = path;
    base::MutexLock lock(&mutex_);
    faults_.push_back(Fault{call, normalized, status});
  }

  void FailNthChange(int n, RegStatus status, bool sticky) {
    base::MutexLock lock(&mutex_);
    nthChange_ = n > 0 ? n : 0;
    nthStatus_ = status;
    sticky_ = sticky;
  }

  void ClearFaults() {
    base::MutexLock lock(&mutex_);
    faults_.clear();
    nthChange_ = 0;
    sticky_ = false;
  }

  std::vector<std::string> Changes() const {
    base::MutexLock lock(&mutex_);
    return changes_;
  }

 private:
  struct Fault {
    Call call;
    std::string path;
    RegStatus status;
  };

  static Call KindOf(internal::RegistryCall call, RegAccess access) {
    switch (call) {
      case internal::RegistryCall::kOpen:
        return access == RegAccess::kRead ? Call::kOpenForReading : Call::kOpenForWriting;
      case internal::RegistryCall::kCreate: return Call::kCreateKey;
      case internal::RegistryCall::kDeleteKey: return Call::kDeleteKey;
      case internal::RegistryCall::kQuery: return Call::kQueryValue;
      case internal::RegistryCall::kSetValue: return Call::kSetValue;
      case internal::RegistryCall::kDeleteValue: return Call::kDeleteValue;
      case internal::RegistryCall::kEnumerate: return Call::kEnumerate;
    }
    return Call::kEnumerate;
  }

  // True when path is base or lies below it.
  static bool Below(const std::string& path, const std::string& base) {
    if (base.empty()) return true;
    if (path.size() < base.size()) return false;
    if (!regedit::EqualsIgnoreCase(std::string_view(path).substr(0, base.size()), base))
      return false;
    return path.size() == base.size() || path[base.size()] == '\\';
  }

  mutable base::Mutex mutex_;
  regedit::Document doc_ GUARDED_BY(mutex_);
  std::vector<Fault> faults_ GUARDED_BY(mutex_);
  int nthChange_ GUARDED_BY(mutex_) = 0;
  RegStatus nthStatus_ GUARDED_BY(mutex_) = RegStatus::kIoError;
  bool sticky_ GUARDED_BY(mutex_) = false;
  std::vector<std::string> changes_ GUARDED_BY(mutex_);
  std::map<std::string, std::string> classes_ GUARDED_BY(mutex_);  // by lower-case path
  std::atomic<int> openHandles_{0};
};

MemoryRegistry::MemoryRegistry() : root_(new Root) {}
MemoryRegistry::~MemoryRegistry() = default;

RegStatus MemoryRegistry::OpenKey(const char* path, RegAccess access,
                                  std::unique_ptr<RegistryKey>* key) {
  return root_->OpenKey(path, access, key);
}

RegStatus MemoryRegistry::CreateKey(const char* path, const char* className,
                                    std::unique_ptr<RegistryKey>* key) {
  return root_->CreateKey(path, className, key);
}

RegStatus MemoryRegistry::DeleteKey(const char* path) { return root_->DeleteKey(path); }
const char* MemoryRegistry::LastError() { return root_->LastError(); }
std::string MemoryRegistry::Text() const { return root_->Text(); }
bool MemoryRegistry::Load(const std::string& text, std::string* error) {
  return root_->Load(text, error);
}
void MemoryRegistry::FailCalls(Call call, const std::string& path, RegStatus status) {
  root_->FailCalls(call, path, status);
}
void MemoryRegistry::FailNthChange(int n, RegStatus status, bool sticky) {
  root_->FailNthChange(n, status, sticky);
}
void MemoryRegistry::ClearFaults() { root_->ClearFaults(); }
std::vector<std::string> MemoryRegistry::Changes() const { return root_->Changes(); }
void MemoryRegistry::ClearChanges() { root_->ClearChanges(); }
std::string MemoryRegistry::ClassOf(const std::string& path) const { return root_->ClassOf(path); }
int MemoryRegistry::OpenHandles() const { return root_->OpenHandles(); }

}  // namespace platform
