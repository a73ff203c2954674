#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>

#include "steps/statuslog.h"

namespace lumivane {
namespace {

TEST(FormatNumber, DocumentedExamples) {
  EXPECT_EQ(FormatNumber(0.8f, 7), " .8");
  EXPECT_EQ(FormatNumber(3.0, 7), " 3");
  EXPECT_EQ(FormatNumber(-1.5, 7), "-1.5");
  EXPECT_EQ(FormatNumber(0.05, 7), " .05");
  EXPECT_EQ(FormatNumber(12345678.0, 7), " 1.234568E+7");
  EXPECT_EQ(FormatNumber(0.000000012, 7), " 1.2E-8");
  EXPECT_EQ(FormatNumber(0.8f, 15), " .800000011920929");
  EXPECT_EQ(FormatNumber(0.0, 15), " 0");
  EXPECT_EQ(FormatNumber(-0.25, 7), "-.25");
  EXPECT_EQ(FormatNumber(1000000.0, 7), " 1000000");
  EXPECT_EQ(FormatNumber(10000000.0, 7), " 1E+7");
}

TEST(FormatNumber, SettingsWriteBack) {
  EXPECT_EQ(FormatNumber(0.01f, 7), " .01");
  EXPECT_EQ(FormatNumber(2.0f, 7), " 2");
  EXPECT_EQ(FormatNumber(50.0f, 7), " 50");
  EXPECT_EQ(FormatNumber(1.2f, 7), " 1.2");
  EXPECT_EQ(FormatNumber(1.0f / 1.2f, 7), " .8333333");
}

TEST(FormatNumber, ZeroHasNoSign) {
  EXPECT_EQ(FormatNumber(0.0f, 7), " 0");
  EXPECT_EQ(FormatNumber(-0.0, 7), " 0");
  EXPECT_EQ(FormatNumber(0.0L, 18), " 0");
  EXPECT_EQ(FormatNumber(std::int32_t{0}, 15), " 0");
  EXPECT_EQ(FormatNumber(std::uint64_t{0}, 1), " 0");
}

TEST(FormatNumber, FirstDroppedDigitFiveGoesToEven) {
  // Binary fractions, so these are the exact values.
  EXPECT_EQ(FormatNumber(2.5, 1), " 2");
  EXPECT_EQ(FormatNumber(3.5, 1), " 4");
  EXPECT_EQ(FormatNumber(0.125, 2), " .12");
  EXPECT_EQ(FormatNumber(0.375, 2), " .38");
  EXPECT_EQ(FormatNumber(1234567.5, 7), " 1234568");
  EXPECT_EQ(FormatNumber(1234568.5, 7), " 1234568");
  EXPECT_EQ(FormatNumber(-0.625, 2), "-.62");
  // A five followed by nonzero digits still goes to even: later digits are not looked at.
  EXPECT_EQ(FormatNumber(1.25 + std::ldexp(1.0, -20), 2), " 1.2");
  EXPECT_EQ(FormatNumber(1.75 + std::ldexp(1.0, -20), 2), " 1.8");
  // 1.2345001 is 1.23450009999... and 1.23445001 is 1.23445000999... as doubles.
  EXPECT_EQ(FormatNumber(1.2345001, 4), " 1.234");
  EXPECT_EQ(FormatNumber(1.2345001, 5), " 1.2345");
  EXPECT_EQ(FormatNumber(1.23445001, 5), " 1.2344");
}

TEST(FormatNumber, RoundsOnTheExactValueNotOnAShortRendering) {
  // 999999.95 is 999999.94999999995... as a double: the first dropped digit is 4.
  EXPECT_EQ(FormatNumber(999999.95, 7), " 999999.9");
  // 0.1 as a double is .1000000000000000055511...: at 18 digits the dropped 5 meets an odd 5.
  EXPECT_EQ(FormatNumber(0.1, 18), " .100000000000000006");
  EXPECT_EQ(FormatNumber(0.1f, 9), " .100000001");
  EXPECT_EQ(FormatNumber(0.1L, 18), " .1");
  EXPECT_EQ(FormatNumber(3.14159265358979f, 15), " 3.14159274101257");
  EXPECT_EQ(FormatNumber(3.141592653589793, 15), " 3.14159265358979");
  EXPECT_EQ(FormatNumber(3.141592653589793, 18), " 3.14159265358979312");
  EXPECT_EQ(FormatNumber(1.0L / 3.0L, 18), " .333333333333333333");
}

TEST(FormatNumber, CarriesThroughNines) {
  EXPECT_EQ(FormatNumber(9.9999999, 7), " 10");
  EXPECT_EQ(FormatNumber(-9.9999999, 7), "-10");
  EXPECT_EQ(FormatNumber(99999995.0, 7), " 1E+8");
  EXPECT_EQ(FormatNumber(9999999.5, 7), " 1E+7");
  EXPECT_EQ(FormatNumber(0.99999999, 7), " 1");
  EXPECT_EQ(FormatNumber(9.6, 1), " 1E+1");
  // 1E-7 as a double is 9.99999999999999954...E-8; the carry brings it back to seven places.
  EXPECT_EQ(FormatNumber(1e-7, 7), " .0000001");
}

TEST(FormatNumber, ExponentFormBoundaries) {
  EXPECT_EQ(FormatNumber(1234567.0, 7), " 1234567");
  EXPECT_EQ(FormatNumber(12345670.0, 7), " 1.234567E+7");
  EXPECT_EQ(FormatNumber(120.0, 2), " 1.2E+2");
  EXPECT_EQ(FormatNumber(12.0, 2), " 12");
  EXPECT_EQ(FormatNumber(0.0000012, 7), " .0000012");
  EXPECT_EQ(FormatNumber(0.00000012, 7), " 1.2E-7");
  EXPECT_EQ(FormatNumber(0.000123456, 7), " 1.23456E-4");
  EXPECT_EQ(FormatNumber(-0.0001234567, 7), "-1.234567E-4");
  EXPECT_EQ(FormatNumber(0.5, 1), " .5");
  EXPECT_EQ(FormatNumber(0.05, 1), " 5E-2");
  EXPECT_EQ(FormatNumber(15.0, 1), " 2E+1");
  EXPECT_EQ(FormatNumber(25.0, 1), " 2E+1");
  EXPECT_EQ(FormatNumber(7.0, 1), " 7");
  EXPECT_EQ(FormatNumber(-12345678.0, 7), "-1.234568E+7");
  EXPECT_EQ(FormatNumber(-0.000000012, 7), "-1.2E-8");
}

TEST(FormatNumber, WholeNumbersAndElapsedCounts) {
  EXPECT_EQ(FormatNumber(std::int32_t{3}, 15), " 3");
  EXPECT_EQ(FormatNumber(std::int32_t{-86399}, 15), "-86399");
  EXPECT_EQ(FormatNumber(std::uint32_t{4294967295u}, 15), " 4294967295");
  EXPECT_EQ(FormatNumber(std::uint32_t{4294967295u}, 7), " 4.294967E+9");
  EXPECT_EQ(FormatNumber(std::numeric_limits<std::uint64_t>::max(), 15), " 1.84467440737096E+19");
  EXPECT_EQ(FormatNumber(std::numeric_limits<std::uint64_t>::max(), 18),
            " 1.84467440737095516E+19");
  EXPECT_EQ(FormatNumber(std::numeric_limits<std::int64_t>::min(), 15), "-9.22337203685478E+18");
  EXPECT_EQ(FormatNumber(std::int64_t{123456789012345678}, 18), " 123456789012345678");
  EXPECT_EQ(FormatNumber(std::int64_t{1234567890123456789}, 18), " 1.23456789012345679E+18");
  EXPECT_EQ(FormatNumber(std::uint64_t{1350000308}, 15), " 1350000308");
}

TEST(FormatNumber, ZeroDigitsMeansEighteen) {
  EXPECT_EQ(FormatNumber(0.1, 0), FormatNumber(0.1, 18));
  EXPECT_EQ(FormatNumber(std::int64_t{1234567890123456789}, 0), " 1.23456789012345679E+18");
}

TEST(FormatNumber, ExtremeMagnitudes) {
  EXPECT_EQ(FormatNumber(std::ldexp(1.0f, -137), 15), " 5.73971850987445E-42");
  EXPECT_EQ(FormatNumber(std::numeric_limits<float>::denorm_min(), 7), " 1.401298E-45");
  EXPECT_EQ(FormatNumber(FLT_MAX, 7), " 3.402823E+38");
  EXPECT_EQ(FormatNumber(std::numeric_limits<long double>::max(), 15), " 1.18973149535723E+4932");
  EXPECT_EQ(FormatNumber(std::numeric_limits<long double>::denorm_min(), 7), " 3.6452E-4951");
  EXPECT_EQ(FormatNumber(-std::numeric_limits<long double>::denorm_min(), 1), "-4E-4951");
}

}  // namespace
}  // namespace lumivane
