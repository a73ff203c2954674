#include "formats/rgbescan.h"

#include <gtest/gtest.h>

#include <vector>

#include "formats/rgbe.h"
#include "formats/rgbewriter.h"

namespace lumivane {
namespace {

// Widths that writers store flat: a first pixel 2, 2, 0, n is a pixel there,
// and the row must come back as written (it used to be refused as a run row
// head whose width is not the image's).
TEST(RgbeRowScan, FlatRowsOutsideTheRunWidthsStartingLikeARunHeadDecodeAsWritten) {
  for (const std::uint32_t width : {1u, 5u, 7u, 32768u, 40000u}) {
    std::vector<std::uint8_t> pixels(4 * std::size_t{width});
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>(i * 37);
    const std::uint8_t head[4] = {2, 2, 0, static_cast<std::uint8_t>(width + 1)};
    std::copy(head, head + 4, pixels.begin());
    std::vector<std::uint8_t> encoded;
    EncodeRgbeRow(pixels.data(), width, encoded);
    EncodeRgbeRow(pixels.data(), width, encoded);
    ASSERT_EQ(encoded.size(), 2 * pixels.size()) << width;
    const RgbeRowScan scan = ScanRgbeRow(encoded.data(), encoded.size(), width);
    EXPECT_EQ(scan.Outcome, RgbeRowScan::Whole) << width;
    EXPECT_EQ(scan.Kind, RgbeRowKind::Flat) << width;
    EXPECT_EQ(scan.Bytes, pixels.size()) << width;

    RgbeBlockDecoder decoder(encoded.data(), encoded.size(), width, 2, 2);
    ASSERT_TRUE(decoder.DecodeNext(3)) << width;
    const RgbeBlockDecoder::Block block = decoder.Last();
    ASSERT_EQ(block.Rows, 2u);
    const std::uint8_t* planes[4] = {block.R, block.G, block.B, block.E};
    for (std::size_t x = 0; x < 2 * std::size_t{width}; ++x) {
      for (int c = 0; c < 4; ++c) {
        ASSERT_EQ(planes[c][x], pixels[4 * (x % width) + c]) << width << " x " << x;
      }
    }
    EXPECT_EQ(decoder.RowCounts()[0], 2u);
  }
  // Where rows are run rows, the same head is still refused, and one with the
  // width still opens a run row.
  const std::vector<std::uint8_t> refused = {2, 2, 0, 9, 0, 0, 0, 0};
  EXPECT_EQ(ScanRgbeRow(refused.data(), refused.size(), 8).Outcome, RgbeRowScan::Refused);
  const std::vector<std::uint8_t> run = {2, 2, 0, 8, 136, 1, 136, 2, 136, 3, 136, 4};
  const RgbeRowScan scan = ScanRgbeRow(run.data(), run.size(), 8);
  EXPECT_EQ(scan.Kind, RgbeRowKind::ComponentRuns);
  EXPECT_EQ(scan.Bytes, run.size());
  EXPECT_EQ(ScanRgbeRow(run.data(), run.size() - 1, 8).Outcome, RgbeRowScan::CutShort);
}

}  // namespace
}  // namespace lumivane
