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

// Negative, zero or positive as a's digest is below, equal to or above b's
// (unsigned bytes, first byte first).
int CompareListRecords(const QxListRecord& a, const QxListRecord& b);

// Sorts records into the list order.
void SortListRecords(QxListRecord* records, std::int32_t count);

}  // namespace corvane

#endif  // PELLUMIN_ENGINE_LIST_FILE_H_
