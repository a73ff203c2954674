// Helpers the float kernels share: stored 32-bit words in either byte order, and
// the keys that sort float bit patterns as their values.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace lumivane {

inline std::uint32_t LoadWord(const std::uint8_t* bytes, bool intelOrder) {
  std::uint32_t word;
  std::memcpy(&word, bytes, 4);
  const bool swap = intelOrder != (std::endian::native == std::endian::little);
  return swap ? __builtin_bswap32(word) : word;
}

// Float bit patterns to unsigned keys that sort as the values do (NaNs with
// the sign bit set below -inf, the others above +inf).
inline std::uint32_t KeyOf(std::uint32_t bits) {
  const std::uint32_t flip = static_cast<std::uint32_t>(static_cast<std::int32_t>(bits) >> 31);
  return bits ^ (flip | 0x80000000u);
}

#if defined(__SSE2__)
// The four bytes of each 32-bit lane reversed, without SSSE3's byte shuffle.
inline __m128i SwapWordBytes(__m128i word) {
  word = _mm_shufflehi_epi16(_mm_shufflelo_epi16(word, 0xB1), 0xB1);
  return _mm_or_si128(_mm_slli_epi16(word, 8), _mm_srli_epi16(word, 8));
}
#endif

}  // namespace lumivane
