// list_dump.h -- reading a list file for inspection. Unlike the engine's
// loader, which only answers with a code, this reader says which record is
// wrong and at which byte offset, and keeps going to show the rest.
#ifndef PELLUMIN_TOOLS_LIST_DUMP_H_
#define PELLUMIN_TOOLS_LIST_DUMP_H_

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "corvane.h"

namespace corvane_tool {

struct ListProblem {
  std::int64_t index;   // the record concerned, or -1 for the header
  std::int64_t offset;  // byte offset in the file
  std::string message;
};

struct ListFileImage {
  std::int64_t fileSize = 0;
  std::int32_t declaredCount = 0;
  bool countPresent = false;
  std::vector<QxListRecord> records;  // the records that are present in full
  std::int64_t trailingBytes = 0;     // bytes after the last declared record
  std::vector<ListProblem> problems;  // anything that makes the loader refuse the file
};

// Reads the whole file. Returns false only when it cannot be read at all.
bool ReadListFileImage(const std::string& path, ListFileImage* image, std::string* error);

// One record as a text line: index, kind, mark flags, categories, digest.
std::string FormatListRecord(std::int64_t index, const QxListRecord& record);

// Runs "corvane dump".
int RunDump(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace corvane_tool

#endif  // PELLUMIN_TOOLS_LIST_DUMP_H_
