#include "lookup.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <ostream>

#include <memory>

#include "category_names.h"
#include "file_input.h"
#include "key_plan.h"
#include "list_index.h"
#include "list_key.h"
#include "tool_args.h"
#include "url_key.h"

namespace corvane_tool {
namespace {

std::string Hex32(std::uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(value));
  return buffer;
}

std::string DescribeRecord(const QxListRecord& record) {
  char mark[32];
  std::snprintf(mark, sizeof mark, "mark 0x%02X%s", static_cast<unsigned>(record.markFlags),
                (record.markFlags & 0x01) ? " (approved)" : "");
  return "categories " + Hex32(record.categories) + " (" +
         FormatCategoryNames(record.categories) + "), kind " + std::to_string(record.kind) +
         ", " + mark;
}

std::string StepName(const KeyAttempt& attempt) {
  switch (attempt.step) {
    case KeyStep::kPath: return "path " + std::to_string(attempt.level);
    case KeyStep::kDomain: return "domain";
    case KeyStep::kPersonal: return "personal";
    case KeyStep::kParent: return "parent";
    case KeyStep::kStrippedPath: return "no-www path " + std::to_string(attempt.level);
  }
  return "?";
}

void PrintAttempts(const std::vector<KeyAttempt>& attempts, const KeyAttempt** match,
                   std::ostream& out) {
  for (const KeyAttempt& attempt : attempts) {
    out << "    " << StepName(attempt) << "\t" << attempt.text;
    if (attempt.length > attempt.text.size()) {
      out << " (cut; " << attempt.length << " characters)";
    }
    out << "\t" << DigestHex(attempt.digest) << "\t";
    if (attempt.found) {
      out << "MATCH " << DescribeRecord(attempt.record) << '\n';
      *match = &attempt;
    } else if (attempt.repeated) {
      out << "- (tried above)\n";
    } else {
      out << "-\n";
    }
  }
}

// Prints one list's trace; returns the matching attempt or null.
const KeyAttempt* PrintListTrace(const char* what, const std::string& name, const QxUrl& url,
                                 const QxListRecord* records, std::int32_t count,
                                 std::vector<KeyAttempt>* attempts, std::ostream& out) {
  if (name.empty()) {
    out << "  " << what << ": none loaded\n";
    return nullptr;
  }
  out << "  " << what << " " << name << " (" << count << " records)";
  if (count <= 0) {
    out << ": empty, not searched\n";
    return nullptr;
  }
  out << ":\n";
  *attempts = TraceListSearch(url, records, count);
  const KeyAttempt* match = nullptr;
  PrintAttempts(*attempts, &match, out);
  return match;
}

// Prints one list's keys of one step of the parent-domain lookup, when the
// step has any; returns the matching attempt or null.
const KeyAttempt* PrintParentTrace(const char* what, const std::string& name, const QxUrl& url,
                                   const QxListRecord* records, std::int32_t count, KeyStep step,
                                   std::vector<KeyAttempt>* attempts, std::ostream& out) {
  if (name.empty() || count <= 0) return nullptr;
  *attempts = TraceParentDomainSearch(url, records, count, step);
  if (attempts->empty()) return nullptr;
  out << "  " << what << " " << name << ", "
      << (step == KeyStep::kParent ? "parent domains" : "host without \"WWW.\"") << ":\n";
  const KeyAttempt* match = nullptr;
  PrintAttempts(*attempts, &match, out);
  return match;
}

void SearchAttempt(const std::uint8_t* digest, const QxListRecord* records, std::int32_t count,
                   KeyAttempt* attempt) {
  std::memcpy(attempt->digest, digest, sizeof attempt->digest);
  const QxListRecord* match =
      corvane::FindInList(corvane::ViewOf(records, count, nullptr), attempt->digest);
  if (match != nullptr) {
    attempt->found = true;
    attempt->record = *match;
  }
}

}  // namespace

std::vector<KeyAttempt> TraceListSearch(const QxUrl& parsed, const QxListRecord* records,
                                        std::int32_t count) {
  std::vector<KeyAttempt> attempts;
  if (count <= 0) return attempts;
  QxUrl url = parsed;
  char keyText[QX_KEY_TEXT_SIZE];
  // The lookup searches a key that an earlier step spelled already (the
  // personal key of a path without "~" is the full path key; an address
  // without a dot is its own domain key) only once.
  auto tried = [&attempts](const KeyAttempt& attempt) {
    for (const KeyAttempt& before : attempts) {
      if (before.length == attempt.length && before.text == attempt.text &&
          std::memcmp(before.digest, attempt.digest, sizeof attempt.digest) == 0) {
        return true;
      }
    }
    return false;
  };
  auto add = [&](KeyAttempt attempt) {
    std::memcpy(attempt.digest, url.digest, sizeof attempt.digest);
    attempt.repeated = tried(attempt);
    if (!attempt.repeated) SearchAttempt(url.digest, records, count, &attempt);
    attempts.push_back(attempt);
    return attempt.found;
  };
  for (int n = url.segmentCount; n >= 0; --n) {
    KeyAttempt attempt;
    attempt.step = KeyStep::kPath;
    attempt.level = n;
    attempt.length = corvane::BuildPathKey(&url, n, false, keyText);
    attempt.text = keyText;
    if (add(attempt)) return attempts;
  }
  if (corvane::BuildDomainKey(&url, keyText)) {
    KeyAttempt attempt;
    attempt.step = KeyStep::kDomain;
    attempt.text = keyText;
    attempt.length = attempt.text.size();
    if (add(attempt)) return attempts;
  }
  KeyAttempt attempt;
  attempt.step = KeyStep::kPersonal;
  attempt.level = QX_MAX_SEGMENTS;
  attempt.length = corvane::BuildPathKey(&url, QX_MAX_SEGMENTS, true, keyText);
  attempt.text = keyText;
  add(attempt);
  return attempts;
}

std::vector<KeyAttempt> TraceParentDomainSearch(const QxUrl& url, const QxListRecord* records,
                                                std::int32_t count, KeyStep step) {
  std::vector<KeyAttempt> attempts;
  if (count <= 0) return attempts;
  auto plan = std::make_unique<corvane::KeyPlan>();
  corvane::StartKeyPlan(&url, plan.get());
  corvane::PlanPartKeys(&url, plan.get());
  const int parentsFrom = plan->count;
  corvane::PlanParentDomainKeys(plan.get());
  const int strippedFrom = plan->count;
  corvane::PlanStrippedHostKeys(plan.get());
  const int from = step == KeyStep::kParent ? parentsFrom : strippedFrom;
  const int to = step == KeyStep::kParent ? strippedFrom : plan->count;
  char keyText[QX_KEY_TEXT_SIZE];
  for (int k = from; k < to; ++k) {
    const corvane::PlannedKey& key = plan->keys[k];
    KeyAttempt attempt;
    attempt.step = step;
    attempt.level = key.level < 0 ? 0 : key.level;
    corvane::CopyPlannedKeyText(*plan, key, keyText);
    attempt.text = keyText;
    attempt.length = key.length;
    SearchAttempt(plan->digests[k], records, count, &attempt);
    attempts.push_back(attempt);
    if (attempt.found) break;
  }
  return attempts;
}

std::string DescribeControls(std::uint32_t controls) {
  static const struct {
    std::uint32_t bit;
    const char* name;
  } kControls[] = {
      {QX_CONTROL_BIT(QX_CONTROL_APPROVED), "approved (control 1)"},
      {QX_CONTROL_BIT(QX_CONTROL_NUMERIC_HOST), "numeric host (control 3)"},
      {QX_CONTROL_BIT(QX_CONTROL_PERSONAL_PAGE), "personal page (control 4)"},
      {QX_CONTROL_BIT(QX_CONTROL_SITE_LIST), "site list (control 9)"},
      {QX_CONTROL_QUERY, "query"},
  };
  std::string out;
  std::uint32_t described = 0;
  for (const auto& control : kControls) {
    if ((controls & control.bit) == 0) continue;
    described |= control.bit;
    if (!out.empty()) out += ", ";
    out += control.name;
  }
  if ((controls & ~described) != 0) {
    if (!out.empty()) out += ", ";
    out += "other " + Hex32(controls & ~described);
  }
  return out.empty() ? "none" : out;
}

int PrintLookup(QxService* service, const std::string& siteName,
                const std::string& controlName, const std::string& text, std::ostream& out,
                bool parentDomains) {
  out << "url " << text << '\n';
  QxUrl url;
  std::memset(&url, 0, sizeof url);
  bool parsed = qxprsurl(&url, text.c_str()) == 1;
  const KeyAttempt* match = nullptr;
  bool fromSite = false;
  std::vector<KeyAttempt> siteAttempts;
  std::vector<KeyAttempt> controlAttempts;
  std::vector<KeyAttempt> extraAttempts[4];  // site, control; per parent-domain step
  if (!parsed) {
    out << "  not a URL: neither \"scheme://host...\" nor \"news:group\"\n";
  } else {
    out << "  parsed: host " << url.host << ", " << url.segmentCount << " segment(s)";
    for (int i = 0; i < url.segmentCount; ++i) out << (i == 0 ? " (" : ", ") << url.segments[i];
    out << (url.segmentCount > 0 ? ")" : "");
    char flags[8];
    std::snprintf(flags, sizeof flags, "0x%02X", static_cast<unsigned>(url.flags));
    out << ", flags " << flags << '\n';
    match = PrintListTrace("site list", siteName, url, service->siteRecords, service->siteCount,
                           &siteAttempts, out);
    fromSite = match != nullptr;
    if (match == nullptr) {
      match = PrintListTrace("control list", controlName, url, service->controlRecords,
                             service->controlCount, &controlAttempts, out);
    }
    // The parent-domain lookup: each step in the site list, then in the
    // control list, only when nothing was found before.
    int used = 0;
    for (KeyStep step : {KeyStep::kParent, KeyStep::kStrippedPath}) {
      if (!parentDomains || match != nullptr) break;
      match = PrintParentTrace("site list", siteName, url, service->siteRecords,
                               service->siteCount, step, &extraAttempts[used++], out);
      fromSite = match != nullptr;
      if (match != nullptr) break;
      match = PrintParentTrace("control list", controlName, url, service->controlRecords,
                               service->controlCount, step, &extraAttempts[used++], out);
    }
  }

  QxTypes* result = QX_AllocateTypes();
  if (result == nullptr) {
    out << "  out of memory\n";
    return QX_ERR_NO_MEMORY;
  }
  char keyText[QX_KEY_TEXT_SIZE];
  int code = QX_CategorizeUrl(service, text.c_str(), result, keyText, QX_KEY_TEXT_SIZE - 1);
  out << "  result " << code << " " << QX_ResultName(code);
  if (code == QX_CATEGORIZED || code == QX_CATEGORIZED_TRUNCATED) {
    keyText[QX_KEY_TEXT_SIZE - 1] = '\0';
    out << " (" << (fromSite ? "site list" : "control list") << "), key " << keyText;
  }
  out << "\n  categories " << Hex32(result->categories) << " ("
      << FormatCategoryNames(result->categories) << ")\n  controls " << Hex32(result->controls)
      << " (" << DescribeControls(result->controls) << ")\n";
  // The trace rebuilds the lookup step by step; say so if it ever parts from
  // the engine's own verdict.
  bool agree;
  if (code == QX_CATEGORIZED || code == QX_CATEGORIZED_TRUNCATED) {
    agree = match != nullptr && match->record.categories == result->categories;
  } else if (code == QX_UNCATEGORIZED) {
    agree = parsed && match == nullptr;
  } else {
    agree = !parsed || code == QX_ERR_RESOLVE;
  }
  if (!agree) out << "  warning: the key trace above and the engine's verdict disagree\n";
  QX_FreeTypes(result);
  return code;
}

namespace {

const char kLookupUsage[] =
    "usage: corvane lookup [--site SITE.lst] [--no-parent-domains] CONTROL.lst [URL...]\n"
    "\n"
    "Categorises each URL (or, with none given, each line of standard input)\n"
    "the way the filter does: the site list first, then the control list. Shows\n"
    "the parsed URL, every key tried in order (path keys from the most to the\n"
    "least specific, the domain key, the personal-page key) with its digest,\n"
    "what matched (categories, kind, mark), and the engine's result with the\n"
    "result set's categories and controls. Host names are not resolved.\n"
    "\n"
    "As the filter plug-in does, the lookup goes on when none of those keys is\n"
    "found: it tries each parent domain of the host (longest first, down to two\n"
    "labels), then for a host beginning with \"www.\" the path keys of the host\n"
    "without it, each step in the site list and then in the control list, and\n"
    "shows those keys too. So a listed domain covers every host below it.\n"
    "\n"
    "Exits with 1 when a list cannot be loaded or a URL cannot be parsed.\n"
    "\n"
    "  --site FILE            also load FILE as the site list\n"
    "  --no-parent-domains    only the keys every caller of the engine gets: no\n"
    "                         parent domains, no \"www.\" dropped\n";

int LoadFailure(std::ostream& err, const char* what, const std::string& path, int code) {
  err << "corvane lookup: cannot load " << what << " " << path << ": " << code << " "
      << QX_ResultName(code) << '\n';
  return 1;
}

}  // namespace

int RunLookup(int argc, char** argv, std::ostream& out, std::ostream& err) {
  std::string sitePath;
  std::string controlPath;
  std::vector<std::string> urls;
  bool parentDomains = true;
  ArgReader args(argc, argv);
  while (args.Next()) {
    if (args.IsHelp()) {
      out << kLookupUsage;
      return 0;
    }
    if (args.Is("--no-parent-domains")) {
      parentDomains = false;
    } else if (args.IsWithValue(nullptr, "--site", &sitePath)) {
    } else if (args.IsOption()) {
      return UsageError(err, "lookup", "unknown option " + args.Current(), kLookupUsage);
    } else if (controlPath.empty()) {
      controlPath = args.Current();
    } else {
      urls.push_back(args.Current());
    }
  }
  if (!args.Problem().empty()) return UsageError(err, "lookup", args.Problem(), kLookupUsage);
  if (controlPath.empty()) return UsageError(err, "lookup", "no control list", kLookupUsage);

  QxService* service = QX_Init();
  if (service == nullptr) {
    err << "corvane lookup: out of memory\n";
    return 1;
  }
  // The engine reports an unopenable file on standard output; keep that
  // apart from the trace by flushing first.
  out.flush();
  int code = QX_LoadControlList(service, nullptr, controlPath.c_str());
  if (code != QX_OK) {
    QX_FreeService(service);
    return LoadFailure(err, "the control list", controlPath, code);
  }
  if (!sitePath.empty()) {
    code = QX_LoadSiteList(service, sitePath.c_str());
    if (code != QX_OK) {
      QX_FreeService(service);
      return LoadFailure(err, "the site list", sitePath, code);
    }
  }
  QX_SetParentDomainOption(service, parentDomains ? 1 : 0);
  bool allParsed = true;
  auto lookUp = [&](const std::string& url) {
    if (PrintLookup(service, sitePath, controlPath, url, out, parentDomains) == QX_ERR_BAD_URL) {
      allParsed = false;
    }
  };
  if (!urls.empty()) {
    for (const std::string& url : urls) lookUp(url);
  } else {
    std::string line;
    while (std::getline(std::cin, line)) {
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
      if (!line.empty()) lookUp(line);
    }
    std::string error;
    if (!CheckStandardInputRead(std::cin, &error)) {
      err << "corvane lookup: " << error << '\n';
      allParsed = false;
    }
  }
  QX_FreeService(service);
  return allParsed ? 0 : 1;
}

}  // namespace corvane_tool
