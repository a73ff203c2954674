#include "formats/latin1.h"

#include <gtest/gtest.h>

#include <string>

namespace lumivane {
namespace {

TEST(Latin1, EveryByteGoesToUtf8AndBackAndNothingElseDoes) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  const std::string utf8 = Latin1ToUtf8(all);
  EXPECT_EQ(utf8.size(), 128u + 2 * 128u);
  EXPECT_EQ(utf8.substr(128 + 2 * (0xE9 - 0x80), 2), "\u00e9");
  EXPECT_TRUE(IsUtf8(utf8));
  EXPECT_EQ(Utf8ToLatin1(utf8), all);
  EXPECT_EQ(Utf8ToLatin1("caf\u00e9"), "caf\xe9");
  EXPECT_EQ(Utf8ToLatin1(""), "");

  // Beyond U+00FF, or not UTF-8 at all: no Latin-1.
  EXPECT_EQ(Utf8ToLatin1("\u0100"), std::nullopt);
  EXPECT_EQ(Utf8ToLatin1("nuit-\u00e9toil\u00e9e-\u6771\u4eac"), std::nullopt);
  EXPECT_TRUE(IsUtf8("nuit-\u00e9toil\u00e9e-\u6771\u4eac \U0001F303"));
  for (const char* bad : {"caf\xe9", "\xc3", "\xc3\x28", "\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80",
                          "\xf4\x90\x80\x80", "\xf8\x88\x80\x80\x80", "\x80"}) {
    EXPECT_FALSE(IsUtf8(bad)) << bad;
    EXPECT_EQ(Utf8ToLatin1(bad), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace lumivane
