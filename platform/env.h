// env.h -- the operating system as one object that is handed to the code
// that needs it.
//
// The engine, the filter and the tools reach the clock, the resolver, files
// and the registry through an Env, never through process-wide switches, so a
// test builds its own environment (an EnvWrapper that overrides one call, or
// an in-memory registry) and hands it to the object it tests while other
// tests run beside it. Env::Default() is the real operating system; it is
// what the C entry points and the programs' main functions hand down.
#ifndef PELLUMIN_PLATFORM_ENV_H_
#define PELLUMIN_PLATFORM_ENV_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "file_mapping.h"
#include "platform.h"

namespace platform {

// An open registry key. Destroying it closes it; it must be closed before
// the root it came from is destroyed, and is used by one thread at a time.
// Values and subkey names read through a key are those of the store when it
// was opened or last changed through it (the REGEDIT4 file and memory keep
// a snapshot; the Windows registry reads through).
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;

  // Reads a value. On entry *size is the room in data; on return the
  // value's stored size (also on kMoreData). data may be null to ask for the
  // size. kNotFound when there is no such value.
  virtual RegStatus QueryValue(const char* name, std::uint32_t* type, void* data,
                               std::uint32_t* size) = 0;
  // Writes a value (the key must be open for kSetValue or kAll).
  virtual RegStatus SetValue(const char* name, std::uint32_t type, const void* data,
                             std::uint32_t size) = 0;
  // Removes a value (the key must be open for kSetValue or kAll); kNotFound
  // when there was none.
  virtual RegStatus DeleteValue(const char* name) = 0;
  // The names of the key's values and of its direct subkeys, in the
  // store's order (the file's; on Windows, the registry's enumeration
  // order). Refused with kAccessDenied on a key opened for kSetValue.
  virtual RegStatus ValueNames(std::vector<std::string>* names) = 0;
  virtual RegStatus SubkeyNames(std::vector<std::string>* names) = 0;
};

// A registry root: HKEY_LOCAL_MACHINE on Windows, one REGEDIT4 file on
// POSIX, or memory in tests. Paths are relative to the root, separated by
// "\", and compare without regard to ASCII case. Safe to use from several
// threads at once.
class Registry {
 public:
  virtual ~Registry() = default;

  virtual RegStatus OpenKey(const char* path, RegAccess access,
                            std::unique_ptr<RegistryKey>* key) = 0;
  // Creates the key (and its parents) if missing, as a non-volatile key with
  // the given class string, and opens it with full access.
  virtual RegStatus CreateKey(const char* path, const char* className,
                              std::unique_ptr<RegistryKey>* key) = 0;
  // Removes a key that has no subkeys, with its values: kNotFound when
  // there is no such key, kAccessDenied when it has subkeys (Windows's
  // answer; every root gives it), kInvalid for the root itself.
  virtual RegStatus DeleteKey(const char* path) = 0;
  // Why the calling thread's last registry operation failed, in words; ""
  // after a success. Valid until the thread's next registry call.
  virtual const char* LastError() = 0;
};

#if !defined(_WIN32)
// A registry root on the REGEDIT4 file given (doc/registry-file.md), with
// the default root's locking and atomic replacement; the file and its
// folder are made at the first change.
std::unique_ptr<Registry> NewFileRegistry(const std::string& file);
#endif

class Env {
 public:
  virtual ~Env() = default;

  // The real operating system, for the life of the process. Its registry
  // on POSIX is the file that TARNWICK_HKLM names (see platform.h), looked
  // up at each open.
  static Env* Default();

  // Local calendar time: weekday 0 = Sunday to 6, hour 0 to 23.
  virtual WeekdayHour LocalWeekdayHour() = 0;
  // The resolver, with ResolveHostName's contract (platform.h).
  virtual ResolveStatus ResolveHostName(const char* name, HostAddressList* out) = 0;
  // std::fopen's contract; null with errno set on failure.
  virtual std::FILE* OpenFile(const char* path, const char* mode) = 0;
  // ReplaceFile's contract (platform.h).
  virtual bool ReplaceFile(const char* from, const char* to) = 0;
  // MapFileReadOnly's contract (file_mapping.h). A wrapper may refuse (the
  // caller then reads the file through OpenFile); a view it hands back must
  // come from platform::MapFileReadOnly, since its holder unmaps it.
  virtual bool MapFileReadOnly(const char* path, std::size_t min_size, FileMapping* mapping) = 0;
  // Shared blocks (file_mapping.h) in the folder this Env keeps them in:
  // /dev/shm by default where it exists; none (false) elsewhere.
  virtual bool MapSharedBlock(const char* name, FileMapping* mapping) = 0;
  virtual bool PublishSharedBlock(const char* name, const char* stale_prefix,
                                  const BlockPart* parts, int count) = 0;
  // The registry root the settings are kept under. Never null; owned by the
  // Env.
  virtual Registry* registry() = 0;
};

// Forwards every call to another Env, so that a test overrides only the
// calls it cares about (LevelDB's EnvWrapper).
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}
  Env* target() const { return target_; }

  WeekdayHour LocalWeekdayHour() override { return target_->LocalWeekdayHour(); }
  ResolveStatus ResolveHostName(const char* name, HostAddressList* out) override {
    return target_->ResolveHostName(name, out);
  }
  std::FILE* OpenFile(const char* path, const char* mode) override {
    return target_->OpenFile(path, mode);
  }
  bool ReplaceFile(const char* from, const char* to) override {
    return target_->ReplaceFile(from, to);
  }
  bool MapFileReadOnly(const char* path, std::size_t min_size, FileMapping* mapping) override {
    return target_->MapFileReadOnly(path, min_size, mapping);
  }
  bool MapSharedBlock(const char* name, FileMapping* mapping) override {
    return target_->MapSharedBlock(name, mapping);
  }
  bool PublishSharedBlock(const char* name, const char* stale_prefix, const BlockPart* parts,
                          int count) override {
    return target_->PublishSharedBlock(name, stale_prefix, parts, count);
  }
  Registry* registry() override { return target_->registry(); }

 private:
  Env* target_;
};

}  // namespace platform

#endif  // PELLUMIN_PLATFORM_ENV_H_
