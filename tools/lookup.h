// lookup.h -- tracing a URL's lookup key by key, for "corvane lookup".
#ifndef PELLUMIN_TOOLS_LOOKUP_H_
#define PELLUMIN_TOOLS_LOOKUP_H_

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "corvane.h"

namespace corvane_tool {

// The usual keys (path, domain, personal), then the keys of the
// parent-domain lookup (parent domains, and the path keys of the host
// without "WWW.").
enum class KeyStep { kPath, kDomain, kPersonal, kParent, kStrippedPath };

struct KeyAttempt {
  KeyStep step;
  int level = 0;             // segments in a path key
  bool repeated = false;     // the same key as one tried before: not searched again
  std::string text;          // the key, cut to 1023 characters
  std::size_t length = 0;    // its full length
  std::uint8_t digest[16] = {};
  bool found = false;
  QxListRecord record = {};  // the matching record when found
};

// The keys of a parsed URL in the order the lookup tries them (path keys
// from all segments down to the bare host, the domain key when the host has
// one, the personal-page key), each looked up in records until one is
// found. An empty list (count 0 or less) is not searched and gives none.
std::vector<KeyAttempt> TraceListSearch(const QxUrl& url, const QxListRecord* records,
                                        std::int32_t count);

// The keys the parent-domain lookup adds for url in one of its steps
// (KeyStep::kParent or KeyStep::kStrippedPath), as the engine plans them:
// only keys that no earlier step tried, each looked up in records until
// one is found.
std::vector<KeyAttempt> TraceParentDomainSearch(const QxUrl& url, const QxListRecord* records,
                                                std::int32_t count, KeyStep step);

// The control bits of a result set in words ("numeric host, query").
std::string DescribeControls(std::uint32_t controls);

// Looks one URL up in the service's lists and writes the trace and the
// engine's verdict; parentDomains says whether the service has the
// parent-domain option on (and the trace shows its keys). Returns the
// engine's result code.
int PrintLookup(QxService* service, const std::string& siteName,
                const std::string& controlName, const std::string& url, std::ostream& out,
                bool parentDomains = false);

// Runs "corvane lookup".
int RunLookup(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace corvane_tool

#endif  // PELLUMIN_TOOLS_LOOKUP_H_
