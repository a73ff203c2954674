// Radiance RGBE scanlines decoded into four byte planes.
#pragma once

#include <cstdint>
#include <string>
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

// (M + 0.5) / 256 x 2^(E - 128), exact in 32-bit float; no special case for E = 0.
float RgbeToFloat(std::uint8_t mantissa, std::uint8_t exponent);

// Reads the rest of InputFile, closes it and decodes every row. False after
// AbortRadianceJob ran.
bool LoadRgbeImage(Session& session, RgbeImage& image);

// The failure routine of the jobs with Radiance input; deletes the output file.
// Returns false.
bool AbortRadianceJob(Session& session, const std::string& cause);

}  // namespace lumivane
