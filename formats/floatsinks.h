// The two classic float outputs as row sinks: the 96-bit TIFF and the PFM,
// with the headers their header writers write and the floats least
// significant byte first.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "formats/imagerows.h"

namespace lumivane {

class BinaryFile;

// Each writes its header to `file` at its position; nothing, with `error`
// set, when the image does not fit the format or the write fails.
std::unique_ptr<FloatRowSink> OpenTiff96Sink(BinaryFile& file, std::uint32_t width,
                                             std::uint32_t height, std::string& error);
// A PFM stores its bottom row first: each block goes where its rows belong.
std::unique_ptr<FloatRowSink> OpenPfmSink(BinaryFile& file, std::uint32_t width,
                                          std::uint32_t height, std::string& error);

}  // namespace lumivane
