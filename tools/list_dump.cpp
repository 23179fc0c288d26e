#include "list_dump.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ostream>

#include "base/endian.h"
#include "category_names.h"
#include "file_input.h"
#include "list_file.h"
#include "list_key.h"
#include "tool_args.h"

namespace corvane_tool {
namespace {

constexpr std::int64_t kRecordSize = sizeof(QxListRecord);
constexpr std::size_t kMaxProblemsShown = 20;

std::int64_t RecordOffset(std::int64_t index) { return 4 + index * kRecordSize; }

}  // namespace

bool ReadListFileImage(const std::string& path, ListFileImage* image, std::string* error) {
  *image = ListFileImage();
  std::string text;
  if (!ReadWholeFile(path, &text, error)) return false;
  std::vector<unsigned char> bytes(text.begin(), text.end());
  image->fileSize = static_cast<std::int64_t>(bytes.size());
  if (bytes.size() < 4) {
    image->problems.push_back({-1, 0,
                               "the file is " + std::to_string(bytes.size()) +
                                   " bytes long; the record count alone needs 4"});
    return true;
  }
  image->countPresent = true;
  image->declaredCount = static_cast<std::int32_t>(base::LoadLe32(bytes.data()));
  if (image->declaredCount < 0) {
    image->problems.push_back(
        {-1, 0, "the record count is negative (" + std::to_string(image->declaredCount) + ")"});
    return true;
  }
  std::int64_t available = (image->fileSize - 4) / kRecordSize;
  std::int64_t present = std::min<std::int64_t>(available, image->declaredCount);
  if (present < image->declaredCount) {
    std::int64_t missing = present;  // the first record not present in full
    std::int64_t left = image->fileSize - RecordOffset(missing);
    std::string what = left > 0 ? "is cut short (" + std::to_string(left) + " of 24 bytes)"
                                : "is missing";
    image->problems.push_back(
        {missing, RecordOffset(missing),
         "record " + std::to_string(missing) + " at byte offset " +
             std::to_string(RecordOffset(missing)) + " " + what + ": the file has " +
             std::to_string(image->fileSize) + " bytes but declares " +
             std::to_string(image->declaredCount) + " records (" +
             std::to_string(RecordOffset(image->declaredCount)) + " bytes)"});
  } else {
    image->trailingBytes = image->fileSize - RecordOffset(image->declaredCount);
  }
  image->records.resize(static_cast<std::size_t>(present));
  for (std::int64_t i = 0; i < present; ++i) {
    const unsigned char* in = bytes.data() + RecordOffset(i);
    QxListRecord& record = image->records[static_cast<std::size_t>(i)];
    record.kind = in[0];
    record.markFlags = in[1];
    record.reserved[0] = in[2];
    record.reserved[1] = in[3];
    record.categories = base::LoadLe32(in + 4);
    std::memcpy(record.digest, in + 8, sizeof record.digest);
  }
  // The loader wants each digest strictly above the one before it.
  for (std::int64_t i = 1; i < present; ++i) {
    int order = corvane::CompareListRecords(image->records[static_cast<std::size_t>(i - 1)],
                                            image->records[static_cast<std::size_t>(i)]);
    if (order < 0) continue;
    std::string what = order == 0 ? "has the same digest as record " + std::to_string(i - 1)
                                  : "is out of order: its digest is below record " +
                                        std::to_string(i - 1) + "'s";
    image->problems.push_back({i, RecordOffset(i),
                               "record " + std::to_string(i) + " at byte offset " +
                                   std::to_string(RecordOffset(i)) + " " + what});
  }
  return true;
}

std::string FormatListRecord(std::int64_t index, const QxListRecord& record) {
  char head[96];
  std::snprintf(head, sizeof head, "%lld\tkind %u\tmark 0x%02X%s\tcategories 0x%08X ",
                static_cast<long long>(index), static_cast<unsigned>(record.kind),
                static_cast<unsigned>(record.markFlags),
                (record.markFlags & 0x01) ? " approved" : "",
                static_cast<unsigned>(record.categories));
  return head + ("(" + FormatCategoryNames(record.categories) + ")\t" +
                 DigestHex(record.digest));
}

namespace {

const char kDumpUsage[] =
    "usage: corvane dump [--check] LIST.lst\n"
    "\n"
    "Shows a list file as text: a header line with the record count, then one\n"
    "line per record (index, kind, mark flags, categories as numbers and names,\n"
    "digest in hex), and checks the file as the loader would. Exits with 1 and\n"
    "names the first fault when the file is short or cut, declares a negative\n"
    "count, or holds a record out of order or a duplicate digest.\n"
    "\n"
    "  --check   print only the verdict, not the records\n";

}  // namespace

int RunDump(int argc, char** argv, std::ostream& out, std::ostream& err) {
  bool checkOnly = false;
  std::string path;
  ArgReader args(argc, argv);
  while (args.Next()) {
    if (args.IsHelp()) {
      out << kDumpUsage;
      return 0;
    }
    if (args.Is("--check")) {
      checkOnly = true;
    } else if (args.IsOption()) {
      return UsageError(err, "dump", "unknown option " + args.Current(), kDumpUsage);
    } else if (path.empty()) {
      path = args.Current();
    } else {
      return UsageError(err, "dump", "more than one list file", kDumpUsage);
    }
  }
  if (path.empty()) return UsageError(err, "dump", "no list file", kDumpUsage);

  ListFileImage image;
  std::string error;
  if (!ReadListFileImage(path, &image, &error)) {
    err << "corvane dump: " << error << '\n';
    return 1;
  }
  if (image.countPresent) {
    out << "# " << path << ": " << image.declaredCount << " records declared, "
        << image.fileSize << " bytes\n";
  } else {
    out << "# " << path << ": no record count, " << image.fileSize << " bytes\n";
  }
  if (!checkOnly) {
    for (std::size_t i = 0; i < image.records.size(); ++i) {
      out << FormatListRecord(static_cast<std::int64_t>(i), image.records[i]) << '\n';
    }
  }
  if (image.trailingBytes > 0) {
    err << path << ": note: " << image.trailingBytes
        << " bytes after the last record are not read by the loader\n";
  }
  if (image.problems.empty()) {
    out << "# order checked: " << image.records.size() << " records, strictly ascending\n";
    return 0;
  }
  for (std::size_t i = 0; i < image.problems.size() && i < kMaxProblemsShown; ++i) {
    err << path << ": error: " << image.problems[i].message << '\n';
  }
  if (image.problems.size() > kMaxProblemsShown) {
    err << path << ": " << image.problems.size() - kMaxProblemsShown << " more errors\n";
  }
  err << path << ": the loader would refuse this file (first fault: "
      << image.problems[0].message << ")\n";
  return 1;
}

}  // namespace corvane_tool
