// "corvane check": builds a service from the command line (lists,
// restriction sets, policy entries, business hours), fixes the clock when
// asked, and prints for each URL its categorisation, the verdict of the
// engine's URL check and the reasons in words.
#include "check_command.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string_view>
#include <vector>

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
    {"approved-only", 1}, {"deny-numeric", 3}, {"deny-personal", 4},
    {"news-backdoor", 5}, {"search-words", 8}, {"extensions", 16},
};

std::string Trim(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool ParseNumber(const std::string& text, int low, int high, int* value) {
  if (text.empty() || text.size() > 4) return false;
  int number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + (c - '0');
  }
  if (number < low || number > high) return false;
  *value = number;
  return true;
}

bool ParseDay(const std::string& text, int* day) {
  const std::string name = Upper(Trim(text));
  if (ParseNumber(name, 0, 6, day)) return true;
  for (int i = 0; i < 7; ++i) {
    // "Mon", "Monday" and anything between.
    static const std::string_view kFull[7] = {"SUNDAY",   "MONDAY", "TUESDAY", "WEDNESDAY",
                                              "THURSDAY", "FRIDAY", "SATURDAY"};
    if (name.size() >= 3 && name.size() <= kFull[i].size() &&
        kFull[i].compare(0, name.size(), name) == 0) {
      *day = i;
      return true;
    }
  }
  return false;
}

// Parses a control given as a number or as a switch name.
bool ParseControl(const std::string& text, int* control) {
  int number = 0;
  if (ParseNumber(text, 1, 16, &number)) {
    if (number == 14 || number == 15) return false;
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
  const std::string name = Upper(text);
  if (name == "ALWAYS" || name == "8") *mode = 8;
  else if (name == "BUSINESS" || name == "7") *mode = 7;
  else if (name == "OFF" || name == "6") *mode = 6;
  else return false;
  return true;
}

const char* EngineError(int code) { return ResultName(code); }

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
  QxTypes regular = {{'Q', 'X', 'T', 'P'}, 0, 0};
  QxTypes other = {{'Q', 'X', 'T', 'P'}, 0, 0};
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
  set->controls |= 1u << (control - 1);
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
        options->regular.controls |= 1u << (named.control - 1);
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
  int mode = 8;
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
      QxTypes categories = {{'Q', 'X', 'T', 'P'}, 0, 0};
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
    return "cannot add \"" + entry.text + "\": " + std::to_string(code) + " " + EngineError(code);
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
  out << "  categorisation " << categorised << " " << ResultName(categorised);
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
          << ResultName(verdict) << ")\n";
      ok = false;
      break;
    default:
      out << "  verdict error: " << verdict << " " << ResultName(verdict) << '\n';
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

bool ParseBusinessHours(const std::string& text, unsigned char table[QX_HOURS_SIZE],
                        std::string* error) {
  std::memset(table, 0, QX_HOURS_SIZE);
  std::string entries;
  // Line breaks separate entries as ";" does; comments run to the line end.
  for (const std::string& line : Split(text, '\n')) {
    const std::size_t hash = line.find('#');
    entries += line.substr(0, hash) + ';';
  }
  for (const std::string& rawEntry : Split(entries, ';')) {
    const std::string entry = Trim(rawEntry);
    if (entry.empty()) continue;
    std::size_t space = entry.find_first_of(" \t");
    if (space == std::string::npos) {
      *error = "\"" + entry + "\" needs days and hours, such as \"Mon-Fri 09-17\"";
      return false;
    }
    bool days[7] = {};
    for (const std::string& dayItem : Split(entry.substr(0, space), ',')) {
      const std::vector<std::string> range = Split(dayItem, '-');
      int first = 0;
      int last = 0;
      if (range.size() > 2 || !ParseDay(range[0], &first) ||
          !ParseDay(range.size() == 2 ? range[1] : range[0], &last)) {
        *error = "unknown day or day range \"" + dayItem + "\"";
        return false;
      }
      for (int day = first;; day = (day + 1) % 7) {
        days[day] = true;
        if (day == last) break;
      }
    }
    for (const std::string& hourItem : Split(Trim(entry.substr(space)), ',')) {
      const std::vector<std::string> range = Split(Trim(hourItem), '-');
      int from = 0;
      int to = 0;
      if (range.size() != 2 || !ParseNumber(Trim(range[0]), 0, 23, &from) ||
          !ParseNumber(Trim(range[1]), 1, 24, &to) || to <= from) {
        *error = "hours must be a range such as \"09-17\" (from 0 to 24, end after start), not \"" +
                 Trim(hourItem) + "\"";
        return false;
      }
      for (int day = 0; day < 7; ++day) {
        if (!days[day]) continue;
        for (int hour = from; hour < to; ++hour) table[day * 24 + hour] = 1;
      }
    }
  }
  return true;
}

bool ParseWeekdayHour(const std::string& text, int* weekday, int* hour, std::string* error) {
  const std::vector<std::string> parts = Split(text, ':');
  if (parts.size() != 2 || !ParseDay(parts[0], weekday)) {
    *error = "expected WEEKDAY:HOUR such as \"Mon:9\" or \"1:09\", not \"" + text + "\"";
    return false;
  }
  if (!ParseNumber(Trim(parts[1]), 0, 23, hour)) {
    *error = "the hour must be 0 to 23, not \"" + parts[1] + "\"";
    return false;
  }
  return true;
}

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
      {0x0020, "not an approved URL"},      {0x0004, "numeric address"},
      {0x0008, "personal page"},            {0x0010, "news back door"},
      {0x8000, "restricted file extension"}, {0x0080, "restricted search word"},
      {0x0002, "the search word was entered with mode 8"},
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
        << " " << ResultName(code) << '\n';
    return 1;
  }
  if (!options.sitePath.empty()) {
    code = QX_LoadSiteList(service, options.sitePath.c_str());
    if (code != QX_OK) {
      err << "corvane check: cannot load the site list " << options.sitePath << ": " << code
          << " " << ResultName(code) << '\n';
      return 1;
    }
  }
  if (options.resolveTries >= 0) QX_SetIPOption(service, options.resolveTries);
  QX_SetParentDomainOption(service, options.parentDomains ? 1 : 0);

  // The restriction sets are built by adding the sets parsed above.
  code = QX_Env_RegularRestrictions(service, &options.regular, 1);
  if (code == QX_OK && options.otherGiven) {
    code = QX_Env_NonBusinessRestrictions(service, &options.other, 1);
  }
  if (code == QX_OK && options.hoursGiven) code = QX_Env_BusinessHours(service, options.hours);
  if (code != QX_OK) {
    err << "corvane check: cannot set the restrictions: " << code << " " << ResultName(code) << '\n';
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
