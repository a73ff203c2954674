// This program's operator beside pfstools' global Reinhard et al. 2002
// operator (pfstmo_reinhard02 without --scales) on the same input.
//
// pfstmo_reinhard02 maps the luminance Y of each pixel to
//   Ld = L (1 + L / Lwhite^2) / (1 + L),  L = key x Y / Yav,
// with Yav = exp(mean(log(1e-5 + Y))), Lwhite the largest L, and scales R, G
// and B by Ld / Y; pfsoutppm stores floor(255 x value). This program maps each
// channel by itself to min(255, 256 x (x / (x + a / B))^k), x = v - minimum,
// a the arithmetic average, rounded. On a grey image whose minimum is near 0,
// k = 1 and B = key x a / Yav make the two L / (1 + L) the same; what remains
// is the white term, 256 against 255, and rounding against truncation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "imaging/statistics.h"
#include "shell/dispatch.h"
#include "tests/interop/peers.h"

namespace lumivane::interop {
namespace {

constexpr double kKey = 0.18;  // pfstmo_reinhard02's default key
// The largest difference, in output levels, with the matching settings.
constexpr int kTolerance = 2;

struct Difference {
  int Largest = 0;
  double Mean = 0;
};

Difference Compare(const Bytes& ours, const Bytes& theirs) {
  Difference d;
  double total = 0;
  for (std::size_t i = 0; i < ours.size(); ++i) {
    const int difference = std::abs(int{ours[i]} - int{theirs[i]});
    d.Largest = std::max(d.Largest, difference);
    total += difference;
  }
  d.Mean = total / static_cast<double>(ours.size());
  return d;
}

double MeanLevel(const Bytes& bytes) {
  double total = 0;
  for (const std::uint8_t b : bytes) total += b;
  return total / static_cast<double>(bytes.size());
}

Bytes Reinhard02(const TempDir& dir, const std::string& pfm) {
  const std::string ppm = dir.File("reinhard02.ppm");
  const Ran ran = Shell(dir, "pfsin " + Quote(pfm) + " | pfstmo_reinhard02 | pfsout " + Quote(ppm));
  EXPECT_EQ(ran.Status, 0) << ran.Err;
  const auto image = ParsePpm(testing::ReadBytes(ppm));
  return image ? image->Values : Bytes();
}

Bytes Ours(const TempDir& dir, const std::string& pfm, const std::vector<std::string>& settings) {
  const std::string tif = dir.File("ours.tif");
  std::vector<std::string> args = {"tonemap", "-q"};
  args.insert(args.end(), settings.begin(), settings.end());
  args.insert(args.end(), {pfm, tif});
  const Ran ran = RunCli(dir, args);
  EXPECT_EQ(ran.Status, 0) << ran.Err;
  const Bytes file = testing::ReadBytes(tif);
  return file.size() > 308 ? Bytes(file.begin() + 308, file.end()) : Bytes();
}

std::string Text(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", value);
  return text;
}

TEST(Reinhard02SideBySide, MatchingSettingsAgreeWithinTwoLevels) {
  if (!HavePeers({"pfsin", "pfstmo_reinhard02", "pfsout"}))
    GTEST_SKIP() << "pfstools is not installed";
  TempDir dir;
  // Five decades over an odd-sized grey image; pfstmo_reinhard02 gives NaN
  // for a pixel of 0, so the minimum is 1e-3 instead.
  const FloatImage grey = GreyScene(61, 23);
  const std::string pfm = dir.File("grey.pfm");
  testing::WriteBytes(pfm, testing::StandardPfm(grey, true));
  const std::size_t pixels = std::size_t{grey.Width} * grey.Height;

  ChannelAccumulators accumulators;
  double logSum = 0;
  for (std::size_t i = 0; i < pixels; ++i) {
    for (int c = 0; c < 3; ++c) accumulators[c].Add(grey.Values[3 * i + c]);
    logSum += std::log(1e-5 + grey.Values[3 * i + 1]);
  }
  const ImageStatistics statistics =
      ComputeImageStatistics(accumulators, static_cast<std::uint32_t>(pixels), false);
  const double logAverage = std::exp(logSum / static_cast<double>(pixels));
  const auto brightness = static_cast<float>(kKey * statistics.Average[0] / logAverage);
  ASSERT_GE(brightness, 0.01f);
  ASSERT_LE(brightness, 50.0f);

  const Bytes theirs = Reinhard02(dir, pfm);
  ASSERT_EQ(theirs.size(), pixels * 3);
  const Bytes matched = Ours(dir, pfm, {"--brightness", Text(brightness), "--post-gamma", "1"});
  ASSERT_EQ(matched.size(), pixels * 3);
  EXPECT_TRUE(matched == ExpectedToneMap(grey, brightness, 1.0f, false));
  const Difference close = Compare(matched, theirs);
  EXPECT_LE(close.Largest, kTolerance);

  // With the defaults the two are far apart: the key value differs.
  const Bytes defaults = Ours(dir, pfm, {});
  ASSERT_EQ(defaults.size(), pixels * 3);
  const Difference apart = Compare(defaults, theirs);
  EXPECT_GT(apart.Largest, 10 * kTolerance);

  std::cout << "grey 61 x 23, Brightness " << Text(brightness) << " (key " << kKey << " x average "
            << statistics.Average[0] << " / log-average " << logAverage
            << "), post-gamma 1: largest difference " << close.Largest << ", mean " << close.Mean
            << " levels\n"
            << "defaults (Brightness 0.8, Contrast 1.2) against key 0.18: largest difference "
            << apart.Largest << ", mean " << apart.Mean << "; mean level ours "
            << MeanLevel(defaults) << ", pfstmo_reinhard02 " << MeanLevel(theirs) << "\n";
  RecordProperty("matched_largest", close.Largest);
  RecordProperty("defaults_largest", apart.Largest);

  // Colour: pfstmo_reinhard02 keeps each pixel's colour ratios, this program
  // maps each channel by itself, so only the figures are reported.
  FloatImage colour = Scene(61, 23);
  for (float& value : colour.Values)
    if (value == 0) value = 1e-3f;
  const std::string colourPfm = dir.File("colour.pfm");
  testing::WriteBytes(colourPfm, testing::StandardPfm(colour, true));
  const Bytes colourTheirs = Reinhard02(dir, colourPfm);
  const Bytes colourOurs = Ours(dir, colourPfm, {});
  ASSERT_EQ(colourTheirs.size(), colourOurs.size());
  const Difference colourApart = Compare(colourOurs, colourTheirs);
  std::cout << "colour 61 x 23, defaults: largest difference " << colourApart.Largest << ", mean "
            << colourApart.Mean << "; mean level ours " << MeanLevel(colourOurs)
            << ", pfstmo_reinhard02 " << MeanLevel(colourTheirs) << "\n";
}

}  // namespace
}  // namespace lumivane::interop
