// Radiance RGBE output: our own small encoder, run-length rows.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "formats/imagerows.h"

namespace lumivane {

class BinaryFile;

// R, G, B mantissas and the shared exponent of one pixel. A pixel that
// RgbeToFloat gave (three values (M + 0.5) / 256 x 2^(E - 128) with one E)
// comes back as exactly those four bytes; any other is rounded down as
// Radiance writers do, with negative and not-a-number values as 0.
std::array<std::uint8_t, 4> FloatToRgbe(float r, float g, float b);

// One stored row of `width` RGBE pixels (4 bytes each): per-component runs
// behind the head 2, 2, width for widths 8 to 32767, flat otherwise.
void EncodeRgbeRow(const std::uint8_t* pixels, std::uint32_t width, std::vector<std::uint8_t>& out);

// "#?RADIANCE", the format line, a PRIMARIES line when the input stated them,
// and the resolution line for top-to-bottom rows.
std::string RadianceHeaderText(std::uint32_t width, std::uint32_t height,
                               const std::optional<Chromaticities>& primaries = std::nullopt);

// Writes the header to `file` (at its position) and returns the sink for the rows.
std::unique_ptr<FloatRowSink> OpenRadianceSink(BinaryFile& file, std::uint32_t width,
                                               std::uint32_t height,
                                               const std::optional<Chromaticities>& primaries,
                                               std::string& error);

}  // namespace lumivane
