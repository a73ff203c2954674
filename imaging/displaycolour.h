// The last steps every luminance-based operator shares: colour rebuilt from
// the mapped luminance (Mantiuk et al. 2009), then encoded for display with
// the sRGB curve or a plain power.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/luminance.h"

namespace lumivane {

struct DisplayRule {
  // out = (in / L_in)^Saturation x L_out, per channel.
  float Saturation = 1.0f;
  // 0: the sRGB curve (IEC 61966-2-1); otherwise out^(1 / Gamma).
  float Gamma = 0.0f;
};

// One pixel's linear RGB `rgb` with luminance `in` whose luminance maps to
// `out` (display-relative, 1 is white): the display values, clipped to [0, 1].
void RebuildAndEncode(const float* rgb, float in, float out, const DisplayRule& rule,
                      float* display);

// The display value of a linear one in [0, 1] under `rule`.
float EncodeForDisplay(float linear, const DisplayRule& rule);

// The colour and display steps of RebuildAndEncode for whole blocks, without
// a library power per value. With saturation 1 the linear value is
// c x L_out / L_in and a table over its float bits gives the code. Otherwise
// colour is rebuilt in base-2 logarithms: y = s log2(c) + log2(L_out) -
// s log2(L_in) is the log of the linear value, and the codes step up at 255
// thresholds of y, with no power per channel. A pixel's result depends on
// its values alone.
class DisplayEncoder {
 public:
  explicit DisplayEncoder(const DisplayRule& rule = {});

  const DisplayRule& Rule() const { return rule_; }

  // The block's pixels, whose luminances map to `mapped[i]` (Lanes() of
  // them), as display values (three per pixel) or as 8-bit codes: Codes()
  // gives exactly lround(Display() x 255), pixel by pixel.
  void Display(const PixelBlock& block, const float* mapped, float* display) const;
  void Codes(const PixelBlock& block, const float* mapped, std::uint8_t* codes) const;

  // lround(EncodeForDisplay(linear) x 255), 0 for NaN.
  std::uint8_t Code(float linear) const {
    return CodeInRange(linear > lowest_ ? (linear < 1.0f ? linear : 1.0f) : lowest_,
                       entries_.data());
  }
  // The display value of the linear value 2^y, and lround(that x 255); 0 for
  // NaN.
  float DisplayOfLog(float y) const;
  std::uint8_t CodeOfLog(float y) const;

 private:
  // Bins of the linear value's float bits: eight mantissa bits each.
  static constexpr unsigned kBinShift = 15;
  static constexpr std::uint32_t kInBin = (std::uint32_t{1} << kBinShift) - 1;
  // An entry: the code of the bin's lowest value (bits 0-7); the low bits of
  // the value inside the bin where the code steps up (bits 8-23), or a
  // number above every low bits when it does not; bit 31 when it steps up
  // more than once (a plain power below 1).
  static constexpr std::uint32_t kCrowdedBin = std::uint32_t{1} << 31;

  // `v` in [lowest_, 1]; `entries` is entries_.data(), held by the caller
  // (a byte store could alias the vector's own pointer).
  std::uint8_t CodeInRange(float v, const std::uint32_t* entries) const {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(v);
    const std::uint32_t entry = entries[(bits >> kBinShift) - firstBin_];
    if (entry & kCrowdedBin) [[unlikely]]
      return CrowdedLinearCode(v, entry & 0xFFu);
    return static_cast<std::uint8_t>((entry & 0xFFu) + ((bits & kInBin) >= (entry >> 8)));
  }
  std::uint8_t CrowdedLinearCode(float v, unsigned code) const;
  void BuildLinearTable();
  // Saturation 1: the linear values c x L_out / L_in.
  void Linear(const PixelBlock& block, const float* mapped, float* r, float* g, float* b) const;
  void LinearCodes(const PixelBlock& block, const float* mapped, std::uint8_t* codes) const;

  // Bins of y: kBinsPerUnit to a unit, each taken a little wider on both
  // sides, so that one comparison finds the code where the widened bin
  // holds at most one threshold.
  static constexpr float kBinsPerUnit = 256.0f;
  static constexpr std::uint16_t kCrowded = 0x100;

  // The y of every channel of the block (dark ones far below every threshold).
  void Logs(const PixelBlock& block, const float* mapped, float* const y[3]) const;
  void CodesOfLogs(const PixelBlock& block, float* const y[3], std::uint8_t* codes) const;
  std::uint8_t CrowdedCode(float y, unsigned code) const;

  DisplayRule rule_;
  // linearSteps_[k]: the least linear value whose code is above k;
  // linearSteps_[255] is infinite. Entries from the bin below the first step
  // on: the values under it all have code 0, and are taken as the bin's
  // lowest, `lowest_`.
  std::array<float, 256> linearSteps_{};
  std::vector<std::uint32_t> entries_;
  std::uint32_t firstBin_ = 0;
  float lowest_ = 0.0f;
  // steps_[k]: the least y whose code is above k; steps_[255] is infinite.
  std::array<float, 256> steps_{};
  // From lowestLog_ (below steps_[0]) up to 0, the code at each bin's start and kCrowded.
  std::vector<std::uint16_t> bins_;
  float lowestLog_ = 0.0f;
};

}  // namespace lumivane
