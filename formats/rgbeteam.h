// A Radiance block decoder's tasks run on a team of threads, for the readers
// that decode Radiance rows outside the jobs' own passes.
#pragma once

#include <cstddef>
#include <functional>

#include "formats/rgbe.h"

namespace lumivane {

class RowWorkers;

// Pixels decoded per block, here and in the Radiance jobs: the decoded rows,
// with the encoded bytes they came from, stay in the processor's caches while
// they are used (blocks of 2^17 pixels ran the tone-map and conversions a few
// per cent faster than 2^18 on a 2-core host; 2^15 lost to the overhead per
// block).
constexpr std::size_t kRgbeTeamBlockPixels = std::size_t{1} << 17;

// Decodes the next block of `decoder` on `workers`. More pieces than threads,
// so that a thread done early takes another; one piece on a single thread.
// `decoded` (may be empty) gets each piece's rows on the thread that decoded
// them, as soon as they are decoded: pieces of one block may be passed at the
// same time. The `besideCount` tasks `beside(i)` run at the same time as the
// decoding, after the scan that the block after waits for and before the
// pieces of rows; they may use the block decoded before, which the decoding
// leaves alone. Returns what FinishNext returns: false on a refused row head.
bool DecodeNextRgbeBlock(RgbeBlockDecoder& decoder, RowWorkers& workers,
                         const std::function<void(const RgbeBlockDecoder::Block&)>& decoded = {},
                         std::size_t besideCount = 0,
                         const std::function<void(std::size_t)>& beside = {});

// The floats of `pixels` pixels of `block` from pixel `first` (counted from the
// block's first row) to `out`, three per pixel: RgbeToFloat of each byte.
void RgbeBlockToFloats(const RgbeBlockDecoder::Block& block, std::size_t first, std::size_t pixels,
                       float* out);

}  // namespace lumivane
