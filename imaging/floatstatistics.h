// The float inputs' statistics: pixels of three 32-bit floats as stored in the
// file, accumulated as ChannelAccumulator::Add (imaging/statistics) would.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/statistics.h"

namespace lumivane {

// Reverses the four bytes of each of `words` 32-bit values in place.
void SwapBytes4(std::uint8_t* bytes, std::size_t words);

// Accumulates `count` stored pixels (byte order given by intelOrder) exactly as
// ChannelAccumulator::Add would, pixel by pixel.
void AccumulateFloatPixels(const std::uint8_t* pixels, std::size_t count, bool intelOrder,
                           ChannelAccumulators& accumulators);

// Its two halves, each in pixel order, to run side by side: the sums alone
// (a value taken as 0 adds +0, which leaves a sum that starts at +0 unchanged)
// and the minima and maxima alone (the same comparisons in the same order),
// which also count the values taken as 0. TakeExtremes puts them together.
void AccumulateFloatSums(const std::uint8_t* pixels, std::size_t count, bool intelOrder,
                         ChannelAccumulators& accumulators);
void AccumulateFloatExtremes(const std::uint8_t* pixels, std::size_t count, bool intelOrder,
                             ChannelAccumulators& accumulators);
// The extremes and counts of `extremes` into the sums' accumulators.
void TakeExtremes(const ChannelAccumulators& extremes, ChannelAccumulators& sums);

}  // namespace lumivane
