// Every operator of the table on the photographs with its defaults, through
// the library reader as the job reads them: a picture, not a flat field,
// and the same bytes on any number of threads.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "imaging/luminance.h"
#include "imaging/operatortable.h"
#include "tests/support/operatorrun.h"

namespace lumivane {
namespace {

TEST(OperatorPictures, NoOperatorGivesADegeneratePicture) {
  for (const std::string& photo : testing::Photographs()) {
    for (const OperatorRow& row : OperatorTable()) {
      SCOPED_TRACE(photo + " " + row.Name);
      std::string error;
      const auto picture = testing::RunOperator(row.Name, {}, photo, 1, error);
      ASSERT_TRUE(picture) << error;
      const std::vector<std::uint8_t>& rgb = picture->Rgb;
      double sum = 0.0, squares = 0.0;
      std::size_t clipped = 0;
      const std::size_t pixels = rgb.size() / 3;
      for (std::size_t i = 0; i < pixels; ++i) {
        const double y = LuminanceOf(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
        sum += y;
        squares += y * y;
        clipped += std::lround(y) == 0 || std::lround(y) == 255;
      }
      const double mean = sum / static_cast<double>(pixels);
      const double deviation = std::sqrt(squares / static_cast<double>(pixels) - mean * mean);
      EXPECT_GE(deviation, 10.0);
      EXPECT_LE(static_cast<double>(clipped), 0.9 * static_cast<double>(pixels));
    }
  }
}

TEST(OperatorPictures, SameBytesOnAnyNumberOfThreads) {
  const std::string photo = testing::Photographs().front();
  for (const OperatorRow& row : OperatorTable()) {
    SCOPED_TRACE(row.Name);
    std::string error;
    const auto one = testing::RunOperator(row.Name, {}, photo, 1, error);
    const auto three = testing::RunOperator(row.Name, {}, photo, 3, error);
    ASSERT_TRUE(one && three) << error;
    EXPECT_EQ(one->Rgb, three->Rgb);
  }
}

}  // namespace
}  // namespace lumivane
