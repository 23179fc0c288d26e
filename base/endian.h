// endian.h -- little-endian fixed-width coding of integers in byte buffers.
//
// List files, REG_DWORD values and bitmaps store integers least significant
// byte first whatever the machine. These read and write them byte by byte,
// so they work at any alignment and on any byte order; compilers turn each
// into one load or store on little-endian machines.
#ifndef PELLUMIN_BASE_ENDIAN_H_
#define PELLUMIN_BASE_ENDIAN_H_

#include <cstdint>

namespace base {

inline std::uint16_t LoadLe16(const void* bytes) {
  const auto* b = static_cast<const unsigned char*>(bytes);
  return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

inline std::uint32_t LoadLe32(const void* bytes) {
  const auto* b = static_cast<const unsigned char*>(bytes);
  return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
         (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

inline std::uint64_t LoadLe64(const void* bytes) {
  const auto* b = static_cast<const unsigned char*>(bytes);
  return static_cast<std::uint64_t>(LoadLe32(b)) |
         (static_cast<std::uint64_t>(LoadLe32(b + 4)) << 32);
}

inline void StoreLe16(void* bytes, std::uint16_t value) {
  auto* b = static_cast<unsigned char*>(bytes);
  b[0] = static_cast<unsigned char>(value);
  b[1] = static_cast<unsigned char>(value >> 8);
}

inline void StoreLe32(void* bytes, std::uint32_t value) {
  auto* b = static_cast<unsigned char*>(bytes);
  b[0] = static_cast<unsigned char>(value);
  b[1] = static_cast<unsigned char>(value >> 8);
  b[2] = static_cast<unsigned char>(value >> 16);
  b[3] = static_cast<unsigned char>(value >> 24);
}

inline void StoreLe64(void* bytes, std::uint64_t value) {
  auto* b = static_cast<unsigned char*>(bytes);
  StoreLe32(b, static_cast<std::uint32_t>(value));
  StoreLe32(b + 4, static_cast<std::uint32_t>(value >> 32));
}

}  // namespace base

#endif  // PELLUMIN_BASE_ENDIAN_H_
