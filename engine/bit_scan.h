// bit_scan.h -- whether the engine's vector code can use SSE2, and the bit
// scans that turn a vector comparison's mask into a position.
#ifndef PELLUMIN_ENGINE_BIT_SCAN_H_
#define PELLUMIN_ENGINE_BIT_SCAN_H_

#include <cstdint>

#if defined(_MSC_VER)
#include <intrin.h>  // _BitScanForward, _BitScanReverse64
#endif

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define CORVANE_HAVE_SSE2 1
#endif

namespace corvane {

// The index of the lowest set bit of a mask that is not zero.
inline int LowestBit(std::uint32_t mask) {
#if defined(__GNUC__) || defined(__clang__)
  return __builtin_ctz(mask);
#elif defined(_MSC_VER)
  unsigned long index;
  _BitScanForward(&index, mask);
  return static_cast<int>(index);
#else
  int i = 0;
  while ((mask & 1u) == 0) {
    mask >>= 1;
    ++i;
  }
  return i;
#endif
}

// The index of the highest set bit of a mask that is not zero.
inline int HighestBit(std::uint64_t mask) {
#if defined(__GNUC__) || defined(__clang__)
  return 63 - __builtin_clzll(mask);
#else
  int i = 63;
  while ((mask >> i) == 0) --i;
  return i;
#endif
}

}  // namespace corvane

#endif  // PELLUMIN_ENGINE_BIT_SCAN_H_
