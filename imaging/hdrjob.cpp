#include "imaging/hdrjob.h"

#include <algorithm>
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

// Rows are gathered into blocks of about this size before they are written.
constexpr std::size_t kWriteBlockBytes = std::size_t{4} << 20;

// Pixels handed to the worker threads at a time; progress follows each wave.
constexpr std::size_t kPixelsPerWave = std::size_t{1} << 20;

ImageStatistics GatherStatistics(Session& session, const RgbeImage& image, RowWorkers& workers) {
  const std::uint32_t width = image.Width;
  const std::uint32_t height = image.Height;
  LogLine(session, "Converting RGBE to float to find extreme values");
  SetProgressRange(session, 1, height);
  const std::int32_t start = ClockWholeSeconds(session);
  // The sums stay one sequential chain per channel; the extremes, which do
  // not depend on the order, are found beside them.
  ChannelAccumulators channels, extremes;
  const std::uint32_t rowsPerWave = RowsPerWave(width, 4 * kPixelsPerWave);
  for (std::uint32_t first = 0; first < height;) {
    const std::uint32_t last = first + std::min(rowsPerWave, height - first);
    const std::size_t from = std::size_t{width} * first;
    const std::size_t pixels = std::size_t{width} * (last - first);
    workers.Run(2, [&](std::size_t begin, std::size_t end) {
      for (std::size_t part = begin; part < end; ++part) {
        (part == 0 ? AccumulateRgbeSums : AccumulateRgbeExtremes)(
            &image.R[from], &image.G[from], &image.B[from], &image.E[from], pixels,
            part == 0 ? channels : extremes);
      }
    });
    for (std::uint32_t y = first; y < last; ++y) SetProgressPosition(session, y + 1);
    first = last;
  }
  for (int c = 0; c < 3; ++c) {
    channels[c].Minimum = extremes[c].Minimum;
    channels[c].Maximum = extremes[c].Maximum;
  }
  const ImageStatistics statistics =
      ComputeImageStatistics(channels, width * height, session.Settings.WarmColours != 0);
  const std::int32_t end = ClockWholeSeconds(session);
  LogImageStatistics(session, statistics);
  LogLine(session, ElapsedLine("Established min and max values in image in", start, end));
  return statistics;
}

void ToneMapImage(Session& session, RgbeImage& image, const ImageStatistics& statistics,
                  RowWorkers& workers) {
  const std::uint32_t width = image.Width;
  const std::uint32_t height = image.Height;
  LogLine(session, "Starting tonemapping...");
  LogLine(session, "Decoding RGBE and converting to integer values");
  SetProgressRange(session, 1, height);
  const std::int32_t start = ClockWholeSeconds(session);
  // The output byte depends only on the channel, mantissa and exponent.
  const RgbeToneTables tables = BuildRgbeToneTables(statistics, session.Settings.Brightness,
                                                    session.Settings.PostGamma, workers);
  ForEachRowWave(
      workers, height, RowsPerWave(width, kPixelsPerWave),
      [&](std::size_t begin, std::size_t end) {
        const std::size_t from = std::size_t{width} * begin;
        ToneMapRgbePixels(&image.R[from], &image.G[from], &image.B[from], &image.E[from],
                          std::size_t{width} * (end - begin), tables);
      },
      [&](std::uint32_t begin, std::uint32_t end) {
        for (std::uint32_t y = begin; y < end; ++y) SetProgressPosition(session, y + 1);
      });
  const std::int32_t end = ClockWholeSeconds(session);
  LogLine(session, ElapsedLine("Tonemapping in", start, end));
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

bool WriteImage(Session& session, const RgbeImage& image, RowWorkers& workers) {
  JobContext& context = session.Context;
  const std::uint32_t width = image.Width;
  const std::uint32_t height = image.Height;
  LogLine(session, "Writing to destination file.");
  SetProgressRange(session, 1, height);
  const std::int32_t start = ClockWholeSeconds(session);

  const std::size_t rowBytes = std::size_t{width} * 3;
  const std::size_t rowsPerBlock = std::max<std::size_t>(1, kWriteBlockBytes / rowBytes);
  // A block is assembled while the one before it is being written.
  BlockWriter writer(context.OutputFile, workers.Threads() > 1);
  for (std::uint32_t first = 0; first < height;) {
    const auto rows =
        static_cast<std::uint32_t>(std::min<std::size_t>(rowsPerBlock, height - first));
    std::uint8_t* const out = writer.Next(rowBytes * rows);
    workers.Run(rows, [&](std::size_t begin, std::size_t end) {
      const std::size_t from = std::size_t{width} * (first + begin);
      InterleaveRgb(&image.R[from], &image.G[from], &image.B[from],
                    std::size_t{width} * (end - begin), out + rowBytes * begin);
    });
    // Each row's position is set once it is in a block; a block's last one
    // once the block is written.
    if (!writer.Finish()) return FailWriting(session);
    if (first > 0) SetProgressPosition(session, first);
    for (std::uint32_t y = first; y + 1 < first + rows; ++y) SetProgressPosition(session, y + 1);
    writer.Start(rowBytes * rows);
    first += rows;
  }
  if (!writer.Finish()) return FailWriting(session);
  SetProgressPosition(session, height);

  context.OutputFile.Close();
  const std::int32_t end = ClockWholeSeconds(session);
  LogLine(session, ElapsedLine("Assembling and writing file in", start, end));
  LogLine(session, "Closed destination file " + context.OutputFileName);
  return true;
}

}  // namespace

bool ToneMapHdrImage(Session& session) {
  RgbeImage image;
  if (!LoadRgbeImage(session, image)) return false;
  RowWorkers workers;
  const ImageStatistics statistics = GatherStatistics(session, image, workers);
  ToneMapImage(session, image, statistics, workers);
  return WriteImage(session, image, workers);
}

}  // namespace lumivane
