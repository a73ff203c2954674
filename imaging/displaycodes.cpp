#include "imaging/displaycodes.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace lumivane {

namespace {

unsigned CodeOf(float linear, const DisplayRule& rule) {
  return static_cast<unsigned>(
      std::lround(std::clamp(EncodeForDisplay(linear, rule), 0.0f, 1.0f) * 255.0f));
}

// The least float in (0, 1] whose code is at least `code`, by bisection on
// the bits, which order positive floats as their values.
float LeastWithCode(unsigned code, const DisplayRule& rule) {
  std::uint32_t low = 0;                                    // code below `code`
  std::uint32_t high = std::bit_cast<std::uint32_t>(1.0f);  // code 255
  while (high - low > 1) {
    const std::uint32_t middle = low + (high - low) / 2;
    if (CodeOf(std::bit_cast<float>(middle), rule) >= code)
      high = middle;
    else
      low = middle;
  }
  return std::bit_cast<float>(high);
}

}  // namespace

DisplayCodes::DisplayCodes(const DisplayRule& rule) {
  for (unsigned k = 0; k < 255; ++k) steps_[k] = LeastWithCode(k + 1, rule);
  steps_[255] = std::numeric_limits<float>::infinity();
  firstBin_ = std::bit_cast<std::uint32_t>(steps_[0]) >> kBinShift;
  lowest_ = std::bit_cast<float>(firstBin_ << kBinShift);
  const std::uint32_t lastBin = std::bit_cast<std::uint32_t>(1.0f) >> kBinShift;
  bins_.resize(lastBin - firstBin_ + 1);
  unsigned code = 0;
  for (std::uint32_t bin = firstBin_; bin <= lastBin; ++bin) {
    const float least = std::bit_cast<float>(bin << kBinShift);
    const float next = std::bit_cast<float>((bin + 1) << kBinShift);
    while (least >= steps_[code]) ++code;
    const bool crowded = code < 254 && steps_[code + 1] < next;
    bins_[bin - firstBin_] = static_cast<std::uint16_t>(code | (crowded ? kCrowded : 0));
  }
}

void DisplayCodes::Codes(const float* const channels[3], std::size_t count,
                         std::uint8_t* out) const {
  const Table table = Local();
  for (std::size_t i = 0; i < count; ++i)
    for (int c = 0; c < 3; ++c) out[3 * i + c] = CodeIn(channels[c][i], table);
}

std::uint8_t DisplayCodes::CrowdedCode(float v, unsigned code) const {
  while (v >= steps_[code]) ++code;
  return static_cast<std::uint8_t>(code);
}

}  // namespace lumivane
