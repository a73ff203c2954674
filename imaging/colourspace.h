// Linear RGB in the primaries an input states, taken to Rec. 709 / sRGB
// primaries (D65) before the statistics and the operators, which assume them.
#pragma once

#include <array>
#include <memory>
#include <optional>

#include "formats/imagerows.h"

namespace lumivane {

// Row-major: out = M * in, RGB column vectors.
using Matrix3 = std::array<float, 9>;

// Rec. 709 primaries and D65 white, as OpenEXR writes them by default.
Chromaticities Rec709Chromaticities();
// Within 0.001 in x and y of each of Rec. 709's primaries and D65.
bool IsRec709(const Chromaticities& c);

// The matrix from linear RGB in `from` to linear Rec. 709 RGB, the white
// point adapted with the Bradford transform where it differs (Little CMS's
// relative colorimetric path); nothing for chromaticities that make no RGB
// space (collinear primaries, a white at y = 0).
std::optional<Matrix3> ToRec709Matrix(const Chromaticities& from);

// Rows of `source` through `matrix`. Values below zero that the conversion
// makes (colours outside Rec. 709) stay, as any other value does, for the
// job to take as it takes them.
std::unique_ptr<ImageRowSource> ConvertRows(std::shared_ptr<ImageRowSource> source,
                                            const Matrix3& matrix);

}  // namespace lumivane
