#include "formats/pfmheader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumivane {
namespace {

using Lines = std::vector<std::string>;

TEST(ParsePfmHeader, SizesByteOrderDataStartAndLinesFromBytesAlone) {
  const PfmHeader little = ParsePfmHeader("PF\n3 2\n-1.0\nPIXELS", "a.pfm");
  EXPECT_EQ(little.Failure, "");
  EXPECT_EQ(little.Width, 3u);
  EXPECT_EQ(little.Height, 2u);
  EXPECT_TRUE(little.IntelOrder);
  EXPECT_EQ(little.DataStart, 12u);
  EXPECT_EQ(little.ImageBytes, 72u);
  EXPECT_EQ(little.LogLines, (Lines{"Image Width: 3", "Image Length: 2", "Exposition Scale:-1"}));

  // A positive scale is most significant byte first; the letters' case is free
  // but for the grey marker.
  const PfmHeader big = ParsePfmHeader("pF\n640 480\n2.5\n", "b.pfm");
  EXPECT_EQ(big.Failure, "");
  EXPECT_FALSE(big.IntelOrder);
  EXPECT_EQ(big.Width, 640u);
  EXPECT_EQ(big.Height, 480u);
  EXPECT_EQ(big.DataStart, 15u);
  EXPECT_EQ(big.LogLines.back(), "Exposition Scale: 2.5");
}

TEST(ParsePfmHeader, RefusalsKeepTheLinesReadBeforeThem) {
  const std::string notPfm = "x.pfm is not a Portable Floatmap file";
  EXPECT_EQ(ParsePfmHeader("", "x.pfm").Failure, notPfm);
  EXPECT_EQ(ParsePfmHeader("P6\n1 1\n255\n", "x.pfm").Failure, notPfm);
  EXPECT_EQ(ParsePfmHeader("Pf\n1 1\n-1\n", "x.pfm").Failure,
            "x.pfm is a one-channel (grey) Portable Floatmap file; only colour (PF) files can "
            "be read");
  EXPECT_EQ(ParsePfmHeader("PF\n0 5\n-1\n", "x.pfm").Failure, "x.pfm is smaller than 1 x 1 pixel");
  EXPECT_EQ(ParsePfmHeader("PF\n65536 65536\n-1\n", "x.pfm").Failure,
            "x.pfm is too large: its pixels take more than 4 GiB");

  // The width line was read, the height line is not a number.
  const PfmHeader noHeight = ParsePfmHeader("PF\n4 -2\n-1\n", "x.pfm");
  EXPECT_EQ(noHeight.Failure, notPfm);
  EXPECT_EQ(noHeight.Width, 4u);
  EXPECT_FALSE(noHeight.Height);
  EXPECT_EQ(noHeight.LogLines, (Lines{"Image Width: 4"}));

  // The scale line must end inside the first 256 bytes.
  const std::string longScale = "PF\n1 1\n-1" + std::string(300, '0') + "\n";
  const PfmHeader cut = ParsePfmHeader(longScale, "x.pfm");
  EXPECT_EQ(cut.Failure, notPfm);
  EXPECT_EQ(cut.LogLines, (Lines{"Image Width: 1", "Image Length: 1"}));
}

}  // namespace
}  // namespace lumivane
