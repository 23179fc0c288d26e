// "corvane check": builds a service from the command line (lists,
// restriction sets, policy entries, business hours), fixes the clock when
// asked, and prints for each URL its categorisation, the verdict of the
// engine's URL check and the reasons in words.
#include "check_command.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string_view>
#include <vector>

#include "base/args.h"
#include "base/ascii.h"
#include "category_names.h"
#include "file_input.h"
#include "env.h"
#include "lookup.h"
#include "platform.h"
#include "service_env.h"
#include "tool_args.h"

namespace corvane_tool {
namespace {

const char kCheckUsage[] =
    "usage: corvane check [OPTIONS] CONTROL.lst [URL...]\n"
    "\n"
    "Runs the engine's complete URL check on each URL (or, with none given, on\n"
    "each line of standard input) and prints the categorisation (result, categories,\n"
    "controls), the verdict (RESTRICTED, UNRESTRICTED, NOTHING TO CHECK or an\n"
    "error) and the reasons of a restriction. Exits with 0 when every URL was\n"
    "checked, 1 when a list cannot be loaded or a URL cannot be parsed or resolved,\n"
    "2 on bad usage.\n"
    "\n"
    "Lists:\n"
    "  --site FILE             also load FILE as the site list (searched first)\n"
    "  --resolve TRIES         resolve host names, with up to TRIES attempts\n"
    "  --no-parent-domains     find a host by its own keys only; by default, as in\n"
    "                          the filter plug-in, a host that none of them finds is\n"
    "                          looked up by its parent domains (longest first, down\n"
    "                          to two labels), then without a leading \"www.\"\n"
    "\n"
    "Restriction set (the one for business hours, or for all hours without --hours):\n"
    "  --deny LIST             deny categories: names or numbers joined by \",\"\n"
    "                          (\"Gambling,Sex\", \"7,1\"); may be repeated\n"
    "  --control N|NAME        turn on a switch by control number (1..13, 16) or name\n"
    "  --approved-only         only URLs approved in the site list pass (control 1)\n"
    "  --deny-numeric          deny hosts written as numeric addresses (control 3)\n"
    "  --deny-personal         deny personal pages, paths with \"~\" (control 4)\n"
    "  --news-backdoor         apply the news back-door entries (control 5)\n"
    "  --search-words          apply the restricted search words (control 8)\n"
    "  --extensions            apply the restricted file extensions (control 16)\n"
    "The set for the other hours (used only with --hours):\n"
    "  --other-deny LIST       as --deny\n"
    "  --other-control N|NAME  as --control; NAME is one of approved-only,\n"
    "                          deny-numeric, deny-personal, news-backdoor,\n"
    "                          search-words, extensions\n"
    "\n"
    "Policy entries (MODE: always (8, the default), business (7) or off (6)):\n"
    "  --news SITE:PARAM[:MODE]         a news back door: SITE is a host pattern\n"
    "                                   (\"*.example.com\", \"news*.com\", \"*\")\n"
    "  --search-site SITE:PARAM[:MODE]  a search site and its query parameter (\"q=\")\n"
    "  --search-word WORD:LIST[:8]      a restricted search word tied to categories;\n"
    "                                   \":8\" marks it with control 2\n"
    "  --extension EXT[:MODE]           a restricted file extension (\"exe\")\n"
    "\n"
    "Time:\n"
    "  --hours SPEC            business hours, e.g. \"Mon-Fri 09-17\" or\n"
    "                          \"Mon-Fri 08-12,13-17; Sat 09-12\" (end hour not included)\n"
    "  --hours-file FILE       business hours from a file in the same form, one entry\n"
    "                          a line, \"#\" comments\n"
    "  --at WEEKDAY:HOUR       check as if it were that hour (\"Mon:9\", \"0:23\")\n"
    "  --query TEXT            use TEXT as the query of every URL\n";

const char* const kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

struct NamedSwitch {
  const char* option;  // without the leading "--"
  int control;
};
const NamedSwitch kSwitches[] = {
    {"approved-only", QX_CONTROL_APPROVED},     {"deny-numeric", QX_CONTROL_NUMERIC_HOST},
    {"deny-personal", QX_CONTROL_PERSONAL_PAGE}, {"news-backdoor", QX_CONTROL_NEWS_BACK_DOOR},
    {"search-words", QX_CONTROL_SEARCH_WORD},   {"extensions", QX_CONTROL_FILE_EXTENSION},
};

std::string Trim(const std::string& text) { return base::TrimAsciiSpace(text); }
std::vector<std::string> Split(const std::string& text, char separator) {
  return base::SplitAt(text, separator);
}
bool ParseNumber(const std::string& text, int low, int high, int* value) {
  long number = 0;
  if (!base::ParseDecimalInRange(text, low, high, &number)) return false;
  *value = static_cast<int>(number);
  return true;
}

// Parses a control given as a number (one that QX_SetThisControl takes) or
// as a switch name.
bool ParseControl(const std::string& text, int* control) {
  int number = 0;
  if (ParseNumber(text, 1, 16, &number)) {
    if ((QX_ALL_CONTROLS & QX_CONTROL_BIT(number)) == 0) return false;
    *control = number;
    return true;
  }
  for (const NamedSwitch& named : kSwitches) {
    if (text == named.option) {
      *control = named.control;
      return true;
    }
  }
  return false;
}

// Modes of the news, search-site and extension entries.
bool ParseEntryMode(const std::string& text, int* mode) {
  const std::string name = base::ToAsciiUpper(text);
  if (name == "ALWAYS" || name == "8") *mode = QX_MODE_ALWAYS;
  else if (name == "BUSINESS" || name == "7") *mode = QX_MODE_BUSINESS_HOURS;
  else if (name == "OFF" || name == "6") *mode = QX_MODE_OFF;
  else return false;
  return true;
}

// The environment of the check: the default one, with the clock fixed at
// the weekday and hour --at gives. The service and DescribePeriod both ask
// it for the time, so the report names the hour the engine used.
class CheckEnv final : public platform::EnvWrapper {
 public:
  CheckEnv() : EnvWrapper(platform::Env::Default()) {}
  void Fix(int weekday, int hour) {
    fixed_ = true;
    at_ = {weekday, hour};
  }
  platform::WeekdayHour LocalWeekdayHour() override {
    return fixed_ ? at_ : target()->LocalWeekdayHour();
  }

 private:
  bool fixed_ = false;
  platform::WeekdayHour at_{0, 0};
};

struct PolicyEntryOption {
  enum Kind { kNews, kSearchSite, kSearchWord, kExtension } kind;
  std::string text;
};

struct CheckOptions {
  std::string sitePath;
  std::string controlPath;
  std::vector<std::string> urls;
  int resolveTries = -1;  // -1: no resolution
  bool parentDomains = true;
  QxTypes regular = {QX_TYPES_MAGIC, 0, 0};
  QxTypes other = {QX_TYPES_MAGIC, 0, 0};
  bool otherGiven = false;
  std::vector<PolicyEntryOption> entries;
  bool hoursGiven = false;
  unsigned char hours[QX_HOURS_SIZE] = {};
  bool atGiven = false;
  int atWeekday = 0;
  int atHour = 0;
  bool queryGiven = false;
  std::string query;
};

// Adds the categories of a list to a set.
std::string AddCategories(const std::string& value, QxTypes* set) {
  std::uint32_t categories = 0;
  std::string error;
  if (!ParseCategoryList(value, &categories, &error)) return error;
  set->categories |= categories;
  return "";
}

std::string AddControl(const char* option, const std::string& value, QxTypes* set) {
  int control = 0;
  if (!ParseControl(value, &control)) {
    return std::string(option) + " needs a control number (1..13, 16) or a switch name, not \"" +
           value + "\"";
  }
  set->controls |= QX_CONTROL_BIT(control);
  return "";
}

// Reads the command line into options; returns an empty text or the
// problem.
std::string ParseOptions(int argc, char** argv, CheckOptions* options, bool* help) {
  ArgReader args(argc, argv);
  std::string value;
  std::string problem;
  while (args.Next() && problem.empty()) {
    if (args.IsHelp()) {
      *help = true;
      return "";
    }
    bool switched = false;
    for (const NamedSwitch& named : kSwitches) {
      if (args.Is((std::string("--") + named.option).c_str())) {
        options->regular.controls |= QX_CONTROL_BIT(named.control);
        switched = true;
      }
    }
    if (switched) continue;
    if (args.Is("--no-parent-domains")) {
      options->parentDomains = false;
    } else if (args.IsWithValue(nullptr, "--site", &options->sitePath)) {
    } else if (args.IsWithValue(nullptr, "--resolve", &value)) {
      if (!ParseNumber(value, 0, 100, &options->resolveTries)) {
        problem = "--resolve needs a number of attempts from 0 to 100, not \"" + value + "\"";
      }
    } else if (args.IsWithValue(nullptr, "--deny", &value)) {
      problem = AddCategories(value, &options->regular);
    } else if (args.IsWithValue(nullptr, "--other-deny", &value)) {
      problem = AddCategories(value, &options->other);
      options->otherGiven = true;
    } else if (args.IsWithValue(nullptr, "--control", &value)) {
      problem = AddControl("--control", value, &options->regular);
    } else if (args.IsWithValue(nullptr, "--other-control", &value)) {
      problem = AddControl("--other-control", value, &options->other);
      options->otherGiven = true;
    } else if (args.IsWithValue(nullptr, "--news", &value)) {
      options->entries.push_back({PolicyEntryOption::kNews, value});
    } else if (args.IsWithValue(nullptr, "--search-site", &value)) {
      options->entries.push_back({PolicyEntryOption::kSearchSite, value});
    } else if (args.IsWithValue(nullptr, "--search-word", &value)) {
      options->entries.push_back({PolicyEntryOption::kSearchWord, value});
    } else if (args.IsWithValue(nullptr, "--extension", &value)) {
      options->entries.push_back({PolicyEntryOption::kExtension, value});
    } else if (args.IsWithValue(nullptr, "--hours", &value)) {
      if (!ParseBusinessHours(value, options->hours, &problem)) problem = "--hours: " + problem;
      options->hoursGiven = true;
    } else if (args.IsWithValue(nullptr, "--hours-file", &value)) {
      std::string text, why;
      if (!ReadWholeFile(value, &text, &why)) {
        problem = "--hours-file: " + why;
      } else if (!ParseBusinessHours(text, options->hours, &problem)) {
        problem = value + ": " + problem;
      }
      options->hoursGiven = true;
    } else if (args.IsWithValue(nullptr, "--at", &value)) {
      if (!ParseWeekdayHour(value, &options->atWeekday, &options->atHour, &problem)) {
        problem = "--at: " + problem;
      }
      options->atGiven = true;
    } else if (args.IsWithValue(nullptr, "--query", &options->query)) {
      options->queryGiven = true;
    } else if (args.IsOption()) {
      problem = "unknown option " + args.Current();
    } else if (options->controlPath.empty()) {
      options->controlPath = args.Current();
    } else {
      options->urls.push_back(args.Current());
    }
  }
  // A missing value explains itself better than what was made of it.
  if (!args.Problem().empty()) problem = args.Problem();
  if (problem.empty() && options->controlPath.empty()) problem = "no control list";
  return problem;
}

// Adds one policy entry to the service; returns an empty text or the problem.
std::string AddPolicyEntry(QxService* service, const PolicyEntryOption& entry) {
  const std::vector<std::string> parts = Split(entry.text, ':');
  int mode = QX_MODE_ALWAYS;
  int code = QX_OK;
  switch (entry.kind) {
    case PolicyEntryOption::kNews:
    case PolicyEntryOption::kSearchSite: {
      const char* option = entry.kind == PolicyEntryOption::kNews ? "--news" : "--search-site";
      if (parts.size() < 2 || parts.size() > 3 || parts[0].empty()) {
        return std::string(option) + " needs SITE:PARAM[:MODE], not \"" + entry.text + "\"";
      }
      if (parts.size() == 3 && !ParseEntryMode(parts[2], &mode)) {
        return std::string(option) + ": unknown mode \"" + parts[2] + "\" (always, business, off)";
      }
      code = entry.kind == PolicyEntryOption::kNews
                 ? QX_Env_NewsBackDoor(service, parts[0].c_str(), parts[1].c_str(), mode)
                 : QX_Env_SearchSite(service, parts[0].c_str(), parts[1].c_str(), mode);
      break;
    }
    case PolicyEntryOption::kSearchWord: {
      if (parts.size() < 2 || parts.size() > 3 || parts[0].empty()) {
        return "--search-word needs WORD:CATEGORIES[:8], not \"" + entry.text + "\"";
      }
      int wordMode = 0;
      if (parts.size() == 3 && !ParseNumber(parts[2], 0, 9999, &wordMode)) {
        return "--search-word: the mode must be a number (8 marks the word), not \"" + parts[2] + "\"";
      }
      if (parts[0].size() >= QX_SEARCH_WORD_SIZE) {
        return "--search-word: \"" + parts[0] + "\" is longer than " +
               std::to_string(QX_SEARCH_WORD_SIZE - 1) + " characters and could never match";
      }
      QxTypes categories = {QX_TYPES_MAGIC, 0, 0};
      const std::string problem = AddCategories(parts[1], &categories);
      if (!problem.empty()) return "--search-word: " + problem;
      code = QX_Env_RestrictedSearchWord(service, parts[0].c_str(), &categories, wordMode);
      break;
    }
    case PolicyEntryOption::kExtension: {
      if (parts.empty() || parts.size() > 2 || parts[0].empty()) {
        return "--extension needs EXT[:MODE], not \"" + entry.text + "\"";
      }
      if (parts.size() == 2 && !ParseEntryMode(parts[1], &mode)) {
        return "--extension: unknown mode \"" + parts[1] + "\" (always, business, off)";
      }
      // The check compares the text after the last "."; ".exe" means "exe".
      const std::string name = parts[0][0] == '.' ? parts[0].substr(1) : parts[0];
      code = QX_Env_RestrictedExtension(service, name.c_str(), mode);
      break;
    }
  }
  if (code != QX_OK) {
    return "cannot add \"" + entry.text + "\": " + std::to_string(code) + " " + QX_ResultName(code);
  }
  return "";
}

std::string Hex(std::uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(value));
  return buffer;
}

// Which restriction set the check takes now, and why.
std::string DescribePeriod(const CheckOptions& options, platform::Env* env) {
  if (!options.hoursGiven) return "all hours (no business-hours table)";
  // The service's own environment, so that --at is seen as the engine sees it.
  const platform::WeekdayHour now = env->LocalWeekdayHour();
  if (now.weekday < 0 || now.weekday > 6 || now.hour < 0 || now.hour > 23) return "unknown time";
  char when[32];
  std::snprintf(when, sizeof when, "%s %02d:00, ", kDayNames[now.weekday], now.hour);
  const bool business = options.hours[now.weekday * 24 + now.hour] != 0;
  return std::string(when) + (business ? "business hours" : "other hours");
}

// Checks one URL and prints the outcome. Returns false when the URL could
// not be parsed or resolved.
bool CheckOne(QxService* service, platform::Env* env, const CheckOptions& options,
              const std::string& url, std::ostream& out) {
  out << "url " << url << '\n';
  QxTypes* result = QX_AllocateTypes();
  QxTypes* reason = QX_AllocateTypes();
  if (result == nullptr || reason == nullptr) {
    QX_FreeTypes(result);
    QX_FreeTypes(reason);
    out << "  error: out of memory\n";
    return false;
  }
  char key[QX_KEY_TEXT_SIZE] = {};
  const int categorised = QX_CategorizeUrl(service, url.c_str(), result, key, QX_KEY_TEXT_SIZE - 1);
  out << "  categorisation " << categorised << " " << QX_ResultName(categorised);
  if (categorised == QX_CATEGORIZED) out << ", key " << key;
  out << "\n  categories " << Hex(result->categories) << " ("
      << FormatCategoryNames(result->categories) << ")\n  controls " << Hex(result->controls)
      << " (" << DescribeControls(result->controls) << ")\n";
  out << "  period " << DescribePeriod(options, env) << '\n';

  const int verdict = QX_Env_UrlCheck(service, url.c_str(),
                                      options.queryGiven ? options.query.c_str() : nullptr,
                                      nullptr, result, reason);
  bool ok = true;
  switch (verdict) {
    case QX_RESTRICTED:
      out << "  verdict RESTRICTED\n" << DescribeReasons(*reason, "  reason ");
      break;
    case QX_UNRESTRICTED:
      out << "  verdict UNRESTRICTED\n";
      break;
    case QX_OK:
      if (categorised == QX_ERR_BAD_URL) {
        out << "  verdict NOTHING TO CHECK (the URL cannot be parsed)\n";
        ok = false;
      } else {
        out << "  verdict NOTHING TO CHECK (no restriction set in force at this hour)\n";
      }
      break;
    case QX_ERR_RESOLVE:
      out << "  verdict error: the host name could not be resolved (" << verdict << " "
          << QX_ResultName(verdict) << ")\n";
      ok = false;
      break;
    default:
      out << "  verdict error: " << verdict << " " << QX_ResultName(verdict) << '\n';
      ok = false;
      break;
  }
  QX_FreeTypes(result);
  QX_FreeTypes(reason);
  return ok;
}

struct ServiceOwner {
  explicit ServiceOwner(platform::Env* env) : service(corvane::NewServiceWithEnv(env)) {}
  ~ServiceOwner() {
    if (service != nullptr) QX_FreeService(service);
  }
  ServiceOwner(const ServiceOwner&) = delete;
  ServiceOwner& operator=(const ServiceOwner&) = delete;
  QxService* const service;
};

}  // namespace

std::string DescribeReasons(const QxTypes& reason, const std::string& indent) {
  std::string text;
  for (int category = 1; category <= QX_CATEGORY_COUNT; ++category) {
    if (reason.categories & CategoryBit(category)) {
      text += indent + "denied category: " + CategoryName(category) + '\n';
    }
  }
  static const struct {
    std::uint32_t bit;
    const char* words;
  } kReasons[] = {
      {QX_CONTROL_BIT(QX_CONTROL_NOT_APPROVED), "not an approved URL"},
      {QX_CONTROL_BIT(QX_CONTROL_NUMERIC_HOST), "numeric address"},
      {QX_CONTROL_BIT(QX_CONTROL_PERSONAL_PAGE), "personal page"},
      {QX_CONTROL_BIT(QX_CONTROL_NEWS_BACK_DOOR), "news back door"},
      {QX_CONTROL_BIT(QX_CONTROL_FILE_EXTENSION), "restricted file extension"},
      {QX_CONTROL_BIT(QX_CONTROL_SEARCH_WORD), "restricted search word"},
      {QX_CONTROL_BIT(QX_CONTROL_WORD_MARKED), "the search word was entered with mode 8"},
  };
  std::uint32_t described = 0;
  for (const auto& entry : kReasons) {
    if (reason.controls & entry.bit) {
      text += indent + entry.words + '\n';
      described |= entry.bit;
    }
  }
  if (reason.controls & ~described) {
    text += indent + "other controls " + Hex(reason.controls & ~described) + '\n';
  }
  return text;
}

int RunCheck(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err) {
  CheckOptions options;
  bool help = false;
  const std::string problem = ParseOptions(argc, argv, &options, &help);
  if (help) {
    out << kCheckUsage;
    return 0;
  }
  if (!problem.empty()) return UsageError(err, "check", problem, kCheckUsage);

  CheckEnv env;
  if (options.atGiven) env.Fix(options.atWeekday, options.atHour);
  ServiceOwner owner(&env);
  QxService* service = owner.service;
  if (service == nullptr) {
    err << "corvane check: out of memory\n";
    return 1;
  }
  // The engine reports an unopenable file on standard output; keep that in
  // order with what this command wrote before.
  out.flush();
  int code = QX_LoadControlList(service, nullptr, options.controlPath.c_str());
  if (code != QX_OK) {
    err << "corvane check: cannot load the control list " << options.controlPath << ": " << code
        << " " << QX_ResultName(code) << '\n';
    return 1;
  }
  if (!options.sitePath.empty()) {
    code = QX_LoadSiteList(service, options.sitePath.c_str());
    if (code != QX_OK) {
      err << "corvane check: cannot load the site list " << options.sitePath << ": " << code
          << " " << QX_ResultName(code) << '\n';
      return 1;
    }
  }
  if (options.resolveTries >= 0) QX_SetIPOption(service, options.resolveTries);
  QX_SetParentDomainOption(service, options.parentDomains ? 1 : 0);

  // The restriction sets are built by adding the sets parsed above.
  code = QX_Env_RegularRestrictions(service, &options.regular, QX_MODE_ADD);
  if (code == QX_OK && options.otherGiven) {
    code = QX_Env_NonBusinessRestrictions(service, &options.other, QX_MODE_ADD);
  }
  if (code == QX_OK && options.hoursGiven) code = QX_Env_BusinessHours(service, options.hours);
  if (code != QX_OK) {
    err << "corvane check: cannot set the restrictions: " << code << " " << QX_ResultName(code)
        << '\n';
    return 1;
  }
  for (const PolicyEntryOption& entry : options.entries) {
    const std::string entryProblem = AddPolicyEntry(service, entry);
    if (!entryProblem.empty()) return UsageError(err, "check", entryProblem, kCheckUsage);
  }

  bool allChecked = true;
  auto check = [&](const std::string& url) {
    if (!CheckOne(service, &env, options, url, out)) allChecked = false;
  };
  if (!options.urls.empty()) {
    for (const std::string& url : options.urls) check(url);
  } else {
    std::string line;
    while (std::getline(in, line)) {
      line = Trim(line);
      if (!line.empty() && line[0] != '#') check(line);
    }
    std::string error;
    if (!CheckStandardInputRead(in, &error)) {
      err << "corvane check: " << error << '\n';
      allChecked = false;
    }
  }
  return allChecked ? 0 : 1;
}

int RunCheckCommand(int argc, char** argv) { return RunCheck(argc, argv, std::cin, std::cout, std::cerr); }

}  // namespace corvane_tool
