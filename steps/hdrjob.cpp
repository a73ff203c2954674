#include "steps/hdrjob.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "formats/rgbe.h"
#include "imaging/blockwriter.h"
#include "imaging/fastpaths.h"
#include "imaging/previewsampler.h"
#include "imaging/statistics.h"
#include "io/parallel.h"
#include "steps/failure.h"
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

// The second pass over a file whose rows the first pass indexed: every thread
// takes bands of rows and reads, decodes, maps and writes them on its own, so
// no block passes from core to core and the other core is woken once a band,
// not once a block. The bar moves on the calling thread. A failed write stops
// the writing, not the reading.
enum class BandsOutcome { Done, Changed, NoRoom };
BandsOutcome MapIndexedBands(Session& session, const RgbeRowIndex& index, std::uint64_t offset,
                             const RgbeToneTables& tables, std::uint32_t rowsPerBlock,
                             RowWorkers& workers, std::uint64_t dataStart, PlacedWriter& writer) {
  JobContext& context = session.Context;
  const std::uint32_t width = context.ImageWidth, height = context.ImageHeight;
  const std::size_t rowBytes = std::size_t{width} * 3;
  const std::size_t planeSize = std::size_t{rowsPerBlock + RgbeSpillRows(width)} * width;
  const std::size_t bands = std::min<std::size_t>(height, 4 * std::size_t{workers.Threads()});
  const auto bandStart = [&](std::size_t band) {
    return static_cast<std::uint32_t>(band * height / bands);
  };
  // Every thread's room is made here, where a lack of memory can still send
  // the job the way that needs less.
  std::size_t mostBytes = 0;
  for (std::size_t band = 0; band < bands; ++band) {
    for (std::uint32_t y = bandStart(band); y < bandStart(band + 1); y += rowsPerBlock) {
      const std::uint32_t last = std::min(y + rowsPerBlock, bandStart(band + 1)) - 1;
      mostBytes = std::max<std::size_t>(mostBytes, index.Ends[last] - (y ? index.Ends[y - 1] : 0));
    }
  }
  struct Room {
    std::vector<std::uint8_t> Bytes, Planes, Rows;
  };
  std::vector<Room> rooms;
  try {
    rooms.resize(workers.Threads());
    for (Room& room : rooms) {
      room.Bytes.resize(mostBytes);
      room.Planes.resize(4 * planeSize);
      room.Rows.resize(rowBytes * rowsPerBlock);
    }
  } catch (const std::bad_alloc&) {
    return BandsOutcome::NoRoom;
  }
  std::vector<Room*> free;
  for (Room& room : rooms) free.push_back(&room);
  std::mutex freeLock;
  std::atomic<bool> changed = false;
  std::atomic<std::uint32_t> mapped = 0;
  std::uint32_t shown = 0;
  const auto caller = std::this_thread::get_id();
  workers.RunTasks(bands, [&](std::size_t band) {
    Room* room;
    {
      const std::lock_guard lock(freeLock);
      room = free.back();
      free.pop_back();
    }
    std::uint8_t* const planes[4] = {room->Planes.data(), room->Planes.data() + planeSize,
                                     room->Planes.data() + 2 * planeSize,
                                     room->Planes.data() + 3 * planeSize};
    const std::uint32_t end = bandStart(band + 1);
    for (std::uint32_t y = bandStart(band); y < end && !changed;) {
      const std::uint32_t rows = std::min(rowsPerBlock, end - y);
      if (!DecodeIndexedRgbeRows(context.InputFile, offset, index, width, y, rows, room->Bytes,
                                 planes)) {
        changed = true;
        break;
      }
      if (!writer.Failed()) {
        ToneMapRgbeToRgb(planes[0], planes[1], planes[2], planes[3], std::size_t{width} * rows,
                         tables, room->Rows.data());
        writer.Write(room->Rows.data(), rowBytes * rows, dataStart + rowBytes * y);
      }
      y += rows;
      const std::uint32_t now = mapped += rows;
      if (std::this_thread::get_id() == caller && now > shown) {
        ReplayProgress(session, shown + 1, now);
        shown = now;
      }
    }
    const std::lock_guard lock(freeLock);
    free.push_back(room);
  });
  if (changed) return BandsOutcome::Changed;
  if (shown < height) ReplayProgress(session, shown + 1, height);
  return BandsOutcome::Done;
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

  // First pass: decoding, and the sums in row order beside it.
  LogRgbeDataRead(session);
  LogRgbeDecodingStart(session);
  std::int32_t start = ClockWholeSeconds(session);
  RgbeBlockDecoder decoder(stream, width, height, rowsPerBlock);
  RgbeRowIndex rowIndex;
  decoder.RecordRows(&rowIndex);
  ChannelAccumulators channels;
  ChannelAccumulators extremes;
  RgbeBlockWork sums;
  // Each piece's extremes and sums beside its decoding, on any thread; the
  // sums are then put together in row order, exactly as the pixel-order chains
  // would give them, or chained pixel by pixel where they would not.
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
  if (!ForEachDecodedBlock(session, decoder, workers, BlockProgress::RowIndexAsDecoded, sums)) {
    return AbortRgbeRowHead(session);
  }
  LogRgbeDecodingEnd(session, decoder.RowCounts(), start);
  for (int c = 0; c < 3; ++c) {
    channels[c].Minimum = extremes[c].Minimum;
    channels[c].Maximum = extremes[c].Maximum;
  }
  const ImageStatistics statistics = ReportStatistics(session, channels);

  // Second pass: decoding again, tone-mapping, writing.
  LogLine(session, "Starting tonemapping...");
  LogLine(session, "Decoding RGBE and converting to integer values");
  SetProgressRange(session, 1, height);
  start = ClockWholeSeconds(session);
  // The output byte depends only on the channel, mantissa and exponent.
  const RgbeToneTables tables = BuildRgbeToneTables(statistics, session.Settings.Brightness,
                                                    session.Settings.PostGamma, workers);
  PreviewSampler* const preview = session.Preview;
  if (preview)
    preview->Begin(width, height, OperatorWidth::Single, channels, width * height,
                   {session.Settings.Brightness, session.Settings.PostGamma,
                    session.Settings.WarmColours != 0});
  const std::size_t rowBytes = std::size_t{width} * 3;
  const std::uint64_t dataStart = context.OutputFile.Position();
  // Into a regular file, each part of a block writes its own rows where they
  // belong, on its own thread, as soon as they are mapped: no writing thread
  // beside the workers. Rows for a sink, a pipe or a device keep their order:
  // a block is written on a thread of its own while the next one is mapped.
  const bool direct = !sink && context.OutputFile.IsRegularFile();
  PlacedWriter placed(context.OutputFile, direct ? rowBytes * rowsPerBlock : 0);
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
  const bool bands = direct && !preview && rowIndex.Complete && rowIndex.Sums.size() == height &&
                     std::none_of(rowIndex.Kinds.begin(), rowIndex.Kinds.end(),
                                  [](RgbeRowKind kind) { return kind == RgbeRowKind::OldRuns; });
  // The statistics hold only for the bytes the first pass read. The same
  // bytes decode the same way twice, so a refused row now means a change too.
  // Following the first pass's rows reads only their bytes, not what lies
  // past the last.
  BandsOutcome outcome = BandsOutcome::NoRoom;
  if (bands) {
    outcome = MapIndexedBands(session, rowIndex, offset, tables, rowsPerBlock, workers, dataStart,
                              placed);
  }
  bool same = outcome == BandsOutcome::Done;
  if (outcome == BandsOutcome::NoRoom) {
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
