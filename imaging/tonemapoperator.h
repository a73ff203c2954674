// A tone-mapping operator as the tone-map job sees it: what it needs from the
// statistics pass, and how it maps pixels in the mapping pass. Every operator
// is one implementation of this interface plus one row of the operator table
// (imaging/operatortable.h); the command line, the window's chooser and
// sliders and the manual page read their parameters from that row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/luminance.h"
#include "imaging/statistics.h"

namespace lumivane {

// A parameter's default that the operator estimates from the image.
inline constexpr double kAutomatic = std::numeric_limits<double>::quiet_NaN();

// One parameter, described once for --NAME, the window's slider and the manual page.
struct OperatorParameter {
  const char* Name;  // "key": the flag --key and the slider's label
  const char* Help;  // one line, for --help, `operators` and the manual page
  double Low;
  double High;
  double Default;  // kAutomatic: estimated from the image
  // A length that may also be given in pixels, as "40px": that value goes
  // into OperatorValues under PixelKey(Name) instead of Name, checked against
  // [PixelLow, PixelHigh]; the operator then takes it over Name's.
  bool AlsoPixels = false;
  double PixelLow = 0.0;
  double PixelHigh = 0.0;
};

// Where a value given in pixels is kept: "sigma-s" -> "sigma-s-px".
inline std::string PixelKey(std::string_view name) {
  return std::string(name) + "-px";
}

// Parameter values by name; one that is not named takes its default.
using OperatorValues = std::map<std::string, double, std::less<>>;

// What the statistics pass gives every operator. The values it saw are linear
// RGB with values below zero and non-finite ones already taken as 0.
struct ImageFacts {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  ChannelAccumulators Channels;
  LuminanceHistogram Luminance;
};

// More than ImageFacts, gathered beside the statistics pass (a bilateral grid,
// say). AddRows may run on several threads at once, for disjoint row ranges,
// in any order: what it gathers must not depend on that order or on how the
// rows were split (accumulate in integers, or keep exact partial results).
class OperatorGatherer {
 public:
  virtual ~OperatorGatherer() = default;
  // `rows` whole rows of linear RGB starting at image row `firstRow`.
  virtual void AddRows(const float* rgb, std::uint32_t firstRow, std::uint32_t rows) = 0;
};

// Where a run of pixels lies in the image: row `Row`, at columns FirstColumn,
// FirstColumn + 1, ... or, for a preview that samples the image, Columns[i].
struct PixelPlaces {
  std::uint32_t Row = 0;
  std::uint32_t FirstColumn = 0;
  const std::uint32_t* Columns = nullptr;

  std::uint32_t Column(std::size_t i) const {
    return Columns ? Columns[i] : FirstColumn + static_cast<std::uint32_t>(i);
  }
  // The places of the pixels from the n-th on.
  PixelPlaces From(std::size_t n) const {
    return Columns ? PixelPlaces{Row, 0, Columns + n}
                   : PixelPlaces{Row, FirstColumn + static_cast<std::uint32_t>(n), nullptr};
  }
};

class ClassicOperator;
struct RgbePlanes;

class ToneOperator {
 public:
  virtual ~ToneOperator() = default;

  // Whether Prepare needs ImageFacts::Luminance; the pass leaves it empty otherwise.
  virtual bool NeedsLuminance() const { return true; }
  // The classic operator, for the schedules that run it from tables; null
  // for every other.
  virtual const ClassicOperator* AsClassic() const { return nullptr; }

  // Before the statistics pass, for an image of `width` x `height`; null when
  // ImageFacts are enough.
  virtual std::unique_ptr<OperatorGatherer> MakeGatherer(std::uint32_t width,
                                                         std::uint32_t height) {
    (void)width;
    (void)height;
    return nullptr;
  }

  // After the statistics pass (and the gatherer's rows), before any mapping.
  virtual void Prepare(const ImageFacts& facts) = 0;

  // `count` pixels at `places`, three linear floats each, to display values
  // in [0, 1], three each, already encoded for display. Const and safe on
  // several threads at once; a pixel's result depends on its values and place
  // only, so a preview that samples the image gets exactly the full-size
  // result at those places.
  virtual void MapPixels(const float* rgb, const PixelPlaces& places, std::size_t count,
                         float* display) const = 0;

  // The same as 8-bit values: by default display x 255, rounded.
  virtual void MapPixelsToBytes(const float* rgb, const PixelPlaces& places, std::size_t count,
                                std::uint8_t* out) const;
  // The same for Radiance pixels given as planes (imaging/rgbepixels.h),
  // exactly the bytes their float values give; by default through them.
  virtual void MapRgbeToBytes(const RgbePlanes& pixels, const PixelPlaces& places,
                              std::size_t count, std::uint8_t* out) const;
  // The same as 16-bit values: display x 65535, rounded.
  void MapPixelsToWords(const float* rgb, const PixelPlaces& places, std::size_t count,
                        std::uint16_t* out) const;

  // Log lines naming what Prepare chose (an estimated key, say), in the log's
  // style: a label, then the value.
  virtual std::vector<std::string> Describe() const { return {}; }
};

}  // namespace lumivane
