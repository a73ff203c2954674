// The global photographic operator: one channel value to one byte.
//
// This is the reference definition; any faster schedule of it must give the
// same bytes.
#pragma once

#include <cstdint>

namespace lumivane {

// Widths of the intermediates d and o: 32-bit for Radiance input, 64-bit for
// float input.
enum class OperatorWidth { Single, Double };

// v: the value; m: the channel minimum; a: the key average; b: Brightness;
// k: PostGamma.
std::uint8_t ToneMapChannel(float v, double m, float a, float b, float k, OperatorWidth width);

// The level o before it is rounded to the byte, 0 to 255: what a 16-bit
// output takes.
double ToneMapChannelLevel(float v, double m, float a, float b, float k, OperatorWidth width);

}  // namespace lumivane
