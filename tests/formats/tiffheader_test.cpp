#include "formats/tiffheader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/floatfiles.h"

namespace lumivane {
namespace {

using testing::Bytes;
using testing::TiffBuilder;

TiffHeader Parse(const Bytes& file, std::uint32_t inheritedWidth = 0,
                 std::uint32_t inheritedHeight = 0) {
  MemoryBytes source(file);
  const std::size_t head = std::min(file.size(), kTiffHeadBytes);
  return ParseTiffHeader(std::span(file.data(), head), source, "t.tif", inheritedWidth,
                         inheritedHeight);
}

TEST(ParseTiffHeader, EitherByteOrderGivesTheSameSizesLinesAndTheFirstPixel) {
  const testing::FloatImage image = testing::GradientImage(3, 5);
  const TiffHeader little = Parse(testing::FloatTiff(image, {.IntelOrder = true}));
  const Bytes bigFile = testing::FloatTiff(image, {.IntelOrder = false, .RowsPerStrip = 2});
  const TiffHeader big = Parse(bigFile);
  for (const TiffHeader* header : {&little, &big}) {
    EXPECT_EQ(header->Failure, "");
    EXPECT_EQ(header->Width, 3u);
    EXPECT_EQ(header->Height, 5u);
    ASSERT_EQ(header->LogLines.size(), 16u);
    EXPECT_EQ(header->LogLines[0], "TIFF Version (usually 42): 42");
    EXPECT_EQ(header->LogLines[2], "Number of tags: 11");
    EXPECT_EQ(header->LogLines[4], " 257 ImageLength = 5");
    EXPECT_EQ(header->LogLines.back(), "DONE reading and interpreting IFD.");
  }
  EXPECT_TRUE(little.IntelOrder);
  EXPECT_FALSE(big.IntelOrder);
  // The data start is the first strip of the table, in the file's byte order.
  const Bytes firstPixel = testing::PixelRows(image, 0, 1, false);
  ASSERT_LE(big.DataStart + 12, bigFile.size());
  EXPECT_EQ(Bytes(bigFile.begin() + big.DataStart, bigFile.begin() + big.DataStart + 12),
            Bytes(firstPixel.begin(), firstPixel.begin() + 12));
}

TEST(ParseTiffHeader, RefusalsNameTheirBoxAndKeepTheLinesReadBefore) {
  const TiffHeader notTiff = Parse(Bytes{'P', 'F', '\n', '1'});
  EXPECT_EQ(notTiff.Failure, "Not a TIFF file.");
  EXPECT_EQ(notTiff.FailureTitle, "LUMIVANE - File|Open");
  EXPECT_EQ(notTiff.FailureLogLine, "STOP - No Job!");
  EXPECT_TRUE(notTiff.LogLines.empty());

  TiffBuilder compressed(false);
  compressed.Entry(256, 4, 1, compressed.Long(2));
  compressed.Entry(259, 3, 1, compressed.Short(5));
  const TiffHeader lzw = Parse(compressed.Build());
  EXPECT_EQ(lzw.Failure, "Tag 259 issue: has data compression.");
  EXPECT_EQ(lzw.FailureTitle, "LUMIVANE - File issue.");
  EXPECT_EQ(lzw.FailureLogLine, "Interpreting tags, expecting 1.");
  EXPECT_EQ(lzw.Width, 2u);
  EXPECT_EQ(lzw.LogLines.back(), " 259 Compression = 5");

  TiffBuilder tiled(true);
  tiled.Entry(322, 4, 1, tiled.Long(16));
  const TiffHeader tiles = Parse(tiled.Build());
  EXPECT_EQ(tiles.Failure.rfind("t.tif is a tiled TIFF; this reader reads strips only.", 0), 0u);
  EXPECT_EQ(tiles.FailureTitle, "LUMIVANE - File issue.");
  EXPECT_EQ(tiles.FailureLogLine, "");
  EXPECT_EQ(tiles.LogLines.back(), " 322 Not needed");

  // The IFD announces more entries than the file holds: nothing past its end is read.
  const Bytes whole = testing::FloatTiff(testing::GradientImage(2, 2));
  const TiffHeader cut = Parse(Bytes(whole.begin(), whole.end() - 20));
  EXPECT_EQ(cut.Failure, "t.tif ends inside its IFD.");
  ASSERT_EQ(cut.LogLines.size(), 3u);
  EXPECT_EQ(cut.LogLines[2], "Number of tags: 11");
  EXPECT_EQ(Parse(Bytes{'M', 'M', 0, 42}).Failure, "t.tif ends inside its TIFF header.");
  // An IFD of no entries asks the byte source for no bytes, into no buffer.
  const TiffHeader empty = Parse(Bytes{'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(empty.Failure, "t.tif has a width or height of 0, or more than 4 GiB of pixels.");
  EXPECT_EQ(empty.LogLines.back(), "Number of tags: 0");
}

TEST(ParseTiffHeader, AFileWithoutSizeTagsIsCheckedAgainstTheInheritedSize) {
  TiffBuilder tiff(true);
  const std::uint32_t data = tiff.Append(Bytes(24, 0));
  tiff.Data(258, 3, 3, tiff.Shorts({32, 32, 32}));
  tiff.Entry(273, 4, 1, tiff.Long(data));
  const Bytes file = tiff.Build();
  EXPECT_EQ(Parse(file).Failure, "t.tif has a width or height of 0, or more than 4 GiB of pixels.");
  const TiffHeader inherited = Parse(file, 2, 1);
  EXPECT_EQ(inherited.Failure, "");
  EXPECT_FALSE(inherited.Width);
  EXPECT_EQ(inherited.DataStart, data);
  EXPECT_EQ(Parse(file, 100, 1).Failure, "t.tif is shorter than its header promises.");
}

}  // namespace
}  // namespace lumivane
