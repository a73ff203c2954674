// 8-bit RGB JPEG output through libjpeg-turbo, a row block at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "formats/imagerows.h"

namespace lumivane {

class BinaryFile;

inline constexpr int kDefaultJpegQuality = 95;

// Starts a baseline JPEG of `quality` (1 to 100) in `file` at its position and
// returns the sink for the rows; nothing, with `error` set, when libjpeg refuses.
std::unique_ptr<ByteRowSink> OpenJpegSink(BinaryFile& file, std::uint32_t width,
                                          std::uint32_t height, int quality, std::string& error);

}  // namespace lumivane
