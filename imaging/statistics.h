// Per-channel minimum, maximum and sum over an image, and what follows from them.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <string>

namespace lumivane {

// The 32-bit floats nearest to 1e30 and 1e-30, widened: start values and clamps.
inline constexpr double kStatisticsHigh = static_cast<double>(1e30f);
inline constexpr double kStatisticsLow = static_cast<double>(1e-30f);

struct ChannelAccumulator {
  double Minimum = kStatisticsHigh;
  double Maximum = kStatisticsLow;
  double Sum = 0.0;

  // NaN and infinities are left out, so that one bad value cannot poison the
  // statistics of the whole image.
  void Add(float value) {
    if (!std::isfinite(value)) return;
    const double v = value;
    Sum += v;
    if (v > Maximum) Maximum = v;
    if (v < Minimum) Minimum = v;
  }
};

// Channels in the order R, G, B.
using ChannelAccumulators = std::array<ChannelAccumulator, 3>;

struct ImageStatistics {
  std::array<double, 3> Minimum{};
  std::array<double, 3> Maximum{};
  std::array<double, 3> Sum{};
  // The key averages a_R, a_G, a_B after the warm-colours rule.
  std::array<float, 3> Average{};
  double GreyMinimum = 0.0;
  double GreyMaximum = 0.0;
  double GreySum = 0.0;
  double GreyAverage = 0.0;
  double DynamicRange = 0.0;
};

ImageStatistics ComputeImageStatistics(const ChannelAccumulators& accumulators,
                                       std::uint32_t pixelCount, bool warmColours);

// The six lines of the statistics block, in log order.
std::array<std::string, 6> ImageStatisticsLines(const ImageStatistics& statistics);

}  // namespace lumivane
