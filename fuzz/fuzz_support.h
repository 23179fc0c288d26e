// fuzz_support.h -- what the fuzz targets share: a byte reader that takes
// the input apart into the pieces a target needs, a small control list, and
// a check that stops the run with a message when an invariant fails.
#ifndef PELLUMIN_FUZZ_FUZZ_SUPPORT_H_
#define PELLUMIN_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

// Reports the failed invariant and aborts: libFuzzer (and the replay
// driver) then keep the input that broke it.
[[noreturn]] void Fail(const char* what, const char* file, int line);
#define FUZZ_CHECK(condition)                                  \
  do {                                                         \
    if (!(condition)) ::fuzz::Fail(#condition, __FILE__, __LINE__); \
  } while (0)

// Takes the input apart from the front: small integers and lines of text.
// Past the end, integers are 0 and texts empty.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return used_ >= size_; }
  std::uint8_t Byte();
  // Text up to the next '\n' (not included) or the end.
  std::string Line();
  // All that is left.
  std::string Rest();

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t used_ = 0;
};

// A list entry for the small lists the targets categorise against.
struct Entry {
  const char* key;  // upper-case key text, digested as it stands
  int category;     // 1 to 27
};
// The small standard list: hosts, paths and domains of a few categories.
const std::vector<Entry>& StandardEntries();
// The bytes of a list file holding entries, in list order.
std::string ListBytes(const std::vector<Entry>& entries);
// A folder of this process's own (in /dev/shm where it exists, else the
// temporary folder), made once and removed at exit; returns path + "/" +
// name.
std::string TempPath(const std::string& name);
// Writes bytes to path whole; aborts when it cannot.
void WriteFile(const std::string& path, const std::string& bytes);
// Writes the plug-in's settings below key (HKEY_LOCAL_MACHINE\key) to a
// REGEDIT4 file and returns its path: the standard list as the control
// list, Sex and Drugs denied, Sex and Chat alerted, logging on.
std::string WriteDenyAlertSettings(const std::string& key);

}  // namespace fuzz

#endif  // PELLUMIN_FUZZ_FUZZ_SUPPORT_H_
