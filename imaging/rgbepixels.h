// Radiance pixels straight from their decoded planes into the operators'
// blocks, without interleaved floats between: the values are the ones the
// rows of floats would hold, so an operator gives the same bytes either way.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/luminance.h"

namespace lumivane {

// Pixels as planes of mantissas and their shared exponent.
struct RgbePlanes {
  const std::uint8_t* R;
  const std::uint8_t* G;
  const std::uint8_t* B;
  const std::uint8_t* E;

  RgbePlanes From(std::size_t n) const { return {R + n, G + n, B + n, E + n}; }
};

// `count` (at most PixelBlock::kPixels) pixels into `block`, exactly as
// PixelBlock::Load loads their float values.
void LoadRgbeBlock(const RgbePlanes& pixels, std::size_t count, PixelBlock& block);

// `count` pixels as three floats each, the values the Radiance rows hold.
void RgbePlanesToFloats(const RgbePlanes& pixels, std::size_t count, float* rgb);

}  // namespace lumivane
