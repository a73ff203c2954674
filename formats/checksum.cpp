#include "formats/checksum.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace lumivane {

namespace {

// Eight independent lanes keep the multiplier busy (a third more bytes a
// second than four, on data in the caches); every step is invertible in
// the lane and in the word, so a change confined to one lane always shows.
constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87u;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Fu;

std::uint64_t MixWord(std::uint64_t lane, std::uint64_t word) {
  return std::rotl(lane + word * kPrime2, 31) * kPrime1;
}

#if defined(__SSE2__)
// Sixteen lanes of 64 bits, 128 bytes a step: each lane adds its word and
// rotates, which is invertible in the lane and in the word, and rotating
// makes the order of the words count. Both passes of a job run on the same
// processor, so they take the same path.
[[gnu::target("avx2")]] std::size_t ChecksumLanes(const std::uint8_t* bytes, std::size_t count,
                                                  std::uint64_t seed, std::uint64_t* lanes) {
  __m256i sums[4];
  for (int j = 0; j < 4; ++j) {
    sums[j] = _mm256_setr_epi64x(static_cast<long long>(seed + kPrime1 * (4u * j + 1)),
                                 static_cast<long long>(seed + kPrime1 * (4u * j + 2)),
                                 static_cast<long long>(seed + kPrime1 * (4u * j + 3)),
                                 static_cast<long long>(seed + kPrime1 * (4u * j + 4)));
  }
  std::size_t i = 0;
  for (; i + 128 <= count; i += 128) {
    for (int j = 0; j < 4; ++j) {
      const __m256i word = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i + 32 * j));
      const __m256i sum = _mm256_add_epi64(sums[j], word);
      sums[j] = _mm256_or_si256(_mm256_slli_epi64(sum, 29), _mm256_srli_epi64(sum, 35));
    }
  }
  for (int j = 0; j < 4; ++j) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes + 4 * j), sums[j]);
  }
  return i;
}
#endif

}  // namespace

std::uint64_t ChecksumBytes(std::uint64_t seed, const std::uint8_t* bytes, std::size_t count) {
#if defined(__SSE2__)
  static const bool wide = __builtin_cpu_supports("avx2");
  if (wide) {
    std::uint64_t lanes[16];
    std::size_t i = ChecksumLanes(bytes, count, seed, lanes);
    std::uint64_t sum = MixWord(seed, count);
    for (const std::uint64_t lane : lanes) sum = MixWord(sum, lane);
    for (; i + 8 <= count; i += 8) {
      std::uint64_t word;
      std::memcpy(&word, bytes + i, 8);
      sum = MixWord(sum, word);
    }
    for (; i < count; ++i) sum = MixWord(sum, bytes[i]);
    return sum;
  }
#endif
  constexpr int kLanes = 8;
  std::uint64_t lanes[kLanes];
  for (int lane = 0; lane < kLanes; ++lane) lanes[lane] = seed + kPrime1 * (lane + 1u);
  std::size_t i = 0;
  for (; i + 8 * kLanes <= count; i += 8 * kLanes) {
    for (int lane = 0; lane < kLanes; ++lane) {
      std::uint64_t word;
      std::memcpy(&word, bytes + i + 8 * lane, 8);
      lanes[lane] = MixWord(lanes[lane], word);
    }
  }
  std::uint64_t sum = MixWord(seed, count);
  for (const std::uint64_t lane : lanes) sum = MixWord(sum, lane);
  for (; i < count; ++i) sum = MixWord(sum, bytes[i]);
  return sum;
}

}  // namespace lumivane
