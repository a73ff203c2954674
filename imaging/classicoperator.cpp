#include "imaging/classicoperator.h"

#include <bit>

#include "imaging/operatortable.h"
#include "imaging/settings.h"

namespace lumivane {

void ClassicOperator::Prepare(const ImageFacts& facts) {
  channels_ = facts.Channels;
  pixelCount_ = facts.Width * facts.Height;
  statistics_ = ComputeImageStatistics(channels_, pixelCount_, settings_.WarmColours);
  if (width_ == OperatorWidth::Double)
    mapper_ = std::make_unique<FloatToneMapper>(statistics_, settings_.Brightness,
                                                settings_.PostGamma);
}

// The curve's level before its rounding to a byte, 255 as white.
void ClassicOperator::MapPixels(const float* rgb, const PixelPlaces&, std::size_t count,
                                float* display) const {
  for (std::size_t i = 0; i < 3 * count; ++i) {
    const std::size_t c = i % 3;
    display[i] = static_cast<float>(
        ToneMapChannelLevel(rgb[i], statistics_.Minimum[c], statistics_.Average[c],
                            settings_.Brightness, settings_.PostGamma, width_) /
        255.0);
  }
}

void ClassicOperator::MapPixelsToBytes(const float* rgb, const PixelPlaces&, std::size_t count,
                                       std::uint8_t* out) const {
  if (mapper_) {
    // The thresholds read floats as stored; these are in this machine's order.
    constexpr bool kNativeIntel = std::endian::native == std::endian::little;
    mapper_->Map(reinterpret_cast<const std::uint8_t*>(rgb), count, kNativeIntel, out);
    return;
  }
  for (std::size_t i = 0; i < 3 * count; ++i) {
    const std::size_t c = i % 3;
    out[i] = ToneMapChannel(rgb[i], statistics_.Minimum[c], statistics_.Average[c],
                            settings_.Brightness, settings_.PostGamma, width_);
  }
}

namespace {

double ValueOr(const OperatorValues& values, const char* name, double fallback) {
  const auto found = values.find(name);
  return found == values.end() ? fallback : found->second;
}

}  // namespace

// The job builds it from the window's boxes and checkbox (--brightness,
// --contrast, --post-gamma, --warm) in the session; Make gives the same
// operator from values, for a float input.
OperatorRow ClassicRow() {
  return {"classic",
          "the default: each channel, less its minimum, over itself plus its average / "
          "brightness, to the power 1 / contrast, times 256",
          "after E. Reinhard et al.: Photographic Tone Reproduction for Digital Images, ACM "
          "Transactions on Graphics 21(3), 2002, per channel with the arithmetic average",
          {{"brightness", "higher is brighter", kBrightnessRule.Low, kBrightnessRule.High,
            kBrightnessRule.Default},
           {"contrast", "higher brightens the mid-tones: the exponent is 1 / contrast",
            kContrastRule.Low, kContrastRule.High, kContrastRule.Default},
           {"warm", "1: each channel its own average (warm colours); 0: the grey average", 0, 1,
            0}},
          [](const OperatorValues& values) -> std::unique_ptr<ToneOperator> {
            ClassicSettings settings;
            settings.Brightness =
                static_cast<float>(ValueOr(values, "brightness", kBrightnessRule.Default));
            settings.PostGamma = PostGammaFromContrast(
                static_cast<float>(ValueOr(values, "contrast", kContrastRule.Default)));
            settings.WarmColours = ValueOr(values, "warm", 0) != 0;
            return std::make_unique<ClassicOperator>(settings, OperatorWidth::Double);
          }};
}

}  // namespace lumivane
