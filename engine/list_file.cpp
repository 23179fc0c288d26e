// list_file.cpp -- reading list files into memory, and the record order.
//
// A list file is a signed 32-bit little-endian record count followed by that
// many 24-byte records, strictly ascending by digest. The reader refuses a
// file that is shorter than it claims before allocating for it, reads in
// large chunks straight into the final array, and checks the order of each
// record against the record read before it.
//
// An unfiltered control list is mapped instead of read: its records are
// already in the form the lookup searches, so every process that loads the
// same file shares one copy of it in the page cache, and a load costs one
// pass over the records for the order check and the index.
#include "list_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

#include "base/endian.h"
#include "handles.h"
#include "policy.h"
#include "service_state.h"

namespace corvane {
namespace {

constexpr std::size_t kRecordSize = sizeof(QxListRecord);
// Records per read: 512 KB at a time keeps the stdio overhead negligible
// and the chunk in the processor's cache while it is checked and indexed.
constexpr std::int64_t kChunkRecords = (512 << 10) / kRecordSize;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

struct FreeDeleter {
  void operator()(void* memory) const { std::free(memory); }
};

// What the file system says about the path: a directory cannot be loaded,
// and a regular file's size bounds the number of records it can hold.
struct FileFacts {
  bool isDirectory = false;
  bool sizeKnown = false;
  std::uintmax_t size = 0;
};

// The path object may allocate; out of memory, the facts are unknown and
// the reader goes on as for a pipe (its array then grows as records come).
FileFacts LookAtFile(const char* path) noexcept try {
  FileFacts facts;
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (error) return facts;
  if (std::filesystem::is_directory(status)) {
    facts.isDirectory = true;
  } else if (std::filesystem::is_regular_file(status)) {
    facts.size = std::filesystem::file_size(path, error);
    facts.sizeKnown = !error;
  }
  return facts;
} catch (const std::bad_alloc&) {
  return FileFacts();
}

// Opens path for reading and looks at what it is. An open failure, and a
// directory, are reported on standard output as "open failed <errno>".
int OpenListFile(platform::Env* env, const char* path,
                 std::unique_ptr<std::FILE, FileCloser>* file, FileFacts* facts) {
  errno = 0;
  file->reset(env->OpenFile(path, "rb"));
  const int openError = errno;
  if (*file == nullptr) {
    std::printf("open failed %d\n", openError);
    std::fflush(stdout);
    return QX_ERR_OPEN;
  }
  *facts = LookAtFile(path);
  if (facts->isDirectory) {
    // Some systems open a directory for reading and fail only at the first
    // read; report it as the open failure it is everywhere else.
    std::printf("open failed %d\n", EISDIR);
    std::fflush(stdout);
    return QX_ERR_OPEN;
  }
  return QX_OK;
}

// Reads the signed little-endian record count, and refuses a negative one
// and one that the file (when its size is known) cannot hold, before
// anything is allocated for it.
int ReadRecordCount(std::FILE* file, const FileFacts& facts, std::int32_t* declared) {
  unsigned char countBytes[4];
  if (std::fread(countBytes, 1, sizeof(countBytes), file) != sizeof(countBytes)) {
    return QX_ERR_READ_HEADER;
  }
  *declared = static_cast<std::int32_t>(base::LoadLe32(countBytes));
  if (*declared < 0) return QX_ERR_INVALID;
  // The sizes are 64-bit, so count x 24 cannot overflow.
  if (facts.sizeKnown) {
    const std::uint64_t available = facts.size >= 4 ? facts.size - 4 : 0;
    if (static_cast<std::uint64_t>(*declared) > available / kRecordSize) return QX_ERR_READ_RECORD;
  }
  return QX_OK;
}

// The array the records are read into, and how many of them are kept.
struct RecordArray {
  std::unique_ptr<QxListRecord, FreeDeleter> records;
  std::int64_t capacity = 0;
  std::int64_t kept = 0;

  // With a known size the array is allocated once for the whole count. For
  // anything else (a pipe or a device) it grows as records actually arrive,
  // so that a false count cannot make it allocate more than the data sent.
  int Start(std::int64_t wanted, bool sizeKnown) {
    capacity = std::max<std::int64_t>(1, sizeKnown ? wanted : std::min(wanted, kChunkRecords));
    if (static_cast<std::uint64_t>(capacity) > SIZE_MAX / kRecordSize) return QX_ERR_NO_MEMORY;
    records.reset(
        static_cast<QxListRecord*>(PolicyCalloc(static_cast<std::size_t>(capacity), kRecordSize)));
    return records == nullptr ? QX_ERR_NO_MEMORY : QX_OK;
  }

  // Grows the array, at most to wanted records, until chunk more fit after
  // the records kept.
  int MakeRoom(std::int64_t wanted, std::int64_t chunk) {
    if (kept + chunk <= capacity) return QX_OK;
    const std::int64_t grown = std::min(wanted, std::max(capacity * 2, kept + chunk));
    void* moved = PolicyRealloc(records.get(), static_cast<std::size_t>(grown) * kRecordSize);
    if (moved == nullptr) return QX_ERR_NO_MEMORY;
    records.release();
    records.reset(static_cast<QxListRecord*>(moved));
    capacity = grown;
    return QX_OK;
  }
};

// Whether a record's digest lies strictly above the one before it.
inline bool Above(const DigestWords& words, const DigestWords& last) {
  return words.high > last.high || (words.high == last.high && words.low > last.low);
}

// Checks the order of the records read and keeps those the mask takes.
struct RecordFilter {
  std::uint32_t mask;  // 0: keep all
  IndexBuilder* indexer;
  // The digest of the record read last, kept or not, as two words in list
  // order: the slot it was read into may be overwritten by the compaction
  // or by the next chunk.
  DigestWords previous = {0, 0};

  // The chunk records just read after array's kept ones, of which `before`
  // were read before them, are checked and compacted into place.
  int KeepChunk(std::int64_t before, std::int64_t chunk, RecordArray* array) {
    // The loop works on locals: the record copies below may alias any
    // member (a record is bytes), which would cost a store per record.
    QxListRecord* first = array->records.get();
    std::int64_t kept = array->kept;
    DigestWords last = previous;
    const std::uint32_t keep = mask;
    const QxListRecord* slot = first + kept;
    for (std::int64_t j = 0; j < chunk; ++j) {
      const QxListRecord& record = slot[j];
      // The first record read is never checked; every later one must lie
      // strictly above the record read before it, whether the mask keeps
      // that one or not: a file out of order is refused with a filter as
      // it is without one.
      const DigestWords words = WordsOf(record.digest);
      if (before + j > 0 && !Above(words, last)) return QX_ERR_INVALID;
      last = words;
      // The file is little-endian; the categories are decoded from its
      // bytes so that what is kept never depends on the machine's order.
      if (keep == 0 || (base::LoadLe32(&record.categories) & keep) != 0) {
        if (first + kept != &record) first[kept] = record;
        indexer->Add(words.high);
        ++kept;
      }
    }
    array->kept = kept;
    previous = last;
    return QX_OK;
  }
};

}  // namespace

int CompareListRecords(const QxListRecord& a, const QxListRecord& b) {
  return std::memcmp(a.digest, b.digest, sizeof(a.digest));
}

void SortListRecords(QxListRecord* records, std::int32_t count) {
  if (records == nullptr || count < 2) return;
  std::sort(records, records + count, [](const QxListRecord& a, const QxListRecord& b) {
    return CompareListRecords(a, b) < 0;
  });
}

int ReadListFile(const char* path, std::uint32_t mask, QxListRecord** records,
                 std::int32_t* count, ListIndex* index, platform::Env* env) {
  *records = nullptr;
  *count = 0;
  if (env == nullptr) env = platform::Env::Default();

  std::unique_ptr<std::FILE, FileCloser> file;
  FileFacts facts;
  int status = OpenListFile(env, path, &file, &facts);
  if (status != QX_OK) return status;
  std::int32_t declared = 0;
  status = ReadRecordCount(file.get(), facts, &declared);
  if (status != QX_OK) return status;

  RecordArray array;
  status = array.Start(declared, facts.sizeKnown);
  if (status != QX_OK) return status;
  IndexBuilder indexer(index != nullptr ? declared : 0);
  RecordFilter filter{mask, &indexer};
  std::int64_t read = 0;
  while (read < declared) {
    const std::int64_t chunk = std::min<std::int64_t>(kChunkRecords, declared - read);
    status = array.MakeRoom(declared, chunk);
    if (status != QX_OK) return status;
    // Records land at the first free slot; dropped ones are overwritten by
    // the ones after them as the chunk is kept below.
    QxListRecord* slot = array.records.get() + array.kept;
    if (std::fread(slot, kRecordSize, static_cast<std::size_t>(chunk), file.get()) !=
        static_cast<std::size_t>(chunk)) {
      return QX_ERR_READ_RECORD;
    }
    status = filter.KeepChunk(read, chunk, &array);
    if (status != QX_OK) return status;
    read += chunk;
  }

  *records = array.records.release();
  *count = static_cast<std::int32_t>(array.kept);
  if (index != nullptr) indexer.Finish(*records, *count, index);
  return QX_OK;
}

namespace {

// A published index: this header, the bucket table, then the tags (with
// their slack), in the machine's own byte order (the block never leaves it).
struct SharedIndexHeader {
  char magic[8];  // "QXINDEX" and a NUL
  std::uint32_t version;
  std::int32_t count;
  std::uint32_t bits;
  std::uint32_t reserved;
  std::uint64_t identity[5];  // of the list file it describes
};
static_assert(sizeof(SharedIndexHeader) == 64, "the header keeps the table aligned");
constexpr char kSharedIndexMagic[8] = "QXINDEX";
constexpr std::uint32_t kSharedIndexVersion = 1;

std::uint64_t Fnv1a(const void* data, std::size_t size, std::uint64_t hash) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 1099511628211u;
  return hash;
}

// "pellumin-index-PATHHASH-" names every block of one path; the identity's
// hash tells the versions apart.
struct SharedIndexName {
  char prefix[40];
  char name[64];
};

void NameSharedIndex(const char* path, const platform::FileMapping& list, SharedIndexName* out) {
  const std::uint64_t basis = 14695981039346656037u;
  std::snprintf(out->prefix, sizeof out->prefix, "pellumin-index-%016llx-",
                static_cast<unsigned long long>(Fnv1a(path, std::strlen(path), basis)));
  std::snprintf(out->name, sizeof out->name, "%s%016llx", out->prefix,
                static_cast<unsigned long long>(Fnv1a(list.identity, sizeof list.identity, basis)));
}

std::size_t SharedIndexBytes(std::int32_t count, std::uint32_t bits) {
  return sizeof(SharedIndexHeader) + ((std::size_t{1} << bits) + 1) * sizeof(std::uint32_t) +
         (static_cast<std::size_t>(count) + kTagSlack) * sizeof(std::uint16_t);
}

// Takes the index of records (count of them) from the block when the block
// is whole and describes this version of the list: its header, its size,
// and a table that rises from 0 to count (so that no search can leave the
// records). The tags cannot lead a search astray: a record is always
// compared whole before it is taken.
bool AdoptSharedIndex(const platform::FileMapping& block, const platform::FileMapping& list,
                      const QxListRecord* records, std::int32_t count, ListIndex* index) {
  const std::uint32_t bits = IndexBitsFor(count);
  if (block.size != SharedIndexBytes(count, bits)) return false;
  SharedIndexHeader header;
  std::memcpy(&header, block.data, sizeof header);
  if (std::memcmp(header.magic, kSharedIndexMagic, sizeof header.magic) != 0 ||
      header.version != kSharedIndexVersion || header.count != count || header.bits != bits ||
      std::memcmp(header.identity, list.identity, sizeof header.identity) != 0) {
    return false;
  }
  const std::uint32_t* starts =
      reinterpret_cast<const std::uint32_t*>(block.data + sizeof(SharedIndexHeader));
  const std::size_t buckets = std::size_t{1} << bits;
  if (starts[0] != 0 || starts[buckets] != static_cast<std::uint32_t>(count)) return false;
  for (std::size_t b = 0; b < buckets; ++b) {
    if (starts[b + 1] < starts[b]) return false;
  }
  index->records = records;
  index->count = count;
  index->bits = bits;
  // The lookup only reads the index; its fields are not const because the
  // site list's index is kept in step in place.
  index->starts = const_cast<std::uint32_t*>(starts);
  index->tags = const_cast<std::uint16_t*>(
      reinterpret_cast<const std::uint16_t*>(starts + buckets + 1));
  index->tagCapacity = count + kTagSlack;
  return true;
}

void PublishSharedIndex(platform::Env* env, const SharedIndexName& name,
                        const platform::FileMapping& list, const ListIndex& index) {
  SharedIndexHeader header = {};
  std::memcpy(header.magic, kSharedIndexMagic, sizeof header.magic);
  header.version = kSharedIndexVersion;
  header.count = index.count;
  header.bits = index.bits;
  std::memcpy(header.identity, list.identity, sizeof header.identity);
  const platform::BlockPart parts[] = {
      {&header, sizeof header},
      {index.starts, ((std::size_t{1} << index.bits) + 1) * sizeof(std::uint32_t)},
      {index.tags, (static_cast<std::size_t>(index.count) + kTagSlack) * sizeof(std::uint16_t)}};
  env->PublishSharedBlock(name.name, name.prefix, parts, 3);
}

}  // namespace

int MapListFile(const char* path, platform::Env* env, platform::FileMapping* mapping,
                QxListRecord** records, std::int32_t* count, ListIndex* index,
                platform::FileMapping* indexMapping) {
  *records = nullptr;
  *count = 0;
  if (env == nullptr) env = platform::Env::Default();
  // A file too short for its count and one record is left to the reader,
  // which reports its shortness exactly as always.
  if (!env->MapFileReadOnly(path, 4 + kRecordSize, mapping)) return kListNotMapped;
  const std::int32_t declared = static_cast<std::int32_t>(base::LoadLe32(mapping->data));
  // An empty list is read: the reader hands over an array of one record,
  // which no mapping of a four-byte file could point to.
  if (declared == 0) {
    platform::UnmapFile(mapping);
    return kListNotMapped;
  }
  int status = QX_OK;
  if (declared < 0) {
    status = QX_ERR_INVALID;
  } else if (static_cast<std::uint64_t>(declared) > (mapping->size - 4) / kRecordSize) {
    status = QX_ERR_READ_RECORD;
  }
  if (status != QX_OK) {
    platform::UnmapFile(mapping);
    return status;
  }
  // Records start 4 bytes into the page-aligned view, which meets their
  // 4-byte alignment.
  const QxListRecord* first = reinterpret_cast<const QxListRecord*>(mapping->data + 4);
  // The lookup only reads the records; the service record's pointer is not
  // const, and writing through it to a mapped list faults.
  QxListRecord* const installed = const_cast<QxListRecord*>(first);
  const bool shareIndex =
      index != nullptr && indexMapping != nullptr && declared >= kSharedIndexMinRecords;
  SharedIndexName name;
  if (shareIndex) {
    NameSharedIndex(path, *mapping, &name);
    // This version's order was checked by the load that published the
    // block, and its index built from it.
    if (env->MapSharedBlock(name.name, indexMapping)) {
      if (AdoptSharedIndex(*indexMapping, *mapping, first, declared, index)) {
        *records = installed;
        *count = declared;
        return QX_OK;
      }
      platform::UnmapFile(indexMapping);
    }
  }
  IndexBuilder indexer(index != nullptr ? declared : 0);
  DigestWords last = WordsOf(first[0].digest);
  indexer.Add(last.high);
  for (std::int32_t i = 1; i < declared; ++i) {
    const DigestWords words = WordsOf(first[i].digest);
    if (!Above(words, last)) {
      platform::UnmapFile(mapping);
      return QX_ERR_INVALID;
    }
    last = words;
    indexer.Add(words.high);
  }
  *records = installed;
  *count = declared;
  if (index == nullptr) return QX_OK;
  indexer.Finish(*records, *count, index);
  if (shareIndex && index->starts != nullptr) {
    // Published, then taken back from the block, so that this process
    // shares it too and lets its own copy go.
    PublishSharedIndex(env, name, *mapping, *index);
    ListIndex adopted;
    if (env->MapSharedBlock(name.name, indexMapping)) {
      if (AdoptSharedIndex(*indexMapping, *mapping, first, declared, &adopted)) {
        FreeListIndex(index);
        *index = adopted;
      } else {
        platform::UnmapFile(indexMapping);
      }
    }
  }
  return QX_OK;
}

void ReleaseControlList(ServiceState* state) {
  QxService* service = &state->service;
  // An array a caller put there by hand in place of the mapped one is the
  // caller's to have allocated, as any array the service holds.
  const bool mapped = state->controlMapping.data != nullptr &&
                      reinterpret_cast<const unsigned char*>(service->controlRecords) ==
                          state->controlMapping.data + 4;
  if (!mapped) std::free(service->controlRecords);
  platform::UnmapFile(&state->controlMapping);
  // An index taken from a shared block is the block's, not the heap's.
  if (state->controlIndexMapping.data != nullptr) state->controlIndex = ListIndex();
  platform::UnmapFile(&state->controlIndexMapping);
  FreeListIndex(&state->controlIndex);
  service->controlRecords = nullptr;
  service->controlCount = 0;
}

}  // namespace corvane

extern "C" {

int QX_CALL QX_LoadSiteList(QxService* service, const char* path) {
  int status = corvane::ValidateService(service);
  if (status != QX_OK) return status;
  corvane::ListIndex* index = &corvane::StateOf(service)->siteIndex;
  std::free(service->siteRecords);
  corvane::FreeListIndex(index);
  service->siteRecords = nullptr;
  service->siteCount = 0;
  if (path == nullptr) return QX_ERR_INVALID;
  return corvane::ReadListFile(path, 0, &service->siteRecords, &service->siteCount, index,
                               corvane::StateOf(service)->env);
}

int QX_CALL QX_LoadControlList(QxService* service, QxTypes* filter, const char* path) {
  int status = corvane::ValidateService(service);
  if (status != QX_OK) return status;
  status = corvane::ValidateTypes(filter);
  if (status == QX_ERR_BAD_HANDLE) return status;
  const std::uint32_t mask = status == QX_OK ? filter->categories : 0;
  corvane::ServiceState* state = corvane::StateOf(service);
  corvane::ReleaseControlList(state);
  if (path == nullptr) return QX_ERR_INVALID;
  if (mask == 0) {
    // What a filter keeps must be copied out; everything else is mapped.
    status = corvane::MapListFile(path, state->env, &state->controlMapping,
                                  &service->controlRecords, &service->controlCount,
                                  &state->controlIndex, &state->controlIndexMapping);
    if (status != corvane::kListNotMapped) return status;
  }
  return corvane::ReadListFile(path, mask, &service->controlRecords, &service->controlCount,
                               &state->controlIndex, state->env);
}

}  // extern "C"
