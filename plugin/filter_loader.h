// filter_loader.h -- building the request filter from the store, and
// deciding one URL against it.
//
// HXInit is one caller; other hosts of the filter (the Squid helper) call
// the same functions, so that every host reads the same settings, loads
// the same control list and fills the same sets in the same way.
#ifndef PELLUMIN_PLUGIN_FILTER_LOADER_H_
#define PELLUMIN_PLUGIN_FILTER_LOADER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "corvane.h"
#include "filter_state.h"

namespace tarnwick {

// What the loader builds: the engine service holding the control list, the
// four sets HXInit allocates, the two switches and the two texts the filter
// reads from the main key.
struct LoadedFilter {
  QxService* service = nullptr;
  QxTypes* denySet = nullptr;
  QxTypes* alertSet = nullptr;
  QxTypes* urlSet = nullptr;
  QxTypes* scratchSet = nullptr;
  std::int32_t logEnabled = 1;
  std::int32_t mailEnabled = 0;
  char controlFilePath[kControlFilePathSize] = {};
  char denialBody[kDenialBodySize] = {};
};

// A fresh filter with the values the plug-in holds when it is loaded
// ("site.txt", an empty body, logging on, alert collection off).
LoadedFilter DefaultLoadedFilter();

// Reads "Log", "Mail", "ControlFile" and "ErrorMsg" from the main key at
// keyPath into filter; a missing value leaves its field as it was (a
// missing switch reads as -1). A main key that does not exist is not an
// error; *keyMissing (when given) then says so in the store's words, and
// is cleared when the key exists. A store that cannot be read (a malformed
// or unreadable settings file) is: false, with *fault naming the file, the
// line and what is wrong, and filter unchanged.
bool ReadMainSettings(const char* keyPath, LoadedFilter* filter, std::string* fault,
                      std::string* keyMissing = nullptr);

// The message of an HXInit that could not start the engine or ran out of
// memory.
extern const char kInitFailedMessage[];

// Everything HXInit does after its reset, into filter: the main settings,
// the engine service with the control list, the four sets, the "Deny" and
// "Alert" lists. filter must hold no handles on entry; its texts are what
// missing values leave. Returns 1 when ready. Otherwise 0, the filter holds
// no handles (the switches and texts read so far stay), and message
// (messageSize bytes, always terminated) says why in the plug-in's words.
// replacing tells that a filter is in force and this one is to take its
// place: then a main key that does not exist (a settings file gone or
// emptied) fails too, since the new filter would deny and alert nothing.
int LoadFilter(const char* keyPath, LoadedFilter* filter, char* message, std::size_t messageSize,
               bool replacing = false);

// Releases the service and the sets and forgets them. Handles that are
// none are passed too; the engine refuses them.
void ReleaseFilter(LoadedFilter* filter);

// Copies parts (cut to fit) into message, messageSize bytes, terminated.
void WriteMessage(char* message, std::size_t messageSize, const char* first,
                  const char* second = "", const char* third = "", const char* fourth = "");

// --- One request -------------------------------------------------------

struct UrlVerdict {
  bool categorized = false;  // the engine found the URL (12 or 13)
  bool alert = false;        // its categories meet the alert set
  bool deny = false;         // its categories meet the deny set
  std::uint32_t categories = 0;  // the URL's category word when found
};

// Categorises url and tests it against both sets, with a result set and a
// scratch set of the call's own, so that any number of calls may run at
// once (while nobody changes the service or the sets). keyText has room
// for QX_KEY_TEXT_SIZE + 1 bytes and holds the matched key, terminated,
// when the URL was found. Allocates nothing.
UrlVerdict ClassifyUrl(QxService* service, QxTypes* alertSet, QxTypes* denySet, const char* url,
                       char* keyText);

// --- What is in force --------------------------------------------------

// The table names of the categories in set, in table order.
std::vector<std::string> CategoryNames(const QxTypes* set);

// Three lines an administrator reads at start: the denied categories, the
// alerted ones (each by name, or "none"), and the control list with its
// record count ("nothing will match" when it has none).
std::vector<std::string> DescribeFilter(const QxTypes* denySet, const QxTypes* alertSet,
                                        const char* controlFile, long long records);

// The same for the settings stored at keyPath, read the way LoadFilter
// reads them, without loading the list (its record count comes from its
// header). For a host that runs the filter through its entry points only.
// False with *error when the store or the list header cannot be read.
bool DescribeStoredFilter(const char* keyPath, std::vector<std::string>* lines,
                          std::string* error);

}  // namespace tarnwick

#endif  // PELLUMIN_PLUGIN_FILTER_LOADER_H_
