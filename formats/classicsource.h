// The three classic inputs (Radiance, 96-bit float TIFF, PFM) as sources of
// float rows, so that any of them converts to any output. The header has been
// read by the format's reader, which knows where the pixels start.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "formats/imagerows.h"

namespace lumivane {

class BinaryFile;

struct ClassicLayout {
  // "HDR", "TIFF" or "PFM".
  std::string FormatName;
  bool Radiance = false;
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  // The first pixel byte; a Radiance file's encoded rows run to its end.
  std::uint64_t DataStart = 0;
  // Float files: least significant byte first, and the bottom row stored first.
  bool IntelOrder = true;
  bool BottomUp = false;
};

// Rows from `file`, which must outlive the source. Radiance rows decode as
// the Radiance jobs decode them (RgbeToFloat of each byte); float rows give
// the stored floats' bits unchanged.
std::unique_ptr<ImageRowSource> OpenClassicSource(BinaryFile& file, const ClassicLayout& layout);

}  // namespace lumivane
