// fuzz_support.cpp -- the byte reader, the standard list, temporary files.
#include "fuzz_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "testing/list_builder.h"

namespace fuzz {

void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant failed: %s\n", file, line, what);
  std::abort();
}

std::uint8_t Reader::Byte() { return used_ < size_ ? data_[used_++] : 0; }

std::string Reader::Line() {
  std::string out;
  while (used_ < size_) {
    char c = static_cast<char>(data_[used_++]);
    if (c == '\n') break;
    out.push_back(c);
  }
  return out;
}

std::string Reader::Rest() {
  std::string out(reinterpret_cast<const char*>(data_) + std::min(used_, size_),
                  size_ - std::min(used_, size_));
  used_ = size_;
  return out;
}

const std::vector<Entry>& StandardEntries() {
  static const std::vector<Entry> entries = {
      {"BOTH.EXAMPLE", 1},          {"DENYONLY.EXAMPLE", 2},
      {"ALERTONLY.EXAMPLE", 17},    {"NEITHER.EXAMPLE", 10},
      {"NEWS.EXAMPLE/SPORTS", 10},  {"NEWS.EXAMPLE/SPORTS/BOXING", 6},
      {"EXAMPLE.COM", 3},           {"WWW.EXAMPLE.ORG/~ALICE", 12},
      {"192.168.1.7", 5},           {"SEARCH.EXAMPLE/FIND", 21},
  };
  return entries;
}

std::string ListBytes(const std::vector<Entry>& entries) {
  std::vector<QxListRecord> records;
  for (const Entry& e : entries) {
    records.push_back(corvane::testkit::RawKeyRecord(
        e.key, corvane::testkit::Categories({e.category})));
  }
  std::sort(records.begin(), records.end(), [](const QxListRecord& a, const QxListRecord& b) {
    return std::memcmp(a.digest, b.digest, sizeof a.digest) < 0;
  });
  return corvane::testkit::ListFileBytes(records);
}

namespace {
std::string& Folder() {
  static std::string folder;
  return folder;
}
void RemoveFolder() {
  std::error_code error;
  if (!Folder().empty()) std::filesystem::remove_all(Folder(), error);
}
}  // namespace

std::string TempPath(const std::string& name) {
  if (Folder().empty()) {
    // In memory where there is such a folder: a list target rewrites its
    // file for every input, and ext4 flushes a file rewritten after a
    // truncation to disk each time.
    std::error_code error;
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", error)
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    std::string pattern = (base / "pellumin-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp", __FILE__, __LINE__);
    Folder() = pattern;
    std::atexit(RemoveFolder);
  }
  return Folder() + "/" + name;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) Fail("cannot write a temporary file", __FILE__, __LINE__);
}

std::string WriteDenyAlertSettings(const std::string& key) {
  const std::string list = TempPath("control.lst");
  WriteFile(list, ListBytes(StandardEntries()));
  const std::string settings = TempPath("hklm.reg");
  const std::string main = "[HKEY_LOCAL_MACHINE\\" + key;
  WriteFile(settings, "REGEDIT4\r\n\r\n" + main + "]\r\n\"ControlFile\"=\"" + list +
                          "\"\r\n\"Log\"=dword:00000001\r\n\"Mail\"=dword:00000001\r\n"
                          "\"ErrorMsg\"=\"<BODY>denied</BODY>\"\r\n\r\n" +
                          main + "\\Deny]\r\n\"SexState\"=dword:00000001\r\n"
                          "\"DrugsState\"=dword:00000001\r\n\r\n" +
                          main + "\\Alert]\r\n\"SexState\"=dword:00000001\r\n"
                          "\"ChatState\"=dword:00000001\r\n");
  return settings;
}

}  // namespace fuzz
