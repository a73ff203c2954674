// 8-bit RGB JPEG output through libjpeg-turbo, a row block at a time, with an
// sRGB ICC profile and how it was made.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "formats/imagerows.h"

namespace lumivane {

class BinaryFile;

inline constexpr int kDefaultJpegQuality = 95;

struct JpegTexts {
  std::string Software;     // a COM segment; left out when empty
  std::string Description;  // a second COM segment; left out when empty
};

// Starts a baseline JPEG of `quality` (1 to 100) in `file` at its position,
// tagged with an sRGB profile (APP2 ICC_PROFILE, from Little CMS), and
// returns the sink for the rows; nothing, with `error` set, when libjpeg or
// Little CMS refuses.
std::unique_ptr<ByteRowSink> OpenJpegSink(BinaryFile& file, std::uint32_t width,
                                          std::uint32_t height, int quality, const JpegTexts& texts,
                                          std::string& error);

}  // namespace lumivane
