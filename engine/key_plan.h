// key_plan.h -- the candidate keys of one parsed URL, in the order the lookup
// decides them, with their digests.
//
// Every key is a piece of one text, the full path key: a path key of n
// segments is a prefix of it, the personal-page key too (the path up to the
// "~" segment and "/~"), the domain key and the parent domains are suffixes
// of its host, and the path keys of a host without its leading "WWW." start
// four characters in. The plan composes that text once, lists each distinct
// key once (a key that an earlier key already spelled is neither digested
// nor searched again), and digests the keys of a step together.
//
// The steps:
//  1. the keys every lookup tries: path keys from all segments down to the
//     bare host, the domain key, the personal-page key;
//  2. with the parent-domain option, when step 1 found nothing in either
//     list: each parent domain of a named host, from the longest down to two
//     labels;
//  3. then, for a named host that begins with "WWW.", the path keys of the
//     host without it.
#ifndef PELLUMIN_ENGINE_KEY_PLAN_H_
#define PELLUMIN_ENGINE_KEY_PLAN_H_

#include <cstddef>
#include <cstdint>

#include "corvane.h"
#include "list_index.h"
#include "url_key.h"

namespace corvane {

enum class PlannedStep : std::uint8_t { kPath, kDomain, kPersonal, kParent, kStrippedPath };

struct PlannedKey {
  std::uint32_t offset;  // in KeyPlan::text
  std::uint32_t length;
  std::int32_t level;    // segments in a path key (kPath, kStrippedPath); else -1
  PlannedStep step;
};

// Step 1: the path keys of 0 to 20 segments, the domain key, the personal
// key. Step 2: a parent per dot of a 255-character host. Step 3: 21 path keys.
constexpr int kMaxPlannedKeys = (QX_MAX_SEGMENTS + 3) + (QX_HOST_SIZE / 2) + (QX_MAX_SEGMENTS + 1);

// A plan lives on the stack of one lookup. Nothing in it is zero-filled:
// every field is written before it is read.
struct KeyPlan {
  // The full path key, and room after it for a personal-page key that is
  // not a prefix of it.
  char text[2 * (kMaxKeyLength + 1)];
  std::size_t ends[QX_MAX_SEGMENTS + 1];  // ends[n]: length of the path key of n segments
  int segments;
  bool numericHost;
  int count;  // keys planned so far
  int personalKey;  // the key that spells the personal-page key (step 1)
  PlannedKey keys[kMaxPlannedKeys];
  std::uint8_t digests[kMaxPlannedKeys][16];
};

// Composes the full path key of url into plan and empties its key list.
// lengths, when given, are ParseUrl's for this URL.
void StartKeyPlan(const QxUrl* url, KeyPlan* plan, const UrlLengths* lengths = nullptr);

// Add the keys of one step (with their digests) and return how many were
// new. Steps 2 and 3 add nothing for a numeric host.
int PlanPartKeys(const QxUrl* url, KeyPlan* plan);
int PlanParentDomainKeys(KeyPlan* plan);
int PlanStrippedHostKeys(KeyPlan* plan);

// The text of a planned key (not terminated).
inline const char* KeyText(const KeyPlan& plan, const PlannedKey& key) {
  return plan.text + key.offset;
}

// The length of a key's text as handed back: cut to kKeyTextLimit.
inline std::size_t HandedBackKeyLength(const PlannedKey& key) {
  return key.length < kKeyTextLimit ? key.length : kKeyTextLimit;
}

// Copies a key's text, cut to 1023 characters and terminated, into keyText
// (room for 1024 bytes).
void CopyPlannedKeyText(const KeyPlan& plan, const PlannedKey& key, char* keyText);

// Searches keys [from, to) of plan in each of lists[0], lists[1], ... in
// turn, keys in plan order within a list; the first record found decides.
// Every key's bucket and tags are read, and a record whose tag matches is
// prefetched, before any record is compared.
// Returns the index of the key found (and sets *listFound and *record), or
// -1.
int SearchPlannedKeys(const KeyPlan& plan, int from, int to, const ListView* lists, int listCount,
                      int* listFound, const QxListRecord** record);

}  // namespace corvane

#endif  // PELLUMIN_ENGINE_KEY_PLAN_H_
