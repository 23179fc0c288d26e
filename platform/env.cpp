// The default environment: the operating system through the functions of
// platform.h, and its registry root.
#include "env.h"

#include <cstring>

namespace platform {
namespace {

class OsRegistryKey final : public RegistryKey {
 public:
  explicit OsRegistryKey(RegKey* key) : key_(key) {}
  ~OsRegistryKey() override { CloseRegistryKey(key_); }
  OsRegistryKey(const OsRegistryKey&) = delete;
  OsRegistryKey& operator=(const OsRegistryKey&) = delete;

  RegStatus QueryValue(const char* name, std::uint32_t* type, void* data,
                       std::uint32_t* size) override {
    return QueryRegistryValue(key_, name, type, data, size);
  }
  RegStatus SetValue(const char* name, std::uint32_t type, const void* data,
                     std::uint32_t size) override {
    return SetRegistryValue(key_, name, type, data, size);
  }
  // Not yet reachable through platform.h.
  RegStatus DeleteValue(const char*) override { return RegStatus::kInvalid; }
  RegStatus ValueNames(std::vector<std::string>*) override { return RegStatus::kInvalid; }
  RegStatus SubkeyNames(std::vector<std::string>*) override { return RegStatus::kInvalid; }

 private:
  RegKey* key_;
};

RegStatus Wrap(RegStatus status, RegKey* raw, std::unique_ptr<RegistryKey>* key) {
  if (status == RegStatus::kOk) key->reset(new OsRegistryKey(raw));
  return status;
}

class OsRegistry final : public Registry {
 public:
  RegStatus OpenKey(const char* path, RegAccess access,
                    std::unique_ptr<RegistryKey>* key) override {
    if (key == nullptr) return RegStatus::kInvalid;
    key->reset();
    RegKey* raw = nullptr;
    // The handle is read only after the call has filled it.
    const RegStatus status = OpenRegistryKey(path, access, &raw);
    return Wrap(status, raw, key);
  }
  RegStatus CreateKey(const char* path, const char* className,
                      std::unique_ptr<RegistryKey>* key) override {
    if (key == nullptr) return RegStatus::kInvalid;
    key->reset();
    RegKey* raw = nullptr;
    const RegStatus status = CreateRegistryKey(path, className, &raw);
    return Wrap(status, raw, key);
  }
  RegStatus DeleteKey(const char*) override { return RegStatus::kInvalid; }
  const char* LastError() override { return LastRegistryError(); }
};

class OsEnv final : public Env {
 public:
  WeekdayHour LocalWeekdayHour() override { return CurrentLocalWeekdayHour(); }
  ResolveStatus ResolveHostName(const char* name, HostAddressList* out) override {
    return platform::ResolveHostName(name, out);
  }
  std::FILE* OpenFile(const char* path, const char* mode) override {
    return std::fopen(path, mode);
  }
  bool ReplaceFile(const char* from, const char* to) override {
    return platform::ReplaceFile(from, to);
  }
  Registry* registry() override { return &registry_; }

 private:
  OsRegistry registry_;
};

}  // namespace

Env* Env::Default() {
  // Never destroyed, so that it outlives every static that may use it.
  static Env* const env = new OsEnv;
  return env;
}

}  // namespace platform
