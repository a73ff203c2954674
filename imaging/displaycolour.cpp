#include "imaging/displaycolour.h"

#include <algorithm>
#include <cmath>

namespace lumivane {

float EncodeForDisplay(float linear, const DisplayRule& rule) {
  const float v = std::clamp(linear, 0.0f, 1.0f);
  if (rule.Gamma > 0.0f) return std::pow(v, 1.0f / rule.Gamma);
  return v <= 0.0031308f ? 12.92f * v : 1.055f * std::pow(v, 1.0f / 2.4f) - 0.055f;
}

void RebuildAndEncode(const float* rgb, float in, float out, const DisplayRule& rule,
                      float* display) {
  for (int c = 0; c < 3; ++c) {
    float linear = 0.0f;
    if (in > 0.0f) {
      const float ratio = rgb[c] / in;
      linear = (rule.Saturation == 1.0f ? ratio : std::pow(ratio, rule.Saturation)) * out;
    }
    display[c] = EncodeForDisplay(linear, rule);
  }
}

}  // namespace lumivane
