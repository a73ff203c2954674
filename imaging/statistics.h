// Per-channel minimum, maximum and sum over an image, and what follows from them.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace lumivane {

// The 32-bit floats nearest to 1e30 and 1e-30, widened: start values and clamps.
inline constexpr double kStatisticsHigh = static_cast<double>(1e30f);
inline constexpr double kStatisticsLow = static_cast<double>(1e-30f);

// Whether a value is taken as 0 in tone-mapping: below zero, NaN or infinite.
// A lossy codec rings below zero around sharp edges; subtracting the minimum
// would let one such value lift the whole image. -0.0 is zero already.
inline bool TakenAsZero(float value) {
  return !(value >= 0.0f) || value == std::numeric_limits<float>::infinity();
}

struct ChannelAccumulator {
  double Minimum = kStatisticsHigh;
  double Maximum = kStatisticsLow;
  double Sum = 0.0;
  // Values that were taken as 0.
  std::uint64_t TakenAsZeroCount = 0;

  void Add(float value) {
    if (TakenAsZero(value)) {
      value = 0.0f;
      ++TakenAsZeroCount;
    }
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
  // Channel values taken as 0, over all three channels.
  std::uint64_t TakenAsZeroCount = 0;
};

ImageStatistics ComputeImageStatistics(const ChannelAccumulators& accumulators,
                                       std::uint32_t pixelCount, bool warmColours);

// The six lines of the statistics block, in log order.
std::array<std::string, 6> ImageStatisticsLines(const ImageStatistics& statistics);
// The line that follows them when some values were taken as 0; empty when none were.
std::string TakenAsZeroLine(const ImageStatistics& statistics);

}  // namespace lumivane
