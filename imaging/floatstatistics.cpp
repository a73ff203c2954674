#include "imaging/floatstatistics.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "imaging/floatwords.h"

namespace lumivane {

void SwapBytes4(std::uint8_t* bytes, std::size_t words) {
  for (std::size_t i = 0; i < words; ++i) {
    std::uint32_t word;
    std::memcpy(&word, bytes + 4 * i, 4);
    word = __builtin_bswap32(word);
    std::memcpy(bytes + 4 * i, &word, 4);
  }
}

void AccumulateFloatPixels(const std::uint8_t* pixels, std::size_t count, bool intelOrder,
                           ChannelAccumulators& accumulators) {
  ChannelAccumulator red = accumulators[0], green = accumulators[1], blue = accumulators[2];
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* pixel = pixels + 12 * i;
    red.Add(std::bit_cast<float>(LoadWord(pixel, intelOrder)));
    green.Add(std::bit_cast<float>(LoadWord(pixel + 4, intelOrder)));
    blue.Add(std::bit_cast<float>(LoadWord(pixel + 8, intelOrder)));
  }
  accumulators = {red, green, blue};
}

void AccumulateFloatSums(const std::uint8_t* pixels, std::size_t count, bool intelOrder,
                         ChannelAccumulators& accumulators) {
#if defined(__SSE2__)
  static_assert(std::endian::native == std::endian::little);
  if (intelOrder) {
    // Red and green in the two halves of one register, blue in another: the
    // same additions in the same order, with fewer instructions around them.
    const __m128 zero = _mm_setzero_ps();
    const __m128 infinity = _mm_set1_ps(std::numeric_limits<float>::infinity());
    __m128d redGreen = _mm_set_pd(accumulators[1].Sum, accumulators[0].Sum);
    __m128d blue = _mm_set_sd(accumulators[2].Sum);
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t* const pixel = pixels + 12 * i;
      float blueValue;
      std::memcpy(&blueValue, pixel + 8, 4);
      const __m128 read[2] = {
          _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pixel))),
          _mm_set_ss(blueValue)};
      __m128 values[2];
      for (int k = 0; k < 2; ++k) {
        // A value taken as 0 adds +0, as in the sequential pass: maxps gives
        // its second operand for NaN, and +inf fails the comparison.
        values[k] = _mm_and_ps(_mm_max_ps(read[k], zero), _mm_cmplt_ps(read[k], infinity));
      }
      redGreen = _mm_add_pd(redGreen, _mm_cvtps_pd(values[0]));
      blue = _mm_add_sd(blue, _mm_cvtss_sd(_mm_setzero_pd(), values[1]));
    }
    double sums[2];
    _mm_storeu_pd(sums, redGreen);
    accumulators[0].Sum = sums[0];
    accumulators[1].Sum = sums[1];
    accumulators[2].Sum = _mm_cvtsd_f64(blue);
    return;
  }
#endif
  double sums[3] = {accumulators[0].Sum, accumulators[1].Sum, accumulators[2].Sum};
  for (std::size_t i = 0; i < count; ++i) {
    for (int c = 0; c < 3; ++c) {
      const float value = std::bit_cast<float>(LoadWord(pixels + 12 * i + 4 * c, intelOrder));
      sums[c] += TakenAsZero(value) ? 0.0 : static_cast<double>(value);
    }
  }
  for (int c = 0; c < 3; ++c) accumulators[c].Sum = sums[c];
}

namespace {

constexpr std::size_t kExtremeLanes = 12;  // four pixels: each lane keeps one channel

float AsTaken(float value) { return TakenAsZero(value) ? 0.0f : value; }

// Per lane, the smallest and largest values, those taken as 0 counting as +0:
// min and max are free of order, so the lanes may run side by side.
template <bool Swap>
void FloatExtremeLanes(const std::uint8_t* words, std::size_t count, float* low, float* high,
                       std::uint64_t* taken) {
#if defined(__SSE2__)
  const __m128i exponent = _mm_set1_epi32(0x7F800000);
  const __m128 zero = _mm_setzero_ps();
  __m128 lows[3], highs[3];
  // Minus the values taken as 0, per lane; flushed long before a lane could overflow.
  __m128i counts[3] = {_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128()};
  const auto flush = [&] {
    for (int k = 0; k < 3; ++k) {
      std::int32_t lanes[4];
      _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), counts[k]);
      for (int l = 0; l < 4; ++l) taken[4 * k + l] += static_cast<std::uint32_t>(-lanes[l]);
      counts[k] = _mm_setzero_si128();
    }
  };
  for (int k = 0; k < 3; ++k) {
    lows[k] = _mm_loadu_ps(low + 4 * k);
    highs[k] = _mm_loadu_ps(high + 4 * k);
  }
  for (std::size_t i = 0; i + kExtremeLanes <= count; i += kExtremeLanes) {
    for (int k = 0; k < 3; ++k) {
      __m128i word = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + 4 * i + 16 * k));
      if constexpr (Swap) {
        word = SwapWordBytes(word);
      }
      const __m128 isTaken =
          _mm_or_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(_mm_and_si128(word, exponent), exponent)),
                    _mm_cmplt_ps(_mm_castsi128_ps(word), zero));
      const __m128 v = _mm_andnot_ps(isTaken, _mm_castsi128_ps(word));
      lows[k] = _mm_min_ps(v, lows[k]);
      highs[k] = _mm_max_ps(v, highs[k]);
      counts[k] = _mm_add_epi32(counts[k], _mm_castps_si128(isTaken));
    }
    if ((i / kExtremeLanes & 0xFFFFFFF) == 0xFFFFFFF) flush();
  }
  flush();
  for (int k = 0; k < 3; ++k) {
    _mm_storeu_ps(low + 4 * k, lows[k]);
    _mm_storeu_ps(high + 4 * k, highs[k]);
  }
#else
  for (std::size_t i = 0; i + kExtremeLanes <= count; i += kExtremeLanes) {
    for (std::size_t j = 0; j < kExtremeLanes; ++j) {
      std::uint32_t word;
      std::memcpy(&word, words + 4 * (i + j), 4);
      const float read = std::bit_cast<float>(Swap ? __builtin_bswap32(word) : word);
      taken[j] += TakenAsZero(read);
      const float v = AsTaken(read);
      low[j] = std::min(v, low[j]);
      high[j] = std::max(v, high[j]);
    }
  }
#endif
}

// The first zero of channel c among the pixels, as the sequential pass meets
// it: a value taken as 0 is +0.
float FirstZero(const std::uint8_t* pixels, std::size_t count, bool intelOrder, int c) {
  for (std::size_t i = 0; i < count; ++i) {
    const float value =
        AsTaken(std::bit_cast<float>(LoadWord(pixels + 12 * i + 4 * c, intelOrder)));
    if (value == 0.0f) return value;
  }
  return 0.0f;
}

}  // namespace

void AccumulateFloatExtremes(const std::uint8_t* pixels, std::size_t count, bool intelOrder,
                             ChannelAccumulators& accumulators) {
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  float low[kExtremeLanes], high[kExtremeLanes];
  std::uint64_t taken[kExtremeLanes] = {};
  std::fill(std::begin(low), std::end(low), kInfinity);
  std::fill(std::begin(high), std::end(high), -kInfinity);
  const std::size_t words = 3 * count;
  if (intelOrder == (std::endian::native == std::endian::little)) {
    FloatExtremeLanes<false>(pixels, words, low, high, taken);
  } else {
    FloatExtremeLanes<true>(pixels, words, low, high, taken);
  }
  for (std::size_t i = words - words % kExtremeLanes; i < words; ++i) {
    const float read = std::bit_cast<float>(LoadWord(pixels + 4 * i, intelOrder));
    const float v = AsTaken(read);
    const std::size_t j = i % kExtremeLanes;
    taken[j] += TakenAsZero(read);
    low[j] = std::min(v, low[j]);
    high[j] = std::max(v, high[j]);
  }
  for (int c = 0; c < 3; ++c) {
    float lowest = kInfinity, highest = -kInfinity;
    for (std::size_t j = static_cast<std::size_t>(c); j < kExtremeLanes; j += 3) {
      lowest = std::min(lowest, low[j]);
      highest = std::max(highest, high[j]);
      accumulators[c].TakenAsZeroCount += taken[j];
    }
    // In pixel order the first of equal extremes is kept; only zeros can be
    // equal and still differ, in their sign.
    ChannelAccumulator& channel = accumulators[c];
    if (static_cast<double>(lowest) < channel.Minimum) {
      channel.Minimum = lowest == 0.0f ? FirstZero(pixels, count, intelOrder, c) : lowest;
    }
    if (static_cast<double>(highest) > channel.Maximum) {
      channel.Maximum = highest == 0.0f ? FirstZero(pixels, count, intelOrder, c) : highest;
    }
  }
}

void TakeExtremes(const ChannelAccumulators& extremes, ChannelAccumulators& sums) {
  for (int c = 0; c < 3; ++c) {
    sums[c].Minimum = extremes[c].Minimum;
    sums[c].Maximum = extremes[c].Maximum;
    sums[c].TakenAsZeroCount = extremes[c].TakenAsZeroCount;
  }
}

}  // namespace lumivane
