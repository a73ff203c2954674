// What an OpenEXR file must pass before the C++ library opens it: that
// library sizes its chunk tables, line buffers, tile buffers and unknown
// attributes from the headers as it opens a file, before any pixel is read.
// Used by exrrows.cpp only.
#pragma once

#include <string>

#include "formats/bytesource.h"
#include "formats/readlimits.h"

namespace lumivane {

// Why the file is refused, in words naming no file, or nothing; `part` is
// then the index of the part to read, the first that holds R, G, B or Y (-1
// for none). Checks the attributes' framing, the headers as the library's C
// core reads them, the limits, and that the chunk table of that part covers
// its data window with chunks the file holds.
std::string RefuseExrFile(ByteSource& bytes, const ReadLimits& limits, int& part);

}  // namespace lumivane
