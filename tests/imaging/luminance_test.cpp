// The luminance histogram against brute force, and the lanes and fast
// logarithms every operator's pixel loop is built on.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "imaging/fastmath.h"
#include "imaging/lanes.h"
#include "imaging/luminance.h"

namespace lumivane {
namespace {

// Pixels over 24 stops, log-uniform, with black ones among them.
std::vector<float> RandomPixels(std::size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> stops(-16.0f, 8.0f), tint(0.2f, 1.0f);
  std::vector<float> rgb;
  for (std::size_t i = 0; i < count; ++i) {
    const float level = i % 17 == 0 ? 0.0f : std::exp2(stops(random));
    for (int c = 0; c < 3; ++c) rgb.push_back(level * tint(random));
  }
  return rgb;
}

std::vector<double> Luminances(const std::vector<float>& rgb) {
  std::vector<double> l;
  for (std::size_t i = 0; i < rgb.size(); i += 3)
    l.push_back(LuminanceOf(rgb[i], rgb[i + 1], rgb[i + 2]));
  return l;
}

TEST(LuminanceHistogram, AgreesWithBruteForce) {
  const std::vector<float> rgb = RandomPixels(20011, 1);
  LuminanceHistogram histogram;
  histogram.AddPixels(rgb.data(), rgb.size() / 3);
  std::vector<double> l = Luminances(rgb);
  std::sort(l.begin(), l.end());
  const auto firstPositive = std::upper_bound(l.begin(), l.end(), 0.0);

  EXPECT_EQ(histogram.Count(), l.size());
  EXPECT_EQ(histogram.Zeros(), static_cast<std::uint64_t>(firstPositive - l.begin()));
  EXPECT_EQ(histogram.Maximum(), static_cast<float>(l.back()));
  EXPECT_EQ(histogram.MinimumPositive(), static_cast<float>(*firstPositive));
  EXPECT_EQ(histogram.Percentile(100.0), static_cast<float>(l.back()));
  EXPECT_EQ(histogram.PositivePercentile(0.0), static_cast<float>(*firstPositive));

  // Within the bin of the order statistic, at most log2(65 / 64) wide; the
  // first percent are black pixels.
  EXPECT_EQ(histogram.Percentile(1.0), 0.0);
  const double bin = std::log2(65.0 / 64.0);
  for (const double p : {1.0, 10.0, 50.0, 90.0, 99.0, 99.9}) {
    const double rank = p / 100.0 * static_cast<double>(l.size());
    const double exact = l[static_cast<std::size_t>(std::ceil(rank)) - 1];
    if (exact > 0.0) {
      EXPECT_NEAR(std::log2(histogram.Percentile(p)), std::log2(exact), bin) << p;
    }
    const std::size_t positives = static_cast<std::size_t>(l.end() - firstPositive);
    const double positive =
        firstPositive[static_cast<std::size_t>(std::ceil(p / 100.0 * positives)) - 1];
    EXPECT_NEAR(std::log2(histogram.PositivePercentile(p)), std::log2(positive), bin) << p;
  }

  double logSum = 0.0, log2Sum = 0.0;
  for (const double v : l) logSum += std::log(1e-5 + v);
  for (auto v = firstPositive; v != l.end(); ++v) log2Sum += std::log2(*v);
  const double logAverage = std::exp(logSum / static_cast<double>(l.size()));
  EXPECT_NEAR(histogram.LogAverage(1e-5) / logAverage, 1.0, 2e-4);
  EXPECT_NEAR(histogram.MeanLog2Positive(), log2Sum / static_cast<double>(l.end() - firstPositive),
              2e-4);
}

TEST(LuminanceHistogram, SameCountsInAnyOrderAndSplitAndOneByOne) {
  std::vector<float> rgb = RandomPixels(5003, 2);
  LuminanceHistogram whole, parts[3], merged;
  whole.AddPixels(rgb.data(), rgb.size() / 3);
  // Backwards, in uneven pieces as threads would add them, merged in another order.
  std::vector<float> reversed;
  for (std::size_t i = rgb.size(); i > 0; i -= 3)
    reversed.insert(reversed.end(), &rgb[i - 3], &rgb[i]);
  const std::size_t cuts[] = {0, 7, 2500, rgb.size() / 3};
  for (int k = 0; k < 3; ++k) parts[k].AddPixels(&reversed[3 * cuts[k]], cuts[k + 1] - cuts[k]);
  for (int k = 2; k >= 0; --k) merged.Merge(parts[k]);
  const auto same = [](const LuminanceHistogram& a, const LuminanceHistogram& b) {
    ASSERT_EQ(a.Count(), b.Count());
    EXPECT_EQ(a.Maximum(), b.Maximum());
    EXPECT_EQ(a.MinimumPositive(), b.MinimumPositive());
    for (std::size_t i = 0; i < LuminanceHistogram::kBins; ++i) ASSERT_EQ(a.Bin(i), b.Bin(i)) << i;
  };
  same(merged, whole);
  EXPECT_EQ(merged.LogAverage(1e-5), whole.LogAverage(1e-5));

  // Runs of luminances (four at a time) count as values one by one, even
  // those the statistics pass never hands over.
  const float odd[] = {0.0f,
                       -0.0f,
                       -1.0f,
                       std::numeric_limits<float>::denorm_min(),
                       std::numeric_limits<float>::min(),
                       std::numeric_limits<float>::max(),
                       std::numeric_limits<float>::infinity(),
                       std::numeric_limits<float>::quiet_NaN(),
                       1.0f,
                       0.75f,
                       3e-30f};
  std::vector<float> values;
  for (int round = 0; round < 5; ++round)
    values.insert(values.end(), std::begin(odd), std::end(odd));
  for (std::size_t count = 0; count <= values.size(); count += 3) {
    LuminanceHistogram runs, single;
    runs.AddLuminances(values.data(), count);
    for (std::size_t i = 0; i < count; ++i) single.AddLuminance(values[i]);
    same(runs, single);
  }
}

TEST(PixelBlock, TakesWhatCannotBeLightAsBlackAndWeighsRec709) {
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<float> rgb = RandomPixels(11, 4);
  rgb[1] = -2.0f, rgb[5] = std::numeric_limits<float>::quiet_NaN(), rgb[9] = inf, rgb[30] = -inf;
  rgb[13] = std::numeric_limits<float>::denorm_min();
  PixelBlock block;
  block.Load(rgb.data(), 11);
  ASSERT_EQ(block.Lanes() % lanes::kWidth, 0u);
  for (std::size_t i = 0; i < block.Lanes(); ++i) {
    float expected[3] = {0.0f, 0.0f, 0.0f};
    for (int c = 0; i < 11 && c < 3; ++c) {
      const float v = rgb[3 * i + c];
      expected[c] = v >= std::numeric_limits<float>::min() && v < inf ? v : 0.0f;
    }
    EXPECT_EQ(block.R[i], expected[0]) << i;
    EXPECT_EQ(block.G[i], expected[1]) << i;
    EXPECT_EQ(block.B[i], expected[2]) << i;
    EXPECT_EQ(block.Luminance[i], LuminanceOf(expected[0], expected[1], expected[2])) << i;
  }
}

TEST(FastMath, CloseToTheLibraryAndTheSameInEveryLane) {
  std::mt19937 random(5);
  std::uniform_real_distribution<float> exponent(-120.0f, 120.0f);
  std::vector<float> x(1003), y(1003);
  for (std::size_t i = 0; i < x.size(); ++i) {
    y[i] = exponent(random);
    x[i] = std::exp2(y[i]);
  }
  std::vector<float> logs(x.size()), powers(x.size());
  lanes::MapLanes(x.data(), x.size(), logs.data(), [](auto v) { return FastLog2(v); });
  lanes::MapLanes(y.data(), y.size(), powers.data(), [](auto v) { return FastExp2(v); });
  for (std::size_t i = 0; i < x.size(); ++i) {
    EXPECT_EQ(std::bit_cast<std::uint32_t>(logs[i]), std::bit_cast<std::uint32_t>(FastLog2(x[i])));
    EXPECT_EQ(std::bit_cast<std::uint32_t>(powers[i]),
              std::bit_cast<std::uint32_t>(FastExp2(y[i])));
    EXPECT_NEAR(logs[i], std::log2(static_cast<double>(x[i])), 4e-6 * (1.0 + std::abs(y[i])));
    EXPECT_NEAR(powers[i] / std::exp2(static_cast<double>(y[i])), 1.0, 4e-6);
  }
  EXPECT_EQ(FastExp2(std::numeric_limits<float>::quiet_NaN()), std::exp2(-125.0f));
  EXPECT_EQ(FastExp2(1000.0f), std::exp2(127.0f));
}

}  // namespace
}  // namespace lumivane
