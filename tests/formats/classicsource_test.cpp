// Radiance rows as floats, decoded on several threads, handed out in batches
// that do not follow the decoder's blocks.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <bit>
#include <string>
#include <vector>

#include "formats/classicsource.h"
#include "formats/rgbe.h"
#include "io/binaryfile.h"
#include "tests/support/hdrfiles.h"
#include "tests/support/testfiles.h"

namespace lumivane {
namespace {

TEST(ClassicSource, RadianceRowsAreRgbeToFloatOfEveryPixelForAnyBatchAndThreadCount) {
  // Wide enough to be split into pieces; more than three blocks of rows.
  const testing::RgbePixels image = testing::PatternImage(300, 3000, 11);
  const std::vector<std::uint8_t> file =
      testing::HdrFile(image, testing::RgbeRowForm::ComponentRuns);
  testing::TempDir folder;
  const std::string path = folder.File("in.hdr");
  testing::WriteBytes(path, file);
  std::vector<std::uint32_t> expected;
  for (const testing::RgbePixel& p : image.Pixels)
    for (const std::uint8_t m : {p.R, p.G, p.B})
      expected.push_back(std::bit_cast<std::uint32_t>(RgbeToFloat(m, p.E)));
  ClassicLayout layout{.FormatName = "HDR", .Radiance = true, .Width = 300, .Height = 3000};
  layout.DataStart = testing::StandardHdrHeader(300, 3000).size();
  for (const char* threads : {"1", "3"}) {
    ::setenv("LUMIVANE_THREADS", threads, 1);
    BinaryFile in = BinaryFile::OpenForReading(path);
    const auto source = OpenClassicSource(in, layout);
    ::unsetenv("LUMIVANE_THREADS");
    // Batches of 1, 7, 500 and 1000 rows: within a block, across its end, and
    // larger than one; a second pass gives the same.
    for (int pass = 0; pass < 2; ++pass) {
      SCOPED_TRACE(std::string(threads) + " threads, pass " + std::to_string(pass));
      std::vector<float> rows(std::size_t{300} * 3 * 1000);
      std::vector<std::uint32_t> got;
      std::string error;
      for (std::uint32_t done = 0, batch = 0; done < 3000; ++batch) {
        const std::uint32_t count =
            std::min(3000 - done, std::vector{1u, 7u, 500u, 1000u}[batch % 4]);
        ASSERT_TRUE(source->ReadRows(rows.data(), count, error)) << error;
        for (std::size_t i = 0; i < std::size_t{300} * 3 * count; ++i)
          got.push_back(std::bit_cast<std::uint32_t>(rows[i]));
        done += count;
      }
      EXPECT_TRUE(got == expected);
      // Past the last row: a failure, not rows handed out again.
      EXPECT_FALSE(source->ReadRows(rows.data(), 1, error));
      EXPECT_EQ(error, "more rows asked for than the image has");
      ASSERT_TRUE(source->Rewind(error));
    }
  }
}

}  // namespace
}  // namespace lumivane
