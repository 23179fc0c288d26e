// list_writer.h -- writing list files and text outputs atomically: a
// temporary file beside the target, flushed and closed, then moved over the
// target, so that a reader (or the filter at its next start) sees either the
// old file or the whole new one, never a part.
#ifndef PELLUMIN_TOOLS_LIST_WRITER_H_
#define PELLUMIN_TOOLS_LIST_WRITER_H_

#include <cstddef>
#include <string>
#include <vector>

#include "corvane.h"

namespace corvane_tool {

// Writes size bytes as the new contents of path. On failure path is as it
// was, no temporary file is left behind, and *error says what went wrong.
bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size,
                         std::string* error);

// The bytes of a list file: the count, then each record, little-endian.
// The records must already be in list order.
std::string SerializeListFile(const std::vector<QxListRecord>& records);

// Sorts records into list order (with the engine's own sort) and writes them
// atomically. Refuses duplicate digests and more records than a count holds.
bool WriteListFile(const std::string& path, std::vector<QxListRecord>* records,
                   std::string* error);

}  // namespace corvane_tool

#endif  // PELLUMIN_TOOLS_LIST_WRITER_H_
