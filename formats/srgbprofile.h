// Little CMS's sRGB profile as ICC bytes, for the outputs that carry a colour
// profile (JPEG APP2, TIFF ICCProfile).
#pragma once

#include <vector>

namespace lumivane {

// Made once and kept: every output carries the same few hundred bytes. Empty
// when Little CMS cannot make it.
const std::vector<unsigned char>& SrgbProfileBytes();

}  // namespace lumivane
