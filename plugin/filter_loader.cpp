// filter_loader.cpp -- the request filter built from the store, and the
// decision for one URL.
#include "filter_loader.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "defaults.h"
#include "entry_points.h"
#include "platform.h"
#include "settings_store.h"
#include "tarnwick.h"

namespace tarnwick {

const char kInitFailedMessage[] = "Pellumin Error: Could not Initialize Pellumin.";

namespace {

const char kTypesFailedMessage[] = "Pellumin Error: Couldn't allocate memory for Types.";
const char kReadyMessage[] = "Pellumin Plugin V1.0 Initialized Correctly!";

constexpr QxTypes kEmptySet = {QX_TYPES_MAGIC, 0, 0};

// key path + "\" + subkey. The path is at most a message buffer long, so
// no path is ever cut.
std::string ListPath(const char* keyPath, const char* subkey) {
  return std::string(keyPath) + "\\" + subkey;
}

// The record count at the head of a list file: a signed 32-bit
// little-endian number, the same header the engine's loader reads.
bool ReadListRecordCount(const char* path, long long* count, std::string* error) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    *error = std::string("the control list ") + path + " cannot be opened";
    return false;
  }
  unsigned char header[4];
  const bool read = std::fread(header, 1, sizeof header, file) == sizeof header;
  std::fclose(file);
  if (!read) {
    *error = std::string("the control list ") + path + " has no record count";
    return false;
  }
  const std::uint32_t bits = static_cast<std::uint32_t>(header[0]) |
                             static_cast<std::uint32_t>(header[1]) << 8 |
                             static_cast<std::uint32_t>(header[2]) << 16 |
                             static_cast<std::uint32_t>(header[3]) << 24;
  *count = static_cast<std::int32_t>(bits);
  return true;
}

std::string JoinNames(const std::vector<std::string>& names) {
  if (names.empty()) return "none";
  std::string text;
  for (const std::string& name : names) {
    if (!text.empty()) text += ", ";
    text += name;
  }
  return text;
}

}  // namespace

#define PELLUMIN_SUPPORT_SENTENCE \
  " Please notify Pellumin support at support@pellumin.example."

const char* LoadFailureText(int rc) {
  if (rc == QX_ERR_NULL_HANDLE) {
    return "could not be loaded because the engine was given a null handle." PELLUMIN_SUPPORT_SENTENCE;
  }
  if (rc == QX_ERR_BAD_HANDLE) {
    return "could not be loaded because the engine was given an invalid handle." PELLUMIN_SUPPORT_SENTENCE;
  }
  if (rc == QX_ERR_READ_HEADER) return "was not found.";
  if (rc == QX_ERR_READ_RECORD) return "was Truncated, its a bad file.";
  return "could not be loaded correctly.";
}

LoadedFilter DefaultLoadedFilter() {
  LoadedFilter filter;
  filter.logEnabled = kFilterDefaults.log;
  filter.mailEnabled = kFilterDefaults.mail;
  std::strcpy(filter.controlFilePath, kFilterDefaults.controlFile);
  std::strcpy(filter.denialBody, kFilterDefaults.denialBody);
  return filter;
}

void WriteMessage(char* message, std::size_t messageSize, const char* first, const char* second,
                  const char* third, const char* fourth) {
  if (message == nullptr || messageSize == 0) return;
  std::size_t used = 0;
  for (const char* part : {first, second, third, fourth}) {
    std::size_t length = std::strlen(part);
    if (length > messageSize - 1 - used) length = messageSize - 1 - used;
    std::memmove(message + used, part, length);
    used += length;
  }
  message[used] = '\0';
}

bool ReadMainSettings(const char* keyPath, LoadedFilter* filter, std::string* fault,
                      std::string* keyMissing) {
  if (keyMissing != nullptr) keyMissing->clear();
  SettingsKey key = OpenPluginKey(keyPath, KeyAccess::kRead, fault);
  if (key == nullptr) {
    if (!fault->empty()) return false;
    if (keyMissing != nullptr) {
      // The settings file says "FILE: no key ..." itself; the registry's
      // text names only the call, so the key is named here.
      const std::string store = platform::LastRegistryError();
      *keyMissing = store;
      if (store.find("no key ") == std::string::npos) {
        *keyMissing = std::string("no key HKEY_LOCAL_MACHINE\\") + keyPath;
        if (!store.empty()) *keyMissing += " (" + store + ")";
      }
    }
    return true;
  }
  SettingsKeyCloser closer{key};
  filter->logEnabled = ReadDwordValue(key, kLogValue);
  filter->mailEnabled = ReadDwordValue(key, kMailValue);
  ReadStringValue(key, kControlFileValue, filter->controlFilePath, kControlFilePathSize);
  ReadStringValue(key, kErrorMsgValue, filter->denialBody, kDenialBodySize);
  return true;
}

namespace {

int LoadFilterOrThrow(const char* keyPath, LoadedFilter* filter, char* message,
                      std::size_t messageSize, bool replacing) {
  // Without a readable store the filter would run on defaults and could
  // let everything pass; say where the store is broken instead.
  std::string fault;
  std::string keyMissing;
  if (!ReadMainSettings(keyPath, filter, &fault, &keyMissing)) {
    WriteMessage(message, messageSize, "Pellumin Error: the settings cannot be read: ",
                 fault.c_str());
    return 0;
  }
  if (replacing && !keyMissing.empty()) {
    WriteMessage(message, messageSize, "Pellumin Error: the settings cannot be read: ",
                 keyMissing.c_str());
    return 0;
  }

  filter->service = QX_Init();
  if (filter->service == nullptr) {
    WriteMessage(message, messageSize, kInitFailedMessage);
    return 0;
  }
  // A listed domain covers every host below it, as administrators expect of
  // a URL filter, whatever its last label.
  QX_SetParentDomainOption(filter->service, 1);

  const int rc = QX_LoadControlList(filter->service, nullptr, filter->controlFilePath);
  if (rc != QX_OK) {
    WriteMessage(message, messageSize, "Pellumin Error: ", filter->controlFilePath, " ",
                 LoadFailureText(rc));
    ReleaseFilter(filter);
    return 0;
  }

  filter->denySet = QX_AllocateTypes();
  filter->alertSet = QX_AllocateTypes();
  filter->urlSet = QX_AllocateTypes();
  filter->scratchSet = QX_AllocateTypes();
  if (filter->denySet == nullptr || filter->alertSet == nullptr || filter->urlSet == nullptr ||
      filter->scratchSet == nullptr) {
    WriteMessage(message, messageSize, kTypesFailedMessage);
    ReleaseFilter(filter);
    return 0;
  }

  LoadCategorySet(ListPath(keyPath, kDenySubkey).c_str(), filter->denySet);
  LoadCategorySet(ListPath(keyPath, kAlertSubkey).c_str(), filter->alertSet);

  WriteMessage(message, messageSize, kReadyMessage);
  return 1;
}

}  // namespace

int LoadFilter(const char* keyPath, LoadedFilter* filter, char* message, std::size_t messageSize,
               bool replacing) {
  try {
    return LoadFilterOrThrow(keyPath, filter, message, messageSize, replacing);
  } catch (const std::bad_alloc&) {
    // Memory ran out while the settings or list paths were read (they are
    // strings): hand back nothing half built.
    ReleaseFilter(filter);
    WriteMessage(message, messageSize, kInitFailedMessage);
    return 0;
  }
}

void ReleaseFilter(LoadedFilter* filter) {
  QX_FreeTypes(filter->denySet);
  QX_FreeTypes(filter->alertSet);
  QX_FreeTypes(filter->urlSet);
  QX_FreeTypes(filter->scratchSet);
  QX_FreeService(filter->service);
  filter->denySet = filter->alertSet = filter->urlSet = filter->scratchSet = nullptr;
  filter->service = nullptr;
}

UrlVerdict ClassifyUrl(QxService* service, QxTypes* alertSet, QxTypes* denySet, const char* url,
                       char* keyText) {
  UrlVerdict verdict;
  // Marked as engine sets, so that the engine checks them as its own.
  QxTypes urlSet = kEmptySet;
  QxTypes scratchSet = kEmptySet;
  const int rc = QX_CategorizeUrl(service, url, &urlSet, keyText, QX_KEY_TEXT_SIZE);
  if (rc != QX_CATEGORIZED && rc != QX_CATEGORIZED_TRUNCATED) return verdict;
  // A cut key text (13) comes without its terminator.
  keyText[QX_KEY_TEXT_SIZE] = '\0';
  verdict.categorized = true;
  verdict.categories = urlSet.categories;
  verdict.alert = QX_CategoryAndCategory(&urlSet, alertSet, &scratchSet) == QX_YES;
  verdict.deny = QX_CategoryAndCategory(&urlSet, denySet, &scratchSet) == QX_YES;
  return verdict;
}

std::vector<std::string> CategoryNames(const QxTypes* set) {
  std::vector<std::string> names;
  if (set == nullptr) return names;
  for (const CategoryTableRow& row : kCategoryTable) {
    if (QX_TestThisCategory(const_cast<QxTypes*>(set), row.categoryNumber) == QX_YES) {
      names.emplace_back(row.name);
    }
  }
  return names;
}

std::vector<std::string> DescribeFilter(const QxTypes* denySet, const QxTypes* alertSet,
                                        const char* controlFile, long long records) {
  std::vector<std::string> lines;
  lines.push_back("denied categories: " + JoinNames(CategoryNames(denySet)));
  lines.push_back("alerted categories: " + JoinNames(CategoryNames(alertSet)));
  std::string list = std::string("control list: ") + controlFile + " (" +
                     std::to_string(records) + (records == 1 ? " record" : " records");
  if (records <= 0) list += ": nothing will match";
  lines.push_back(list + ")");
  return lines;
}

bool DescribeStoredFilter(const char* keyPath, std::vector<std::string>* lines,
                          std::string* error) {
  LoadedFilter filter = DefaultLoadedFilter();
  if (!ReadMainSettings(keyPath, &filter, error)) {
    *error = "the settings cannot be read: " + *error;
    return false;
  }
  QxTypes deny = kEmptySet;
  QxTypes alert = kEmptySet;
  LoadCategorySet(ListPath(keyPath, kDenySubkey).c_str(), &deny);
  LoadCategorySet(ListPath(keyPath, kAlertSubkey).c_str(), &alert);
  long long records = 0;
  if (!ReadListRecordCount(filter.controlFilePath, &records, error)) return false;
  *lines = DescribeFilter(&deny, &alert, filter.controlFilePath, records);
  return true;
}

}  // namespace tarnwick
