// md4.h -- the MD4 message digest (RFC 1320), used for list keys.
#ifndef PELLUMIN_ENGINE_MD4_MD4_H_
#define PELLUMIN_ENGINE_MD4_MD4_H_

#include <cstddef>
#include <cstdint>

namespace corvane {

constexpr std::size_t kMd4DigestSize = 16;

// Incremental MD4. Init, Update any number of times, Final once.
class Md4 {
 public:
  Md4() { Reset(); }
  void Reset();
  void Update(const void* data, std::size_t length);
  void Final(std::uint8_t digest[kMd4DigestSize]);

 private:
  void Transform(const std::uint8_t block[64]);

  std::uint32_t state_[4];
  std::uint64_t length_;  // bytes hashed so far
  std::uint8_t buffer_[64];
};

// The digest of length bytes in one call.
void Md4Digest(const void* data, std::size_t length, std::uint8_t digest[kMd4DigestSize]);

// The digests of count messages (data[i], lengths[i] bytes) into digests[i],
// side by side: messages under 56 bytes (one block each) up to eight at a
// time, longer ones four at a time; several short keys cost little more
// than one. Reads only the messages' own bytes.
void Md4DigestMany(const std::uint8_t* const data[], const std::size_t lengths[],
                   std::size_t count, std::uint8_t (*digests)[kMd4DigestSize]);

// The instructions the batch digest runs its lanes in: SSE2 (or plain words
// where the build has no SSE2), or the same operations in AVX's VEX forms.
// The digest picks AVX by itself where the processor and the operating
// system support it. Md4SelectLanes, for tests and benchmarks, forces one;
// it returns false and changes nothing if this build or machine lacks it.
enum class Md4Lanes { kBaseline, kAvx };
bool Md4SelectLanes(Md4Lanes lanes);

}  // namespace corvane

#endif  // PELLUMIN_ENGINE_MD4_MD4_H_
