#include "text_list.h"

#include <cstring>
#include <fstream>
#include <iostream>
#include <ostream>

#include "base/ascii.h"
#include "category_names.h"
#include "file_input.h"
#include "list_writer.h"
#include "tool_args.h"

namespace corvane_tool {
namespace {

constexpr long kProgressEvery = 100000;
constexpr long kMaxErrorsShown = 100;

std::string Trim(const std::string& text) {
  std::size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return std::string();
  std::size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  while (true) {
    std::size_t tab = line.find('\t', start);
    fields.push_back(Trim(line.substr(start, tab == std::string::npos ? tab : tab - start)));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return fields;
}

bool ParseOption(const std::string& option, TextListEntry* entry, std::string* error) {
  if (option == "approved") {
    entry->markFlags |= 0x01;
    return true;
  }
  if (option.compare(0, 5, "kind=") == 0) {
    std::string digits = option.substr(5);
    bool valid = !digits.empty() && digits.size() <= 3 &&
                 digits.find_first_not_of("0123456789") == std::string::npos;
    if (valid && std::stoi(digits) <= 255) {
      entry->kind = static_cast<std::uint8_t>(std::stoi(digits));
      return true;
    }
    *error = "kind must be a number from 0 to 255: \"" + option + "\"";
    return false;
  }
  *error = "unknown option \"" + option + "\" (expected \"approved\" or \"kind=N\")";
  return false;
}

const char* FormName(KeyForm form) {
  switch (form) {
    case KeyForm::kDomain: return "domain key";
    case KeyForm::kPersonal: return "personal-page key";
    case KeyForm::kPath: break;
  }
  return "path key";
}

}  // namespace

LineKind ParseTextListLine(const std::string& line, bool domainForm, TextListEntry* entry,
                           std::string* error) {
  std::string trimmed = Trim(line);
  if (trimmed.empty() || trimmed[0] == '#') return LineKind::kSkipped;
  std::vector<std::string> fields = SplitTabs(trimmed);
  if (fields.size() < 2) {
    *error = "expected CATEGORIES<TAB>KEY, found no tab";
    return LineKind::kError;
  }
  *entry = TextListEntry();
  std::string categoryError;
  if (!ParseCategoryList(fields[0], &entry->categories, &categoryError)) {
    *error = categoryError;
    return LineKind::kError;
  }
  std::string keyText = fields[1];
  entry->form = domainForm ? KeyForm::kDomain : KeyForm::kPath;
  if (base::StartsWithAsciiNoCase(keyText, "domain:")) {
    entry->form = KeyForm::kDomain;
    keyText = Trim(keyText.substr(7));
  } else if (base::StartsWithAsciiNoCase(keyText, "personal:")) {
    entry->form = KeyForm::kPersonal;
    keyText = Trim(keyText.substr(9));
  }
  if (!MakeListKey(keyText, entry->form, &entry->key, error)) return LineKind::kError;
  for (std::size_t i = 2; i < fields.size(); ++i) {
    if (fields[i].empty()) continue;
    if (!ParseOption(fields[i], entry, error)) return LineKind::kError;
  }
  return LineKind::kEntry;
}

std::size_t ListCompiler::DigestHash::operator()(const std::string& digest) const {
  // MD4 output is already uniform; its first bytes make a good hash.
  std::size_t hash = 0;
  std::memcpy(&hash, digest.data(), sizeof hash < digest.size() ? sizeof hash : digest.size());
  return hash;
}

ListCompiler::ListCompiler(const CompileOptions& options, std::ostream& diagnostics)
    : options_(options), diagnostics_(diagnostics) {}

void ListCompiler::Warn(const std::string& where, const std::string& message) {
  ++warnings_;
  diagnostics_ << where << ": warning: " << message << '\n';
}

void ListCompiler::Fail(const std::string& where, const std::string& message) {
  ++errors_;
  if (errors_ <= kMaxErrorsShown) {
    diagnostics_ << where << ": error: " << message << '\n';
  } else if (errors_ == kMaxErrorsShown + 1) {
    diagnostics_ << "further errors are counted but not shown\n";
  }
}

void ListCompiler::AddLine(const std::string& source, long lineNumber, const std::string& line) {
  ++lines_;
  if (options_.progress && lines_ % kProgressEvery == 0) {
    diagnostics_ << source << ": " << lines_ << " lines read, " << records_.size()
                 << " keys\n";
  }
  std::string where = source + ":" + std::to_string(lineNumber);
  TextListEntry entry;
  std::string error;
  switch (ParseTextListLine(line, options_.domainForm, &entry, &error)) {
    case LineKind::kSkipped:
      ++skipped_;
      return;
    case LineKind::kError:
      Fail(where, error);
      return;
    case LineKind::kEntry:
      break;
  }
  if (entry.key.queryDropped) {
    Warn(where, "the query is not part of any key; the entry covers " + entry.key.text);
  }
  std::string digest(reinterpret_cast<const char*>(entry.key.digest), 16);
  auto found = byDigest_.find(digest);
  if (found == byDigest_.end()) {
    QxListRecord record;
    std::memset(&record, 0, sizeof record);
    record.kind = entry.kind;
    record.markFlags = entry.markFlags;
    record.categories = entry.categories;
    std::memcpy(record.digest, entry.key.digest, sizeof record.digest);
    byDigest_.emplace(digest, records_.size());
    records_.push_back(record);
    origins_.push_back(Origin{source, lineNumber});
    return;
  }
  QxListRecord& record = records_[found->second];
  const Origin& first = origins_[found->second];
  std::string message = std::string("the ") + FormName(entry.form) + " " + entry.key.text +
                        " was already given at " + first.source + ":" +
                        std::to_string(first.line);
  if (options_.strict) {
    Fail(where, message);
    return;
  }
  message += "; categories merged";
  if (record.kind != entry.kind) {
    message += ", kind " + std::to_string(record.kind) + " of the first line kept";
  }
  if ((entry.markFlags & 0x01) != 0 && (record.markFlags & 0x01) == 0) {
    message += ", approved mark added";
  }
  record.categories |= entry.categories;
  record.markFlags |= entry.markFlags;
  Warn(where, message);
}

void ListCompiler::AddStream(const std::string& source, std::istream& in) {
  std::string line;
  long lineNumber = 0;
  while (std::getline(in, line)) AddLine(source, ++lineNumber, line);
}

namespace {

const char kCompileUsage[] =
    "usage: corvane compile [--domain] [--strict] [--progress] INPUT.txt -o OUTPUT.lst\n"
    "\n"
    "Compiles a text list into a list file. One entry a line:\n"
    "  CATEGORIES<TAB>KEY[<TAB>OPTION]...\n"
    "CATEGORIES are numbers 1..27 or category names (any case), joined by \",\",\n"
    "e.g. \"2,7\" or \"Drugs,Gambling\". KEY is a URL (\"http://host/a/b\", \"news:group\"),\n"
    "or \"host/path\" (read as http://host/path): it becomes the URL's full path key.\n"
    "\"domain:HOST\" gives the domain key of HOST, \"personal:URL\" the personal-page\n"
    "key of a URL with a \"~\" segment. OPTION is \"approved\" or \"kind=N\" (0..255).\n"
    "Blank lines and lines starting with \"#\" are skipped. INPUT \"-\" reads\n"
    "standard input.\n"
    "\n"
    "  --domain    read every KEY without a prefix as a domain entry\n"
    "  --strict    refuse duplicate keys (by default their categories are merged\n"
    "              and a warning names both lines)\n"
    "  --progress  report progress every 100,000 lines on standard error\n"
    "  -o FILE     the list file to write; it is replaced only when the whole\n"
    "              input compiled without an error\n";

}  // namespace

int RunCompile(int argc, char** argv, std::ostream& out, std::ostream& err) {
  CompileOptions options;
  std::string input;
  std::string output;
  ArgReader args(argc, argv);
  while (args.Next()) {
    if (args.IsHelp()) {
      out << kCompileUsage;
      return 0;
    }
    if (args.Is("--domain")) {
      options.domainForm = true;
    } else if (args.Is("--strict")) {
      options.strict = true;
    } else if (args.Is("--progress")) {
      options.progress = true;
    } else if (args.IsWithValue("-o", "--output", &output)) {
    } else if (args.IsOption()) {
      return UsageError(err, "compile", "unknown option " + args.Current(), kCompileUsage);
    } else if (input.empty()) {
      input = args.Current();
    } else {
      return UsageError(err, "compile", "more than one input file", kCompileUsage);
    }
  }
  if (!args.Problem().empty()) return UsageError(err, "compile", args.Problem(), kCompileUsage);
  if (input.empty()) return UsageError(err, "compile", "no input file", kCompileUsage);
  if (output.empty()) return UsageError(err, "compile", "no output file (-o)", kCompileUsage);

  ListCompiler compiler(options, err);
  if (input == "-") {
    compiler.AddStream("<stdin>", std::cin);
    std::string error;
    if (!CheckStandardInputRead(std::cin, &error)) {
      err << "corvane compile: " << error << "; " << output << " was not written\n";
      return 1;
    }
  } else {
    std::ifstream file;
    std::string error;
    if (!OpenInputFile(input, &file, &error)) {
      err << "corvane compile: " << error << '\n';
      return 1;
    }
    compiler.AddStream(input, file);
    if (!CheckReadToEnd(file, input, &error)) {
      err << "corvane compile: " << error << '\n';
      return 1;
    }
  }
  if (compiler.errors() > 0) {
    err << "corvane compile: " << compiler.errors() << " error(s) in " << input << "; "
        << output << " was not written\n";
    return 1;
  }
  std::vector<QxListRecord>* records = compiler.mutable_records();
  std::string error;
  if (!WriteListFile(output, records, &error)) {
    err << "corvane compile: " << error << '\n';
    return 1;
  }
  out << "compiled " << output << ": " << records->size() << " records from "
      << compiler.lines() << " lines (" << compiler.skipped() << " blank or comment lines skipped, "
      << compiler.warnings() << " warnings)\n";
  return 0;
}

}  // namespace corvane_tool
