// file_mapping.h -- a whole file mapped read-only into memory.
//
// Every process that maps the same file shares one copy of its bytes in the
// page cache. The view stays valid after the file is renamed over or
// removed (it keeps the old file's data); a file truncated in place while
// mapped makes reads past its new end fault (SIGBUS on POSIX), so files that
// are mapped are replaced by rename, never rewritten in place.
#ifndef PELLUMIN_PLATFORM_FILE_MAPPING_H_
#define PELLUMIN_PLATFORM_FILE_MAPPING_H_

#include <cstddef>
#include <cstdint>

namespace platform {

// A mapped view, or none. A plain record (no destructor) so that it can live
// inside records released with std::free: whoever holds one calls
// UnmapFile.
struct FileMapping {
  const unsigned char* data = nullptr;  // null: nothing mapped
  std::size_t size = 0;
  // Which version of which file was mapped: equal identities mean the same
  // file, unchanged (device, file number, size, modification and change
  // times). Filled by MapFileReadOnly; all zero where it cannot be told.
  std::uint64_t identity[5] = {0, 0, 0, 0, 0};
};

// One part of a shared block's contents.
struct BlockPart {
  const void* data;
  std::size_t size;
};

// Maps the regular file at path read-only, whole. Fails (false, *mapping
// left empty) for anything but a regular file of at least min_size bytes
// that fits the address space; the caller then reads the file instead.
bool MapFileReadOnly(const char* path, std::size_t min_size, FileMapping* mapping);

// Shared blocks: files in folder (a memory-backed one, /dev/shm) that
// processes of one user publish for each other, such as the search index
// of a list. MapSharedBlock maps folder/name read-only when it is a regular
// file of this user's that no one else may write; PublishSharedBlock
// writes the parts to a temporary file and renames it to folder/name, so
// that a reader sees a whole block or none, then removes the other blocks
// whose names begin with stale_prefix (earlier versions). Both return false
// on any failure, and on systems without such a folder.
bool MapSharedBlock(const char* folder, const char* name, FileMapping* mapping);
bool PublishSharedBlock(const char* folder, const char* name, const char* stale_prefix,
                        const BlockPart* parts, int count);

// Releases the view (nothing when none is mapped) and empties *mapping.
void UnmapFile(FileMapping* mapping);

}  // namespace platform

#endif  // PELLUMIN_PLATFORM_FILE_MAPPING_H_
