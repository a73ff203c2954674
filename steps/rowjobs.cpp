#include "steps/rowjobs.h"

#include <algorithm>
#include <vector>

#include "formats/classicsource.h"
#include "steps/floatsinks.h"
#include "formats/pngwriter.h"
#include "formats/rgbewriter.h"
#include "steps/convertjobs.h"
#include "steps/floatjob.h"
#include "steps/filedialogs.h"
#include "steps/rgbeblocks.h"
#include "steps/statuslog.h"

namespace lumivane {

namespace {

// Rows converted at a time: about a megabyte of floats.
constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

bool SaveDialogFor(Session& session, RowOutput output) {
  switch (output) {
    case RowOutput::Png:
      return SaveImageDialog(session, "PNG", {"png"});
    case RowOutput::Jpeg:
      return SaveImageDialog(session, "JPEG", {"jpg", "jpeg"});
    case RowOutput::Tiff96:
      return SaveTiffDialog(session);
    case RowOutput::Pfm:
      return SavePfmDialog(session);
    case RowOutput::Radiance:
      return SaveImageDialog(session, "HDR", {"hdr"});
    case RowOutput::Exr:
      return SaveImageDialog(session, "EXR", {"exr"});
  }
  return false;
}

// Opens the sink behind the header; false with `error` set when it fails.
bool OpenSink(JobContext& context, RowOutput output, const RowOutputOptions& options,
              std::string& error) {
  BinaryFile& file = context.OutputFile;
  const std::uint32_t width = context.ImageWidth, height = context.ImageHeight;
  switch (output) {
    case RowOutput::Png:
      context.ToneMappedRows = OpenPngSink(file, width, height, error);
      return context.ToneMappedRows != nullptr;
    case RowOutput::Jpeg:
      context.ToneMappedRows = OpenJpegSink(file, width, height, options.JpegQuality, error);
      return context.ToneMappedRows != nullptr;
    case RowOutput::Tiff96:
      context.ConvertedRows = OpenTiff96Sink(file, width, height, error);
      break;
    case RowOutput::Pfm:
      context.ConvertedRows = OpenPfmSink(file, width, height, error);
      break;
    case RowOutput::Radiance:
      context.ConvertedRows = OpenRadianceSink(file, width, height, error);
      break;
    case RowOutput::Exr:
      context.ConvertedRows = OpenExrSink(file, width, height, options.Exr, error);
      break;
  }
  return context.ConvertedRows != nullptr;
}

}  // namespace

const char* RowOutputName(RowOutput output) {
  switch (output) {
    case RowOutput::Png:
      return "PNG";
    case RowOutput::Jpeg:
      return "JPEG";
    case RowOutput::Tiff96:
      return "TIFF";
    case RowOutput::Pfm:
      return "PFM";
    case RowOutput::Radiance:
      return "HDR";
    case RowOutput::Exr:
      return "EXR";
  }
  return "";
}

const char* ClassicInputName(ClassicInput input) {
  switch (input) {
    case ClassicInput::Radiance:
      return "HDR";
    case ClassicInput::Tiff:
      return "TIFF";
    case ClassicInput::Pfm:
      return "PFM";
  }
  return "";
}

bool TakesToneMappedRows(RowOutput output) {
  return output == RowOutput::Png || output == RowOutput::Jpeg;
}

bool FinishSink(ByteRowSink* sink) {
  std::string error;
  return !sink || sink->Finish(error);
}

JobStep RowOutputWriter(RowOutput output, const RowOutputOptions& options) {
  return [output, options](Session& session) {
    JobContext& context = session.Context;
    if (!SaveDialogFor(session, output)) {
      context.FailureMessage = "Cannot open " + context.OutputFileName;
      return CloseInputFile(session);
    }
    const std::int32_t start = ClockWholeSeconds(session);
    LogLine(session, "Output file opened:");
    LogLine(session, context.OutputFileName);
    LogLine(session, std::string("Creating ") + RowOutputName(output) + " file.");
    std::string error;
    if (!OpenSink(context, output, options, error))
      return AbortFloatJob(session, "Cannot write " + context.OutputFileName + ": " + error);
    LogLine(session, "Header written to file " + context.OutputFileName);
    LogLine(session, ElapsedLine("Time used:", start, ClockWholeSeconds(session)));
    return true;
  };
}

JobStep ConvertRowsJob(ClassicInput input) {
  return [input](Session& session) {
    JobContext& context = session.Context;
    // The library readers fail their jobs with their own reason in words.
    const auto failRead = [&](const std::string& error) {
      context.InputRows.reset();
      return AbortFloatJob(session, "Cannot read " + context.InputFileName + ": " + error);
    };
    const std::unique_ptr<FloatRowSink> sink = std::move(context.ConvertedRows);
    const std::uint32_t width = context.ImageWidth, height = context.ImageHeight;
    if (!sink || !FloatImageBytes(width, height))
      return AbortFloatJob(session, "Cannot convert " + context.InputFileName +
                                        ": width or height 0, or more than 4 GiB of pixels");
    ClassicLayout layout;
    layout.FormatName = ClassicInputName(input);
    layout.Radiance = input == ClassicInput::Radiance;
    layout.Width = width;
    layout.Height = height;
    layout.DataStart = context.InputFile.Position();
    layout.IntelOrder = context.SourceIntelOrder;
    layout.BottomUp = context.InputRowsBottomUp;
    // A library reader has its rows ready already; the classic readers leave
    // only the file positioned at the first pixel.
    std::shared_ptr<ImageRowSource> source = context.InputRows;
    if (!source) source = OpenClassicSource(context.InputFile, layout);

    const std::uint32_t rowsPerBlock = static_cast<std::uint32_t>(
        std::clamp<std::size_t>(kBlockBytes / (std::size_t{width} * 12), 1, height));
    std::vector<float> rows(std::size_t{width} * 3 * rowsPerBlock);
    const std::int32_t start = ClockWholeSeconds(session);
    SetProgressRange(session, 1, height);
    std::string error;
    for (std::uint32_t first = 0; first < height; first += rowsPerBlock) {
      const std::uint32_t count = std::min(rowsPerBlock, height - first);
      if (!source->ReadRows(rows.data(), count, error)) return failRead(error);
      if (!sink->WriteRows(rows.data(), count, error))
        return AbortFloatJob(session, "Cannot write " + context.OutputFileName + ": " + error);
      for (std::uint32_t y = first + 1; y <= first + count; ++y) SetProgressPosition(session, y);
    }
    if (!sink->Finish(error))
      return AbortFloatJob(session, "Cannot write " + context.OutputFileName + ": " + error);
    if (source->CompleteRows() < height)
      LogLine(session, PixelDataEndEarlyLine(source->CompleteRows(), height));
    context.InputRows.reset();
    context.InputFile.Close();
    if (!context.OutputFile.Commit())
      return AbortFloatJob(session, WriteFailureMessage(session));
    return FinishConversion(session, start);
  };
}

}  // namespace lumivane
