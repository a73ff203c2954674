#include "imaging/statistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "formats/rgbe.h"
#include "steps/session.h"
#include "steps/statuslog.h"
#include "tests/support/recordingwindow.h"

namespace lumivane {
namespace {

constexpr double kLow = 1.0000000031710769e-30;
constexpr double kHigh = 1.0000000150474662e+30;

ChannelAccumulators Accumulate(const std::vector<std::array<float, 3>>& pixels) {
  ChannelAccumulators channels;
  for (const auto& pixel : pixels) {
    for (int c = 0; c < 3; ++c) channels[c].Add(pixel[c]);
  }
  return channels;
}

TEST(ImageStatistics, StartValuesAreTheFloatConstants) {
  const ChannelAccumulator fresh;
  EXPECT_EQ(fresh.Minimum, kHigh);
  EXPECT_EQ(fresh.Maximum, kLow);
  EXPECT_EQ(fresh.Sum, 0.0);
}

TEST(ImageStatistics, SinglePixelIsItsOwnMinimumMaximumSumAndAverage) {
  const auto channels = Accumulate({{0.25f, 3.5f, 100.0f}});
  for (const bool warm : {true, false}) {
    const ImageStatistics s = ComputeImageStatistics(channels, 1, warm);
    const float values[] = {0.25f, 3.5f, 100.0f};
    for (int c = 0; c < 3; ++c) {
      EXPECT_EQ(s.Minimum[c], values[c]);
      EXPECT_EQ(s.Maximum[c], values[c]);
      EXPECT_EQ(s.Sum[c], values[c]);
    }
    const float grey = static_cast<float>((3.5 + 0.25 + 100.0) / 3.0);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(s.Average[c], warm ? values[c] : grey);
    EXPECT_DOUBLE_EQ(s.GreyMinimum, (3.5 + 0.25 + 100.0) / 3.0);
    EXPECT_DOUBLE_EQ(s.DynamicRange, 1.0);
  }
}

TEST(ImageStatistics, ChannelsBeyondTheStartValuesReportThem) {
  // All values below the maximum's start value, or above the minimum's.
  const auto channels = Accumulate({{1e-35f, 2e30f, 1.0f}, {1e-32f, 5e30f, 2.0f}});
  const ImageStatistics s = ComputeImageStatistics(channels, 2, true);
  EXPECT_EQ(s.Maximum[0], kLow);
  EXPECT_EQ(s.Minimum[0], static_cast<double>(1e-35f));
  EXPECT_EQ(s.Minimum[1], kHigh);
  EXPECT_EQ(s.Maximum[1], static_cast<double>(5e30f));
  // The grey maximum (about 1.7e30) is clamped, the channel values are not.
  EXPECT_EQ(s.GreyMaximum, kHigh);
  EXPECT_EQ(s.Average[2], 1.5f);
}

TEST(ImageStatistics, ZeroPixelClampsTheGreyMinimumAndWidensTheRange) {
  const float zero = RgbeToFloat(0, 0);
  const float one = RgbeToFloat(128, 129);
  const auto channels = Accumulate({{zero, zero, zero}, {one, one, one}});
  const ImageStatistics s = ComputeImageStatistics(channels, 2, false);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(s.Minimum[c], std::ldexp(1.0, -137));
  EXPECT_EQ(s.GreyMinimum, kLow);
  EXPECT_DOUBLE_EQ(s.GreyMaximum, 1.00390625);
  EXPECT_DOUBLE_EQ(s.DynamicRange, 1.00390625 / kLow);

  testing::RecordingWindow window;
  Session session(window);
  LogImageStatistics(session, s);
  const std::string channel = " 5.73971850987445E-42, 1.00390625, 1.00390625, .5019531";
  EXPECT_EQ(window.Log, (std::vector<std::string>{
                            "Statistics (Low, High, Sum, Average of values)", "Red:  " + channel,
                            "Green:" + channel, "Blue: " + channel,
                            "Grey:  1.00000000317108E-30, 1.00390625, 1.00390625, .501953125",
                            "Dynamic range (grey):  1.00390624681654E+30"}));
}

TEST(ImageStatistics, WarmColoursChoosesBetweenChannelAndGreyAverages) {
  const auto channels = Accumulate({{1.0f, 2.0f, 6.0f}, {3.0f, 4.0f, 10.0f}});
  const ImageStatistics warm = ComputeImageStatistics(channels, 2, true);
  EXPECT_EQ(warm.Average, (std::array<float, 3>{2.0f, 3.0f, 8.0f}));
  const ImageStatistics grey = ComputeImageStatistics(channels, 2, false);
  EXPECT_EQ(grey.Average, (std::array<float, 3>{13.0f / 3, 13.0f / 3, 13.0f / 3}));
  EXPECT_DOUBLE_EQ(grey.GreyAverage, 26.0 / 6);
  EXPECT_DOUBLE_EQ(grey.GreySum, 26.0 / 3);
  EXPECT_DOUBLE_EQ(grey.GreyMinimum, (2.0 + 1.0 + 6.0) / 3);
  EXPECT_DOUBLE_EQ(grey.GreyMaximum, (4.0 + 3.0 + 10.0) / 3);
  EXPECT_DOUBLE_EQ(grey.DynamicRange, 17.0 / 9);
}

// Below zero, NaN and infinities count as 0 (and are counted); -0.0 is zero
// already and keeps its sign.
TEST(ImageStatistics, ValuesBelowZeroAndNotFiniteAreTakenAsZero) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const auto channels = Accumulate({{2.0f, 3.0f, 4.0f}, {nan, inf, -inf}, {-5.0f, -0.0f, 1.0f}});
  const double minima[] = {0.0, 0.0, 0.0}, sums[] = {2.0, 3.0, 5.0};
  const std::uint64_t taken[] = {2, 1, 1};
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(channels[c].Minimum, minima[c]);
    EXPECT_FALSE(std::signbit(channels[c].Minimum)) << c;
    EXPECT_EQ(channels[c].Maximum, 2.0 + c);
    EXPECT_EQ(channels[c].Sum, sums[c]);
    EXPECT_EQ(channels[c].TakenAsZeroCount, taken[c]);
  }
  const ImageStatistics statistics = ComputeImageStatistics(channels, 3, false);
  EXPECT_EQ(TakenAsZeroLine(statistics), "Values below zero or not finite, taken as 0: 4");
  EXPECT_EQ(TakenAsZeroLine(ComputeImageStatistics(Accumulate({{-0.0f, 1.0f, 2.0f}}), 1, false)),
            "");
}

}  // namespace
}  // namespace lumivane
