// Small files that claim far more than they hold, as an attacker makes them:
// the robustness tests refuse them and the fuzzers start from them.
#pragma once

#include <cstdint>
#include <string>

#include "tests/support/floatfiles.h"

namespace lumivane::testing {

// A float RGB TIFF of width x height in one strip of `compression` (8
// deflate, 5 LZW) whose data is a valid stream of 100 zero bytes.
Bytes CompressedStripTiff(std::uint32_t width, std::uint32_t height, std::uint16_t compression);

// An uncompressed 16-bit RGB TIFF claiming all its rows in one strip, which
// holds 48 bytes.
Bytes HugeStripTiff(std::uint32_t width, std::uint32_t height);

// An uncompressed 8-bit grey TIFF with `samples` samples per pixel, one strip.
Bytes ManySamplesTiff(std::uint32_t width, std::uint32_t height, std::uint16_t samples);

// An uncompressed float RGB TIFF of tiles of tile x tile pixels, whose byte
// counts are the tiles' full size and whose data is absent.
Bytes BigTileTiff(std::uint32_t width, std::uint32_t height, std::uint32_t tile);

// The OpenEXR file `exr` with its data window (its first box2i attribute
// of that name) set to `width` x `height` from 0, 0.
Bytes ResizedExrWindow(const Bytes& exr, std::uint32_t width, std::uint32_t height);

}  // namespace lumivane::testing
