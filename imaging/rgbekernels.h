// The Radiance kernels: every value is a function of (mantissa, exponent), so
// the jobs' per-pixel work is tables over the 65,536 pairs. Each is a schedule
// of its definition: RgbeToFloat (formats/rgbe), ChannelAccumulator
// (imaging/statistics) and ToneMapChannel (imaging/tonemap).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/rgbe.h"
#include "imaging/statistics.h"
#include "io/parallel.h"

namespace lumivane {

// The output byte of every pair, per channel R, G, B, from the reference
// operator with 32-bit intermediates.
struct RgbeToneTables {
  std::array<std::vector<std::uint8_t>, 3> Channel;
};
RgbeToneTables BuildRgbeToneTables(const ImageStatistics& statistics, float brightness,
                                   float postGamma, RowWorkers& workers);

// The statistics of `count` pixels of the planes, carried on in the
// accumulators, in two halves to run side by side: the sums alone (the
// sequential chains, in pixel order, channel order R, G, B) and the minima and
// maxima alone (every RGBE value is finite and positive, so which equal value
// comes first cannot matter).
void AccumulateRgbeSums(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b,
                        const std::uint8_t* e, std::size_t count,
                        ChannelAccumulators& accumulators);
void AccumulateRgbeExtremes(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b,
                            const std::uint8_t* e, std::size_t count,
                            ChannelAccumulators& accumulators);

// The output bytes of `count` pixels, three per pixel in the order R, G, B.
void ToneMapRgbeToRgb(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b,
                      const std::uint8_t* e, std::size_t count, const RgbeToneTables& tables,
                      std::uint8_t* out);

// `count` pixels to three 32-bit floats each, least significant byte first.
void RgbePixelsToFloats(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b,
                        const std::uint8_t* e, std::size_t count, std::uint8_t* out);

}  // namespace lumivane
