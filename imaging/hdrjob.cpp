#include "imaging/hdrjob.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "formats/rgbe.h"
#include "imaging/blockwriter.h"
#include "imaging/fastpaths.h"
#include "imaging/parallel.h"
#include "imaging/statistics.h"
#include "shell/session.h"
#include "shell/statuslog.h"

namespace lumivane {

namespace {

// Pixels decoded per block: the decoded rows stay in the processor's caches
// while they are summed, and again while they are tone-mapped.
constexpr std::size_t kPixelsPerBlock = std::size_t{1} << 18;

// Both passes decode a block on the calling thread while a worker uses the
// block decoded before it. Returns false on a refused row head.
bool ForEachDecodedBlock(Session& session, RgbeBlockDecoder& decoder, RowWorkers& workers,
                         bool rowIndexes,
                         const std::function<void(const RgbeBlockDecoder::Block&)>& use) {
  const auto progress = [&](const RgbeBlockDecoder::Block& block) {
    for (std::uint32_t y = block.FirstRow; y < block.FirstRow + block.Rows; ++y) {
      SetProgressPosition(session, rowIndexes ? y : y + 1);
    }
  };
  bool decoded = decoder.DecodeNext();
  if (rowIndexes) progress(decoder.Last());
  while (decoded) {
    const RgbeBlockDecoder::Block block = decoder.Last();
    const bool more = !decoder.Finished();
    workers.Run(2, [&](std::size_t begin, std::size_t end) {
      for (std::size_t part = begin; part < end; ++part) {
        if (part == 1) {
          use(block);
        } else if (more) {
          decoded = decoder.DecodeNext();
        }
      }
    });
    if (!rowIndexes) progress(block);
    if (!more) break;
    if (rowIndexes) progress(decoder.Last());
  }
  return decoded;
}

// The statistics lines, after a decoding pass that summed every row in order.
ImageStatistics ReportStatistics(Session& session, const ChannelAccumulators& channels) {
  const std::uint32_t height = session.Context.ImageHeight;
  LogLine(session, "Converting RGBE to float to find extreme values");
  SetProgressRange(session, 1, height);
  const std::int32_t start = ClockWholeSeconds(session);
  for (std::uint32_t y = 1; y <= height; ++y) SetProgressPosition(session, y);
  const ImageStatistics statistics = ComputeImageStatistics(
      channels, session.Context.ImageWidth * height, session.Settings.WarmColours != 0);
  const std::int32_t end = ClockWholeSeconds(session);
  LogImageStatistics(session, statistics);
  LogLine(session, ElapsedLine("Established min and max values in image in", start, end));
  return statistics;
}

// A failed write leaves a file that no reader should take for the image.
bool FailWriting(Session& session) {
  JobContext& context = session.Context;
  context.FailureMessage =
      "Cannot write " + context.OutputFileName + ": " + context.OutputFile.ErrorText();
  LogLine(session, context.FailureMessage);
  context.OutputFile.Close();
  RemoveFile(context.OutputFileName);
  LogLine(session, "Closed and deleted file:");
  LogLine(session, context.OutputFileName);
  LogLine(session, SeparatorLine());
  return false;
}

}  // namespace

bool ToneMapHdrImage(Session& session) {
  JobContext& context = session.Context;
  const std::uint32_t width = context.ImageWidth;
  const std::uint32_t height = context.ImageHeight;
  std::uint64_t offset = 0, bytes = 0;
  if (!StartRgbeDecoding(session, offset, bytes)) return false;
  // The file is read twice, through a small window each time, rather than
  // kept: neither the encoded nor the decoded image is ever whole in memory.
  RgbeStream stream(context.InputFile, offset, bytes);
  RowWorkers workers;
  const std::uint32_t rowsPerBlock = RowsPerWave(width, kPixelsPerBlock);

  // First pass: decoding, and the sums in row order beside it.
  LogRgbeDataRead(session);
  LogRgbeDecodingStart(session);
  std::int32_t start = ClockWholeSeconds(session);
  RgbeBlockDecoder decoder(stream, width, height, rowsPerBlock);
  ChannelAccumulators channels;
  if (!ForEachDecodedBlock(session, decoder, workers, true,
                           [&](const RgbeBlockDecoder::Block& block) {
                             AccumulateRgbePixels(block.R, block.G, block.B, block.E,
                                                  std::size_t{width} * block.Rows, channels);
                           })) {
    return AbortRgbeRowHead(session);
  }
  LogRgbeDecodingEnd(session, decoder.RowCounts(), start);
  const ImageStatistics statistics = ReportStatistics(session, channels);

  // Second pass: decoding again, tone-mapping, writing.
  LogLine(session, "Starting tonemapping...");
  LogLine(session, "Decoding RGBE and converting to integer values");
  SetProgressRange(session, 1, height);
  start = ClockWholeSeconds(session);
  // The output byte depends only on the channel, mantissa and exponent.
  const RgbeToneTables tables = BuildRgbeToneTables(statistics, session.Settings.Brightness,
                                                    session.Settings.PostGamma, workers);
  RgbeStream reread(context.InputFile, offset, bytes);
  RgbeBlockDecoder again(reread, width, height, rowsPerBlock);
  const std::size_t rowBytes = std::size_t{width} * 3;
  const std::uint64_t dataStart = context.OutputFile.Position();
  // A block is written while the next one is tone-mapped.
  BlockWriter writer(context.OutputFile, workers.Threads() > 1);
  bool writing = true;
  const bool decoded = ForEachDecodedBlock(
      session, again, workers, false, [&](const RgbeBlockDecoder::Block& block) {
        const std::size_t pixels = std::size_t{width} * block.Rows;
        if (!writing) return;
        std::uint8_t* out =
            writer.NextAt(rowBytes * block.Rows, dataStart + rowBytes * block.FirstRow);
        ToneMapRgbeToRgb(block.R, block.G, block.B, block.E, pixels, tables, out);
        writing = writer.Finish();
        if (writing) writer.Start(rowBytes * block.Rows);
      });
  writing = writer.Finish() && writing;
  // The statistics hold only for the bytes the first pass read. The same
  // bytes decode the same way twice, so a refused row now means a change too.
  if (!decoded || reread.BytesRead() != stream.BytesRead() ||
      reread.Checksum() != stream.Checksum()) {
    return AbortRadianceJob(session, "Cannot read " + context.InputFileName +
                                         " again: it changed while it was tone-mapped.");
  }
  context.InputFile.Close();
  LogLine(session, ElapsedLine("Tonemapping in", start, ClockWholeSeconds(session)));

  LogLine(session, "Writing to destination file.");
  SetProgressRange(session, 1, height);
  start = ClockWholeSeconds(session);
  if (!writing) return FailWriting(session);
  for (std::uint32_t y = 1; y <= height; ++y) SetProgressPosition(session, y);
  context.OutputFile.Close();
  LogLine(session,
          ElapsedLine("Assembling and writing file in", start, ClockWholeSeconds(session)));
  LogLine(session, "Closed destination file " + context.OutputFileName);
  return true;
}

}  // namespace lumivane
