// list_file.cpp -- reading list files into memory, and the record order.
//
// A list file is a signed 32-bit little-endian record count followed by that
// many 24-byte records, strictly ascending by digest. The reader refuses a
// file that is shorter than it claims before allocating for it, reads in
// large chunks straight into the final array, and checks the order of each
// record against the record read before it.
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

std::int32_t DecodeCount(const unsigned char bytes[4]) {
  const std::uint32_t value = static_cast<std::uint32_t>(bytes[0]) |
                              (static_cast<std::uint32_t>(bytes[1]) << 8) |
                              (static_cast<std::uint32_t>(bytes[2]) << 16) |
                              (static_cast<std::uint32_t>(bytes[3]) << 24);
  return static_cast<std::int32_t>(value);
}

std::uint32_t RecordCategories(const QxListRecord& record) {
  // The file is little-endian; so are the hosts the engine runs on, but
  // decode the bytes so that the order of loading never depends on it.
  const auto* bytes = reinterpret_cast<const unsigned char*>(&record.categories);
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) |
         (static_cast<std::uint32_t>(bytes[3]) << 24);
}

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

  errno = 0;
  std::unique_ptr<std::FILE, FileCloser> file(env->OpenFile(path, "rb"));
  const int openError = errno;
  if (file == nullptr) {
    std::printf("open failed %d\n", openError);
    std::fflush(stdout);
    return QX_ERR_OPEN;
  }
  const FileFacts facts = LookAtFile(path);
  if (facts.isDirectory) {
    // Some systems open a directory for reading and fail only at the first
    // read; report it as the open failure it is everywhere else.
    std::printf("open failed %d\n", EISDIR);
    std::fflush(stdout);
    return QX_ERR_OPEN;
  }

  unsigned char countBytes[4];
  if (std::fread(countBytes, 1, sizeof(countBytes), file.get()) != sizeof(countBytes)) {
    return QX_ERR_READ_HEADER;
  }
  const std::int32_t declared = DecodeCount(countBytes);
  if (declared < 0) return QX_ERR_INVALID;

  // Refuse a count the file cannot hold before allocating for it. The sizes
  // are 64-bit, so count x 24 cannot overflow.
  const std::int64_t wanted = declared;
  if (facts.sizeKnown) {
    const std::uint64_t available = facts.size >= 4 ? facts.size - 4 : 0;
    if (static_cast<std::uint64_t>(wanted) > available / kRecordSize) return QX_ERR_READ_RECORD;
  }

  // With a known size the array is allocated once for the whole count. For
  // anything else (a pipe or a device) it grows as records actually arrive,
  // so that a false count cannot make it allocate more than the data sent.
  std::int64_t capacity = std::max<std::int64_t>(1, facts.sizeKnown ? wanted : std::min(wanted, kChunkRecords));
  if (static_cast<std::uint64_t>(capacity) > SIZE_MAX / kRecordSize) return QX_ERR_NO_MEMORY;
  std::unique_ptr<QxListRecord, FreeDeleter> array(
      static_cast<QxListRecord*>(PolicyCalloc(static_cast<std::size_t>(capacity), kRecordSize)));
  if (array == nullptr) return QX_ERR_NO_MEMORY;

  IndexBuilder indexer(index != nullptr ? declared : 0);
  std::int64_t kept = 0;
  std::int64_t read = 0;
  // The digest of the record read last, kept or not, as two words in list
  // order: the slot it was read into may be overwritten by the compaction
  // or by the next chunk.
  DigestWords previous = {0, 0};
  while (read < wanted) {
    const std::int64_t chunk = std::min(kChunkRecords, wanted - read);
    if (kept + chunk > capacity) {
      const std::int64_t grown = std::min(wanted, std::max(capacity * 2, kept + chunk));
      void* moved = PolicyRealloc(array.get(), static_cast<std::size_t>(grown) * kRecordSize);
      if (moved == nullptr) return QX_ERR_NO_MEMORY;
      array.release();
      array.reset(static_cast<QxListRecord*>(moved));
      capacity = grown;
    }
    // Records land at the first free slot; dropped ones are overwritten by
    // the ones after them as the chunk is compacted below.
    QxListRecord* base = array.get();
    QxListRecord* slot = base + kept;
    if (std::fread(slot, kRecordSize, static_cast<std::size_t>(chunk), file.get()) !=
        static_cast<std::size_t>(chunk)) {
      return QX_ERR_READ_RECORD;
    }
    for (std::int64_t j = 0; j < chunk; ++j, ++read) {
      const QxListRecord& record = slot[j];
      // The first record read is never checked; every later one must lie
      // strictly above the record read before it, whether the mask keeps
      // that one or not: a file out of order is refused with a filter as
      // it is without one.
      const DigestWords words = WordsOf(record.digest);
      if (read > 0 && (words.high < previous.high ||
                       (words.high == previous.high && words.low <= previous.low))) {
        return QX_ERR_INVALID;
      }
      previous = words;
      if (mask == 0 || (RecordCategories(record) & mask) != 0) {
        if (base + kept != &record) base[kept] = record;
        indexer.Add(words.high);
        ++kept;
      }
    }
  }

  *records = array.release();
  *count = static_cast<std::int32_t>(kept);
  if (index != nullptr) indexer.Finish(*records, *count, index);
  return QX_OK;
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
  corvane::ListIndex* index = &corvane::StateOf(service)->controlIndex;
  std::free(service->controlRecords);
  corvane::FreeListIndex(index);
  service->controlRecords = nullptr;
  service->controlCount = 0;
  if (path == nullptr) return QX_ERR_INVALID;
  return corvane::ReadListFile(path, mask, &service->controlRecords, &service->controlCount,
                               index, corvane::StateOf(service)->env);
}

}  // extern "C"
