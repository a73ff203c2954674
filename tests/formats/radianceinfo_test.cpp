// A Radiance file described for `info`: the header text up to its blank line,
// and the rows whose bytes lie whole, counted a piece at a time as ScanRgbeRow
// takes rows from bytes all in memory.
#include "formats/radianceinfo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "formats/rgbescan.h"
#include "tests/support/hdrfiles.h"

namespace lumivane {
namespace {

RadianceHeaderText HeaderOf(const std::string& text) {
  MemoryBytes bytes({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
  return ReadRadianceHeaderText(bytes);
}

TEST(RadianceInfo, TheHeaderIsItsLinesUpToTheBlankLineAndTheResolutionLine) {
  const RadianceHeaderText plain = HeaderOf(
      "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n# made by hand "
      "\n\n-Y 2 +X 3\n\x02\x02\x01\x03\n\n");
  EXPECT_EQ(plain.Lines,
            (std::vector<std::string>{"#?RADIANCE", "FORMAT=32-bit_rle_rgbe", "# made by hand "}));
  EXPECT_EQ(plain.Resolution, "-Y 2 +X 3");
  EXPECT_EQ(plain.Failure, "");

  // A header longer than any reader's first block is still read whole.
  const std::string comment = "# " + std::string(3000, 'c');
  EXPECT_EQ(HeaderOf("#?RADIANCE\n" + comment + "\n\n+Y 1 +X 1\nabcd").Lines.back(), comment);

  EXPECT_EQ(HeaderOf("#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n").Failure,
            "the file ends before the blank line that ends the header");
  EXPECT_EQ(HeaderOf("#?RADIANCE\n\n-Y 2 +X 3").Failure,
            "the resolution line after the header has no end");
  EXPECT_EQ(HeaderOf("#?RADIANCE\n" + std::string(kMaxRadianceHeaderText, 'x')).Failure,
            "no blank line ends the header in its first 65536 bytes");
}

// Rows taken one after the other by ScanRgbeRow from the bytes in memory.
std::uint32_t ScannedRows(const std::vector<std::uint8_t>& data, std::uint32_t width,
                          std::uint32_t height) {
  std::size_t at = 0;
  std::uint32_t rows = 0;
  while (rows < height) {
    const RgbeRowScan scan = ScanRgbeRow(data.data() + at, data.size() - at, width);
    if (scan.Outcome != RgbeRowScan::Whole) break;
    at += scan.Bytes;
    ++rows;
  }
  return rows;
}

TEST(RadianceInfo, WholeRowsAreCountedAsTheRowScanTakesThem) {
  std::mt19937 random(7);
  for (const std::uint32_t width : {5u, 40u, 300u, 40000u}) {
    const testing::RgbePixels image = testing::PatternImage(width, 5, width);
    for (const auto form : {testing::RgbeRowForm::Flat, testing::RgbeRowForm::ComponentRuns,
                            testing::RgbeRowForm::OldRuns}) {
      const std::vector<std::uint8_t> rows = testing::EncodeRgbeRows(image, form);
      for (int trial = 0; trial < 40; ++trial) {
        std::vector<std::uint8_t> data = rows;
        // Cut anywhere, and in some trials change a byte: a run count, a row
        // head, a marker, whatever it lands on.
        data.resize(random() % (data.size() + 1));
        if (trial % 3 == 0 && !data.empty()) data[random() % data.size()] = random() % 256;
        // The pixel data after a header of 7 bytes.
        std::vector<std::uint8_t> file(7 + data.size(), '#');
        std::copy(data.begin(), data.end(), file.begin() + 7);
        MemoryBytes bytes(file);
        SCOPED_TRACE(std::to_string(width) + " wide, " + std::to_string(data.size()) + " bytes");
        EXPECT_EQ(CountWholeRgbeRows(bytes, 7, width, 5), ScannedRows(data, width, 5));
      }
      // Rows too wide for the run form are read flat, and so run out of bytes.
      MemoryBytes whole(rows);
      EXPECT_EQ(
          CountWholeRgbeRows(whole, 0, width, 5),
          width <= 32767 || form == testing::RgbeRowForm::Flat ? 5u : ScannedRows(rows, width, 5));
      EXPECT_EQ(CountWholeRgbeRows(whole, rows.size() + 1, width, 5), 0u);
    }
  }
}

}  // namespace
}  // namespace lumivane
