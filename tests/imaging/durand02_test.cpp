// The durand02 operator and its bilateral grid: the grid against the
// brute-force bilateral filter, the same grid whatever the order, split and
// threads of the rows, sampled places against whole rows, the byte codes
// against the display encoding, and sigma in pixels against a fraction.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "imaging/bilateralgrid.h"
#include "imaging/displaycodes.h"
#include "imaging/displaycolour.h"
#include "imaging/fastlog.h"
#include "imaging/luminance.h"
#include "imaging/operatortable.h"

namespace lumivane {
namespace {

struct Image {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::vector<float> Rgb;
  const float* Row(std::uint32_t y) const { return Rgb.data() + std::size_t{3} * Width * y; }
};

std::uint32_t Hash(std::uint32_t v) {
  v ^= v >> 16;
  v *= 0x7FEB352Du;
  v ^= v >> 15;
  v *= 0x846CA68Bu;
  return v ^ (v >> 16);
}

// Eight decades: a dim gradient, a bright window with a hard edge, a small
// light far brighter still, texture everywhere, colour, a few black pixels
// and a few values a reader could hand over (negative, NaN, infinite).
Image Scene(std::uint32_t width, std::uint32_t height) {
  Image image{width, height, std::vector<float>(std::size_t{3} * width * height)};
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const double u = (x + 0.5) / width;
      const double v = (y + 0.5) / height;
      double log = -4.0 + 3.0 * u + 0.4 * ((Hash(y * 7919u + x) & 0xFF) / 255.0);
      if (u > 0.55 && u < 0.85 && v > 0.2 && v < 0.6) log += 5.0;
      if (std::hypot(u - 0.3, v - 0.3) < 0.05) log += 9.0;
      const double level = std::exp(log);
      float* const pixel = image.Rgb.data() + 3 * (std::size_t{y} * width + x);
      pixel[0] = static_cast<float>(level * (0.6 + 0.8 * u));
      pixel[1] = static_cast<float>(level);
      pixel[2] = static_cast<float>(level * (1.4 - 0.8 * v));
      const std::uint32_t odd = Hash(x * 31u + y * 131071u) % 997;
      if (odd == 0) std::fill(pixel, pixel + 3, 0.0f);
      if (odd == 1) pixel[2] = -0.5f;
      if (odd == 2) pixel[0] = std::numeric_limits<float>::quiet_NaN();
      if (odd == 3) pixel[1] = std::numeric_limits<float>::infinity();
    }
  }
  return image;
}

float CleanValue(float v) {
  return v > 0.0f && std::isfinite(v) ? v : 0.0f;
}

// The statistics pass as the job makes it, with the gatherer's rows in
// blocks of `block`.
std::unique_ptr<ToneOperator> Prepared(const Image& image, const OperatorValues& values,
                                       std::uint32_t block = 16) {
  std::unique_ptr<ToneOperator> op = FindOperator("durand02")->Make(values);
  const std::unique_ptr<OperatorGatherer> gatherer = op->MakeGatherer(image.Width, image.Height);
  ImageFacts facts;
  facts.Width = image.Width;
  facts.Height = image.Height;
  for (std::size_t i = 0; i < image.Rgb.size(); i += 3) {
    const float rgb[3] = {CleanValue(image.Rgb[i]), CleanValue(image.Rgb[i + 1]),
                          CleanValue(image.Rgb[i + 2])};
    for (int c = 0; c < 3; ++c) facts.Channels[c].Add(rgb[c]);
    facts.Luminance.AddPixels(rgb, 1);
  }
  for (std::uint32_t y = 0; y < image.Height; y += block)
    gatherer->AddRows(image.Row(y), y, std::min(block, image.Height - y));
  op->Prepare(facts);
  return op;
}

std::vector<std::uint8_t> Bytes(const ToneOperator& op, const Image& image) {
  std::vector<std::uint8_t> out(image.Rgb.size());
  for (std::uint32_t y = 0; y < image.Height; ++y)
    op.MapPixelsToBytes(image.Row(y), PixelPlaces{y, 0, nullptr}, image.Width,
                        out.data() + std::size_t{3} * image.Width * y);
  return out;
}

std::vector<float> Logs(const Image& image, std::uint32_t y) {
  std::vector<float> logs(image.Width);
  for (std::uint32_t x = 0; x < image.Width; ++x) {
    const float* const p = image.Row(y) + 3 * x;
    const float luminance = LuminanceOf(CleanValue(p[0]), CleanValue(p[1]), CleanValue(p[2]));
    logs[x] = luminance > 0.0f ? std::log(luminance) : -INFINITY;
  }
  return logs;
}

std::vector<float> Filtered(const BilateralGrid& grid, const Image& image) {
  std::vector<float> out(std::size_t{image.Width} * image.Height);
  for (std::uint32_t y = 0; y < image.Height; ++y) {
    const std::vector<float> logs = Logs(image, y);
    BilateralGrid::RowSlice(grid, y).Filter(PixelPlaces{y, 0, nullptr}, logs.data(), image.Width,
                                            out.data() + std::size_t{y} * image.Width);
  }
  return out;
}

TEST(BilateralGrid, FollowsTheBruteForceFilter) {
  const Image image = Scene(72, 48);
  const double sigmaS = 4.0;
  const double sigmaR = 0.4;
  GridShape shape{image.Width, image.Height, sigmaS, static_cast<float>(sigmaR / std::sqrt(2.0))};
  BilateralGrid grid(shape);
  {
    BilateralGrid::Rows rows(grid);
    for (std::uint32_t y = 0; y < image.Height; ++y) rows.Add(y, Logs(image, y).data());
  }
  grid.Blur();
  const std::vector<float> fast = Filtered(grid, image);

  std::vector<std::vector<float>> logs;
  for (std::uint32_t y = 0; y < image.Height; ++y) logs.push_back(Logs(image, y));
  double total = 0.0;
  double largest = 0.0;
  std::size_t lit = 0;
  const int reach = static_cast<int>(3 * sigmaS);
  for (int y = 0; y < static_cast<int>(image.Height); ++y) {
    for (int x = 0; x < static_cast<int>(image.Width); ++x) {
      const double centre = logs[y][x];
      if (!std::isfinite(centre)) continue;
      double weights = 0.0;
      double sum = 0.0;
      for (int j = std::max(0, y - reach); j <= std::min<int>(image.Height - 1, y + reach); ++j) {
        for (int i = std::max(0, x - reach); i <= std::min<int>(image.Width - 1, x + reach); ++i) {
          const double other = logs[j][i];
          if (!std::isfinite(other)) continue;
          const double d = (other - centre) / sigmaR;
          const double w =
              std::exp(-((i - x) * (i - x) + (j - y) * (j - y)) / (2 * sigmaS * sigmaS) - d * d);
          weights += w;
          sum += w * other;
        }
      }
      const double difference =
          std::abs(fast[static_cast<std::size_t>(y) * image.Width + static_cast<std::size_t>(x)] -
                   sum / weights);
      total += difference;
      largest = std::max(largest, difference);
      ++lit;
    }
  }
  // The grid's cells are a sigma wide: about 0.012 on average, under 0.05
  // at worst, here; a blur of half or twice the width is off by 0.02 on
  // average and 0.17 or more where a cell straddles the window's edge.
  EXPECT_LT(total / static_cast<double>(lit), 0.018);
  EXPECT_LT(largest, 0.1);
}

TEST(BilateralGrid, ComesOutTheSameWhateverTheOrderSplitAndThreadsOfTheRows) {
  const Image image = Scene(101, 67);
  const GridShape shape{image.Width, image.Height, 5.5, 0.3f};
  BilateralGrid inOrder(shape);
  {
    BilateralGrid::Rows rows(inOrder);
    for (std::uint32_t y = 0; y < image.Height; ++y) rows.Add(y, Logs(image, y).data());
  }
  BilateralGrid shuffled(shape);
  {
    // Blocks of 1 to 5 rows, dealt to three threads in turn; each thread
    // takes its blocks from the bottom up, and each block's rows too.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> blocks;
    for (std::uint32_t first = 0, size = 1; first < image.Height;
         first += size, size = size % 5 + 1)
      blocks.emplace_back(first, std::min(first + size, image.Height));
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < 3; ++t) {
      threads.emplace_back([&, t] {
        for (std::size_t k = blocks.size(); k-- > 0;) {
          if (k % 3 != t) continue;
          BilateralGrid::Rows rows(shuffled);
          for (std::uint32_t y = blocks[k].second; y-- > blocks[k].first;)
            rows.Add(y, Logs(image, y).data());
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
  }
  EXPECT_EQ(inOrder.Pixels(), shuffled.Pixels());
  inOrder.Blur();
  shuffled.Blur();
  const std::vector<float> a = Filtered(inOrder, image);
  const std::vector<float> b = Filtered(shuffled, image);
  ASSERT_EQ(a.size(), b.size());
  EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0);
}

TEST(Durand02, SampledPlacesGiveTheWholeRowsResultAndBytesAreTheRoundedDisplayValues) {
  const Image image = Scene(90, 45);
  for (const OperatorValues& values :
       {OperatorValues{}, OperatorValues{{"saturation", 1.0}, {"gamma", 2.2}},
        OperatorValues{{"saturation", 0.5}, {"gamma", 0.6}, {"exposure", 1.5}}}) {
    const std::unique_ptr<ToneOperator> op = Prepared(image, values);
    const std::vector<std::uint8_t> bytes = Bytes(*op, image);
    // Every third column from the second on, as a preview samples them.
    std::vector<std::uint32_t> columns;
    for (std::uint32_t x = 1; x < image.Width; x += 3) columns.push_back(x);
    for (std::uint32_t y = 0; y < image.Height; ++y) {
      std::vector<float> whole(std::size_t{3} * image.Width);
      op->MapPixels(image.Row(y), PixelPlaces{y, 0, nullptr}, image.Width, whole.data());
      std::vector<float> sampledRgb;
      for (const std::uint32_t x : columns)
        sampledRgb.insert(sampledRgb.end(), image.Row(y) + 3 * x, image.Row(y) + 3 * x + 3);
      std::vector<float> sampled(sampledRgb.size());
      std::vector<std::uint8_t> sampledBytes(sampledRgb.size());
      op->MapPixels(sampledRgb.data(), PixelPlaces{y, 0, columns.data()}, columns.size(),
                    sampled.data());
      op->MapPixelsToBytes(sampledRgb.data(), PixelPlaces{y, 0, columns.data()}, columns.size(),
                           sampledBytes.data());
      for (std::size_t k = 0; k < columns.size(); ++k)
        for (int c = 0; c < 3; ++c) {
          const std::size_t at = 3 * (std::size_t{y} * image.Width + columns[k]) + c;
          ASSERT_EQ(std::bit_cast<std::uint32_t>(sampled[3 * k + c]),
                    std::bit_cast<std::uint32_t>(whole[3 * columns[k] + c]));
          ASSERT_EQ(sampledBytes[3 * k + c], bytes[at]);
        }
      for (std::uint32_t x = 0; x < image.Width; ++x)
        for (int c = 0; c < 3; ++c) {
          const float display = whole[3 * x + c];
          ASSERT_GE(display, 0.0f);
          ASSERT_LE(display, 1.0f);
          ASSERT_EQ(bytes[3 * (std::size_t{y} * image.Width + x) + c],
                    std::lround(display * 255.0f))
              << "row " << y << " column " << x;
        }
    }
    // A picture, not a flat field.
    std::vector<bool> seen(256, false);
    for (const std::uint8_t b : bytes) seen[b] = true;
    EXPECT_GT(std::count(seen.begin(), seen.end(), true), 100);
  }
}

TEST(Durand02, SigmaInPixelsIsTheFractionOfTheDiagonalAndNeverFinerThanTheGrid) {
  const Image image = Scene(320, 240);  // diagonal 400 pixels
  const std::vector<std::uint8_t> fraction = Bytes(*Prepared(image, {{"sigma-s", 0.05}}), image);
  const std::unique_ptr<ToneOperator> pixels =
      Prepared(image, {{PixelKey("sigma-s"), 20.0}, {"sigma-s", 0.2}});
  EXPECT_EQ(fraction, Bytes(*pixels, image));
  EXPECT_EQ(pixels->Describe()[0], "Spatial sigma: 20 pixels");
  EXPECT_NE(fraction, Bytes(*Prepared(image, {{"sigma-s", 0.03}}), image));
  // The finest grid has a cell of 1 % of the diagonal, 4 pixels here.
  const std::unique_ptr<ToneOperator> fine = Prepared(image, {{PixelKey("sigma-s"), 2.0}});
  EXPECT_EQ(Bytes(*fine, image), Bytes(*Prepared(image, {{PixelKey("sigma-s"), 4.0}}), image));
  EXPECT_EQ(fine->Describe()[0], "Spatial sigma: 4 pixels (2 asked: the grid's finest)");
  // The order and split of the gatherer's rows do not show in the bytes.
  EXPECT_EQ(fraction, Bytes(*Prepared(image, {{"sigma-s", 0.05}}, 7), image));
}

TEST(DisplayCodes, AreTheRoundedDisplayEncoding) {
  for (const DisplayRule rule : {DisplayRule{1.0f, 0.0f}, DisplayRule{1.0f, 2.2f},
                                 DisplayRule{1.0f, 0.6f}, DisplayRule{1.0f, 4.0f}}) {
    const DisplayCodes codes(rule);
    // Floats from 0 to past 1, 2^10 bit patterns apart, and their neighbours.
    for (std::uint32_t bits = 0; bits < 0x3F900000u; bits += 1021) {
      const float v = std::bit_cast<float>(bits);
      ASSERT_EQ(codes.Code(v),
                std::lround(std::clamp(EncodeForDisplay(v, rule), 0.0f, 1.0f) * 255.0f))
          << v << " gamma " << rule.Gamma;
    }
    EXPECT_EQ(codes.Code(-1.0f), 0);
    EXPECT_EQ(codes.Code(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(codes.Code(std::numeric_limits<float>::infinity()), 255);
  }
}

TEST(FastLog, LnAndExpAreWithinAFewUnitsInTheLastPlace) {
  for (std::uint32_t bits = 0x00800000u; bits < 0x7F800000u; bits += 4093) {
    const float x = std::bit_cast<float>(bits);
    const float ln = _mm_cvtss_f32(FastLn4(_mm_set1_ps(x)));
    ASSERT_NEAR(ln, std::log(double{x}), 4e-6 + 2e-7 * std::abs(std::log(double{x}))) << x;
  }
  for (float x = -87.0f; x <= 88.0f; x += 0.01f) {
    const float e = _mm_cvtss_f32(FastExp4(_mm_set1_ps(x)));
    ASSERT_NEAR(e / std::exp(double{x}), 1.0, 1e-6) << x;
  }
}

}  // namespace
}  // namespace lumivane
