// store.h -- the configuration store as the pages see it.
//
// Every key is found through the process-wide configuration key path that
// HXConfig sets (tarnwick::SetConfigurationKeyPath): Open("") is the main
// key, Open("Deny") its subkey. RegistryStore reaches the real store through
// plugin/settings_store.h; testing/memory_store.h keeps keys in memory.
#ifndef PELLUMIN_CONFIG_UI_STORE_H_
#define PELLUMIN_CONFIG_UI_STORE_H_

#include <cstdint>
#include <string>

namespace config_ui {

class Controls;

class SettingsStore {
 public:
  using Key = void*;  // null means "not open"
  enum class Access { kRead, kSetValue };

  virtual ~SettingsStore() = default;
  // The key at the configuration key path, "\" and subkey; null on failure.
  virtual Key Open(const char* subkey, Access access) = 0;
  // Creates that key (class "Zelmar Global Data") and closes it at once.
  virtual bool Create(const char* subkey) = 0;
  // The 32-bit value, or -1 when it cannot be read.
  virtual std::int32_t ReadDword(Key key, const char* name) = 0;
  // The whole string value (without its stored NUL); false, leaving *text
  // as it was, when it cannot be read.
  virtual bool ReadString(Key key, const char* name, std::string* text) = 0;
  virtual bool WriteDword(Key key, const char* name, std::int32_t value) = 0;
  // REG_SZ with its terminating NUL.
  virtual bool WriteString(Key key, const char* name, const std::string& text) = 0;
  virtual bool Close(Key key) = 0;
};

// Opens subkey for setting values, creating it first when it does not open.
// When it can be neither opened nor created, shows "Error saving settings to
// registry." once through ui and returns null.
SettingsStore::Key OpenForWriting(SettingsStore& store, const char* subkey, Controls& ui);

// The real store (the registry on Windows, the REGEDIT4 file elsewhere).
class RegistryStore final : public SettingsStore {
 public:
  Key Open(const char* subkey, Access access) override;
  bool Create(const char* subkey) override;
  std::int32_t ReadDword(Key key, const char* name) override;
  bool ReadString(Key key, const char* name, std::string* text) override;
  bool WriteDword(Key key, const char* name, std::int32_t value) override;
  bool WriteString(Key key, const char* name, const std::string& text) override;
  bool Close(Key key) override;
};

}  // namespace config_ui

#endif  // PELLUMIN_CONFIG_UI_STORE_H_
