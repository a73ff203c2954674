// Faster schedules of the per-pixel work of the jobs, equal byte for byte to
// the reference functions (RgbeToFloat, ChannelAccumulator, ToneMapChannel).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/statistics.h"
#include "io/parallel.h"

namespace lumivane {

// ---- Radiance input: every value is a function of (mantissa, exponent). ----

// Index of the (mantissa, exponent) pair in the 64K tables below.
inline std::size_t RgbeKey(std::uint8_t mantissa, std::uint8_t exponent) {
  return static_cast<std::size_t>(exponent) << 8 | mantissa;
}

// RgbeToFloat of every pair, built once.
const std::vector<float>& RgbeFloatTable();

// The output byte of every pair, per channel R, G, B, from the reference
// operator with 32-bit intermediates.
struct RgbeToneTables {
  std::array<std::vector<std::uint8_t>, 3> Channel;
};
RgbeToneTables BuildRgbeToneTables(const ImageStatistics& statistics, float brightness,
                                   float postGamma, RowWorkers& workers);

// The statistics of `count` pixels of the planes, carried on in the
// accumulators, in two halves to run side by side: the sums alone (the
// sequential chains, in pixel order, channel order R, G, B) and the minima and
// maxima alone (every RGBE value is finite and positive, so which equal value
// comes first cannot matter).
void AccumulateRgbeSums(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b,
                        const std::uint8_t* e, std::size_t count,
                        ChannelAccumulators& accumulators);
void AccumulateRgbeExtremes(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b,
                            const std::uint8_t* e, std::size_t count,
                            ChannelAccumulators& accumulators);

// The output bytes of `count` pixels, three per pixel in the order R, G, B.
void ToneMapRgbeToRgb(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b,
                      const std::uint8_t* e, std::size_t count, const RgbeToneTables& tables,
                      std::uint8_t* out);

// `count` pixels to three 32-bit floats each, least significant byte first.
void RgbePixelsToFloats(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b,
                        const std::uint8_t* e, std::size_t count, std::uint8_t* out);

// ---- Float input: pixels of three 32-bit floats as stored in the file. ----

// Reverses the four bytes of each of `words` 32-bit values in place.
void SwapBytes4(std::uint8_t* bytes, std::size_t words);

// Accumulates `count` stored pixels (byte order given by intelOrder) exactly as
// ChannelAccumulator::Add would, pixel by pixel.
void AccumulateFloatPixels(const std::uint8_t* pixels, std::size_t count, bool intelOrder,
                           ChannelAccumulators& accumulators);

// Its two halves, each in pixel order, to run side by side: the sums alone
// (a skipped value adds +0, which leaves a sum that starts at +0 unchanged)
// and the minima and maxima alone (the same comparisons in the same order).
void AccumulateFloatSums(const std::uint8_t* pixels, std::size_t count, bool intelOrder,
                         ChannelAccumulators& accumulators);
void AccumulateFloatExtremes(const std::uint8_t* pixels, std::size_t count, bool intelOrder,
                             ChannelAccumulators& accumulators);

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

}  // namespace lumivane
