#include "imaging/displaycolour.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "imaging/fastmath.h"
#include "imaging/lanes.h"
#include "imaging/luminance.h"

namespace lumivane {

namespace {

constexpr float kSmallestNormal = std::numeric_limits<float>::min();
constexpr std::uint32_t kOneBits = 0x3F800000u;

// The 8-bit code the byte output gives a linear value: the display value,
// clipped and rounded as ToneOperator::MapPixelsToBytes rounds it.
long CodeOf(std::uint32_t bits, const DisplayRule& rule) {
  const float display = EncodeForDisplay(std::bit_cast<float>(bits), rule);
  return std::lround(std::clamp(display, 0.0f, 1.0f) * 255.0f);
}

}  // namespace

float EncodeForDisplay(float linear, const DisplayRule& rule) {
  const float v = std::clamp(linear, 0.0f, 1.0f);
  if (rule.Gamma > 0.0f) return std::pow(v, 1.0f / rule.Gamma);
  return v <= 0.0031308f ? 12.92f * v : 1.055f * std::pow(v, 1.0f / 2.4f) - 0.055f;
}

void RebuildAndEncode(const float* rgb, float in, float out, const DisplayRule& rule,
                      float* display) {
  for (int c = 0; c < 3; ++c) {
    float linear = 0.0f;
    if (in > 0.0f) {
      const float ratio = rgb[c] / in;
      linear = (rule.Saturation == 1.0f ? ratio : std::pow(ratio, rule.Saturation)) * out;
    }
    display[c] = EncodeForDisplay(linear, rule);
  }
}

DisplayEncoder::DisplayEncoder(const DisplayRule& rule) : rule_(rule) {
  // The code steps up at 255 values; each is found by halving the range of
  // float bits between 0 and 1, where the code never falls.
  for (unsigned k = 0; k < 255; ++k) {
    std::uint32_t low = 0, high = kOneBits;  // CodeOf(low) <= k < CodeOf(high)
    while (high - low > 1) {
      const std::uint32_t middle = low + (high - low) / 2;
      (CodeOf(middle, rule_) > static_cast<long>(k) ? high : low) = middle;
    }
    steps_[k] = std::bit_cast<float>(high);
  }
  steps_[255] = std::numeric_limits<float>::infinity();
  firstBin_ = (std::bit_cast<std::uint32_t>(steps_[0]) - 1) >> kBinShift;
  lowest_ = std::bit_cast<float>(firstBin_ << kBinShift);
  entries_.resize((kOneBits >> kBinShift) + 1 - firstBin_);
  unsigned code = 0;
  for (std::uint32_t bin = firstBin_; bin <= (kOneBits >> kBinShift); ++bin) {
    const float lowest = std::bit_cast<float>(bin << kBinShift);
    while (lowest >= steps_[code]) ++code;
    std::uint32_t entry = code | ((kInBin + 1) << 8);
    unsigned inside = 0;
    for (unsigned k = code;
         k < 255 && (std::bit_cast<std::uint32_t>(steps_[k]) >> kBinShift) == bin; ++k, ++inside)
      entry = code | ((std::bit_cast<std::uint32_t>(steps_[k]) & kInBin) << 8);
    entries_[bin - firstBin_] = inside > 1 ? (code | kCrowded) : entry;
  }
}

std::uint8_t DisplayEncoder::CrowdedCode(float v, unsigned code) const {
  while (v >= steps_[code]) ++code;
  return static_cast<std::uint8_t>(code);
}

void DisplayEncoder::Linear(const PixelBlock& block, const float* mapped, float* r, float* g,
                            float* b) const {
  const float s = rule_.Saturation;
  if (s == 1.0f) {
    lanes::ForLanes(block.Lanes(), [&](std::size_t i, auto lane) {
      using F = decltype(lane);
      const F luminance = lanes::Load<F>(block.Luminance + i);
      const auto lit = luminance >= F(kSmallestNormal);
      const F k = lanes::Select(
          lit, lanes::Load<F>(mapped + i) / lanes::Select(lit, luminance, F(1.0f)), F(0.0f));
      lanes::Store(r + i, lanes::Load<F>(block.R + i) * k);
      lanes::Store(g + i, lanes::Load<F>(block.G + i) * k);
      lanes::Store(b + i, lanes::Load<F>(block.B + i) * k);
    });
    return;
  }
  // (c / L)^s x out as 2^(s log2(c / L)) x out.
  lanes::ForLanes(block.Lanes(), [&](std::size_t i, auto lane) {
    using F = decltype(lane);
    const F luminance = lanes::Load<F>(block.Luminance + i);
    const auto lit = luminance >= F(kSmallestNormal);
    const F inverse = F(1.0f) / lanes::Select(lit, luminance, F(1.0f));
    const F out = lanes::Select(lit, lanes::Load<F>(mapped + i), F(0.0f));
    const auto channel = [&](const float* plane, float* linear) {
      const F ratio = lanes::Load<F>(plane + i) * inverse;
      const auto positive = ratio >= F(kSmallestNormal);
      const F power = FastExp2(F(s) * FastLog2(lanes::Select(positive, ratio, F(1.0f))));
      lanes::Store(linear + i, lanes::Select(positive, power * out, F(0.0f)));
    };
    channel(block.R, r);
    channel(block.G, g);
    channel(block.B, b);
  });
}

void DisplayEncoder::Display(const PixelBlock& block, const float* mapped, float* display) const {
  alignas(32) float r[PixelBlock::kPixels], g[PixelBlock::kPixels], b[PixelBlock::kPixels];
  Linear(block, mapped, r, g, b);
  const auto encode = [this](float v) { return EncodeForDisplay(v > 0.0f ? v : 0.0f, rule_); };
  for (std::size_t i = 0; i < block.Count; ++i) {
    display[3 * i] = encode(r[i]);
    display[3 * i + 1] = encode(g[i]);
    display[3 * i + 2] = encode(b[i]);
  }
}

void DisplayEncoder::Codes(const PixelBlock& block, const float* mapped,
                           std::uint8_t* codes) const {
  alignas(32) float r[PixelBlock::kPixels], g[PixelBlock::kPixels], b[PixelBlock::kPixels];
  Linear(block, mapped, r, g, b);
  // Held to [lowest_, 1] (NaN to lowest_) lane by lane; the table then gives
  // each code.
  const float lowest = lowest_;
  for (float* plane : {r, g, b}) {
    lanes::ForLanes(block.Lanes(), [plane, lowest](std::size_t i, auto lane) {
      using F = decltype(lane);
      const F v = lanes::Load<F>(plane + i);
      lanes::Store(plane + i,
                   lanes::Select(v > F(lowest), lanes::Select(v < F(1.0f), v, F(1.0f)), F(lowest)));
    });
  }
  const std::uint32_t* const entries = entries_.data();
  for (std::size_t i = 0; i < block.Count; ++i) {
    codes[3 * i] = CodeInRange(r[i], entries);
    codes[3 * i + 1] = CodeInRange(g[i], entries);
    codes[3 * i + 2] = CodeInRange(b[i], entries);
  }
}

}  // namespace lumivane
