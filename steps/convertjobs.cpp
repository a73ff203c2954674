#include "steps/convertjobs.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "formats/rgbe.h"
#include "imaging/blockwriter.h"
#include "imaging/fastpaths.h"
#include "io/parallel.h"
#include "steps/floatjob.h"
#include "steps/rgbeblocks.h"
#include "steps/session.h"
#include "steps/statuslog.h"

namespace lumivane {

namespace {

constexpr std::size_t kPageBytes = 4096;

// The output's row order is consumed by the job it was set for.
bool TakeOutputRowsBottomUp(JobContext& context) {
  const bool bottomUp = context.OutputRowsBottomUp;
  context.OutputRowsBottomUp = false;
  return bottomUp;
}

std::string SizeMessage(const Session& session) {
  return "Cannot convert " + session.Context.InputFileName +
         ": width or height 0, or more than 4 GiB of pixels";
}

// While no byte changes, the kernel copies the rows from file to file, a row
// at a time, with the progress of the reading path per block. Returns the rows
// copied, the output positioned behind them; fewer than `height` where the
// kernel stopped (an end of input, an error, or files it cannot copy between),
// and the caller goes on from there by reading and writing.
std::uint32_t CopyRowsInKernel(Session& session, std::uint64_t dataStart, std::size_t rowBytes,
                               std::uint32_t height, std::uint32_t rowsPerBlock, bool reverse) {
  JobContext& context = session.Context;
  const std::uint64_t outputStart = context.OutputFile.Position();
  std::uint32_t done = 0;
  while (done < height) {
    const std::uint32_t count = std::min(rowsPerBlock, height - done);
    for (std::uint32_t y = done; y < done + count; ++y) {
      const std::uint64_t stored = reverse ? height - 1 - y : y;
      if (context.InputFile.CopyTo(context.OutputFile, dataStart + stored * rowBytes, rowBytes) !=
          rowBytes) {
        context.OutputFile.Seek(outputStart + std::uint64_t{y} * rowBytes);
        return y;
      }
    }
    ReplayProgress(session, done + 1, done + count);
    done += count;
  }
  return done;
}

}  // namespace

bool ConvertHdrImage(Session& session) {
  JobContext& context = session.Context;
  const bool bottomUp = TakeOutputRowsBottomUp(context);
  const std::uint32_t width = context.ImageWidth;
  const std::uint32_t height = context.ImageHeight;
  if (!FloatImageBytes(width, height)) return AbortFloatJob(session, SizeMessage(session));
  std::uint64_t offset = 0, bytes = 0;
  if (!StartRgbeDecoding(session, offset, bytes)) return false;

  // Each block of rows is converted and written while the next is decoded,
  // so neither the image nor the encoded file is ever whole in memory.
  RgbeStream stream(context.InputFile, offset, bytes);
  const std::uint32_t rowsPerBlock = RowsPerWave(width, kRgbePixelsPerBlock);
  RgbeBlockDecoder decoder(stream, width, height, rowsPerBlock);
  RowWorkers workers;
  const std::size_t rowBytes = std::size_t{width} * 12;
  const std::uint64_t dataStart = context.OutputFile.Position();
  // Into a regular file each part writes its own rows at their place; other
  // outputs get whole blocks in order from a writing thread.
  const bool direct = context.OutputFile.IsRegularFile();
  PlacedWriter placed(context.OutputFile, direct ? rowBytes * rowsPerBlock : 0);
  BlockWriter writer(context.OutputFile, workers.Threads() > 1 && !direct);
  // After a failed write the rows are still decoded: a refused row further on
  // is the failure to report, as it would be had the whole image been decoded
  // before anything was written.
  bool writing = true;
  std::uint8_t* out = nullptr;
  RgbeBlockWork conversion;
  // A PFM gets its bottom row first: a block goes where its rows end up,
  // its last row first.
  const auto firstOut = [&](const RgbeBlockDecoder::Block& block) {
    return bottomUp ? height - block.FirstRow - block.Rows : block.FirstRow;
  };
  conversion.Before = [&](const RgbeBlockDecoder::Block& block) {
    if (direct) return;
    out = writing ? writer.NextAt(rowBytes * block.Rows, dataStart + rowBytes * firstOut(block))
                  : nullptr;
  };
  conversion.Parts = workers.Threads();
  conversion.Use = [&](const RgbeBlockDecoder::Block& block, std::uint32_t begin,
                       std::uint32_t end) {
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
  conversion.After = [&](const RgbeBlockDecoder::Block& block) {
    if (direct || !writing) return;
    writing = writer.Finish();
    if (writing) writer.Start(rowBytes * block.Rows);
  };

  LogRgbeDataRead(session);
  LogRgbeDecodingStart(session);
  const std::int32_t decodeStart = ClockWholeSeconds(session);
  const bool decoded =
      ForEachDecodedBlock(session, decoder, workers, BlockProgress::RowIndexAsDecoded, conversion);
  writing = writer.Finish() && writing && !placed.Failed();
  if (!decoded) return AbortRgbeRowHead(session);
  LogRgbeDecodingEnd(session, decoder.RowCounts(), decoder.CompleteRows(), decodeStart);
  context.InputFile.Close();

  LogLine(session, "Converting RGBE to floats");
  SetProgressRange(session, 1, height);
  const std::int32_t start = ClockWholeSeconds(session);
  if (!writing) return AbortFloatJob(session, WriteFailureMessage(session));
  ReplayProgress(session, 1, height);
  if (!context.OutputFile.Commit()) return AbortFloatJob(session, WriteFailureMessage(session));
  LogLine(session, ElapsedLine("Converted in", start, ClockWholeSeconds(session)));
  LogLine(session, "Closed Source file " + context.InputFileName);
  LogLine(session, "Closed destination file " + context.OutputFileName);
  return true;
}

bool ConvertFloatImage(Session& session) {
  JobContext& context = session.Context;
  const bool outputBottomUp = TakeOutputRowsBottomUp(context);
  const std::uint32_t width = context.ImageWidth;
  const std::uint32_t height = context.ImageHeight;
  const std::uint64_t dataStart = context.InputFile.Position();
  const auto imageBytes = FloatImageBytes(width, height);
  if (!imageBytes) return AbortFloatJob(session, SizeMessage(session));
  const auto size = context.InputFile.Size();
  if (size && *size < dataStart + *imageBytes)
    return AbortFloatJob(session, ShortInputMessage(session));

  const std::size_t rowBytes = std::size_t{width} * 12;
  const std::int32_t start = ClockWholeSeconds(session);
  SetProgressRange(session, 1, height);
  {
    // Rows keep the image's orientation: a PFM's stored order is bottom to top.
    const bool reverse = context.InputRowsBottomUp != outputBottomUp;
    // Both files store least significant bytes first when the input does. Rows
    // under a page are cheaper to read in blocks than to copy one by one.
    const auto rowsPerCopy = static_cast<std::uint32_t>(
        std::clamp<std::size_t>(FloatRowReader::kBlockBytes / rowBytes, 1, height));
    const std::uint32_t copied =
        context.SourceIntelOrder && rowBytes >= kPageBytes
            ? CopyRowsInKernel(session, dataStart, rowBytes, height, rowsPerCopy, reverse)
            : 0;
    // The rest: rows [copied, height) of the output.
    FloatRowReader rows(context.InputFile,
                        reverse ? dataStart : dataStart + std::uint64_t{copied} * rowBytes,
                        rowBytes, height - copied, reverse);
    // A block's rows are gathered in output order, byte-swapped on all cores
    // when needed, and written at once.
    const std::uint32_t rowsPerBlock = rows.RowsPerBlock();
    RowWorkers workers;
    rows.ShareReadsWith(workers);
    BlockWriter writer(context.OutputFile, workers.Threads() > 1);
    while (!rows.AllRowsRead()) {
      const std::uint32_t first = copied + rows.RowsRead();
      std::uint32_t count = 0;
      std::uint8_t* const out = writer.Next(rowBytes * rowsPerBlock);
      while (count < rowsPerBlock && !rows.AllRowsRead()) {
        const std::uint8_t* stored = rows.NextRow();
        if (!stored) break;
        std::copy(stored, stored + rowBytes, out + rowBytes * count++);
      }
      if (!context.SourceIntelOrder) {
        workers.Run(count, [&](std::size_t begin, std::size_t end) {
          SwapBytes4(out + rowBytes * begin, (end - begin) * rowBytes / 4);
        });
      }
      if (!FinishRowBlock(session, rows, first, count, writer, rowBytes * count)) return false;
    }
    if (!FinishLastRowBlock(session, writer, height)) return false;
  }
  context.InputFile.Close();
  if (!context.OutputFile.Commit()) return AbortFloatJob(session, WriteFailureMessage(session));
  return FinishConversion(session, start);
}

bool FinishConversion(Session& session, std::int32_t start) {
  const JobContext& context = session.Context;
  const std::int32_t end = ClockWholeSeconds(session);
  LogLine(session, "Converted from");
  LogLine(session, context.InputFileName + " to");
  LogLine(session, context.OutputFileName + " in");
  LogLine(session, FormatNumber(end - start, 15) + " seconds");
  LogLine(session, "Closed Source file " + context.InputFileName);
  LogLine(session, "Closed destination file " + context.OutputFileName);
  return true;
}

}  // namespace lumivane
