// What a tone-mapping job keeps for the window's preview: the statistics and
// the input values at a bounded grid of positions, so the result can be shown,
// and shown again for other settings, without another pass over the image.
// Each preview pixel is exactly the byte the job writes at its position.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/settings.h"
#include "imaging/statistics.h"
#include "imaging/tonemap.h"
#include "imaging/tonemapoperator.h"

namespace lumivane {

// At most this many preview pixels, three 32-bit values each: about 24 MB.
inline constexpr std::uint64_t kPreviewMaxPixels = 2'000'000;

struct PreviewSize {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
};

// The image's own size when it has at most `maxPixels` pixels; otherwise the
// largest grid of about its aspect within that count, each side at least 1.
PreviewSize PreviewSizeFor(std::uint32_t width, std::uint32_t height,
                           std::uint64_t maxPixels = kPreviewMaxPixels);

// The image position (column or row) that preview position `index` of `count`
// takes its value from: the nearest one to the centre of its cell.
std::uint32_t PreviewSourceIndex(std::uint32_t index, std::uint32_t count, std::uint32_t size);

struct ToneSettings {
  float Brightness = kBrightnessRule.Default;
  float PostGamma = kInitialPostGamma;
  bool WarmColours = false;
};

struct PreviewSamples {
  std::uint32_t ImageWidth = 0;
  std::uint32_t ImageHeight = 0;
  PreviewSize Size;
  OperatorWidth Precision = OperatorWidth::Double;
  // As the job gathered them, before the warm-colours rule: both averages
  // can be derived from them.
  ChannelAccumulators Channels;
  std::uint32_t PixelCount = 0;
  // The settings the job ran with: the classic operator's, or another
  // operator's name (empty for the classic one) and parameters, with the
  // facts of the whole image that it prepared from.
  ToneSettings Settings;
  std::string Operator;
  OperatorValues OperatorParameters;
  ImageFacts Facts;
  std::string OutputFileName;
  // R, G, B per preview pixel, rows top first.
  std::vector<float> Values;
};

// Fed by a tone-mapping job on its calling thread. Keeps one job's samples:
// a new job drops the last one's first, so the memory stays bounded.
class PreviewSampler {
 public:
  explicit PreviewSampler(std::uint64_t maxPixels = kPreviewMaxPixels) : maxPixels_(maxPixels) {}

  // After the statistics pass, before the output rows are made.
  void Begin(std::uint32_t width, std::uint32_t height, OperatorWidth precision,
             const ChannelAccumulators& channels, std::uint32_t pixelCount,
             const ToneSettings& settings);
  // After Begin, for an operator beyond the classic one.
  void TakeOperator(const std::string& name, const OperatorValues& values,
                    const ImageFacts& facts);
  // Output row `row` (0 is the top row) as stored 32-bit floats R, G, B.
  void TakeFloatRow(std::uint32_t row, const std::uint8_t* pixels, bool intelOrder);
  // Output rows [first, first + rows) as Radiance mantissa and exponent planes.
  void TakeRgbeRows(std::uint32_t first, std::uint32_t rows, const std::uint8_t* r,
                    const std::uint8_t* g, const std::uint8_t* b, const std::uint8_t* e);
  // The job wrote its whole output.
  void Finish(const std::string& outputFileName);

  // The samples of the last job that finished, or null (none yet, or a job
  // has begun since).
  const PreviewSamples* Last() const { return finished_ ? &samples_ : nullptr; }
  // Counts finished jobs.
  std::uint64_t Finished() const { return finishedCount_; }

 private:
  // The preview row that output row `row` feeds, or -1.
  std::int64_t PreviewRow(std::uint32_t row) const;

  std::uint64_t maxPixels_;
  PreviewSamples samples_;
  bool finished_ = false;
  std::uint64_t finishedCount_ = 0;
};

struct PreviewImage {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::vector<std::uint8_t> Rgb;  // rows top first, no padding
};

// The bytes the job writes at the sampled positions with `settings`.
PreviewImage RenderPreview(const PreviewSamples& samples, const ToneSettings& settings);

// Per channel R, G, B, how many pixels hold each byte value.
using ChannelHistograms = std::array<std::array<std::uint32_t, 256>, 3>;
ChannelHistograms HistogramsOf(const PreviewImage& image);

}  // namespace lumivane
