// A filmic curve: the fit of the ACES reference rendering and output
// transforms by Narkowicz, on luminance, exposed from the log-average.
#include <cmath>

#include "formats/numbertext.h"
#include "imaging/globaloperator.h"
#include "imaging/lanes.h"
#include "imaging/operatortable.h"

namespace lumivane {

namespace {

// The log-average goes to middle grey; Narkowicz's fit is pre-exposed by
// 1 / 0.6 against the ACES curve, and 0.6 gives that curve's own exposure.
constexpr double kMiddleGrey = 0.18;
constexpr double kAcesExposure = 0.6;

// (x (2.51 x + 0.03)) / (x (2.43 x + 0.59) + 0.14)
// Double precision for Curve(), floats (one or four) for the pixels.
double AcesFit(double x) {
  return x * (2.51 * x + 0.03) / (x * (2.43 * x + 0.59) + 0.14);
}
template <typename F>
F AcesFit(F x) {
  return x * (F(2.51f) * x + F(0.03f)) / (x * (F(2.43f) * x + F(0.59f)) + F(0.14f));
}

class Filmic final : public GlobalOperator {
 public:
  using GlobalOperator::GlobalOperator;

  // The fit, scaled so that the image's maximum (at the max-percentile) is
  // white, as Hable's filmic curve divides by its value at the white point:
  // a scene with a short range is not left grey, a long one not clipped
  // early.
  double Curve(double luminance) const override {
    return AcesFit(scale_ * luminance) * normaliser_;
  }

 private:
  void PrepareCurve(const ImageFacts& facts) override {
    logAverage_ = facts.Luminance.LogAverage(kLogAverageDelta);
    scale_ = logAverage_ > 0.0 ? kMiddleGrey * kAcesExposure * ExposureFactor() / logAverage_ : 0.0;
    white_ = scale_ * MaximumLuminance();
    normaliser_ = white_ > 0.0 ? 1.0 / AcesFit(white_) : 1.0;
  }

  void MapLuminance(const float* luminance, std::size_t count, float* mapped) const override {
    const auto scale = static_cast<float>(scale_);
    const auto normaliser = static_cast<float>(normaliser_);
    lanes::MapLanes(luminance, count, mapped, [&](auto l) {
      using F = decltype(l);
      return AcesFit(F(scale) * l) * F(normaliser);
    });
  }

  std::vector<std::string> DescribeCurve() const override {
    return {"Log-average luminance:" + FormatNumber(logAverage_, 7),
            "White (scaled luminance):" + FormatNumber(white_, 7)};
  }

  double logAverage_ = 0.0, scale_ = 0.0, white_ = 0.0, normaliser_ = 1.0;
};

}  // namespace

OperatorRow FilmicRow() {
  return {"filmic",
          "filmic S-curve (ACES fit): the log-average to middle grey, the maximum to white",
          "K. Narkowicz: ACES Filmic Tone Mapping Curve, 2016 (a fit of the Academy Color "
          "Encoding System's RRT and ODT); white point as in J. Hable: Filmic Tonemapping "
          "Operators, 2010",
          {MaxPercentileParameter(), ExposureParameter(), SaturationParameter(), GammaParameter()},
          [](const OperatorValues& values) -> std::unique_ptr<ToneOperator> {
            return std::make_unique<Filmic>(values);
          }};
}

}  // namespace lumivane
