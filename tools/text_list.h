// text_list.h -- the text form of a list and its compiler.
//
// One entry a line: CATEGORIES <TAB> KEY [<TAB> OPTION]...
//   CATEGORIES  numbers 1..27 or category names, joined by ",".
//   KEY         a URL ("scheme://..." or "news:..."), "host/path" (read as
//               http://host/path), or with a prefix "domain:" (the domain
//               key of a host) or "personal:" (the personal-page key of a
//               URL with a "~" segment).
//   OPTION      "approved" (sets the approved mark) or "kind=N" (0..255).
// Blank lines and lines whose first non-blank character is "#" are skipped.
#ifndef PELLUMIN_TOOLS_TEXT_LIST_H_
#define PELLUMIN_TOOLS_TEXT_LIST_H_

#include <cstdint>
#include <iosfwd>
#include <string>
#include <unordered_map>
#include <vector>

#include "corvane.h"
#include "list_key.h"

namespace corvane_tool {

struct TextListEntry {
  std::uint32_t categories = 0;
  KeyForm form = KeyForm::kPath;
  ListKey key;
  std::uint8_t kind = 0;
  std::uint8_t markFlags = 0;
};

enum class LineKind { kEntry, kSkipped, kError };

// Parses one line (a trailing CR is ignored). domainForm reads every key
// without a prefix as a domain entry (the --domain option).
LineKind ParseTextListLine(const std::string& line, bool domainForm, TextListEntry* entry,
                           std::string* error);

struct CompileOptions {
  bool domainForm = false;  // every key is a domain entry
  bool strict = false;      // a duplicate key is an error, not a warning
  bool progress = false;    // report every 100,000 lines on standard error
};

// Gathers entries line by line, merging duplicate keys. Diagnostics go to
// the given stream as "SOURCE:LINE: error: ..." or "...: warning: ...".
class ListCompiler {
 public:
  ListCompiler(const CompileOptions& options, std::ostream& diagnostics);

  void AddLine(const std::string& source, long lineNumber, const std::string& line);
  // Reads a whole stream, line by line.
  void AddStream(const std::string& source, std::istream& in);

  long lines() const { return lines_; }
  long skipped() const { return skipped_; }
  long errors() const { return errors_; }
  long warnings() const { return warnings_; }
  const std::vector<QxListRecord>& records() const { return records_; }
  std::vector<QxListRecord>* mutable_records() { return &records_; }

 private:
  struct DigestHash {
    std::size_t operator()(const std::string& digest) const;
  };
  struct Origin {
    std::string source;
    long line;
  };

  void Warn(const std::string& where, const std::string& message);
  void Fail(const std::string& where, const std::string& message);

  CompileOptions options_;
  std::ostream& diagnostics_;
  long lines_ = 0;
  long skipped_ = 0;
  long errors_ = 0;
  long warnings_ = 0;
  std::vector<QxListRecord> records_;
  std::vector<Origin> origins_;  // where each record was first given
  std::unordered_map<std::string, std::size_t, DigestHash> byDigest_;
};

// Runs "corvane compile".
int RunCompile(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace corvane_tool

#endif  // PELLUMIN_TOOLS_TEXT_LIST_H_
