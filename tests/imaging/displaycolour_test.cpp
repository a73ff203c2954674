// The display encoder: its codes are the rounded display values, value by
// value, and its colour rebuild is out = (in / L_in)^s x L_out.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "imaging/displaycolour.h"

namespace lumivane {
namespace {

long Rounded(float display) {
  return std::lround(std::clamp(display, 0.0f, 1.0f) * 255.0f);
}

TEST(DisplayEncoder, CodesAreTheRoundedDisplayValues) {
  // sRGB, the gammas of the comparisons, a linear one and one below 1 (where
  // the code climbs more than one step inside a bin).
  for (const float gamma : {0.0f, 2.2f, 1.0f, 1.8f, 0.5f}) {
    SCOPED_TRACE(gamma);
    const DisplayRule rule{1.0f, gamma};
    const DisplayEncoder encoder(rule);
    std::vector<float> values = {0.0f,
                                 -1.0f,
                                 1.0f,
                                 2.0f,
                                 std::numeric_limits<float>::quiet_NaN(),
                                 std::numeric_limits<float>::denorm_min(),
                                 1e-30f};
    // Floats from 0 to 1 at every 4096th bit pattern and the one after, and
    // both sides of each value where the code steps up.
    for (std::uint32_t bits = 0x0FFF; bits <= 0x3F800000u; bits += 0x1000) {
      values.push_back(std::bit_cast<float>(bits));
      values.push_back(std::bit_cast<float>(bits + 1));
    }
    for (long code = 0; code < 255; ++code) {
      std::uint32_t low = 0, high = 0x3F800000u;
      while (high - low > 1) {
        const std::uint32_t middle = low + (high - low) / 2;
        (Rounded(EncodeForDisplay(std::bit_cast<float>(middle), rule)) > code ? high : low) =
            middle;
      }
      values.push_back(std::bit_cast<float>(low));
      values.push_back(std::bit_cast<float>(high));
    }
    for (const float v : values) {
      const float display = EncodeForDisplay(std::isnan(v) ? 0.0f : v, rule);
      ASSERT_EQ(encoder.Code(v), Rounded(display)) << v;
    }
  }
}

TEST(DisplayEncoder, CodesOfLogsAreTheRoundedDisplayValues) {
  // sRGB, the gammas of the comparisons, a linear one and one below 1 (where
  // the code climbs more than one step inside a bin).
  for (const float gamma : {0.0f, 2.2f, 1.0f, 1.8f, 0.5f}) {
    SCOPED_TRACE(gamma);
    const DisplayRule rule{1.0f, gamma};
    const DisplayEncoder encoder(rule);
    EXPECT_EQ(encoder.DisplayOfLog(-1e30f), 0.0f);
    EXPECT_NEAR(encoder.DisplayOfLog(-1.0f), EncodeForDisplay(0.5f, rule), 1e-6);
    std::vector<float> logs = {-1e30f, -200.0f, 0.0f,
                               1.0f,   50.0f,   std::numeric_limits<float>::quiet_NaN()};
    // y from -40 to 1 in fine steps, and both sides of each y where the code
    // steps up (found here by halving, independently of the encoder's table).
    for (float y = -40.0f; y < 1.0f; y += 1.0f / 1024.0f) logs.push_back(y);
    for (long code = 0; code < 255; ++code) {
      float low = -60.0f, high = 0.0f;
      while (std::nextafter(low, high) < high) {
        const float middle = low + (high - low) / 2;
        if (middle == low || middle == high) break;
        (Rounded(encoder.DisplayOfLog(middle)) > code ? high : low) = middle;
      }
      logs.insert(logs.end(), {low, high, std::nextafter(low, -1.0f), std::nextafter(high, 1.0f)});
    }
    for (const float y : logs)
      ASSERT_EQ(encoder.CodeOfLog(y), Rounded(encoder.DisplayOfLog(y))) << y;
  }
}

TEST(DisplayEncoder, RebuildsColourAsThePowerOfTheRatio) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> channel(0.0f, 3.0f), mapped(0.0f, 1.2f);
  std::vector<float> rgb, out;
  for (int i = 0; i < 37; ++i) {
    rgb.insert(rgb.end(), {channel(random), channel(random), channel(random)});
    out.push_back(mapped(random));
  }
  rgb[3] = 0.0f;                                      // a black channel
  rgb[6] = rgb[7] = rgb[8] = 0.0f;                    // a black pixel
  rgb[9] = -1.0f;                                     // taken as 0
  rgb[12] = std::numeric_limits<float>::quiet_NaN();  // taken as 0
  for (const float saturation : {1.0f, 0.6f, 1.7f}) {
    for (const float gamma : {0.0f, 2.2f}) {
      SCOPED_TRACE(saturation);
      const DisplayRule rule{saturation, gamma};
      const DisplayEncoder encoder(rule);
      PixelBlock block;
      block.Load(rgb.data(), 37);
      std::vector<float> mappedPadded(block.Lanes(), 0.0f);
      std::copy(out.begin(), out.end(), mappedPadded.begin());
      std::vector<float> display(3 * 37);
      std::vector<std::uint8_t> codes(3 * 37);
      encoder.Display(block, mappedPadded.data(), display.data());
      encoder.Codes(block, mappedPadded.data(), codes.data());
      for (std::size_t i = 0; i < 37; ++i) {
        float clean[3];
        for (int c = 0; c < 3; ++c) clean[c] = rgb[3 * i + c] > 0.0f ? rgb[3 * i + c] : 0.0f;
        float expected[3];
        RebuildAndEncode(clean, block.Luminance[i], out[i], rule, expected);
        for (int c = 0; c < 3; ++c) {
          EXPECT_NEAR(display[3 * i + c], expected[c], 2e-5) << i << " " << c;
          EXPECT_EQ(codes[3 * i + c], Rounded(display[3 * i + c])) << i << " " << c;
        }
      }
    }
  }
}

}  // namespace
}  // namespace lumivane
