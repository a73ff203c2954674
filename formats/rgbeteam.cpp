#include "formats/rgbeteam.h"

#include "io/parallel.h"

namespace lumivane {

bool DecodeNextRgbeBlock(RgbeBlockDecoder& decoder, RowWorkers& workers,
                         const std::function<void(const RgbeBlockDecoder::Block&)>& decoded,
                         std::size_t besideCount, const std::function<void(std::size_t)>& beside) {
  const unsigned pieces = workers.Threads() == 1 ? 1 : 2 * workers.Threads();
  const std::size_t decoding = decoder.PrepareNext(pieces);
  // Task 0 of the decoding first: the scan of the block after is the longest
  // chain; then the caller's tasks, then the pieces of rows.
  workers.RunTasks(decoding + besideCount, [&](std::size_t task) {
    if (decoding > 0 && task == 0) return decoder.RunTask(0);
    if (decoding > 0) --task;
    if (task < besideCount) return beside(task);
    const std::size_t piece = task - besideCount + 1;
    decoder.RunTask(piece);
    RgbeBlockDecoder::Block rows;
    if (decoded && decoder.TaskRows(piece, rows)) decoded(rows);
  });
  return decoder.FinishNext();
}

void RgbeBlockToFloats(const RgbeBlockDecoder::Block& block, std::size_t first, std::size_t pixels,
                       float* out) {
  const float* table = RgbeFloatTable().data();
  for (std::size_t i = 0; i < pixels; ++i) {
    const std::size_t p = first + i;
    const std::uint8_t e = block.E[p];
    out[3 * i] = table[RgbeKey(block.R[p], e)];
    out[3 * i + 1] = table[RgbeKey(block.G[p], e)];
    out[3 * i + 2] = table[RgbeKey(block.B[p], e)];
  }
}

}  // namespace lumivane
