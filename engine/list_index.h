// list_index.h -- the search index that the service keeps beside each
// sorted list, and the search of a list through it.
//
// Digests are spread evenly, so the records whose digests share their
// leading `bits` bits (a bucket) are few: with 2^bits between an eighth and
// a quarter of the record count, a bucket holds four to eight records on
// average. The index is the table of bucket starts, in list order (the
// records of bucket b are records[starts[b]] to records[starts[b + 1] - 1]),
// and a tag per record: the 16 digest bits that follow the bucket bits, in
// list order too. A search reads one table entry and the bucket's tags, one
// cache line of a table small enough to stay in the processor's cache, and
// reads a record only where its tag matches: a key that is not listed (most
// keys of a URL) costs no read of the records at all.
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

#include "bit_scan.h"

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

// Tags are read eight at a time, up to sixteen from a bucket's start; the
// array has this many entries beyond its count so that no read passes its
// end.
constexpr std::int32_t kTagSlack = 16;

struct ListIndex {
  const QxListRecord* records = nullptr;  // the array it describes
  std::int32_t count = 0;                 // and its record count
  std::uint32_t bits = 0;                 // leading digest bits per bucket
  std::uint32_t* starts = nullptr;        // 2^bits + 1 entries; null: no index
  std::uint16_t* tags = nullptr;          // count + kTagSlack entries (or more)
  std::int32_t tagCapacity = 0;           // entries allocated in tags
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

// The bucket bits for count records: the largest b with 2^b <= count / 4, or
// 0 (no index) below kMinIndexedRecords.
std::uint32_t IndexBitsFor(std::int32_t count);

// A record's tag: the 16 digest bits after the bucket bits.
inline std::uint16_t TagOf(std::uint64_t high, std::uint32_t bits) {
  return static_cast<std::uint16_t>((high << bits) >> 48);
}

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
  void Add(const QxListRecord& record) { Add(LoadBigEndian64(record.digest)); }
  // The same for a record whose leading digest word the caller has read.
  void Add(std::uint64_t high) {
    if (starts_ == nullptr || added_ >= capacity_) return;
    const std::size_t bucket = bits_ == 0 ? 0 : static_cast<std::size_t>(high >> (64 - bits_));
    ++starts_[bucket + 1];
    tags_[added_++] = TagOf(high, bits_);
  }

  // Hands the index of records (count of them) to index.
  void Finish(const QxListRecord* records, std::int32_t count, ListIndex* index);

 private:
  void Release();

  std::uint32_t bits_ = 0;
  std::uint32_t* starts_ = nullptr;  // zero-filled, then counts, then starts
  std::uint16_t* tags_ = nullptr;    // the tags of the records added
  std::int32_t capacity_ = 0;        // records the tags have room for
  std::int32_t added_ = 0;
};

// Releases the table; the index then describes nothing.
void FreeListIndex(ListIndex* index);

// Keeps the index in step after one record was inserted at position `at`
// of records, which now holds count records (the array may have moved). The
// index must have described the array before the insert, or be empty.
// When the count has outgrown the table, it is rebuilt larger; if that
// allocation fails, the old table is kept up to date instead, which stays
// correct with more records per bucket. When the tags cannot grow, the
// index is dropped and the list is searched without it.
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
// the bucket's bounds and prefetches its tags), Match (compares the tags and
// prefetches a record whose tag matches), Finish (compares digests). Every
// step may run for many probes before the next step runs for any, so that
// their memory reads overlap.
struct Probe {
  DigestWords words;
  std::int32_t begin;       // the range of records that can hold the digest
  std::int32_t end;
  std::uint32_t matches;    // bit i: the tag of record begin + i matches
                            // (all bits: a crowded bucket, not matched)
  std::uint16_t tag;
};

// Buckets with more records than this (digests crowded together) are
// searched by halving their tags in Finish.
constexpr std::int32_t kMatchedBucketLimit = 16;

inline void StartProbe(const ListView& list, const std::uint8_t* digest, Probe* probe);
inline void NarrowProbe(const ListView& list, Probe* probe);
inline void MatchProbe(const ListView& list, Probe* probe);
const QxListRecord* FinishProbe(const ListView& list, const Probe& probe);

// The four steps at once, for a single digest.
const QxListRecord* FindInList(const ListView& list, const std::uint8_t* digest);


// The first three steps run once per key and list, so they are inline.
inline void StartProbe(const ListView& list, const std::uint8_t* digest, Probe* probe) {
  probe->words = WordsOf(digest);
  probe->begin = 0;
  probe->end = list.count;
  if (list.index != nullptr) {
    // An index has at least two bucket bits (it is built for 16 records
    // and more), so the shift is below 64.
    const std::uint32_t bits = list.index->bits;
    const std::uint32_t bucket = static_cast<std::uint32_t>(probe->words.high >> (64 - bits));
    probe->tag = TagOf(probe->words.high, bits);
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
  CORVANE_PREFETCH(list.index->tags + probe->begin);
  CORVANE_PREFETCH(list.index->tags + probe->begin + (kMatchedBucketLimit - 1));
}

inline void MatchProbe(const ListView& list, Probe* probe) {
  if (list.index == nullptr) return;
  const std::int32_t size = probe->end - probe->begin;
  if (size > kMatchedBucketLimit) {
    probe->matches = ~0u;  // not known here: Finish halves the bucket
    return;
  }
  const std::uint16_t* tags = list.index->tags + probe->begin;
  std::uint32_t matches = 0;
#if defined(CORVANE_HAVE_SSE2)
  // Sixteen tags in two vectors, one mask bit per tag; the slack after the
  // array makes reading past a short bucket safe, and the bits beyond the
  // bucket are cleared.
  const __m128i wanted = _mm_set1_epi16(static_cast<short>(probe->tag));
  const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tags));
  const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tags + 8));
  const __m128i equal = _mm_packs_epi16(_mm_cmpeq_epi16(first, wanted),
                                        _mm_cmpeq_epi16(second, wanted));
  matches = static_cast<std::uint32_t>(_mm_movemask_epi8(equal));
#else
  for (std::int32_t i = 0; i < kMatchedBucketLimit; ++i) {
    matches |= static_cast<std::uint32_t>(tags[i] == probe->tag) << i;
  }
#endif
  matches &= (std::uint32_t{1} << size) - 1u;
  probe->matches = matches;
  if (matches != 0) CORVANE_PREFETCH(list.records[probe->begin + LowestBit(matches)].digest);
}

// Whether Match has shown that the digest is not listed: no tag of its
// bucket matched (most keys), so Finish need not run.
inline bool SurelyAbsent(const ListView& list, const Probe& probe) {
  return list.index != nullptr && probe.matches == 0;
}

}  // namespace corvane

#endif  // PELLUMIN_ENGINE_LIST_INDEX_H_
