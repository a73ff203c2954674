#include "imaging/globaloperator.h"

#include <algorithm>
#include <cmath>

#include "formats/numbertext.h"
#include "imaging/rgbepixels.h"

namespace lumivane {

OperatorParameter MaxPercentileParameter() {
  return {"max-percentile",
          "percentile of the luminance taken as the image's maximum (100: the true maximum)", 50.0,
          100.0, 99.9};
}

OperatorParameter ExposureParameter() {
  return {"exposure", "exposure in stops (EV), added to the operator's own", -10.0, 10.0, 0.0};
}

OperatorParameter SaturationParameter() {
  return {"saturation",
          "colour saturation s of (in / L_in)^s x L_out (default: from the curve's contrast at "
          "the image's mid-tone)",
          0.0, 2.0, kAutomatic};
}

OperatorParameter GammaParameter() {
  return {"gamma", "display gamma G: a plain power 1/G instead of the sRGB curve (0: sRGB)", 0.0,
          4.0, 0.0};
}

double ParameterValue(const OperatorValues& values, const OperatorParameter& parameter) {
  const auto named = values.find(parameter.Name);
  return named == values.end() ? parameter.Default : named->second;
}

GlobalOperator::GlobalOperator(const OperatorValues& values)
    : maxPercentile_(ParameterValue(values, MaxPercentileParameter())),
      exposureFactor_(std::exp2(ParameterValue(values, ExposureParameter()))),
      saturation_(ParameterValue(values, SaturationParameter())),
      gamma_(ParameterValue(values, GammaParameter())) {}

void GlobalOperator::Prepare(const ImageFacts& facts) {
  maximum_ = facts.Luminance.Percentile(maxPercentile_);
  minimum_ = facts.Luminance.PositivePercentile(100.0 - maxPercentile_);
  PrepareCurve(facts);
  estimatedSaturation_ = std::isnan(saturation_);
  DisplayRule rule;
  rule.Saturation =
      estimatedSaturation_ ? EstimateSaturation(facts) : static_cast<float>(saturation_);
  rule.Gamma = static_cast<float>(gamma_);
  encoder_ = DisplayEncoder(rule);
}

// Mantiuk et al. (2009) measured the saturation that keeps colours looking
// as they did after a tone curve compresses contrast by c (the curve's slope
// in log-log) and fitted s(c) = (1 + k1) c^k2 / (1 + k1 c^k2) for this form
// of colour correction. c is taken at the geometric mean of the image's
// luminance, where most pixels lie; a curve that raises contrast there
// (c > 1) is left at s = 1, since more saturation clips bright colours.
float GlobalOperator::EstimateSaturation(const ImageFacts& facts) const {
  constexpr double k1 = 1.6774, k2 = 0.9925, step = 0.05;
  constexpr double kLowest = 0.6;
  if (facts.Luminance.Count() == facts.Luminance.Zeros()) return 1.0f;
  const double middle = std::exp2(facts.Luminance.MeanLog2Positive());
  const double below = Curve(middle * std::exp(-step));
  const double above = Curve(middle * std::exp(step));
  if (!(below > 0.0) || !(above > below)) return 1.0f;
  const double c = std::log(above / below) / (2.0 * step);
  const double s = (1.0 + k1) * std::pow(c, k2) / (1.0 + k1 * std::pow(c, k2));
  return static_cast<float>(std::clamp(s, kLowest, 1.0));
}

template <typename Finish>
void GlobalOperator::MapBlocks(const float* rgb, std::size_t count, const Finish& finish) const {
  PixelBlock block;
  alignas(32) float mapped[PixelBlock::kPixels];
  for (std::size_t done = 0; done < count; done += PixelBlock::kPixels) {
    const std::size_t n = std::min(PixelBlock::kPixels, count - done);
    block.Load(rgb + 3 * done, n);
    MapLuminance(block.Luminance, block.Lanes(), mapped);
    finish(block, mapped, done);
  }
}

void GlobalOperator::MapPixels(const float* rgb, const PixelPlaces&, std::size_t count,
                               float* display) const {
  MapBlocks(rgb, count, [&](const PixelBlock& block, const float* mapped, std::size_t done) {
    encoder_.Display(block, mapped, display + 3 * done);
  });
}

void GlobalOperator::MapPixelsToBytes(const float* rgb, const PixelPlaces&, std::size_t count,
                                      std::uint8_t* out) const {
  MapBlocks(rgb, count, [&](const PixelBlock& block, const float* mapped, std::size_t done) {
    encoder_.Codes(block, mapped, out + 3 * done);
  });
}

// Straight from the planes to the blocks: the same values as the float rows,
// so the same bytes.
void GlobalOperator::MapRgbeToBytes(const RgbePlanes& pixels, const PixelPlaces&, std::size_t count,
                                    std::uint8_t* out) const {
  PixelBlock block;
  alignas(32) float mapped[PixelBlock::kPixels];
  for (std::size_t done = 0; done < count; done += PixelBlock::kPixels) {
    const std::size_t n = std::min(PixelBlock::kPixels, count - done);
    LoadRgbeBlock(pixels.From(done), n, block);
    MapLuminance(block.Luminance, block.Lanes(), mapped);
    encoder_.Codes(block, mapped, out + 3 * done);
  }
}

std::vector<std::string> GlobalOperator::Describe() const {
  std::vector<std::string> lines = DescribeCurve();
  lines.push_back("Maximum luminance at percentile" + FormatNumber(maxPercentile_, 7) + ":" +
                  FormatNumber(maximum_, 7));
  lines.push_back(std::string(estimatedSaturation_ ? "Saturation (estimated):" : "Saturation:") +
                  FormatNumber(Saturation(), 7));
  return lines;
}

}  // namespace lumivane
