// The default environment: the operating system's clock, resolver and
// files, and its registry root; and the registry functions of platform.h,
// which work on that root.
#include "env.h"

#include <cstring>
#include <utility>

#include "platform_internal.h"

namespace platform {
namespace {

// Memory-backed files that every process of a user can map (Linux's
// tmpfs); where the folder is missing, blocks are simply not shared.
constexpr const char* kSharedFolder = "/dev/shm";

class OsEnv final : public Env {
 public:
  OsEnv() : registry_(internal::NewDefaultRegistry()) {}

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
  bool MapFileReadOnly(const char* path, std::size_t min_size, FileMapping* mapping) override {
    return platform::MapFileReadOnly(path, min_size, mapping);
  }
  bool MapSharedBlock(const char* name, FileMapping* mapping) override {
    return platform::MapSharedBlock(kSharedFolder, name, mapping);
  }
  bool PublishSharedBlock(const char* name, const char* stale_prefix, const BlockPart* parts,
                          int count) override {
    return platform::PublishSharedBlock(kSharedFolder, name, stale_prefix, parts, count);
  }
  Registry* registry() override { return registry_.get(); }

 private:
  const std::unique_ptr<Registry> registry_;
};

}  // namespace

Env* Env::Default() {
  // Never destroyed, so that it outlives every static that may use it.
  static Env* const env = new OsEnv;
  return env;
}

// A handle of platform.h's registry functions: a key of the default root.
struct RegKey {
  std::unique_ptr<RegistryKey> key;
};

namespace {

RegStatus Wrap(RegStatus status, std::unique_ptr<RegistryKey>* opened, RegKey** key) {
  if (status == RegStatus::kOk) *key = new RegKey{std::move(*opened)};
  return status;
}

RegStatus NoHandle() {
  return internal::Fail(RegStatus::kInvalid, "no key handle or no size given");
}

}  // namespace

RegStatus OpenRegistryKey(const char* path, RegAccess access, RegKey** key) {
  if (key != nullptr) *key = nullptr;
  std::unique_ptr<RegistryKey> opened;
  return Wrap(Env::Default()->registry()->OpenKey(path, access, key ? &opened : nullptr),
              &opened, key);
}

RegStatus CreateRegistryKey(const char* path, const char* className, RegKey** key) {
  if (key != nullptr) *key = nullptr;
  std::unique_ptr<RegistryKey> opened;
  return Wrap(Env::Default()->registry()->CreateKey(path, className, key ? &opened : nullptr),
              &opened, key);
}

RegStatus QueryRegistryValue(RegKey* key, const char* name, std::uint32_t* type, void* data,
                             std::uint32_t* size) {
  if (key == nullptr) {
    internal::ClearRegistryError();
    return NoHandle();
  }
  return key->key->QueryValue(name, type, data, size);
}

RegStatus SetRegistryValue(RegKey* key, const char* name, std::uint32_t type, const void* data,
                           std::uint32_t size) {
  if (key == nullptr) {
    internal::ClearRegistryError();
    return internal::Fail(RegStatus::kInvalid, "no key handle given");
  }
  return key->key->SetValue(name, type, data, size);
}

RegStatus CloseRegistryKey(RegKey* key) {
  internal::ClearRegistryError();
  if (key == nullptr) return internal::Fail(RegStatus::kInvalid, "no key handle given");
  delete key;
  return RegStatus::kOk;
}

const char* LastRegistryError() { return internal::RegistryErrorText(); }

}  // namespace platform
