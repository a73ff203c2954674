#include "imaging/durand02.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "imaging/bilateralgrid.h"
#include "imaging/displaycodes.h"
#include "imaging/displaycolour.h"
#include "imaging/fastlog.h"
#include "imaging/luminance.h"

#include <emmintrin.h>

namespace lumivane {

namespace {

// The paper's spatial sigma: 2 % of the image's size, here its diagonal, so
// that a preview and the full-size file give the same picture.
constexpr double kDefaultSigmaS = 0.02;
// The finest grid: a spatial cell of at least 1 % of the diagonal, whatever
// sigma is asked for in pixels, so that the grid does not grow with the image.
constexpr double kMostCellsAcross = 100.0;
// pfstmo's base range: the base layer between its 1st and 99.5th percentiles,
// so that a few outliers do not set the compression.
constexpr double kBaseLowRank = 0.01;
constexpr double kBaseHighRank = 0.995;
// The base layer's range is taken from the pixels of a lattice, at most this
// many of them (every pixel of an image up to 512 x 512).
constexpr std::uint64_t kMostSamples = std::uint64_t{1} << 18;
// Colour correction of Mantiuk et al. (2009) from the compression factor,
// with the constants pfstmo uses.
constexpr double kSaturationK1 = 1.48;
constexpr double kSaturationK2 = 0.82;
// A nearly flat base is not stretched more than this, which would only
// magnify noise.
constexpr double kMostExpansion = 4.0;

constexpr float kNoLight = -std::numeric_limits<float>::infinity();
constexpr float kLargestFloat = std::numeric_limits<float>::max();
constexpr float kSmallestNormal = std::numeric_limits<float>::min();

// Values below zero and non-finite ones count as 0.
inline __m128 Clean4(__m128 v) {
  const __m128 usable =
      _mm_and_ps(_mm_cmpgt_ps(v, _mm_setzero_ps()), _mm_cmple_ps(v, _mm_set1_ps(kLargestFloat)));
  return _mm_and_ps(v, usable);
}

struct Channels4 {
  __m128 R, G, B;
};

// Four pixels of interleaved RGB, cleaned, as a vector per channel.
inline Channels4 LoadPixels4(const float* rgb) {
  const __m128 a = _mm_loadu_ps(rgb);      // r0 g0 b0 r1
  const __m128 b = _mm_loadu_ps(rgb + 4);  // g1 b1 r2 g2
  const __m128 c = _mm_loadu_ps(rgb + 8);  // b2 r3 g3 b3
  const __m128 r =
      _mm_shuffle_ps(a, _mm_shuffle_ps(b, c, _MM_SHUFFLE(1, 1, 2, 2)), _MM_SHUFFLE(2, 0, 3, 0));
  const __m128 g =
      _mm_shuffle_ps(_mm_shuffle_ps(a, b, _MM_SHUFFLE(0, 0, 1, 1)),
                     _mm_shuffle_ps(b, c, _MM_SHUFFLE(2, 2, 3, 3)), _MM_SHUFFLE(2, 0, 2, 0));
  const __m128 bl =
      _mm_shuffle_ps(_mm_shuffle_ps(a, b, _MM_SHUFFLE(1, 1, 2, 2)),
                     _mm_shuffle_ps(c, c, _MM_SHUFFLE(3, 3, 0, 0)), _MM_SHUFFLE(2, 0, 2, 0));
  return {Clean4(r), Clean4(g), Clean4(bl)};
}

// Natural-log luminance of four pixels, kNoLight for a pixel without any.
inline __m128 LogLuminance4(const Channels4& p) {
  const __m128 luminance = _mm_add_ps(
      _mm_add_ps(_mm_mul_ps(p.R, _mm_set1_ps(kLumaRed)), _mm_mul_ps(p.G, _mm_set1_ps(kLumaGreen))),
      _mm_mul_ps(p.B, _mm_set1_ps(kLumaBlue)));
  const __m128 lit = _mm_cmpge_ps(luminance, _mm_set1_ps(kSmallestNormal));
  return _mm_or_ps(_mm_and_ps(lit, FastLn4(luminance)), _mm_andnot_ps(lit, _mm_set1_ps(kNoLight)));
}

// Groups of four pixels of `rgb`, the last one filled up with black: `visit`
// gets the group's channels and the index of its first pixel.
template <typename Visit>
void ForFours(const float* rgb, std::size_t count, const Visit& visit) {
  std::size_t i = 0;
  for (; i + 4 <= count; i += 4) visit(LoadPixels4(rgb + 3 * i), i);
  if (i == count) return;
  float last[12] = {};
  std::copy(rgb + 3 * i, rgb + 3 * count, last);
  visit(LoadPixels4(last), i);
}

// Natural-log luminance of `count` pixels into `logs`, which has room for a
// multiple of four.
void LogLuminances(const float* rgb, std::size_t count, float* logs) {
  ForFours(rgb, count,
           [&](const Channels4& p, std::size_t i) { _mm_storeu_ps(logs + i, LogLuminance4(p)); });
}

// Four significant digits, for the log.
std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", value);
  return text;
}

double Diagonal(std::uint32_t width, std::uint32_t height) {
  return std::hypot(static_cast<double>(width), static_cast<double>(height));
}

double ValueOr(const OperatorValues& values, const char* name, double fallback) {
  const auto found = values.find(name);
  return found == values.end() ? fallback : found->second;
}

// What the statistics pass gathers: the grid, and the log-luminances of a
// lattice of pixels for the base layer's range.
struct Gathered {
  Gathered(const GridShape& shape, std::uint32_t stride)
      : Grid(shape),
        Stride(stride),
        Columns((shape.Width + stride - 1) / stride),
        Samples(std::size_t{Columns} * ((shape.Height + stride - 1) / stride), kNoLight) {}

  BilateralGrid Grid;
  std::uint32_t Stride;
  std::uint32_t Columns;
  std::vector<float> Samples;
};

class Durand02Gatherer final : public OperatorGatherer {
 public:
  // Shared, so that a gatherer outlives a later MakeGatherer safely.
  explicit Durand02Gatherer(std::shared_ptr<Gathered> gathered)
      : shared_(std::move(gathered)), gathered_(*shared_) {}

  void AddRows(const float* rgb, std::uint32_t firstRow, std::uint32_t rows) override {
    const std::uint32_t width = gathered_.Grid.Shape().Width;
    const std::uint32_t height = gathered_.Grid.Shape().Height;
    if (firstRow >= height) return;
    rows = std::min(rows, height - firstRow);
    std::vector<float> logs(width + 3);
    BilateralGrid::Rows gridRows(gathered_.Grid);
    for (std::uint32_t r = 0; r < rows; ++r) {
      const std::uint32_t row = firstRow + r;
      LogLuminances(rgb + std::size_t{3} * width * r, width, logs.data());
      gridRows.Add(row, logs.data());
      if (row % gathered_.Stride != 0) continue;
      float* const samples =
          gathered_.Samples.data() + std::size_t{row / gathered_.Stride} * gathered_.Columns;
      for (std::uint32_t k = 0; k < gathered_.Columns; ++k)
        samples[k] = logs[std::size_t{k} * gathered_.Stride];
    }
  }

 private:
  std::shared_ptr<Gathered> shared_;
  Gathered& gathered_;
};

class Durand02 final : public ToneOperator {
 public:
  explicit Durand02(const OperatorValues& values)
      : sigmaS_(ValueOr(values, "sigma-s", kDefaultSigmaS)),
        sigmaSPixels_(ValueOr(values, PixelKey("sigma-s").c_str(), 0.0)),
        sigmaR_(ValueOr(values, "sigma-r", 0.4)),
        baseContrast_(ValueOr(values, "base-contrast", 5.0)),
        exposure_(ValueOr(values, "exposure", 0.0)),
        saturation_(ValueOr(values, "saturation", kAutomatic)),
        gamma_(ValueOr(values, "gamma", 0.0)) {}

  std::unique_ptr<OperatorGatherer> MakeGatherer(std::uint32_t width,
                                                 std::uint32_t height) override {
    gathered_ = MakeGathered(width, height);
    return std::make_unique<Durand02Gatherer>(gathered_);
  }

  void Prepare(const ImageFacts& facts) override;

  void MapPixels(const float* rgb, const PixelPlaces& places, std::size_t count,
                 float* display) const override {
    MapRun(rgb, places, count, [&](std::size_t done, std::size_t n, float* const linear[3]) {
      for (std::size_t i = 0; i < n; ++i)
        for (int c = 0; c < 3; ++c)
          display[3 * (done + i) + c] = EncodeForDisplay(linear[c][i], rule_);
    });
  }

  void MapPixelsToBytes(const float* rgb, const PixelPlaces& places, std::size_t count,
                        std::uint8_t* out) const override {
    MapRun(rgb, places, count, [&](std::size_t done, std::size_t n, float* const linear[3]) {
      codes_.Codes(linear, n, out + 3 * done);
    });
  }

  std::vector<std::string> Describe() const override;

 private:
  std::shared_ptr<Gathered> MakeGathered(std::uint32_t width, std::uint32_t height) const;
  void FindBaseRange();
  template <typename Finish>
  void MapRun(const float* rgb, const PixelPlaces& places, std::size_t count,
              const Finish& finish) const;

  double sigmaS_;
  double sigmaSPixels_;  // 0: given as a fraction
  double sigmaR_;
  double baseContrast_;
  double exposure_;
  double saturation_;  // kAutomatic: from the compression factor
  double gamma_;

  std::shared_ptr<Gathered> gathered_;
  double askedPixels_ = 0.0;
  double baseLow_ = 0.0;
  double baseHigh_ = 0.0;
  double compression_ = 1.0;
  DisplayRule rule_;
  DisplayCodes codes_;
  // ln(L_out / L_in) = compression x base + shift - base.
  float compressionF_ = 1.0f;
  float shift_ = 0.0f;
};

std::shared_ptr<Gathered> Durand02::MakeGathered(std::uint32_t width, std::uint32_t height) const {
  const double diagonal = Diagonal(width, height);
  GridShape shape;
  shape.Width = width;
  shape.Height = height;
  const double asked = sigmaSPixels_ > 0.0 ? sigmaSPixels_ : sigmaS_ * diagonal;
  shape.CellPixels = std::max({asked, diagonal / kMostCellsAcross, 1e-3});
  // The range weight exp(-(d / sigma-r)^2) is a Gaussian of deviation sigma-r / sqrt(2).
  shape.LogStep = static_cast<float>(sigmaR_ / std::sqrt(2.0));
  const std::uint64_t pixels = std::uint64_t{width} * height;
  std::uint32_t stride = 1;
  while (pixels / (std::uint64_t{stride} * stride) > kMostSamples) ++stride;
  return std::make_shared<Gathered>(shape, stride);
}

void Durand02::Prepare(const ImageFacts& facts) {
  if (!gathered_ || gathered_->Grid.Shape().Width != facts.Width ||
      gathered_->Grid.Shape().Height != facts.Height)
    gathered_ = MakeGathered(facts.Width, facts.Height);
  const double diagonal = Diagonal(facts.Width, facts.Height);
  askedPixels_ = sigmaSPixels_ > 0.0 ? sigmaSPixels_ : sigmaS_ * diagonal;
  gathered_->Grid.Blur();
  FindBaseRange();
  const double range = baseHigh_ - baseLow_;
  compression_ = baseContrast_ / std::max(range, baseContrast_ / kMostExpansion);
  double saturation = saturation_;
  if (std::isnan(saturation)) {
    const double power = std::pow(compression_, kSaturationK2);
    saturation = (1.0 + kSaturationK1) * power / (1.0 + kSaturationK1 * power);
  }
  rule_.Saturation = static_cast<float>(saturation);
  rule_.Gamma = static_cast<float>(gamma_);
  codes_ = DisplayCodes(rule_);
  compressionF_ = static_cast<float>(compression_);
  // The top of the base range maps to display white before the exposure.
  shift_ = static_cast<float>(exposure_ * std::log(2.0) - compression_ * baseHigh_);
}

void Durand02::FindBaseRange() {
  const Gathered& g = *gathered_;
  const std::uint32_t width = g.Grid.Shape().Width;
  std::vector<std::uint32_t> columns(g.Columns);
  for (std::uint32_t k = 0; k < g.Columns; ++k) columns[k] = k * g.Stride;
  std::vector<float> bases(g.Columns);
  std::vector<float> found;
  const std::size_t rows = g.Columns == 0 ? 0 : g.Samples.size() / g.Columns;
  for (std::size_t j = 0; j < rows && width > 0; ++j) {
    const auto row = static_cast<std::uint32_t>(j * g.Stride);
    const float* const logs = g.Samples.data() + j * g.Columns;
    const BilateralGrid::RowSlice slice(g.Grid, row);
    slice.Filter(PixelPlaces{row, 0, columns.data()}, logs, g.Columns, bases.data());
    for (std::uint32_t k = 0; k < g.Columns; ++k)
      if (logs[k] >= kLowestLog) found.push_back(bases[k]);
  }
  baseLow_ = baseHigh_ = 0.0;
  if (found.empty()) return;
  // pfstmo's ranks: the value at floor(fraction x count) of the sorted values.
  const auto at = [&](double rank) {
    const auto index = std::min(found.size() - 1, static_cast<std::size_t>(rank * found.size()));
    std::nth_element(found.begin(), found.begin() + index, found.end());
    return double{found[index]};
  };
  baseLow_ = at(kBaseLowRank);
  baseHigh_ = at(kBaseHighRank);
}

template <typename Finish>
void Durand02::MapRun(const float* rgb, const PixelPlaces& places, std::size_t count,
                      const Finish& finish) const {
  constexpr std::size_t kChunk = 256;
  alignas(16) float logs[kChunk];
  alignas(16) float bases[kChunk];
  alignas(16) float linear[3][kChunk];
  float* const channels[3] = {linear[0], linear[1], linear[2]};
  const BilateralGrid::RowSlice slice(gathered_->Grid, places.Row);
  const bool saturated = rule_.Saturation != 1.0f;
  const __m128 saturation = _mm_set1_ps(rule_.Saturation);
  const __m128 compression = _mm_set1_ps(compressionF_);
  const __m128 shift = _mm_set1_ps(shift_);
  const __m128 lowest = _mm_set1_ps(-87.0f);
  const __m128 highest = _mm_set1_ps(88.0f);
  const __m128 smallest = _mm_set1_ps(kSmallestNormal);
  const __m128 noLight = _mm_set1_ps(kNoLight);
  for (std::size_t done = 0; done < count; done += kChunk) {
    const std::size_t n = std::min(kChunk, count - done);
    ForFours(rgb + 3 * done, n, [&](const Channels4& p, std::size_t i) {
      _mm_store_ps(logs + i, LogLuminance4(p));
      _mm_store_ps(channels[0] + i, p.R);
      _mm_store_ps(channels[1] + i, p.G);
      _mm_store_ps(channels[2] + i, p.B);
    });
    slice.Filter(places.From(done), logs, n, bases);
    std::fill(bases + n, bases + (n + 3) / 4 * 4, kNoLight);
    for (std::size_t i = 0; i < n; i += 4) {
      const __m128 log = _mm_load_ps(logs + i);
      const __m128 base = _mm_load_ps(bases + i);
      // ln(L_out / L_in): the base compressed, the detail kept.
      const __m128 ratio = _mm_min_ps(
          _mm_max_ps(_mm_sub_ps(_mm_add_ps(_mm_mul_ps(compression, base), shift), base), lowest),
          highest);
      const __m128 lit = _mm_cmpneq_ps(log, noLight);
      if (!saturated) {
        const __m128 scale = FastExp4(ratio);
        for (float* const channel : channels)
          _mm_store_ps(channel + i, _mm_and_ps(lit, _mm_mul_ps(_mm_load_ps(channel + i), scale)));
        continue;
      }
      for (float* const channel : channels) {
        // (in / L_in)^s x L_out = e^(s (ln(in) - ln(L_in)) + ln(L_in) + ratio).
        const __m128 in = _mm_load_ps(channel + i);
        const __m128 power = _mm_add_ps(
            _mm_add_ps(_mm_mul_ps(saturation, _mm_sub_ps(FastLn4(in), log)), log), ratio);
        const __m128 v = _mm_and_ps(_mm_cmpge_ps(in, smallest),
                                    FastExp4(_mm_min_ps(_mm_max_ps(power, lowest), highest)));
        _mm_store_ps(channel + i, _mm_and_ps(lit, v));
      }
    }
    finish(done, n, channels);
  }
}

std::vector<std::string> Durand02::Describe() const {
  const BilateralGrid& grid = gathered_->Grid;
  std::string sigma = "Spatial sigma: " + Number(grid.Shape().CellPixels) + " pixels";
  if (grid.Shape().CellPixels > askedPixels_ * (1.0 + 1e-9))
    sigma += " (" + Number(askedPixels_) + " asked: the grid's finest)";
  return {sigma,
          "Bilateral grid: " + std::to_string(grid.Shape().CellsX()) + " x " +
              std::to_string(grid.Shape().CellsY()) + " cells",
          "Base layer (natural log): " + Number(baseLow_) + " to " + Number(baseHigh_),
          "Compression factor: " + Number(compression_), "Saturation: " + Number(rule_.Saturation)};
}

std::unique_ptr<ToneOperator> MakeDurand02(const OperatorValues& values) {
  return std::make_unique<Durand02>(values);
}

}  // namespace

OperatorRow Durand02Row() {
  return {
      "durand02",
      "local: a bilateral filter splits the log-luminance into a base layer, whose range "
      "is compressed, and the detail, which is kept",
      "F. Durand and J. Dorsey, Fast bilateral filtering for the display of "
      "high-dynamic-range images, ACM Transactions on Graphics 21(3), 2002; the filter as "
      "a bilateral grid: J. Chen, S. Paris and F. Durand, Real-time edge-aware image "
      "processing with the bilateral grid, ACM Transactions on Graphics 26(3), 2007",
      {{"sigma-s",
        "spatial sigma of the filter as a fraction of the image's diagonal, or in pixels "
        "(40px)",
        0.01, 0.25, kDefaultSigmaS, true, 1.0, 100000.0},
       {"sigma-r",
        "range sigma of the filter in natural-log luminance: the weight of a difference d "
        "is exp(-(d / sigma-r)^2)",
        0.1, 2.0, 0.4},
       {"base-contrast", "range of the compressed base layer in natural-log units (5: about 150:1)",
        0.5, 20.0, 5.0},
       {"exposure", "exposure in stops (EV), added to the operator's own", -10.0, 10.0, 0.0},
       {"saturation",
        "colour saturation s of (in / L_in)^s x L_out (default: from the compression "
        "factor, Mantiuk et al. 2009)",
        0.0, 2.0, kAutomatic},
       {"gamma", "display gamma G: a plain power 1/G instead of the sRGB curve (0: sRGB)", 0.0, 4.0,
        0.0}},
      &MakeDurand02};
}

}  // namespace lumivane
