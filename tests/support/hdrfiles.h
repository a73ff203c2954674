// Radiance RGBE files built in memory, for tests: any header text, and rows in
// each of the three stored forms (flat, per-component runs, old-style runs).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumivane::testing {

struct RgbePixel {
  std::uint8_t R = 0, G = 0, B = 0, E = 0;
  bool operator==(const RgbePixel&) const = default;
};

// Row after row, Width x Height pixels.
struct RgbePixels {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::vector<RgbePixel> Pixels;
  const RgbePixel& At(std::uint32_t x, std::uint32_t y) const { return Pixels[y * Width + x]; }
};

enum class RgbeRowForm { Flat, ComponentRuns, OldRuns };

// "#?RADIANCE\n", each line followed by LF, an empty line, then "-Y h +X w\n".
std::string HdrHeaderText(const std::vector<std::string>& lines, std::uint32_t width,
                          std::uint32_t height);
// The usual header: FORMAT=32-bit_rle_rgbe and EXPOSURE=1.0.
std::string StandardHdrHeader(std::uint32_t width, std::uint32_t height);

// One stored row in the given form. Flat rows are 4 bytes per pixel, their
// first pixel being the row head. Component-run rows start with 2, 2, hi, lo
// (the row width) and mix runs and literals. Old-run rows start with the run
// marker 1, 1, 1, n that repeats `previous` (the last pixel of the row before,
// or all zeros for the first row); n is 0 when the first pixel differs from it.
std::vector<std::uint8_t> EncodeFlatRow(const RgbePixel* row, std::uint32_t width);
std::vector<std::uint8_t> EncodeComponentRunRow(const RgbePixel* row, std::uint32_t width);
std::vector<std::uint8_t> EncodeOldRunRow(const RgbePixel* row, std::uint32_t width,
                                          const RgbePixel& previous);

// The pixel data of a whole image, every row in the same form.
std::vector<std::uint8_t> EncodeRgbeRows(const RgbePixels& image, RgbeRowForm form);
// Header text followed by the pixel data.
std::vector<std::uint8_t> HdrFile(const std::string& header, const std::vector<std::uint8_t>& data);
// A complete file with the standard header.
std::vector<std::uint8_t> HdrFile(const RgbePixels& image, RgbeRowForm form);

// A varied image that every form can store: long stretches of one colour (runs)
// beside changing pixels (literals); no pixel starts with 1, 1, 1 or 2, 2, and
// the first pixel of each row repeats the last pixel of the row before (all
// zeros for the first row), so old-run rows can start with their marker.
RgbePixels PatternImage(std::uint32_t width, std::uint32_t height, std::uint32_t seed = 1);

// The four planes R, G, B, E of an image, as the decoder should produce them.
struct RgbePlanes {
  std::vector<std::uint8_t> R, G, B, E;
  bool operator==(const RgbePlanes&) const = default;
};
RgbePlanes PlanesOf(const RgbePixels& image);

}  // namespace lumivane::testing
