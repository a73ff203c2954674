#include "cli/escape.h"

#include <gtest/gtest.h>

#include <string>

namespace lumivane {
namespace {

TEST(EscapeForTerminal, KeepsPrintableTextAndWellFormedUtf8) {
  EXPECT_EQ(EscapeForTerminal("FORMAT=32-bit_rle_rgbe"), "FORMAT=32-bit_rle_rgbe");
  EXPECT_EQ(EscapeForTerminal(""), "");
  EXPECT_EQ(EscapeForTerminal(" ~!\"#$%&'()*+,-./\\"), " ~!\"#$%&'()*+,-./\\");
  // é (2 bytes), € (3 bytes), 😀 (4 bytes), U+00A0 (the first code point after C1).
  const std::string utf8 = "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xC2\xA0";
  EXPECT_EQ(EscapeForTerminal(utf8), utf8);
}

TEST(EscapeForTerminal, EscapesControlBytesAndDelete) {
  EXPECT_EQ(EscapeForTerminal(std::string("a\0b", 3)), "a\\x00b");
  EXPECT_EQ(EscapeForTerminal("\x1B]0;title\x07"), "\\x1B]0;title\\x07");
  EXPECT_EQ(EscapeForTerminal("line\r\nnext\ttab"), "line\\x0D\\x0Anext\\x09tab");
  EXPECT_EQ(EscapeForTerminal("\x1F\x7F"), "\\x1F\\x7F");
  // C1 controls, which some terminals obey even in UTF-8 (U+009B is a CSI).
  EXPECT_EQ(EscapeForTerminal("\xC2\x80 \xC2\x9B"), "\\u0080 \\u009B");
}

TEST(EscapeForTerminal, EscapesEveryByteOfMalformedUtf8) {
  // Lone continuation and lead bytes, bytes never used in UTF-8.
  EXPECT_EQ(EscapeForTerminal("\x80"), "\\x80");
  EXPECT_EQ(EscapeForTerminal("\xC3"), "\\xC3");
  EXPECT_EQ(EscapeForTerminal("\xFF\xFE"), "\\xFF\\xFE");
  // A truncated 3-byte sequence before a printable byte keeps the printable byte.
  EXPECT_EQ(EscapeForTerminal("\xE2\x82x"), "\\xE2\\x82x");
  // Overlong forms of "/" and of NUL.
  EXPECT_EQ(EscapeForTerminal("\xC0\xAF"), "\\xC0\\xAF");
  EXPECT_EQ(EscapeForTerminal("\xE0\x80\x80"), "\\xE0\\x80\\x80");
  // A surrogate (U+D800) and a code point above U+10FFFF.
  EXPECT_EQ(EscapeForTerminal("\xED\xA0\x80"), "\\xED\\xA0\\x80");
  EXPECT_EQ(EscapeForTerminal("\xF4\x90\x80\x80"), "\\xF4\\x90\\x80\\x80");
  // Nothing unprintable survives any byte value.
  for (int value = 0; value < 256; ++value) {
    const std::string escaped = EscapeForTerminal(std::string(1, static_cast<char>(value)));
    for (const char c : escaped) {
      const auto byte = static_cast<unsigned char>(c);
      EXPECT_TRUE(byte >= 0x20 && byte < 0x7F) << "byte " << value;
    }
  }
}

}  // namespace
}  // namespace lumivane
