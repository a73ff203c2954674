#include "steps/rowwriters.h"

#include "formats/pngwriter.h"
#include "formats/rgbewriter.h"
#include "steps/filedialogs.h"
#include "steps/floatrows.h"
#include "steps/floatsinks.h"
#include "steps/statuslog.h"

namespace lumivane {

namespace {

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

}  // namespace lumivane
