#include "formats/rgbewriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "formats/rgbe.h"
#include "formats/rgbescan.h"
#include "tests/support/hdrfiles.h"

namespace lumivane {
namespace {

using testing::RgbePixel;

TEST(RgbeWriter, EveryDecodedPixelEncodesBackToItsOwnBytes) {
  // Every mantissa with every exponent, the other two channels varied beside it.
  for (int e = 0; e < 256; ++e) {
    for (int m = 0; m < 256; ++m) {
      const auto r = static_cast<std::uint8_t>(m);
      const auto g = static_cast<std::uint8_t>((m * 7 + 3) & 0xFF);
      const auto b = static_cast<std::uint8_t>((m * 13 + e) & 0xFF);
      const auto x = static_cast<std::uint8_t>(e);
      const std::array<std::uint8_t, 4> expected = {r, g, b, x};
      ASSERT_EQ(FloatToRgbe(RgbeToFloat(r, x), RgbeToFloat(g, x), RgbeToFloat(b, x)), expected)
          << "M " << m << " E " << e;
    }
  }
}

TEST(RgbeWriter, OtherFloatsRoundDownAsRadianceWritersDo) {
  // Each of 1, 0.5 and 0.25 is a decoded value, but under three exponents:
  // rounded to the largest's, 1 becomes 128 under E 129 (1.00390625).
  EXPECT_EQ(FloatToRgbe(1.0f, 0.5f, 0.25f), (std::array<std::uint8_t, 4>{128, 64, 32, 129}));
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(FloatToRgbe(-1.0f, kNaN, 0.0f), (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
  EXPECT_EQ(FloatToRgbe(std::numeric_limits<float>::infinity(), 1.0f, 1.0f),
            (std::array<std::uint8_t, 4>{255, 255, 255, 255}));
  // Each channel keeps its value to within a step of the largest one's mantissa.
  const float values[3] = {1234.5f, 0.01f, 77.0f};
  const auto rgbe = FloatToRgbe(values[0], values[1], values[2]);
  for (int c = 0; c < 3; ++c)
    EXPECT_NEAR(RgbeToFloat(rgbe[c], rgbe[3]), values[c], 1234.5 / 128) << c;
}

TEST(RgbeWriter, RunLengthRowsDecodeToTheirPixels) {
  // Widths below 8 and above 32767 are stored flat; 300 has runs longer than
  // 127 and literals longer than 128 in the pattern's stretches. Flat rows
  // may start like a run row's head (a deep blue pixel, or 2, 2, 0 and a
  // byte not the width) and must still read back flat.
  for (const std::uint32_t width : {5u, 8u, 300u, 40000u}) {
    SCOPED_TRACE(width);
    testing::RgbePixels image = testing::PatternImage(width, 9, width);
    image.Pixels[0] = {2, 2, 200, 130};
    image.Pixels[width] = {2, 2, 0, 7};
    image.Pixels[2 * width] = {2, 2, 128, 0};
    std::vector<std::uint8_t> encoded, row;
    for (std::uint32_t y = 0; y < image.Height; ++y) {
      row.clear();
      for (std::uint32_t x = 0; x < width; ++x) {
        const RgbePixel& p = image.At(x, y);
        row.insert(row.end(), {p.R, p.G, p.B, p.E});
      }
      EncodeRgbeRow(row.data(), width, encoded);
    }
    RgbeBlockDecoder decoder(encoded.data(), encoded.size(), width, image.Height, image.Height);
    // In pieces, so that the scan of row starts must agree.
    ASSERT_TRUE(decoder.DecodeNext(3));
    const auto block = decoder.Last();
    const testing::RgbePlanes planes = testing::PlanesOf(image);
    const std::size_t size = planes.R.size();
    EXPECT_EQ(std::vector<std::uint8_t>(block.R, block.R + size), planes.R);
    EXPECT_EQ(std::vector<std::uint8_t>(block.G, block.G + size), planes.G);
    EXPECT_EQ(std::vector<std::uint8_t>(block.B, block.B + size), planes.B);
    EXPECT_EQ(std::vector<std::uint8_t>(block.E, block.E + size), planes.E);
    EXPECT_EQ(decoder.RowCounts()[UsesComponentRunRows(width) ? 2 : 0], image.Height);
  }
  // A row of one colour: runs of at most 127.
  std::vector<std::uint8_t> flat(4 * 300, 9), encoded;
  EncodeRgbeRow(flat.data(), 300, encoded);
  EXPECT_EQ(encoded.size(), 4 + 4 * 3 * 2u);
}

}  // namespace
}  // namespace lumivane
