#include "formats/checksum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace lumivane {
namespace {

// A second read of a file is trusted when its checksum matches the first's:
// any one changed bit, in the lanes or in the tail behind them, and any
// change of length (zeros added) must show.
TEST(Checksum, EveryChangedBitAndEveryLengthShows) {
  std::vector<std::uint8_t> bytes(2 * 128 + 75);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
  const std::uint64_t original = ChecksumBytes(5, bytes.data(), bytes.size());
  EXPECT_NE(ChecksumBytes(6, bytes.data(), bytes.size()), original);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    for (int bit = 0; bit < 8; ++bit) {
      bytes[i] ^= static_cast<std::uint8_t>(1u << bit);
      ASSERT_NE(ChecksumBytes(5, bytes.data(), bytes.size()), original) << i << " " << bit;
      bytes[i] ^= static_cast<std::uint8_t>(1u << bit);
    }
  }
  std::vector<std::uint8_t> longer = bytes;
  for (int extra = 1; extra <= 140; ++extra) {
    longer.push_back(0);
    ASSERT_NE(ChecksumBytes(5, longer.data(), longer.size()), original) << extra;
  }
  EXPECT_EQ(ChecksumBytes(5, bytes.data(), bytes.size()), original);
  // Words that trade places, wherever they lie, show too.
  for (const std::size_t distance : {8u, 64u, 128u}) {
    std::vector<std::uint8_t> swapped = bytes;
    std::swap_ranges(swapped.begin(), swapped.begin() + 8, swapped.begin() + distance);
    EXPECT_NE(ChecksumBytes(5, swapped.data(), swapped.size()), original) << distance;
  }
}

}  // namespace
}  // namespace lumivane
