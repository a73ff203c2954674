#include "formats/radianceheader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumivane {
namespace {

using Lines = std::vector<std::string>;

TEST(ParseRadianceHeader, SizesDataStartAndLinesFromBytesAlone) {
  const std::string header = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\nEXPOSURE=2.5\n\n-Y 7 +X 9\n";
  // Pixel bytes after the header, and far beyond the 256 the scan may look at.
  const RadianceHeader parsed = ParseRadianceHeader(header + std::string(1000, '\x02'), "a.hdr");
  EXPECT_EQ(parsed.Failure, "");
  EXPECT_EQ(parsed.Width, 9u);
  EXPECT_EQ(parsed.Height, 7u);
  EXPECT_EQ(parsed.DataStart, header.size());
  EXPECT_EQ(parsed.LogLines, (Lines{"#?RADIANCE", "FORMAT=32-bit_rle_rgbe", "EXPOSURE = 2.5", "",
                                    "Image Length = 7", "Image Width = 9"}));
}

TEST(ParseRadianceHeader, RefusalsKeepTheLinesAndSizesReadBeforeThem) {
  EXPECT_EQ(ParseRadianceHeader("#?RGBE\n", "x.hdr").Failure, "x.hdr is not a Radiance file");
  EXPECT_TRUE(ParseRadianceHeader("", "x.hdr").LogLines.empty());

  const RadianceHeader flat =
      ParseRadianceHeader("#?RADIANCE\n# c\nFORMAT=32-bit_rgbe\n\n-Y 1 +X 1\n", "x.hdr");
  EXPECT_EQ(flat.Failure, "x.hdr is not a compressed Radiance file");
  EXPECT_EQ(flat.LogLines, (Lines{"#?RADIANCE", "# c"}));

  // Both sizes were read; their product is zero.
  const RadianceHeader empty =
      ParseRadianceHeader("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\nEXPOSURE=1\n\n-Y 0 +X 5\n", "x.hdr");
  EXPECT_EQ(empty.Failure, "x.hdr has an image size that cannot be handled");
  EXPECT_EQ(empty.Height, 0u);
  EXPECT_EQ(empty.Width, 5u);
  EXPECT_EQ(empty.LogLines.back(), "Image Width = 5");

  // The resolution line is never reached inside the first 256 bytes.
  const RadianceHeader cut = ParseRadianceHeader(
      "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\nEXPOSURE=1\n" + std::string(300, '#') + "\n-Y 1 +X 1\n",
      "x.hdr");
  EXPECT_EQ(cut.Failure, "x.hdr is not a Radiance file");
  EXPECT_FALSE(cut.Width);
}

}  // namespace
}  // namespace lumivane
