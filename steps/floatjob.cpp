#include "steps/floatjob.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <utility>

#include "formats/checksum.h"
#include "imaging/blockwriter.h"
#include "imaging/fastpaths.h"
#include "io/parallel.h"
#include "steps/rowjobs.h"
#include "imaging/previewsampler.h"
#include "imaging/statistics.h"
#include "steps/failure.h"
#include "steps/session.h"
#include "steps/statuslog.h"

namespace lumivane {

FloatRowReader::FloatRowReader(BinaryFile& file, std::uint64_t dataStart, std::size_t rowBytes,
                               std::uint32_t rows, bool lastRowFirst, std::size_t blockBytes)
    : file_(file),
      dataStart_(dataStart),
      rowBytes_(rowBytes),
      rows_(rows),
      lastRowFirst_(lastRowFirst),
      rowsPerBlock_(static_cast<std::uint32_t>(
          std::clamp<std::size_t>(rowBytes ? blockBytes / rowBytes : 1, 1, std::max(rows, 1u)))) {}

bool FloatRowReader::LoadBlock() {
  const std::uint32_t remaining = rows_ - handed_;
  blockRows_ = std::min(rowsPerBlock_, remaining);
  // Rows still to come are [0, remaining) when reading backwards, else [handed_, rows_).
  blockFirst_ = lastRowFirst_ ? remaining - blockRows_ : handed_;
  usedInBlock_ = 0;
  const std::size_t bytes = std::size_t{blockRows_} * rowBytes_;
  const std::uint64_t offset = dataStart_ + std::uint64_t{blockFirst_} * rowBytes_;
  std::uint8_t* const block = block_.Place(bytes, offset);
  std::atomic<bool> whole = true;
  if (!workers_ || workers_->Threads() == 1) {
    whole = file_.ReadAt(block, bytes, offset) == bytes;
  } else {
    const unsigned pieces = workers_->Threads();
    workers_->Run(pieces, [&](std::size_t begin, std::size_t end) {
      for (std::size_t piece = begin; piece < end; ++piece) {
        const std::size_t from = bytes * piece / pieces, to = bytes * (piece + 1) / pieces;
        if (file_.ReadAt(block + from, to - from, offset + from) != to - from) whole = false;
      }
    });
  }
  // A short block ends the rows for good.
  if (!whole) failed_ = true;
  if (whole && keepChecksum_) {
    std::atomic<std::uint64_t> sum = 0;
    const auto sumRows = [&](std::size_t begin, std::size_t end) {
      std::uint64_t part = 0;
      for (std::size_t row = begin; row < end; ++row)
        part += ChecksumBytes(blockFirst_ + row, block + row * rowBytes_, rowBytes_);
      sum += part;
    };
    if (workers_) {
      workers_->Run(blockRows_, sumRows);
    } else {
      sumRows(0, blockRows_);
    }
    checksum_ += sum;
  }
  return whole;
}

std::uint32_t FloatRowReader::NextRows(const std::uint8_t** rows, std::uint32_t most) {
  std::uint32_t count = 0;
  while (count < most && !AllRowsRead()) {
    const std::uint8_t* row = NextRow();
    if (!row) break;
    rows[count++] = row;
  }
  return count;
}

const std::uint8_t* FloatRowReader::NextRow() {
  if (handed_ >= rows_ || failed_) return nullptr;
  if (usedInBlock_ == blockRows_ && !LoadBlock()) return nullptr;
  const std::uint32_t inBlock = lastRowFirst_ ? blockRows_ - 1 - usedInBlock_ : usedInBlock_;
  ++usedInBlock_;
  ++handed_;
  return block_.Data() + std::size_t{inBlock} * rowBytes_;
}

std::string ShortInputMessage(const Session& session) {
  return session.Context.InputFileName + " is shorter than its header promises";
}

std::string WriteFailureMessage(const Session& session) {
  return "Cannot write " + session.Context.OutputFileName + ": " +
         session.Context.OutputFile.ErrorText();
}

bool FinishRowBlock(Session& session, const FloatRowReader& rows, std::uint32_t first,
                    std::uint32_t count, BlockWriter& writer, std::size_t byteCount) {
  // The block before is written by now, or the job fails.
  if (!writer.Finish()) return AbortFloatJob(session, WriteFailureMessage(session));
  if (writer.Started()) SetProgressPosition(session, first);
  if (count > 1) ReplayProgress(session, first + 1, first + count - 1);
  if (count > 0) writer.Start(byteCount);
  if (!rows.AllRowsRead() && count < rows.RowsPerBlock()) {
    // The input ran out: what it held is written before the job fails.
    if (count > 0 && !FinishLastRowBlock(session, writer, first + count)) return false;
    return AbortFloatJob(session, ShortInputMessage(session));
  }
  return true;
}

bool FinishLastRowBlock(Session& session, BlockWriter& writer, std::uint32_t rowsDone) {
  if (!writer.Finish()) return AbortFloatJob(session, WriteFailureMessage(session));
  if (writer.Started()) SetProgressPosition(session, rowsDone);
  return true;
}

bool AbortFloatJob(Session& session, const std::string& message) {
  return FailStep(session, message,
                  FailureOptions()
                      .CloseInput(InputClosing::WithLinesIfOpen)
                      .CloseOutput(OutputClosing::Remove)
                      .EndWithSeparator());
}

bool ToneMapFloatImage(Session& session) {
  JobContext& context = session.Context;
  const std::unique_ptr<ByteRowSink> sink = std::move(context.ToneMappedRows);
  const std::uint32_t width = context.ImageWidth;
  const std::uint32_t height = context.ImageHeight;
  const bool intel = context.SourceIntelOrder;
  const std::uint64_t dataStart = context.InputFile.Position();
  const auto imageBytes = FloatImageBytes(width, height);
  if (!imageBytes)
    return AbortFloatJob(session, "Cannot tone-map " + context.InputFileName +
                                      ": width or height 0, or more than 4 GiB of pixels");
  const auto size = context.InputFile.Size();
  if (size && *size < dataStart + *imageBytes)
    return AbortFloatJob(session, ShortInputMessage(session));

  const std::size_t rowBytes = std::size_t{width} * 12;
  ChannelAccumulators accumulators;
  std::uint64_t analysedChecksum = 0;
  std::int32_t start = ClockWholeSeconds(session);
  SetProgressRange(session, 1, height);
  {
    // Statistics in file order, whichever row is the top one: per block, the
    // sums on one thread and the extremes on another, each in pixel order.
    FloatRowReader rows(context.InputFile, dataStart, rowBytes, height, false);
    rows.KeepChecksum();
    const std::uint32_t rowsPerBlock = rows.RowsPerBlock();
    std::vector<const std::uint8_t*> block(rowsPerBlock);
    ChannelAccumulators extremes;
    RowWorkers workers;
    rows.ShareReadsWith(workers);
    while (rows.RowsRead() < height) {
      const std::uint32_t first = rows.RowsRead();
      const std::uint32_t count = rows.NextRows(block.data(), rowsPerBlock);
      workers.Run(2, [&](std::size_t begin, std::size_t end) {
        for (std::size_t part = begin; part < end; ++part) {
          for (std::uint32_t i = 0; i < count; ++i) {
            (part == 0 ? AccumulateFloatSums : AccumulateFloatExtremes)(
                block[i], width, intel, part == 0 ? accumulators : extremes);
          }
        }
      });
      ReplayProgress(session, first + 1, first + count);
      if (rows.RowsRead() < height && count < rowsPerBlock)
        return AbortFloatJob(session, ShortInputMessage(session));
    }
    TakeExtremes(extremes, accumulators);
    analysedChecksum = rows.Checksum();
  }
  const ImageStatistics statistics =
      ComputeImageStatistics(accumulators, width * height, session.Settings.WarmColours != 0);
  LogLine(session, ElapsedLine("Data analysed in", start, ClockWholeSeconds(session)));
  LogImageStatistics(session, statistics);

  LogLine(session, "Starting tonemapping...");
  start = ClockWholeSeconds(session);
  SetProgressRange(session, 1, height);
  const FloatToneMapper mapper(statistics, session.Settings.Brightness, session.Settings.PostGamma);
  PreviewSampler* const preview = session.Preview;
  if (preview)
    preview->Begin(width, height, OperatorWidth::Double, accumulators, width * height,
                   {session.Settings.Brightness, session.Settings.PostGamma,
                    session.Settings.WarmColours != 0});
  {
    // The first stored PFM row is the bottom one; the TIFF's first row is the top.
    FloatRowReader rows(context.InputFile, dataStart, rowBytes, height, context.InputRowsBottomUp);
    rows.KeepChecksum();
    // A block's rows are mapped on all cores and written at once.
    const std::uint32_t rowsPerBlock = rows.RowsPerBlock();
    std::vector<const std::uint8_t*> block(rowsPerBlock);
    const std::size_t outputRowBytes = std::size_t{width} * 3;
    RowWorkers workers;
    rows.ShareReadsWith(workers);
    BlockWriter writer(context.OutputFile, workers.Threads() > 1);
    writer.SendTo(sink.get(), outputRowBytes);
    while (rows.RowsRead() < height) {
      const std::uint32_t first = rows.RowsRead();
      const std::uint32_t count = rows.NextRows(block.data(), rowsPerBlock);
      if (preview)
        for (std::uint32_t i = 0; i < count; ++i) preview->TakeFloatRow(first + i, block[i], intel);
      std::uint8_t* const out = writer.Next(outputRowBytes * count);
      workers.Run(count, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
          mapper.Map(block[i], width, intel, out + outputRowBytes * i);
        }
      });
      if (!FinishRowBlock(session, rows, first, count, writer, outputRowBytes * count))
        return false;
    }
    if (!FinishLastRowBlock(session, writer, height)) return false;
    if (!FinishSink(sink.get())) return AbortFloatJob(session, WriteFailureMessage(session));
    // The statistics hold only for the bytes the first pass read.
    if (rows.Checksum() != analysedChecksum)
      return AbortFloatJob(session, "Cannot read " + context.InputFileName +
                                        " again: it changed while it was tone-mapped.");
  }
  context.InputFile.Close();
  if (!context.OutputFile.Commit()) return AbortFloatJob(session, WriteFailureMessage(session));
  LogLine(session, ElapsedLine("Tonemapped in", start, ClockWholeSeconds(session)));
  LogLine(session, "Closed Source file " + context.InputFileName);
  LogLine(session, "Closed destination file " + context.OutputFileName);
  if (preview) preview->Finish(context.OutputFileName);
  return true;
}

}  // namespace lumivane
