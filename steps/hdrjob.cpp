#include "steps/hdrjob.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "formats/rgbe.h"
#include "imaging/blockwriter.h"
#include "imaging/fastpaths.h"
#include "imaging/previewsampler.h"
#include "imaging/statistics.h"
#include "io/parallel.h"
#include "steps/failure.h"
#include "steps/rgbebands.h"
#include "steps/rgbeblocks.h"
#include "steps/rowjobs.h"
#include "steps/session.h"
#include "steps/statuslog.h"

namespace lumivane {

namespace {

// The statistics lines, after a decoding pass that summed every row in order.
ImageStatistics ReportStatistics(Session& session, const ChannelAccumulators& channels) {
  const std::uint32_t height = session.Context.ImageHeight;
  LogLine(session, "Converting RGBE to float to find extreme values");
  SetProgressRange(session, 1, height);
  const std::int32_t start = ClockWholeSeconds(session);
  ReplayProgress(session, 1, height);
  const ImageStatistics statistics = ComputeImageStatistics(
      channels, session.Context.ImageWidth * height, session.Settings.WarmColours != 0);
  const std::int32_t end = ClockWholeSeconds(session);
  LogImageStatistics(session, statistics);
  LogLine(session, ElapsedLine("Established min and max values in image in", start, end));
  return statistics;
}

// A failed write leaves a file that no reader should take for the image.
bool FailWriting(Session& session) {
  const JobContext& context = session.Context;
  return FailStep(session,
                  "Cannot write " + context.OutputFileName + ": " + context.OutputFile.ErrorText(),
                  FailureOptions().CloseOutput(OutputClosing::RemoveWithLines).EndWithSeparator());
}

// The first pass a block at a time: decoding, and the sums in row order
// beside it. Each piece's extremes and sums are taken beside its decoding, on
// any thread; the sums are then put together in row order, exactly as the
// pixel-order chains would give them, or chained pixel by pixel where they
// would not.
bool SumRgbeBlocks(Session& session, RgbeStream& stream, RowWorkers& workers,
                   std::uint32_t rowsPerBlock, RgbeRowIndex& rowIndex,
                   ChannelAccumulators& channels, std::uint32_t (&rowCounts)[3],
                   std::uint32_t& completeRows, std::uint32_t rowsShown) {
  const std::uint32_t width = session.Context.ImageWidth;
  RgbeBlockDecoder decoder(stream, width, session.Context.ImageHeight, rowsPerBlock);
  decoder.RecordRows(&rowIndex);
  channels = {};
  ChannelAccumulators extremes;
  RgbeBlockWork sums;
  std::mutex piecesLock;
  std::map<std::uint32_t, std::pair<std::uint32_t, RgbeSumPiece>> pieces;  // by first row
  sums.Decoded = [&](const RgbeBlockDecoder::Block& block) {
    const std::size_t pixels = std::size_t{width} * block.Rows;
    ChannelAccumulators piece;
    AccumulateRgbeExtremes(block.R, block.G, block.B, block.E, pixels, piece);
    const RgbeSumPiece sum = SumRgbePiece(block.R, block.G, block.B, block.E, pixels);
    const std::lock_guard lock(piecesLock);
    for (int c = 0; c < 3; ++c) {
      extremes[c].Minimum = std::min(extremes[c].Minimum, piece[c].Minimum);
      extremes[c].Maximum = std::max(extremes[c].Maximum, piece[c].Maximum);
    }
    pieces.emplace(block.FirstRow, std::pair(block.Rows, sum));
  };
  sums.Use = [&](const RgbeBlockDecoder::Block& block, std::uint32_t, std::uint32_t) {
    std::vector<std::pair<std::uint32_t, std::pair<std::uint32_t, RgbeSumPiece>>> inBlock;
    {
      const std::lock_guard lock(piecesLock);
      const auto end = pieces.lower_bound(block.FirstRow + block.Rows);
      inBlock.assign(pieces.begin(), end);
      pieces.erase(pieces.begin(), end);
    }
    for (const auto& [firstRow, piece] : inBlock) {
      if (AddRgbeSumPiece(piece.second, channels)) continue;
      const std::size_t from = std::size_t{width} * (firstRow - block.FirstRow);
      AccumulateRgbeSums(block.R + from, block.G + from, block.B + from, block.E + from,
                         std::size_t{width} * piece.first, channels);
    }
  };
  const bool decoded = ForEachDecodedBlock(session, decoder, workers,
                                           BlockProgress::RowIndexAsDecoded, sums, rowsShown);
  for (int kind = 0; kind < 3; ++kind) rowCounts[kind] = decoder.RowCounts()[kind];
  completeRows = decoder.CompleteRows();
  for (int c = 0; c < 3; ++c) {
    channels[c].Minimum = extremes[c].Minimum;
    channels[c].Maximum = extremes[c].Maximum;
  }
  return decoded;
}

}  // namespace

bool ToneMapHdrImage(Session& session) {
  JobContext& context = session.Context;
  const std::unique_ptr<ByteRowSink> sink = std::move(context.ToneMappedRows);
  const std::uint32_t width = context.ImageWidth;
  const std::uint32_t height = context.ImageHeight;
  std::uint64_t offset = 0, bytes = 0;
  if (!StartRgbeDecoding(session, offset, bytes)) return false;
  // The file is read twice, through a small window each time, rather than
  // kept: neither the encoded nor the decoded image is ever whole in memory.
  RgbeStream stream(context.InputFile, offset, bytes);
  RowWorkers workers;
  const std::uint32_t rowsPerBlock = RowsPerWave(width, kRgbePixelsPerBlock);
  PreviewSampler* const preview = session.Preview;
  // Into a regular file, each part of the second pass writes its own rows
  // where they belong, on its own thread, as soon as they are mapped: no
  // writing thread beside the workers. Rows for a sink, a pipe or a device
  // keep their order. Without a preview, such a job goes in bands.
  const bool direct = !sink && context.OutputFile.IsRegularFile();
  RgbeBands bands(context.InputFile, offset, bytes, width, height, rowsPerBlock, workers);
  const bool banded = direct && !preview && bands.MakeRooms();

  // First pass: decoding, and the sums in row order beside it.
  LogRgbeDataRead(session);
  LogRgbeDecodingStart(session);
  std::int32_t start = ClockWholeSeconds(session);
  RgbeRowIndex rowIndex;
  ChannelAccumulators channels;
  std::uint32_t rowCounts[3] = {0, 0, 0};
  // Bands take only data that hold every row whole.
  std::uint32_t completeRows = height;
  const bool summedInBands =
      banded && bands.Sum(session, rowIndex, channels, rowCounts) == BandsOutcome::Done;
  if (!summedInBands && !SumRgbeBlocks(session, stream, workers, rowsPerBlock, rowIndex, channels,
                                       rowCounts, completeRows, bands.RowsShown())) {
    return AbortRgbeRowHead(session);
  }
  LogRgbeDecodingEnd(session, rowCounts, completeRows, start);
  const ImageStatistics statistics = ReportStatistics(session, channels);

  // Second pass: decoding again, tone-mapping, writing.
  LogLine(session, "Starting tonemapping...");
  LogLine(session, "Decoding RGBE and converting to integer values");
  SetProgressRange(session, 1, height);
  start = ClockWholeSeconds(session);
  // The output byte depends only on the channel, mantissa and exponent.
  const RgbeToneTables tables = BuildRgbeToneTables(statistics, session.Settings.Brightness,
                                                    session.Settings.PostGamma, workers, &channels);
  if (preview)
    preview->Begin(width, height, OperatorWidth::Single, channels, width * height,
                   {session.Settings.Brightness, session.Settings.PostGamma,
                    session.Settings.WarmColours != 0});
  const std::size_t rowBytes = std::size_t{width} * 3;
  const std::uint64_t dataStart = context.OutputFile.Position();
  // Its room is made only for the block pass: the bands map into rooms of
  // their own.
  PlacedWriter placed(context.OutputFile, 0);
  BlockWriter writer(context.OutputFile, workers.Threads() > 1 && !direct);
  writer.SendTo(sink.get(), rowBytes);
  bool writing = true;
  std::uint8_t* out = nullptr;
  RgbeBlockWork mapping;
  mapping.Before = [&](const RgbeBlockDecoder::Block& block) {
    if (!direct) {
      out = writing ? writer.NextAt(rowBytes * block.Rows, dataStart + rowBytes * block.FirstRow)
                    : nullptr;
    }
    if (preview)
      preview->TakeRgbeRows(block.FirstRow, block.Rows, block.R, block.G, block.B, block.E);
  };
  mapping.Parts = workers.Threads();
  mapping.Use = [&](const RgbeBlockDecoder::Block& block, std::uint32_t begin, std::uint32_t end) {
    const std::size_t from = std::size_t{width} * begin;
    const std::size_t pixels = std::size_t{width} * (end - begin);
    if (direct) {
      if (placed.Failed()) return;
      ToneMapRgbeToRgb(block.R + from, block.G + from, block.B + from, block.E + from, pixels,
                       tables, placed.At(rowBytes * begin));
      placed.Write(rowBytes * begin, rowBytes * (end - begin),
                   dataStart + rowBytes * (block.FirstRow + begin));
      return;
    }
    if (!out) return;
    ToneMapRgbeToRgb(block.R + from, block.G + from, block.B + from, block.E + from, pixels, tables,
                     out + rowBytes * begin);
  };
  mapping.After = [&](const RgbeBlockDecoder::Block& block) {
    if (direct || !writing) return;
    writing = writer.Finish();
    if (writing) writer.Start(rowBytes * block.Rows);
  };
  const bool inBands = banded && rowIndex.Complete && rowIndex.Sums.size() == height &&
                       std::none_of(rowIndex.Kinds.begin(), rowIndex.Kinds.end(),
                                    [](RgbeRowKind kind) { return kind == RgbeRowKind::OldRuns; });
  // The statistics hold only for the bytes the first pass read. The same
  // bytes decode the same way twice, so a refused row now means a change too.
  // Following the first pass's rows reads only their bytes, not what lies
  // past the last. Bands that summed the first pass always find room for the
  // second: its rows fitted in the same rooms.
  BandsOutcome outcome = BandsOutcome::NoRoom;
  if (inBands) outcome = bands.Map(session, rowIndex, tables, dataStart, placed);
  bool same = outcome == BandsOutcome::Done;
  if (outcome == BandsOutcome::NoRoom) {
    if (direct) placed.MakeRoom(rowBytes * rowsPerBlock);
    RgbeStream reread(context.InputFile, offset, bytes);
    RgbeBlockDecoder again(reread, width, height, rowsPerBlock);
    again.FollowRows(rowIndex);
    const bool decoded =
        ForEachDecodedBlock(session, again, workers, BlockProgress::RowNumberOnceUsed, mapping);
    same = decoded && (again.FollowsRows() || reread.BytesRead() == stream.BytesRead()) &&
           reread.Checksum() == stream.Checksum();
  }
  writing = writer.Finish() && writing && !placed.Failed();
  if (!same) {
    return AbortRadianceJob(session, "Cannot read " + context.InputFileName +
                                         " again: it changed while it was tone-mapped.");
  }
  context.InputFile.Close();
  LogLine(session, ElapsedLine("Tonemapping in", start, ClockWholeSeconds(session)));

  LogLine(session, "Writing to destination file.");
  SetProgressRange(session, 1, height);
  start = ClockWholeSeconds(session);
  if (!writing || !FinishSink(sink.get())) return FailWriting(session);
  ReplayProgress(session, 1, height);
  if (!context.OutputFile.Commit()) return FailWriting(session);
  LogLine(session,
          ElapsedLine("Assembling and writing file in", start, ClockWholeSeconds(session)));
  LogLine(session, "Closed destination file " + context.OutputFileName);
  if (preview) preview->Finish(context.OutputFileName);
  return true;
}

}  // namespace lumivane
