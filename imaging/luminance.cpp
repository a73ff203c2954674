#include "imaging/luminance.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace lumivane {

namespace {

constexpr unsigned kShift = 23 - LuminanceHistogram::kMantissaBits;
constexpr std::uint32_t kSmallestNormal = 0x00800000u;
constexpr std::uint32_t kInfinityBits = 0x7F800000u;

}  // namespace

LuminanceHistogram::LuminanceHistogram() : bins_(kBins, 0) {}

std::size_t LuminanceHistogram::BinOf(float luminance) {
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(luminance);
  // Negative values have the sign bit set and land above infinity's bits.
  if (bits < kSmallestNormal || bits > kInfinityBits) return 0;
  return bits >> kShift;
}

float LuminanceHistogram::BinLow(std::size_t index) {
  if (index == 0) return 0.0f;
  return std::bit_cast<float>(static_cast<std::uint32_t>(index << kShift));
}

float LuminanceHistogram::BinHigh(std::size_t index) {
  if (index == 0) return std::bit_cast<float>(kSmallestNormal);
  return std::bit_cast<float>(static_cast<std::uint32_t>((index + 1) << kShift));
}

void LuminanceHistogram::AddLuminance(float luminance) {
  const std::size_t bin = BinOf(luminance);
  ++bins_[bin];
  ++count_;
  if (bin == 0) return;
  if (luminance > maximum_) maximum_ = luminance;
  if (minimumPositive_ == 0.0f || luminance < minimumPositive_) minimumPositive_ = luminance;
}

void LuminanceHistogram::AddPixels(const float* rgb, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    AddLuminance(LuminanceOf(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]));
}

void LuminanceHistogram::Merge(const LuminanceHistogram& other) {
  for (std::size_t i = 0; i < kBins; ++i) bins_[i] += other.bins_[i];
  count_ += other.count_;
  maximum_ = std::max(maximum_, other.maximum_);
  if (other.minimumPositive_ != 0.0f &&
      (minimumPositive_ == 0.0f || other.minimumPositive_ < minimumPositive_))
    minimumPositive_ = other.minimumPositive_;
}

double LuminanceHistogram::Quantile(double percent, std::size_t firstBin) const {
  std::uint64_t total = 0;
  for (std::size_t i = firstBin; i < kBins; ++i) total += bins_[i];
  if (total == 0) return 0.0;
  const double rank = std::clamp(percent, 0.0, 100.0) / 100.0 * static_cast<double>(total);
  double below = 0.0;
  for (std::size_t i = firstBin; i < kBins; ++i) {
    if (bins_[i] == 0) continue;
    const double here = static_cast<double>(bins_[i]);
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

double LuminanceHistogram::LogAverage(double delta) const {
  if (count_ == 0) return 0.0;
  double sum = static_cast<double>(bins_[0]) * std::log(delta);
  for (std::size_t i = 1; i < kBins; ++i) {
    if (bins_[i] == 0) continue;
    const double centre = 0.5 * (static_cast<double>(BinLow(i)) + BinHigh(i));
    sum += static_cast<double>(bins_[i]) * std::log(delta + centre);
  }
  return std::exp(sum / static_cast<double>(count_));
}

double LuminanceHistogram::MeanLog2Positive() const {
  const std::uint64_t positive = count_ - bins_[0];
  if (positive == 0) return 0.0;
  double sum = 0.0;
  for (std::size_t i = 1; i < kBins; ++i) {
    if (bins_[i] == 0) continue;
    const double centre = 0.5 * (static_cast<double>(BinLow(i)) + BinHigh(i));
    sum += static_cast<double>(bins_[i]) * std::log2(centre);
  }
  return sum / static_cast<double>(positive);
}

}  // namespace lumivane
