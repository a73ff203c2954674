// Area averaging as the rows stream, against the overlap of pixel squares.
#include "imaging/downsample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace lumivane {
namespace {

class MemoryRows final : public PositionedRowSource {
 public:
  MemoryRows(std::uint32_t width, std::uint32_t height, std::vector<float> values)
      : values_(std::move(values)) {
    description_.Width = width;
    description_.Height = height;
  }
  const ImageDescription& Description() const override { return description_; }
  bool ReadRows(float* destination, std::uint32_t rowCount, std::string&) override {
    const std::size_t row = std::size_t{description_.Width} * 3;
    std::copy_n(values_.begin() + row * nextRow_, row * rowCount, destination);
    nextRow_ += rowCount;
    return true;
  }

 private:
  ImageDescription description_;
  std::vector<float> values_;
};

// Each output pixel's mean over the input squares it covers, weighted by the
// area of their overlap.
std::vector<float> Oracle(ImageSize in, ImageSize out, const std::vector<float>& values) {
  const double sx = static_cast<double>(in.Width) / out.Width;
  const double sy = static_cast<double>(in.Height) / out.Height;
  std::vector<float> result;
  for (std::uint32_t j = 0; j < out.Height; ++j)
    for (std::uint32_t i = 0; i < out.Width; ++i)
      for (int c = 0; c < 3; ++c) {
        double sum = 0.0;
        for (std::uint32_t y = 0; y < in.Height; ++y)
          for (std::uint32_t x = 0; x < in.Width; ++x) {
            const double ox = std::min((i + 1) * sx, x + 1.0) - std::max(i * sx, double(x));
            const double oy = std::min((j + 1) * sy, y + 1.0) - std::max(j * sy, double(y));
            const float v = values[(std::size_t{y} * in.Width + x) * 3 + c];
            if (ox > 0 && oy > 0 && v > 0 && std::isfinite(v)) sum += ox * oy * v;
          }
        result.push_back(static_cast<float>(sum / (sx * sy)));
      }
  return result;
}

TEST(Downsample, SizesKeepTheAspectAndNeverGrow) {
  EXPECT_EQ(FitInside({30000, 15000}, {2048, 2048}), (ImageSize{2048, 1024}));
  EXPECT_EQ(FitInside({1000, 3000}, {2048, 2048}), (ImageSize{682, 2048}));
  EXPECT_EQ(FitInside({300, 200}, {2048, 2048}), (ImageSize{300, 200}));
  EXPECT_EQ(Scaled({5, 3}, 0.5), (ImageSize{2, 1}));
  EXPECT_EQ(Scaled({5, 3}, 0.01), (ImageSize{1, 1}));
  EXPECT_EQ(Scaled({5, 3}, 1.0), (ImageSize{5, 3}));
}

TEST(Downsample, RowsAreTheAreaMeansWhateverTheBlockAndPass) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  // A narrow image (many rows per block) and one so wide that each block is a
  // single row, so that an input row shared by two output rows crosses blocks.
  for (const ImageSize in : {ImageSize{7, 5}, ImageSize{400000, 5}}) {
    const ImageSize out{3, 2};
    std::vector<float> values(std::size_t{in.Width} * in.Height * 3);
    for (std::size_t k = 0; k < values.size(); ++k)
      values[k] = static_cast<float>((k * 7919) % 101) / 8.0f;
    values[4] = -5.0f;
    values[10] = nan;
    values[values.size() - 2] = inf;
    const std::vector<float> expected = Oracle(in, out, values);
    const auto source = std::make_shared<MemoryRows>(in.Width, in.Height, values);
    const std::unique_ptr<ImageRowSource> rows = DownsampleRows(source, out);
    EXPECT_EQ(rows->Description().Width, out.Width);
    EXPECT_EQ(rows->Description().Height, out.Height);
    for (int pass = 0; pass < 2; ++pass) {
      std::vector<float> got(std::size_t{out.Width} * out.Height * 3);
      std::string error;
      ASSERT_TRUE(rows->ReadRows(got.data(), 1, error)) << error;
      ASSERT_TRUE(rows->ReadRows(got.data() + out.Width * 3, 1, error)) << error;
      for (std::size_t k = 0; k < got.size(); ++k)
        EXPECT_NEAR(got[k], expected[k], 1e-5 * std::max(1.0f, expected[k]))
            << in.Width << " " << k;
      EXPECT_FALSE(rows->ReadRows(got.data(), 1, error));
      ASSERT_TRUE(rows->Rewind(error)) << error;
    }
  }
}

}  // namespace
}  // namespace lumivane
