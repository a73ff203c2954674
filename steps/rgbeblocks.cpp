#include "imaging/rgbeblocks.h"

#include "imaging/parallel.h"
#include "shell/statuslog.h"

namespace lumivane {

bool ForEachDecodedBlock(Session& session, RgbeBlockDecoder& decoder, RowWorkers& workers,
                         bool rowIndexes, const RgbeBlockWork& work) {
  const auto progress = [&](const RgbeBlockDecoder::Block& block) {
    for (std::uint32_t y = block.FirstRow; y < block.FirstRow + block.Rows; ++y) {
      SetProgressPosition(session, rowIndexes ? y : y + 1);
    }
  };
  const unsigned parts = work.Parts == 0 ? 1 : work.Parts;
  const auto decodeNext = [&] {
    const bool done = decoder.DecodeNext();
    if (done && work.Decoded) work.Decoded(decoder.Last());
    return done;
  };
  bool decoded = decodeNext();
  if (rowIndexes) progress(decoder.Last());
  while (decoded) {
    const RgbeBlockDecoder::Block block = decoder.Last();
    const bool more = !decoder.Finished();
    if (work.Before) work.Before(block);
    // Part 0, the calling thread's, decodes the next block into the other slot.
    workers.Run(1 + parts, [&](std::size_t begin, std::size_t end) {
      for (std::size_t part = begin; part < end; ++part) {
        if (part == 0) {
          if (more) decoded = decodeNext();
          continue;
        }
        const auto first = static_cast<std::uint32_t>((part - 1) * block.Rows / parts);
        const auto last = static_cast<std::uint32_t>(part * block.Rows / parts);
        if (first < last) work.Use(block, first, last);
      }
    });
    if (work.After) work.After(block);
    if (!rowIndexes) progress(block);
    if (!more) break;
    if (rowIndexes) progress(decoder.Last());
  }
  return decoded;
}

}  // namespace lumivane
