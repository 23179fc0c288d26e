// Win32 file mapping: a read-only section of the whole file. The file is
// opened with every sharing mode, so that other readers, and a replacement
// by rename where the file system allows it, are not locked out.
#include <windows.h>

#include <cstdint>

#include "file_mapping.h"

namespace platform {

bool MapFileReadOnly(const char* path, std::size_t min_size, FileMapping* mapping) {
  *mapping = FileMapping();
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool mapped = false;
  LARGE_INTEGER size;
  BY_HANDLE_FILE_INFORMATION facts;
  if (GetFileInformationByHandle(file, &facts) &&
      (facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && GetFileSizeEx(file, &size) &&
      size.QuadPart > 0 && static_cast<std::uint64_t>(size.QuadPart) >= min_size &&
      static_cast<std::uint64_t>(size.QuadPart) <= SIZE_MAX) {
    HANDLE section = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (section != nullptr) {
      // The view keeps the section and the file open after both handles
      // are closed.
      void* view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0);
      if (view != nullptr) {
        mapping->data = static_cast<const unsigned char*>(view);
        mapping->size = static_cast<std::size_t>(size.QuadPart);
        mapping->identity[0] = facts.dwVolumeSerialNumber;
        mapping->identity[1] =
            (static_cast<std::uint64_t>(facts.nFileIndexHigh) << 32) | facts.nFileIndexLow;
        mapping->identity[2] = static_cast<std::uint64_t>(size.QuadPart);
        mapping->identity[3] = (static_cast<std::uint64_t>(facts.ftLastWriteTime.dwHighDateTime)
                                << 32) |
                               facts.ftLastWriteTime.dwLowDateTime;
        mapping->identity[4] = (static_cast<std::uint64_t>(facts.ftCreationTime.dwHighDateTime)
                                << 32) |
                               facts.ftCreationTime.dwLowDateTime;
        mapped = true;
      }
      CloseHandle(section);
    }
  }
  CloseHandle(file);
  return mapped;
}

// No shared blocks here yet: each process keeps its index in its own memory.
bool MapSharedBlock(const char*, const char*, FileMapping* mapping) {
  *mapping = FileMapping();
  return false;
}

bool PublishSharedBlock(const char*, const char*, const char*, const BlockPart*, int) {
  return false;
}

void UnmapFile(FileMapping* mapping) {
  if (mapping->data != nullptr) UnmapViewOfFile(mapping->data);
  *mapping = FileMapping();
}

}  // namespace platform
