#include "steps/imagejob.h"

#include <algorithm>
#include <bit>
#include <memory>
#include <vector>

#include "formats/bytesource.h"
#include "formats/exrrows.h"
#include "formats/imagerows.h"
#include "formats/pfmrows.h"
#include "formats/tiffrows.h"
#include "imaging/blockwriter.h"
#include "imaging/previewsampler.h"
#include "steps/rowjobs.h"
#include "imaging/fastpaths.h"
#include "steps/floatjob.h"
#include "io/parallel.h"
#include "imaging/statistics.h"
#include "steps/filedialogs.h"
#include "steps/session.h"
#include "steps/statuslog.h"

namespace lumivane {

namespace {

// Rows travel as floats in this machine's order; the float kernels read them
// as stored pixels of that order.
constexpr bool kNativeIntel = std::endian::native == std::endian::little;
constexpr std::size_t kBlockBytes = std::size_t{4} << 20;

enum class LibraryFormat { Exr, Tiff, Pfm };

bool ReadImageHeader(Session& session, LibraryFormat format) {
  JobContext& context = session.Context;
  const std::int32_t start = ClockWholeSeconds(session);
  if (!OpenImageDialog(session)) {
    context.FailureMessage = "Cannot open " + context.InputFileName;
    LogLine(session, context.FailureMessage);
    return false;
  }
  auto bytes = std::make_unique<FileBytes>(context.InputFile);
  const ReadLimits& limits = session.Settings.Limits;
  std::string error;
  std::unique_ptr<ImageRowSource> rows;
  switch (format) {
    case LibraryFormat::Exr:
      rows = OpenExrRows(std::move(bytes), WorkerThreadCount(), limits, error);
      break;
    case LibraryFormat::Tiff:
      rows = OpenTiffRows(std::move(bytes), WorkerThreadCount(), limits, error);
      break;
    case LibraryFormat::Pfm:
      rows = OpenPfmRows(std::move(bytes), limits, error);
      break;
  }
  if (!rows) {
    context.FailureMessage = "Cannot read " + context.InputFileName + ": " + error;
    LogLine(session, context.FailureMessage);
    return CloseInputFile(session);
  }
  const ImageDescription& description = rows->Description();
  for (const std::string& line : description.HeaderLines) LogLine(session, line);
  context.ImageWidth = description.Width;
  context.ImageHeight = description.Height;
  context.SourceIntelOrder = kNativeIntel;
  context.InputRowsBottomUp = false;
  LogLine(session, ElapsedLine("Analysed " + description.FormatName + " header in", start,
                               ClockWholeSeconds(session)));
  LogLine(session,
          "Ready to read " + description.FormatName + " data from " + context.InputFileName);
  context.InputRows = std::move(rows);
  return true;
}

bool FailImageJob(Session& session, const std::string& reason) {
  session.Context.InputRows.reset();
  return AbortFloatJob(session, "Cannot read " + session.Context.InputFileName + ": " + reason);
}

}  // namespace

bool ReadExrHeader(Session& session) {
  return ReadImageHeader(session, LibraryFormat::Exr);
}
bool ReadGeneralTiffHeader(Session& session) {
  return ReadImageHeader(session, LibraryFormat::Tiff);
}
bool ReadGeneralPfmHeader(Session& session) {
  return ReadImageHeader(session, LibraryFormat::Pfm);
}

bool ToneMapImageRows(Session& session) {
  JobContext& context = session.Context;
  const std::unique_ptr<ByteRowSink> sink = std::move(context.ToneMappedRows);
  ImageRowSource& rows = *context.InputRows;
  const std::uint32_t width = context.ImageWidth;
  const std::uint32_t height = context.ImageHeight;
  const std::size_t rowFloats = std::size_t{width} * 3;
  const std::uint32_t rowsPerBlock = static_cast<std::uint32_t>(
      std::clamp<std::size_t>(kBlockBytes / (rowFloats * sizeof(float)), 1, height));
  std::vector<float> block(rowFloats * rowsPerBlock);
  const auto* blockBytes = reinterpret_cast<const std::uint8_t*>(block.data());
  std::string error;
  RowWorkers workers;

  std::int32_t start = ClockWholeSeconds(session);
  SetProgressRange(session, 1, height);
  ChannelAccumulators accumulators;
  ChannelAccumulators extremes;
  for (std::uint32_t first = 0; first < height;) {
    const std::uint32_t count = std::min(rowsPerBlock, height - first);
    if (!rows.ReadRows(block.data(), count, error)) return FailImageJob(session, error);
    // The sums on one thread and the extremes on another, each in pixel order,
    // as the float job gathers them: the same statistics to the bit.
    workers.Run(2, [&](std::size_t begin, std::size_t end) {
      for (std::size_t part = begin; part < end; ++part) {
        (part == 0 ? AccumulateFloatSums : AccumulateFloatExtremes)(
            blockBytes, std::size_t{count} * width, kNativeIntel,
            part == 0 ? accumulators : extremes);
      }
    });
    first += count;
    SetProgressPosition(session, first);
  }
  for (int c = 0; c < 3; ++c) {
    accumulators[c].Minimum = extremes[c].Minimum;
    accumulators[c].Maximum = extremes[c].Maximum;
  }
  const ImageStatistics statistics =
      ComputeImageStatistics(accumulators, width * height, session.Settings.WarmColours != 0);
  LogLine(session, ElapsedLine("Data analysed in", start, ClockWholeSeconds(session)));
  LogImageStatistics(session, statistics);

  LogLine(session, "Starting tonemapping...");
  start = ClockWholeSeconds(session);
  SetProgressRange(session, 1, height);
  if (!rows.Rewind(error)) return FailImageJob(session, error);
  const FloatToneMapper mapper(statistics, session.Settings.Brightness, session.Settings.PostGamma);
  const std::size_t outputRowBytes = std::size_t{width} * 3;
  PreviewSampler* const preview = session.Preview;
  if (preview)
    preview->Begin(width, height, OperatorWidth::Double, accumulators, width * height,
                   {session.Settings.Brightness, session.Settings.PostGamma,
                    session.Settings.WarmColours != 0});
  {
    BlockWriter writer(context.OutputFile, workers.Threads() > 1);
    // PNG and JPEG outputs take the same bytes through their library's sink.
    writer.SendTo(sink.get(), outputRowBytes);
    for (std::uint32_t first = 0; first < height;) {
      const std::uint32_t count = std::min(rowsPerBlock, height - first);
      if (!rows.ReadRows(block.data(), count, error)) {
        writer.Finish();
        return FailImageJob(session, error);
      }
      std::uint8_t* const out = writer.Next(outputRowBytes * count);
      workers.Run(count, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i)
          mapper.Map(blockBytes + i * rowFloats * sizeof(float), width, kNativeIntel,
                     out + outputRowBytes * i);
      });
      if (preview)
        for (std::uint32_t i = 0; i < count; ++i)
          preview->TakeFloatRow(first + i, blockBytes + i * rowFloats * sizeof(float), kNativeIntel);
      // The block before is written by now, or the job fails.
      if (!writer.Finish()) {
        context.InputRows.reset();
        return AbortFloatJob(session, WriteFailureMessage(session));
      }
      writer.Start(outputRowBytes * count);
      first += count;
      SetProgressPosition(session, first);
    }
    if (!writer.Finish() || !FinishSink(sink.get())) {
      context.InputRows.reset();
      return AbortFloatJob(session, WriteFailureMessage(session));
    }
  }
  context.InputRows.reset();
  context.InputFile.Close();
  if (!context.OutputFile.Commit()) return AbortFloatJob(session, WriteFailureMessage(session));
  if (preview) preview->Finish(context.OutputFileName);
  LogLine(session, ElapsedLine("Tonemapped in", start, ClockWholeSeconds(session)));
  LogLine(session, "Closed Source file " + context.InputFileName);
  LogLine(session, "Closed destination file " + context.OutputFileName);
  return true;
}

}  // namespace lumivane
