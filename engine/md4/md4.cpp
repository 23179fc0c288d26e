// md4.cpp -- MD4 as published in RFC 1320, written for short inputs: the
// one-call digest works on 32-bit words straight from the caller's bytes and
// pads the tail in a stack block, with no allocation.
#include "md4/md4.h"

#include <cstring>

namespace corvane {
namespace {

inline std::uint32_t RotateLeft(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

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

void TransformBlock(std::uint32_t state[4], const std::uint8_t block[64]) {
  std::uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = LoadWord(block + 4 * i);
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

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

// Pads the last partial block (tail holds tailLength < 64 bytes) with 0x80,
// zeros and the bit length, and runs the one or two final blocks.
void FinishBlocks(std::uint32_t state[4], const std::uint8_t* tail, std::size_t tailLength,
                  std::uint64_t totalLength) {
  std::uint8_t last[128];
  std::memcpy(last, tail, tailLength);
  last[tailLength] = 0x80;
  const std::size_t padded = tailLength < 56 ? 64 : 128;
  std::memset(last + tailLength + 1, 0, padded - 8 - tailLength - 1);
  const std::uint64_t bits = totalLength * 8;
  StoreWord(static_cast<std::uint32_t>(bits), last + padded - 8);
  StoreWord(static_cast<std::uint32_t>(bits >> 32), last + padded - 4);
  TransformBlock(state, last);
  if (padded == 128) TransformBlock(state, last + 64);
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

}  // namespace corvane
