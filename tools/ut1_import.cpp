#include "ut1_import.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <ostream>
#include <sstream>

#include "base/ascii.h"
#include "category_names.h"
#include "file_input.h"
#include "list_key.h"
#include "list_writer.h"
#include "tool_args.h"

namespace corvane_tool {
namespace {

namespace fs = std::filesystem;

constexpr long kProgressEvery = 100000;
// The parser keeps 511 characters after "://" and a host of 255.
constexpr std::size_t kMaxUrlEntry = 511;
constexpr std::size_t kMaxHostEntry = QX_HOST_SIZE - 1;

std::string TrimLine(const std::string& line) {
  std::size_t begin = line.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return std::string();
  std::size_t end = line.find_last_not_of(" \t\r\n");
  return line.substr(begin, end - begin + 1);
}

bool IsNumericHost(const std::string& host) {
  return !host.empty() && host.find_first_not_of("0123456789.") == std::string::npos;
}

class Importer {
 public:
  Importer(const ImportOptions& options, std::ostream& diag, ImportResult* result)
      : options_(options), diag_(diag), result_(result) {}

  bool ImportFile(const fs::path& path, bool domains, FolderReport* report, std::string* error) {
    std::ifstream in;
    if (!OpenInputFile(path.string(), &in, error)) return false;
    std::string line;
    long lineNumber = 0;
    while (std::getline(in, line)) {
      ++lineNumber;
      if (options_.progress && ++linesRead_ % kProgressEvery == 0) {
        diag_ << "import: " << linesRead_ << " lines read, " << result_->entries.size()
              << " keys\n";
      }
      const char* dropped = AddEntry(TrimLine(line), domains, report);
      if (dropped != nullptr) NoteDropped(report, dropped, domains, lineNumber, line);
    }
    return CheckReadToEnd(in, path.string(), error);
  }

 private:
  static void NoteDropped(FolderReport* report, const char* reason, bool domains, long lineNumber,
                          const std::string& line) {
    auto kind = std::find_if(report->dropped.begin(), report->dropped.end(),
                             [&](const DroppedLines& d) { return d.reason == reason; });
    if (kind == report->dropped.end()) {
      report->dropped.push_back(DroppedLines());
      kind = report->dropped.end() - 1;
      kind->reason = reason;
    }
    ++kind->count;
    if (kind->examples.size() < DroppedLines::kExamples) {
      std::string text = TrimLine(line);
      if (text.size() > 80) text = text.substr(0, 77) + "...";
      kind->examples.push_back({domains ? "domains" : "urls", lineNumber, text});
    }
  }

  // Takes one line; returns why it was dropped, or null when it was taken
  // (or is blank or a comment).
  const char* AddEntry(std::string entry, bool domain, FolderReport* report) {
    if (entry.empty() || entry[0] == '#') {
      ++report->ignored;
      return nullptr;
    }
    const char* dropped = TidyEntry(&entry, domain, report);
    if (dropped != nullptr) return dropped;
    ListKey key;
    std::string error;
    if (!MakeListKey(entry, KeyForm::kPath, &key, &error)) {
      ++report->invalid;
      return "no host or URL the parser reads";
    }
    CountEntry(entry, key, domain, report);
    StoreEntry(entry, key, report->categories);
    return nullptr;
  }

  // Puts an entry into the form its key is made from: leading dots of a
  // domain and a URL's fragment go; an entry too long for the lookup, one
  // with white space and a domain with a path are refused. Returns why an
  // entry was refused (counted in report), or null.
  const char* TidyEntry(std::string* entry, bool domain, FolderReport* report) {
    if (domain) {
      // ".example.com" is written now and then for "example.com and below".
      std::size_t dots = entry->find_first_not_of('.');
      if (dots == std::string::npos) {
        ++report->invalid;
        return "no host, only dots";
      }
      entry->erase(0, dots);
    }
    if (entry->size() > (domain ? kMaxHostEntry : kMaxUrlEntry)) {
      ++report->overlong;
      return domain ? "a host longer than 255 characters"
                    : "longer than the 511 characters the lookup reads";
    }
    // A host entry holds no path, and no entry holds white space.
    if (entry->find_first_of(" \t") != std::string::npos) {
      ++report->invalid;
      return "white space inside the entry";
    }
    if (domain && entry->find_first_of("/#") != std::string::npos) {
      ++report->invalid;
      return "a path or \"#\" in a domain entry";
    }
    return CutFragment(entry, report);
  }

  // A fragment never reaches a proxy, so the page without it is what the
  // entry names. Where nothing of the path is left the entry would widen to
  // the whole host; it is refused instead (the reason is returned).
  const char* CutFragment(std::string* entry, FolderReport* report) {
    std::size_t fragment = entry->find('#');
    if (fragment == std::string::npos) return nullptr;
    entry->erase(fragment);
    std::size_t slash = entry->find('/');
    if (slash == std::string::npos || entry->find_first_not_of('/', slash) == std::string::npos) {
      ++report->invalid;
      return "no path left once the \"#\" fragment is cut";
    }
    ++result_->fragmentsDropped;
    return nullptr;
  }

  // Counts a taken entry by its kind: a domain entry by whether the lookup
  // covers the hosts below it, a URL entry by whether it lost a query.
  void CountEntry(const std::string& entry, const ListKey& key, bool domain,
                  FolderReport* report) {
    if (!domain) {
      ++report->urls;
      if (key.queryDropped) ++result_->queriesDropped;
      return;
    }
    ++report->domains;
    if (IsNumericHost(key.text)) {
      ++result_->numericHosts;
      ++result_->hostOnly;
      return;
    }
    // The domain key the lookup derives for a host one label below.
    ListKey below;
    std::string error;
    if (MakeListKey("a." + entry, KeyForm::kDomain, &below, &error) && below.text == key.text) {
      ++result_->coveredBelow;
    } else {
      ++result_->hostOnly;
    }
  }

  // Adds the entry's categories to the entry of the same key taken before,
  // or appends it as a new one.
  void StoreEntry(const std::string& entry, const ListKey& key, std::uint32_t categories) {
    std::string digest(reinterpret_cast<const char*>(key.digest), sizeof key.digest);
    auto found = index_.find(digest);
    if (found != index_.end()) {
      result_->entries[found->second].categories |= categories;
      ++result_->merged;
      return;
    }
    index_.emplace(digest, result_->entries.size());
    ImportedEntry imported;
    imported.text = entry;
    imported.categories = categories;
    std::copy(key.digest, key.digest + sizeof key.digest, imported.digest);
    result_->entries.push_back(imported);
  }

  const ImportOptions& options_;
  std::ostream& diag_;
  ImportResult* result_;
  long linesRead_ = 0;
  std::unordered_map<std::string, std::size_t> index_;
};

}  // namespace

FolderMap DefaultFolderMap() {
  // Numbers are the engine's category numbers; see doc/corvane-tool.md for
  // the reasons behind each choice and the folders left out.
  return FolderMap{
      {"adult", CategoryBit(1)},                  // Sex
      {"lingerie", CategoryBit(1)},
      {"mixed_adult", CategoryBit(1)},
      {"drogue", CategoryBit(2)},                 // Drugs
      {"agressif", CategoryBit(3)},               // Hate Speech
      {"hacking", CategoryBit(4)},                // Criminal Skills
      {"warez", CategoryBit(4)},
      {"dangerous_material", CategoryBit(4)},
      {"malware", CategoryBit(4)},
      {"phishing", CategoryBit(4)},
      {"cryptojacking", CategoryBit(4)},
      {"ddos", CategoryBit(4)},
      {"dialer", CategoryBit(4)},
      {"stalkerware", CategoryBit(4)},
      {"publicite", CategoryBit(5)},              // Worthless
      {"marketingware", CategoryBit(5)},
      {"mobile-phone", CategoryBit(5)},
      {"shopping", CategoryBit(6)},               // On-Line Sales/Merchandising
      {"gambling", CategoryBit(7)},               // Gambling
      {"arjel", CategoryBit(7)},
      {"blog", CategoryBit(8)},                   // Personal Pages
      {"jobsearch", CategoryBit(9)},              // Job Search
      {"sports", CategoryBit(10)},                // Sports
      {"games", CategoryBit(11)},                 // Games
      {"fakenews", CategoryBit(13)},              // Alternative Journals
      {"audio-video", CategoryBit(14)},           // Entertainment
      {"celebrity", CategoryBit(14)},
      {"manga", CategoryBit(14)},
      {"radio", CategoryBit(14)},
      {"astrology", CategoryBit(15)},             // Lifestyle
      {"cooking", CategoryBit(15)},
      {"chat", CategoryBit(17)},                  // Chat
      {"social_networks", CategoryBit(17)},
      {"financial", CategoryBit(18)},             // Investing
      {"bank", CategoryBit(18)},
      {"bitcoin", CategoryBit(18)},
      {"press", CategoryBit(19)},                 // General News
      {"associations_religieuses", CategoryBit(20)},  // Opinion, Politics, & Religion
      {"dating", CategoryBit(21)},                // Dating
      {"sect", CategoryBit(23)},                  // Cults
      {"forums", CategoryBit(24)},                // Usenet News
      {"sexual_education", CategoryBit(25)},      // Self Help
      {"download", CategoryBit(27)},              // Non Essential
      {"filehosting", CategoryBit(27)},
      {"webmail", CategoryBit(27)},
  };
}

bool ReadFolderMap(std::istream& in, const std::string& source, FolderMap* map,
                   std::string* error) {
  std::string line;
  long lineNumber = 0;
  while (std::getline(in, line)) {
    ++lineNumber;
    std::string trimmed = TrimLine(line);
    if (trimmed.empty() || trimmed[0] == '#') continue;
    std::string where = source + ":" + std::to_string(lineNumber) + ": ";
    std::size_t tab = trimmed.find('\t');
    if (tab == std::string::npos) {
      *error = where + "expected FOLDER<TAB>CATEGORIES, found no tab";
      return false;
    }
    std::string folder = TrimLine(trimmed.substr(0, tab));
    std::string categories = TrimLine(trimmed.substr(tab + 1));
    if (folder.empty()) {
      *error = where + "no folder name";
      return false;
    }
    std::uint32_t word = 0;
    std::string problem;
    if (categories != "-" && !ParseCategoryList(categories, &word, &problem)) {
      *error = where + problem;
      return false;
    }
    (*map)[folder] = word;
  }
  return true;
}

bool ImportFolders(const std::string& dir, const ImportOptions& options, std::ostream& diag,
                   ImportResult* result, std::string* error) {
  *result = ImportResult();
  std::error_code code;
  std::vector<fs::path> folders;
  for (fs::directory_iterator it(dir, code), end; !code && it != end; it.increment(code)) {
    if (it->is_directory(code)) folders.push_back(it->path());
  }
  if (code) {
    *error = "cannot read the folder " + dir + ": " + code.message();
    return false;
  }
  std::sort(folders.begin(), folders.end());
  for (const std::string& wanted : options.only) {
    if (std::none_of(folders.begin(), folders.end(),
                     [&](const fs::path& p) { return p.filename().string() == wanted; })) {
      diag << dir << ": warning: no folder " << wanted << '\n';
    }
  }
  Importer importer(options, diag, result);
  long listFolders = 0;
  for (const fs::path& folder : folders) {
    std::string name = folder.filename().string();
    if (!options.only.empty() &&
        std::find(options.only.begin(), options.only.end(), name) == options.only.end()) {
      continue;
    }
    fs::path domains = folder / "domains";
    fs::path urls = folder / "urls";
    bool hasDomains = fs::is_regular_file(domains, code);
    bool hasUrls = fs::is_regular_file(urls, code);
    if (!hasDomains && !hasUrls) continue;  // not a list folder
    ++listFolders;
    auto mapped = options.map.find(name);
    if (mapped == options.map.end() || mapped->second == 0) {
      if (mapped == options.map.end()) result->unmapped.push_back(name);
      continue;
    }
    FolderReport report;
    report.folder = name;
    report.categories = mapped->second;
    if ((hasDomains && !importer.ImportFile(domains, true, &report, error)) ||
        (hasUrls && !importer.ImportFile(urls, false, &report, error))) {
      return false;
    }
    result->folders.push_back(report);
  }
  if (listFolders == 0) {
    bool isCategory = fs::is_regular_file(fs::path(dir) / "domains", code) ||
                      fs::is_regular_file(fs::path(dir) / "urls", code);
    *error = dir + " holds no category folder (FOLDER/domains or FOLDER/urls)" +
             (isCategory ? "; it is a category folder itself: give the folder that holds it"
                         : "");
    if (!options.only.empty()) *error += " among the folders given with --only";
    return false;
  }
  if (result->folders.empty()) {
    *error = "none of the " + std::to_string(listFolders) + " category folders in " + dir +
             " is mapped to a category; nothing to import";
    return false;
  }
  return true;
}

std::string ImportAsText(const ImportResult& result, const std::string& sourceName) {
  std::ostringstream text;
  text << "# Imported from " << sourceName << " by corvane import: " << result.entries.size()
       << " keys.\n# CATEGORIES<TAB>HOST or HOST/PATH; compile with: corvane compile FILE -o "
          "LIST.lst\n";
  for (const ImportedEntry& entry : result.entries) {
    text << FormatCategoryNumbers(entry.categories) << '\t';
    // Keep a host that happens to look like a prefix of the text form a host.
    if (base::StartsWithAsciiNoCase(entry.text, "domain:") ||
        base::StartsWithAsciiNoCase(entry.text, "personal:")) {
      text << "http://";
    }
    text << entry.text << '\n';
  }
  return text.str();
}

std::vector<QxListRecord> ImportAsRecords(const ImportResult& result) {
  std::vector<QxListRecord> records(result.entries.size());
  for (std::size_t i = 0; i < result.entries.size(); ++i) {
    records[i] = QxListRecord();
    records[i].categories = result.entries[i].categories;
    std::copy(result.entries[i].digest, result.entries[i].digest + 16, records[i].digest);
  }
  return records;
}

namespace {

const char kImportUsage[] =
    "usage: corvane import UT1_DIR [-o OUT.txt | -o OUT.lst] [--map MAP] [--only F,...]\n"
    "                      [--progress]\n"
    "\n"
    "Imports lists kept one category to a folder (UT1_DIR/FOLDER/domains holds host\n"
    "names, UT1_DIR/FOLDER/urls host/path prefixes without a scheme). Each folder\n"
    "is mapped to categories by a built-in table (see doc/corvane-tool.md); folders\n"
    "without a mapping are reported and skipped. An entry found in several folders\n"
    "gets all their categories. Writes a text list ready for \"corvane compile\", or\n"
    "a list file directly when OUT ends in \".lst\"; standard output without -o.\n"
    "The report names, per folder, the lines dropped by reason, with the first\n"
    "few and their line numbers. A UT1_DIR without any category folder (a\n"
    "category folder itself, say) is refused with exit code 1.\n"
    "\n"
    "  -o FILE      the output, replaced atomically\n"
    "  --map FILE   FOLDER<TAB>CATEGORIES lines over the built-in table (\"-\" leaves\n"
    "               a folder out)\n"
    "  --only LIST  import only these folders (names joined by \",\")\n"
    "  --progress   report every 100,000 lines on standard error\n";

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         base::EqualsAsciiNoCase(text.substr(text.size() - suffix.size()), suffix);
}

void PrintReport(const ImportResult& result, std::ostream& report) {
  for (const FolderReport& folder : result.folders) {
    report << "  " << folder.folder << " -> " << FormatCategoryNames(folder.categories) << ": "
           << folder.domains << " domains, " << folder.urls << " urls";
    long dropped = folder.invalid + folder.overlong;
    if (dropped > 0) report << ", " << dropped << (dropped == 1 ? " line" : " lines") << " dropped";
    if (folder.ignored > 0) report << ", " << folder.ignored << " blank or comment lines";
    report << '\n';
    for (const DroppedLines& kind : folder.dropped) {
      report << "    dropped " << kind.count << (kind.count == 1 ? " line: " : " lines: ")
             << kind.reason << ", e.g.";
      for (std::size_t i = 0; i < kind.examples.size(); ++i) {
        const DroppedLines::Example& e = kind.examples[i];
        report << (i == 0 ? " " : ", ") << e.file << ':' << e.line << " \"" << e.text << '"';
      }
      report << '\n';
    }
  }
  for (const std::string& folder : result.unmapped) {
    report << "  " << folder << ": no mapping, skipped\n";
  }
  long perCategory[QX_CATEGORY_COUNT + 1] = {};
  for (const ImportedEntry& entry : result.entries) {
    for (int n = 1; n <= QX_CATEGORY_COUNT; ++n) {
      if (entry.categories & CategoryBit(n)) ++perCategory[n];
    }
  }
  report << "keys per category:\n";
  for (int n = 1; n <= QX_CATEGORY_COUNT; ++n) {
    if (perCategory[n] > 0) {
      report << "  " << n << " " << CategoryName(n) << ": " << perCategory[n] << '\n';
    }
  }
  report << result.entries.size() << " keys; " << result.merged
         << " entries merged into a key given before; URL entries whose query was dropped: "
         << result.queriesDropped << ", whose fragment was dropped: " << result.fragmentsDropped
         << '\n';
  // What a domain entry covers below itself depends on the lookup: its key
  // is the usual domain key of the hosts below only for some entries; the
  // parent-domain lookup finds it for every named host below.
  report << "domain entries covering the hosts below them: " << result.coveredBelow
         << " for every lookup (their key is those hosts' domain key), "
         << result.hostOnly - result.numericHosts
         << " more with the parent-domain lookup (on in the filter plug-in, corvane lookup and "
            "corvane check; without it they cover only themselves); "
         << result.numericHosts << " numeric addresses cover only themselves\n";
}

}  // namespace

int RunImport(int argc, char** argv, std::ostream& out, std::ostream& err) {
  ImportOptions options;
  std::string dir;
  std::string output;
  std::string mapPath;
  std::string only;
  ArgReader args(argc, argv);
  while (args.Next()) {
    if (args.IsHelp()) {
      out << kImportUsage;
      return 0;
    }
    if (args.Is("--progress")) {
      options.progress = true;
    } else if (args.IsWithValue("-o", "--output", &output) ||
               args.IsWithValue(nullptr, "--map", &mapPath) ||
               args.IsWithValue(nullptr, "--only", &only)) {
    } else if (args.IsOption()) {
      return UsageError(err, "import", "unknown option " + args.Current(), kImportUsage);
    } else if (dir.empty()) {
      dir = args.Current();
    } else {
      return UsageError(err, "import", "more than one folder", kImportUsage);
    }
  }
  if (!args.Problem().empty()) return UsageError(err, "import", args.Problem(), kImportUsage);
  if (dir.empty()) return UsageError(err, "import", "no folder to import", kImportUsage);
  if (!mapPath.empty()) {
    std::ifstream map;
    std::string error;
    if (!OpenInputFile(mapPath, &map, &error) ||
        !ReadFolderMap(map, mapPath, &options.map, &error) ||
        !CheckReadToEnd(map, mapPath, &error)) {
      err << "corvane import: --map: " << error << '\n';
      return 1;
    }
  }
  std::stringstream onlyList(only);
  for (std::string name; std::getline(onlyList, name, ',');) {
    name = TrimLine(name);
    if (!name.empty()) options.only.push_back(name);
  }

  ImportResult result;
  std::string error;
  if (!ImportFolders(dir, options, err, &result, &error)) {
    err << "corvane import: " << error << '\n';
    return 1;
  }
  std::ostream& report = output.empty() ? err : out;
  bool written;
  if (output.empty()) {
    out << ImportAsText(result, dir);
    written = static_cast<bool>(out);
    if (!written) error = "cannot write standard output";
  } else if (EndsWithNoCase(output, ".lst")) {
    std::vector<QxListRecord> records = ImportAsRecords(result);
    written = WriteListFile(output, &records, &error);
  } else {
    std::string text = ImportAsText(result, dir);
    written = WriteFileAtomically(output, text.data(), text.size(), &error);
  }
  if (!written) {
    err << "corvane import: " << error << '\n';
    return 1;
  }
  report << "imported " << dir << (output.empty() ? "" : " into " + output) << ":\n";
  PrintReport(result, report);
  return 0;
}

}  // namespace corvane_tool
