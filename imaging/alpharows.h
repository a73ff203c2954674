// Alpha beside a tone-mapped picture. The operator maps colour as it is
// seen, so premultiplied colour (OpenEXR's rule, a TIFF's associated alpha)
// is divided by its alpha first; the output then holds straight alpha, as PNG
// and the integer TIFFs say. Pure code: no session, log or window.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>

#include "formats/imagerows.h"

namespace lumivane {

// Rows of `source` (one that ReadsAlpha) with straight colour, in both of the
// job's passes; the alpha itself as the source gives it.
std::unique_ptr<ImageRowSource> StraightAlphaRows(std::shared_ptr<ImageRowSource> source);

// `pixels` mapped pixels of three levels each and their alpha (0 to 1; beyond
// held to the range, not a number as 0) as four levels a pixel.
template <typename Level>
void AppendAlpha(const Level* rgb, const float* alpha, std::size_t pixels, Level* rgba) {
  constexpr float kTop = std::numeric_limits<Level>::max();
  for (std::size_t i = 0; i < pixels; ++i) {
    const float a = std::isnan(alpha[i]) ? 0.0f : std::clamp(alpha[i], 0.0f, 1.0f);
    std::copy(rgb + 3 * i, rgb + 3 * i + 3, rgba + 4 * i);
    rgba[4 * i + 3] = static_cast<Level>(std::lround(a * kTop));
  }
}

}  // namespace lumivane
