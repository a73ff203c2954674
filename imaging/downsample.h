// An image made smaller in the streaming row pass, before it is tone-mapped:
// each output pixel the average of the input area it covers (fractions of
// pixels at its edges weighted by how much of them it covers), in linear
// light. Memory holds one block of input rows and one output row of sums,
// whatever the input's size.
#pragma once

#include <cstdint>
#include <memory>

#include "formats/imagerows.h"

namespace lumivane {

struct ImageSize {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  bool operator==(const ImageSize&) const = default;
};

// The largest size inside a box of `box`, with the image's aspect, never
// larger than the image itself; each side at least 1.
ImageSize FitInside(ImageSize image, ImageSize box);
// The image's size times `scale` (0 < scale <= 1), each side at least 1.
ImageSize Scaled(ImageSize image, double scale);

// Rows of `source` averaged down to `size` (no side larger than the
// source's). Values below zero and not finite count as 0, as the tone-map
// takes them, so that one of them does not darken or poison a whole area.
std::unique_ptr<ImageRowSource> DownsampleRows(std::shared_ptr<ImageRowSource> source,
                                               ImageSize size);

}  // namespace lumivane
