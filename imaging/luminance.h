// The luminance of an image as the operators beyond the classic one need it:
// a histogram fine enough for percentiles and the log-average, gathered in
// one streaming pass. Counts are integers, so the result is the same in
// whichever order or on however many threads the pixels were added.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace lumivane {

// Rec. 709 / sRGB primaries, linear light.
inline constexpr float kLumaRed = 0.2126f;
inline constexpr float kLumaGreen = 0.7152f;
inline constexpr float kLumaBlue = 0.0722f;

inline float LuminanceOf(float r, float g, float b) {
  return kLumaRed * r + kLumaGreen * g + kLumaBlue * b;
}

// A run of pixels split into planes for the operators' loops: values below
// zero, non-finite ones and those too small for a normal float taken as 0
// (as the statistics pass takes them), with their Rec. 709 luminance. The
// planes hold Lanes() values, the pixels padded with black to a whole number
// of vector lanes (imaging/lanes.h).
struct PixelBlock {
  static constexpr std::size_t kPixels = 256;
  std::size_t Count = 0;
  std::size_t Lanes() const;
  alignas(32) float R[kPixels];
  alignas(32) float G[kPixels];
  alignas(32) float B[kPixels];
  alignas(32) float Luminance[kPixels];

  // `count` (at most kPixels) pixels of three floats each.
  void Load(const float* rgb, std::size_t count);
  // With Count values in the planes: pads them with black and fills Luminance.
  void FinishLoad();
};

class LuminanceHistogram {
 public:
  // A bin per 1/64 of an octave of the mantissa (between 1/90 and 1/45 of a
  // stop): the exponent and the six highest mantissa bits of the luminance
  // as a 32-bit float. Zero, subnormals and anything not
  // positive count in bin 0; infinities in the last.
  static constexpr int kMantissaBits = 6;
  static constexpr std::size_t kBins = std::size_t{1} << (8 + kMantissaBits);

  LuminanceHistogram();

  // `count` pixels of linear RGB, three floats each, already free of values
  // below zero and of non-finite ones.
  void AddPixels(const float* rgb, std::size_t count);
  // `count` luminances, none negative or NaN.
  void AddLuminances(const float* luminance, std::size_t count);
  void AddLuminance(float luminance);
  void Merge(const LuminanceHistogram& other);

  std::uint64_t Count() const { return count_; }
  // Pixels whose luminance is 0 (or too small for a normal float).
  std::uint64_t Zeros() const { return Bin(0); }
  // The exact extremes of the positive luminances; 0 when there is none.
  float Maximum() const { return maximum_; }
  float MinimumPositive() const { return count_ > Zeros() ? minimumPositive_ : 0.0f; }

  // The luminance below which `percent` of the pixels lie (zeros included),
  // interpolated inside its bin; 100 gives Maximum() exactly, 0 the smallest
  // luminance.
  double Percentile(double percent) const;
  // The same over the positive luminances only.
  double PositivePercentile(double percent) const;
  // exp(mean(log(delta + L))) over every pixel, each bin taken at its
  // geometric centre.
  double LogAverage(double delta) const;
  // mean(log2(L)) over the positive luminances, each bin at its geometric
  // centre.
  double MeanLog2Positive() const;

  // The lowest and highest luminance bin `index` holds.
  static float BinLow(std::size_t index);
  static float BinHigh(std::size_t index);
  static std::size_t BinOf(float luminance);
  std::uint64_t Bin(std::size_t index) const { return bins_[2 * index] + bins_[2 * index + 1]; }

 private:
  double Quantile(double percent, std::size_t firstBin) const;

  // Bin k counts in bins_[2k] and bins_[2k + 1] (see AddLuminances).
  std::vector<std::uint64_t> bins_;
  std::uint64_t count_ = 0;
  float maximum_ = 0.0f;
  float minimumPositive_ = 0.0f;
};

}  // namespace lumivane
