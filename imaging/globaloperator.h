// What the global operators (reinhard02, drago03, filmic) share: a tone curve
// on luminance, each from its paper in its own file, inside the same frame:
// an exposure in stops, the image's maximum taken at a percentile, colour
// rebuilt with a saturation and the display encoding. A pixel's result
// depends on its values alone, so places and splits do not matter.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "imaging/displaycolour.h"
#include "imaging/tonemapoperator.h"

namespace lumivane {

// The parameters every global operator takes, for the rows of the operator table.
OperatorParameter MaxPercentileParameter();
OperatorParameter ExposureParameter();
OperatorParameter SaturationParameter();
OperatorParameter GammaParameter();

// The value `values` give `parameter`, or its default (kAutomatic: NaN).
double ParameterValue(const OperatorValues& values, const OperatorParameter& parameter);

// The log-average of the papers: exp(mean(log(delta + L))) over every pixel,
// delta keeping black pixels finite.
inline constexpr double kLogAverageDelta = 1e-5;

class GlobalOperator : public ToneOperator {
 public:
  explicit GlobalOperator(const OperatorValues& values);

  void Prepare(const ImageFacts& facts) final;
  void MapPixels(const float* rgb, const PixelPlaces& places, std::size_t count,
                 float* display) const final;
  void MapPixelsToBytes(const float* rgb, const PixelPlaces& places, std::size_t count,
                        std::uint8_t* out) const final;
  void MapRgbeToBytes(const RgbePlanes& pixels, const PixelPlaces& places, std::size_t count,
                      std::uint8_t* out) const final;
  std::vector<std::string> Describe() const final;

  // After Prepare: the curve in double precision, as its paper writes it,
  // from the luminance the image holds to display luminance (1 is white).
  virtual double Curve(double luminance) const = 0;
  // The saturation Prepare chose.
  float Saturation() const { return encoder_.Rule().Saturation; }

 protected:
  // The curve's constants from the facts; MaximumLuminance(),
  // MinimumLuminance() and ExposureFactor() are set.
  virtual void PrepareCurve(const ImageFacts& facts) = 0;
  // The curve for `count` luminances in single precision: the loop the pixels
  // take (imaging/lanes.h).
  virtual void MapLuminance(const float* luminance, std::size_t count, float* mapped) const = 0;
  // Log lines for what PrepareCurve chose.
  virtual std::vector<std::string> DescribeCurve() const = 0;

  // The image's maximum luminance at the max-percentile, and its least
  // positive luminance at the same distance from the bottom.
  double MaximumLuminance() const { return maximum_; }
  double MinimumLuminance() const { return minimum_; }
  // 2^exposure.
  double ExposureFactor() const { return exposureFactor_; }

 private:
  template <typename Finish>
  void MapBlocks(const float* rgb, std::size_t count, const Finish& finish) const;
  float EstimateSaturation(const ImageFacts& facts) const;

  double maxPercentile_;
  double exposureFactor_;
  double saturation_;  // kAutomatic: estimated in Prepare
  double gamma_;
  double maximum_ = 0.0;
  double minimum_ = 0.0;
  bool estimatedSaturation_ = false;
  DisplayEncoder encoder_;
};

}  // namespace lumivane
