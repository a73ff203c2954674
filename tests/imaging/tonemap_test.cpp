#include "imaging/tonemap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace lumivane {
namespace {

constexpr OperatorWidth kWidths[] = {OperatorWidth::Single, OperatorWidth::Double};
constexpr float kPostGamma = 0.8333333f;  // 1 / 1.2 as a 32-bit float

TEST(ToneMapChannel, WorkedValuesInBothWidths) {
  for (const OperatorWidth width : kWidths) {
    SCOPED_TRACE(static_cast<int>(width));
    EXPECT_EQ(ToneMapChannel(0.0f, 0.0, 1.0f, 0.8f, kPostGamma, width), 0);
    EXPECT_EQ(ToneMapChannel(0.0f, 0.0, 1.0f, 3.0f, 2.0f, width), 0);
    EXPECT_EQ(ToneMapChannel(1.0f, 0.0, 1.0f, 1.0f, 1.0f, width), 128);
    EXPECT_EQ(ToneMapChannel(0.5f, 0.0, 1.0f, 1.0f, 1.0f, width), 85);
    EXPECT_EQ(ToneMapChannel(1.0f, 0.0, 1.0f, 0.8f, kPostGamma, width), 130);
    EXPECT_EQ(ToneMapChannel(1.25f, 0.0, 1.0f, 0.8f, kPostGamma, width), 144);
    EXPECT_EQ(ToneMapChannel(1e6f, 0.0, 1.0f, 0.8f, kPostGamma, width), 255);
    EXPECT_EQ(ToneMapChannel(3e38f, 0.0, 1.0f, 0.8f, kPostGamma, width), 255);
    // A value at its channel minimum is black; one average above it is 128.
    EXPECT_EQ(ToneMapChannel(3.0f, 3.0, 1.0f, 0.8f, kPostGamma, width), 0);
    EXPECT_EQ(ToneMapChannel(5.0f, 3.0, 2.0f, 1.0f, 1.0f, width), 128);
    // A whole-number exponent: (1/2)^2 x 256.
    EXPECT_EQ(ToneMapChannel(1.0f, 0.0, 1.0f, 1.0f, 2.0f, width), 64);
  }
}

TEST(ToneMapChannel, RoundsHalvesToEvenAndCapsBeforeRounding) {
  // x / (x + 3) with x = 509 is 509/512: o = 254.5 exactly, and so on.
  for (const OperatorWidth width : kWidths) {
    EXPECT_EQ(ToneMapChannel(509.0f, 0.0, 3.0f, 1.0f, 1.0f, width), 254);  // 254.5
    EXPECT_EQ(ToneMapChannel(507.0f, 0.0, 5.0f, 1.0f, 1.0f, width), 254);  // 253.5
    EXPECT_EQ(ToneMapChannel(511.0f, 0.0, 1.0f, 1.0f, 1.0f, width), 255);  // 255.5, capped
    EXPECT_EQ(ToneMapChannel(1.0f, 0.0, 1.0f, 0.5f, 1.0f, width), 85);     // 85.33
  }
}

TEST(ToneMapChannel, WidthOfDAndOChangesTheRoundingOfBorderlineValues) {
  // Found by a search over random inputs: o lies next to 164.5, on one side
  // in 32-bit and on the other in 64-bit arithmetic.
  const float v = 1.9228101968765259f, a = 1.0770142078399658f;
  EXPECT_EQ(ToneMapChannel(v, 0.0, a, 0.8f, kPostGamma, OperatorWidth::Single), 164);
  EXPECT_EQ(ToneMapChannel(v, 0.0, a, 0.8f, kPostGamma, OperatorWidth::Double), 165);
  const float v2 = 2.0398523807525635f, a2 = 0.309577077627182f;
  EXPECT_EQ(ToneMapChannel(v2, 0.0, a2, 0.8f, kPostGamma, OperatorWidth::Single), 222);
  EXPECT_EQ(ToneMapChannel(v2, 0.0, a2, 0.8f, kPostGamma, OperatorWidth::Double), 221);
}

TEST(ToneMapChannel, ValuesTakenAsZeroAndNonPositiveAverages) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  for (const OperatorWidth width : kWidths) {
    // As 0: black at a minimum of 0, the curve's value of 0 - m above a lower one.
    for (const float taken : {nan, inf, -inf, -5.0f, -1e-30f}) {
      EXPECT_EQ(ToneMapChannel(taken, 0.0, 1.0f, 0.8f, kPostGamma, width), 0) << taken;
      EXPECT_EQ(ToneMapChannel(taken, -1.0, 1.0f, 0.8f, kPostGamma, width),
                ToneMapChannel(0.0f, -1.0, 1.0f, 0.8f, kPostGamma, width));
    }
    // No denominator: the minimum stays black, anything above it saturates.
    EXPECT_EQ(ToneMapChannel(0.0f, 0.0, 0.0f, 0.8f, kPostGamma, width), 0);
    EXPECT_EQ(ToneMapChannel(1.0f, 0.0, -5.0f, 1.0f, 1.0f, width), 255);
    EXPECT_EQ(ToneMapChannel(0.0f, 0.0, -5.0f, 1.0f, 1.0f, width), 0);
    // A zero average with a value above the minimum is simply the top of the curve.
    EXPECT_EQ(ToneMapChannel(2.0f, 0.0, 0.0f, 1.0f, 1.0f, width), 255);
  }
}

TEST(ToneMapChannel, BrightnessAndContrastBrightenMonotonically) {
  for (float v = 0.01f; v < 100.0f; v *= 1.7f) {
    int previous = -1;
    for (const float b : {0.01f, 0.1f, 0.8f, 2.0f, 10.0f, 50.0f}) {
      const int out = ToneMapChannel(v, 0.0, 1.0f, b, kPostGamma, OperatorWidth::Single);
      EXPECT_GE(out, previous) << v << " " << b;
      previous = out;
    }
    previous = -1;
    for (const float k : {10.0f, 2.0f, 1.0f, kPostGamma, 0.5f, 0.1f}) {
      const int out = ToneMapChannel(v, 0.0, 1.0f, 0.8f, k, OperatorWidth::Single);
      EXPECT_GE(out, previous) << v << " " << k;
      previous = out;
    }
  }
}

}  // namespace
}  // namespace lumivane
