// plugin_setup.h -- a ready filter for entry-point tests: a control list,
// a main key with its "Deny" and "Alert" subkeys, and HXInit run on it.
#ifndef PELLUMIN_PLUGIN_TESTING_PLUGIN_SETUP_H_
#define PELLUMIN_PLUGIN_TESTING_PLUGIN_SETUP_H_

#include <string>
#include <utility>
#include <vector>

#include "filter.h"
#include "host_fixture.h"

namespace tarnwick {
namespace testkit {

// Hosts of the standard control list and what they meet: BOTH.EXAMPLE is
// in a category of both sets ("Sex"), DENYONLY.EXAMPLE in "Drugs" (deny
// only), ALERTONLY.EXAMPLE in "Chat" (alert only), NEITHER.EXAMPLE in
// "Sports" (no set).
struct StandardFilter {
  TempDir dir;
  std::string controlFile;
  std::string keyPath;
};

// Main-key lines to add to the standard ones ("ControlFile" is always
// written unless omitControlFile).
struct FilterOptions {
  FilterOptions() = default;
  FilterOptions(std::vector<std::string> values, bool omit = false, std::string path = "")
      : mainValues(std::move(values)), omitControlFile(omit), keyPath(std::move(path)) {}
  std::vector<std::string> mainValues;
  bool omitControlFile = false;
  std::string keyPath;  // empty: a fresh one
};

// Writes the list and the keys; returns them. Call HXInit with keyPath.
void WriteStandardFilter(StandardFilter* filter, const FilterOptions& options = {});

// Runs filter's Init on path in a buffer of exactly the host's size;
// returns the result and stores the message.
int RunInit(Filter& filter, const std::string& path, std::string* message);

// Runs filter's ProcessUrl on url in a buffer of exactly the
// host's size, for a client at 10.1.2.3.
int FilterUrl(Filter& filter, const std::string& url);

// The page the plug-in sends for body.
std::string ExpectedPage(const std::string& body);

}  // namespace testkit
}  // namespace tarnwick

#endif  // PELLUMIN_PLUGIN_TESTING_PLUGIN_SETUP_H_
