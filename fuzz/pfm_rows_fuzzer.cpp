// The tolerant PFM reader (comments, grey, either case) on any bytes.
#include "formats/pfmrows.h"
#include "fuzz/rowsource_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string error;
  auto rows = lumivane::OpenPfmRows(std::make_unique<lumivane::MemoryBytes>(std::span(data, size)),
                                    lumivane::fuzzing::kFuzzLimits, error);
  lumivane::fuzzing::CheckRowSource(rows.get(), error);
  return 0;
}
