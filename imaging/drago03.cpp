// The adaptive logarithmic mapping of Drago, Myszkowski, Annen and Chiba (2003).
#include <algorithm>
#include <cmath>
#include <limits>

#include "formats/numbertext.h"
#include "imaging/fastmath.h"
#include "imaging/globaloperator.h"
#include "imaging/lanes.h"
#include "imaging/operatortable.h"

namespace lumivane {

namespace {

// The world adaptation luminance is the log-average with this delta, as
// pfstmo_drago03 takes it.
constexpr double kAdaptationDelta = 1e-4;

OperatorParameter BiasParameter() {
  return {"bias", "bias b of the logarithm's base: lower keeps more contrast in the darks", 0.01,
          1.0, 0.85};
}

class Drago03 final : public GlobalOperator {
 public:
  explicit Drago03(const OperatorValues& values)
      : GlobalOperator(values), bias_(ParameterValue(values, BiasParameter())) {}

  // Their mapping with L_dmax = 100 cd/m^2, which makes its factor
  // L_dmax x 0.01 one: L_d = log(L_w + 1) / log(2 + 8 (L_w / L_wmax)^(log b /
  // log 0.5)) / log10(L_wmax + 1), L_w the luminance over the world adaptation
  // luminance (the log-average), times the exposure.
  double Curve(double luminance) const override {
    if (!(scaledMaximum_ > 0.0)) return 0.0;
    const double lw = scale_ * luminance;
    return std::log(lw + 1.0) / std::log(2.0 + 8.0 * std::pow(lw / scaledMaximum_, exponent_)) /
           std::log10(scaledMaximum_ + 1.0);
  }

 private:
  void PrepareCurve(const ImageFacts& facts) override {
    adaptation_ = facts.Luminance.LogAverage(kAdaptationDelta);
    scale_ = adaptation_ > 0.0 ? ExposureFactor() / adaptation_ : 0.0;
    scaledMaximum_ = scale_ * MaximumLuminance();
    exponent_ = std::log(bias_) / std::log(0.5);
  }

  // The ratio of the two logarithms does not depend on their base: both are
  // taken base 2.
  void MapLuminance(const float* luminance, std::size_t count, float* mapped) const override {
    if (!(scaledMaximum_ > 0.0)) {
      std::fill(mapped, mapped + count, 0.0f);
      return;
    }
    const auto scale = static_cast<float>(scale_);
    const auto exponent = static_cast<float>(exponent_);
    const auto logMaximum = static_cast<float>(std::log2(scaledMaximum_));
    const auto divider = static_cast<float>(1.0 / std::log10(scaledMaximum_ + 1.0));
    lanes::MapLanes(luminance, count, mapped, [&](auto l) {
      using F = decltype(l);
      const F lw = F(scale) * l;
      const auto lit = lw >= F(std::numeric_limits<float>::min());
      const F relative = FastLog2(lanes::Select(lit, lw, F(1.0f))) - F(logMaximum);
      const F biased = lanes::Select(lit, FastExp2(F(exponent) * relative), F(0.0f));
      return FastLog2(lw + F(1.0f)) / FastLog2(F(2.0f) + F(8.0f) * biased) * F(divider);
    });
  }

  std::vector<std::string> DescribeCurve() const override {
    return {"World adaptation luminance:" + FormatNumber(adaptation_, 7),
            "Bias:" + FormatNumber(bias_, 7)};
  }

  double bias_;
  double adaptation_ = 0.0, scale_ = 0.0, scaledMaximum_ = 0.0, exponent_ = 1.0;
};

}  // namespace

OperatorRow Drago03Row() {
  return {"drago03",
          "adaptive logarithmic mapping: the logarithm's base goes from 2 in the darks to 10 at "
          "the maximum",
          "F. Drago, K. Myszkowski, T. Annen, N. Chiba: Adaptive Logarithmic Mapping for "
          "Displaying High Contrast Scenes. Computer Graphics Forum 22(3), 2003 (Eurographics)",
          {BiasParameter(), MaxPercentileParameter(), ExposureParameter(), SaturationParameter(),
           GammaParameter()},
          [](const OperatorValues& values) -> std::unique_ptr<ToneOperator> {
            return std::make_unique<Drago03>(values);
          }};
}

}  // namespace lumivane
