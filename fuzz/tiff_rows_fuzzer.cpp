// The libtiff-based reader on any bytes.
#include "formats/tiffrows.h"
#include "fuzz/rowsource_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string error;
  // Two threads: the second decodes through a libtiff handle of its own.
  auto rows = lumivane::OpenTiffRows(std::make_unique<lumivane::MemoryBytes>(std::span(data, size)),
                                     2, lumivane::fuzzing::kFuzzLimits, error);
  lumivane::fuzzing::CheckRowSource(rows.get(), error);
  return 0;
}
