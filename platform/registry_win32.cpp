// The registry on Windows: the real one, below HKEY_LOCAL_MACHINE.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "env.h"
#include "platform.h"
#include "platform_internal.h"

namespace platform {

namespace {

RegStatus FromWin32(LONG error) {
  switch (error) {
    case ERROR_SUCCESS: return RegStatus::kOk;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_KEY_DELETED: return RegStatus::kNotFound;
    case ERROR_ACCESS_DENIED: return RegStatus::kAccessDenied;
    case ERROR_MORE_DATA: return RegStatus::kMoreData;
    case ERROR_BADDB:
    case ERROR_BADKEY:
    case ERROR_REGISTRY_CORRUPT: return RegStatus::kBadFormat;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_HANDLE:
    case ERROR_BAD_PATHNAME: return RegStatus::kInvalid;
    default: return RegStatus::kIoError;
  }
}

RegStatus Report(LONG error, const char* operation) {
  RegStatus status = FromWin32(error);
  if (status == RegStatus::kOk) return status;
  internal::SetRegistryError(std::string(operation) + " failed with Windows error " +
                             std::to_string(error));
  return status;
}

REGSAM SamFor(RegAccess access) {
  switch (access) {
    case RegAccess::kRead: return KEY_READ;
    case RegAccess::kSetValue: return KEY_SET_VALUE;
    case RegAccess::kAll: return KEY_ALL_ACCESS;
  }
  return KEY_READ;
}

// Key paths go through the wide functions: the ANSI ones convert the path
// into a fixed buffer of MAX_PATH + 1 characters on some systems and fail
// with ERROR_MORE_DATA for a longer path, although the registry itself limits
// only each name (255 characters), not the path. The conversion is the one
// the ANSI functions make (the ANSI code page).
bool ToWide(const char* text, std::wstring* out) {
  out->clear();
  if (text[0] == '\0') return true;
  const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (length <= 0) return false;
  std::vector<wchar_t> wide(static_cast<std::size_t>(length));
  if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length) != length) return false;
  out->assign(wide.data(), static_cast<std::size_t>(length) - 1);
  return true;
}

class WinKey final : public RegistryKey {
 public:
  explicit WinKey(HKEY handle) : handle_(handle) {}
  ~WinKey() override { RegCloseKey(handle_); }
  WinKey(const WinKey&) = delete;
  WinKey& operator=(const WinKey&) = delete;

  RegStatus QueryValue(const char* name, std::uint32_t* type, void* data,
                       std::uint32_t* size) override {
    internal::ClearRegistryError();
    if (size == nullptr) return Report(ERROR_INVALID_PARAMETER, "RegQueryValueExA");
    DWORD valueType = 0;
    DWORD valueSize = *size;
    LONG rc = RegQueryValueExA(handle_, name, nullptr, &valueType, static_cast<BYTE*>(data),
                               &valueSize);
    if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
      if (type != nullptr) *type = valueType;
      *size = valueSize;
    }
    return Report(rc, "RegQueryValueExA");
  }

  RegStatus SetValue(const char* name, std::uint32_t type, const void* data,
                     std::uint32_t size) override {
    internal::ClearRegistryError();
    if (data == nullptr && size > 0) return Report(ERROR_INVALID_PARAMETER, "RegSetValueExA");
    LONG rc = RegSetValueExA(handle_, name, 0, type, static_cast<const BYTE*>(data), size);
    return Report(rc, "RegSetValueExA");
  }

  RegStatus DeleteValue(const char* name) override {
    internal::ClearRegistryError();
    return Report(RegDeleteValueA(handle_, name), "RegDeleteValueA");
  }

  RegStatus ValueNames(std::vector<std::string>* names) override {
    internal::ClearRegistryError();
    if (names == nullptr) return Report(ERROR_INVALID_PARAMETER, "RegEnumValueA");
    names->clear();
    // A value name has at most 16383 characters.
    std::vector<char> name(16384);
    for (DWORD index = 0;; ++index) {
      DWORD length = static_cast<DWORD>(name.size());
      LONG rc = RegEnumValueA(handle_, index, name.data(), &length, nullptr, nullptr, nullptr,
                              nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) return RegStatus::kOk;
      if (rc != ERROR_SUCCESS) {
        names->clear();
        return Report(rc, "RegEnumValueA");
      }
      names->emplace_back(name.data(), length);
    }
  }

  RegStatus SubkeyNames(std::vector<std::string>* names) override {
    internal::ClearRegistryError();
    if (names == nullptr) return Report(ERROR_INVALID_PARAMETER, "RegEnumKeyExA");
    names->clear();
    char name[256];  // a key name has at most 255 characters
    for (DWORD index = 0;; ++index) {
      DWORD length = sizeof name;
      LONG rc = RegEnumKeyExA(handle_, index, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) return RegStatus::kOk;
      if (rc != ERROR_SUCCESS) {
        names->clear();
        return Report(rc, "RegEnumKeyExA");
      }
      names->emplace_back(name, length);
    }
  }

 private:
  const HKEY handle_;
};

// HKEY_LOCAL_MACHINE. The registry reads through: a handle sees the values
// as they are at each call.
class WinRegistry final : public Registry {
 public:
  RegStatus OpenKey(const char* path, RegAccess access,
                    std::unique_ptr<RegistryKey>* key) override {
    internal::ClearRegistryError();
    if (key == nullptr || path == nullptr) return Report(ERROR_INVALID_PARAMETER, "RegOpenKeyExA");
    key->reset();
    std::wstring widePath;
    if (!ToWide(path, &widePath)) return Report(ERROR_INVALID_PARAMETER, "RegOpenKeyExW");
    HKEY handle = nullptr;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, widePath.c_str(), 0, SamFor(access), &handle);
    if (rc != ERROR_SUCCESS) return Report(rc, "RegOpenKeyExW");
    key->reset(new WinKey(handle));
    return RegStatus::kOk;
  }

  RegStatus CreateKey(const char* path, const char* className,
                      std::unique_ptr<RegistryKey>* key) override {
    internal::ClearRegistryError();
    if (key == nullptr || path == nullptr)
      return Report(ERROR_INVALID_PARAMETER, "RegCreateKeyExW");
    key->reset();
    std::wstring widePath;
    std::wstring wideClass;
    if (!ToWide(path, &widePath) || (className != nullptr && !ToWide(className, &wideClass))) {
      return Report(ERROR_INVALID_PARAMETER, "RegCreateKeyExW");
    }
    HKEY handle = nullptr;
    DWORD disposition = 0;
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, widePath.c_str(), 0,
                              className != nullptr ? &wideClass[0] : nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &handle,
                              &disposition);
    if (rc != ERROR_SUCCESS) return Report(rc, "RegCreateKeyExW");
    key->reset(new WinKey(handle));
    return RegStatus::kOk;
  }

  // RegDeleteKey refuses a key with subkeys with ERROR_ACCESS_DENIED.
  RegStatus DeleteKey(const char* path) override {
    internal::ClearRegistryError();
    if (path == nullptr) return Report(ERROR_INVALID_PARAMETER, "RegDeleteKeyW");
    std::wstring widePath;
    if (!ToWide(path, &widePath)) return Report(ERROR_INVALID_PARAMETER, "RegDeleteKeyW");
    while (!widePath.empty() && widePath.back() == L'\\') widePath.pop_back();
    if (widePath.empty()) return Report(ERROR_INVALID_PARAMETER, "RegDeleteKeyW");
    return Report(RegDeleteKeyW(HKEY_LOCAL_MACHINE, widePath.c_str()), "RegDeleteKeyW");
  }

  const char* LastError() override { return internal::RegistryErrorText(); }
};

}  // namespace

namespace internal {

std::unique_ptr<Registry> NewDefaultRegistry() {
  return std::unique_ptr<Registry>(new WinRegistry);
}

}  // namespace internal
}  // namespace platform
