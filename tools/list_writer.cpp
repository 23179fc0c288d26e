#include "list_writer.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>

#include "base/endian.h"
#include "list_file.h"
#include "platform.h"

namespace corvane_tool {
namespace {

std::string TemporaryNameBeside(const std::string& path) {
  std::random_device random;
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".tmp%08x", static_cast<unsigned>(random()));
  return path + suffix;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const void* data, std::size_t size,
                         std::string* error) {
  // Failures name the output, not the temporary file beside it that the
  // caller never asked for.
  std::error_code code;
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (!folder.empty() && !std::filesystem::is_directory(folder, code)) {
    *error = "cannot write " + path + ": the folder " + folder.string() + " does not exist";
    return false;
  }
  if (std::filesystem::is_directory(path, code)) {
    *error = "cannot write " + path + ": it is a folder";
    return false;
  }
  std::string temporary = TemporaryNameBeside(path);
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
  int writeErrno = errno;
  bool flushed = std::fflush(file) == 0;
  bool closed = std::fclose(file) == 0;
  if (!written || !flushed || !closed) {
    *error = "cannot write " + path + " (through " + temporary + "): " +
             std::strerror(writeErrno ? writeErrno : errno);
    std::remove(temporary.c_str());
    return false;
  }
  if (!platform::ReplaceFile(temporary.c_str(), path.c_str())) {
    *error = "cannot replace " + path + " with " + temporary;
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

std::string SerializeListFile(const std::vector<QxListRecord>& records) {
  std::string bytes(4 + records.size() * sizeof(QxListRecord), '\0');
  char* out = &bytes[0];
  base::StoreLe32(out, static_cast<std::uint32_t>(records.size()));
  out += 4;
  for (const QxListRecord& record : records) {
    out[0] = static_cast<char>(record.kind);
    out[1] = static_cast<char>(record.markFlags);
    out[2] = 0;  // reserved
    out[3] = 0;
    base::StoreLe32(out + 4, record.categories);
    std::memcpy(out + 8, record.digest, sizeof record.digest);
    out += sizeof(QxListRecord);
  }
  return bytes;
}

bool WriteListFile(const std::string& path, std::vector<QxListRecord>* records,
                   std::string* error) {
  if (records->size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()) /
                            sizeof(QxListRecord)) {
    *error = "too many records for one list file: " + std::to_string(records->size());
    return false;
  }
  corvane::SortListRecords(records->data(), static_cast<std::int32_t>(records->size()));
  for (std::size_t i = 1; i < records->size(); ++i) {
    if (corvane::CompareListRecords((*records)[i - 1], (*records)[i]) >= 0) {
      *error = "two records share one digest; the loader would refuse the list";
      return false;
    }
  }
  std::string bytes = SerializeListFile(*records);
  return WriteFileAtomically(path, bytes.data(), bytes.size(), error);
}

}  // namespace corvane_tool
