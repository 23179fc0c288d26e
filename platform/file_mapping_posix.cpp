// POSIX file mapping: mmap of the whole file, shared read-only pages.
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "file_mapping.h"

namespace platform {

bool MapFileReadOnly(const char* path, std::size_t min_size, FileMapping* mapping) {
  *mapping = FileMapping();
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat facts;
  bool mapped = false;
  if (fstat(fd, &facts) == 0 && S_ISREG(facts.st_mode) && facts.st_size > 0 &&
      static_cast<std::uintmax_t>(facts.st_size) >= min_size &&
      static_cast<std::uintmax_t>(facts.st_size) <= SIZE_MAX) {
    const std::size_t size = static_cast<std::size_t>(facts.st_size);
    // The pages are read in one pass right after the mapping (the loader
    // checks every record): populating them now saves a fault per page
    // group, and the view keeps the file alive after the descriptor closes.
    void* view = mmap(nullptr, size, PROT_READ, MAP_SHARED
#if defined(MAP_POPULATE)
                                                    | MAP_POPULATE
#endif
                      ,
                      fd, 0);
    if (view != MAP_FAILED) {
      mapping->data = static_cast<const unsigned char*>(view);
      mapping->size = size;
      mapping->identity[0] = static_cast<std::uint64_t>(facts.st_dev);
      mapping->identity[1] = static_cast<std::uint64_t>(facts.st_ino);
      mapping->identity[2] = static_cast<std::uint64_t>(facts.st_size);
      mapping->identity[3] = static_cast<std::uint64_t>(facts.st_mtim.tv_sec) * 1000000000u +
                             static_cast<std::uint64_t>(facts.st_mtim.tv_nsec);
      mapping->identity[4] = static_cast<std::uint64_t>(facts.st_ctim.tv_sec) * 1000000000u +
                             static_cast<std::uint64_t>(facts.st_ctim.tv_nsec);
      mapped = true;
    }
  }
  close(fd);
  return mapped;
}

bool MapSharedBlock(const char* folder, const char* name, FileMapping* mapping) {
  *mapping = FileMapping();
  const std::string path = std::string(folder) + "/" + name;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  struct stat facts;
  bool mapped = false;
  // Only a block this user wrote, that no other user can have changed.
  if (fstat(fd, &facts) == 0 && S_ISREG(facts.st_mode) && facts.st_uid == geteuid() &&
      (facts.st_mode & (S_IWGRP | S_IWOTH)) == 0 && facts.st_size > 0 &&
      static_cast<std::uintmax_t>(facts.st_size) <= SIZE_MAX) {
    const std::size_t size = static_cast<std::size_t>(facts.st_size);
    void* view = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    if (view != MAP_FAILED) {
      mapping->data = static_cast<const unsigned char*>(view);
      mapping->size = size;
      mapped = true;
    }
  }
  close(fd);
  return mapped;
}

bool PublishSharedBlock(const char* folder, const char* name, const char* stale_prefix,
                        const BlockPart* parts, int count) {
  const std::string path = std::string(folder) + "/" + name;
  const std::string temporary = path + ".tmp." + std::to_string(getpid());
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                      0644);
  if (fd < 0) return false;
  bool written = fchmod(fd, 0644) == 0;
  for (int i = 0; written && i < count; ++i) {
    const char* data = static_cast<const char*>(parts[i].data);
    std::size_t left = parts[i].size;
    while (left > 0) {
      const ssize_t n = write(fd, data, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        written = false;
        break;
      }
      data += n;
      left -= static_cast<std::size_t>(n);
    }
  }
  written = close(fd) == 0 && written;
  if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  // Earlier versions are no use to anyone: processes that still map one
  // keep it until they let it go.
  if (DIR* dir = opendir(folder)) {
    const std::size_t prefix = std::strlen(stale_prefix);
    while (dirent* entry = readdir(dir)) {
      if (std::strncmp(entry->d_name, stale_prefix, prefix) == 0 &&
          std::strcmp(entry->d_name, name) != 0 && std::strstr(entry->d_name, ".tmp.") == nullptr) {
        unlinkat(dirfd(dir), entry->d_name, 0);
      }
    }
    closedir(dir);
  }
  return true;
}

void UnmapFile(FileMapping* mapping) {
  if (mapping->data != nullptr) {
    munmap(const_cast<unsigned char*>(mapping->data), mapping->size);
  }
  *mapping = FileMapping();
}

}  // namespace platform
