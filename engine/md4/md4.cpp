// md4.cpp -- MD4 as published in RFC 1320, written for short inputs: the
// one-call digest works on 32-bit words straight from the caller's bytes and
// pads the tail in a stack block, with no allocation; the batch digest runs
// several messages' steps side by side.
#include "md4/md4.h"

#include <cstring>

#include <atomic>

#include "base/endian.h"

#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
#include <emmintrin.h>
#define CORVANE_MD4_SSE2 1
// On x86 with GCC or Clang the functions that run lanes are compiled a
// second time for processors with AVX: the same SSE2 operations in their
// three-operand VEX forms, which spare the register copies the two-operand
// forms need (F, G and H each overwrite an operand that is still wanted, the
// rotation takes two shifts of one copy). Which of the two runs is decided
// once, from CPUID. A build for AVX processors only has nothing to choose.
#if (defined(__x86_64__) || defined(__i386__)) && !defined(__AVX__)
#include <cpuid.h>
#define CORVANE_MD4_AVX 1
#endif
#endif

namespace corvane {
namespace {

// The rounds are written once for a word type W: a plain 32-bit word for one
// message, or Lanes, four words handled side by side for four messages. The
// steps of one message depend on each other in a chain; four independent
// chains keep the processor busy where one leaves it waiting. The compiler's
// vectors serve where the target has SSE2; elsewhere (a 32-bit build for
// the oldest processors, MSVC) a plain structure of four words does.
#if (defined(__GNUC__) || defined(__clang__)) && defined(__SSE2__)
typedef std::uint32_t Lanes __attribute__((vector_size(16)));
#else
struct Lanes {
  std::uint32_t v[4];
  std::uint32_t& operator[](int i) { return v[i]; }
  std::uint32_t operator[](int i) const { return v[i]; }
};
inline Lanes Apply(const Lanes& x, const Lanes& y, std::uint32_t (*op)(std::uint32_t, std::uint32_t)) {
  return Lanes{{op(x.v[0], y.v[0]), op(x.v[1], y.v[1]), op(x.v[2], y.v[2]), op(x.v[3], y.v[3])}};
}
inline Lanes operator+(const Lanes& x, const Lanes& y) {
  return Apply(x, y, [](std::uint32_t a, std::uint32_t b) { return a + b; });
}
inline Lanes operator+(const Lanes& x, std::uint32_t k) { return x + Lanes{{k, k, k, k}}; }
inline Lanes operator&(const Lanes& x, const Lanes& y) {
  return Apply(x, y, [](std::uint32_t a, std::uint32_t b) { return a & b; });
}
inline Lanes operator|(const Lanes& x, const Lanes& y) {
  return Apply(x, y, [](std::uint32_t a, std::uint32_t b) { return a | b; });
}
inline Lanes operator^(const Lanes& x, const Lanes& y) {
  return Apply(x, y, [](std::uint32_t a, std::uint32_t b) { return a ^ b; });
}
inline Lanes operator~(const Lanes& x) { return Lanes{{~x.v[0], ~x.v[1], ~x.v[2], ~x.v[3]}}; }
inline Lanes operator<<(const Lanes& x, int n) {
  return Lanes{{x.v[0] << n, x.v[1] << n, x.v[2] << n, x.v[3] << n}};
}
inline Lanes operator>>(const Lanes& x, int n) {
  return Lanes{{x.v[0] >> n, x.v[1] >> n, x.v[2] >> n, x.v[3] >> n}};
}
inline Lanes& operator+=(Lanes& x, const Lanes& y) { return x = x + y; }
#endif

// The rounds and the helpers of the lanes are small and called in tight
// loops: the compiler is told to inline them.
#if defined(__GNUC__) || defined(__clang__)
#define CORVANE_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define CORVANE_ALWAYS_INLINE inline
#endif

template <typename W>
CORVANE_ALWAYS_INLINE W RotateLeft(W x, int n) {
  return (x << n) | (x >> (32 - n));
}

// The compiler re-orders a sum of several terms as it sees fit, which may
// put the term that is ready last into the middle of the chain. An empty
// asm statement that claims to change the value keeps a partial sum whole:
// it is computed as written and the rest is added to it.
#if (defined(__GNUC__) || defined(__clang__))
CORVANE_ALWAYS_INLINE std::uint32_t Settled(std::uint32_t v) {
  __asm__("" : "+r"(v));
  return v;
}
#else
CORVANE_ALWAYS_INLINE std::uint32_t Settled(std::uint32_t v) { return v; }
#endif
#if defined(CORVANE_MD4_SSE2)
CORVANE_ALWAYS_INLINE Lanes Settled(Lanes v) {
  __asm__("" : "+x"(v));
  return v;
}
#else
CORVANE_ALWAYS_INLINE Lanes Settled(const Lanes& v) { return v; }
#endif

using base::LoadLe32;
using base::StoreLe32;

constexpr std::uint32_t kInitialState[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};

// The 48 steps of RFC 1320 as a list, STEP(round, a, b, c, d, word, shift),
// written out once for the rounds of one set of lanes and once for two sets
// run step by step side by side.
#define MD4_STEPS(STEP)                                                                  \
  STEP(1, a, b, c, d, 0, 3)  STEP(1, d, a, b, c, 1, 7)  STEP(1, c, d, a, b, 2, 11)       \
  STEP(1, b, c, d, a, 3, 19) STEP(1, a, b, c, d, 4, 3)  STEP(1, d, a, b, c, 5, 7)        \
  STEP(1, c, d, a, b, 6, 11) STEP(1, b, c, d, a, 7, 19) STEP(1, a, b, c, d, 8, 3)        \
  STEP(1, d, a, b, c, 9, 7)  STEP(1, c, d, a, b, 10, 11) STEP(1, b, c, d, a, 11, 19)     \
  STEP(1, a, b, c, d, 12, 3) STEP(1, d, a, b, c, 13, 7) STEP(1, c, d, a, b, 14, 11)      \
  STEP(1, b, c, d, a, 15, 19)                                                            \
  STEP(2, a, b, c, d, 0, 3)  STEP(2, d, a, b, c, 4, 5)  STEP(2, c, d, a, b, 8, 9)        \
  STEP(2, b, c, d, a, 12, 13) STEP(2, a, b, c, d, 1, 3) STEP(2, d, a, b, c, 5, 5)        \
  STEP(2, c, d, a, b, 9, 9)  STEP(2, b, c, d, a, 13, 13) STEP(2, a, b, c, d, 2, 3)       \
  STEP(2, d, a, b, c, 6, 5)  STEP(2, c, d, a, b, 10, 9) STEP(2, b, c, d, a, 14, 13)      \
  STEP(2, a, b, c, d, 3, 3)  STEP(2, d, a, b, c, 7, 5)  STEP(2, c, d, a, b, 11, 9)       \
  STEP(2, b, c, d, a, 15, 13)                                                            \
  STEP(3, a, b, c, d, 0, 3)  STEP(3, d, a, b, c, 8, 9)  STEP(3, c, d, a, b, 4, 11)       \
  STEP(3, b, c, d, a, 12, 15) STEP(3, a, b, c, d, 2, 3) STEP(3, d, a, b, c, 10, 9)       \
  STEP(3, c, d, a, b, 6, 11) STEP(3, b, c, d, a, 14, 15) STEP(3, a, b, c, d, 1, 3)       \
  STEP(3, d, a, b, c, 9, 9)  STEP(3, c, d, a, b, 5, 11) STEP(3, b, c, d, a, 13, 15)      \
  STEP(3, a, b, c, d, 3, 3)  STEP(3, d, a, b, c, 11, 9) STEP(3, c, d, a, b, 7, 11)       \
  STEP(3, b, c, d, a, 15, 15)

// Each step waits for b, the result of the step before; a, c, d and the
// message word are older. What does not need b is summed first, behind
// Settled, and b's part is added last, so that a step costs the operations
// on b's path alone: F, then an add, then the rotation. F is
// d ^ (b & (c ^ d)). G, the majority, is written as the sum of two parts
// that never share a bit, (c & d) + (b & (c ^ d)): the first joins the early
// sum and only one AND on b is left. H is b ^ (c ^ d).
#define MD4_R1(a, b, c, d, xk, s) a = RotateLeft(Settled(a + (xk)) + ((d) ^ ((b) & Settled((c) ^ (d)))), s)
#define MD4_R2(a, b, c, d, xk, s) \
  a = RotateLeft(Settled(a + (xk) + 0x5a827999u + ((c) & (d))) + ((b) & Settled((c) ^ (d))), s)
#define MD4_R3(a, b, c, d, xk, s) a = RotateLeft(Settled(a + (xk) + 0x6ed9eba1u) + ((b) ^ Settled((c) ^ (d))), s)

// The 48 steps on one block of message words x.
template <typename W>
CORVANE_ALWAYS_INLINE void Rounds(W state[4], const W x[16]) {
  W a = state[0], b = state[1], c = state[2], d = state[3];
#define MD4_ONE(r, a, b, c, d, k, s) MD4_R##r(a, b, c, d, x[k], s);
  MD4_STEPS(MD4_ONE)
#undef MD4_ONE
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

// The 48 steps on two independent sets of lanes, one step of each in turn:
// each chain waits on itself, and the other's step fills the wait. The two
// word types may differ (four vector lanes beside one plain word).
template <typename W1, typename W2>
CORVANE_ALWAYS_INLINE void RoundsSideBySide(W1 state1[4], const W1 x1[16], W2 state2[4],
                                            const W2 x2[16]) {
  W1 a1 = state1[0], b1 = state1[1], c1 = state1[2], d1 = state1[3];
  W2 a2 = state2[0], b2 = state2[1], c2 = state2[2], d2 = state2[3];
#define MD4_TWO(r, a, b, c, d, k, s)            \
  MD4_R##r(a##1, b##1, c##1, d##1, x1[k], s); \
  MD4_R##r(a##2, b##2, c##2, d##2, x2[k], s);
  MD4_STEPS(MD4_TWO)
#undef MD4_TWO
  state1[0] += a1;
  state1[1] += b1;
  state1[2] += c1;
  state1[3] += d1;
  state2[0] += a2;
  state2[1] += b2;
  state2[2] += c2;
  state2[3] += d2;
}

#undef MD4_R1
#undef MD4_R2
#undef MD4_R3
#undef MD4_STEPS

template <typename W>
CORVANE_ALWAYS_INLINE void InitialState(W state[4]) {
  for (int w = 0; w < 4; ++w) state[w] = W{} + kInitialState[w];
}

CORVANE_ALWAYS_INLINE void LoadWords(std::uint32_t x[16], const std::uint8_t block[64]) {
  for (int i = 0; i < 16; ++i) x[i] = LoadLe32(block + 4 * i);
}

void TransformBlock(std::uint32_t state[4], const std::uint8_t block[64]) {
  std::uint32_t x[16];
  LoadWords(x, block);
  Rounds(state, x);
}

// Copies length < 64 bytes in a few fixed-size moves instead of a call:
// 16-byte pieces at 0, 16 and 32 where they fit and one ending at length,
// overlapping where they meet; shorter texts in two overlapping 8- or 4-byte
// pieces, or byte by byte. Reads and writes only [0, length).
CORVANE_ALWAYS_INLINE void CopyShort(std::uint8_t* to, const std::uint8_t* from,
                                     std::size_t length) {
  if (length >= 16) {
    const std::size_t last = length - 16;
    const std::size_t second = last < 16 ? last : 16;
    const std::size_t third = last < 32 ? last : 32;
    std::memcpy(to, from, 16);
    std::memcpy(to + second, from + second, 16);
    std::memcpy(to + third, from + third, 16);
    std::memcpy(to + last, from + last, 16);
  } else if (length >= 8) {
    std::memcpy(to, from, 8);
    std::memcpy(to + length - 8, from + length - 8, 8);
  } else if (length >= 4) {
    std::memcpy(to, from, 4);
    std::memcpy(to + length - 4, from + length - 4, 4);
  } else if (length > 0) {
    to[0] = from[0];
    to[length / 2] = from[length / 2];
    to[length - 1] = from[length - 1];
  }
}

// A message shorter than 56 bytes in its one padded block: the bytes, 0x80,
// zeros, the bit length.
CORVANE_ALWAYS_INLINE void PadOneBlock(const std::uint8_t* message, std::size_t length,
                                       std::uint8_t block[64]) {
  std::memset(block, 0, 64);
  CopyShort(block, message, length);
  block[length] = 0x80;
  StoreLe32(block + 56, static_cast<std::uint32_t>(length * 8));
}

// The padded end of a message: its last partial block, 0x80, zeros and the
// bit length, in one or two blocks.
struct PaddedTail {
  std::uint8_t bytes[128];
  std::size_t blocks;  // 1 or 2
};

void PadTail(const std::uint8_t* tail, std::size_t tailLength, std::uint64_t totalLength,
             PaddedTail* padded) {
  padded->blocks = tailLength < 56 ? 1 : 2;
  std::memset(padded->bytes, 0, 64);
  if (padded->blocks == 2) std::memset(padded->bytes + 64, 0, 64);
  CopyShort(padded->bytes, tail, tailLength);
  padded->bytes[tailLength] = 0x80;
  const std::uint64_t bits = totalLength * 8;
  std::uint8_t* end = padded->bytes + 64 * padded->blocks;
  StoreLe32(end - 8, static_cast<std::uint32_t>(bits));
  StoreLe32(end - 4, static_cast<std::uint32_t>(bits >> 32));
}

// Pads the last partial block (tail holds tailLength < 64 bytes) and runs
// the one or two final blocks.
void FinishBlocks(std::uint32_t state[4], const std::uint8_t* tail, std::size_t tailLength,
                  std::uint64_t totalLength) {
  PaddedTail padded;
  PadTail(tail, tailLength, totalLength, &padded);
  TransformBlock(state, padded.bytes);
  if (padded.blocks == 2) TransformBlock(state, padded.bytes + 64);
}

// One message of a batch: its bytes and where its digest goes.
struct Job {
  const std::uint8_t* data;
  std::size_t length;
  std::uint8_t* digest;
};

CORVANE_ALWAYS_INLINE void StoreDigest(const std::uint32_t state[4], std::uint8_t* digest) {
  for (int w = 0; w < 4; ++w) StoreLe32(digest + 4 * w, state[w]);
}

// Message words in and digests out for N lanes, one word at a time: works
// everywhere.
template <typename V, int N>
struct WordLoader {
  static CORVANE_ALWAYS_INLINE void Load(V x[16], const std::uint8_t* const blocks[N]) {
    for (int i = 0; i < 16; ++i) {
      for (int lane = 0; lane < N; ++lane) x[i][lane] = LoadLe32(blocks[lane] + 4 * i);
    }
  }
  static CORVANE_ALWAYS_INLINE void Store(const V state[4], const Job jobs[], int used) {
    for (int lane = 0; lane < used; ++lane) {
      for (int w = 0; w < 4; ++w) StoreLe32(jobs[lane].digest + 4 * w, state[w][lane]);
    }
  }
};

#if defined(CORVANE_MD4_SSE2)
// Four words of each of four blocks at a time, turned into one word of each
// block in each of four vectors (a 4 x 4 transposition; x86 is
// little-endian, as MD4's words are).
struct Sse2Loader {
  static CORVANE_ALWAYS_INLINE void Load(Lanes x[16], const std::uint8_t* const blocks[4]) {
    for (int i = 0; i < 16; i += 4) {
      const __m128i w0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks[0] + 4 * i));
      const __m128i w1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks[1] + 4 * i));
      const __m128i w2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks[2] + 4 * i));
      const __m128i w3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks[3] + 4 * i));
      const __m128i low01 = _mm_unpacklo_epi32(w0, w1);
      const __m128i low23 = _mm_unpacklo_epi32(w2, w3);
      const __m128i high01 = _mm_unpackhi_epi32(w0, w1);
      const __m128i high23 = _mm_unpackhi_epi32(w2, w3);
      x[i] = reinterpret_cast<Lanes>(_mm_unpacklo_epi64(low01, low23));
      x[i + 1] = reinterpret_cast<Lanes>(_mm_unpackhi_epi64(low01, low23));
      x[i + 2] = reinterpret_cast<Lanes>(_mm_unpacklo_epi64(high01, high23));
      x[i + 3] = reinterpret_cast<Lanes>(_mm_unpackhi_epi64(high01, high23));
    }
  }
  // The same transposition back: lane l's four state words, one digest.
  static CORVANE_ALWAYS_INLINE void Store(const Lanes state[4], const Job jobs[], int used) {
    const __m128i s0 = reinterpret_cast<__m128i>(state[0]);
    const __m128i s1 = reinterpret_cast<__m128i>(state[1]);
    const __m128i s2 = reinterpret_cast<__m128i>(state[2]);
    const __m128i s3 = reinterpret_cast<__m128i>(state[3]);
    const __m128i low01 = _mm_unpacklo_epi32(s0, s1);
    const __m128i low23 = _mm_unpacklo_epi32(s2, s3);
    const __m128i high01 = _mm_unpackhi_epi32(s0, s1);
    const __m128i high23 = _mm_unpackhi_epi32(s2, s3);
    const __m128i lanes[4] = {_mm_unpacklo_epi64(low01, low23), _mm_unpackhi_epi64(low01, low23),
                              _mm_unpacklo_epi64(high01, high23), _mm_unpackhi_epi64(high01, high23)};
    for (int lane = 0; lane < used; ++lane) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(jobs[lane].digest), lanes[lane]);
    }
  }
};
using LaneLoader = Sse2Loader;
#else
using LaneLoader = WordLoader<Lanes, 4>;
#endif

// Four lanes: the steps of one message form a chain, each waiting for the
// one before, so four messages cost little more than one. (Eight lanes in
// 256-bit vectors, tried, gained nothing for the three to six keys of a
// usual URL: the processor splits them into two halves of four.)
constexpr int kLanes = 4;

// Digests of up to four messages of any length side by side. Each
// message's blocks: its whole blocks straight from its bytes, then its
// padded tail. A lane with fewer blocks than the longest message runs its
// last block again and keeps the state from before. Lanes beyond used
// repeat the first message and are not stored.
CORVANE_ALWAYS_INLINE void DigestLanesOf(const Job jobs[], int used) {
  PaddedTail tails[kLanes];
  std::size_t whole[kLanes];
  std::size_t blocks[kLanes];
  const std::uint8_t* bytes[kLanes];
  std::size_t longest = 0;
  for (int lane = 0; lane < kLanes; ++lane) {
    const Job& job = jobs[lane < used ? lane : 0];
    bytes[lane] = job.data;
    whole[lane] = job.length / 64;
    PadTail(job.data + whole[lane] * 64, job.length % 64, job.length, &tails[lane]);
    blocks[lane] = whole[lane] + tails[lane].blocks;
    if (blocks[lane] > longest) longest = blocks[lane];
  }
  Lanes state[4];
  InitialState(state);
  for (std::size_t k = 0; k < longest; ++k) {
    const std::uint8_t* block[kLanes];
    bool anyDone = false;
    for (int lane = 0; lane < kLanes; ++lane) {
      const bool done = k >= blocks[lane];
      anyDone = anyDone || done;
      const std::size_t b = done ? blocks[lane] - 1 : k;
      block[lane] = b < whole[lane] ? bytes[lane] + b * 64 : tails[lane].bytes + (b - whole[lane]) * 64;
    }
    Lanes before[4] = {state[0], state[1], state[2], state[3]};
    Lanes x[16];
    LaneLoader::Load(x, block);
    Rounds(state, x);
    if (!anyDone) continue;
    for (int lane = 0; lane < kLanes; ++lane) {
      if (k < blocks[lane]) continue;
      for (int w = 0; w < 4; ++w) state[w][lane] = before[w][lane];
    }
  }
  LaneLoader::Store(state, jobs, used);
}

// Messages shorter than 56 bytes, the usual key, have one block each: no
// block counting, no lanes to hold back.
constexpr std::size_t kOneBlockLimit = 56;

// The message words of up to four one-block messages (used >= 1); lanes
// beyond used repeat the first message.
CORVANE_ALWAYS_INLINE void LoadOneBlockLanes(const Job jobs[], int used, Lanes x[16]) {
  alignas(16) std::uint8_t blocks[kLanes][64];
  const std::uint8_t* rows[kLanes];
  for (int lane = 0; lane < kLanes; ++lane) {
    const Job& job = jobs[lane < used ? lane : 0];
    PadOneBlock(job.data, job.length, blocks[lane]);
    rows[lane] = blocks[lane];
  }
  LaneLoader::Load(x, rows);
}

CORVANE_ALWAYS_INLINE void DigestOneBlock(const Job& job) {
  std::uint8_t block[64];
  PadOneBlock(job.data, job.length, block);
  std::uint32_t state[4];
  InitialState(state);
  TransformBlock(state, block);
  StoreDigest(state, job.digest);
}

// Two to four one-block messages in one set of lanes.
CORVANE_ALWAYS_INLINE void DigestOneBlockLanes(const Job jobs[], int used) {
  Lanes x[16];
  LoadOneBlockLanes(jobs, used, x);
  Lanes state[4];
  InitialState(state);
  Rounds(state, x);
  LaneLoader::Store(state, jobs, used);
}

// Five one-block messages: four lanes, and the fifth in plain words beside
// them in the same steps.
CORVANE_ALWAYS_INLINE void DigestOneBlockLanesAndOne(const Job jobs[]) {
  Lanes x[16];
  LoadOneBlockLanes(jobs, kLanes, x);
  std::uint8_t block[64];
  PadOneBlock(jobs[kLanes].data, jobs[kLanes].length, block);
  std::uint32_t words[16];
  LoadWords(words, block);
  Lanes state[4];
  InitialState(state);
  std::uint32_t fifth[4];
  InitialState(fifth);
  RoundsSideBySide(state, x, fifth, words);
  LaneLoader::Store(state, jobs, kLanes);
  StoreDigest(fifth, jobs[kLanes].digest);
}

// Six to eight one-block messages: two sets of four lanes, step by step.
CORVANE_ALWAYS_INLINE void DigestOneBlockTwoLanes(const Job jobs[], int used) {
  Lanes x1[16];
  Lanes x2[16];
  LoadOneBlockLanes(jobs, kLanes, x1);
  LoadOneBlockLanes(jobs + kLanes, used - kLanes, x2);
  Lanes state1[4];
  Lanes state2[4];
  InitialState(state1);
  InitialState(state2);
  RoundsSideBySide(state1, x1, state2, x2);
  LaneLoader::Store(state1, jobs, kLanes);
  LaneLoader::Store(state2, jobs + kLanes, used - kLanes);
}

constexpr int kMaxOneBlockBatch = 2 * kLanes;

// 1 to 8 one-block messages.
CORVANE_ALWAYS_INLINE void DigestOneBlockBatchOf(const Job jobs[], int count) {
  if (count == 1) {
    DigestOneBlock(jobs[0]);
  } else if (count <= kLanes) {
    DigestOneBlockLanes(jobs, count);
  } else if (count == kLanes + 1) {
    DigestOneBlockLanesAndOne(jobs);
  } else {
    DigestOneBlockTwoLanes(jobs, count);
  }
}

// The functions above that run lanes, compiled for each instruction set
// from the one source: each version below inlines them whole, so that their
// vector operations take the version's encoding.
#define CORVANE_MD4_LANE_FUNCTIONS(Suffix, Attributes)                              \
  Attributes void DigestOneBlockBatch##Suffix(const Job jobs[], int count) {         \
    DigestOneBlockBatchOf(jobs, count);                                              \
  }                                                                                  \
  Attributes void DigestLanes##Suffix(const Job jobs[], int used) { DigestLanesOf(jobs, used); }

CORVANE_MD4_LANE_FUNCTIONS(Baseline, )
#if defined(CORVANE_MD4_AVX)
CORVANE_MD4_LANE_FUNCTIONS(Avx, __attribute__((target("avx"))))
#endif
#undef CORVANE_MD4_LANE_FUNCTIONS

// The functions of one version of the lanes.
struct LaneVersion {
  void (*oneBlockBatch)(const Job jobs[], int count);  // 1 to 8 one-block messages
  void (*lanes)(const Job jobs[], int used);           // 2 to 4 messages of any length
};
constexpr LaneVersion kBaselineLanes{DigestOneBlockBatchBaseline, DigestLanesBaseline};
#if defined(CORVANE_MD4_AVX)
constexpr LaneVersion kAvxLanes{DigestOneBlockBatchAvx, DigestLanesAvx};
#endif

// The lanes the batch digest runs: kUnchosen until the first batch (or a
// test) decides, then kBaseline or kAvx. Constant-initialised, so that a
// digest from another file's static initialiser finds a valid value; racing
// first calls both write the same choice.
enum LaneChoice : int { kUnchosen = 0, kBaseline = 1, kAvx = 2 };
std::atomic<int> laneChoice{kUnchosen};

// Whether the processor runs AVX and the operating system saves the vector
// registers' upper halves on a task switch (XCR0 bits 1 and 2), without
// which AVX instructions fault.
bool AvxUsable() {
#if defined(CORVANE_MD4_AVX)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  const bool osSavesState = (ecx & bit_OSXSAVE) != 0;
  if (!osSavesState || (ecx & bit_AVX) == 0) return false;
  unsigned xcr0Low = 0, xcr0High = 0;
  __asm__ volatile("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
  return (xcr0Low & 0x6u) == 0x6u;
#else
  return false;
#endif
}

const LaneVersion& ChosenLanes() {
  int choice = laneChoice.load(std::memory_order_relaxed);
  if (choice == kUnchosen) {
    choice = AvxUsable() ? kAvx : kBaseline;
    laneChoice.store(choice, std::memory_order_relaxed);
  }
#if defined(CORVANE_MD4_AVX)
  if (choice == kAvx) return kAvxLanes;
#endif
  return kBaselineLanes;
}

// 1 to 4 messages of any length.
CORVANE_ALWAYS_INLINE void DigestBatch(const LaneVersion& lanes, const Job jobs[], int count) {
  if (count == 1) {
    Md4Digest(jobs[0].data, jobs[0].length, jobs[0].digest);
  } else {
    lanes.lanes(jobs, count);
  }
}

}  // namespace

void Md4::Reset() {
  std::memcpy(state_, kInitialState, sizeof(state_));
  length_ = 0;
}

void Md4::Transform(const std::uint8_t block[64]) { TransformBlock(state_, block); }

void Md4::Update(const void* data, std::size_t length) {
  const auto* in = static_cast<const std::uint8_t*>(data);
  std::size_t buffered = static_cast<std::size_t>(length_ % 64);
  length_ += length;
  if (buffered != 0) {
    const std::size_t take = length < 64 - buffered ? length : 64 - buffered;
    std::memcpy(buffer_ + buffered, in, take);
    in += take;
    length -= take;
    buffered += take;
    if (buffered < 64) return;
    Transform(buffer_);
  }
  while (length >= 64) {
    Transform(in);
    in += 64;
    length -= 64;
  }
  std::memcpy(buffer_, in, length);
}

void Md4::Final(std::uint8_t digest[kMd4DigestSize]) {
  FinishBlocks(state_, buffer_, static_cast<std::size_t>(length_ % 64), length_);
  for (int i = 0; i < 4; ++i) StoreLe32(digest + 4 * i, state_[i]);
  Reset();
}

void Md4Digest(const void* data, std::size_t length, std::uint8_t digest[kMd4DigestSize]) {
  const auto* in = static_cast<const std::uint8_t*>(data);
  std::uint32_t state[4] = {kInitialState[0], kInitialState[1], kInitialState[2], kInitialState[3]};
  const std::size_t whole = length - length % 64;
  for (std::size_t offset = 0; offset < whole; offset += 64) TransformBlock(state, in + offset);
  FinishBlocks(state, in + whole, length - whole, length);
  for (int i = 0; i < 4; ++i) StoreLe32(digest + 4 * i, state[i]);
}

void Md4DigestMany(const std::uint8_t* const data[], const std::size_t lengths[],
                   std::size_t count, std::uint8_t (*digests)[kMd4DigestSize]) {
  // The one-block messages go eight at a time, the others four at a time,
  // each batch as soon as it is full and the rest at the end.
  const LaneVersion& lanes = ChosenLanes();
  Job oneBlock[kMaxOneBlockBatch];
  Job longer[kLanes];
  int oneBlockCount = 0;
  int longerCount = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const Job job{data[i], lengths[i], digests[i]};
    if (job.length < kOneBlockLimit) {
      oneBlock[oneBlockCount++] = job;
      if (oneBlockCount == kMaxOneBlockBatch) {
        lanes.oneBlockBatch(oneBlock, oneBlockCount);
        oneBlockCount = 0;
      }
    } else {
      longer[longerCount++] = job;
      if (longerCount == kLanes) {
        DigestBatch(lanes, longer, longerCount);
        longerCount = 0;
      }
    }
  }
  if (oneBlockCount > 0) lanes.oneBlockBatch(oneBlock, oneBlockCount);
  if (longerCount > 0) DigestBatch(lanes, longer, longerCount);
}

bool Md4SelectLanes(Md4Lanes lanes) {
  if (lanes == Md4Lanes::kAvx && !AvxUsable()) return false;
  laneChoice.store(lanes == Md4Lanes::kAvx ? kAvx : kBaseline, std::memory_order_relaxed);
  return true;
}

}  // namespace corvane
