// policy.h -- the engine's policy side inside the library: the site list
// store, the period test, the matching rules of the policy lists, and the
// allocator hook that lets tests make memory run out.
#ifndef PELLUMIN_ENGINE_POLICY_H_
#define PELLUMIN_ENGINE_POLICY_H_

#include <cstddef>
#include <cstdint>

#include "corvane.h"

namespace corvane {

// ---------------------------------------------------------------------------
// Allocation. Everything the service owns is released with std::free, so the
// engine allocates the service, sets, list arrays and policy entries with
// std::calloc and std::realloc, through these two functions, where tests can
// make memory run out.
// ---------------------------------------------------------------------------

// count * size zero-filled bytes, or null.
void* PolicyCalloc(std::size_t count, std::size_t size);

// std::realloc: on failure null, and block is left as it was.
void* PolicyRealloc(void* block, std::size_t size);

// Tests install a hook that returns true for each allocation that is to
// fail (null restores normal allocation). Returns the hook it replaced. Not
// for use while other threads call the engine.
using AllocationFailureHook = bool (*)();
AllocationFailureHook SetAllocationFailureHookForTesting(AllocationFailureHook hook);

// ---------------------------------------------------------------------------
// Site list update
// ---------------------------------------------------------------------------

// Stores one record for url's full path key (built here, its digest left in
// url->digest) in the site list: an existing record for the key is replaced
// where it stands, a new one is inserted at its place in the order after the
// array has grown by one. On QX_ERR_NO_MEMORY the site list is as it was.
int AddSiteRecord(QxService* service, QxUrl* url);

// records holds count records in list order and has room for count + 1.
// Overwrites the record whose digest equals url->digest, or else inserts a
// new one at its place in the order. Returns the new count (count or
// count + 1); the array stays strictly ascending.
std::int32_t StoreSiteRecord(const QxUrl* url, QxListRecord* records, std::int32_t count);

// The kind a site record gets from controls 10, 11 and 12 of a request.
std::uint8_t SiteRecordKind(std::uint32_t requestControls);

// ---------------------------------------------------------------------------
// Period test
// ---------------------------------------------------------------------------

// 1 during business hours (and always when the hours table is off), 0 in the
// other hours.
int IsBusinessHours(const QxService* service);

// ---------------------------------------------------------------------------
// Matching rules of the policy lists (ASCII letters compare without regard
// to case).
// ---------------------------------------------------------------------------

// Whether an entry of the given stored mode takes part in a check made in
// the given period (1 business hours, 0 other hours).
bool EntryTakesPart(std::int32_t mode, int businessHours);

// "*REST" matches hosts ending with REST; "PRE*SUF" hosts beginning with PRE
// whose remainder ends with SUF; a pattern without "*" the equal host.
bool MatchSitePattern(const char* pattern, const char* host);

// The first position in query where a parameter begins with name (at the
// start or right after an "&"), or null. An empty name is found at the start.
const char* FindQueryParameter(const char* query, const char* name);

// Splits terms at every "&" and "+" and matches each word against the
// restricted search-word list under restriction. Every matching entry's
// controls are added to reason and reason's categories are emptied. Returns
// true when at least one entry matched.
bool MatchSearchTerms(const QxService* service, const char* terms, const QxTypes* restriction,
                      QxTypes* reason);

// The extension of a path segment: the text after its last ".", where that
// "." is not the segment's first character; null when there is none.
const char* SegmentExtension(const char* segment);

}  // namespace corvane

#endif  // PELLUMIN_ENGINE_POLICY_H_
