// list_index.cpp -- building the bucket table of a sorted list, keeping it in
// step with inserts, and searching a list through it.
#include "list_index.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "policy.h"

namespace corvane {
namespace {

// Beyond 2^30 buckets the table alone would need 4 GB.
constexpr std::uint32_t kMaxIndexBits = 30;

// The lookup shifts by 64 - bits and needs bits >= 1: an indexed list has
// at least 8 records, so its table has at least one bit.
static_assert(kMinIndexedRecords >= 8, "an index has bucket bits");

inline std::uint32_t BucketOf(const DigestWords& words, std::uint32_t bits) {
  return bits == 0 ? 0u : static_cast<std::uint32_t>(words.high >> (64 - bits));
}

inline std::uint32_t BucketOfRecord(const QxListRecord& record, std::uint32_t bits) {
  return bits == 0 ? 0u : static_cast<std::uint32_t>(LoadBigEndian64(record.digest) >> (64 - bits));
}

// Compares a record's digest with words: negative, zero or positive as the
// record lies below, at or above them.
inline int CompareRecord(const QxListRecord& record, const DigestWords& words) {
  const std::uint64_t high = LoadBigEndian64(record.digest);
  if (high != words.high) return high < words.high ? -1 : 1;
  const std::uint64_t low = LoadBigEndian64(record.digest + 8);
  if (low != words.low) return low < words.low ? -1 : 1;
  return 0;
}

std::size_t TableEntries(std::uint32_t bits) { return (static_cast<std::size_t>(1) << bits) + 1; }

// Turns starts[b + 1] = the number of records in bucket b into the bucket
// starts.
void SumCounts(std::uint32_t* starts, std::uint32_t bits) {
  const std::size_t buckets = static_cast<std::size_t>(1) << bits;
  starts[0] = 0;
  for (std::size_t b = 1; b <= buckets; ++b) starts[b] += starts[b - 1];
}

// Allocates zero-filled tags for count records and the slack, or null.
std::uint16_t* NewTags(std::int32_t count, std::int32_t* capacity) {
  const std::int64_t entries = static_cast<std::int64_t>(count) + kTagSlack;
  if (entries > std::numeric_limits<std::int32_t>::max()) return nullptr;
  *capacity = static_cast<std::int32_t>(entries);
  return static_cast<std::uint16_t*>(
      PolicyCalloc(static_cast<std::size_t>(entries), sizeof(std::uint16_t)));
}

// Allocates a zero-filled table (for the counts), or null.
std::uint32_t* NewTable(std::uint32_t bits) {
  const std::size_t entries = TableEntries(bits);
  if (entries > std::numeric_limits<std::size_t>::max() / sizeof(std::uint32_t)) return nullptr;
  return static_cast<std::uint32_t*>(PolicyCalloc(entries, sizeof(std::uint32_t)));
}

// Finds words among count records in list order, for a list without an
// index.
//
// Digests are uniformly spread, so the search first interpolates on the
// leading eight bytes. An estimate over a range of n records is off by about
// sqrt(n)/2, so each round probes the estimate and then a guard record
// sqrt(n) further on, which brackets the target in a range of about sqrt(n)
// records. The rounds are bounded and halving finishes the range, so a list
// that is not uniform costs at most a few extra probes.
const QxListRecord* InterpolationSearch(const DigestWords& words, const QxListRecord* records,
                                        std::int32_t count) {
  std::int64_t lo = 0;
  std::int64_t hi = static_cast<std::int64_t>(count) - 1;
  const std::uint64_t target = words.high;
  for (int round = 0; round < 3 && hi - lo > 32; ++round) {
    const std::uint64_t low = LoadBigEndian64(records[lo].digest);
    const std::uint64_t high = LoadBigEndian64(records[hi].digest);
    if (target < low || target > high) return nullptr;
    if (high == low) break;
    const double fraction = static_cast<double>(target - low) / static_cast<double>(high - low);
    std::int64_t probe = lo + static_cast<std::int64_t>(fraction * static_cast<double>(hi - lo));
    if (probe < lo) probe = lo;
    if (probe > hi) probe = hi;
    int order = -CompareRecord(records[probe], words);
    if (order == 0) return &records[probe];
    const std::int64_t step = 8 + static_cast<std::int64_t>(std::sqrt(static_cast<double>(hi - lo)));
    if (order < 0) {
      hi = probe - 1;
      const std::int64_t guard = probe - step;
      if (guard > lo) {
        order = -CompareRecord(records[guard], words);
        if (order == 0) return &records[guard];
        if (order > 0) {
          lo = guard + 1;
        } else {
          hi = guard - 1;
        }
      }
    } else {
      lo = probe + 1;
      const std::int64_t guard = probe + step;
      if (guard < hi) {
        order = -CompareRecord(records[guard], words);
        if (order == 0) return &records[guard];
        if (order < 0) {
          hi = guard - 1;
        } else {
          lo = guard + 1;
        }
      }
    }
  }
  while (lo <= hi) {
    const std::int64_t mid = lo + (hi - lo) / 2;
    const int order = -CompareRecord(records[mid], words);
    if (order == 0) return &records[mid];
    if (order < 0) {
      hi = mid - 1;
    } else {
      lo = mid + 1;
    }
  }
  return nullptr;
}

}  // namespace

std::uint32_t IndexBitsFor(std::int32_t count) {
  if (count < kMinIndexedRecords) return 0;
  std::uint32_t bits = 0;
  while (bits < kMaxIndexBits && (static_cast<std::int64_t>(1) << (bits + 1)) <= count / 4) ++bits;
  return bits;
}

std::size_t ListIndexBytes(std::int32_t count) {
  if (count < kMinIndexedRecords) return 0;
  return TableEntries(IndexBitsFor(count)) * sizeof(std::uint32_t) +
         (static_cast<std::size_t>(count) + kTagSlack) * sizeof(std::uint16_t);
}

void FreeListIndex(ListIndex* index) {
  std::free(index->starts);
  std::free(index->tags);
  *index = ListIndex();
}

void BuildListIndex(ListIndex* index, const QxListRecord* records, std::int32_t count) {
  FreeListIndex(index);
  if (records == nullptr) return;
  IndexBuilder builder(count);
  for (std::int32_t i = 0; i < count; ++i) builder.Add(records[i]);
  builder.Finish(records, count, index);
}

IndexBuilder::IndexBuilder(std::int32_t expected) {
  if (expected < kMinIndexedRecords) return;
  bits_ = IndexBitsFor(expected);
  starts_ = NewTable(bits_);
  std::int32_t entries = 0;
  tags_ = NewTags(expected, &entries);
  capacity_ = entries - kTagSlack;
  if (starts_ == nullptr || tags_ == nullptr) Release();
}

IndexBuilder::~IndexBuilder() { Release(); }

void IndexBuilder::Release() {
  std::free(starts_);
  std::free(tags_);
  starts_ = nullptr;
  tags_ = nullptr;
  capacity_ = 0;
}

void IndexBuilder::Finish(const QxListRecord* records, std::int32_t count, ListIndex* index) {
  FreeListIndex(index);
  if (starts_ == nullptr) return;
  if (IndexBitsFor(count) != bits_ || count != added_) {
    // A filter kept far fewer records than the list declared (or the
    // records counted are not the ones handed over): built afresh.
    Release();
    BuildListIndex(index, records, count);
    return;
  }
  SumCounts(starts_, bits_);
  index->records = records;
  index->count = count;
  index->bits = bits_;
  index->starts = starts_;
  index->tags = tags_;
  index->tagCapacity = capacity_ + kTagSlack;
  starts_ = nullptr;
  tags_ = nullptr;
  capacity_ = 0;
}

void NoteInsertedRecord(ListIndex* index, const QxListRecord* records, std::int32_t count,
                        std::int32_t at) {
  if (index->starts == nullptr || IndexBitsFor(count) > index->bits) {
    ListIndex rebuilt;
    BuildListIndex(&rebuilt, records, count);
    if (rebuilt.starts != nullptr || index->starts == nullptr) {
      FreeListIndex(index);
      *index = rebuilt;
      return;
    }
    // No memory for a larger table: the one there is still serves.
  }
  // The tags follow the records: one more at `at`, the rest moved up.
  if (static_cast<std::int64_t>(count) + kTagSlack > index->tagCapacity) {
    const std::int64_t wanted =
        std::max<std::int64_t>(static_cast<std::int64_t>(count) + kTagSlack,
                               static_cast<std::int64_t>(index->tagCapacity) * 2);
    void* grown = wanted > std::numeric_limits<std::int32_t>::max()
                      ? nullptr
                      : PolicyRealloc(index->tags, static_cast<std::size_t>(wanted) *
                                                       sizeof(std::uint16_t));
    if (grown == nullptr) {
      // Without room for the tags the list is searched by itself.
      FreeListIndex(index);
      return;
    }
    index->tags = static_cast<std::uint16_t*>(grown);
    index->tagCapacity = static_cast<std::int32_t>(wanted);
  }
  std::memmove(index->tags + at + 1, index->tags + at,
               static_cast<std::size_t>(count - 1 - at) * sizeof(std::uint16_t));
  index->tags[at] = TagOf(LoadBigEndian64(records[at].digest), index->bits);
  const std::size_t buckets = static_cast<std::size_t>(1) << index->bits;
  for (std::size_t b = BucketOfRecord(records[at], index->bits) + 1; b <= buckets; ++b) {
    ++index->starts[b];
  }
  index->records = records;
  index->count = count;
}

ListView ViewOf(const QxListRecord* records, std::int32_t count, const ListIndex* index) {
  ListView view;
  if (records == nullptr || count <= 0) return view;
  view.records = records;
  view.count = count;
  if (index != nullptr && index->starts != nullptr && index->records == records &&
      index->count == count) {
    view.index = index;
  }
  return view;
}

inline bool SameDigest(const QxListRecord& record, const DigestWords& words) {
  return LoadBigEndian64(record.digest) == words.high &&
         LoadBigEndian64(record.digest + 8) == words.low;
}

const QxListRecord* FinishProbe(const ListView& list, const Probe& probe) {
  if (list.index == nullptr) return InterpolationSearch(probe.words, list.records, list.count);
  if (probe.end - probe.begin <= kMatchedBucketLimit) {
    for (std::uint32_t matches = probe.matches; matches != 0; matches &= matches - 1) {
      const QxListRecord& record = list.records[probe.begin + LowestBit(matches)];
      if (SameDigest(record, probe.words)) return &record;
    }
    return nullptr;
  }
  // A crowded bucket: its tags are in list order, so halving finds the
  // first tag not below the digest's, and only records with its tag follow.
  const std::uint16_t* tags = list.index->tags;
  std::int32_t low = probe.begin;
  std::int32_t high = probe.end;
  while (low < high) {
    const std::int32_t middle = low + (high - low) / 2;
    if (tags[middle] < probe.tag) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  for (std::int32_t i = low; i < probe.end && tags[i] == probe.tag; ++i) {
    const int order = CompareRecord(list.records[i], probe.words);
    if (order == 0) return &list.records[i];
    if (order > 0) break;
  }
  return nullptr;
}

const QxListRecord* FindInList(const ListView& list, const std::uint8_t* digest) {
  if (list.count <= 0) return nullptr;
  Probe probe;
  StartProbe(list, digest, &probe);
  NarrowProbe(list, &probe);
  MatchProbe(list, &probe);
  return FinishProbe(list, probe);
}

}  // namespace corvane
