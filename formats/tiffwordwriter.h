// 16-bit RGB TIFF output through libtiff, a row block at a time, tagged with
// an sRGB profile and how it was made. The 24-bit tone-mapped TIFF is the
// classic header writer's, not this.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "formats/imagerows.h"

namespace lumivane {

class BinaryFile;

struct TiffTexts {
  std::string Software;     // the Software tag; left out when empty
  std::string Description;  // the ImageDescription tag; left out when empty
};

// Starts the TIFF in `file` at its position and returns the sink for the
// rows; nothing, with `error` set, when libtiff refuses. libtiff writes the
// directory behind the rows and then goes back to the header for its offset,
// so the file must be one that can seek (not a pipe).
std::unique_ptr<WordRowSink> OpenTiff48Sink(BinaryFile& file, std::uint32_t width,
                                            std::uint32_t height, const TiffTexts& texts,
                                            std::string& error);

}  // namespace lumivane
