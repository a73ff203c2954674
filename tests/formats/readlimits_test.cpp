#include "formats/readlimits.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

namespace lumivane {
namespace {

TEST(ReadLimits, SizesTakeBytesOrBinarySuffixesAndNothingElse) {
  using Size = std::optional<std::uint64_t>;
  EXPECT_EQ(ParseMemoryLimit("1536"), Size(1536));
  EXPECT_EQ(ParseMemoryLimit("4k"), Size(4096));
  EXPECT_EQ(ParseMemoryLimit("3M"), Size(3 << 20));
  EXPECT_EQ(ParseMemoryLimit("2g"), Size(std::uint64_t{2} << 30));
  EXPECT_EQ(ParseMemoryLimit("17179869183G"), Size(std::uint64_t{17179869183} << 30));
  for (const char* refused : {"", "0", "0K", "K", "1.5G", "-1", " 1", "1 G", "1GB", "1T",
                              "17179869184G", "18446744073709551616"})
    EXPECT_EQ(ParseMemoryLimit(refused), std::nullopt) << refused;
  EXPECT_EQ(ParsePixelLimit("1073741824"), Size(std::uint64_t{1} << 30));
  for (const char* refused : {"", "0", "1K", "+5", "5 "})
    EXPECT_EQ(ParsePixelLimit(refused), std::nullopt) << refused;
}

}  // namespace
}  // namespace lumivane
