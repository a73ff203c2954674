// The RGBE scanline decoder on any bytes. The first three bytes choose the
// image size (1 to 1024 wide, so that run rows of 256 and more occur, and 1
// to 32 high) and the rows per block (1 to 8); the high bits of the second
// choose 2 to 4 pieces per block. The rest is the pixel data. Every block
// size, the plain steps, and blocks decoded in pieces (their tasks run in
// order or backwards) must give the pixels, the row counts and the refusal of
// the whole image decoded at once in one piece.
#include <algorithm>
#include <cstring>
#include <vector>

#include "formats/rgbe.h"
#include "formats/rgbescan.h"
#include "fuzz/fuzzharness.h"

namespace {

using Block = lumivane::RgbeBlockDecoder::Block;

struct Decoded {
  bool Accepted = true;
  std::vector<std::uint8_t> Planes[4];
  std::uint32_t Counts[3] = {0, 0, 0};
};

struct Way {
  bool PlainSteps = false;
  unsigned Pieces = 1;
  // The tasks run last to first, each piece's rows copied as soon as its
  // task is done, as the readers convert them.
  bool Backwards = false;
};

std::vector<std::uint8_t> Copy(const Block& rows, std::uint32_t width) {
  std::vector<std::uint8_t> bytes;
  const std::size_t size = std::size_t{width} * rows.Rows;
  for (const std::uint8_t* plane : {rows.R, rows.G, rows.B, rows.E})
    bytes.insert(bytes.end(), plane, plane + size);
  return bytes;
}

bool DecodeBackwards(lumivane::RgbeBlockDecoder& decoder, unsigned pieces, std::uint32_t width) {
  const std::size_t tasks = decoder.PrepareNext(pieces);
  std::vector<std::pair<Block, std::vector<std::uint8_t>>> reported;
  for (std::size_t task = tasks; task-- > 0;) {
    decoder.RunTask(task);
    Block rows;
    if (decoder.TaskRows(task, rows)) reported.emplace_back(rows, Copy(rows, width));
  }
  if (!decoder.FinishNext()) return false;
  // The pieces' rows cover the block in order, and held their final bytes
  // when their tasks ended.
  std::sort(reported.begin(), reported.end(),
            [](const auto& a, const auto& b) { return a.first.FirstRow < b.first.FirstRow; });
  const Block block = decoder.Last();
  std::uint32_t next = block.FirstRow;
  for (const auto& [rows, bytes] : reported) {
    LUMIVANE_FUZZ_CHECK(rows.FirstRow == next);
    next += rows.Rows;
    const std::size_t at = std::size_t{width} * (rows.FirstRow - block.FirstRow);
    const Block final{block.R + at, block.G + at,  block.B + at,
                      block.E + at, rows.FirstRow, rows.Rows};
    LUMIVANE_FUZZ_CHECK(bytes == Copy(final, width));
  }
  LUMIVANE_FUZZ_CHECK(next == block.FirstRow + block.Rows);
  return true;
}

Decoded Decode(const std::uint8_t* data, std::size_t size, std::uint32_t width,
               std::uint32_t height, std::uint32_t rowsPerBlock, const Way& way = {}) {
  lumivane::RgbeBlockDecoder decoder(data, size, width, height, rowsPerBlock);
  decoder.UsePlainSteps(way.PlainSteps);
  Decoded result;
  while (!decoder.Finished()) {
    const bool decoded = way.Backwards ? DecodeBackwards(decoder, way.Pieces, width)
                                       : decoder.DecodeNext(way.Pieces);
    std::copy(decoder.RowCounts(), decoder.RowCounts() + 3, result.Counts);
    if (!decoded) {
      result.Accepted = false;
      return result;
    }
    const Block block = decoder.Last();
    LUMIVANE_FUZZ_CHECK(block.Rows > 0 && block.Rows <= rowsPerBlock);
    const std::uint8_t* planes[4] = {block.R, block.G, block.B, block.E};
    for (int c = 0; c < 4; ++c) {
      result.Planes[c].insert(result.Planes[c].end(), planes[c],
                              planes[c] + std::size_t{width} * block.Rows);
    }
  }
  return result;
}

bool Same(const Decoded& a, const Decoded& b) {
  if (a.Accepted != b.Accepted) return false;
  if (!std::equal(a.Counts, a.Counts + 3, b.Counts)) return false;
  for (int c = 0; c < 4; ++c)
    if (a.Planes[c] != b.Planes[c]) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint32_t width = 1 + (std::uint32_t{data[0]} | std::uint32_t{data[1]} << 8) % 1024;
  const std::uint32_t height = 1 + data[2] % 32;
  const std::uint32_t rowsPerBlock = 1 + data[2] / 32;
  const unsigned pieces = 2 + (data[1] >> 2) % 3;
  const Decoded blocks = Decode(data + 3, size - 3, width, height, rowsPerBlock);
  const Decoded whole = Decode(data + 3, size - 3, width, height, height);
  const Decoded plain = Decode(data + 3, size - 3, width, height, rowsPerBlock, {true});
  LUMIVANE_FUZZ_CHECK(blocks.Accepted == whole.Accepted && plain.Accepted == whole.Accepted);
  if (whole.Accepted) {
    for (int c = 0; c < 4; ++c) {
      LUMIVANE_FUZZ_CHECK(whole.Planes[c].size() == std::size_t{width} * height);
      LUMIVANE_FUZZ_CHECK(blocks.Planes[c] == whole.Planes[c]);
      LUMIVANE_FUZZ_CHECK(plain.Planes[c] == whole.Planes[c]);
    }
  }
  // Rows taken ahead, as the bands take them: the whole image's first rows,
  // all of them unless a row stopped it; a row start found by the search
  // begins with a run head.
  std::vector<std::uint8_t> ahead(4 * std::size_t{width} * (height + 128));
  std::uint8_t* const planes[4] = {ahead.data(), ahead.data() + ahead.size() / 4,
                                   ahead.data() + ahead.size() / 2,
                                   ahead.data() + 3 * ahead.size() / 4};
  std::vector<std::uint64_t> ends(height), sums(height);
  std::vector<lumivane::RgbeRowKind> kinds(height);
  const lumivane::RgbeRowsAhead taken = lumivane::DecodeRgbeRowsAhead(
      data + 3, size - 3, width, height, planes, ends.data(), kinds.data(), sums.data());
  LUMIVANE_FUZZ_CHECK(taken.Rows <= height && taken.Bytes <= size - 3);
  if (whole.Accepted) {
    if (taken.Stop == lumivane::RgbeRowScan::Whole && !taken.OldRuns) {
      LUMIVANE_FUZZ_CHECK(taken.Rows == height);
    }
    const std::size_t pixels = std::size_t{width} * taken.Rows;
    for (int c = 0; c < 4; ++c) {
      LUMIVANE_FUZZ_CHECK(std::equal(planes[c], planes[c] + pixels, whole.Planes[c].begin()));
    }
  }
  const std::size_t found = lumivane::FindRgbeRunRow(data + 3, size - 3, data[0] % 64, width, 2);
  LUMIVANE_FUZZ_CHECK(found == size - 3 ||
                      (found + 4 <= size - 3 && data[3 + found] == 2 && data[4 + found] == 2));
  // In pieces: exactly what one piece gives at the same block size.
  for (const std::uint32_t rows : {rowsPerBlock, height}) {
    const Decoded& one = rows == height ? whole : blocks;
    LUMIVANE_FUZZ_CHECK(
        Same(Decode(data + 3, size - 3, width, height, rows, {false, pieces}), one));
    LUMIVANE_FUZZ_CHECK(
        Same(Decode(data + 3, size - 3, width, height, rows, {false, pieces, true}), one));
  }
  return 0;
}
