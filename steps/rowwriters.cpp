#include "steps/rowwriters.h"

#include "steps/filedialogs.h"
#include "steps/floatrows.h"
#include "steps/statuslog.h"

namespace lumivane {

namespace {

bool KeepsAlpha(const JobContext& context) {
  return context.OutputKeepsAlpha && context.InputRows && context.InputRows->ReadsAlpha();
}

bool SaveDialogFor(Session& session, const FormatRow& output) {
  // The classic float files keep the menu's own dialogs.
  if (output.Id == FormatId::Tiff) return SaveTiffDialog(session);
  if (output.Id == FormatId::Pfm) return SavePfmDialog(session);
  return SaveImageDialog(session, output.ShortName, output.Extensions);
}

// Opens the sink behind the header; false with `error` set when it fails.
bool OpenSink(JobContext& context, const FormatRow& output, bool toneMapped, SinkOptions options,
              std::string& error) {
  // What the input said of itself, for the outputs that keep it; the
  // classic readers' inputs say nothing beyond their pixels.
  if (context.InputRows) options.Metadata = context.InputRows->Description().Metadata;
  options.Alpha = KeepsAlpha(context);
  BinaryFile& file = context.OutputFile;
  const std::uint32_t width = context.ImageWidth, height = context.ImageHeight;
  if (toneMapped && options.Depth == 16 && output.WordSink) {
    context.ToneMappedWords = output.WordSink(file, width, height, options, error);
    return context.ToneMappedWords != nullptr;
  }
  if (toneMapped) {
    context.ToneMappedRows = output.ByteSink(file, width, height, options, error);
    return context.ToneMappedRows != nullptr;
  }
  context.ConvertedRows = output.FloatSink(file, width, height, options, error);
  return context.ConvertedRows != nullptr;
}

}  // namespace

JobStep KeepingAlphaOr(JobStep withAlpha, JobStep without) {
  return [withAlpha = std::move(withAlpha), without = std::move(without)](Session& session) {
    return KeepsAlpha(session.Context) ? withAlpha(session) : without(session);
  };
}

bool FinishSink(ByteRowSink* sink) {
  std::string error;
  return !sink || sink->Finish(error);
}

JobStep RowOutputWriter(const FormatRow& output, bool toneMapped, const SinkOptions& options) {
  return [&output, toneMapped, options](Session& session) {
    JobContext& context = session.Context;
    if (!SaveDialogFor(session, output)) {
      context.FailureMessage = "Cannot open " + context.OutputFileName;
      return CloseInputFile(session);
    }
    const std::int32_t start = ClockWholeSeconds(session);
    LogLine(session, "Output file opened:");
    LogLine(session, context.OutputFileName);
    LogLine(session, std::string("Creating ") + output.ShortName + " file.");
    std::string error;
    if (!OpenSink(context, output, toneMapped, options, error))
      return AbortFloatJob(session, "Cannot write " + context.OutputFileName + ": " + error);
    LogLine(session, "Header written to file " + context.OutputFileName);
    LogLine(session, ElapsedLine("Time used:", start, ClockWholeSeconds(session)));
    return true;
  };
}

}  // namespace lumivane
