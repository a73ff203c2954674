// The global photographic operator of Reinhard, Stark, Shirley and Ferwerda
// (2002) on luminance, with the key estimated as in Reinhard (2002).
#include <algorithm>
#include <cmath>

#include "formats/numbertext.h"
#include "imaging/globaloperator.h"
#include "imaging/lanes.h"
#include "imaging/operatortable.h"

namespace lumivane {

namespace {

constexpr double kMiddleGrey = 0.18;

OperatorParameter KeyParameter() {
  return {"key",
          "key a, the scaled luminance of the log-average (default: estimated from the image's "
          "log-luminance range)",
          0.001, 1.0, kAutomatic};
}

OperatorParameter WhiteParameter() {
  return {"white",
          "smallest scaled luminance shown as white (default: the image's maximum, scaled)", 0.001,
          1e9, kAutomatic};
}

class Reinhard02 final : public GlobalOperator {
 public:
  explicit Reinhard02(const OperatorValues& values)
      : GlobalOperator(values),
        key_(ParameterValue(values, KeyParameter())),
        white_(ParameterValue(values, WhiteParameter())) {}

  // L_d = L (1 + L / L_white^2) / (1 + L), L = a / L_av x L_w (their eqs. 2 and 4).
  double Curve(double luminance) const override {
    const double l = scale_ * luminance;
    return l * (1.0 + l * inverseWhite2_) / (1.0 + l);
  }

 private:
  void PrepareCurve(const ImageFacts& facts) override {
    logAverage_ = facts.Luminance.LogAverage(kLogAverageDelta);
    chosenKey_ = std::isnan(key_) ? EstimateKey() : key_;
    scale_ = logAverage_ > 0.0 ? chosenKey_ / logAverage_ * ExposureFactor() : 0.0;
    chosenWhite_ = std::isnan(white_) ? scale_ * MaximumLuminance() : white_;
    inverseWhite2_ = chosenWhite_ > 0.0 ? 1.0 / (chosenWhite_ * chosenWhite_) : 0.0;
  }

  // Reinhard (2002, JGT): a = 0.18 x 4^f with f = (2 log2 L_av - log2 L_min -
  // log2 L_max) / (log2 L_max - log2 L_min): a darker key where the log-average
  // lies low in the range, a lighter one where it lies high. The extremes are
  // taken at the max-percentile from either end, so that a few hot or dead
  // pixels do not set the range; f is held to [-1, 1] when the log-average,
  // pulled down by black pixels, falls outside it.
  double EstimateKey() const {
    const double low = MinimumLuminance(), high = MaximumLuminance();
    if (!(low > 0.0) || !(high > low) || !(logAverage_ > 0.0)) return kMiddleGrey;
    const double range = std::log2(high) - std::log2(low);
    const double f = (2.0 * std::log2(logAverage_) - std::log2(low) - std::log2(high)) / range;
    return kMiddleGrey * std::pow(4.0, std::clamp(f, -1.0, 1.0));
  }

  void MapLuminance(const float* luminance, std::size_t count, float* mapped) const override {
    const auto scale = static_cast<float>(scale_);
    const auto inverseWhite2 = static_cast<float>(inverseWhite2_);
    lanes::MapLanes(luminance, count, mapped, [&](auto lw) {
      using F = decltype(lw);
      const F l = F(scale) * lw;
      return l * (F(1.0f) + l * F(inverseWhite2)) / (F(1.0f) + l);
    });
  }

  std::vector<std::string> DescribeCurve() const override {
    return {
        "Log-average luminance:" + FormatNumber(logAverage_, 7),
        std::string(std::isnan(key_) ? "Key (estimated):" : "Key:") + FormatNumber(chosenKey_, 7),
        "White (scaled luminance):" + FormatNumber(chosenWhite_, 7)};
  }

  double key_, white_;  // kAutomatic: chosen in PrepareCurve
  double logAverage_ = 0.0, chosenKey_ = kMiddleGrey, chosenWhite_ = 0.0;
  double scale_ = 0.0, inverseWhite2_ = 0.0;
};

}  // namespace

OperatorRow Reinhard02Row() {
  return {"reinhard02",
          "photographic tone reproduction, global: the log-average set to the key, then "
          "L (1 + L / white^2) / (1 + L)",
          "E. Reinhard, M. Stark, P. Shirley, J. Ferwerda: Photographic Tone Reproduction for "
          "Digital Images. ACM Transactions on Graphics 21(3), 2002 (SIGGRAPH). Key estimate: "
          "E. Reinhard: Parameter Estimation for Photographic Tone Reproduction. Journal of "
          "Graphics Tools 7(1), 2002",
          {KeyParameter(), WhiteParameter(), MaxPercentileParameter(), ExposureParameter(),
           SaturationParameter(), GammaParameter()},
          [](const OperatorValues& values) -> std::unique_ptr<ToneOperator> {
            return std::make_unique<Reinhard02>(values);
          }};
}

}  // namespace lumivane
