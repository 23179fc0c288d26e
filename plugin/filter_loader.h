// filter_loader.h -- building the request filter from the store, and
// deciding one URL against it.
//
// Filter::Init (HXInit) is one caller; other hosts of the filter (the Squid helper) call
// the same functions, so that every host reads the same settings, loads
// the same control list and fills the same sets in the same way.
#ifndef PELLUMIN_PLUGIN_FILTER_LOADER_H_
#define PELLUMIN_PLUGIN_FILTER_LOADER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "corvane.h"
#include "env.h"
#include "filter_settings.h"
#include "in_force.h"
#include "store.h"

namespace tarnwick {

// What the loader builds: the engine service holding the control list, the
// four sets HXInit allocates, the "Hours" list, and the filter's values of
// the main key.
struct LoadedFilter : settings::FilterSettings {
  QxService* service = nullptr;
  QxTypes* denySet = nullptr;
  QxTypes* alertSet = nullptr;
  QxTypes* urlSet = nullptr;
  QxTypes* scratchSet = nullptr;
  // The categories denied during business hours; filled only when
  // hoursEnabled (without "BusinessHours" the list is not applied).
  QxTypes* hoursSet = nullptr;
};

// A fresh filter with the values the plug-in holds when it is loaded
// (settings::DefaultFilterSettings).
LoadedFilter DefaultLoadedFilter();

// The message of an HXInit that could not start the engine or ran out of
// memory.
extern const char kInitFailedMessage[];

// Everything HXInit does after its reset, into filter: the main settings
// read from store (a "BusinessHours" text that does not parse fails), the
// engine service with the control list and the business-hours table, the
// five sets, the "Deny" and "Alert" lists and, with business hours, the
// "Hours" list. filter must hold no handles on entry; its texts are what
// missing values leave. Returns 1 when ready. Otherwise 0, the filter holds
// no handles (the switches and texts read so far stay), and message
// (messageSize bytes, always terminated) says why in the plug-in's words.
// replacing tells that a filter is in force and this one is to take its
// place: then a main key that does not exist (a settings file gone or
// emptied) fails too, since the new filter would deny and alert nothing.
int LoadFilter(settings::Store& store, const char* keyPath, LoadedFilter* filter, char* message,
               std::size_t messageSize, bool replacing = false);

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
  // Its categories meet the deny set, or the "Hours" list while it is
  // business hours.
  bool deny = false;
  std::uint32_t categories = 0;  // the URL's category word when found
  // The categories the URL is denied for: those of the deny set and, in
  // business hours, those of the "Hours" list.
  std::uint32_t deniedCategories = 0;
};

// Categorises url and tests it against the filter's sets, with a result
// set and a scratch set of the call's own, so that any number of calls may
// run at once (while nobody changes the filter). With business hours on,
// clock's local hour (read only for a URL in the "Hours" list) decides
// whether that list denies too, so the period is judged per request.
// keyText has room for QX_KEY_TEXT_SIZE + 1 bytes and holds the matched
// key, terminated, when the URL was found. Allocates nothing.
UrlVerdict ClassifyUrl(const LoadedFilter& filter, platform::Env* clock, const char* url,
                       char* keyText);

// --- What is in force (settings/in_force.h) ----------------------------

using settings::CategoryNames;
using settings::DescribeFilter;

}  // namespace tarnwick

#endif  // PELLUMIN_PLUGIN_FILTER_LOADER_H_
