// The last steps every luminance-based operator shares: colour rebuilt from
// the mapped luminance (Mantiuk et al. 2009), then encoded for display with
// the sRGB curve or a plain power.
#pragma once

#include <cstddef>

namespace lumivane {

struct DisplayRule {
  // out = (in / L_in)^Saturation x L_out, per channel.
  float Saturation = 1.0f;
  // 0: the sRGB curve (IEC 61966-2-1); otherwise out^(1 / Gamma).
  float Gamma = 0.0f;
};

// One pixel's linear RGB `rgb` with luminance `in` whose luminance maps to
// `out` (display-relative, 1 is white): the display values, clipped to [0, 1].
void RebuildAndEncode(const float* rgb, float in, float out, const DisplayRule& rule,
                      float* display);

// The display value of a linear one in [0, 1] under `rule`.
float EncodeForDisplay(float linear, const DisplayRule& rule);

}  // namespace lumivane
