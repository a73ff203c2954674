// Numbers to text and text to numbers, the rules the log, the settings boxes
// and the header lines share.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lumivane {

// At most `digits` significant digits (1 to 18; 0 means 18) of the exact value;
// a sign character (space or "-"), no zero before the decimal point, exponent
// form when needed.
std::string FormatNumber(long double value, int digits);
std::string FormatNumber(double value, int digits);
std::string FormatNumber(float value, int digits);
std::string FormatNumber(std::uint64_t value, int digits);
std::string FormatNumber(std::int64_t value, int digits);
std::string FormatNumber(std::uint32_t value, int digits);
std::string FormatNumber(std::int32_t value, int digits);

long double ParseNumber(std::string_view text);

}  // namespace lumivane
