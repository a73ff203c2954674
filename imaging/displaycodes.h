// 8-bit display codes straight from linear values: exactly
// lround(EncodeForDisplay(v) x 255), as the default MapPixelsToBytes gives
// them, without a library power per value. The encoding is monotonic, so the
// codes step up at 255 thresholds; a table over the float's bits gives the
// code at the start of the value's bin, and one comparison with the next
// threshold the code itself.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <vector>

#include "imaging/displaycolour.h"

namespace lumivane {

class DisplayCodes {
 public:
  explicit DisplayCodes(const DisplayRule& rule = {});

  // Any float; NaN and values up to 0 give 0, values from 1 on 255.
  std::uint8_t Code(float linear) const { return CodeIn(linear, Local()); }

  // `count` pixels of linear values, one array per channel, as interleaved
  // codes (three per pixel).
  void Codes(const float* const channels[3], std::size_t count, std::uint8_t* out) const;

 private:
  // Bins of the float's bits: 512 per octave, so that a bin holds at most
  // one step of the sRGB curve or of a power up to 1/0.7.
  static constexpr unsigned kBinShift = 14;
  // A bin in which the code steps up more than once.
  static constexpr std::uint16_t kCrowded = 0x100;

  std::uint8_t CrowdedCode(float v, unsigned code) const;

  // The table in locals of the caller: a byte stored through a pointer could
  // alias the members, and reloading them for every value would serialise
  // the lookups.
  struct Table {
    const std::uint16_t* Bins;
    const float* Steps;
    std::uint32_t FirstBin;
    float Lowest;
  };
  Table Local() const { return {bins_.data(), steps_.data(), firstBin_, lowest_}; }

  std::uint8_t CodeIn(float linear, const Table& table) const {
    // Written as selects, not branches: dark and bright pixels come in any order.
    float v = linear > table.Lowest ? linear : table.Lowest;
    v = v < 1.0f ? v : 1.0f;
    const std::uint16_t entry =
        table.Bins[(std::bit_cast<std::uint32_t>(v) >> kBinShift) - table.FirstBin];
    if (entry & kCrowded) [[unlikely]]
      return CrowdedCode(v, entry & 0xFFu);
    const unsigned code = entry & 0xFFu;
    return static_cast<std::uint8_t>(code + (v >= table.Steps[code]));
  }

  // steps_[k]: the least value whose code is above k; steps_[255] is infinite.
  std::array<float, 256> steps_{};
  // The code of each bin's least value, from the bin of steps_[0] on, and
  // kCrowded.
  std::vector<std::uint16_t> bins_;
  std::uint32_t firstBin_ = 0;
  float lowest_ = 0.0f;  // the least value of the first bin: code 0
};

}  // namespace lumivane
