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
// operator with 32-bit intermediates. With `present` (the image's extremes),
// only the pairs whose value lies between a channel's minimum and maximum are
// mapped and the others stay 0: no pixel of the image has them, and a
// photograph's values span a few dozen of the 256 exponents.
struct RgbeToneTables {
  std::array<std::vector<std::uint8_t>, 3> Channel;
};
RgbeToneTables BuildRgbeToneTables(const ImageStatistics& statistics, float brightness,
                                   float postGamma, RowWorkers& workers,
                                   const ChannelAccumulators* present = nullptr);

// The statistics of `count` pixels of the planes, carried on in the
// accumulators, in two halves to run side by side: the sums alone (the
// sequential chains, in pixel order, channel order R, G, B) and the minima and
// maxima alone (every RGBE value is finite and positive, so which equal value
// comes first cannot matter).
void AccumulateRgbeSums(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b,
                        const std::uint8_t* e, std::size_t count,
                        ChannelAccumulators& accumulators);

// A run of pixels' sums taken in any order (lanes, threads), with what decides
// whether adding them at once gives the pixel-order chains' bits. Every value
// is (2M + 1) x 2^(E - 137), a whole multiple of 2^(E - 137): while the
// running sum and the run's total stay below 2^52 of the smallest such unit,
// and of the running sum's lowest bit, no step of a chain rounds, so every
// order gives the same sum. Pixels with E below kRgbeDarkExponent (black is
// E = 0) are summed apart: they are less than half a unit of the last place of
// any sum past about 2^-12, so every chain step leaves the sum as it is. Noisy
// photographs pass nearly always; a run with a pixel that a chain would round
// (about 2^-40 of the sum so far) does not, and is chained as before.
inline constexpr int kRgbeDarkExponent = 64;
struct RgbeSumPiece {
  std::array<double, 3> Total{};  // of the pixels with E >= kRgbeDarkExponent
  int LowestExponent = 255;       // among those
  int HighestDarkExponent = -1;   // among the others; -1 if none
};
RgbeSumPiece SumRgbePiece(const std::uint8_t* r, const std::uint8_t* g, const std::uint8_t* b,
                          const std::uint8_t* e, std::size_t count);
// Adds the piece to all three sums if that is exactly what the chains give;
// otherwise changes nothing and returns false: then AccumulateRgbeSums over the
// piece's pixels.
bool AddRgbeSumPiece(const RgbeSumPiece& piece, ChannelAccumulators& accumulators);

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
