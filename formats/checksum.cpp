#include "formats/checksum.h"

#include <bit>
#include <cstring>

namespace lumivane {

namespace {

// Four independent lanes keep the multiplier busy; every step is invertible in
// the lane and in the word, so a change confined to one lane always shows.
constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87u;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Fu;

std::uint64_t MixWord(std::uint64_t lane, std::uint64_t word) {
  return std::rotl(lane + word * kPrime2, 31) * kPrime1;
}

}  // namespace

std::uint64_t ChecksumBytes(std::uint64_t seed, const std::uint8_t* bytes, std::size_t count) {
  std::uint64_t lanes[4] = {seed, seed + kPrime1, seed + kPrime2, seed - kPrime1};
  std::size_t i = 0;
  for (; i + 32 <= count; i += 32) {
    for (int lane = 0; lane < 4; ++lane) {
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
