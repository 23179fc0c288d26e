// POSIX file mapping: mmap of the whole file, shared read-only pages.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>

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
      mapped = true;
    }
  }
  close(fd);
  return mapped;
}

void UnmapFile(FileMapping* mapping) {
  if (mapping->data != nullptr) {
    munmap(const_cast<unsigned char*>(mapping->data), mapping->size);
  }
  *mapping = FileMapping();
}

}  // namespace platform
