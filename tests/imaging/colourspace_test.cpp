// Primaries to Rec. 709: the matrices Little CMS gives against published ones.
#include "imaging/colourspace.h"

#include <gtest/gtest.h>

#include <vector>

namespace lumivane {
namespace {

class OneRow final : public PositionedRowSource {
 public:
  explicit OneRow(std::vector<float> values) : values_(std::move(values)) {
    description_.Width = static_cast<std::uint32_t>(values_.size() / 3);
    description_.Height = 1;
  }
  const ImageDescription& Description() const override { return description_; }
  bool ReadRows(float* destination, std::uint32_t, std::string&) override {
    std::copy(values_.begin(), values_.end(), destination);
    return true;
  }

 private:
  ImageDescription description_;
  std::vector<float> values_;
};

TEST(Colourspace, MatricesMatchThePublishedOnesAndConvertRows) {
  const Chromaticities rec709 = Rec709Chromaticities();
  EXPECT_TRUE(IsRec709(rec709));
  const std::optional<Matrix3> identity = ToRec709Matrix(rec709);
  ASSERT_TRUE(identity);
  for (int k = 0; k < 9; ++k) EXPECT_NEAR((*identity)[k], k % 4 == 0 ? 1.0 : 0.0, 1e-4) << k;

  // ACES AP0 (white near D60) to Rec. 709 with Bradford adaptation, as the
  // ACES documentation and OpenColorIO publish it.
  const Chromaticities ap0{
      {0.7347f, 0.2653f}, {0.0f, 1.0f}, {0.0001f, -0.0770f}, {0.32168f, 0.33767f}};
  EXPECT_FALSE(IsRec709(ap0));
  const Matrix3 published = {2.52169f,  -1.13413f, -0.38756f, -0.27648f, 1.37272f,
                             -0.09624f, -0.01538f, -0.15298f, 1.16835f};
  const std::optional<Matrix3> matrix = ToRec709Matrix(ap0);
  ASSERT_TRUE(matrix);
  for (int k = 0; k < 9; ++k) EXPECT_NEAR((*matrix)[k], published[k], 2e-3) << k;

  // The AP0 white is white in Rec. 709; a row goes through the matrix.
  const auto rows =
      ConvertRows(std::make_shared<OneRow>(std::vector<float>{1, 1, 1, 0.5f, 0, 2}), *matrix);
  float out[6];
  std::string error;
  ASSERT_TRUE(rows->ReadRows(out, 1, error));
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(out[c], 1.0f, 2e-3f);
  for (int c = 0; c < 3; ++c)
    EXPECT_NEAR(out[3 + c], published[3 * c] * 0.5f + published[3 * c + 2] * 2.0f, 5e-3f);

  // Primaries on one line make no space.
  const Chromaticities flat{{0.2f, 0.2f}, {0.4f, 0.4f}, {0.6f, 0.6f}, {0.3127f, 0.329f}};
  EXPECT_FALSE(ToRec709Matrix(flat));
}

}  // namespace
}  // namespace lumivane
