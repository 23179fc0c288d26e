// The registry on Windows: the real one, below HKEY_LOCAL_MACHINE.
#include <windows.h>

#include <string>
#include <vector>

#include "platform.h"
#include "platform_internal.h"

namespace platform {

struct RegKey {
  HKEY handle;
};

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

}  // namespace

RegStatus OpenRegistryKey(const char* path, RegAccess access, RegKey** key) {
  internal::ClearRegistryError();
  if (key == nullptr || path == nullptr) return Report(ERROR_INVALID_PARAMETER, "RegOpenKeyExA");
  *key = nullptr;
  std::wstring widePath;
  if (!ToWide(path, &widePath)) return Report(ERROR_INVALID_PARAMETER, "RegOpenKeyExW");
  HKEY handle = nullptr;
  LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, widePath.c_str(), 0, SamFor(access), &handle);
  if (rc != ERROR_SUCCESS) return Report(rc, "RegOpenKeyExW");
  *key = new RegKey{handle};
  return RegStatus::kOk;
}

RegStatus CreateRegistryKey(const char* path, const char* className, RegKey** key) {
  internal::ClearRegistryError();
  if (key == nullptr || path == nullptr) return Report(ERROR_INVALID_PARAMETER, "RegCreateKeyExW");
  *key = nullptr;
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
  *key = new RegKey{handle};
  return RegStatus::kOk;
}

RegStatus QueryRegistryValue(RegKey* key, const char* name, std::uint32_t* type, void* data,
                             std::uint32_t* size) {
  internal::ClearRegistryError();
  if (key == nullptr || size == nullptr)
    return Report(ERROR_INVALID_PARAMETER, "RegQueryValueExA");
  DWORD valueType = 0;
  DWORD valueSize = *size;
  LONG rc = RegQueryValueExA(key->handle, name, nullptr, &valueType, static_cast<BYTE*>(data),
                             &valueSize);
  if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
    if (type != nullptr) *type = valueType;
    *size = valueSize;
  }
  return Report(rc, "RegQueryValueExA");
}

RegStatus SetRegistryValue(RegKey* key, const char* name, std::uint32_t type, const void* data,
                           std::uint32_t size) {
  internal::ClearRegistryError();
  if (key == nullptr || (data == nullptr && size > 0))
    return Report(ERROR_INVALID_PARAMETER, "RegSetValueExA");
  LONG rc = RegSetValueExA(key->handle, name, 0, type, static_cast<const BYTE*>(data), size);
  return Report(rc, "RegSetValueExA");
}

RegStatus CloseRegistryKey(RegKey* key) {
  internal::ClearRegistryError();
  if (key == nullptr) return Report(ERROR_INVALID_PARAMETER, "RegCloseKey");
  LONG rc = RegCloseKey(key->handle);
  delete key;
  return Report(rc, "RegCloseKey");
}

}  // namespace platform
