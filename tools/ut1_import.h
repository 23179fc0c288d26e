// ut1_import.h -- importing lists kept one category to a folder, each folder
// holding "domains" (host names) and/or "urls" (host/path prefixes without a
// scheme), as the UT1 lists are.
//
// A domain entry D is meant to cover D and every host below it. It becomes
// one record, the key "D" (upper-case): that is D's bare path key, so D
// itself is always covered, and it is also the domain key that the lookup
// derives for every host below D exactly when D has two labels and a
// three-character last label (example.com) or three labels and any other
// last label (example.co.uk). For other entries (example.fr,
// www.example.com) the hosts below are found only by the parent-domain
// lookup (QX_SetParentDomainOption, which the plug-in turns on); an address
// (192.0.2.1) covers only itself. Adding the entry's own domain key would
// wrongly cover its parent's other hosts.
// A URL entry "host/path" becomes its full path key, which covers the path
// and everything below it. A "#fragment" is cut off (no client sends one);
// an entry that would be left with no path is refused rather than widened
// to the whole host.
#ifndef PELLUMIN_TOOLS_UT1_IMPORT_H_
#define PELLUMIN_TOOLS_UT1_IMPORT_H_

#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "corvane.h"

namespace corvane_tool {

// Folder name to category word; a word of 0 means "not imported".
using FolderMap = std::map<std::string, std::uint32_t>;

// The built-in mapping of the UT1 folder names.
FolderMap DefaultFolderMap();

// Reads "folder<TAB>categories" lines (categories as in a text list, or "-"
// to leave a folder out) over *map. Blank lines and "#" lines are skipped.
bool ReadFolderMap(std::istream& in, const std::string& source, FolderMap* map,
                   std::string* error);

// Lines of one folder dropped for one reason, with the first few of them.
struct DroppedLines {
  static constexpr std::size_t kExamples = 3;
  std::string reason;  // "white space inside the entry"
  long count = 0;
  struct Example {
    std::string file;  // "domains" or "urls"
    long line = 0;     // from 1
    std::string text;  // the line as read, cut to 80 characters
  };
  std::vector<Example> examples;  // at most kExamples
};

struct FolderReport {
  std::string folder;
  std::uint32_t categories = 0;
  long domains = 0;       // domain entries taken
  long urls = 0;          // URL entries taken
  long ignored = 0;       // blank and comment lines
  long invalid = 0;       // lines that are no host or URL
  long overlong = 0;      // lines too long for the lookup's buffers
  std::vector<DroppedLines> dropped;  // invalid and over-long lines by reason, in first-seen order
};

struct ImportedEntry {
  std::string text;              // the entry as written (trimmed), "host" or "host/path"
  std::uint32_t categories = 0;
  std::uint8_t digest[16] = {};
};

struct ImportOptions {
  FolderMap map = DefaultFolderMap();
  std::vector<std::string> only;  // import just these folders (all when empty)
  bool progress = false;          // report every 100,000 lines on standard error
};

struct ImportResult {
  std::vector<ImportedEntry> entries;     // one per key, in first-seen order
  std::vector<FolderReport> folders;      // the folders imported
  std::vector<std::string> unmapped;      // folders with lists but no mapping
  long merged = 0;             // entries whose key was already given
  long coveredBelow = 0;       // domain entries whose key is the domain key of the hosts below
  long hostOnly = 0;           // the others: below them only with the parent-domain lookup
  long numericHosts = 0;       // of those, numeric addresses (never below them)
  long queriesDropped = 0;     // URL entries with a query, which no key holds
  long fragmentsDropped = 0;   // URL entries with a "#" fragment, cut off
};

// Imports the folders below dir. Diagnostics (progress) go to diag.
// Returns false with *error when dir cannot be read, when a list file in it
// cannot be read, or when dir holds no category folder (FOLDER/domains or
// FOLDER/urls) to import: an empty list is never what the caller meant.
bool ImportFolders(const std::string& dir, const ImportOptions& options, std::ostream& diag,
                   ImportResult* result, std::string* error);

// The result as a compile-ready text list.
std::string ImportAsText(const ImportResult& result, const std::string& sourceName);

// The result as list records (not yet sorted).
std::vector<QxListRecord> ImportAsRecords(const ImportResult& result);

// Runs "corvane import".
int RunImport(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace corvane_tool

#endif  // PELLUMIN_TOOLS_UT1_IMPORT_H_
