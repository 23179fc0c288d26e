// list_index.h -- the search index that the service keeps beside each
// sorted list, and the search of a list through it.
//
// Digests are spread evenly, so the records whose digests share their
// leading `bits` bits (a bucket) are few: with 2^bits between half the
// record count and the record count, a bucket holds one or two records on
// average. The index is the table of bucket starts, in list order: the
// records of bucket b are records[starts[b]] to records[starts[b + 1] - 1].
// A search reads one table entry and then one or two cache lines of records.
//
// The index describes one array: the lookup uses it only while the service's
// array and count are the ones it was built for, and searches the array by
// itself otherwise (a list too short to index, an index that could not be
// allocated, or an array that a caller installed by hand).
#ifndef PELLUMIN_ENGINE_LIST_INDEX_H_
#define PELLUMIN_ENGINE_LIST_INDEX_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "corvane.h"

#if defined(_MSC_VER)
#include <stdlib.h>  // _byteswap_uint64
#endif

#if defined(__GNUC__) || defined(__clang__)
#define CORVANE_PREFETCH(address) __builtin_prefetch(address)
#elif defined(_MSC_VER) && (defined(_M_IX86) || defined(_M_X64))
#include <xmmintrin.h>
#define CORVANE_PREFETCH(address) \
  _mm_prefetch(reinterpret_cast<const char*>(address), _MM_HINT_T0)
#else
#define CORVANE_PREFETCH(address) ((void)0)
#endif

namespace corvane {

// Lists shorter than this are searched without an index: a binary search of
// a few records touches no more cache lines than the index would.
constexpr std::int32_t kMinIndexedRecords = 16;

struct ListIndex {
  const QxListRecord* records = nullptr;  // the array it describes
  std::int32_t count = 0;                 // and its record count
  std::uint32_t bits = 0;                 // leading digest bits per bucket
  std::uint32_t* starts = nullptr;        // 2^bits + 1 entries; null: no index
};

// A digest as two 64-bit words whose order (high word first) is the list
// order of the 16 bytes.
struct DigestWords {
  std::uint64_t high;
  std::uint64_t low;
};

// Eight bytes read as a big-endian number: on a little-endian machine one
// load and one byte swap.
inline std::uint64_t LoadBigEndian64(const std::uint8_t* bytes) {
#if (defined(__GNUC__) || defined(__clang__)) && defined(__BYTE_ORDER__) && \
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  std::uint64_t value;
  std::memcpy(&value, bytes, sizeof value);
  return __builtin_bswap64(value);
#elif defined(_MSC_VER)
  std::uint64_t value;
  std::memcpy(&value, bytes, sizeof value);
  return _byteswap_uint64(value);
#else
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value = (value << 8) | bytes[i];
  return value;
#endif
}

inline DigestWords WordsOf(const std::uint8_t* digest) {
  return DigestWords{LoadBigEndian64(digest), LoadBigEndian64(digest + 8)};
}

// The bucket bits for count records: the largest b with 2^b <= count, or 0
// (no index) below kMinIndexedRecords.
std::uint32_t IndexBitsFor(std::int32_t count);

// The bytes an index for count records takes (0 when none is built).
std::size_t ListIndexBytes(std::int32_t count);

// Builds the index of records (replacing what index held). When the table
// cannot be allocated, or the list is too short, index is left without one
// and lookups search the array directly.
void BuildListIndex(ListIndex* index, const QxListRecord* records, std::int32_t count);

// Builds an index while a list is read, record by record, so that each
// record is looked at while the reader has it in cache. The table is sized
// for the count the list declares; Finish completes it for the records
// actually kept, and builds it anew when a filter kept so few that the
// table would be too large for them.
class IndexBuilder {
 public:
  explicit IndexBuilder(std::int32_t expected);
  ~IndexBuilder();
  IndexBuilder(const IndexBuilder&) = delete;
  IndexBuilder& operator=(const IndexBuilder&) = delete;

  // Counts one record kept (records arrive in list order). Counting, then
  // summing the counts, has no branch that depends on the data; placing
  // each bucket's start while reading mispredicted about once a record.
  void Add(const QxListRecord& record) {
    if (starts_ == nullptr) return;
    const std::size_t bucket =
        bits_ == 0 ? 0 : static_cast<std::size_t>(LoadBigEndian64(record.digest) >> (64 - bits_));
    ++starts_[bucket + 1];
  }

  // Hands the index of records (count of them) to index.
  void Finish(const QxListRecord* records, std::int32_t count, ListIndex* index);

 private:
  std::uint32_t bits_ = 0;
  std::uint32_t* starts_ = nullptr;  // zero-filled, then counts, then starts
};

// Releases the table; the index then describes nothing.
void FreeListIndex(ListIndex* index);

// Keeps the index in step after one record was inserted at position `at`
// of records, which now holds count records (the array may have moved). The
// index must have described the array before the insert, or be empty.
// When the count has outgrown the table, it is rebuilt larger; if that
// allocation fails, the old table is kept up to date instead, which stays
// correct with more records per bucket.
void NoteInsertedRecord(ListIndex* index, const QxListRecord* records, std::int32_t count,
                        std::int32_t at);

// A list as the lookup searches it: the array, its count, and its index
// when the index describes exactly this array.
struct ListView {
  const QxListRecord* records = nullptr;
  std::int32_t count = 0;
  const ListIndex* index = nullptr;
};

ListView ViewOf(const QxListRecord* records, std::int32_t count, const ListIndex* index);

// One digest to find in one list, through the steps of a batched search:
// Start (computes the bucket and prefetches its table entry), Narrow (reads
// the bucket's bounds and prefetches its records), Finish (compares). Every
// step may run for many probes before the next step runs for any, so that
// their memory reads overlap.
struct Probe {
  DigestWords words;
  std::int32_t begin;  // the range of records that can hold the digest
  std::int32_t end;
};

inline void StartProbe(const ListView& list, const std::uint8_t* digest, Probe* probe);
inline void NarrowProbe(const ListView& list, Probe* probe);
const QxListRecord* FinishProbe(const ListView& list, const Probe& probe);

// The three steps at once, for a single digest.
const QxListRecord* FindInList(const ListView& list, const std::uint8_t* digest);

// The first two steps run once per key and list, so they are inline.
inline void StartProbe(const ListView& list, const std::uint8_t* digest, Probe* probe) {
  probe->words = WordsOf(digest);
  probe->begin = 0;
  probe->end = list.count;
  if (list.index != nullptr) {
    const std::uint32_t bits = list.index->bits;
    const std::uint32_t bucket =
        bits == 0 ? 0u : static_cast<std::uint32_t>(probe->words.high >> (64 - bits));
    // The bucket's bounds are this entry and the next, almost always in one
    // cache line; begin holds the bucket until NarrowProbe reads them.
    probe->begin = static_cast<std::int32_t>(bucket);
    CORVANE_PREFETCH(list.index->starts + bucket);
  }
}

inline void NarrowProbe(const ListView& list, Probe* probe) {
  if (list.index == nullptr) return;
  const std::uint32_t* entry = list.index->starts + probe->begin;
  probe->begin = static_cast<std::int32_t>(entry[0]);
  probe->end = static_cast<std::int32_t>(entry[1]);
  if (probe->begin < probe->end) {
    CORVANE_PREFETCH(list.records[probe->begin].digest);
    CORVANE_PREFETCH(list.records[probe->end - 1].digest + 15);
  }
}

}  // namespace corvane

#endif  // PELLUMIN_ENGINE_LIST_INDEX_H_
