// The OpenEXR-based reader on any bytes.
#include <OpenEXR/ImfHeader.h>

#include "formats/exrrows.h"
#include "fuzz/rowsource_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The library sizes its line buffers and chunk tables from the header
  // before any pixel is read (a tiled header with tiny tiles asks for a table
  // entry per tile): bounded here so that a forged header cannot exhaust
  // memory or time; the reader itself reads at most kRowsFuzzPixels.
  static const bool bounded = [] {
    Imf::Header::setMaxImageSize(512, 512);
    Imf::Header::setMaxTileSize(256, 256);
    return true;
  }();
  (void)bounded;
  std::string error;
  auto rows = lumivane::OpenExrRows(std::make_unique<lumivane::MemoryBytes>(std::span(data, size)),
                                    1, error);
  lumivane::fuzzing::CheckRowSource(rows.get(), error);
  return 0;
}
