// TIFF outputs through libtiff, a row block at a time: the 16-bit one and the
// 8-bit one with alpha, tagged with an sRGB profile and how they were made,
// and the 32-bit float one with alpha. The 24-bit tone-mapped TIFF and the
// 96-bit float TIFF are the classic header writers', not these.
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
// With `alpha` the rows carry a fourth sample a pixel, straight alpha.
std::unique_ptr<WordRowSink> OpenTiff48Sink(BinaryFile& file, std::uint32_t width,
                                            std::uint32_t height, const TiffTexts& texts,
                                            bool alpha, std::string& error);
// The same in 8-bit levels.
std::unique_ptr<ByteRowSink> OpenTiffLevelSink(BinaryFile& file, std::uint32_t width,
                                               std::uint32_t height, const TiffTexts& texts,
                                               bool alpha, std::string& error);

// R, G, B and alpha as 32-bit floats, the alpha tagged associated
// (premultiplied) or not as `kept` says, with the primaries, owner, comments
// and capture date it states; the rows come through WriteRowsAndAlpha.
std::unique_ptr<FloatRowSink> OpenTiffFloatAlphaSink(BinaryFile& file, std::uint32_t width,
                                                     std::uint32_t height,
                                                     const ImageMetadata& kept, std::string& error);

}  // namespace lumivane
