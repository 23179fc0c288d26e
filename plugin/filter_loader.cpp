// filter_loader.cpp -- the request filter built from the store, and the
// decision for one URL.
#include "filter_loader.h"

#include <cstring>
#include <new>

#include "business_hours.h"
#include "defaults.h"
#include "entry_points.h"
#include "tarnwick.h"

namespace tarnwick {

const char kInitFailedMessage[] = "Pellumin Error: Could not Initialize Pellumin.";

namespace {

const char kTypesFailedMessage[] = "Pellumin Error: Couldn't allocate memory for Types.";
const char kReadyMessage[] = "Pellumin Plugin V1.0 Initialized Correctly!";

constexpr QxTypes kEmptySet = {QX_TYPES_MAGIC, 0, 0};

void AddCategories(const std::vector<int>& numbers, QxTypes* set) {
  for (int number : numbers) QX_SetThisCategory(set, number);
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
  static_cast<settings::FilterSettings&>(filter) = settings::DefaultFilterSettings();
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

namespace {

int LoadFilterOrThrow(settings::Store& store, const char* keyPath, LoadedFilter* filter,
                      char* message, std::size_t messageSize, bool replacing) {
  // Without a readable store the filter would run on defaults and could
  // let everything pass; say where the store is broken instead.
  std::string fault;
  std::string keyMissing;
  if (!settings::ReadFilterSettings(store, keyPath, filter, &fault, &keyMissing)) {
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
  filter->hoursSet = QX_AllocateTypes();
  if (filter->denySet == nullptr || filter->alertSet == nullptr || filter->urlSet == nullptr ||
      filter->scratchSet == nullptr || filter->hoursSet == nullptr) {
    WriteMessage(message, messageSize, kTypesFailedMessage);
    ReleaseFilter(filter);
    return 0;
  }

  AddCategories(settings::TickedCategories(store, settings::SubkeyPath(keyPath, settings::kDenySubkey).c_str()),
                filter->denySet);
  AddCategories(settings::TickedCategories(store, settings::SubkeyPath(keyPath, settings::kAlertSubkey).c_str()),
                filter->alertSet);
  if (filter->hoursEnabled != 0) {
    // The engine's own table and switch too, so that the service holds the
    // hours in force as the engine's URL check reads them.
    QX_Env_BusinessHours(filter->service, filter->businessHours);
    AddCategories(settings::TickedCategories(store, settings::SubkeyPath(keyPath, settings::kHoursSubkey).c_str()),
                  filter->hoursSet);
  }

  WriteMessage(message, messageSize, kReadyMessage);
  return 1;
}

}  // namespace

int LoadFilter(settings::Store& store, const char* keyPath, LoadedFilter* filter, char* message,
               std::size_t messageSize, bool replacing) {
  try {
    return LoadFilterOrThrow(store, keyPath, filter, message, messageSize, replacing);
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
  QX_FreeTypes(filter->hoursSet);
  QX_FreeService(filter->service);
  filter->denySet = filter->alertSet = filter->urlSet = filter->scratchSet = filter->hoursSet = nullptr;
  filter->service = nullptr;
}

UrlVerdict ClassifyUrl(const LoadedFilter& filter, platform::Env* clock, const char* url,
                       char* keyText) {
  UrlVerdict verdict;
  // Marked as engine sets, so that the engine checks them as its own.
  QxTypes urlSet = kEmptySet;
  QxTypes scratchSet = kEmptySet;
  const int rc = QX_CategorizeUrl(filter.service, url, &urlSet, keyText, QX_KEY_TEXT_SIZE);
  if (rc != QX_CATEGORIZED && rc != QX_CATEGORIZED_TRUNCATED) return verdict;
  // A cut key text (13) comes without its terminator.
  keyText[QX_KEY_TEXT_SIZE] = '\0';
  verdict.categorized = true;
  verdict.categories = urlSet.categories;
  verdict.alert = QX_CategoryAndCategory(&urlSet, filter.alertSet, &scratchSet) == QX_YES;
  if (QX_CategoryAndCategory(&urlSet, filter.denySet, &scratchSet) == QX_YES) {
    verdict.deny = true;
    verdict.deniedCategories |= scratchSet.categories;
  }
  if (filter.hoursEnabled != 0 &&
      QX_CategoryAndCategory(&urlSet, filter.hoursSet, &scratchSet) == QX_YES &&
      settings::IsBusinessHour(filter.businessHours, clock->LocalWeekdayHour())) {
    verdict.deny = true;
    verdict.deniedCategories |= scratchSet.categories;
  }
  return verdict;
}

}  // namespace tarnwick
