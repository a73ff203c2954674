// A Radiance image's pixels decoded whole, as the jobs see them block by
// block: the tests' and fuzzers' view of the decoder and its log lines.
#pragma once

#include <cstdint>
#include <vector>

namespace lumivane {

class Session;

struct RgbeImage {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  // R, G, B mantissas and the shared exponent E; Width x Height bytes each,
  // rows in stored order.
  std::vector<std::uint8_t> R, G, B, E;
};

// Reads the rest of InputFile, closes it and decodes every row, with the log
// lines, progress and aborts of the jobs' decoding pass. False after
// AbortRadianceJob ran.
// `plainSteps` picks the decoder's reference steps (RgbeBlockDecoder::UsePlainSteps).
bool LoadRgbeImage(Session& session, RgbeImage& image, bool plainSteps = false);

}  // namespace lumivane
