// The float tone mapper: ToneMapChannel (imaging/tonemap) as thresholds; its
// lanes (SSE2, AVX2) are in floatlanes.cpp.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/floatwords.h"
#include "imaging/statistics.h"

namespace lumivane {

// The reference operator with 64-bit intermediates, as a classification of
// each value against the 255 byte thresholds of its channel.
//
// Ordered by their bit patterns (sign-flipped), floats v >= m map monotonically
// to bytes: x = v - m and d = a / B + x are monotone roundings, x / d can lose
// monotonicity only within 2^-27 of 1 where every byte is 255, and a faithfully
// rounded pow cannot reorder neighbouring floats for the exponents allowed
// here. The thresholds come from bisection with the reference itself and are
// checked against it on a window around each; values outside the monotone
// domain (below the minimum, NaN, infinities) and any channel whose settings
// fall outside the argument go to the reference per value.
class FloatToneMapper {
 public:
  FloatToneMapper(const ImageStatistics& statistics, float brightness, float postGamma);

  // `count` stored pixels to three bytes each.
  void Map(const std::uint8_t* pixels, std::size_t count, bool intelOrder, std::uint8_t* out) const;

  // One value of channel c, as Map computes it.
  std::uint8_t MapValue(int channel, float value) const;

  // True when channel c is classified by thresholds (false: reference per value).
  bool UsesThresholds(int channel) const { return channels_[channel].Thresholds; }

  // Values classified side by side by Map: 8 (AVX2), 4 (SSE2) or 1. The widest
  // the processor has is the default; tests and benchmarks may ask for fewer.
  unsigned Lanes() const { return lanes_; }
  void LimitLanes(unsigned lanes);

 private:
  struct Channel {
    double Minimum = 0.0;
    float Average = 0.0f;
    bool Thresholds = false;
    // Keys in [LowKey, LowKey + Span) are classified.
    std::uint32_t LowKey = 0;
    std::uint32_t Span = 0;
    // Threshold[j]: the smallest key whose byte is at least j (j = 1 .. 255);
    // Threshold[256] lies above every classified key.
    std::array<std::uint32_t, 257> Threshold{};
    // Per top 16 key bits: the byte range of the bucket's classified keys,
    // lowest byte | highest byte << 8.
    std::vector<std::uint16_t> Bucket;
    // One load per value for keys from just below Threshold[1] to Threshold[255]
    // (lower keys read offset 0, byte 0; higher ones the last offset, byte 255):
    // the channel's entries start at Table[TableStart].
    std::uint32_t TableBase = 0;
    std::uint32_t TableLast = 0;
    std::uint32_t TableStart = 0;
  };
  // An entry covers 2^shift_ keys: its lowest byte << 24 | the offset in the
  // entry where the next byte starts (2^shift_: none), or kCrowded when the
  // entry holds more than one threshold.
  static constexpr std::uint32_t kCrowded = 1u << 23;
  static constexpr std::size_t kTableEntries = 1u << 14;

  std::uint8_t ClassifyInBuckets(const Channel& channel, std::uint32_t key) const;

  void FindThresholds(Channel& channel) const;
  void BuildTable();
  bool AgreesWithReference(const Channel& channel) const;
  template <bool Swap>
  void MapInLanes(const std::uint8_t* pixels, std::size_t count, std::uint8_t* out) const;
  template <bool Swap>
  void MapInWideLanes(const std::uint8_t* pixels, std::size_t count, std::uint8_t* out) const;
  std::uint8_t Reference(const Channel& channel, float value) const;
  std::uint8_t Classify(const Channel& channel, std::uint32_t bits) const;

  float brightness_;
  float postGamma_;
  std::array<Channel, 3> channels_;
  unsigned shift_ = 0;
  unsigned lanes_ = 1;
  std::vector<std::uint32_t> table_;
};

// Inline: the scalar loop and the lanes' fallback call it per value.
[[gnu::always_inline]] inline std::uint8_t FloatToneMapper::Classify(const Channel& channel,
                                                                     std::uint32_t bits) const {
  const std::uint32_t key = KeyOf(bits);
  if (key - channel.LowKey >= channel.Span) [[unlikely]] {
    return Reference(channel, std::bit_cast<float>(bits));
  }
  std::uint32_t offset = key < channel.TableBase ? 0 : key - channel.TableBase;
  offset = std::min(offset, channel.TableLast);
  const std::uint32_t entry = table_[channel.TableStart + (offset >> shift_)];
  if (entry & kCrowded) [[unlikely]] {
    return ClassifyInBuckets(channel, key);
  }
  const std::uint32_t inEntry = offset & ((std::uint32_t{1} << shift_) - 1);
  return static_cast<std::uint8_t>((entry >> 24) + (inEntry >= (entry & (kCrowded - 1))));
}

}  // namespace lumivane
