#include "steps/libraryreaders.h"

#include <bit>
#include <memory>

#include "formats/bytesource.h"
#include "formats/exrrows.h"
#include "formats/imagerows.h"
#include "formats/pfmrows.h"
#include "formats/tiffrows.h"
#include "io/parallel.h"
#include "steps/filedialogs.h"
#include "steps/session.h"
#include "steps/statuslog.h"

namespace lumivane {

namespace {

// Rows travel as floats in this machine's order; the float kernels read them
// as stored pixels of that order.
constexpr bool kNativeIntel = std::endian::native == std::endian::little;

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
  // Alpha goes beside the rows only to an output that keeps it.
  if (description.Metadata.HasAlpha)
    LogLine(session, context.OutputKeepsAlpha && rows->ReadsAlpha()
                         ? "Alpha channel kept"
                         : "Alpha channel dropped: the output holds RGB only");
  context.ImageWidth = description.Width;
  context.ImageHeight = description.Height;
  context.SourceIntelOrder = kNativeIntel;
  context.InputRowsBottomUp = false;
  LogLine(session, ElapsedLine("Analysed " + description.FormatName + " header in", start,
                               ClockWholeSeconds(session)));
  LogLine(session,
          "Ready to read " + description.FormatName + " data from " + context.InputFileName);
  context.InputRows = std::move(rows);
  context.Layout = InputLayout::Rows;
  return true;
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

}  // namespace lumivane
