#include "io/pages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace lumivane {
namespace {

TEST(Pages, AssignZeroedGivesZerosWhateverThePlaneHeldAndPopulatingKeepsContents) {
  // Several pages and a ragged end, so that whole and partial pages are both met.
  constexpr std::size_t kSize = (std::size_t{5} << 20) + 3;
  std::vector<std::uint8_t> plane(kSize / 2, 0xAB);
  AssignZeroed(plane, kSize);
  ASSERT_EQ(plane.size(), kSize);
  EXPECT_TRUE(std::all_of(plane.begin(), plane.end(), [](std::uint8_t b) { return b == 0; }));

  std::fill(plane.begin(), plane.end(), 0x5C);
  AssignZeroed(plane, 7);
  EXPECT_EQ(plane, std::vector<std::uint8_t>(7, 0));

  // Already written pages: populating must not zero them.
  std::vector<std::uint8_t> filled(kSize);
  for (std::size_t i = 0; i < kSize; ++i) filled[i] = static_cast<std::uint8_t>(i * 31);
  const std::vector<std::uint8_t> copy = filled;
  PopulatePages(filled.data() + 1, kSize - 1);
  PopulatePages(filled.data(), 0);
  EXPECT_EQ(filled, copy);
}

}  // namespace
}  // namespace lumivane
