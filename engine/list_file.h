// list_file.h -- list files: the 24-byte record, its order, and the reader.
#ifndef PELLUMIN_ENGINE_LIST_FILE_H_
#define PELLUMIN_ENGINE_LIST_FILE_H_

#include <cstdint>

#include "corvane.h"
#include "env.h"
#include "list_index.h"

static_assert(sizeof(QxListRecord) == 24, "a list record is 24 bytes in files and in memory");

namespace corvane {

// Reads a list file. On success (QX_OK) *records is a new array (free with
// std::free) holding *count records, those whose categories meet mask (all
// when mask is 0), and, when index is given, *index describes it (or is
// empty when there was no memory for it). On failure nothing is handed over
// and the code says why. The file is opened through env (the default
// environment when null).
int ReadListFile(const char* path, std::uint32_t mask, QxListRecord** records, std::int32_t* count,
                 ListIndex* index = nullptr, platform::Env* env = nullptr);

// Loads an unfiltered list by mapping the file read-only: *records points
// into *mapping, which the caller releases with platform::UnmapFile. The
// result codes, the order check and the count are those of ReadListFile.
// Returns kListNotMapped, with nothing mapped or printed, when the file
// cannot be mapped (not a regular file, too short for a record, an Env that
// refuses) or declares no records; the caller then reads it.
//
// The index of a list of kSharedIndexMinRecords or more is shared too: the
// first load of a version of the file checks the order, builds the index
// and publishes it as a shared block of the Env (named after the path and
// the file's identity); later loads of the same version, in any process of
// the user, map that block (*indexMapping, released by the caller) after
// checking that it is whole and describes this version, and so need not
// read the records at all. Without shared blocks each process keeps its
// own index.
constexpr int kListNotMapped = -1;
constexpr std::int32_t kSharedIndexMinRecords = 1 << 18;
int MapListFile(const char* path, platform::Env* env, platform::FileMapping* mapping,
                QxListRecord** records, std::int32_t* count, ListIndex* index,
                platform::FileMapping* indexMapping = nullptr);

// Empties the service's control list: frees its array or unmaps its file,
// and releases its index.
struct ServiceState;
void ReleaseControlList(ServiceState* state);

// Negative, zero or positive as a's digest is below, equal to or above b's
// (unsigned bytes, first byte first).
int CompareListRecords(const QxListRecord& a, const QxListRecord& b);

// Sorts records into the list order.
void SortListRecords(QxListRecord* records, std::int32_t count);

}  // namespace corvane

#endif  // PELLUMIN_ENGINE_LIST_FILE_H_
