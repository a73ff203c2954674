#include "imaging/convertjobs.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "formats/rgbe.h"
#include "imaging/fastpaths.h"
#include "imaging/floatjob.h"
#include "imaging/parallel.h"
#include "shell/session.h"
#include "shell/statuslog.h"

namespace lumivane {

namespace {

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

}  // namespace

bool ConvertHdrImage(Session& session) {
  JobContext& context = session.Context;
  const bool bottomUp = TakeOutputRowsBottomUp(context);
  const std::uint32_t width = context.ImageWidth;
  const std::uint32_t height = context.ImageHeight;
  if (!FloatImageBytes(width, height)) return AbortFloatJob(session, SizeMessage(session));

  RgbeImage image;
  if (!LoadRgbeImage(session, image)) return false;

  // Rows are converted on all cores into blocks of about 4 MB, each written at once.
  const std::size_t rowBytes = std::size_t{width} * 12;
  const auto rowsPerBlock = static_cast<std::uint32_t>(
      std::clamp<std::size_t>(FloatRowReader::kBlockBytes / rowBytes, 1, height));
  std::vector<std::uint8_t> block(rowBytes * rowsPerBlock);
  RowWorkers workers;
  LogLine(session, "Converting RGBE to floats");
  SetProgressRange(session, 1, height);
  const std::int32_t start = ClockWholeSeconds(session);
  for (std::uint32_t done = 0; done < height;) {
    const std::uint32_t count = std::min(rowsPerBlock, height - done);
    workers.Run(count, [&](std::size_t begin, std::size_t end) {
      for (std::size_t i = begin; i < end; ++i) {
        const std::uint32_t written = done + static_cast<std::uint32_t>(i) + 1;
        // A PFM gets its bottom row first.
        const std::uint32_t stored = bottomUp ? height - written : written - 1;
        const std::size_t first = std::size_t{stored} * width;
        RgbePixelsToFloats(&image.R[first], &image.G[first], &image.B[first], &image.E[first],
                           width, block.data() + rowBytes * i);
      }
    });
    for (std::uint32_t y = done + 1; y < done + count; ++y) SetProgressPosition(session, y);
    if (!context.OutputFile.Write(block.data(), rowBytes * count))
      return AbortFloatJob(session, WriteFailureMessage(session));
    done += count;
    SetProgressPosition(session, done);
  }
  image = RgbeImage();
  context.OutputFile.Close();
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
    FloatRowReader rows(context.InputFile, dataStart, rowBytes, height,
                        context.InputRowsBottomUp != outputBottomUp);
    // A block's rows are gathered in output order, byte-swapped on all cores
    // when needed, and written at once.
    const std::uint32_t rowsPerBlock = rows.RowsPerBlock();
    std::vector<std::uint8_t> block(rowBytes * rowsPerBlock);
    RowWorkers workers;
    while (rows.RowsRead() < height) {
      const std::uint32_t first = rows.RowsRead();
      std::uint32_t count = 0;
      while (count < rowsPerBlock && rows.RowsRead() < height) {
        const std::uint8_t* stored = rows.NextRow();
        if (!stored) break;
        std::copy(stored, stored + rowBytes, block.data() + rowBytes * count++);
      }
      if (!context.SourceIntelOrder) {
        workers.Run(count, [&](std::size_t begin, std::size_t end) {
          SwapBytes4(block.data() + rowBytes * begin, (end - begin) * rowBytes / 4);
        });
      }
      if (!FinishRowBlock(session, rows, first, count, block.data(), rowBytes * count))
        return false;
    }
  }
  context.InputFile.Close();
  context.OutputFile.Close();
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
