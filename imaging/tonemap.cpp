#include "imaging/tonemap.h"

#include <cmath>

#include "imaging/statistics.h"

namespace lumivane {

namespace {

// Capped at 255 (a NaN too), then to the nearest whole number, halves to even.
std::uint8_t ToByte(double o) {
  if (!(o <= 255.0)) o = 255.0;
  return static_cast<std::uint8_t>(static_cast<int>(std::nearbyint(o)) & 0xFF);
}

}  // namespace

double ToneMapChannelLevel(float v, double m, float a, float b, float k, OperatorWidth width) {
  // As the statistics took it: no value below zero or not finite reaches the curve.
  if (TakenAsZero(v)) v = 0.0f;

  const float x = static_cast<float>(static_cast<double>(v) - m);
  const double sum = static_cast<double>(a) / static_cast<double>(b) + static_cast<double>(x);
  const double d = width == OperatorWidth::Single ? static_cast<double>(static_cast<float>(sum))
                                                  : sum;
  // With a zero or negative average the curve has no denominator; a value at
  // the minimum stays black and anything above it saturates.
  if (!(d > 0.0)) return x > 0.0f ? 255.0 : 0.0;

  const float y = static_cast<float>(static_cast<double>(x) / d);
  double powered;
  if (k == 1.0f) {
    powered = y;
  } else if (y == 0.0f) {
    powered = 0.0;
  } else {
    powered = std::pow(static_cast<double>(y), static_cast<double>(k));
  }
  double o = 256.0 * powered;
  if (width == OperatorWidth::Single) o = static_cast<double>(static_cast<float>(o));
  // Capped at 255, a NaN too.
  return o <= 255.0 ? o : 255.0;
}

std::uint8_t ToneMapChannel(float v, double m, float a, float b, float k, OperatorWidth width) {
  return ToByte(ToneMapChannelLevel(v, m, a, b, k, width));
}

}  // namespace lumivane
