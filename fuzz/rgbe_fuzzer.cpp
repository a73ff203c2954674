// The RGBE scanline decoder on any bytes. The first three bytes choose the
// image size (1 to 1024 wide, so that run rows of 256 and more occur, and 1
// to 32 high) and the rows per block (1 to 8); the rest is the pixel data.
// Every block size, and the plain steps, must give the pixels of the whole
// image decoded at once.
#include <cstring>
#include <vector>

#include "formats/rgbe.h"
#include "fuzz/fuzzharness.h"

namespace {

struct Decoded {
  bool Accepted = true;
  std::vector<std::uint8_t> Planes[4];
};

Decoded Decode(const std::uint8_t* data, std::size_t size, std::uint32_t width,
               std::uint32_t height, std::uint32_t rowsPerBlock, bool plainSteps = false) {
  lumivane::RgbeBlockDecoder decoder(data, size, width, height, rowsPerBlock);
  decoder.UsePlainSteps(plainSteps);
  Decoded result;
  while (!decoder.Finished()) {
    if (!decoder.DecodeNext()) {
      result.Accepted = false;
      return result;
    }
    const lumivane::RgbeBlockDecoder::Block block = decoder.Last();
    LUMIVANE_FUZZ_CHECK(block.Rows > 0 && block.Rows <= rowsPerBlock);
    const std::uint8_t* planes[4] = {block.R, block.G, block.B, block.E};
    for (int c = 0; c < 4; ++c) {
      result.Planes[c].insert(result.Planes[c].end(), planes[c],
                              planes[c] + std::size_t{width} * block.Rows);
    }
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint32_t width = 1 + (std::uint32_t{data[0]} | std::uint32_t{data[1]} << 8) % 1024;
  const std::uint32_t height = 1 + data[2] % 32;
  const std::uint32_t rowsPerBlock = 1 + data[2] / 32;
  const Decoded blocks = Decode(data + 3, size - 3, width, height, rowsPerBlock);
  const Decoded whole = Decode(data + 3, size - 3, width, height, height);
  const Decoded plain = Decode(data + 3, size - 3, width, height, rowsPerBlock, true);
  LUMIVANE_FUZZ_CHECK(blocks.Accepted == whole.Accepted && plain.Accepted == whole.Accepted);
  if (whole.Accepted) {
    for (int c = 0; c < 4; ++c) {
      LUMIVANE_FUZZ_CHECK(whole.Planes[c].size() == std::size_t{width} * height);
      LUMIVANE_FUZZ_CHECK(blocks.Planes[c] == whole.Planes[c]);
      LUMIVANE_FUZZ_CHECK(plain.Planes[c] == whole.Planes[c]);
    }
  }
  return 0;
}
