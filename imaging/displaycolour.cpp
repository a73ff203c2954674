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
// The y of a channel without light: its linear value 2^y is 0.
constexpr float kDark = -1e30f;

// Floats in their order as whole numbers, for halving a range of them.
float FloatAt(std::int64_t key) {
  const auto bits = static_cast<std::uint32_t>(key < 0 ? -key : key);
  const float magnitude = std::bit_cast<float>(bits);
  return key < 0 ? -magnitude : magnitude;
}
std::int64_t KeyOf(float v) {
  const auto magnitude = static_cast<std::int64_t>(std::bit_cast<std::uint32_t>(std::fabs(v)));
  return v < 0.0f ? -magnitude : magnitude;
}

constexpr std::uint32_t kOneBits = 0x3F800000u;

// The 8-bit code the byte output gives a linear value: the display value,
// clipped and rounded as ToneOperator::MapPixelsToBytes rounds it.
long CodeOf(std::uint32_t bits, const DisplayRule& rule) {
  const float display = EncodeForDisplay(std::bit_cast<float>(bits), rule);
  return std::lround(std::clamp(display, 0.0f, 1.0f) * 255.0f);
}

// Every value of the three planes held to [low, high], NaN to low, lane by lane.
void HoldToRange(float* const planes[3], std::size_t count, float low, float high) {
  for (int c = 0; c < 3; ++c) {
    float* const plane = planes[c];
    lanes::ForLanes(count, [plane, low, high](std::size_t i, auto lane) {
      using F = decltype(lane);
      const F v = lanes::Load<F>(plane + i);
      lanes::Store(plane + i,
                   lanes::Select(v > F(low), lanes::Select(v < F(high), v, F(high)), F(low)));
    });
  }
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

float DisplayEncoder::DisplayOfLog(float y) const {
  if (!(y > -1000.0f)) return 0.0f;
  return EncodeForDisplay(static_cast<float>(std::exp2(static_cast<double>(y))), rule_);
}

std::uint8_t DisplayEncoder::CodeOfLog(float y) const {
  const float held = y > lowestLog_ ? (y < 0.0f ? y : 0.0f) : lowestLog_;
  const std::uint16_t entry = bins_[static_cast<std::size_t>((held - lowestLog_) * kBinsPerUnit)];
  const unsigned code = entry & 0xFFu;
  if (entry & kCrowded) [[unlikely]]
    return CrowdedCode(held, code);
  return static_cast<std::uint8_t>(code + (held >= steps_[code]));
}

DisplayEncoder::DisplayEncoder(const DisplayRule& rule) : rule_(rule) {
  BuildLinearTable();
  const auto codeOf = [this](float y) {
    return std::lround(std::clamp(DisplayOfLog(y), 0.0f, 1.0f) * 255.0f);
  };
  // The code never falls as y grows: each step is found by halving the
  // floats between -1000 (code 0) and 0 (linear 1, code 255).
  for (unsigned k = 0; k < 255; ++k) {
    std::int64_t low = KeyOf(-1000.0f), high = KeyOf(0.0f);  // codeOf(low) <= k < codeOf(high)
    while (high - low > 1) {
      const std::int64_t middle = low + (high - low) / 2;
      (codeOf(FloatAt(middle)) > static_cast<long>(k) ? high : low) = middle;
    }
    steps_[k] = FloatAt(high);
  }
  steps_[255] = std::numeric_limits<float>::infinity();
  lowestLog_ = std::floor(steps_[0] * kBinsPerUnit) / kBinsPerUnit - 1.0f / kBinsPerUnit;
  const auto bins = static_cast<std::size_t>(-lowestLog_ * kBinsPerUnit) + 2;
  bins_.resize(bins);
  constexpr double kMargin = 1e-4;
  for (std::size_t bin = 0; bin < bins; ++bin) {
    const double low = lowestLog_ + static_cast<double>(bin) / kBinsPerUnit - kMargin;
    const double high = lowestLog_ + static_cast<double>(bin + 1) / kBinsPerUnit + kMargin;
    unsigned code = 0;
    while (code < 255 && steps_[code] <= low) ++code;
    unsigned inside = 0;
    while (code + inside < 255 && steps_[code + inside] <= high) ++inside;
    bins_[bin] = static_cast<std::uint16_t>(code | (inside > 1 ? kCrowded : 0));
  }
}

void DisplayEncoder::BuildLinearTable() {
  // The code steps up at 255 values; each is found by halving the range of
  // float bits between 0 and 1, where the code never falls.
  for (unsigned k = 0; k < 255; ++k) {
    std::uint32_t low = 0, high = kOneBits;  // CodeOf(low) <= k < CodeOf(high)
    while (high - low > 1) {
      const std::uint32_t middle = low + (high - low) / 2;
      (CodeOf(middle, rule_) > static_cast<long>(k) ? high : low) = middle;
    }
    linearSteps_[k] = std::bit_cast<float>(high);
  }
  linearSteps_[255] = std::numeric_limits<float>::infinity();
  firstBin_ = (std::bit_cast<std::uint32_t>(linearSteps_[0]) - 1) >> kBinShift;
  lowest_ = std::bit_cast<float>(firstBin_ << kBinShift);
  entries_.resize((kOneBits >> kBinShift) + 1 - firstBin_);
  unsigned code = 0;
  for (std::uint32_t bin = firstBin_; bin <= (kOneBits >> kBinShift); ++bin) {
    const float lowest = std::bit_cast<float>(bin << kBinShift);
    while (lowest >= linearSteps_[code]) ++code;
    std::uint32_t entry = code | ((kInBin + 1) << 8);
    unsigned inside = 0;
    for (unsigned k = code;
         k < 255 && (std::bit_cast<std::uint32_t>(linearSteps_[k]) >> kBinShift) == bin;
         ++k, ++inside)
      entry = code | ((std::bit_cast<std::uint32_t>(linearSteps_[k]) & kInBin) << 8);
    entries_[bin - firstBin_] = inside > 1 ? (code | kCrowdedBin) : entry;
  }
}

std::uint8_t DisplayEncoder::CrowdedLinearCode(float v, unsigned code) const {
  while (v >= linearSteps_[code]) ++code;
  return static_cast<std::uint8_t>(code);
}

void DisplayEncoder::Linear(const PixelBlock& block, const float* mapped, float* r, float* g,
                            float* b) const {
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
}

void DisplayEncoder::LinearCodes(const PixelBlock& block, const float* mapped,
                                 std::uint8_t* codes) const {
  alignas(32) float r[PixelBlock::kPixels], g[PixelBlock::kPixels], b[PixelBlock::kPixels];
  Linear(block, mapped, r, g, b);
  // Held to [lowest_, 1] (NaN to lowest_) lane by lane; the table then gives
  // each code.
  float* const planes[3] = {r, g, b};
  HoldToRange(planes, block.Lanes(), lowest_, 1.0f);
  const std::uint32_t* const entries = entries_.data();
  for (std::size_t i = 0; i < block.Count; ++i) {
    codes[3 * i] = CodeInRange(r[i], entries);
    codes[3 * i + 1] = CodeInRange(g[i], entries);
    codes[3 * i + 2] = CodeInRange(b[i], entries);
  }
}

std::uint8_t DisplayEncoder::CrowdedCode(float y, unsigned code) const {
  while (y >= steps_[code]) ++code;
  return static_cast<std::uint8_t>(code);
}

void DisplayEncoder::Logs(const PixelBlock& block, const float* mapped, float* const y[3]) const {
  const float s = rule_.Saturation;
  const float* const planes[3] = {block.R, block.G, block.B};
  lanes::ForLanes(block.Lanes(), [&](std::size_t i, auto lane) {
    using F = decltype(lane);
    const F luminance = lanes::Load<F>(block.Luminance + i);
    const F out = lanes::Load<F>(mapped + i);
    const auto lit = lanes::Both(luminance >= F(kSmallestNormal), out >= F(kSmallestNormal));
    // log2(L_out) - s log2(L_in), shared by the three channels.
    const F shift = FastLog2(lanes::Select(lit, out, F(1.0f))) -
                    F(s) * FastLog2(lanes::Select(lit, luminance, F(1.0f)));
    for (int c = 0; c < 3; ++c) {
      const F v = lanes::Load<F>(planes[c] + i);
      const auto positive = lanes::Both(lit, v >= F(kSmallestNormal));
      const F log = FastLog2(lanes::Select(positive, v, F(1.0f)));
      lanes::Store(y[c] + i, lanes::Select(positive, F(s) * log + shift, F(kDark)));
    }
  });
}

void DisplayEncoder::CodesOfLogs(const PixelBlock& block, float* const y[3],
                                 std::uint8_t* codes) const {
  // Held to [lowestLog_, 0] lane by lane, then a bin and one comparison each.
  const float lowest = lowestLog_;
  HoldToRange(y, block.Lanes(), lowest, 0.0f);
  // Locals: a byte stored through `codes` could alias the members.
  const std::uint16_t* const bins = bins_.data();
  const float* const steps = steps_.data();
  const auto code = [&](float v) {
    const std::uint16_t entry = bins[static_cast<std::size_t>((v - lowest) * kBinsPerUnit)];
    if (entry & kCrowded) [[unlikely]]
      return CrowdedCode(v, entry & 0xFFu);
    const unsigned base = entry & 0xFFu;
    return static_cast<std::uint8_t>(base + (v >= steps[base]));
  };
  for (std::size_t i = 0; i < block.Count; ++i) {
    codes[3 * i] = code(y[0][i]);
    codes[3 * i + 1] = code(y[1][i]);
    codes[3 * i + 2] = code(y[2][i]);
  }
}

void DisplayEncoder::Display(const PixelBlock& block, const float* mapped, float* display) const {
  alignas(32) float r[PixelBlock::kPixels], g[PixelBlock::kPixels], b[PixelBlock::kPixels];
  if (rule_.Saturation == 1.0f) {
    Linear(block, mapped, r, g, b);
    const auto encode = [this](float v) { return EncodeForDisplay(v > 0.0f ? v : 0.0f, rule_); };
    for (std::size_t i = 0; i < block.Count; ++i) {
      display[3 * i] = encode(r[i]);
      display[3 * i + 1] = encode(g[i]);
      display[3 * i + 2] = encode(b[i]);
    }
    return;
  }
  float* const y[3] = {r, g, b};
  Logs(block, mapped, y);
  for (std::size_t i = 0; i < block.Count; ++i)
    for (int c = 0; c < 3; ++c) display[3 * i + c] = DisplayOfLog(y[c][i]);
}

void DisplayEncoder::Codes(const PixelBlock& block, const float* mapped,
                           std::uint8_t* codes) const {
  if (rule_.Saturation == 1.0f) return LinearCodes(block, mapped, codes);
  alignas(32) float r[PixelBlock::kPixels], g[PixelBlock::kPixels], b[PixelBlock::kPixels];
  float* const y[3] = {r, g, b};
  Logs(block, mapped, y);
  CodesOfLogs(block, y, codes);
}

}  // namespace lumivane
