// Every RGB, RGBA or grey TIFF that libtiff decodes, as float rows: any
// compression, strips or tiles, contiguous or planar samples; 32-bit and 16-bit
// (half) floats as they are, 16- and 8-bit unsigned integers scaled to 0..1.
// Grey is given to R, G and B; a contiguous pixel's alpha sample is read
// beside the rows for the outputs that keep it, other extra samples are not.
#pragma once

#include <memory>
#include <string>

#include "formats/bytesource.h"
#include "formats/imagerows.h"
#include "formats/readlimits.h"

namespace lumivane {

// Strips and tiles are decoded by `threads` side by side (1: all on the
// calling thread); the rows are the same for any number. Nothing, with `error`
// set to the reason in words, when the file is no TIFF libtiff reads, holds
// samples this reader does not take, claims more than `limits` allow, or lacks
// the data of a strip or tile.
std::unique_ptr<ImageRowSource> OpenTiffRows(std::unique_ptr<ByteSource> bytes, unsigned threads,
                                             const ReadLimits& limits, std::string& error);

}  // namespace lumivane
