// Radiance to the classic float files: each block of rows is converted and
// written while the next is decoded, so neither the image nor the encoded
// file is ever whole in memory. Into a regular file each part writes its own
// rows at their place; other outputs get whole blocks in order from a
// writing thread.
#include <cstdint>

#include "formats/floatimage.h"
#include "formats/rgbe.h"
#include "imaging/blockwriter.h"
#include "imaging/fastpaths.h"
#include "io/parallel.h"
#include "steps/convertschedule.h"
#include "steps/floatrows.h"
#include "steps/rgbeblocks.h"
#include "steps/session.h"

namespace lumivane {

namespace {

using Block = RgbeBlockDecoder::Block;

// The output's row order is consumed by the job it was set for.
bool TakeOutputRowsBottomUp(JobContext& context) {
  const bool bottomUp = context.OutputRowsBottomUp;
  context.OutputRowsBottomUp = false;
  return bottomUp;
}

class RgbeConvertSchedule final : public ConvertSchedule {
 public:
  bool Start(Session& session, FloatRowSink*) override {
    JobContext& context = session.Context;
    bottomUp_ = TakeOutputRowsBottomUp(context);
    if (!FloatImageBytes(context.ImageWidth, context.ImageHeight))
      return AbortFloatJob(session, "Cannot convert " + context.InputFileName +
                                        ": width or height 0, or more than 4 GiB of pixels");
    return StartRgbeDecoding(session, offset_, bytes_);
  }
  ConvertOutcome Run(Session& session, ConvertedImage& image) override;

 private:
  bool bottomUp_ = false;
  std::uint64_t offset_ = 0, bytes_ = 0;
};

ConvertOutcome RgbeConvertSchedule::Run(Session& session, ConvertedImage& image) {
  JobContext& context = session.Context;
  const std::uint32_t width = context.ImageWidth, height = context.ImageHeight;
  RgbeStream stream(context.InputFile, offset_, bytes_);
  const std::uint32_t rowsPerBlock = RowsPerWave(width, kRgbePixelsPerBlock);
  RgbeBlockDecoder decoder(stream, width, height, rowsPerBlock);
  RowWorkers workers;
  const std::size_t rowBytes = std::size_t{width} * 12;
  const std::uint64_t dataStart = context.OutputFile.Position();
  const bool direct = context.OutputFile.IsRegularFile();
  PlacedWriter placed(context.OutputFile, direct ? rowBytes * rowsPerBlock : 0);
  BlockWriter writer(context.OutputFile, workers.Threads() > 1 && !direct);
  // After a failed write the rows are still decoded: a refused row further on
  // is the failure to report, as it would be had the whole image been decoded
  // before anything was written.
  bool writing = true;
  std::uint8_t* out = nullptr;
  RgbeBlockWork conversion;
  const bool bottomUp = bottomUp_;
  // A PFM gets its bottom row first: a block goes where its rows end up,
  // its last row first.
  const auto firstOut = [&](const Block& block) {
    return bottomUp ? height - block.FirstRow - block.Rows : block.FirstRow;
  };
  conversion.Before = [&](const Block& block) {
    if (direct) return;
    out = writing ? writer.NextAt(rowBytes * block.Rows, dataStart + rowBytes * firstOut(block))
                  : nullptr;
  };
  conversion.Parts = workers.Threads();
  conversion.Use = [&](const Block& block, std::uint32_t begin, std::uint32_t end) {
    std::uint8_t* const rows = direct ? (placed.Failed() ? nullptr : placed.At(0)) : out;
    if (!rows) return;
    for (std::uint32_t i = begin; i < end; ++i) {
      const std::size_t from = std::size_t{width} * i;
      const std::size_t to = bottomUp ? block.Rows - 1 - i : i;
      RgbePixelsToFloats(&block.R[from], &block.G[from], &block.B[from], &block.E[from], width,
                         rows + rowBytes * to);
    }
    if (!direct) return;
    // The part's rows lie together in the output, in either order.
    const std::size_t first = bottomUp ? block.Rows - end : begin;
    placed.Write(rowBytes * first, rowBytes * (end - begin),
                 dataStart + rowBytes * (firstOut(block) + first));
  };
  conversion.After = [&](const Block& block) {
    if (direct || !writing) return;
    writing = writer.Finish();
    if (writing) writer.Start(rowBytes * block.Rows);
  };
  const bool decoded =
      ForEachDecodedBlock(session, decoder, workers, BlockProgress::RowIndexAsDecoded, conversion);
  writing = writer.Finish() && writing && !placed.Failed();
  if (!decoded) {
    AbortRgbeRowHead(session);
    return ConvertOutcome::Aborted;
  }
  for (int kind = 0; kind < 3; ++kind) image.RowCounts[kind] = decoder.RowCounts()[kind];
  image.CompleteRows = decoder.CompleteRows();
  return writing ? ConvertOutcome::Done : ConvertOutcome::NotWritten;
}

}  // namespace

std::unique_ptr<ConvertSchedule> MakeRgbeConvertSchedule() {
  return std::make_unique<RgbeConvertSchedule>();
}

}  // namespace lumivane
