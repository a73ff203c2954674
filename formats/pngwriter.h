// 8-bit RGB PNG output through libpng, a row block at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "formats/imagerows.h"

namespace lumivane {

class BinaryFile;

// Writes the PNG signature and header to `file` (at its position) and returns
// the sink for the rows; nothing, with `error` set, when libpng refuses.
std::unique_ptr<ByteRowSink> OpenPngSink(BinaryFile& file, std::uint32_t width,
                                         std::uint32_t height, std::string& error);

}  // namespace lumivane
