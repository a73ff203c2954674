// The OpenEXR-based reader on any bytes.
#include <OpenEXR/ImfHeader.h>

#include "formats/exrrows.h"
#include "fuzz/rowsource_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The library sizes its line buffers and chunk tables from the header
  // before any pixel is read. The reader refuses what the file cannot hold;
  // a header that fits a small file may still ask for buffers of a few
  // hundred MB, bounded further here so that each run stays fast. The check
  // below reads at most kRowsFuzzPixels.
  static const bool bounded = [] {
    Imf::Header::setMaxImageSize(512, 512);
    Imf::Header::setMaxTileSize(256, 256);
    return true;
  }();
  (void)bounded;
  std::string error;
  auto rows = lumivane::OpenExrRows(std::make_unique<lumivane::MemoryBytes>(std::span(data, size)),
                                    1, lumivane::fuzzing::kFuzzLimits, error);
  lumivane::fuzzing::CheckRowSource(rows.get(), error);
  return 0;
}
