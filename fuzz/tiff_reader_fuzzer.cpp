// The float TIFF header codec on any bytes, read from memory: the step around
// it only logs and closes, and the job target runs it on files.
#include <algorithm>
#include <span>

#include "formats/bytesource.h"
#include "formats/tiffheader.h"
#include "fuzz/fuzzharness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  lumivane::MemoryBytes source(std::span(data, size));
  const std::span head(data, std::min(size, lumivane::kTiffHeadBytes));
  const lumivane::TiffHeader header = lumivane::ParseTiffHeader(head, source, "fuzz.tif");
  if (!header.Failure.empty()) {
    LUMIVANE_FUZZ_CHECK(!header.FailureTitle.empty());
    return 0;
  }
  // Every pixel row the jobs will read lies inside the file.
  LUMIVANE_FUZZ_CHECK(header.Width && header.Height);
  LUMIVANE_FUZZ_CHECK(header.DataStart + std::uint64_t{*header.Width} * *header.Height * 12 <=
                      size);
  LUMIVANE_FUZZ_CHECK(header.LogLines.back() == "DONE reading and interpreting IFD.");
  return 0;
}
