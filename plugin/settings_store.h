// settings_store.h -- the configuration store: keys and values below
// HKEY_LOCAL_MACHINE, reached only through platform/platform.h.
//
// Two kinds of caller use it. The request filter opens the configuration
// key path the host hands to HXInit as it is (OpenPluginKey). The
// configuration pages find every key through the process-wide copy of that
// path (OpenSettingsKey and friends), which HXConfig sets.
//
// A path is never cut to fit a buffer: a path that does not fit fails to
// open, so that no caller ever reads or writes a different key than asked.
#ifndef PELLUMIN_PLUGIN_SETTINGS_STORE_H_
#define PELLUMIN_PLUGIN_SETTINGS_STORE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "category_table.h"
#include "corvane.h"
#include "platform.h"

namespace tarnwick {

using SettingsKey = platform::RegKey*;  // null means "not open"

enum class KeyAccess { kRead, kSetValue };

// The class string of keys the store creates.
extern const char kSettingsKeyClass[];  // "Zelmar Global Data"
// The one message the store shows.
extern const char kSaveErrorMessage[];  // "Error saving settings to registry."

// Room for the configuration key path copy, including its NUL: the longest
// path a host can hand over in its message buffer.
constexpr std::size_t kKeyPathSize = 1024;
// Room for a joined path (key path, "\", subkey name) in OpenSettingsKey.
constexpr std::size_t kJoinedPathSize = 512;
// Capacity the pages read string values with.
constexpr std::size_t kStringValueSize = 4096;

// --- The process-wide configuration key path (empty until set) -----------

// Replaces the copy. A path that does not fit kKeyPathSize (or null) is
// refused: the copy is then marked unusable and every OpenSettingsKey
// fails until a good path is set. Returns false when refused.
bool SetConfigurationKeyPath(const char* path);
const char* ConfigurationKeyPath();

// --- Message box hook ---------------------------------------------------

// The store reports a key it cannot write through this hook. The default
// writes the text and a newline on standard error; the configuration
// interface points it at a real message box. Pass null to restore the
// default. Returns the hook it replaced.
using MessageBoxHook = void (*)(const char* text);
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

// --- Store operations ---------------------------------------------------

// Opens ConfigurationKeyPath() + "\" + subkey (the subkey may be empty, the
// joined path then ends in the backslash). Null on failure, also when the
// joined path does not fit kJoinedPathSize.
SettingsKey OpenSettingsKey(const char* subkey, KeyAccess access);
// Creates the key at the same joined path with kSettingsKeyClass and closes
// it at once.
bool CreateSettingsKey(const char* subkey);
// Opens for setting values; creates the key first when it cannot be opened.
// When that fails too, shows kSaveErrorMessage once and returns null.
SettingsKey OpenSettingsKeyForWriting(const char* subkey);
// Opens the key at exactly path. Null on failure.
SettingsKey OpenPluginKey(const char* path, KeyAccess access);
// The same, and when the key cannot be opened for any other reason than
// that it (or the whole store) does not exist or the path is not a key
// path, *fault receives the store's reason (for a malformed settings file:
// the file, the line and what is wrong); otherwise *fault is emptied.
SettingsKey OpenPluginKey(const char* path, KeyAccess access, std::string* fault);

// The 32-bit value, or -1 when it cannot be read (missing, or stored in
// other than 4 bytes).
std::int32_t ReadDwordValue(SettingsKey key, const char* name);
// Reads a value into destination (capacity bytes, including the NUL) and
// terminates it. False when the value is missing or does not fit; the
// destination then keeps exactly what it held.
bool ReadStringValue(SettingsKey key, const char* name, char* destination, std::size_t capacity);
// REG_DWORD, 4 bytes.
bool WriteDwordValue(SettingsKey key, const char* name, std::int32_t value);
// REG_SZ with its terminating NUL in the stored length.
bool WriteStringValue(SettingsKey key, const char* name, const char* text);
bool CloseSettingsKey(SettingsKey key);

// Closes a key when it goes, however the reading ends (memory can run out
// inside a read of the POSIX store, which works with strings).
struct SettingsKeyCloser {
  SettingsKey key;
  ~SettingsKeyCloser() {
    if (key != nullptr) CloseSettingsKey(key);
  }
};

// Adds to set the category of every table row whose state value below path
// is exactly 1. A key that does not open leaves the set as it is. Always
// true.
bool LoadCategorySet(const char* path, QxTypes* set);

// --- Category lists as the pages keep them ------------------------------

struct CategoryRow {
  std::string displayName;
  std::int32_t state;  // 1 ticked, 0 not; a stored 2 stays 2 until saved
};

// Loads the rows of subkey, one per kCategoryTable row in table order. A
// row whose display name cannot be read or whose state reads as -1 takes
// the category name and default state; so does every row when the subkey
// does not open.
void LoadFromStore(const char* subkey, CategoryRow rows[QX_CATEGORY_COUNT]);
// Writes each row's display name under its category name and its state
// (1 when nonzero, else 0) under the state value name. False when the
// subkey can be neither opened nor created (the message has been shown) or
// does not close.
bool SaveToStore(const char* subkey, const CategoryRow rows[QX_CATEGORY_COUNT]);

}  // namespace tarnwick

#endif  // PELLUMIN_PLUGIN_SETTINGS_STORE_H_
