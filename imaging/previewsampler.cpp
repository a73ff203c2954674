#include "imaging/previewsampler.h"

#include <algorithm>
#include <cmath>

#include "formats/rgbe.h"
#include "formats/floatimage.h"
#include "io/parallel.h"

namespace lumivane {

PreviewSize PreviewSizeFor(std::uint32_t width, std::uint32_t height, std::uint64_t maxPixels) {
  if (width == 0 || height == 0) return {};
  const std::uint64_t pixels = std::uint64_t{width} * height;
  if (pixels <= maxPixels) return {width, height};
  const double scale = std::sqrt(static_cast<double>(maxPixels) / static_cast<double>(pixels));
  const auto side = [&](std::uint32_t size) {
    return static_cast<std::uint32_t>(
        std::clamp<double>(std::floor(size * scale), 1.0, static_cast<double>(size)));
  };
  PreviewSize preview{side(width), side(height)};
  // A very thin image keeps its short side at 1 and gives up length instead.
  const auto most = [&](std::uint32_t other, std::uint32_t size) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(size, maxPixels / other));
  };
  preview.Width = std::max(1u, std::min(preview.Width, most(preview.Height, width)));
  preview.Height = std::max(1u, std::min(preview.Height, most(preview.Width, height)));
  return preview;
}

std::uint32_t PreviewSourceIndex(std::uint32_t index, std::uint32_t count, std::uint32_t size) {
  return static_cast<std::uint32_t>((2 * std::uint64_t{index} + 1) * size /
                                    (2 * std::uint64_t{count}));
}

void PreviewSampler::Begin(std::uint32_t width, std::uint32_t height, OperatorWidth precision,
                           const ChannelAccumulators& channels, std::uint32_t pixelCount,
                           const ToneSettings& settings) {
  finished_ = false;
  // The last job's values go before this one's are allocated.
  samples_ = PreviewSamples{};
  samples_.ImageWidth = width;
  samples_.ImageHeight = height;
  samples_.Size = PreviewSizeFor(width, height, maxPixels_);
  samples_.Precision = precision;
  samples_.Channels = channels;
  samples_.PixelCount = pixelCount;
  samples_.Settings = settings;
  samples_.Values.assign(std::size_t{samples_.Size.Width} * samples_.Size.Height * 3, 0.0f);
}

void PreviewSampler::TakeOperator(const std::string& name, const OperatorValues& values,
                                  const ImageFacts& facts) {
  samples_.Operator = name;
  samples_.OperatorParameters = values;
  samples_.Facts = facts;
}

std::int64_t PreviewSampler::PreviewRow(std::uint32_t row) const {
  const std::uint32_t rows = samples_.Size.Height;
  if (rows == 0 || row >= samples_.ImageHeight) return -1;
  // Preview rows are at most as dense as image rows: the one that takes
  // `row`, if any, is this one or the next.
  const auto near = static_cast<std::uint32_t>(std::uint64_t{row} * rows / samples_.ImageHeight);
  for (std::uint32_t p = near; p <= near + 1 && p < rows; ++p) {
    if (PreviewSourceIndex(p, rows, samples_.ImageHeight) == row) return p;
  }
  return -1;
}

void PreviewSampler::TakeFloatRow(std::uint32_t row, const std::uint8_t* pixels, bool intelOrder) {
  const std::int64_t p = PreviewRow(row);
  if (p < 0) return;
  const std::uint32_t columns = samples_.Size.Width;
  float* out = samples_.Values.data() + std::size_t(p) * columns * 3;
  for (std::uint32_t column = 0; column < columns; ++column) {
    const std::uint32_t x = PreviewSourceIndex(column, columns, samples_.ImageWidth);
    for (int c = 0; c < 3; ++c)
      *out++ = StoredFloat(pixels + std::size_t{x} * 12 + 4 * c, intelOrder);
  }
}

void PreviewSampler::TakeRgbeRows(std::uint32_t first, std::uint32_t rows, const std::uint8_t* r,
                                  const std::uint8_t* g, const std::uint8_t* b,
                                  const std::uint8_t* e) {
  for (std::uint32_t row = first; row < first + rows; ++row) {
    const std::int64_t p = PreviewRow(row);
    if (p < 0) continue;
    const std::size_t start = std::size_t{row - first} * samples_.ImageWidth;
    const std::uint32_t columns = samples_.Size.Width;
    float* out = samples_.Values.data() + std::size_t(p) * columns * 3;
    for (std::uint32_t column = 0; column < columns; ++column) {
      const std::size_t i = start + PreviewSourceIndex(column, columns, samples_.ImageWidth);
      *out++ = RgbeToFloat(r[i], e[i]);
      *out++ = RgbeToFloat(g[i], e[i]);
      *out++ = RgbeToFloat(b[i], e[i]);
    }
  }
}

void PreviewSampler::Finish(const std::string& outputFileName) {
  samples_.OutputFileName = outputFileName;
  finished_ = samples_.Size.Width > 0;
  ++finishedCount_;
}

PreviewImage RenderPreview(const PreviewSamples& samples, const ToneSettings& settings) {
  const ImageStatistics statistics =
      ComputeImageStatistics(samples.Channels, samples.PixelCount, settings.WarmColours);
  PreviewImage image;
  image.Width = samples.Size.Width;
  image.Height = samples.Size.Height;
  image.Rgb.resize(samples.Values.size());
  RowWorkers workers;
  workers.Run(image.Height, [&](std::size_t begin, std::size_t end) {
    const std::size_t rowValues = std::size_t{image.Width} * 3;
    for (std::size_t i = begin * rowValues; i < end * rowValues; ++i) {
      const std::size_t c = i % 3;
      image.Rgb[i] = ToneMapChannel(samples.Values[i], statistics.Minimum[c], statistics.Average[c],
                                    settings.Brightness, settings.PostGamma, samples.Precision);
    }
  });
  return image;
}

ChannelHistograms HistogramsOf(const PreviewImage& image) {
  ChannelHistograms histograms{};
  for (std::size_t i = 0; i < image.Rgb.size(); ++i) ++histograms[i % 3][image.Rgb[i]];
  return histograms;
}

}  // namespace lumivane
