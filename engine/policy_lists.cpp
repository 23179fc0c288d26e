// policy_lists.cpp -- the hand-entered policy lists (news back doors, search
// sites, exempted domains, restricted extensions, restricted search words)
// and the rules by which the URL check matches a URL against them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "base/ascii.h"
#include "corvane.h"
#include "handles.h"
#include "policy.h"

namespace corvane {

namespace {

constexpr std::uint32_t kWordMarked = QX_CONTROL_BIT(QX_CONTROL_WORD_MARKED);

// Compares at most n characters of a and b without regard to ASCII case, as
// C strings (a shorter string is not equal to a longer one).
bool EqualIgnoreCaseN(const char* a, const char* b, std::size_t n) {
  return base::EqualsAsciiNoCase(std::string_view(a).substr(0, n),
                                 std::string_view(b).substr(0, n));
}

// Whether the first length characters of text equal prefix's, ignoring case;
// text must hold at least length characters.
bool SameIgnoreCase(const char* text, const char* prefix, std::size_t length) {
  return base::EqualsAsciiNoCase(std::string_view(text, length), std::string_view(prefix, length));
}

// Whether text begins with the prefixLength characters of prefix, ignoring
// case. text may be shorter: it is read only up to its terminator, which
// matters where a long query is searched from many positions.
bool StartsWithIgnoreCase(const char* text, const char* prefix, std::size_t prefixLength) {
  for (std::size_t i = 0; i < prefixLength; ++i) {
    if (text[i] == '\0' || base::ToAsciiUpper(text[i]) != base::ToAsciiUpper(prefix[i])) {
      return false;
    }
  }
  return true;
}

bool EndsWithIgnoreCase(const char* text, const char* suffix) {
  const std::size_t textLength = std::strlen(text);
  const std::size_t suffixLength = std::strlen(suffix);
  if (suffixLength > textLength) return false;
  return SameIgnoreCase(text + textLength - suffixLength, suffix, suffixLength);
}

// Copies at most size - 1 characters of text, upper-cased, into a field of
// size bytes; the rest of the field is cleared, so it is always terminated.
void StoreUpper(char* field, std::size_t size, const char* text) {
  std::memset(field, 0, size);
  for (std::size_t i = 0; i + 1 < size && text[i] != '\0'; ++i) {
    field[i] = base::ToAsciiUpper(text[i]);
  }
}

constexpr std::int32_t kInvalidMode = -1;

// Modes of the news back-door, search-site and extension lists.
std::int32_t SwitchedMode(int mode) {
  switch (mode) {
    case QX_MODE_OFF: return QX_POLICY_OFF;
    case QX_MODE_BUSINESS_HOURS: return QX_POLICY_BUSINESS_HOURS;
    case QX_MODE_ALWAYS: return QX_POLICY_ALWAYS;
    default: return kInvalidMode;
  }
}

// Modes of the exempted-domain list.
std::int32_t DomainMode(int mode) {
  switch (mode) {
    case QX_MODE_ADD: return QX_POLICY_ALWAYS;
    case QX_MODE_REMOVE: return QX_POLICY_OFF;
    default: return kInvalidMode;
  }
}

// Adds or updates the entry named name in the list at head. parameter is
// null for lists without one. An invalid mode still stores the entry (a new
// one stays off, an old one keeps its mode) and then yields QX_ERR_INVALID.
int StorePolicyEntry(QxService* service, PolicyEntry* QxService::*head, const char* name,
                     const char* parameter, std::int32_t mode) {
  const int status = ValidateService(service);
  if (status != QX_OK) return status;
  if (name == nullptr) return QX_ERR_INVALID;

  PolicyEntry* entry = service->*head;
  while (entry != nullptr && !EqualIgnoreCaseN(entry->name, name, QX_POLICY_NAME_SIZE - 1)) {
    entry = entry->next;
  }
  if (entry == nullptr) {
    entry = static_cast<PolicyEntry*>(PolicyCalloc(1, sizeof(PolicyEntry)));
    if (entry == nullptr) return QX_ERR_NO_MEMORY;
    entry->next = service->*head;
    service->*head = entry;
  }
  StoreUpper(entry->name, sizeof(entry->name), name);
  if (parameter != nullptr) StoreUpper(entry->parameter, sizeof(entry->parameter), parameter);
  if (mode == kInvalidMode) return QX_ERR_INVALID;
  entry->mode = mode;
  return QX_OK;
}

}  // namespace

bool EntryTakesPart(std::int32_t mode, int businessHours) {
  return mode == QX_POLICY_ALWAYS || (mode == QX_POLICY_BUSINESS_HOURS && businessHours == 1);
}

bool MatchSitePattern(const char* pattern, const char* host) {
  if (pattern[0] == '*') return EndsWithIgnoreCase(host, pattern + 1);
  const char* star = std::strchr(pattern, '*');
  if (star == nullptr) return EqualIgnoreCaseN(pattern, host, static_cast<std::size_t>(-1));
  // Split at the first "*" only; a later "*" is an ordinary character.
  const std::size_t prefixLength = static_cast<std::size_t>(star - pattern);
  if (!StartsWithIgnoreCase(host, pattern, prefixLength)) return false;
  return EndsWithIgnoreCase(host + prefixLength, star + 1);
}

const char* FindQueryParameter(const char* query, const char* name) {
  const std::size_t nameLength = std::strlen(name);
  const char* position = query;
  for (;;) {
    if (StartsWithIgnoreCase(position, name, nameLength)) return position;
    position = std::strchr(position, '&');
    if (position == nullptr) return nullptr;
    ++position;
  }
}

bool MatchSearchTerms(const QxService* service, const char* terms, const QxTypes* restriction,
                      QxTypes* reason) {
  bool matched = false;
  const char* word = terms;
  for (;;) {
    const char* end = word;
    while (*end != '\0' && *end != '&' && *end != '+') ++end;
    const std::size_t length = static_cast<std::size_t>(end - word);
    // Words are compared in place. A word longer than a stored word
    // (15 characters) can equal no entry, however long it is, so it is
    // passed over without being copied anywhere.
    if (length < QX_SEARCH_WORD_SIZE) {
      for (const SearchWordEntry* entry = service->restrictedSearchWordList; entry != nullptr;
           entry = entry->next) {
        if (entry->word[length] != '\0' || !SameIgnoreCase(word, entry->word, length)) continue;
        if ((entry->types.categories & restriction->categories) == 0) continue;
        reason->categories = 0;
        reason->controls |= entry->types.controls;
        matched = true;
      }
    }
    if (*end == '\0') break;
    word = end + 1;
  }
  return matched;
}

const char* SegmentExtension(const char* segment) {
  const char* dot = std::strrchr(segment, '.');
  if (dot == nullptr || dot == segment) return nullptr;
  return dot + 1;
}

}  // namespace corvane

extern "C" {

int QX_CALL QX_Env_NewsBackDoor(QxService* service, const char* site, const char* parameter, int mode) {
  if (parameter == nullptr && corvane::ValidateService(service) == QX_OK) return QX_ERR_INVALID;
  return corvane::StorePolicyEntry(service, &QxService::newsBackDoorList, site, parameter,
                                   corvane::SwitchedMode(mode));
}

int QX_CALL QX_Env_SearchSite(QxService* service, const char* site, const char* parameter, int mode) {
  if (parameter == nullptr && corvane::ValidateService(service) == QX_OK) return QX_ERR_INVALID;
  return corvane::StorePolicyEntry(service, &QxService::searchSiteList, site, parameter,
                                   corvane::SwitchedMode(mode));
}

int QX_CALL QX_Env_ExemptedDomain(QxService* service, const char* domain, int mode) {
  return corvane::StorePolicyEntry(service, &QxService::exemptedDomainList, domain, nullptr,
                                   corvane::DomainMode(mode));
}

int QX_CALL QX_Env_RestrictedExtension(QxService* service, const char* extension, int mode) {
  return corvane::StorePolicyEntry(service, &QxService::restrictedExtensionList, extension,
                                   nullptr, corvane::SwitchedMode(mode));
}

int QX_CALL QX_Env_RestrictedSearchWord(QxService* service, const char* word, QxTypes* set, int mode) {
  int status = corvane::ValidateService(service);
  if (status != QX_OK) return status;
  status = corvane::ValidateTypes(set);
  if (status != QX_OK) return status;
  if (word == nullptr) return QX_ERR_INVALID;

  SearchWordEntry* entry = service->restrictedSearchWordList;
  while (entry != nullptr && !corvane::EqualIgnoreCaseN(entry->word, word, QX_SEARCH_WORD_SIZE - 1)) {
    entry = entry->next;
  }
  if (entry == nullptr) {
    entry = static_cast<SearchWordEntry*>(corvane::PolicyCalloc(1, sizeof(SearchWordEntry)));
    if (entry == nullptr) return QX_ERR_NO_MEMORY;
    entry->next = service->restrictedSearchWordList;
    service->restrictedSearchWordList = entry;
  }
  corvane::StoreUpper(entry->word, sizeof(entry->word), word);
  // The entry holds its own copy of the set, magic included, so the set
  // operations accept it; its controls only say whether it was marked.
  entry->types = *set;
  entry->types.controls = (mode == QX_MODE_ALWAYS) ? corvane::kWordMarked : 0;
  return QX_OK;
}

}  // extern "C"
