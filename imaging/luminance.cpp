#include "imaging/luminance.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "imaging/lanes.h"

namespace lumivane {

namespace {

constexpr unsigned kShift = 23 - LuminanceHistogram::kMantissaBits;
constexpr std::uint32_t kSmallestNormalBits = 0x00800000u;
constexpr std::uint32_t kInfinityBits = 0x7F800000u;
constexpr float kSmallestNormal = std::numeric_limits<float>::min();
constexpr float kLargest = std::numeric_limits<float>::max();

float Usable(float v) {
  return v >= kSmallestNormal && v <= kLargest ? v : 0.0f;
}

}  // namespace

std::size_t PixelBlock::Lanes() const {
  return (Count + lanes::kWidth - 1) / lanes::kWidth * lanes::kWidth;
}

void PixelBlock::Load(const float* rgb, std::size_t count) {
  Count = count;
  std::size_t i = 0;
#if defined(__SSE2__)
  // Four pixels at a time from three vectors r0 g0 b0 r1 | g1 b1 r2 g2 | b2 r3 g3 b3.
  const __m128 smallest = _mm_set1_ps(kSmallestNormal), largest = _mm_set1_ps(kLargest);
  const auto usable = [&](__m128 v) {
    return _mm_and_ps(v, _mm_and_ps(_mm_cmpge_ps(v, smallest), _mm_cmple_ps(v, largest)));
  };
  for (; i + 4 <= count; i += 4) {
    const __m128 a = _mm_loadu_ps(rgb + 3 * i), b = _mm_loadu_ps(rgb + 3 * i + 4),
                 c = _mm_loadu_ps(rgb + 3 * i + 8);
    const __m128 r =
        _mm_shuffle_ps(a, _mm_shuffle_ps(b, c, _MM_SHUFFLE(0, 1, 0, 2)), _MM_SHUFFLE(2, 0, 3, 0));
    const __m128 g =
        _mm_shuffle_ps(_mm_shuffle_ps(a, b, _MM_SHUFFLE(0, 0, 0, 1)),
                       _mm_shuffle_ps(b, c, _MM_SHUFFLE(0, 2, 0, 3)), _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 bl =
        _mm_shuffle_ps(_mm_shuffle_ps(a, b, _MM_SHUFFLE(0, 1, 0, 2)),
                       _mm_shuffle_ps(c, c, _MM_SHUFFLE(0, 3, 0, 0)), _MM_SHUFFLE(2, 0, 2, 0));
    _mm_store_ps(R + i, usable(r));
    _mm_store_ps(G + i, usable(g));
    _mm_store_ps(B + i, usable(bl));
  }
#endif
  for (; i < count; ++i) {
    R[i] = Usable(rgb[3 * i]);
    G[i] = Usable(rgb[3 * i + 1]);
    B[i] = Usable(rgb[3 * i + 2]);
  }
  FinishLoad();
}

void PixelBlock::FinishLoad() {
  for (std::size_t i = Count; i < Lanes(); ++i) R[i] = G[i] = B[i] = 0.0f;
  lanes::ForLanes(Lanes(), [this](std::size_t k, auto lane) {
    using F = decltype(lane);
    const F luminance = F(kLumaRed) * lanes::Load<F>(R + k) +
                        F(kLumaGreen) * lanes::Load<F>(G + k) +
                        F(kLumaBlue) * lanes::Load<F>(B + k);
    lanes::Store(Luminance + k, luminance);
  });
}

LuminanceHistogram::LuminanceHistogram() : bins_(2 * kBins, 0) {}

std::size_t LuminanceHistogram::BinOf(float luminance) {
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(luminance);
  // Negative values have the sign bit set and land above infinity's bits.
  if (bits < kSmallestNormalBits || bits > kInfinityBits) return 0;
  return bits >> kShift;
}

float LuminanceHistogram::BinLow(std::size_t index) {
  if (index == 0) return 0.0f;
  return std::bit_cast<float>(static_cast<std::uint32_t>(index << kShift));
}

float LuminanceHistogram::BinHigh(std::size_t index) {
  if (index == 0) return std::bit_cast<float>(kSmallestNormalBits);
  return std::bit_cast<float>(static_cast<std::uint32_t>((index + 1) << kShift));
}

void LuminanceHistogram::AddLuminance(float luminance) {
  const std::size_t bin = BinOf(luminance);
  ++bins_[2 * bin];
  ++count_;
  if (bin == 0) return;
  if (luminance > maximum_) maximum_ = luminance;
  if (minimumPositive_ == 0.0f || luminance < minimumPositive_) minimumPositive_ = luminance;
}

void LuminanceHistogram::AddPixels(const float* rgb, std::size_t count) {
  PixelBlock block;
  for (std::size_t done = 0; done < count; done += PixelBlock::kPixels) {
    const std::size_t n = std::min(PixelBlock::kPixels, count - done);
    block.Load(rgb + 3 * done, n);
    AddLuminances(block.Luminance, n);
  }
}

void LuminanceHistogram::AddLuminances(const float* luminance, std::size_t count) {
  // Even and odd pixels count in two copies of the bins, so that a run of
  // pixels in one bin does not wait on each increment before the next.
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i smallest = _mm_set1_epi32(static_cast<int>(kSmallestNormalBits - 1));
  const __m128i infinity = _mm_set1_epi32(static_cast<int>(kInfinityBits + 1));
  alignas(16) std::uint32_t index[4];
  for (; i + 4 <= count; i += 4) {
    // Signed compares: a negative value's bits are below every positive one's.
    const __m128i bits = _mm_castps_si128(_mm_loadu_ps(luminance + i));
    const __m128i inRange =
        _mm_and_si128(_mm_cmpgt_epi32(bits, smallest), _mm_cmplt_epi32(bits, infinity));
    _mm_store_si128(reinterpret_cast<__m128i*>(index),
                    _mm_and_si128(_mm_srli_epi32(bits, kShift - 1),
                                  _mm_and_si128(inRange, _mm_set1_epi32(~1))));
    ++bins_[index[0]];
    ++bins_[index[1] + 1];
    ++bins_[index[2]];
    ++bins_[index[3] + 1];
  }
#endif
  for (; i < count; ++i) ++bins_[2 * BinOf(luminance[i]) + (i & 1)];
  count_ += count;
  // The extremes lane by lane; a value too small for a normal float is no
  // positive luminance here, as in AddLuminance.
  float high = maximum_;
  float low = minimumPositive_ == 0.0f ? std::numeric_limits<float>::infinity() : minimumPositive_;
  i = 0;
#if defined(__SSE2__)
  if (count >= 4) {
    using lanes::Float4;
    Float4 highs(high), lows(low);
    for (; i + 4 <= count; i += 4) {
      const Float4 v = lanes::Load<Float4>(luminance + i);
      const auto positive = v >= Float4(kSmallestNormal);
      highs = lanes::Select(lanes::Both(positive, v > highs), v, highs);
      lows = lanes::Select(lanes::Both(positive, v < lows), v, lows);
    }
    alignas(16) float h[4], l[4];
    _mm_store_ps(h, highs.v);
    _mm_store_ps(l, lows.v);
    for (int k = 0; k < 4; ++k) {
      high = std::max(high, h[k]);
      low = std::min(low, l[k]);
    }
  }
#endif
  for (; i < count; ++i) {
    const float v = luminance[i];
    if (v >= kSmallestNormal && v > high) high = v;
    if (v >= kSmallestNormal && v < low) low = v;
  }
  maximum_ = high;
  if (low != std::numeric_limits<float>::infinity()) minimumPositive_ = low;
}

void LuminanceHistogram::Merge(const LuminanceHistogram& other) {
  for (std::size_t i = 0; i < bins_.size(); ++i) bins_[i] += other.bins_[i];
  count_ += other.count_;
  maximum_ = std::max(maximum_, other.maximum_);
  if (other.minimumPositive_ != 0.0f &&
      (minimumPositive_ == 0.0f || other.minimumPositive_ < minimumPositive_))
    minimumPositive_ = other.minimumPositive_;
}

double LuminanceHistogram::Quantile(double percent, std::size_t firstBin) const {
  std::uint64_t total = 0;
  for (std::size_t i = firstBin; i < kBins; ++i) total += Bin(i);
  if (total == 0) return 0.0;
  const double rank = std::clamp(percent, 0.0, 100.0) / 100.0 * static_cast<double>(total);
  double below = 0.0;
  for (std::size_t i = firstBin; i < kBins; ++i) {
    const double here = static_cast<double>(Bin(i));
    if (here == 0.0) continue;
    if (below + here >= rank) {
      if (i == 0) return 0.0;
      // Geometric steps inside the bin, clipped to the values that occur.
      const double low = std::max<double>(BinLow(i), minimumPositive_);
      const double high = std::min<double>(BinHigh(i), maximum_);
      const double t = std::clamp((rank - below) / here, 0.0, 1.0);
      return low * std::pow(high / low, t);
    }
    below += here;
  }
  return maximum_;
}

double LuminanceHistogram::Percentile(double percent) const {
  if (percent >= 100.0) return maximum_;
  return Quantile(percent, 0);
}

double LuminanceHistogram::PositivePercentile(double percent) const {
  if (percent >= 100.0) return maximum_;
  if (percent <= 0.0) return MinimumPositive();
  return Quantile(percent, 1);
}

// Each bin at its geometric centre, the mean of its logarithms for values
// spread evenly in log.
double LuminanceHistogram::LogAverage(double delta) const {
  if (count_ == 0) return 0.0;
  double sum = static_cast<double>(Zeros()) * std::log(delta);
  for (std::size_t i = 1; i < kBins; ++i) {
    const std::uint64_t n = Bin(i);
    if (n == 0) continue;
    const double centre = std::sqrt(static_cast<double>(BinLow(i)) * BinHigh(i));
    sum += static_cast<double>(n) * std::log(delta + centre);
  }
  return std::exp(sum / static_cast<double>(count_));
}

double LuminanceHistogram::MeanLog2Positive() const {
  const std::uint64_t positive = count_ - Zeros();
  if (positive == 0) return 0.0;
  double sum = 0.0;
  for (std::size_t i = 1; i < kBins; ++i) {
    const std::uint64_t n = Bin(i);
    if (n == 0) continue;
    const double centre = 0.5 * (std::log2(static_cast<double>(BinLow(i))) + std::log2(BinHigh(i)));
    sum += static_cast<double>(n) * centre;
  }
  return sum / static_cast<double>(positive);
}

}  // namespace lumivane
