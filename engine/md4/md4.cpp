// md4.cpp -- MD4 as published in RFC 1320, written for short inputs: the
// one-call digest works on 32-bit words straight from the caller's bytes and
// pads the tail in a stack block, with no allocation.
#include "md4/md4.h"

#include <cstring>

#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
#include <emmintrin.h>
#define CORVANE_MD4_SSE2 1
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

// Little-endian load; compilers turn it into a single move on x86.
inline std::uint32_t LoadWord(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline void StoreWord(std::uint32_t v, std::uint8_t* p) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

constexpr std::uint32_t kInitialState[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};

// The 48 steps of RFC 1320 on one block of message words x.
template <typename W>
CORVANE_ALWAYS_INLINE void Rounds(W state[4], const W x[16]) {
  W a = state[0], b = state[1], c = state[2], d = state[3];

#define MD4_F(x, y, z) (((x) & (y)) | (~(x) & (z)))
#define MD4_G(x, y, z) (((x) & (y)) | ((x) & (z)) | ((y) & (z)))
#define MD4_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD4_R1(a, b, c, d, k, s) a = RotateLeft(a + MD4_F(b, c, d) + x[k], s)
#define MD4_R2(a, b, c, d, k, s) a = RotateLeft(a + MD4_G(b, c, d) + x[k] + 0x5a827999u, s)
#define MD4_R3(a, b, c, d, k, s) a = RotateLeft(a + MD4_H(b, c, d) + x[k] + 0x6ed9eba1u, s)

  MD4_R1(a, b, c, d, 0, 3);  MD4_R1(d, a, b, c, 1, 7);  MD4_R1(c, d, a, b, 2, 11);  MD4_R1(b, c, d, a, 3, 19);
  MD4_R1(a, b, c, d, 4, 3);  MD4_R1(d, a, b, c, 5, 7);  MD4_R1(c, d, a, b, 6, 11);  MD4_R1(b, c, d, a, 7, 19);
  MD4_R1(a, b, c, d, 8, 3);  MD4_R1(d, a, b, c, 9, 7);  MD4_R1(c, d, a, b, 10, 11); MD4_R1(b, c, d, a, 11, 19);
  MD4_R1(a, b, c, d, 12, 3); MD4_R1(d, a, b, c, 13, 7); MD4_R1(c, d, a, b, 14, 11); MD4_R1(b, c, d, a, 15, 19);

  MD4_R2(a, b, c, d, 0, 3);  MD4_R2(d, a, b, c, 4, 5);  MD4_R2(c, d, a, b, 8, 9);   MD4_R2(b, c, d, a, 12, 13);
  MD4_R2(a, b, c, d, 1, 3);  MD4_R2(d, a, b, c, 5, 5);  MD4_R2(c, d, a, b, 9, 9);   MD4_R2(b, c, d, a, 13, 13);
  MD4_R2(a, b, c, d, 2, 3);  MD4_R2(d, a, b, c, 6, 5);  MD4_R2(c, d, a, b, 10, 9);  MD4_R2(b, c, d, a, 14, 13);
  MD4_R2(a, b, c, d, 3, 3);  MD4_R2(d, a, b, c, 7, 5);  MD4_R2(c, d, a, b, 11, 9);  MD4_R2(b, c, d, a, 15, 13);

  MD4_R3(a, b, c, d, 0, 3);  MD4_R3(d, a, b, c, 8, 9);  MD4_R3(c, d, a, b, 4, 11);  MD4_R3(b, c, d, a, 12, 15);
  MD4_R3(a, b, c, d, 2, 3);  MD4_R3(d, a, b, c, 10, 9); MD4_R3(c, d, a, b, 6, 11);  MD4_R3(b, c, d, a, 14, 15);
  MD4_R3(a, b, c, d, 1, 3);  MD4_R3(d, a, b, c, 9, 9);  MD4_R3(c, d, a, b, 5, 11);  MD4_R3(b, c, d, a, 13, 15);
  MD4_R3(a, b, c, d, 3, 3);  MD4_R3(d, a, b, c, 11, 9); MD4_R3(c, d, a, b, 7, 11);  MD4_R3(b, c, d, a, 15, 15);

#undef MD4_F
#undef MD4_G
#undef MD4_H
#undef MD4_R1
#undef MD4_R2
#undef MD4_R3

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

void TransformBlock(std::uint32_t state[4], const std::uint8_t block[64]) {
  std::uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = LoadWord(block + 4 * i);
  Rounds(state, x);
}

// The padded end of a message: its last partial block, 0x80, zeros and the
// bit length, in one or two blocks.
struct PaddedTail {
  std::uint8_t bytes[128];
  std::size_t blocks;  // 1 or 2
};

void PadTail(const std::uint8_t* tail, std::size_t tailLength, std::uint64_t totalLength,
             PaddedTail* padded) {
  if (tailLength < 56) {
    // One block, the usual case for a key: zeros first, in whole words,
    // then the bytes over them.
    std::memset(padded->bytes, 0, 64);
    std::memcpy(padded->bytes, tail, tailLength);
    padded->bytes[tailLength] = 0x80;
    const std::uint64_t bits = totalLength * 8;
    StoreWord(static_cast<std::uint32_t>(bits), padded->bytes + 56);
    StoreWord(static_cast<std::uint32_t>(bits >> 32), padded->bytes + 60);
    padded->blocks = 1;
    return;
  }
  std::memcpy(padded->bytes, tail, tailLength);
  padded->bytes[tailLength] = 0x80;
  const std::size_t size = tailLength < 56 ? 64 : 128;
  std::memset(padded->bytes + tailLength + 1, 0, size - 8 - tailLength - 1);
  const std::uint64_t bits = totalLength * 8;
  StoreWord(static_cast<std::uint32_t>(bits), padded->bytes + size - 8);
  StoreWord(static_cast<std::uint32_t>(bits >> 32), padded->bytes + size - 4);
  padded->blocks = size / 64;
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

// Digests of up to N messages side by side, in vectors V of N words. Each
// message's blocks: its whole blocks straight from its bytes, then its
// padded tail. A lane with fewer blocks than the longest message runs its
// last block again and keeps the state from before. Lanes beyond used
// repeat the first message and are not stored.
template <typename V, int N, typename Loader>
CORVANE_ALWAYS_INLINE void DigestGroup(const std::uint8_t* const data[], const std::size_t lengths[],
                                       int used, std::uint8_t (*digests)[kMd4DigestSize]) {
  PaddedTail tails[N];
  std::size_t whole[N];
  std::size_t blocks[N];
  const std::uint8_t* bytes[N];
  std::size_t longest = 0;
  for (int lane = 0; lane < N; ++lane) {
    const int m = lane < used ? lane : 0;
    bytes[lane] = data[m];
    whole[lane] = lengths[m] / 64;
    PadTail(data[m] + whole[lane] * 64, lengths[m] % 64, lengths[m], &tails[lane]);
    blocks[lane] = whole[lane] + tails[lane].blocks;
    if (blocks[lane] > longest) longest = blocks[lane];
  }
  V state[4];
  for (int w = 0; w < 4; ++w) state[w] = V{} + kInitialState[w];
  for (std::size_t k = 0; k < longest; ++k) {
    const std::uint8_t* block[N];
    bool anyDone = false;
    for (int lane = 0; lane < N; ++lane) {
      const bool done = k >= blocks[lane];
      anyDone = anyDone || done;
      const std::size_t b = done ? blocks[lane] - 1 : k;
      block[lane] = b < whole[lane] ? bytes[lane] + b * 64 : tails[lane].bytes + (b - whole[lane]) * 64;
    }
    V before[4] = {state[0], state[1], state[2], state[3]};
    V x[16];
    Loader::Load(x, block);
    Rounds(state, x);
    if (!anyDone) continue;
    for (int lane = 0; lane < N; ++lane) {
      if (k < blocks[lane]) continue;
      for (int w = 0; w < 4; ++w) state[w][lane] = before[w][lane];
    }
  }
  Loader::Store(state, used, digests);
}

// Message words in and digests out for N lanes, one word at a time: works
// everywhere.
template <typename V, int N>
struct WordLoader {
  static CORVANE_ALWAYS_INLINE void Load(V x[16], const std::uint8_t* const blocks[N]) {
    for (int i = 0; i < 16; ++i) {
      for (int lane = 0; lane < N; ++lane) x[i][lane] = LoadWord(blocks[lane] + 4 * i);
    }
  }
  static CORVANE_ALWAYS_INLINE void Store(const V state[4], int used,
                                          std::uint8_t (*digests)[kMd4DigestSize]) {
    for (int lane = 0; lane < used; ++lane) {
      for (int w = 0; w < 4; ++w) StoreWord(state[w][lane], digests[lane] + 4 * w);
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
  static CORVANE_ALWAYS_INLINE void Store(const Lanes state[4], int used,
                                          std::uint8_t (*digests)[kMd4DigestSize]) {
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
      _mm_storeu_si128(reinterpret_cast<__m128i*>(digests[lane]), lanes[lane]);
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
// usual URL: the chain, not the width, sets the time.)
constexpr std::size_t kLanes = 4;

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
  for (int i = 0; i < 4; ++i) StoreWord(state_[i], digest + 4 * i);
  Reset();
}

void Md4Digest(const void* data, std::size_t length, std::uint8_t digest[kMd4DigestSize]) {
  const auto* in = static_cast<const std::uint8_t*>(data);
  std::uint32_t state[4] = {kInitialState[0], kInitialState[1], kInitialState[2], kInitialState[3]};
  const std::size_t whole = length - length % 64;
  for (std::size_t offset = 0; offset < whole; offset += 64) TransformBlock(state, in + offset);
  FinishBlocks(state, in + whole, length - whole, length);
  for (int i = 0; i < 4; ++i) StoreWord(state[i], digest + 4 * i);
}

void Md4DigestMany(const std::uint8_t* const data[], const std::size_t lengths[],
                   std::size_t count, std::uint8_t (*digests)[kMd4DigestSize]) {
  for (std::size_t first = 0; first < count; first += kLanes) {
    const std::size_t used = count - first < kLanes ? count - first : kLanes;
    if (used == 1) {
      Md4Digest(data[first], lengths[first], digests[first]);
    } else {
      DigestGroup<Lanes, 4, LaneLoader>(data + first, lengths + first, static_cast<int>(used),
                                        digests + first);
    }
  }
}

}  // namespace corvane
