// OpenEXR images as float rows, through the OpenEXR library: scanline or tiled
// parts, every compression the library decodes, half, float or uint channels.
// R, G and B are read, A beside them for the outputs that keep it, other
// channels not; an image of Y alone, or Y with chroma, is read as grey. The
// first part that holds colour is read, within its data window, a block of
// rows at a time.
#pragma once

#include <memory>
#include <string>

#include "formats/bytesource.h"
#include "formats/imagerows.h"
#include "formats/readlimits.h"

namespace lumivane {

// The four bytes every OpenEXR file starts with.
inline constexpr unsigned char kExrMagic[4] = {0x76, 0x2f, 0x31, 0x01};

// `threads` decode side by side (1: all on the calling thread). Nothing, with
// `error` set to the reason in words, when the file cannot be read as OpenEXR,
// has no colour part, claims more than `limits` allow, or its chunk table does
// not cover its data window.
std::unique_ptr<ImageRowSource> OpenExrRows(std::unique_ptr<ByteSource> bytes, unsigned threads,
                                            const ReadLimits& limits, std::string& error);

}  // namespace lumivane
